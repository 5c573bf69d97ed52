#!/usr/bin/env bash
# Builds the show for a browser into build-web/ and serves it on
# http://127.0.0.1:8000. Installs what is missing (Debian's emscripten among
# it), builds the native media generator and the media in build/, builds
# libopenmpt and libjpeg-turbo with emscripten from Debian's source packages
# (once, see WEB_DEPS_DIR below), then the show.
#
#   ./web.sh               build, then serve until Ctrl+C
#   ./web.sh --build-only  build only (CI and the browser test)
#   WEB_PORT=8080 ./web.sh another port
#
# The libraries are kept in WEB_DEPS_DIR (~/.cache/tuhkalademo/web-deps), so
# that a fresh clone or an emptied build-web/ does not build them again.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
WEB_DIR="${WEB_DIR:-$ROOT_DIR/build-web}"
WEB_PORT="${WEB_PORT:-8000}"
WEB_DEPS_DIR="${WEB_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tuhkalademo/web-deps}"
serve=1
case "${1:-}" in
    --build-only) serve=0 ;;
    "") ;;
    *)
        echo "usage: ./web.sh [--build-only]" >&2
        exit 2
        ;;
esac
if [ -n "${CI:-}" ]; then
    export TUHKALA_WERROR=ON
fi

# The native side: its packages, and build/ with the media generator's output.
TUHKALA_BUILD_TARGETS=media source "$ROOT_DIR/scripts/setup.sh"
# emscripten for the build, dpkg-dev to unpack the libraries' source packages.
install_missing_packages emscripten dpkg-dev python3 || exit 1

# emcc runs its JavaScript tools under node; a node that is not Debian's own
# does not see Debian's node modules.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
started=$SECONDS
"$ROOT_DIR/web/deps.sh" "$WEB_DEPS_DIR"
emcmake cmake -S "$ROOT_DIR/web" -B "$WEB_DIR" -DTUHKALA_DEPS="$WEB_DEPS_DIR/prefix" \
    -DTUHKALA_MEDIA="$BUILD_DIR" -DTUHKALA_WERROR="${TUHKALA_WERROR:-OFF}" >/dev/null
cmake --build "$WEB_DIR" --parallel "$(nproc)"
echo "web.sh: built the browser version in $WEB_DIR ($((SECONDS - started)) s)"

if [ "$serve" = 1 ]; then
    echo "Serving the show on http://127.0.0.1:$WEB_PORT/ (Ctrl+C stops)"
    exec python3 -m http.server "$WEB_PORT" --bind 127.0.0.1 --directory "$WEB_DIR" 2>/dev/null
fi
