#!/usr/bin/env bash
# The show's real window on a private Xvfb: its title, class name, position
# and size, and the three ways a user ends the show early (any key, Escape,
# a close request), each with exit status 0.
#
# usage: window_test.sh properties|key|escape|close SHOW-BINARY [SEND-CLOSE]
# Runs in the build folder, where tavara/ is. Exit 77 = skipped.
set -u

MODE="$1"
SHOW="$2"
SEND_CLOSE="${3:-}"
TITLE="Varjoinen Tuhkalademo by Rautakivi (Smog in 9kb)"
CLASS="Tuhkala Rautakivi"

for tool in Xvfb xdotool xprop; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
if [ "$MODE" = close ] && [ -z "$SEND_CLOSE" ]; then
    echo "SKIP: no X11 client library to send the close request"
    exit 77
fi

WORK="$(mktemp -d)"
XVFB_PID=""
SHOW_PID=""
cleanup() {
    if [ -n "$SHOW_PID" ] && kill -0 "$SHOW_PID" 2>/dev/null; then
        kill "$SHOW_PID" 2>/dev/null
        wait "$SHOW_PID" 2>/dev/null
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    if [ -s "$WORK/show.err" ]; then
        echo "--- the show's standard error:"
        cat "$WORK/show.err"
    fi
    exit 1
}

# A display of our own: key presses must not reach anyone else's session.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
done
[ -s "$WORK/display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
export DISPLAY=":$(head -n1 "$WORK/display")"
unset WAYLAND_DISPLAY
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"

"$SHOW" >"$WORK/show.out" 2>"$WORK/show.err" &
SHOW_PID=$!

# The window, found by its class name once it is mapped.
WID=""
for _ in $(seq 300); do
    WID="$(xdotool search --onlyvisible --classname "^${CLASS}\$" 2>/dev/null | head -n1)"
    [ -n "$WID" ] && break
    kill -0 "$SHOW_PID" 2>/dev/null || break
    sleep 0.1
done
[ -n "$WID" ] || fail "no visible window with class name \"$CLASS\""

# Start-up (media loading) ends before the frame loop reads the keyboard;
# give it time so the one-second limit below measures the loop's reaction.
sleep 2
kill -0 "$SHOW_PID" 2>/dev/null || fail "the show ended by itself during start-up"

# Waits up to $1 tenths of a second for the show to end; sets STATUS.
wait_for_exit() {
    local i
    for i in $(seq "$1"); do
        if ! kill -0 "$SHOW_PID" 2>/dev/null; then
            wait "$SHOW_PID"
            STATUS=$?
            SHOW_PID=""
            return 0
        fi
        sleep 0.1
    done
    return 1
}

case "$MODE" in
properties)
    props="$(xprop -id "$WID" WM_CLASS WM_NAME _NET_WM_NAME)"
    echo "$props"
    grep -qxF "WM_CLASS(STRING) = \"$CLASS\", \"$CLASS\"" <<<"$props" ||
        fail "WM_CLASS is not \"$CLASS\""
    grep -qF "WM_NAME(STRING) = \"$TITLE\"" <<<"$props" ||
        grep -qF "WM_NAME(UTF8_STRING) = \"$TITLE\"" <<<"$props" ||
        fail "WM_NAME is not the title"
    grep -qF "_NET_WM_NAME(UTF8_STRING) = \"$TITLE\"" <<<"$props" ||
        fail "_NET_WM_NAME is not the title"
    # Without a window manager there is no frame: the client area is the
    # whole outer size, at the top left corner.
    geometry="$(xdotool getwindowgeometry "$WID")"
    echo "$geometry"
    grep -q "Position: 0,0" <<<"$geometry" || fail "the window is not at (0, 0)"
    grep -q "Geometry: 640x480" <<<"$geometry" || fail "the window is not 640x480"
    # Still running: the show goes on until something ends it.
    kill -0 "$SHOW_PID" 2>/dev/null || fail "the show ended on its own"
    exit 0
    ;;
key)
    xdotool windowfocus --sync "$WID"
    xdotool key --clearmodifiers a
    ;;
escape)
    xdotool windowfocus --sync "$WID"
    xdotool keydown Escape
    ;;
close)
    "$SEND_CLOSE" "$WID" || fail "the close request could not be sent"
    ;;
*)
    echo "unknown mode $MODE"
    exit 2
    ;;
esac

STATUS=""
wait_for_exit 10 || fail "the show was still running a second after the $MODE"
[ "$MODE" = escape ] && xdotool keyup Escape
[ "$STATUS" -eq 0 ] || fail "exit status $STATUS after the $MODE, not 0"
echo "ended with status 0 after the $MODE"
