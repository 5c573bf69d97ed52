#!/usr/bin/env bash
# The real show binary. Its start-up failures (no-video: no video system;
# no-gl: windows but no GL visual) print their message on standard error and
# exit 1 without anyone clicking a box. Its window on a private Xvfb has the
# title, class name, position and size (also inside a window manager's frame),
# and the three ways a user ends it early (any key, Escape held, a close
# request) each exit 0 within 5 s (the show itself would run for minutes):
# properties ends with a key, framed with Escape, resized with a close
# request. Escape is tested with key presses kept out of the show's event
# queue (TUHKALA_TEST_NO_KEY_EVENTS), so that only its held-key test can end it.
# The picture keeps its 4:3 shape where asked:
# - fullscreen: on a 1280x720 screen, --fullscreen covers it; columns 0-159
#   and 1120-1279 are black, and between them is the picture that
#   tuhkala-capture --size 960x720 --keep-aspect draws at the same instant
#   (the show runs under the capture's clock through TUHKALA_TEST_FRAME), and
#   the pointer over it is invisible;
# - resized: a --window 800x600 resized to 1000x500 draws a centred 666x500
#   picture, black beside it.
# The full-screen show ends with a key too.
#
# usage: show_test.sh MODE SHOW [SEND-CLOSE [SCREEN-CHECK CAPTURE]]
#   MODE: properties|framed|fullscreen|resized|no-video|no-gl
# no-video also runs the show with a display it cannot reach and no driver
# named, which must fail the same way rather than play unseen.
# Runs in the build folder, where tavara/ is. Exit 77 = skipped.
set -u
MODE="$1" SHOW="$2" SEND_CLOSE="${3:-}" SCREEN_CHECK="${4:-}" CAPTURE="${5:-}"
# The instant the full-screen picture is compared at: "toka efu", the lit ball
# in front of the background, at 1 frame a second (22 passes: each is drawn
# at 1280x720 by a software renderer).
TEST_MS=21000 TEST_FPS=1
TITLE="Varjoinen Tuhkalademo by Rautakivi (Smog in 9kb)"
CLASS="Tuhkala Rautakivi"
WORK="$(mktemp -d)" XVFB_PID="" WM_PID="" SHOW_PID="" CAPTURE_PID=""
cleanup() {
    for pid in $CAPTURE_PID $SHOW_PID $WM_PID $XVFB_PID; do
        kill "$pid" 2>/dev/null
        # A show stuck in its GL teardown does not end on request: after 2 s
        # it is killed, so a failure never turns into a hang.
        for _ in $(seq 20); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    [ -s "$WORK/show.err" ] && echo "--- the show's standard error:" && cat "$WORK/show.err"
    exit 1
}
skip() {
    echo "SKIP: $*"
    exit 77
}
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
unset WAYLAND_DISPLAY

case "$MODE" in no-*)
    # No display, so the message goes only to standard error. SDL's dummy
    # video driver makes windows but has no OpenGL.
    unset DISPLAY
    if [ "$MODE" = no-video ]; then
        export SDL_VIDEODRIVER=no-such-driver
        MESSAGE="Window Creation Error: The window class could not be registered!"
    else
        export SDL_VIDEODRIVER=dummy
        MESSAGE="OpenGL application error: Failed to find acceptable pixel format."
    fi
    # Each line: how the show is started ("env" adds nothing).
    STARTS="env"
    # A display that cannot be reached, no driver named: SDL would fall back
    # to windows nobody sees, and the show would play unseen.
    [ "$MODE" = no-video ] && STARTS="$STARTS
env SDL_VIDEODRIVER= DISPLAY=:65000"
    while read -r -a start; do
        timeout 60 "${start[@]}" "$SHOW" >/dev/null 2>"$WORK/show.err"
        STATUS=$?
        [ "$STATUS" -eq 1 ] || fail "${start[*]}: exit status $STATUS, not 1"
        grep -qxF "$MESSAGE" "$WORK/show.err" || fail "${start[*]}: standard error lacks \"$MESSAGE\""
    done <<<"$STARTS"
    echo "failed as expected with status 1"
    exit 0
    ;;
esac

for tool in Xvfb xdotool xprop; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ "$MODE" = framed ] && ! command -v openbox >/dev/null 2>&1 && skip "openbox is not installed"
case "$MODE" in fullscreen | resized)
    [ -n "$SCREEN_CHECK" ] && [ -n "$SEND_CLOSE" ] || skip "no X11 library to read the screen back" ;;
esac

# Waits up to $2 tenths of a second for the command $1 to succeed.
poll() {
    for _ in $(seq "$2"); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}

# xdotool with a time limit: no call of it can hang the test.
xdo() { timeout 10 xdotool "$@"; }

# A display of our own: key presses must not reach anyone else's session.
SCREEN=1024x768
[ "$MODE" = fullscreen ] && SCREEN=1280x720
# The resized window stays centred where the 800x600 one was: it must fit.
[ "$MODE" = resized ] && SCREEN=1280x1024
Xvfb -displayfd 3 -screen 0 "${SCREEN}x24" -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
poll '[ -s "$WORK/display" ]' 100 || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
export DISPLAY=":$(head -n1 "$WORK/display")"
if [ "$MODE" = framed ]; then
    openbox >"$WORK/wm.log" 2>&1 &
    WM_PID=$!
    # The manager is up once it has announced itself on the root window.
    # Openbox starts in under a second here; the limit is for a loaded
    # machine, and a manager that ended stops the wait at once.
    wm_announced() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
    poll 'wm_announced || ! kill -0 "$WM_PID" 2>/dev/null' 300
    if ! wm_announced; then
        kill -0 "$WM_PID" 2>/dev/null && echo "openbox is running" || echo "openbox has ended"
        echo "--- openbox's output:" && cat "$WORK/wm.log"
        echo "--- Xvfb's output:" && cat "$WORK/xvfb.log"
        fail "openbox did not start"
    fi
fi

NO_KEYS=""
[ "$MODE" = framed ] && NO_KEYS=1
export TUHKALA_TEST_NO_KEY_EVENTS="$NO_KEYS"
case "$MODE" in
fullscreen)
    # One rendering thread each for the show and the capture beside it: two
    # cores in all, the share of one test of a suite run two at a time
    # (llvmpipe draws the same pixels on any number of threads).
    export LP_NUM_THREADS=1
    TUHKALA_TEST_FRAME="$TEST_MS@$TEST_FPS" "$SHOW" --fullscreen >"$WORK/show.out" 2>"$WORK/show.err" &
    ;;
resized) "$SHOW" --window 800x600 >"$WORK/show.out" 2>"$WORK/show.err" & ;;
*) "$SHOW" >"$WORK/show.out" 2>"$WORK/show.err" & ;;
esac
SHOW_PID=$!
alive() { kill -0 "$SHOW_PID" 2>/dev/null; }
# The window, found by its class name once it is mapped.
WID=""
find_window() {
    WID="$(xdo search --onlyvisible --classname "^${CLASS}\$" 2>/dev/null | head -n1)"
    [ -n "$WID" ] || ! alive
}
poll find_window 300
if [ -z "$WID" ]; then
    # Say what the display and the show held when the window was not found
    # (a show that could not reach its display has ended with its message).
    alive && echo "the show is alive; its threads: $(cat /proc/"$SHOW_PID"/task/*/comm 2>/dev/null |
        tr '\n' ' ')" || echo "the show has ended"
    echo "windows of that class, visible or not: $(xdo search --classname "^${CLASS}\$" 2>&1 | tr '\n' ' ')"
    xwininfo -root -tree 2>&1 | head -n 20
    fail "no visible window with class name \"$CLASS\""
fi
# The window's inside: "W H X Y", X and Y on the screen.
client_area() {
    xwininfo -id "$WID" | awk -F: '/Absolute upper-left X/ { x = $2 } /Absolute upper-left Y/ { y = $2 }
        /Width/ { w = $2 } /Height/ { h = $2 } END { print w + 0, h + 0, x + 0, y + 0 }'
}

# Start-up (media loading, placing the window in a manager's frame) ends
# before the loop reads the keyboard: wait for its last step, the music
# starting (SDL's audio thread appears), so that the limit below measures the
# loop's reaction alone. A key pressed from then on waits in the window's
# queue until the loop reads it.
# (Under the test clock the show plays no sound: it says when it holds its
# frame instead.)
if [ "$MODE" != fullscreen ]; then
    poll "grep -qs '^SDLAudio' /proc/$SHOW_PID/task/*/comm || ! alive" 300
    alive || fail "the show ended by itself during start-up"
fi

# Keys go to the window with the keyboard focus. Without a window manager
# nothing moves it once set; the focus is checked rather than waited for (a
# windowfocus --sync that never sees it would wait forever).
focus() {
    xdo windowfocus "$WID" 2>/dev/null
    poll '[ "$(xdo getwindowfocus 2>/dev/null)" = "$WID" ]' 50 ||
        fail "the window did not take the keyboard focus"
}

case "$MODE" in
fullscreen)
    # The capture draws the same instant meanwhile.
    "$CAPTURE" --quiet --size 960x720 --keep-aspect --fps "$TEST_FPS" --at "$TEST_MS" \
        -o "$WORK/capture/" >"$WORK/capture.log" 2>&1 &
    CAPTURE_PID=$!
    poll "grep -qs '^tuhkalademo: holding' '$WORK/show.out' || ! alive" 2400
    grep -s '^tuhkalademo: holding' "$WORK/show.out" ||
        fail "the show did not reach $TEST_MS ms under the test clock"
    wait "$CAPTURE_PID" || fail "the capture failed: $(cat "$WORK/capture.log")"
    CAPTURE_PID=""
    area="$(client_area)"
    echo "window inside: $area (width height x y)"
    [ "$area" = "1280 720 0 0" ] || fail "the window does not cover the 1280x720 screen"
    "$SCREEN_CHECK" --pointer-hidden "$WID" 1280 720 160 0 960 720 \
        "$WORK/capture/at-$TEST_MS.png" ||
        fail "the full-screen picture is not the capture's between black bars, or the pointer shows"
    # Any key still ends the show.
    focus && xdo key --clearmodifiers a || fail "xdotool could not press a key"
    ;;
resized)
    area="$(client_area)"
    echo "window inside: $area (width height x y)"
    [ "${area% * *}" = "800 600" ] || fail "--window 800x600 opened a window of ${area% * *}"
    xdo windowsize "$WID" 1000 500 || fail "xdotool could not resize the window"
    poll '[ "$(client_area)" != "$area" ]' 50
    area="$(client_area)"
    [ "${area% * *}" = "1000 500" ] || fail "the window was not resized to 1000x500: $area"
    # Frames drawn after the resize: the loop draws many a second, and the
    # first scene's picture fills the screen to its edges.
    if ! poll '"$SCREEN_CHECK" "$WID" 1000 500 167 0 666 500 >"$WORK/check.out"' 50; then
        alive || fail "the show ended after the resize"
        fail "the resized window does not show a centred 666x500 picture: $(cat "$WORK/check.out")"
    fi
    cat "$WORK/check.out"
    "$SEND_CLOSE" "$WID" || fail "the close request could not be sent"
    ;;
properties)
    props="$(xprop -id "$WID" WM_CLASS WM_NAME _NET_WM_NAME)"
    echo "$props"
    grep -qxF "WM_CLASS(STRING) = \"$CLASS\", \"$CLASS\"" <<<"$props" || fail "WM_CLASS is wrong"
    grep -qxF -e "WM_NAME(STRING) = \"$TITLE\"" -e "WM_NAME(UTF8_STRING) = \"$TITLE\"" <<<"$props" ||
        fail "WM_NAME is not the title"
    grep -qxF "_NET_WM_NAME(UTF8_STRING) = \"$TITLE\"" <<<"$props" || fail "_NET_WM_NAME is wrong"
    # Without a window manager there is no frame: the client area is the
    # whole outer size, at the top left corner.
    geometry="$(xdo getwindowgeometry "$WID")"
    echo "$geometry"
    grep -q "Position: 0,0" <<<"$geometry" || fail "the window is not at (0, 0)"
    grep -q "Geometry: 640x480" <<<"$geometry" || fail "the window is not 640x480"
    alive || fail "the show ended on its own"
    focus && xdo key --clearmodifiers a || fail "xdotool could not press a key"
    ;;
framed)
    # The outer size, frame included, is 640x480 at (0, 0): the client area
    # is smaller by the frame and sits inside it.
    extents="$(xprop -id "$WID" _NET_FRAME_EXTENTS)"
    echo "$extents"
    read -r l r t b < <(sed -n 's/.* = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\1 \2 \3 \4/p' <<<"$extents")
    [ -n "${b:-}" ] && [ $((l + r + t + b)) -gt 0 ] || fail "the window manager drew no frame"
    info="$(xwininfo -id "$WID")"
    field() { sed -n "s/.*$1: *//p" <<<"$info"; }
    x="$(field 'Absolute upper-left X')" y="$(field 'Absolute upper-left Y')"
    w="$(field Width)" h="$(field Height)"
    echo "client area ${w}x${h} at ($x, $y)"
    [ $((x - l)) -eq 0 ] && [ $((y - t)) -eq 0 ] || fail "the frame is not at (0, 0)"
    [ $((w + l + r)) -eq 640 ] && [ $((h + t + b)) -eq 480 ] ||
        fail "the outer size is $((w + l + r))x$((h + t + b)), not 640x480"
    # A key press is no event for the show: it plays on (a second is some
    # 30 passes of its loop on an idle machine).
    focus && xdo key a || fail "xdotool could not press a key"
    poll '! alive' 10 && fail "a key press ended the show: key events reached it"
    xdo keydown Escape || fail "xdotool could not hold Escape down"
    ;;
*) fail "unknown mode $MODE" ;;
esac

# The limit only tells "ended by the input" from "played on": a frame on a
# loaded machine's software renderer can take a second by itself. A sanitizer
# build also scans for leaks at exit, which takes longer still.
case "$MODE" in framed) ENDING="Escape held" ;; resized) ENDING="close request" ;; *) ENDING=key ;; esac
LIMIT=50
ldd "$SHOW" 2>/dev/null | grep -q libasan && LIMIT=150
poll '! alive' "$LIMIT" || fail "the show was still running $((LIMIT / 10)) s after the $ENDING"
wait "$SHOW_PID"
STATUS=$?
SHOW_PID=""
[ "$STATUS" -eq 0 ] || fail "exit status $STATUS after the $ENDING, not 0"
echo "ended with status 0 after the $ENDING"
