#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: installs the Debian packages that are
# missing, then configures and builds the show, its tools and its media in
# build/. Source it; it leaves BUILD_DIR set. TUHKALA_BUILD_TARGETS, when set,
# names the only targets to build (web.sh needs only the media).
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT_DIR/build}"
# shellcheck source=scripts/packages.sh
source "$ROOT_DIR/scripts/packages.sh"

# Everything the build, the show and the tests need on a fresh Debian 12.
PACKAGES=(
    build-essential cmake pkg-config git
    libsdl2-dev libopenmpt-dev libpulse-dev libjpeg62-turbo-dev libfreetype-dev
    libgl1-mesa-dev libglu1-mesa-dev libegl1-mesa-dev libgl1-mesa-dri libosmesa6-dev
    fonts-dejavu-core
    libx11-dev
    libgtest-dev libgmock-dev googletest
    xvfb xauth x11-utils xdotool imagemagick openbox
    pulseaudio # a private sound server for the player's test
    zlib1g-dev ffmpeg
    file # cpack -G DEB reads the programs' libraries with it
)

build_show() {
    local werror="${TUHKALA_WERROR:-OFF}"
    cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -DTUHKALA_WERROR="$werror" >/dev/null
    local targets=()
    local target
    for target in ${TUHKALA_BUILD_TARGETS:-}; do
        targets+=(--target "$target")
    done
    cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${targets[@]}"
}

install_missing_packages "${PACKAGES[@]}" || exit 1
build_show
