#!/usr/bin/env bash
# The compiler's runtime for the device, for ARMv4T: libgcc (integer division, 64-bit
# arithmetic, the software floating point of every double operation, the ARM EABI unwinder)
# and the start and end files of a static program (crtbeginT.o, crtend.o), built from the
# source of the cross compiler's own version (Debian's gcc-12-source) with libgcc's own build
# (configure and Makefile), configured as Debian's arm-linux-gnueabi-gcc is: its plugin
# headers hold the target headers (tm.h, options.h, ...) of that very compiler. The routines
# are those of Debian's armel libgcc, the same assembly (lib1funcs.S, ieee754-df.S,
# ieee754-sf.S, bpabi.S) and C (libgcc2.c, bpabi.c, unwind-arm.c, ...), assembled and
# compiled for ARMv4T in ARM state instead of ARMv5TE: its division loops shift and subtract
# where ARMv5's use clz, its returns are bx lr. Debian's patches change nothing of the ARM
# routines and are not applied. The fixed-point routines (_Fract, _Accum: C only, used by
# nothing here) are left out.
# And libstdc++: Debian's archive, with the members that ringwave's programs take from it
# (their link maps show chrono.o only: steady_clock::now) compiled again from the same source
# for ARMv4T; the device build's cross.runtime-members test fails when a program takes another.
#   toolchain/libgcc.sh    prints the folder: libgcc.a, libgcc_eh.a, crtbeginT.o, crtend.o,
#                          libstdc++.a, libstdc++.armv4t (the names of the members rebuilt)
# Cached under ${XDG_CACHE_HOME:-~/.cache}/ringwave/, keyed by this script and the versions of
# the packages it builds from and with. About three minutes on two cores the first time.
# ARM routines of libgcc and members of libstdc++ rebuilt (source files under libstdc++-v3/src).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=arm-linux-gnueabi
arm_flags="-march=armv4t -marm -mfloat-abi=soft"
jobs=2
cxx_sources="c++11/chrono.cc"

packages="gcc-12-source gcc-12-plugin-dev-$host gcc-12-$host libstdc++-12-dev-armel-cross"
versions=$(dpkg-query -W -f='${Package} ${Version}\n' $packages) ||
    { echo "libgcc.sh: needs $packages (scripts/deps.sh arm)" >&2; exit 1; }
tarball=$(ls /usr/src/gcc-12/gcc-12.*.tar.xz)
plugin_include=$($host-gcc -print-file-name=plugin)/include
[ -f "$plugin_include/tm.h" ] || { echo "libgcc.sh: no $plugin_include/tm.h" >&2; exit 1; }
. "$root/scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit
entry=$cache_dir/libgcc-armv4t-$( { cat "$0"; echo "$versions"; } | cache_key)
if ! cache_begin "$entry" libgcc.a; then
    echo "$entry"
    exit 0
fi
start=$(date +%s)
echo "-- libgcc for ARMv4T from $(basename "$tarball"): about three minutes on two cores" >&2
# libgcc's sources and what its configure script takes from the top of the tree.
top=$(basename "$tarball" .tar.xz)
top=${top%-dfsg}
tar -xJf "$tarball" -C "$cache_work" "$top/libgcc" "$top/include" "$top/config-ml.in" \
    "$top/config.sub" "$top/config.guess" "$top/install-sh" "$top/mkinstalldirs" "$top/move-if-change" \
    "$top/gcc/BASE-VER" $(printf "$top/libstdc++-v3/src/%s " $cxx_sources)
src=$cache_work/$top

# The layout of a gcc build tree: libgcc is built in TARGET/libgcc and finds the compiler's
# configuration in gcc/ beside it: here the installed compiler's plugin headers, the target's
# tconfig.h (as gcc's mkconfig.sh writes it) and the flags gcc's build passes on to libgcc.
gcc_dir=$cache_work/build/gcc
mkdir -p "$gcc_dir" "$cache_work/build/$host/libgcc"
ln -s "$plugin_include"/* "$gcc_dir/"
cat > "$gcc_dir/tconfig.h" <<'HEADER'
#ifndef GCC_TCONFIG_H
#define GCC_TCONFIG_H
#ifndef USED_FOR_TARGET
# define USED_FOR_TARGET
#endif
#include "auto-host.h"
#ifdef IN_GCC
# include "ansidecl.h"
#endif
#endif
HEADER
cat > "$gcc_dir/libgcc.mvars" <<'MVARS'
GCC_CFLAGS = -DIN_GCC -DCROSS_DIRECTORY_STRUCTURE -W -Wall -Wno-narrowing -Wwrite-strings -Wcast-qual -Wstrict-prototypes -Wmissing-prototypes -Wold-style-definition -isystem ./include
INHIBIT_LIBC_CFLAGS =
TARGET_SYSTEM_ROOT =
NO_PIE_CFLAGS = -fno-PIE
MVARS
(
    cd "$cache_work/build/$host/libgcc"
    # Static only (the device's programs are static): the unwinder goes into libgcc.a itself
    # and libgcc_eh.a is left empty.
    libgcc_cv_fixed_point=no "$src/libgcc/configure" --srcdir="$src/libgcc" \
        --build="$(gcc -dumpmachine)" --host=$host --target=$host --disable-shared \
        CC=$host-gcc CFLAGS="-O2 -g $arm_flags" > "$cache_work/configure.log" 2>&1 ||
        { tail -n 40 "$cache_work/configure.log" >&2; exit 1; }
    make -j$jobs libgcc.a libgcc_eh.a crtbeginT.o crtend.o > "$cache_work/make.log" 2>&1 ||
        { tail -n 40 "$cache_work/make.log" >&2; exit 1; }
    mkdir "$cache_work/lib"
    cp libgcc.a libgcc_eh.a crtbeginT.o crtend.o "$cache_work/lib/"
)
# What a static program takes from the runtime must all be here.
defined=$($host-nm -g --defined-only "$cache_work/lib/libgcc.a" 2>/dev/null)
for symbol in __aeabi_uidiv __aeabi_idivmod __aeabi_uldivmod __aeabi_dadd __aeabi_dmul \
        __aeabi_ddiv __aeabi_d2iz __aeabi_unwind_cpp_pr0 _Unwind_Resume; do
    grep -q " $symbol$" <<< "$defined" || { echo "libgcc.sh: libgcc.a defines no $symbol" >&2; exit 1; }
done

# libstdc++'s members, compiled as libstdc++'s own build compiles them (C++11 sources: gnu++11,
# no implicit templates, a section per function) with Debian's configuration of libstdc++ (the
# installed headers), into a copy of Debian's archive in place of its ARMv5TE members.
cp "$($host-g++ -print-file-name=libstdc++.a)" "$cache_work/lib/libstdc++.a"
members=$($host-ar t "$cache_work/lib/libstdc++.a")
for source in $cxx_sources; do
    member=$(basename "$source" .cc).o
    $host-g++ -std=gnu++11 -fno-implicit-templates -ffunction-sections -fdata-sections \
        -O2 -g $arm_flags -c "$src/libstdc++-v3/src/$source" -o "$cache_work/$member"
    grep -qx "$member" <<< "$members" ||
        { echo "libgcc.sh: Debian's libstdc++.a has no $member" >&2; exit 1; }
    (cd "$cache_work" && $host-ar r lib/libstdc++.a "$member")
    echo "$member" >> "$cache_work/lib/libstdc++.armv4t"
done
cache_commit "$cache_work/lib" "$entry"
echo "-- libgcc for ARMv4T ready ($(( $(date +%s) - start )) s)" >&2
echo "$entry"
