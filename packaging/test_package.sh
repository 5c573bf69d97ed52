#!/usr/bin/env bash
# The installed show, as a user gets it: builds the Debian package from a
# built tree, checks it with lintian (no errors, and no warning about the
# licence or the copyright file), reads its copyright file as Debian's
# machine-readable format (the MIT licence, called Expat, for everything of
# ours, the text of LICENSE; every licence named has its text), unpacks it
# with dpkg-deb into a temporary root, and from an unrelated working directory
#   - the unpacked tuhkala-capture's pictures at two instants equal the build
#     tree's own;
#   - the unpacked tuhkalademo plays under a private Xvfb: after two seconds
#     its window shows a textured frame (many colours, not plain white), and a
#     key ends it with status 0;
#   - the show alone, without media anywhere, says on standard error where it
#     looked, once;
#   - the unpacked programs' --version is the package's version;
# and the desktop entry, the icon and the three manual pages are checked
# (desktop-file-validate, a 256x256 PNG, man -l without warnings, a COPYRIGHT
# section naming the MIT licence), as is the README's last section.
#
# usage: packaging/test_package.sh [BUILD_DIR]   (default: build/)
# Needs cpack, lintian, dpkg-deb, dpkg-shlibdeps, file, desktop-file-validate,
# man, python3-debian, Xvfb, xdotool and ImageMagick (scripts/ci_extra.sh
# installs them).
set -uo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT_DIR/build}" && pwd)"
WORK="$(mktemp -d)"
XVFB_PID="" SHOW_PID=""
cleanup() {
    for pid in $SHOW_PID $XVFB_PID; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Waits up to $2 tenths of a second for the command $1 to succeed.
poll() {
    for _ in $(seq "$2"); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The package, made into a folder of its own.
(cd "$BUILD_DIR" && cpack -G DEB -B "$WORK/package" >"$WORK/cpack.log" 2>&1) ||
    { cat "$WORK/cpack.log" >&2; fail "cpack did not make the package"; }
DEB="$(ls "$WORK"/package/tuhkalademo_*.deb 2>/dev/null | head -n1)"
[ -n "$DEB" ] || fail "no tuhkalademo_*.deb in the cpack output"
echo "package: $(basename "$DEB")"
dpkg-deb -f "$DEB" Depends Recommends
dpkg-deb -f "$DEB" Depends | grep -q "libsdl2" || fail "Depends lacks the SDL library"
[ "$(dpkg-deb -f "$DEB" Recommends)" = ffmpeg ] || fail "ffmpeg is not recommended"

echo "--- lintian"
lintian --fail-on error "$DEB" >"$WORK/lintian.log" 2>&1
status=$?
grep -v "running with root privileges" "$WORK/lintian.log"
[ "$status" -eq 0 ] || fail "lintian reports errors"
! grep -Ei '^[EW]: .*(copyright|licen[cs]e)' "$WORK/lintian.log" ||
    fail "lintian warns about the licence or the copyright file"
grep -qx 'set(CPACK_RPM_PACKAGE_LICENSE "MIT")' "$BUILD_DIR/CPackConfig.cmake" &&
    grep -qx "set(CPACK_RESOURCE_FILE_LICENSE \"$ROOT_DIR/LICENSE\")" "$BUILD_DIR/CPackConfig.cmake" ||
    fail "CPack's licence fields do not name the MIT licence and LICENSE"

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT" || fail "dpkg-deb -x failed"
BIN="$ROOT/usr/bin"

echo "--- licence"
# Debian's own reader of the format, strict: a field or paragraph out of
# place is an error.
/usr/bin/python3 - "$ROOT/usr/share/doc/tuhkalademo/copyright" "$ROOT_DIR/LICENSE" <<'PYTHON' ||
import re, sys
from debian import copyright as dep5
with open(sys.argv[1]) as f:
    cp = dep5.Copyright(f, strict=True)
texts = {p.license.synopsis: p.license.text for p in cp.all_license_paragraphs()}
ours = cp.find_files_paragraph("usr/bin/tuhkalademo")
problems = []
if ours is None or ours.license.synopsis != "Expat" or "the tuhkalademo authors" not in ours.copyright:
    problems.append("our files are not Expat, copyright the tuhkalademo authors")
for p in cp.all_files_paragraphs():
    for name in re.split(r" (?:and|or) ", p.license.synopsis):
        if not p.license.text and not texts.get(name, "").strip():
            problems.append("licence %s has no text" % name)
font = cp.find_files_paragraph("usr/share/tuhkalademo/tavara/vtdemo.jpg")
if font is None or "bitstream-vera" not in font.license.synopsis:
    problems.append("the pictures drawn with the DejaVu fonts do not name their licence")
# The Expat text is LICENSE's permission notice, word for word.
with open(sys.argv[2]) as f:
    notice = f.read()
notice = " ".join(notice[notice.index("Permission"):].split())
if " ".join(texts.get("Expat", "").split()) != notice:
    problems.append("the Expat text is not the permission notice of LICENSE")
for problem in problems:
    print("copyright:", problem)
print("copyright: %d files paragraphs, licences %s" %
      (len(list(cp.all_files_paragraphs())), ", ".join(sorted(texts))))
sys.exit(1 if problems else 0)
PYTHON
    fail "the copyright file does not state the licences as it should"
tail -n +2 "$ROOT_DIR/README.md" | grep '^## ' | tail -n1 | grep -qx '## Licence' &&
    sed -n '/^## Licence$/,$p' "$ROOT_DIR/README.md" | grep -q "MIT licence" ||
    fail "the README's last section does not name the MIT licence"
version="$(dpkg-deb -f "$DEB" Version)"
[ "$("$BIN/tuhkalademo" --version)" = "tuhkalademo $version" ] &&
    [ "$("$BIN/tuhkala-capture" --version)" = "tuhkala-capture (tuhkalademo) $version" ] &&
    [ "$("$BIN/tuhkala-inspect" --version)" = "tuhkala-inspect (tuhkalademo) $version" ] ||
    fail "the programs' --version is not the package's $version"
echo "the licence is named in the copyright file, by CPack and in the README; --version says $version"
desktop-file-validate "$ROOT/usr/share/applications/tuhkalademo.desktop" ||
    fail "the desktop entry is not valid"
ICON="$ROOT/usr/share/icons/hicolor/256x256/apps/tuhkalademo.png"
[ "$(identify -format '%m %wx%h' "$ICON" 2>/dev/null)" = "PNG 256x256" ] ||
    fail "the icon is not a 256x256 PNG"

echo "--- manual pages"
for page in "$ROOT"/usr/share/man/man6/tuhkalademo.6.gz \
    "$ROOT"/usr/share/man/man1/tuhkala-capture.1.gz "$ROOT"/usr/share/man/man1/tuhkala-inspect.1.gz; do
    [ -f "$page" ] || fail "$page is missing"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    text="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)"
    for section in SYNOPSIS OPTIONS "EXIT STATUS" FILES EXAMPLES COPYRIGHT; do
        grep -qx "$section" <<<"$text" || fail "$(basename "$page") has no $section section"
    done
    sed -n '/^COPYRIGHT$/,/^SEE ALSO$/p' <<<"$text" | grep -qw MIT ||
        fail "$(basename "$page") does not name the MIT licence"
    echo "$(basename "$page"): renders without warnings"
done

# Everything below runs from a folder that has nothing to do with the show.
mkdir -p "$WORK/elsewhere"
cd "$WORK/elsewhere" || fail "cannot enter $WORK/elsewhere"

echo "--- capture"
SHOTS=(--at 4000 --at 35000 --fps 10 --size 160x120 --quiet)
(cd "$BUILD_DIR" && ./tuhkala-capture -o "$WORK/built/" "${SHOTS[@]}") ||
    fail "the build tree's capture failed"
"$BIN/tuhkala-capture" -o installed/ "${SHOTS[@]}" || fail "the unpacked capture failed"
for shot in at-4000.png at-35000.png; do
    cmp "$WORK/built/$shot" "installed/$shot" || fail "$shot differs from the build tree's"
done
echo "pictures at 4000 and 35000 ms equal the build tree's"
"$BIN/tuhkala-inspect" tavara/vtdemo.jpg | grep -qx "tavara/vtdemo.jpg: jpeg, 512 x 512, 3 channels" ||
    fail "the unpacked tuhkala-inspect did not read the installed title picture"

echo "--- show"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
poll '[ -s "$WORK/display" ]' 100 || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
export DISPLAY=":$(head -n1 "$WORK/display")"
unset WAYLAND_DISPLAY
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"

"$BIN/tuhkalademo" >"$WORK/show.out" 2>"$WORK/show.err" &
SHOW_PID=$!
alive() { kill -0 "$SHOW_PID" 2>/dev/null; }
WID=""
find_window() {
    WID="$(xdotool search --onlyvisible --classname '^Tuhkala Rautakivi$' 2>/dev/null | head -n1)"
    [ -n "$WID" ] || ! alive
}
poll find_window 300
[ -n "$WID" ] || fail "no window; the show said: $(cat "$WORK/show.out" "$WORK/show.err")"
# The music starts last in start-up (SDL's audio thread appears); the frame
# loop runs from then on.
poll "grep -qs '^SDLAudio' /proc/$SHOW_PID/task/*/comm || ! alive" 300
sleep 2
alive || fail "the show ended by itself: $(cat "$WORK/show.out" "$WORK/show.err")"
import -window root -crop 640x480+0+0 "$WORK/show.png" 2>/dev/null || fail "no screenshot"
colours="$(identify -format '%k' "$WORK/show.png")"
mean="$(identify -format '%[fx:mean]' "$WORK/show.png")"
echo "screenshot after 2 s: $colours colours, mean $mean"
# Pictures that failed to load are drawn as plain white quads.
[ "$colours" -gt 64 ] || fail "the frame is not textured ($colours colours)"
awk -v m="$mean" 'BEGIN { exit !(m < 0.98) }' || fail "the frame is plain white"
xdotool windowfocus --sync "$WID" key --clearmodifiers a
poll '! alive' 50 || fail "the show was still running after the key"
wait "$SHOW_PID"
status=$?
SHOW_PID=""
[ "$status" -eq 0 ] || fail "exit status $status after the key, not 0"
# (The GL driver may have its own say on standard error; only ours counts.)
! grep -q "tavara" "$WORK/show.err" || fail "the show missed its media: $(cat "$WORK/show.err")"
echo "the show ended with status 0 after a key"

# The program alone, with no media anywhere it looks: one line names the
# folders, and the missing module then ends the show as it always has.
mkdir -p "$WORK/lone/bin"
cp "$BIN/tuhkalademo" "$WORK/lone/bin/"
timeout 60 "$WORK/lone/bin/tuhkalademo" >"$WORK/lone.out" 2>"$WORK/lone.err"
status=$?
expected="tuhkalademo: no tavara/ folder in $WORK/elsewhere, $WORK/lone/bin or $WORK/lone/share/tuhkalademo"
[ "$(cat "$WORK/lone.err")" = "$expected" ] ||
    fail "without media the show said: $(cat "$WORK/lone.err")"
grep -q "Can't play the file" "$WORK/lone.out" || fail "the missing module was not reported"
echo "without media: \"$expected\", then exit status $status"
echo "package test passed"
