#!/usr/bin/env bash
# The slow checks that run after the ordinary test suite (test.sh calls this
# last):
#   asan      the whole test suite again, built with AddressSanitizer and
#             UndefinedBehaviorSanitizer (build folder build-asan/); only a
#             test whose sole fault was LeakSanitizer's own crash at exit is
#             run a second time, and the log names it;
#   fuzz      the 3DS, BMP and JPEG fuzz targets, FUZZ_SECONDS (60) each;
#   valgrind  a short capture of the show under valgrind's memcheck: every
#             scene at a small size and a low frame rate, any error fails;
#   package   the Debian package checked with lintian, unpacked and run from
#             elsewhere (packaging/test_package.sh);
#   web       the browser version (./web.sh --build-only into build-web/) in
#             headless Chromium: frames against the reference frames, the
#             sound and its position, a key ending the show.
# Exits non-zero when a stage fails; every stage runs even after one failed,
# so one CI run reports them all.
#
# CI (CI set) always runs every stage. Locally TUHKALA_QUICK=1 skips them all,
# and TUHKALA_EXTRA_STAGES="asan fuzz" (any subset) picks some.
# Needs a display for the show's own window tests (test.sh provides Xvfb).
set -uo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT_DIR/build}"
ASAN_BUILD_DIR="${ASAN_BUILD_DIR:-$ROOT_DIR/build-asan}"
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
STAGES="${TUHKALA_EXTRA_STAGES:-asan fuzz valgrind package web}"
# Script tests that run the show binary in a real window.
WINDOW_TESTS='^app_window_'
# Tests that run a program under an address-space limit (ulimit -v). Under
# AddressSanitizer such a program cannot even start, since the sanitizer
# reserves terabytes of shadow memory up front; the sanitizer stage leaves them
# out, and the ordinary suite runs them.
ADDRESS_LIMIT_TESTS='^AddressLimit\.'

if [ -z "${CI:-}" ] && [ "${TUHKALA_QUICK:-0}" = "1" ]; then
    echo "ci_extra: TUHKALA_QUICK=1, sanitizer, fuzz, valgrind, package and web stages skipped"
    exit 0
fi

# shellcheck source=scripts/packages.sh
source "$ROOT_DIR/scripts/packages.sh"
# Tools only these stages need.
EXTRA_PACKAGES=(valgrind clang lintian desktop-file-utils dpkg-dev file man-db groff-base
    python3-debian)

stage_asan() {
    local werror="${TUHKALA_WERROR:-OFF}"
    cmake -S "$ROOT_DIR" -B "$ASAN_BUILD_DIR" -DTUHKALA_SANITIZE=ON -DTUHKALA_WERROR="$werror" \
        >/dev/null || return 1
    cmake --build "$ASAN_BUILD_DIR" --parallel "$(nproc)" || return 1
    # Leaks are checked at every exit; the show's media stay reachable from
    # globals, so anything reported is lost memory. Only the GL driver's and
    # the window system's own leaks are suppressed (scripts/lsan.supp).
    local asan="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
    asan="$asan:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
    # llvmpipe renders on the calling thread: LeakSanitizer's exit-time scan
    # can still crash ("Tracer caught signal 11") when the driver's worker
    # threads are torn down while it stops the world. A test that met that
    # crash, and only such a test (its output holds the tracer's message and
    # no test failure), is run once more, and the log says so; any other
    # failure fails the stage at once.
    local -x LP_NUM_THREADS=0
    # Mesa's on-disk shader cache stores newly compiled shaders from a thread
    # of its own, and the scan crashed that way at every exit of the render
    # tests whose shaders were new: without the cache there is no such thread
    # (shaders are compiled afresh, the same code).
    local -x MESA_SHADER_CACHE_DISABLE=true
    local status=0
    local junit="$ASAN_BUILD_DIR/asan-tests.xml"
    local -x ASAN_OPTIONS="$asan"
    local -x UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
    local -x LSAN_OPTIONS="suppressions=$ROOT_DIR/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
    if ! ctest --test-dir "$ASAN_BUILD_DIR" --output-on-failure -j2 \
        -E "$WINDOW_TESTS|$ADDRESS_LIMIT_TESTS" --output-junit "$junit"; then
        local others
        others="$(python3 - "$junit" <<'PY'
import sys, xml.etree.ElementTree as tree
for case in tree.parse(sys.argv[1]).iter("testcase"):
    if case.get("status") != "fail":
        continue
    out = case.findtext("system-out") or ""
    tracer = "Tracer caught signal" in out and "[  FAILED  ]" not in out
    print(("tracer " if tracer else "other ") + case.get("name"))
PY
        )" || others="other (the test report could not be read)"
        if grep -q '^other ' <<<"$others" || ! grep -q '^tracer ' <<<"$others"; then
            echo "ci_extra: asan: failed, none run again: $(sed 's/^[a-z]* //' <<<"$others" | paste -sd ' ')" >&2
            status=1
        else
            local names
            names="$(sed 's/^tracer //' <<<"$others" | paste -sd ' ')"
            echo "ci_extra: asan: the only failures were LeakSanitizer's tracer crashing at" \
                "exit (\"Tracer caught signal\"), in: $names; running these once more"
            ctest --test-dir "$ASAN_BUILD_DIR" --output-on-failure -j2 \
                -E "$WINDOW_TESTS|$ADDRESS_LIMIT_TESTS" --rerun-failed || status=1
        fi
    fi
    # The show in a real X window: at its exit Mesa unloads its driver library
    # before LeakSanitizer runs, so the driver's unfreed blocks can no longer be
    # told apart from ours by module. These runs keep every address and
    # undefined-behaviour check but not the leak check; the same code paths are
    # leak-checked in-process by the tests above and under valgrind below.
    ASAN_OPTIONS="$asan:detect_leaks=0" \
        ctest --test-dir "$ASAN_BUILD_DIR" --output-on-failure -j2 -R "$WINDOW_TESTS" || status=1
    return "$status"
}

stage_fuzz() {
    if [ ! -x "$ROOT_DIR/fuzz/run.sh" ]; then
        echo "ci_extra: fuzz/run.sh is missing" >&2
        return 1
    fi
    "$ROOT_DIR/fuzz/run.sh" "$FUZZ_SECONDS"
}

# The capture runs the show's own start-up and frame loop off-screen, so the
# setups, every scene and the readers all run under memcheck. Mesa's software
# softpipe (also on a machine with a GPU) keeps the GL driver's just-in-time
# compiler (llvmpipe) out of valgrind's way; the driver's remaining reports
# are suppressed in scripts/valgrind.supp. One frame
# a second over the whole show gives every scene at least nine frames; the
# cost is almost all in the frames, so the rate and size keep the stage short.
stage_valgrind() {
    local capture="$BUILD_DIR/tuhkala-capture"
    if [ ! -x "$capture" ]; then
        echo "ci_extra: $capture is missing (build the show first)" >&2
        return 1
    fi
    local log
    log="$(mktemp)"
    local status=0
    (cd "$BUILD_DIR" &&
        LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER="${VALGRIND_GALLIUM_DRIVER:-softpipe}" \
            valgrind --error-exitcode=1 --errors-for-leak-kinds=definite --leak-check=full \
            --track-origins=yes --num-callers=30 \
            --suppressions="$ROOT_DIR/scripts/valgrind.supp" --gen-suppressions=all \
            --log-file="$log" \
            ./tuhkala-capture --render-only --quiet --size "${VALGRIND_SIZE:-128x96}" \
            --fps "${VALGRIND_FPS:-1}") || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
        echo "ci_extra: valgrind reported errors (exit $status)" >&2
    else
        grep -E "ERROR SUMMARY|definitely lost|suppressed:" "$log"
    fi
    rm -f "$log"
    return "$status"
}

stage_package() {
    bash "$ROOT_DIR/packaging/test_package.sh" "$BUILD_DIR"
}

# The browser version: web.sh installs emscripten and builds everything; the
# page's frames are compared with the reference frames of tests/golden/.
stage_web() {
    install_missing_packages chromium || return 1
    local web_dir="${WEB_DIR:-$ROOT_DIR/build-web}"
    local started=$SECONDS
    BUILD_DIR="$BUILD_DIR" WEB_DIR="$web_dir" "$ROOT_DIR/web.sh" --build-only || return 1
    echo "ci_extra: web build took $((SECONDS - started)) s"
    python3 "$ROOT_DIR/tests/web/browser_test.py" --site "$web_dir" --golden "$ROOT_DIR/tests/golden" \
        --sheets "$web_dir"
}

install_missing_packages "${EXTRA_PACKAGES[@]}" || exit 1
failed=()
for stage in $STAGES; do
    case "$stage" in
        asan | fuzz | valgrind | package | web) ;;
        *)
            echo "ci_extra: unknown stage '$stage' (asan, fuzz, valgrind, package, web)" >&2
            exit 2
            ;;
    esac
    echo "=== ci_extra: $stage"
    started=$SECONDS
    if "stage_$stage"; then
        echo "=== ci_extra: $stage passed in $((SECONDS - started)) s"
    else
        echo "=== ci_extra: $stage FAILED after $((SECONDS - started)) s" >&2
        failed+=("$stage")
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "ci_extra: failed stages: ${failed[*]}" >&2
    exit 1
fi
