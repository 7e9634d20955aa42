#!/usr/bin/env bash
# The device's C library: uClibc-ng 1.0.35, from the source Debian's uclibc-source ships, for
# ARM EABI little-endian, ARMv5TE, software floating point, with libm and threads (native
# POSIX threads with TLS), against the kernel headers of linux-libc-dev-armel-cross. Installed
# with two compiler wrappers that run Debian's arm-linux-gnueabi gcc and g++ on it:
#   toolchain/uclibc-toolchain.sh [LINK]        (default LINK: build/uclibc-toolchain)
# The toolchain folder is cached under ${XDG_CACHE_HOME:-~/.cache}/ringwave/, named by a key of
# this script and the versions of the packages it builds from; LINK is a symbolic link to it.
# It is built in a scratch folder and renamed into place only when complete. About 11 minutes
# on two cores the first time.
#
# The folder: usr/include (uClibc-ng's and the kernel's headers), usr/lib (crt1.o, crti.o,
# crtn.o, libc.a, libm.a, libpthread.a, ...), include-c++ (libstdc++'s configuration adjusted
# to this C library), bin/arm-linux-uclibcgnueabi-gcc and -g++ (see the wrapper below).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The link itself is replaced, not what it points to.
link=${1:-$root/build/uclibc-toolchain}
link=$(realpath -m "$(dirname "$link")")/$(basename "$link")
version=1.0.35
tarball=/usr/src/uClibc-ng-$version.tar.xz
host=arm-linux-gnueabi
arm_flags="-march=armv5te -marm -mfloat-abi=soft"
jobs=2

packages="uclibc-source linux-libc-dev-armel-cross cpp-12-arm-linux-gnueabi"
versions=$(dpkg-query -W -f='${Package} ${Version}\n' $packages) ||
    { echo "uclibc-toolchain.sh: needs $packages (scripts/deps.sh arm)" >&2; exit 1; }
. "$root/scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit, cache_link
toolchain=$cache_dir/uclibc-ng-$version-$( { cat "$0"; echo "$versions"; } | cache_key)
if ! cache_begin "$toolchain" bin/arm-linux-uclibcgnueabi-gcc; then
    cache_link "$toolchain" "$link"
    echo "uClibc-ng toolchain up to date: $toolchain"
    exit 0
fi
work=$cache_work
start=$(date +%s)
echo "-- uClibc-ng $version for $host (ARMv5TE, soft float): about 11 minutes on two cores"
tar -xJf "$tarball" -C "$work"
src=$work/uClibc-ng-$version
prefix=$work/toolchain

# The kernel's user-space headers only, as linux-libc-dev-armel-cross installs them beside
# glibc's in /usr/arm-linux-gnueabi/include.
kernel_headers=$work/kernel-headers
dpkg-query -L linux-libc-dev-armel-cross | grep "^/usr/$host/include/" | while read -r file; do
    [ -f "$file" ] || continue
    target=$kernel_headers/${file#/usr/$host/include/}
    mkdir -p "${target%/*}"
    cp "$file" "$target"
done
[ -f "$kernel_headers/linux/version.h" ] || { echo "no kernel headers copied" >&2; exit 1; }

# A minimal configuration: everything off but what is named here. Without the MMU options
# the build is a no-MMU one (FDPIC). Shared objects are built too: a static-only libc.a
# misses the dynamic loader's _dl_pagesize and _dl_tls_static_size. Sockets, advanced
# realtime and GNU getopt are needed by parts that a minimal build still compiles.
cat > "$work/fragment.config" <<CONFIG
TARGET_arm=y
TARGET_ARCH="arm"
CONFIG_ARM_EABI=y
ARCH_LITTLE_ENDIAN=y
ARCH_WANTS_LITTLE_ENDIAN=y
ARCH_HAS_MMU=y
ARCH_USE_MMU=y
UCLIBC_HAS_FLOATS=y
UCLIBC_HAS_SOFT_FLOAT=y
DO_C99_MATH=y
DO_XSI_MATH=y
UCLIBC_HAS_LONG_DOUBLE_MATH=y
KERNEL_HEADERS="$kernel_headers"
DOPIC=y
HAVE_SHARED=y
UCLIBC_CTOR_DTOR=y
UCLIBC_HAS_THREADS=y
UCLIBC_HAS_THREADS_NATIVE=y
UCLIBC_HAS_TLS=y
UCLIBC_HAS_LFS=y
MALLOC_STANDARD=y
UCLIBC_DYNAMIC_ATEXIT=y
UCLIBC_SUSV3_LEGACY=y
UCLIBC_SUSV4_LEGACY=y
UCLIBC_HAS_PROGRAM_INVOCATION_NAME=y
UCLIBC_HAS___PROGNAME=y
UCLIBC_LINUX_SPECIFIC=y
UCLIBC_HAS_GNU_ERROR=y
UCLIBC_BSD_SPECIFIC=y
UCLIBC_HAS_REALTIME=y
UCLIBC_HAS_ADVANCED_REALTIME=y
UCLIBC_HAS_NETWORK_SUPPORT=y
UCLIBC_HAS_SOCKET=y
UCLIBC_HAS_IPV4=y
UCLIBC_HAS_STRING_GENERIC_OPT=y
UCLIBC_HAS_STRING_ARCH_OPT=y
UCLIBC_HAS_CTYPE_TABLES=y
UCLIBC_HAS_CTYPE_SIGNED=y
UCLIBC_HAS_CTYPE_UNSAFE=y
UCLIBC_HAS_WCHAR=y
UCLIBC_HAS_HEXADECIMAL_FLOATS=y
UCLIBC_HAS_STDIO_BUFSIZ_4096=y
UCLIBC_HAS_STDIO_BUILTIN_BUFFER_NONE=y
UCLIBC_HAS_STDIO_GETC_MACRO=y
UCLIBC_HAS_STDIO_PUTC_MACRO=y
UCLIBC_HAS_STDIO_AUTO_RW_TRANSITION=y
UCLIBC_HAS_FOPEN_LARGEFILE_MODE=y
UCLIBC_HAS_FOPEN_EXCLUSIVE_MODE=y
UCLIBC_HAS_FOPEN_CLOSEEXEC_MODE=y
UCLIBC_HAS_ERRNO_MESSAGES=y
UCLIBC_HAS_SIGNUM_MESSAGES=y
UCLIBC_HAS_GNU_GETOPT=y
UCLIBC_HAS_GETOPT_LONG=y
RUNTIME_PREFIX="/"
DEVEL_PREFIX="/usr/"
CROSS_COMPILER_PREFIX="$host-"
UCLIBC_EXTRA_CFLAGS="$arm_flags"
UCLIBC_BUILD_NOEXECSTACK=y
DOSTRIP=y
WARNINGS="-Wall"
CONFIG
(
    cd "$src"
    KCONFIG_ALLCONFIG=$work/fragment.config make ARCH=arm allnoconfig > "$work/config.log" 2>&1 ||
        { tail -n 40 "$work/config.log" >&2; exit 1; }
    # allnoconfig drops, without a word, what its dependencies rule out: every line must stay.
    missing=$(grep -vxFf .config "$work/fragment.config" || true)
    [ -z "$missing" ] || { echo "uClibc-ng configuration dropped: $missing" >&2; exit 1; }
    ! grep -qE '^(UCLIBC_HAS_FPU|UCLIBC_FORMAT_FDPIC_ELF)=y' .config ||
        { echo "uClibc-ng configuration: FPU or FDPIC chosen" >&2; exit 1; }
    make -j$jobs > "$work/make.log" 2>&1 || { tail -n 60 "$work/make.log" >&2; exit 1; }
    make PREFIX="$prefix" install > "$work/install.log" 2>&1 ||
        { tail -n 40 "$work/install.log" >&2; exit 1; }
)
cp -R "$kernel_headers/." "$prefix/usr/include/"
for part in crt1.o crti.o crtn.o libc.a libm.a libpthread.a librt.a libdl.a; do
    [ -f "$prefix/usr/lib/$part" ] || { echo "uClibc-ng installed no usr/lib/$part" >&2; exit 1; }
done

# libstdc++'s headers were configured on glibc and announce C functions uClibc-ng 1.0.35
# does not have (<cstdlib> and <ctime> would name them with using-declarations). This
# configuration header comes first in the include order, includes Debian's, and withdraws
# those announcements; everything else stays as Debian configured it.
mkdir -p "$prefix/include-c++/bits"
cat > "$prefix/include-c++/bits/c++config.h" <<'HEADER'
// libstdc++'s configuration, as Debian's cross compiler has it, on uClibc-ng 1.0.35.
#include_next <bits/c++config.h>
#ifdef __UCLIBC__
#undef _GLIBCXX_HAVE_AT_QUICK_EXIT
#undef _GLIBCXX_HAVE_QUICK_EXIT
#undef _GLIBCXX_HAVE_TIMESPEC_GET
#endif
HEADER

# The compiler wrappers. One script for both; the name says which driver it runs.
mkdir -p "$prefix/bin"
cat > "$prefix/bin/arm-linux-uclibcgnueabi-gcc" <<'WRAPPER'
#!/bin/sh
# Debian's arm-linux-gnueabi cross compiler on uClibc-ng: compiles with this folder's headers
# only (-nostdinc: never glibc's) and links statically (-static -no-pie) with this folder's
# start files and archives only (-nostdlib). A library named with -l is looked up here first,
# so uClibc-ng's libm.a and libpthread.a take the place of glibc's. From Debian's compiler it
# uses libgcc (software floating point, unwinding), its own headers (stddef.h, stdarg.h, ...)
# and, for C++, libstdc++.
#   arm-linux-uclibcgnueabi-gcc | arm-linux-uclibcgnueabi-g++ [gcc options...]
tc=$(cd "$(dirname "$0")/.." && pwd)
gcclib=@GCCLIB@         # libgcc, crtbeginT.o, libstdc++.a, the compiler's headers
cxxinc=@CXXINC@         # libstdc++'s headers
# Search paths from the environment would reach past the folders named here.
unset CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH LIBRARY_PATH GCC_EXEC_PREFIX
case ${0##*/} in
*++) driver=arm-linux-gnueabi-g++ cxx=1 ;;
*) driver=arm-linux-gnueabi-gcc cxx=0 ;;
esac

# Only compiling, preprocessing or asking: no start files and libraries.
link=1
for arg in "$@"; do
    case $arg in
    -c|-S|-E|-M|-MM|-v|-###|--version|--help|-dump*|-print-*) link=0 ;;
    -shared) echo "${0##*/}: static executables only" >&2; exit 1 ;;
    esac
done
[ $# -gt 0 ] || link=0

# Headers: libstdc++ (C++ only: its configuration through include-c++), the compiler's own,
# then uClibc-ng's and the kernel's.
set -- -nostdinc "$@"
if [ $cxx = 1 ]; then
    set -- -nostdinc++ "$@" -isystem "$cxxinc" -isystem "$tc/include-c++" \
        -isystem "$cxxinc/arm-linux-gnueabi" -isystem "$cxxinc/backward"
fi
set -- -fno-pie "$@" -isystem "$gcclib/include" -isystem "$tc/usr/include"

if [ $link = 1 ]; then
    cxxlibs=
    [ $cxx = 1 ] && cxxlibs="-lstdc++ -lm"
    # shellcheck disable=SC2086
    set -- -static -no-pie -nostdlib -L"$tc/usr/lib" \
        "$tc/usr/lib/crt1.o" "$tc/usr/lib/crti.o" "$gcclib/crtbeginT.o" "$@" $cxxlibs \
        -Wl,--start-group -lgcc -lgcc_eh -lc -Wl,--end-group \
        "$gcclib/crtend.o" "$tc/usr/lib/crtn.o"
fi
exec $driver "$@"
WRAPPER
# Debian's compiler's own folders, as this compiler version has them.
gcclib=$(dirname "$($host-gcc -print-libgcc-file-name)")
cxxinc=$(realpath "$($host-g++ -print-file-name=include)/../../../../../$host/include/c++/$(basename "$gcclib")") ||
    { echo "uclibc-toolchain.sh: no libstdc++ headers for $host-g++" >&2; exit 1; }
[ -f "$cxxinc/cstdlib" ] || { echo "uclibc-toolchain.sh: no libstdc++ headers in $cxxinc" >&2; exit 1; }
sed -i -e "s|@GCCLIB@|$gcclib|" -e "s|@CXXINC@|$cxxinc|" "$prefix/bin/arm-linux-uclibcgnueabi-gcc"
chmod +x "$prefix/bin/arm-linux-uclibcgnueabi-gcc"
ln -s arm-linux-uclibcgnueabi-gcc "$prefix/bin/arm-linux-uclibcgnueabi-g++"

cache_commit "$prefix" "$toolchain"
cache_link "$toolchain" "$link"
echo "uClibc-ng toolchain ready ($(( $(date +%s) - start )) s): $toolchain"
