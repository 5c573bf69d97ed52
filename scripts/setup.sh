#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: installs the Debian packages that are
# missing, then configures and builds the show, its tools and its media in
# build/. Source it; it leaves BUILD_DIR set.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT_DIR/build}"

# Everything the build, the show and the tests need on a fresh Debian 12.
PACKAGES=(
    build-essential cmake pkg-config git
    libsdl2-dev libopenmpt-dev libjpeg62-turbo-dev libfreetype-dev
    libgl1-mesa-dev libglu1-mesa-dev libegl1-mesa-dev libgl1-mesa-dri libosmesa6-dev
    fonts-dejavu-core
    libx11-dev
    libgtest-dev libgmock-dev googletest
    xvfb xauth x11-utils xdotool imagemagick openbox
    zlib1g-dev ffmpeg
)

install_missing_packages() {
    local missing=()
    local pkg
    for pkg in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Cannot install ${missing[*]}: not root and sudo is not available." >&2
            echo "Install them as root (apt-get install ${missing[*]}) and run again." >&2
            exit 1
        fi
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_show() {
    local werror="${TUHKALA_WERROR:-OFF}"
    cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -DTUHKALA_WERROR="$werror" >/dev/null
    cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

install_missing_packages
build_show
