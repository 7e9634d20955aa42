#!/usr/bin/env bash
# Builds SDL 1.2 for the device from Debian's own source package (apt-get source libsdl1.2),
# static, with the video drivers of an embedded device: framebuffer console (fbcon) and dummy.
# No X11, no OpenGL, no audio, no joystick, no CD-ROM, no dynamic loading.
#   toolchain/sdl-build.sh WORK DESTDIR CC CFLAGS
# WORK is an empty scratch folder; the library, headers and sdl.pc land in DESTDIR/usr.
# The project's own changes to SDL, toolchain/patches/sdl/NNNN-*.patch, are applied in order on
# Debian's tree. The same library without them lands in DESTDIR/usr/lib/sdl-unpatched/libSDL.a,
# for the test that compares the two (tests/e2e/sdl_blit_check.sh).
# Called by toolchain/glibc-sysroot.sh (glibc) and toolchain/uclibc-sysroot.sh (uClibc-ng), whose
# cache keys include this file. As root it adds a deb-src line for bookworm main when apt has
# none, and runs apt-get update.
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: sdl-build.sh WORK DESTDIR CC CFLAGS" >&2; exit 2; }
work=$1 destdir=$2 cc=$3 cflags=$4
patches=("$(cd "$(dirname "$0")" && pwd)"/patches/sdl/*.patch)
host=arm-linux-gnueabi
jobs=2

. "$(dirname "$0")/../scripts/lib/apt.sh"  # apt_source_index, apt_source_fetch

apt_source_index sdl-build.sh libsdl1.2

echo "-- SDL 1.2 for $host (fbcon, dummy) with $cc"
apt_source_fetch "$work" libsdl1.2
sdl_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libsdl1.2-*' | head -n 1)
[ -n "$sdl_src" ] || { echo "sdl-build.sh: no SDL source tree unpacked" >&2; exit 1; }
# patch_sdl [-R]: the project's patches on the source tree (-R: taken off, last first).
patch_sdl() {
    local list=("${patches[@]}") i
    [ "${1:-}" = -R ] && for ((i = 0; i < ${#patches[@]}; i++)); do
        list[i]=${patches[${#patches[@]} - 1 - i]}
    done
    for i in "${list[@]}"; do
        echo "   patch ${1:-} ${i##*/}"
        patch -d "$sdl_src" -p1 -s -f --no-backup-if-mismatch "$@" < "$i" ||
            { echo "sdl-build.sh: ${i##*/} does not apply" >&2; exit 1; }
    done
}
patch_sdl
mkdir -p "$work/sdl-build"
cd "$work/sdl-build"
# A compiler that searches the host's /usr/include (Debian's cross compiler does), and
# configure running the host's pkg-config: every optional part is switched off explicitly, and
# pkg-config only sees DESTDIR, so the host's PulseAudio, GL, X11 or tslib headers cannot leak
# in.
export PKG_CONFIG_LIBDIR=$destdir/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$destdir
export PKG_CONFIG_PATH=
"$sdl_src/configure" --host=$host --build="$(gcc -dumpmachine)" --prefix=/usr \
    CC="$cc" CFLAGS="$cflags" \
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
make install DESTDIR="$destdir" > install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
rm -rf "$destdir/usr/share/man"   # SDL's manual pages: not needed to build against it
# Without the patches: only the files they touch are compiled again.
patch_sdl -R
make -j$jobs > make-unpatched.log 2>&1 || { tail -n 40 make-unpatched.log >&2; exit 1; }
install -D -m 644 build/.libs/libSDL.a "$destdir/usr/lib/sdl-unpatched/libSDL.a"
# What was found, for the log: nothing of the host may appear here.
grep -E '^#define SDL_(VIDEO|AUDIO|JOYSTICK|CDROM|LOADSO)_DRIVER_' include/SDL_config.h || true
