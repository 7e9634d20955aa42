#!/usr/bin/env bash
# Configure of a cross build and the SDL 1.2 pkg-config hands it, with this machine's compiler
# posing as the cross compiler and this machine's SDL as the target's:
#   cross_sdl_lookup_test.sh SOURCE_DIR
# - pkg-config left at its defaults (no PKG_CONFIG_LIBDIR, PKG_CONFIG_SYSROOT_DIR): it reports
#   the build machine's SDL, and configure stops, saying what to set;
# - pkg-config pointed at a sysroot that holds SDL: configure passes.
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

pc=$(pkg-config --variable=pcfiledir sdl)/sdl.pc
libdir=$(pkg-config --variable=libdir sdl)
sysroot=$work/sysroot
mkdir -p "$sysroot/usr/include" "$sysroot/usr/lib/pkgconfig" "$sysroot$libdir"
ln -s /usr/include/SDL "$sysroot/usr/include/SDL"
ln -s "$libdir/libSDL.so" "$sysroot$libdir/libSDL.so"
cp "$pc" "$sysroot/usr/lib/pkgconfig/"

cat > "$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $(uname -m))
set(CMAKE_C_COMPILER cc)
set(CMAKE_CXX_COMPILER c++)
set(CMAKE_FIND_ROOT_PATH $sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN

configure() {
    rm -rf "$work/build"
    cmake -S "$source_dir" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
          -DRINGWAVE_BUILD_TESTS=OFF -DRINGWAVE_BUILD_BENCH=OFF > "$work/out" 2>&1
}

(unset PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_PATH; configure)
status=$?
[ "$status" != 0 ] || fail "host pkg-config: configure passed"
grep -q "build machine's SDL" "$work/out" && grep -q "PKG_CONFIG_SYSROOT_DIR=<sysroot>" "$work/out" ||
    { fail "host pkg-config: no message saying what to set"; cat "$work/out"; }

PKG_CONFIG_LIBDIR=$sysroot/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sysroot PKG_CONFIG_PATH= \
    configure
status=$?
[ "$status" = 0 ] || { fail "sysroot pkg-config: configure failed"; cat "$work/out"; }
grep -q -- "-isystem $sysroot/usr/include/SDL\|-I$sysroot/usr/include/SDL" \
    "$work/build/CMakeFiles/ringwave_effect.dir/flags.make" ||
    fail "sysroot pkg-config: the sysroot's SDL headers are not the ones compiled against"

[ "$failures" = 0 ] && echo "PASS"
exit $((failures > 0))
