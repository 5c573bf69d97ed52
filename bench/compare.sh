#!/usr/bin/env bash
# bench/compare.sh BASE [HEAD]: the frame benchmark of two commits side by
# side on this machine, to check a change that might cost speed before it
# lands.
#
# Each commit's tree is exported (git archive) into build-compare/ under the
# repository root (ignored by git) and its frame benchmark is built the way
# that commit builds it: a tree whose bench/ is a CMake project of its own is
# configured from bench/, a later one from the top level with
# -DTUHKALA_BENCH=ON; both RelWithDebInfo, as bench/run.sh builds them. Builds
# are kept per tree, so a second comparison only runs. The two programs then
# run interleaved, BASE HEAD BASE HEAD ..., ROUNDS times each, and the table
# gives per scene the median over the rounds of each one's per-run figure,
# their difference, the ratio of the medians (HEAD / BASE) and the spread of
# the rounds' own ratios (lowest .. highest). One run's figures are noisy on a
# shared machine; compare the medians of interleaved rounds, and read the
# spread before the ratio.
#
# BASE and HEAD are commits (HEAD defaults to HEAD); "." stands for the
# working tree's tracked files as they are now, uncommitted changes included.
#
# Environment: COMPARE_ROUNDS (runs of each program, 5), COMPARE_FRAMES
# (frames per scene in a run, 400), COMPARE_STAT (the per-run figure: mean,
# median or p99 of the frame times; mean), COMPARE_JOBS (build jobs, 2),
# COMPARE_DIR (build-compare), COMPARE_DELAY_MS (adds that many ms to each
# of HEAD's frames by delaying glFinish, which ends every frame: a known
# difference that the table must show, to check the comparison itself; 0).
#
# COMPARE_MEASURE=instructions counts instead of timing: each program runs
# once under valgrind's callgrind with llvmpipe drawing on the calling thread
# (LP_NUM_THREADS=0, shader cache off), and the figures are millions of
# instructions per frame (a frame: the scene's drawing and the swap that
# finishes it; the offline render of the music position is left out), the
# median of each scene's frames unless COMPARE_STAT says otherwise. Counts
# do not move with the machine's load, so they attribute a change on a busy
# machine; they do not see memory stalls or how the threads share the work.
# Slow: COMPARE_FRAMES is 20 by default in this mode.
set -euo pipefail

usage() {
    echo "usage: bench/compare.sh BASE [HEAD]  (commits; \".\" is the working tree)"
}
case "${1:-}" in
-h | --help)
    usage
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'
    exit 0
    ;;
"")
    echo "compare.sh: no BASE commit given; $(usage)" >&2
    exit 2
    ;;
esac
if [ $# -gt 2 ]; then
    echo "compare.sh: more than two commits given; $(usage)" >&2
    exit 2
fi

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TABLE="$ROOT_DIR/bench/compare_table.py"
COMPARE_DIR="${COMPARE_DIR:-$ROOT_DIR/build-compare}"
MEASURE="${COMPARE_MEASURE:-time}"
case "$MEASURE" in
time)
    ROUNDS="${COMPARE_ROUNDS:-5}"
    FRAMES="${COMPARE_FRAMES:-400}"
    STAT="${COMPARE_STAT:-mean}"
    UNIT=ms
    ;;
instructions)
    # A count repeats exactly: one run of each.
    ROUNDS=1
    FRAMES="${COMPARE_FRAMES:-20}"
    STAT="${COMPARE_STAT:-median}"
    UNIT=M
    ;;
*)
    echo "compare.sh: COMPARE_MEASURE is time or instructions, not \"$MEASURE\"" >&2
    exit 2
    ;;
esac
JOBS="${COMPARE_JOBS:-2}"
DELAY_MS="${COMPARE_DELAY_MS:-0}"
case "$STAT" in
mean | median | p99) ;;
*)
    echo "compare.sh: COMPARE_STAT is mean, median or p99, not \"$STAT\"" >&2
    exit 2
    ;;
esac
for number in "$ROUNDS" "$FRAMES" "$JOBS"; do
    if ! [[ "$number" =~ ^[1-9][0-9]*$ ]]; then
        echo "compare.sh: COMPARE_ROUNDS, COMPARE_FRAMES and COMPARE_JOBS are whole numbers above 0, not \"$number\"" >&2
        exit 2
    fi
done
if ! [[ "$DELAY_MS" =~ ^[0-9]+(\.[0-9]+)?$ ]]; then
    echo "compare.sh: COMPARE_DELAY_MS is a number of milliseconds, not \"$DELAY_MS\"" >&2
    exit 2
fi
if [ "$MEASURE" = instructions ] && [ "$DELAY_MS" != "0" ]; then
    echo "compare.sh: COMPARE_DELAY_MS adds wall time, which instruction counts do not see" >&2
    exit 2
fi

# The benchmarks' own packages, as bench/run.sh installs them.
# shellcheck source=scripts/packages.sh
source "$ROOT_DIR/scripts/packages.sh"
# shellcheck source=bench/frame_runs.sh
source "$ROOT_DIR/bench/frame_runs.sh"
install_missing_packages libassimp-dev libjpeg62-turbo-dev
if [ "$MEASURE" = instructions ]; then
    install_missing_packages valgrind
fi

# The commit a name stands for; "." is the working tree as a commit object
# that no branch holds (git stash create), or HEAD when nothing has changed.
resolve() {
    local rev="$1"
    if [ "$rev" = "." ]; then
        rev="$(git -C "$ROOT_DIR" stash create)"
        [ -n "$rev" ] || rev=HEAD
    fi
    if ! git -C "$ROOT_DIR" rev-parse --verify --quiet "$rev^{commit}"; then
        echo "compare.sh: \"$1\" names no commit" >&2
        exit 2
    fi
}

# Exports the commit's tree and builds its frame_bench; prints the program's
# path. Folders are named by the tree's hash, so equal trees share one build.
build_bench() {
    local commit="$1" tree src build
    tree="$(git -C "$ROOT_DIR" rev-parse "$commit^{tree}")"
    src="$COMPARE_DIR/src-${tree:0:12}"
    build="$COMPARE_DIR/build-${tree:0:12}"
    if [ ! -f "$src/.exported" ]; then
        rm -rf "$src"
        mkdir -p "$src"
        git -C "$ROOT_DIR" archive "$commit" | tar -x -C "$src"
        touch "$src/.exported"
    fi
    local project_dir="$src"
    local options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
    if grep -q '^project(' "$src/bench/CMakeLists.txt"; then
        project_dir="$src/bench"
    else
        options+=(-DTUHKALA_BENCH=ON)
    fi
    echo "building ${commit:0:12}'s frame_bench in $build" >&2
    if ! cmake -S "$project_dir" -B "$build" "${options[@]}" >"$build.log" 2>&1 ||
        ! cmake --build "$build" --parallel "$JOBS" --target frame_bench >>"$build.log" 2>&1; then
        echo "compare.sh: the build of ${commit:0:12} failed; see $build.log" >&2
        exit 1
    fi
    local program
    program="$(find "$build" -maxdepth 2 -name frame_bench -type f -perm -u+x | sed -n 1p)"
    if [ -z "$program" ] || [ ! -d "$(dirname "$program")/tavara" ]; then
        echo "compare.sh: no frame_bench beside a tavara/ in $build" >&2
        exit 1
    fi
    echo "$program"
}


mkdir -p "$COMPARE_DIR"
base_commit="$(resolve "$1")"
head_commit="$(resolve "${2:-HEAD}")"
base_program="$(build_bench "$base_commit")"
head_program="$(build_bench "$head_commit")"
preload=""
if [ "$DELAY_MS" != "0" ]; then
    # A preloaded glFinish that waits DELAY_MS after the real one.
    preload="$COMPARE_DIR/delay_finish.so"
    build_delay_library "$preload"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
results="$work/results"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"


for round in $(seq "$ROUNDS"); do
    echo "round $round of $ROUNDS: BASE, HEAD" >&2
    run_frame_bench compare.sh BASE "$round" "$base_program" "$work/BASE-$round" "" "$results"
    rm -rf "$work/BASE-$round"
    run_frame_bench compare.sh HEAD "$round" "$head_program" "$work/HEAD-$round" "$preload" "$results"
    rm -rf "$work/HEAD-$round"
done

describe() {
    git -C "$ROOT_DIR" log -1 --format='%h %s' "$1" | cut -c1-70
}
echo "Frames of every scene at 640x480"
echo "  BASE $(describe "$base_commit")"
echo "  HEAD $(describe "$head_commit")"
if [ "$MEASURE" = instructions ]; then
    echo "Millions of instructions per frame (callgrind, LP_NUM_THREADS=0), $FRAMES frames per scene; figure: the $STAT of a scene's frames"
else
    echo "$ROUNDS rounds interleaved (BASE, HEAD), $FRAMES frames per scene in a run; figure: the $STAT frame time of a run, ms"
    if [ "$DELAY_MS" != "0" ]; then
        echo "Injected: $DELAY_MS ms more in each of HEAD's frames (glFinish delayed)"
    fi
fi
echo "Machine: $(nproc) cores, load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after"
python3 "$TABLE" table "$results" "$STAT" "$UNIT"
