#!/usr/bin/env bash
# The sync meter: plays the real show on a private X display (Xvfb) into a
# private PulseAudio server with a null sink, records when each picture
# reached the screen and when each sample was played by the sink
# (tuhkala-sync-record), and prints the offset picture - sound of every
# event of the show tied to an order or a row (tuhkala-sync-meter). Never
# run by the tests; the figures depend on the machine and on its load, which
# is printed with them.
#
#   bench/sync_meter.sh                 one run of the show, nothing injected
#   bench/sync_meter.sh --check         the self-check: three runs, nothing
#                                       injected, the picture delayed by 40 ms,
#                                       the sound delayed by 40 ms; passes when
#                                       the meter reads +40 and -40 within 3 ms
#   bench/sync_meter.sh --browser       the browser page in Chromium, full screen
#                                       on the private display, into the same
#                                       server (bench/sync_web.py)
#
# Options: --delay MS (the self-check's delay, 40), --inject MS (a run with
# TUHKALA_SYNC_DELAY_MS=MS), --seconds S (end the show after S seconds;
# 130 still holds every letter), --events (list every letter), --keep DIR
# (keep the recordings there, in run-1/, or base/ plus/ minus/, or browser/;
# re-analyse one with `build/tuhkala-sync-meter --data build DIR/run-1`).
# Environment: SYNC_BUILD_DIR (build), SYNC_BUILD_WEB_DIR (build-web).
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${SYNC_BUILD_DIR:-$ROOT_DIR/build}"
MODE=run
DELAY=40
INJECT=0
SECONDS_LIMIT=""
EVENTS=""
KEEP=""

usage() {
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d' | sed 's/^# \{0,1\}//'
}
need_value() {
    if [ "$#" -lt 2 ] || [ -z "$2" ]; then
        echo "sync_meter.sh: $1 needs a value" >&2
        exit 2
    fi
}
while [ "$#" -gt 0 ]; do
    case "$1" in
    --help) usage; exit 0 ;;
    --check) MODE=check ;;
    --browser) MODE=browser ;;
    --delay) need_value "$@"; DELAY="$2"; shift ;;
    --inject) need_value "$@"; INJECT="$2"; shift ;;
    --seconds) need_value "$@"; SECONDS_LIMIT="$2"; shift ;;
    --events) EVENTS=--events ;;
    --keep) need_value "$@"; KEEP="$2"; shift ;;
    *) echo "sync_meter.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
if ! [[ "$DELAY" =~ ^[0-9]+$ ]] || [ "$DELAY" -lt 1 ] || [ "$DELAY" -gt 1000 ]; then
    echo "sync_meter.sh: --delay needs whole milliseconds from 1 to 1000" >&2
    exit 2
fi
if ! [[ "$INJECT" =~ ^-?[0-9]+$ ]]; then
    echo "sync_meter.sh: --inject needs whole milliseconds" >&2
    exit 2
fi
if [ -n "$SECONDS_LIMIT" ] && ! [[ "$SECONDS_LIMIT" =~ ^[0-9]+$ ]]; then
    echo "sync_meter.sh: --seconds needs whole seconds" >&2
    exit 2
fi

# The sound server, the recorder's libraries, the X server, and for the
# browser mode the browser.
PACKAGES=(pulseaudio libpulse-dev libx11-dev libxdamage-dev libxext-dev xvfb)
[ "$MODE" = browser ] && PACKAGES+=(chromium)
# shellcheck source=scripts/packages.sh
source "$ROOT_DIR/scripts/packages.sh"
install_missing_packages "${PACKAGES[@]}"

cmake -S "$ROOT_DIR" -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" --parallel 2 --target tuhkalademo tuhkala-sync-record \
    tuhkala-sync-meter media >/dev/null
if [ ! -x "$BUILD_DIR/tuhkala-sync-record" ]; then
    echo "sync_meter.sh: tuhkala-sync-record was not built (X11 DAMAGE, MIT-SHM or libpulse missing)" >&2
    exit 1
fi

WORK="$(mktemp -d)"
XVFB_PID=""
PULSE_PID=""
CHILDREN=()
cleanup() {
    local pid
    for pid in "${CHILDREN[@]}" $PULSE_PID $XVFB_PID; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

# The browser mode plays the page as ./web.sh --build-only builds it.
WEB_DIR="${SYNC_BUILD_WEB_DIR:-$ROOT_DIR/build-web}"
if [ "$MODE" = browser ]; then
    if ! BUILD_DIR="$BUILD_DIR" WEB_DIR="$WEB_DIR" "$ROOT_DIR/web.sh" --build-only \
        >"$WORK/web.log" 2>&1; then
        cat "$WORK/web.log" >&2
        exit 1
    fi
fi

# A display of its own: the first free number, no window manager, so that
# nothing but the X server stands between the show and the screen. For the
# browser it is the show's size, which Chromium's full-screen window takes.
SCREEN=1024x768x24
[ "$MODE" = browser ] && SCREEN=640x480x24
Xvfb -displayfd 3 -screen 0 "$SCREEN" -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
done
if [ ! -s "$WORK/display" ]; then
    echo "sync_meter.sh: Xvfb did not start:" >&2
    cat "$WORK/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$WORK/display")"

# A sound server of its own, as this user, with no session bus: one null
# sink at the show's rate and format, so that nothing converts the show's
# samples on their way to the sink's monitor.
mkdir -p "$WORK/pulse/home" "$WORK/pulse/run"
HOME="$WORK/pulse/home" XDG_RUNTIME_DIR="$WORK/pulse/run" PULSE_RUNTIME_PATH="$WORK/pulse/run" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --log-target="file:$WORK/pulse/log" \
    -L "module-null-sink sink_name=meter rate=44100 channels=1 format=float32le" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$WORK/pulse/socket" \
    >"$WORK/pulse/out" 2>&1 &
PULSE_PID=$!
export PULSE_SERVER="unix:$WORK/pulse/socket"
for _ in $(seq 100); do
    [ -S "$WORK/pulse/socket" ] && break
    sleep 0.1
done
if [ ! -S "$WORK/pulse/socket" ]; then
    echo "sync_meter.sh: the sound server did not start:" >&2
    cat "$WORK/pulse/out" "$WORK/pulse/log" >&2 2>/dev/null
    exit 1
fi

RUNS="${KEEP:-$WORK/runs}"
mkdir -p "$RUNS"
load() { cut -d' ' -f1-3 /proc/loadavg; }

# One run of the show with TUHKALA_SYNC_DELAY_MS=$2, recorded into $1.
record_run() {
    local out="$1" inject="$2"
    rm -rf "$out"
    mkdir -p "$out"
    # The recorder's stamps are worth more the sooner it runs after a report:
    # above the show's priority where it may be (as root).
    nice -n -5 "$BUILD_DIR/tuhkala-sync-record" --out "$out" --sink meter \
        >"$out/recorder.log" 2>&1 &
    local recorder=$!
    CHILDREN+=("$recorder")
    (cd "$BUILD_DIR" && SDL_AUDIODRIVER=pulseaudio TUHKALA_SYNC_DELAY_MS="$inject" \
        exec ./tuhkalademo) >"$out/show.log" 2>&1 &
    local show=$!
    CHILDREN+=("$show")
    if [ -n "$SECONDS_LIMIT" ]; then
        for _ in $(seq $((SECONDS_LIMIT * 10))); do
            kill -0 "$show" 2>/dev/null || break
            sleep 0.1
        done
        kill -TERM "$show" 2>/dev/null || true
    fi
    wait "$show" || true
    # The recorder ends when the show's window goes; a show that never made
    # one leaves it waiting.
    for _ in $(seq 50); do
        kill -0 "$recorder" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$recorder" 2>/dev/null || true
    if ! wait "$recorder"; then
        echo "sync_meter.sh: the recorder failed:" >&2
        cat "$out/recorder.log" "$out/show.log" >&2
        return 1
    fi
}

echo "Machine: $(nproc) cores, load average $(load) before"
case "$MODE" in
run)
    echo "run 1: TUHKALA_SYNC_DELAY_MS=$INJECT"
    record_run "$RUNS/run-1" "$INJECT"
    echo "load average $(load) after the run"
    echo
    (cd "$BUILD_DIR" && ./tuhkala-sync-meter $EVENTS "$RUNS/run-1")
    ;;
check)
    names=(base plus minus)
    injects=(0 "$DELAY" "-$DELAY")
    for i in 0 1 2; do
        echo "run $((i + 1)) of 3: TUHKALA_SYNC_DELAY_MS=${injects[$i]}"
        record_run "$RUNS/${names[$i]}" "${injects[$i]}"
        echo "  load average $(load)"
    done
    echo
    (cd "$BUILD_DIR" && ./tuhkala-sync-meter --check --delay "$DELAY" "$RUNS/base" "$RUNS/plus" \
        "$RUNS/minus")
    ;;
browser)
    python3 "$ROOT_DIR/bench/sync_web.py" --build "$BUILD_DIR" --site "$WEB_DIR" \
        --out "$RUNS/browser" --seconds "${SECONDS_LIMIT:-0}" $EVENTS
    echo "load average $(load) after the run"
    ;;
esac
