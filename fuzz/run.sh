#!/usr/bin/env bash
# Builds the libFuzzer targets of the readers (clang, ASan + UBSan) in their
# own build folder (build-fuzz, or FUZZ_BUILD_DIR) and runs each for SECONDS
# seconds (default 60). Fails when a target finds a crash, a leak, a timeout,
# a broken invariant or a read that allocates more than its reader's memory
# budget; the input that did it is left in the build folder (crash-*, leak-*,
# timeout-*, oom-*).
#
# Inputs up to 1 MB, so that a file of counts with nothing behind them fits;
# no single allocation over 256 MB and no more than 512 MB resident. ASan keeps
# freed memory in a quarantine (256 MB by default) that the resident limit
# would count as the reader's; a small one keeps the limit about the reader.
#
# Seeds: the files the tests write (any build*/fuzz-seeds/<kind>, among them
# the count bomb of the address-limit test) and the shared corpus
# (../shared/corpus, or TUHKALA_CORPUS_DIR), its largest files included whole.
#
#   fuzz/run.sh [SECONDS]
set -euo pipefail

SECONDS_EACH="${1:-60}"
MAX_LEN=1048576
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
CORPUS="${TUHKALA_CORPUS_DIR:-$ROOT/../shared/corpus}"
CXX="${FUZZ_CXX:-clang++}"
SANITIZE=(-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all)
LIBS=(-ljpeg -lGL -lGLU)

if ! command -v "$CXX" >/dev/null 2>&1; then
    echo "fuzz/run.sh: $CXX not found (Debian: apt-get install clang)" >&2
    exit 1
fi
mkdir -p "$OUT"

# The readers are the show's own resources library, built by the project's
# CMake files with the fuzz flags in a folder of their own. Its platform calls
# are met by fuzz/platform_stub.cpp instead of the platform library, so the
# targets neither open files nor show messages.
echo "== building the resources library with the fuzz flags"
cmake -S "$ROOT" -B "$OUT/lib" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="${SANITIZE[*]} -fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$OUT/lib" --target resources --parallel "$(nproc)" >/dev/null
for target in 3ds bmp jpeg; do
    echo "== building fuzz_$target"
    "$CXX" -std=c++17 "${SANITIZE[@]}" -fsanitize=fuzzer -I"$ROOT" "$ROOT/fuzz/fuzz_$target.cpp" \
        "$ROOT/fuzz/platform_stub.cpp" "$OUT/lib/resources/libresources.a" "${LIBS[@]}" \
        -o "$OUT/fuzz_$target"
done

# Gathers the seeds of one kind into one folder.
gather_seeds() {
    local kind="$1" corpus_sub="$2" dest="$OUT/seeds/$1"
    rm -rf "$dest"
    mkdir -p "$dest"
    local d
    for d in "$ROOT"/build*/fuzz-seeds/"$kind"; do
        [ -d "$d" ] && cp -f "$d"/* "$dest"/ 2>/dev/null || true
    done
    if [ -d "$CORPUS/$corpus_sub" ]; then
        find "$CORPUS/$corpus_sub" -type f ! -name '*.md' ! -name '*.png' -size -"$((MAX_LEN + 1))"c \
            -exec cp -f {} "$dest"/ \; 2>/dev/null || true
    fi
    echo "$kind: $(ls "$dest" | wc -l) seeds"
}
gather_seeds 3ds 3ds
gather_seeds bmp bmp
gather_seeds jpeg jpeg

status=0
for target in 3ds bmp jpeg; do
    work="$OUT/work/$target"
    mkdir -p "$work"
    echo "== running fuzz_$target for $SECONDS_EACH s"
    if ! (cd "$OUT" && ASAN_OPTIONS="quarantine_size_mb=16:${ASAN_OPTIONS:-}" \
            ./"fuzz_$target" -max_total_time="$SECONDS_EACH" -timeout=10 \
            -rss_limit_mb=512 -malloc_limit_mb=256 -max_len="$MAX_LEN" -print_final_stats=1 \
            "$work" "$OUT/seeds/$target" > "$OUT/fuzz_$target.log" 2>&1); then
        echo "fuzz_$target FAILED; see $OUT/fuzz_$target.log"
        tail -n 40 "$OUT/fuzz_$target.log"
        status=1
    else
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$OUT/fuzz_$target.log" || true
        echo "fuzz_$target: clean"
    fi
done
exit $status
