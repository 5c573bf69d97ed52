#!/usr/bin/env bash
# Builds the two libraries the browser build links, libopenmpt and
# libjpeg-turbo, with emscripten from Debian's own source packages, into
# DEPS_DIR/prefix (include/ and lib/). The sources come through apt-get with a
# private list of source archives derived from this machine's own apt sources,
# so nothing of the system's apt set-up changes. Everything is cached in
# DEPS_DIR: a second run with the same source versions, the same emscripten
# and this same script does nothing.
#
# Usage: web/deps.sh DEPS_DIR
set -euo pipefail

DEPS_DIR="$(mkdir -p "$1" && cd "$1" && pwd)"
PREFIX="$DEPS_DIR/prefix"
APT_DIR="$DEPS_DIR/apt"
SRC_DIR="$DEPS_DIR/src"
JOBS="$(nproc)"
# emcc runs its JavaScript tools under node; a node that is not Debian's own
# does not see Debian's node modules, and node >= 18 needs its built-in fetch
# off for the programs that configure checks run.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
export NODE_OPTIONS="--no-experimental-fetch"

log() { echo "web/deps: $*"; }


# The machine's apt sources, each turned into the matching source archive.
write_source_lists() {
    rm -rf "$APT_DIR/parts"
    mkdir -p "$APT_DIR/parts" "$APT_DIR/lists/partial" "$APT_DIR/cache/archives/partial"
    local f n=0
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        n=$((n + 1))
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >"$APT_DIR/parts/$n.list"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        n=$((n + 1))
        sed 's/^Types:.*/Types: deb-src/' "$f" >"$APT_DIR/parts/$n.sources"
    done
}

apt_private() {
    local tool="$1"
    shift
    "$tool" -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$APT_DIR/parts" \
        -o Dir::State::Lists="$APT_DIR/lists" -o Dir::Cache="$APT_DIR/cache" \
        -o APT::Sandbox::User=root "$@"
}

# Unpacks the newest source of PACKAGE in the archives into
# SRC_DIR/PACKAGE-VERSION/source (once per version) and prints that folder.
fetch_source() {
    local package="$1" version folder unpacked
    version="$(apt_private apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' |
        sort -V | tail -n1)" || true
    if [ -z "$version" ]; then
        echo "web/deps: no source package $package in the apt sources" >&2
        return 1
    fi
    # No colon of an epoch in a path: make reads it as a rule.
    folder="$SRC_DIR/$package-${version//:/_}"
    if [ ! -f "$folder/.unpacked" ]; then
        log "fetching the source of $package $version" >&2
        rm -rf "$folder"
        mkdir -p "$folder/download"
        if ! (cd "$folder/download" && apt_private apt-get source "$package=$version") \
            >"$folder/fetch.log" 2>&1; then
            cat "$folder/fetch.log" >&2
            return 1
        fi
        unpacked="$(find "$folder/download" -mindepth 1 -maxdepth 1 -type d | sed -n 1p)"
        if [ -z "$unpacked" ]; then
            echo "web/deps: apt-get source unpacked nothing for $package" >&2
            return 1
        fi
        mv "$unpacked" "$folder/source"
        rm -rf "$folder/download"
        touch "$folder/.unpacked"
    fi
    echo "$folder/source"
}

build_libopenmpt() {
    local src="$1" stamp
    stamp="$PREFIX/.built-$(basename "$(dirname "$1")")-$RECIPE"
    [ -f "$stamp" ] && return 0
    log "building libopenmpt with emscripten ($JOBS jobs)"
    local build="$DEPS_DIR/build-libopenmpt"
    rm -rf "$build"
    mkdir -p "$build"
    # Every optional codec and output library off: the show plays one
    # Impulse Tracker module and renders the sound itself.
    (cd "$build" &&
        CXXFLAGS="-O2" CFLAGS="-O2" emconfigure "$src/configure" --prefix="$PREFIX" \
            --disable-shared --enable-static \
            --disable-openmpt123 --disable-examples --disable-tests --disable-doxygen-doc \
            --without-zlib --without-mpg123 --without-ogg --without-vorbis --without-vorbisfile \
            --without-pulseaudio --without-portaudio --without-portaudiocpp --without-sndfile \
            --without-flac >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
        emmake make -j"$JOBS" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
        emmake make install >>make.log 2>&1)
    touch "$stamp"
}

build_libjpeg() {
    local src="$1" stamp
    stamp="$PREFIX/.built-$(basename "$(dirname "$1")")-$RECIPE"
    [ -f "$stamp" ] && return 0
    log "building libjpeg-turbo with emscripten"
    local build="$DEPS_DIR/build-libjpeg-turbo"
    rm -rf "$build"
    # CMake's type-size checks cannot run wasm programs: the sizes are given.
    (emcmake cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWITH_SIMD=0 \
        -DENABLE_SHARED=0 -DWITH_TURBOJPEG=0 -DSIZE_T=4 -DHAVE_SIZE_T=TRUE -DUNSIGNED_LONG=4 \
        -DHAVE_UNSIGNED_LONG=TRUE >"$DEPS_DIR/libjpeg-configure.log" 2>&1 &&
        emmake make -C "$build" -j"$JOBS" jpeg-static >"$DEPS_DIR/libjpeg-make.log" 2>&1) || {
        tail -n 30 "$DEPS_DIR/libjpeg-configure.log" "$DEPS_DIR/libjpeg-make.log" >&2
        exit 1
    }
    mkdir -p "$PREFIX/include" "$PREFIX/lib"
    cp "$build/libjpeg.a" "$PREFIX/lib/"
    cp "$build/jconfig.h" "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$PREFIX/include/"
    touch "$stamp"
}

# What a build depends on besides the source: the build commands above (as
# bash sees them, without comments) and the compiler. sed, not head, takes the
# compiler's first line: it reads the rest too, where head would close the
# pipe while emcc still writes, and under pipefail that ended this script
# without a word, now and then.
RECIPE="$( (declare -f build_libopenmpt build_libjpeg; emcc --version 2>/dev/null | sed -n 1p) |
    sha1sum | cut -c1-10)"
write_source_lists
if [ ! -f "$APT_DIR/updated" ] || [ -n "$(find "$APT_DIR/updated" -mmin +1440)" ]; then
    log "reading the source archives' package lists"
    apt_private apt-get update >"$DEPS_DIR/apt-update.log" 2>&1 || {
        # A third-party archive without sources fails here; the Debian
        # archives are what counts, and showsrc below says if they are missing.
        log "apt-get update reported errors (see $DEPS_DIR/apt-update.log)"
    }
    touch "$APT_DIR/updated"
fi
openmpt_src="$(fetch_source libopenmpt)"
jpeg_src="$(fetch_source libjpeg-turbo)"
build_libjpeg "$jpeg_src"
build_libopenmpt "$openmpt_src"
log "libraries ready in $PREFIX"
