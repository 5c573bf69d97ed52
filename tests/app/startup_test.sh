#!/usr/bin/env bash
# The show's start-up failures: each prints its message on standard error and
# ends with exit status 1, without needing anyone to click a message box.
#
# usage: startup_test.sh no-video|no-gl SHOW-BINARY
#   no-video: the video system cannot start at all;
#   no-gl:    windows can be made, but none with a GL visual.
set -u

MODE="$1"
SHOW="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# No display, so the message goes only to standard error.
unset DISPLAY WAYLAND_DISPLAY
export SDL_AUDIODRIVER=dummy
case "$MODE" in
no-video)
    export SDL_VIDEODRIVER=no-such-driver
    CAPTION="Window Creation Error"
    TEXT="The window class could not be registered!"
    ;;
no-gl)
    # SDL's dummy video driver makes windows but has no OpenGL.
    export SDL_VIDEODRIVER=dummy
    CAPTION="OpenGL application error"
    TEXT="Failed to find acceptable pixel format."
    ;;
*)
    echo "unknown mode $MODE"
    exit 2
    ;;
esac

timeout 60 "$SHOW" >"$WORK/out" 2>"$WORK/err"
STATUS=$?
cat "$WORK/err"
if [ "$STATUS" -ne 1 ]; then
    echo "FAIL: exit status $STATUS, not 1"
    exit 1
fi
if ! grep -qxF "$CAPTION: $TEXT" "$WORK/err"; then
    echo "FAIL: standard error lacks \"$CAPTION: $TEXT\""
    exit 1
fi
echo "failed as expected with status 1"
