#!/usr/bin/env bash
# The three programs' command lines follow one convention: --help prints its
# usage on standard output and exits 0, --version prints the name and the
# build's version and exits 0, and a usage error (an unknown option, a
# malformed size, a value missing) is one line on standard error naming the
# problem, exit 2. None of it opens anything: the programs run with no display
# and no video driver, where opening a window would fail with status 1.
#
# usage: command_line_test.sh VERSION SHOW CAPTURE INSPECT
set -u
VERSION="$1" SHOW="$2" CAPTURE="$3" INSPECT="$4"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export SDL_VIDEODRIVER=no-such-driver SDL_AUDIODRIVER=dummy
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect STATUS OUT-PATTERN ERR-PATTERN PROGRAM ARGS...: runs the program; its
# exit status must be STATUS, its standard output, line ends read as spaces,
# must match the extended regular expression OUT-PATTERN ("" for nothing at
# all), and its standard error must be exactly one line matching ERR-PATTERN,
# or nothing when ERR-PATTERN is "".
expect() {
    local status="$1" out="$2" err="$3"
    shift 3
    timeout 30 "$@" >"$WORK/out" 2>"$WORK/err"
    local got=$?
    local what="$(basename "$1") ${*:2}"
    [ "$got" -eq "$status" ] || fail "$what: exit status $got, not $status"
    if [ -z "$out" ]; then
        [ ! -s "$WORK/out" ] || fail "$what: standard output is not empty: $(head -c 300 "$WORK/out")"
    else
        tr '\n' ' ' <"$WORK/out" | grep -Eq "$out" ||
            fail "$what: standard output does not match /$out/: $(head -c 300 "$WORK/out")"
    fi
    if [ -z "$err" ]; then
        [ ! -s "$WORK/err" ] || fail "$what: standard error is not empty: $(cat "$WORK/err")"
    else
        [ "$(wc -l <"$WORK/err")" -eq 1 ] && grep -Eq "$err" "$WORK/err" ||
            fail "$what: standard error is not one line matching /$err/: $(cat "$WORK/err")"
    fi
    echo "ok: $what"
}

V="${VERSION//./\\.}"
# Help: the usage first; the show's also names its options, keys, where its
# media are looked for and its environment.
expect 0 "^Usage: tuhkalademo .*--fullscreen.*--window WxH.*Keys:.*tavara/.*Environment:.*SDL_AUDIODRIVER" "" "$SHOW" --help
expect 0 "^Usage: tuhkalademo " "" "$SHOW" --window 800x600 -h
expect 0 "^Usage: tuhkala-capture .*--keep-aspect" "" "$CAPTURE" --help
expect 0 "^Usage: tuhkala-inspect .*--json" "" "$INSPECT" --help
# Version: name and version, one line; what follows is not looked at.
expect 0 "^tuhkalademo $V $" "" "$SHOW" --version --no-such-option
expect 0 "^tuhkala-capture \(tuhkalademo\) $V $" "" "$CAPTURE" --version
expect 0 "^tuhkala-inspect \(tuhkalademo\) $V $" "" "$INSPECT" --version
# An unknown option.
for program in "$SHOW" "$CAPTURE" "$INSPECT"; do
    expect 2 "" "^$(basename "$program"): unknown .*'--bogus'" "$program" --bogus
done
# A malformed or impossible size, and a missing one.
expect 2 "" "^tuhkalademo: --window 800by600: expected WxH" "$SHOW" --window 800by600
expect 2 "" "^tuhkalademo: --window 0x600: .*1 to 16384" "$SHOW" --window 0x600
expect 2 "" "^tuhkalademo: --window needs a size" "$SHOW" --window
expect 2 "" "^tuhkalademo: --fullscreen and --window" "$SHOW" -f --window 800x600
expect 2 "" "^tuhkalademo: unexpected argument 'now'" "$SHOW" now
expect 2 "" "^tuhkala-capture: --size 800by600: expected WxH" "$CAPTURE" -o "$WORK/x/" --size 800by600
expect 2 "" "^tuhkala-capture: --size 0x600: .*1 to 4096" "$CAPTURE" -o "$WORK/x/" --size 0x600
expect 2 "" "^tuhkala-inspect: no file given" "$INSPECT"
expect 2 "" "^tuhkala-inspect: --dump-pixels needs" "$INSPECT" --dump-pixels
# The show's test switch is checked like an option.
expect 2 "" "^tuhkalademo: TUHKALA_TEST_FRAME=20800: expected MS@FPS" env TUHKALA_TEST_FRAME=20800 "$SHOW"
expect 2 "" "^tuhkalademo: TUHKALA_TEST_FRAME=2x@5: expected MS@FPS" env TUHKALA_TEST_FRAME=2x@5 "$SHOW"
[ ! -e "$WORK/x" ] || fail "a refused capture made its output folder"

[ "$failures" -eq 0 ] || exit 1
echo "all command lines answer as they should"
