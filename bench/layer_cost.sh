#!/usr/bin/env bash
# bench/layer_cost.sh [BUILD_DIR]: the browser build's GL 1.1 layer against
# the same calls made to the renderer directly, on the same renderer and
# machine. frame_bench draws the show through the system's GL (Mesa);
# frame_bench_gl11 draws the same frames through the layer, built natively
# with its entry points under a prefix, over the same Mesa. They run
# interleaved (direct, layer, direct, layer ...), and the tables give per
# scene the medians over the rounds of the median frame time and of the
# median submit time (the scene's calls until the draws are queued: where
# the layer's own work lies; the rest of a frame is the renderer drawing),
# the ratio layer / direct and the spread of the rounds' ratios.
#
# BUILD_DIR is a build of the top-level project with -DTUHKALA_BENCH=ON
# (bench/run.sh's build-bench, the default); frame_bench and
# frame_bench_gl11 are built there first.
#
# Environment: LAYER_ROUNDS (5), LAYER_FRAMES (frames per scene, 200; 20 when
# counting), LAYER_MEASURE (time, or instructions: one run of each under
# callgrind with llvmpipe drawing on the calling thread, millions of
# instructions per frame, as bench/compare.sh counts them: figures that do
# not move with the machine's load), LAYER_DELAY_MS (adds that many ms to
# each of the layer's frames by delaying glFinish, which ends every frame: a
# known difference that the frame table must show, to check the measurement
# itself; 0).
set -euo pipefail

case "${1:-}" in
-h | --help)
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'
    exit 0
    ;;
esac
if [ $# -gt 1 ]; then
    echo "layer_cost.sh: one build folder at most; usage: bench/layer_cost.sh [BUILD_DIR]" >&2
    exit 2
fi
ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$(realpath -m "${1:-$ROOT_DIR/build-bench}")"
TABLE="$ROOT_DIR/bench/compare_table.py"
# shellcheck source=bench/frame_runs.sh
source "$ROOT_DIR/bench/frame_runs.sh"
ROUNDS="${LAYER_ROUNDS:-5}"
MEASURE="${LAYER_MEASURE:-time}"
FRAMES="${LAYER_FRAMES:-200}"
DELAY_MS="${LAYER_DELAY_MS:-0}"
[ "$MEASURE" = instructions ] && FRAMES="${LAYER_FRAMES:-20}"
for number in "$ROUNDS" "$FRAMES"; do
    if ! [[ "$number" =~ ^[1-9][0-9]*$ ]]; then
        echo "layer_cost.sh: LAYER_ROUNDS and LAYER_FRAMES are whole numbers above 0, not \"$number\"" >&2
        exit 2
    fi
done
if ! [[ "$DELAY_MS" =~ ^[0-9]+(\.[0-9]+)?$ ]]; then
    echo "layer_cost.sh: LAYER_DELAY_MS is a number of milliseconds, not \"$DELAY_MS\"" >&2
    exit 2
fi
case "$MEASURE" in
time) ;;
instructions)
    # A count repeats exactly: one run of each.
    ROUNDS=1
    if [ "$DELAY_MS" != "0" ]; then
        echo "layer_cost.sh: LAYER_DELAY_MS adds wall time, which instruction counts do not see" >&2
        exit 2
    fi
    ;;
*)
    echo "layer_cost.sh: LAYER_MEASURE is time or instructions, not \"$MEASURE\"" >&2
    exit 2
    ;;
esac
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ] ||
    ! grep -q '^TUHKALA_BENCH:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
    echo "layer_cost.sh: $BUILD_DIR is no build with -DTUHKALA_BENCH=ON (bench/run.sh makes build-bench)" >&2
    exit 2
fi
cmake --build "$BUILD_DIR" --parallel 2 --target frame_bench frame_bench_gl11 >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
preload=""
if [ "$DELAY_MS" != "0" ]; then
    preload="$work/delay_finish.so"
    build_delay_library "$preload"
fi
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"

# One run of a side: its frame rows, and timing, its submit rows; the
# layer's draws a frame, per scene, from its last run.
run_one() {
    local side="$1" round="$2" program="$3" delayed=""
    [ "$side" = layer ] && delayed="$preload"
    local run="$work/$side-$round"
    run_frame_bench layer_cost.sh "$side" "$round" "$BUILD_DIR/$program" "$run" "$delayed" "$work/frames"
    if [ "$MEASURE" != instructions ]; then
        python3 "$TABLE" submits "$side" "$round" <"$run/table" >>"$work/submits"
    fi
    if [ "$side" = layer ]; then
        grep -h "draws" "$run/table" >"$work/draws" || true
    fi
}

for round in $(seq "$ROUNDS"); do
    echo "round $round of $ROUNDS: direct, layer" >&2
    run_one direct "$round" frame_bench
    run_one layer "$round" frame_bench_gl11
done

echo "The GL 1.1 layer against direct calls, 640x480, $(head -n1 "$work/direct-$ROUNDS/table" 2>/dev/null | sed 's/.*off-screen, //; s/, [0-9]* frames each//')"
echo "Machine: $(nproc) cores, load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after"
if [ "$MEASURE" = instructions ]; then
    echo "Millions of instructions per frame (callgrind, LP_NUM_THREADS=0), $FRAMES frames per scene, median of each scene's frames"
    python3 "$TABLE" table "$work/frames" median M direct layer
else
    echo "$ROUNDS rounds interleaved, $FRAMES frames per scene in a run"
    if [ "$DELAY_MS" != "0" ]; then
        echo "Injected: $DELAY_MS ms more in each of the layer's frames (glFinish delayed)"
    fi
    echo "Frame time (the median frame of a run), ms:"
    python3 "$TABLE" table "$work/frames" median ms direct layer
    echo "Submit time (the median submit of a run), ms:"
    python3 "$TABLE" table "$work/submits" median ms direct layer
fi
if [ -s "$work/draws" ]; then
    echo "The layer's draws handed to the renderer:"
    sed 's/submit.*draws/draws/' "$work/draws"
fi
