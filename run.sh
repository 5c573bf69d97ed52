#!/usr/bin/env bash
# Sets up everything (missing Debian packages, the build and the media in
# build/) and plays the show in a window. The show reads its media from
# tavara/ under its working directory, so it runs from build/.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/setup.sh
source "$ROOT_DIR/scripts/setup.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (\$DISPLAY and \$WAYLAND_DISPLAY are empty); record the show to a file instead with build/tuhkala-capture -o show.mp4" >&2
    exit 1
fi

cd "$BUILD_DIR"
# Options go to the show: ./run.sh --fullscreen
exec ./tuhkalademo "$@"
