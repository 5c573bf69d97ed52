#!/usr/bin/env bash
# Sets up everything like run.sh, then runs every test headless: on a display
# of its own (Xvfb) when none is set, with SDL's silent audio driver unless
# another is chosen. Exits non-zero when any test fails.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# CI treats every compiler warning as an error.
if [ -n "${CI:-}" ]; then
    export TUHKALA_WERROR=ON
fi
# shellcheck source=scripts/setup.sh
source "$ROOT_DIR/scripts/setup.sh"

XVFB_PID=""
XVFB_DIR=""
stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    if [ -n "$XVFB_DIR" ]; then
        rm -rf "$XVFB_DIR"
    fi
}
trap stop_xvfb EXIT

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    XVFB_DIR="$(mktemp -d)"
    # Xvfb picks a free display number and writes it to descriptor 3.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$XVFB_DIR/display" \
        2>"$XVFB_DIR/log" &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$XVFB_DIR/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$XVFB_DIR/display" ]; then
        echo "test.sh: Xvfb did not start:" >&2
        cat "$XVFB_DIR/log" >&2
        exit 1
    fi
    export DISPLAY=":$(head -n1 "$XVFB_DIR/display")"
fi
# CI machines have no sound card.
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"

status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 || status=1

# The slow checks (sanitizers, fuzzing, memcheck) come last, on the same
# display; the script decides which stages run.
if [ -f "$ROOT_DIR/scripts/ci_extra.sh" ]; then
    BUILD_DIR="$BUILD_DIR" bash "$ROOT_DIR/scripts/ci_extra.sh" || status=1
fi
exit "$status"
