#!/usr/bin/env bash
# The show's real window on a private Xvfb: its title, class name, position
# and size (also inside a window manager's frame), and the three ways a user ends the show early (any key, Escape,
# a close request), each with exit status 0.
#
# usage: window_test.sh properties|framed|key|escape|close SHOW-BINARY [SEND-CLOSE]
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
if [ "$MODE" = framed ] && ! command -v openbox >/dev/null 2>&1; then
    echo "SKIP: openbox (a window manager that draws frames) is not installed"
    exit 77
fi
if [ "$MODE" = close ] && [ -z "$SEND_CLOSE" ]; then
    echo "SKIP: no X11 client library to send the close request"
    exit 77
fi

WORK="$(mktemp -d)"
XVFB_PID=""
WM_PID=""
SHOW_PID=""
cleanup() {
    if [ -n "$WM_PID" ]; then
        kill "$WM_PID" 2>/dev/null
        wait "$WM_PID" 2>/dev/null
    fi
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

if [ "$MODE" = framed ]; then
    openbox >"$WORK/wm.log" 2>&1 &
    WM_PID=$!
    # The manager is up once it has announced itself on the root window.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || fail "openbox did not start"
fi

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

# Start-up (media loading) ends before the frame loop reads the keyboard, so
# wait for its last step, the music starting (SDL's audio thread appears), so
# that the one-second limit below measures the loop's reaction alone. A player
# without that thread name still gets the time start-up normally takes.
for _ in $(seq 300); do
    grep -qs '^SDLAudio' /proc/"$SHOW_PID"/task/*/comm && break
    kill -0 "$SHOW_PID" 2>/dev/null || break
    sleep 0.1
done
sleep 0.5
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
framed)
    # The outer size, frame included, is 640x480 at (0, 0): the client area
    # is smaller by the frame and sits inside it.
    extents="$(xprop -id "$WID" _NET_FRAME_EXTENTS)"
    echo "$extents"
    read -r left right top bottom < <(sed -n 's/.* = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\1 \2 \3 \4/p' <<<"$extents")
    [ -n "${bottom:-}" ] || fail "the window manager gave no frame extents"
    [ $((left + right + top + bottom)) -gt 0 ] || fail "the window manager drew no frame"
    info="$(xwininfo -id "$WID")"
    x="$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")"
    y="$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")"
    w="$(sed -n 's/.*Width: *//p' <<<"$info")"
    h="$(sed -n 's/.*Height: *//p' <<<"$info")"
    echo "client area ${w}x${h} at ($x, $y)"
    [ $((x - left)) -eq 0 ] && [ $((y - top)) -eq 0 ] || fail "the frame is not at (0, 0)"
    [ $((w + left + right)) -eq 640 ] || fail "the outer width is $((w + left + right)), not 640"
    [ $((h + top + bottom)) -eq 480 ] || fail "the outer height is $((h + top + bottom)), not 480"
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

# A sanitizer build scans for leaks at exit, which takes longer than the
# show's own reaction; the one-second limit is for the ordinary build.
LIMIT=10
if ldd "$SHOW" 2>/dev/null | grep -q 'libasan'; then
    LIMIT=150
fi
STATUS=""
wait_for_exit "$LIMIT" || fail "the show was still running a second after the $MODE"
[ "$MODE" = escape ] && xdotool keyup Escape
[ "$STATUS" -eq 0 ] || fail "exit status $STATUS after the $MODE, not 0"
echo "ended with status 0 after the $MODE"
