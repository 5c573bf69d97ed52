#!/usr/bin/env bash
# install_missing_packages PKG...: installs those of the named Debian packages
# that are not installed yet, with apt-get (through sudo when not root).
# Sourced by setup.sh, ci_extra.sh and bench/run.sh. Returns non-zero when
# packages are missing and cannot be installed.

install_missing_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
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
            return 1
        fi
        sudo="sudo"
    fi
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"
}
