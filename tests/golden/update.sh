#!/usr/bin/env bash
# Renders the reference frames anew (every instant of instants.txt, the same
# capture the reference-frame test runs), writes a contact sheet of
# old | new | difference (four times the difference) for every instant whose
# picture changed, and puts the new pictures in place of the old ones.
#
#   tests/golden/update.sh [BUILD_DIR]     (default: build)
#
# Look at the sheet before committing; a commit that changes reference frames
# holds nothing else and says why the show changed. git checkout tests/golden
# takes the old pictures back. Needs ImageMagick (montage, convert).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
NEW="$BUILD/golden-new"
SHEET="$BUILD/golden-sheet.png"

for tool in montage convert; do
    command -v "$tool" >/dev/null || { echo "update.sh: $tool (ImageMagick) is missing" >&2; exit 1; }
done
rm -rf "$NEW" && mkdir -p "$NEW/diff"
mapfile -t INSTANTS < <(grep -v '^#' "$HERE/instants.txt" | awk 'NF { print $1 }')
args=()
for ms in "${INSTANTS[@]}"; do
    args+=(--at "$ms")
done
"$BUILD/tuhkala-capture" --quiet --size 160x120 --fps 30 --data "$BUILD" -o "$NEW/" "${args[@]}"

tiles=()
changed=0
for ms in "${INSTANTS[@]}"; do
    name="at-$ms.png"
    old="$HERE/$name"
    if [ -f "$old" ] && [ "$(convert "$old" "$NEW/$name" -compose difference -composite \
        -format '%[fx:maxima]' info:)" = "0" ]; then
        continue
    fi
    changed=$((changed + 1))
    [ -f "$old" ] || old="$NEW/$name"
    convert "$old" "$NEW/$name" -compose difference -composite -evaluate multiply 4 \
        "$NEW/diff/$name"
    what="$(grep -m1 "^$ms " "$HERE/instants.txt" | cut -d' ' -f2-)"
    tiles+=(-label "$ms ms: old" "$old" -label "new: $what" "$NEW/$name" -label "difference" \
        "$NEW/diff/$name")
done

if [ "$changed" -eq 0 ]; then
    echo "update.sh: all ${#INSTANTS[@]} frames are unchanged"
    exit 0
fi
montage "${tiles[@]}" -tile 3x -geometry +4+4 -pointsize 9 "$SHEET"
cp "$NEW"/at-*.png "$HERE/"
# Pictures of instants no longer listed go. (Not through a pipe into grep -q:
# under pipefail, grep's early exit can fail the writer and delete a listed
# picture.)
listed="$(printf '%s\n' "${INSTANTS[@]}")"
for file in "$HERE"/at-*.png; do
    ms="${file##*/at-}"
    ms="${ms%.png}"
    grep -qx "$ms" <<<"$listed" || rm -f "$file"
done
echo "update.sh: $changed of ${#INSTANTS[@]} frames changed; look at $SHEET before committing"
