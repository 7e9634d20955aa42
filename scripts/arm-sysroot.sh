#!/usr/bin/env bash
# Builds the sysroot for the ARM cross build (cmake/arm-linux-gnueabi.cmake):
#   scripts/arm-sysroot.sh [SYSROOT]        (default: build/arm-sysroot)
# - SDL 1.2, static, from Debian's own source package (apt-get source libsdl1.2), with the
#   video drivers of an embedded device: framebuffer console (fbcon) and dummy. No X11, no
#   OpenGL, no audio, no joystick, no CD-ROM, no dynamic loading.
# - GoogleTest, static, from the sources Debian's libgtest-dev ships in /usr/src/googletest.
# The result is cached: it is rebuilt only when this script or the toolchain file change.
# As root it adds a deb-src line for bookworm main when apt has none, and runs apt-get update.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sysroot=$(realpath -m "${1:-$root/build/arm-sysroot}")
toolchain=$root/cmake/arm-linux-gnueabi.cmake
host=arm-linux-gnueabi
# Same CPU and floating-point flags as the toolchain file: ARMv5TE, software floating point.
arm_flags="-march=armv5te -marm -mfloat-abi=soft"
jobs=2

key=$(cat "$0" "$toolchain" | sha256sum | cut -d' ' -f1)
stamp=$sysroot/.ringwave-sysroot
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
    echo "ARM sysroot up to date: $sysroot"
    exit 0
fi

# apt may be busy (another installation, an unattended update): wait for its locks.
apt_retry() {
    local try
    for try in $(seq 60); do
        "$@" -o DPkg::Lock::Timeout=10 && return 0
        echo "apt busy or failing; retrying ($try)" >&2
        sleep 10
    done
    "$@"
}

# Debian's source index for libsdl1.2: needs a deb-src entry for bookworm main. An existing
# deb-src entry may only need an apt-get update; otherwise this script adds its own.
have_sdl_source() { apt-cache showsrc libsdl1.2 2>/dev/null | grep -q '^Package: libsdl1.2$'; }
deb_src_entry=/etc/apt/sources.list.d/ringwave-deb-src.sources
add_deb_src() {
    echo "Adding a deb-src entry for bookworm main: $deb_src_entry" >&2
    cat > "$deb_src_entry" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
}
if ! have_sdl_source; then
    if [ "$(id -u)" != 0 ]; then
        echo "arm-sysroot.sh: apt has no source index for libsdl1.2. As root, add a deb-src" >&2
        echo "  entry for bookworm main and run apt-get update (or run this script as root)." >&2
        exit 1
    fi
    if ! grep -rqs --include='*.list' --include='*.sources' -E '^(deb-src|Types:.*deb-src)' \
            /etc/apt/sources.list /etc/apt/sources.list.d; then
        add_deb_src
    fi
    apt_retry apt-get update -q >&2
    if ! have_sdl_source && [ ! -e "$deb_src_entry" ]; then
        add_deb_src
        apt_retry apt-get update -q >&2
    fi
    have_sdl_source || { echo "arm-sysroot.sh: still no libsdl1.2 source package" >&2; exit 1; }
fi

mkdir -p "${sysroot%/*}"
work=$(mktemp -d "${sysroot%/*}/.arm-sysroot-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$sysroot"
mkdir -p "$sysroot"

echo "-- SDL 1.2 for $host (fbcon, dummy)"
(
    cd "$work"
    # As root apt cannot hand the download to its sandbox user in a private directory.
    apt-get source -q -o APT::Sandbox::User=root libsdl1.2 > source.log 2>&1 ||
        { cat source.log >&2; exit 1; }
)
sdl_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libsdl1.2-*' | head -n 1)
[ -n "$sdl_src" ] || { echo "arm-sysroot.sh: no SDL source tree unpacked" >&2; exit 1; }
mkdir -p "$work/sdl-build"
(
    cd "$work/sdl-build"
    # The cross compiler also searches the host's /usr/include, and configure runs the host's
    # pkg-config: every optional part is switched off explicitly, and pkg-config only sees
    # the sysroot, so the host's PulseAudio, GL, X11 or tslib headers cannot leak in.
    export PKG_CONFIG_LIBDIR=$sysroot/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sysroot
    export PKG_CONFIG_PATH=
    "$sdl_src/configure" --host=$host --build="$(gcc -dumpmachine)" --prefix=/usr \
        CC=$host-gcc CFLAGS="-O2 $arm_flags" \
        --enable-static --disable-shared --disable-rpath --without-x \
        --enable-video --enable-video-fbcon --enable-video-dummy --enable-events \
        --enable-threads --enable-pthreads --enable-timers --enable-file \
        --disable-video-x11 --disable-x11-shared --disable-dga --disable-video-dga \
        --disable-video-x11-dgamouse --disable-video-x11-vm --disable-video-x11-xv \
        --disable-video-x11-xinerama --disable-video-x11-xme --disable-video-x11-xrandr \
        --disable-video-opengl --disable-osmesa-shared --disable-video-directfb \
        --disable-video-nanox --disable-video-ps2gs --disable-video-ps3 --disable-video-ggi \
        --disable-video-svga --disable-video-vgl --disable-video-wscons \
        --disable-video-aalib --disable-video-caca --disable-video-qtopia \
        --disable-video-picogui --disable-video-xbios --disable-video-gem \
        --disable-video-photon --disable-video-carbon --disable-video-cocoa \
        --disable-input-tslib \
        --disable-audio --disable-oss --disable-alsa --disable-esd --disable-pulseaudio \
        --disable-arts --disable-nas --disable-diskaudio --disable-dummyaudio \
        --disable-joystick --disable-cdrom --disable-loadso --disable-sdl-dlopen \
        --disable-nasm --disable-assembly --disable-altivec --disable-pth \
        > configure.log 2>&1 || { tail -n 40 configure.log >&2; exit 1; }
    make -j$jobs > make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
    make install DESTDIR="$sysroot" > install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
    # What was found, for the log: nothing of the host may appear here.
    grep -E '^#define SDL_(VIDEO|AUDIO|JOYSTICK|CDROM|LOADSO)_DRIVER_' include/SDL_config.h || true
)

echo "-- GoogleTest for $host"
cmake -S /usr/src/googletest -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DRINGWAVE_ARM_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON > "$work/gtest.log" 2>&1 ||
    { tail -n 40 "$work/gtest.log" >&2; exit 1; }
cmake --build "$work/gtest-build" -j $jobs > "$work/gtest-make.log" 2>&1 ||
    { tail -n 40 "$work/gtest-make.log" >&2; exit 1; }
DESTDIR="$sysroot" cmake --install "$work/gtest-build" > /dev/null
rm -rf "$sysroot/usr/share/man"   # SDL's manual pages: not needed to build against it

echo "$key" > "$stamp"
echo "ARM sysroot ready: $sysroot"
