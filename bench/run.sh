#!/usr/bin/env bash
# Builds and runs the benchmarks, printing medians and ratios:
#   start-up split, per-scene frame times, the browser build's GL 1.1 layer
#   against direct calls (bench/layer_cost.sh), 3DS reader vs assimp,
#   decodeJpeg vs libjpeg-turbo, and the peak resident memory of the show and
#   of a capture. Two commits' frame times side by side: bench/compare.sh.
# Never run by the tests. Figures depend on the machine and on what else runs
# on it; compare runs on the same machine only.
#
# Environment: BENCH_BUILD_DIR (build-bench), BENCH_RUNS (start-up runs, 9),
# BENCH_FRAMES (frames per scene, 400), BENCH_SHOW_SECONDS (how long the show
# runs for its memory figure, 30; 175 for the whole show), BENCH_CAPTURE_ARGS
# (size and rate of the measured capture, "--size 640x480 --fps 5"),
# BENCH_ONLY (a subset of "startup frames layer 3ds jpeg memory").
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH_BUILD_DIR="${BENCH_BUILD_DIR:-$ROOT_DIR/build-bench}"
CORPUS_DIR="${CORPUS_DIR:-$ROOT_DIR/../shared/corpus}"
ONLY="${BENCH_ONLY:-startup frames layer 3ds jpeg memory}"

# The benchmarks' own packages (assimp is the 3DS reader compared against);
# the show itself does not need them.
BENCH_PACKAGES=(libassimp-dev libjpeg62-turbo-dev xvfb time)
# shellcheck source=scripts/packages.sh
source "$ROOT_DIR/scripts/packages.sh"
install_missing_packages "${BENCH_PACKAGES[@]}"

# The show's own build with the benchmarks added; only what they run is built.
cmake -S "$ROOT_DIR" -B "$BENCH_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUHKALA_BENCH=ON \
    >/dev/null
cmake --build "$BENCH_BUILD_DIR" --parallel "$(nproc)" --target startup_bench frame_bench \
    frame_bench_gl11 tds_bench jpeg_bench tuhkalademo tuhkala-capture >/dev/null

cd "$BENCH_BUILD_DIR"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
wants() { [[ " $ONLY " == *" $1 "* ]]; }

echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
if wants startup; then
    echo
    ./startup_bench "${BENCH_RUNS:-9}"
fi
if wants frames; then
    echo
    ./frame_bench "${BENCH_FRAMES:-400}"
fi
if wants layer; then
    echo
    "$ROOT_DIR/bench/layer_cost.sh" "$BENCH_BUILD_DIR"
fi
if wants 3ds; then
    echo
    corpus=()
    [ -d "$CORPUS_DIR/3ds" ] && corpus=("$CORPUS_DIR/3ds")
    ./tds_bench 9 "${corpus[@]}"
fi
if wants jpeg; then
    echo
    corpus=()
    [ -d "$CORPUS_DIR/jpeg" ] && corpus=("$CORPUS_DIR/jpeg")
    ./jpeg_bench 11 "${corpus[@]}"
fi

if wants memory; then
    echo
    echo "Peak resident memory"
    # The show, in its real window: on a private Xvfb unless a display is set.
    xvfb_pid=""
    if [ -z "${DISPLAY:-}" ]; then
        display_file="$(mktemp)"
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [ -s "$display_file" ] && break
            sleep 0.1
        done
        export DISPLAY=":$(head -n1 "$display_file")"
        rm -f "$display_file"
    fi
    seconds="${BENCH_SHOW_SECONDS:-30}"
    ./tuhkalademo >/dev/null 2>&1 &
    show_pid=$!
    peak=""
    for _ in $(seq $((seconds * 10))); do
        kill -0 "$show_pid" 2>/dev/null || break
        # VmHWM: the highest resident set size so far.
        now="$(awk '/^VmHWM:/ {print $2}' "/proc/$show_pid/status" 2>/dev/null || true)"
        [ -n "$now" ] && peak="$now"
        sleep 0.1
    done
    kill -INT "$show_pid" 2>/dev/null || true
    wait "$show_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    echo "  show (window, first ${seconds} s):        ${peak:-?} kB"
    # A capture of the whole show, every frame rendered and read back.
    capture_args="${BENCH_CAPTURE_ARGS:---size 640x480 --fps 5}"
    # shellcheck disable=SC2086
    /usr/bin/time -f "%M" -o capture_rss.txt ./tuhkala-capture --render-only --quiet \
        $capture_args >/dev/null
    echo "  capture (whole show, $capture_args):  $(tail -n1 capture_rss.txt) kB"
    rm -f capture_rss.txt
fi
