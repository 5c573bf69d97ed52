#!/usr/bin/env bash
# Capture speed as a ratio to real time: show seconds rendered per wall
# second over a fixed range (the first 10 s of the show at 640x480, 60 fps),
# once rendering and reading back only, once encoding H.264 and AAC through
# ffmpeg, once writing the PNG sequence. Wall time covers the whole program,
# start-up included. The machine may be shared: the load average is printed
# with the figures.
#
# Usage: bench/capture_speed.sh [BUILD_DIR]   (default: build/)
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${1:-$ROOT_DIR/build}"
CAPTURE="$BUILD_DIR/tuhkala-capture"
FROM_MS=0
TO_MS=10000

if [ ! -x "$CAPTURE" ]; then
    echo "capture_speed: $CAPTURE is missing; build it with: cmake --build $BUILD_DIR --target tuhkala-capture" >&2
    exit 1
fi
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# Runs one capture and prints its ratio line.
measure() {
    local label="$1"
    shift
    local start end
    start=$(date +%s.%N)
    "$CAPTURE" --quiet --from "$FROM_MS" --to "$TO_MS" "$@"
    end=$(date +%s.%N)
    awk -v label="$label" -v show="$(( (TO_MS - FROM_MS) ))" -v s="$start" -v e="$end" \
        'BEGIN { wall = e - s; printf "capture_speed %-12s %6.2f show s in %7.2f wall s = %5.2fx real time\n", label, show / 1000, wall, show / 1000 / wall }'
}

echo "capture_speed: range $FROM_MS-$TO_MS ms, 640x480, 60 fps; load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
measure render-only --render-only
if command -v ffmpeg >/dev/null 2>&1; then
    measure h264+aac -o "$WORK/show.mp4"
else
    echo "capture_speed h264+aac     skipped: ffmpeg is not installed"
fi
measure png-sequence -o "$WORK/frames/"
