#!/usr/bin/env bash
# The device programs are linked with uClibc-ng and nothing of glibc: read from the linker's
# map written beside each program (PROGRAM.map), and from the program's symbols.
#   libc_link_check.sh TOOLCHAIN GLIBC_LIBDIR NM BUILD_DIR EXECUTABLE...
# TOOLCHAIN: the uClibc-ng toolchain folder (toolchain/uclibc-toolchain.sh); GLIBC_LIBDIR: where
# the cross compiler keeps glibc's archives and start files (/usr/arm-linux-gnueabi/lib);
# BUILD_DIR: the build tree, whose objects and archives are the program's own. Each program
# is linked in its own folder, against which the map's relative names are resolved.
# - every file the linker loaded is the build's own, SDL's or the toolchain's (uClibc-ng and
#   the compiler's runtime for ARMv4T: libgcc, crtbeginT.o, crtend.o, libstdc++), none lies in
#   GLIBC_LIBDIR nor in Debian's compiler folder (its libgcc and libstdc++ are ARMv5TE);
# - of libstdc++, only the members rebuilt for ARMv4T (listed in usr/lib/libstdc++.armv4t);
# - the start files, the C library's members and sin and sqrt (where the program has them)
#   come from TOOLCHAIN;
# - the program starts through uClibc-ng (__uClibc_main) and has none of glibc's start-up
#   functions.
set -u
toolchain=$(realpath "$1") glibc_libdir=$(realpath "$2") nm=$3 build=$(realpath "$4")
shift 4
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -f "$toolchain/usr/lib/libc.a" ] || fail "no uClibc-ng toolchain at $1"
[ -f "$glibc_libdir/libc.a" ] || fail "no glibc archives at $2"
compiler_libdir=$(realpath "$(dirname "$(arm-linux-gnueabi-gcc -print-libgcc-file-name)")")
[ -f "$toolchain/usr/lib/libstdc++.armv4t" ] || fail "no list of libstdc++'s ARMv4T members"

for exe in "$@"; do
    map=$exe.map
    [ -f "$map" ] || fail "$exe: no link map $map"
    [ ! "$exe" -nt "$map" ] || fail "$map: older than $exe"
    name=${exe##*/}
    exe_dir=$(dirname "$exe")
    # Input files ("LOAD file" lines) and the archives members were taken from ("archive(member)"
    # at the start of a line in the map's first section), each once, as absolute paths: the
    # map names them as the link in the program's folder saw them.
    archives=$(sed -n '/^Archive member included/,/^Discarded input sections/p' "$map" |
               grep -oE '^[^ ()]+\.a\(' | tr -d '(')
    mapfile -t inputs < <({ sed -n 's/^LOAD \(.*\)$/\1/p' "$map" | grep -v '^linker stubs$'
                            echo "$archives"; } | sort -u)
    [ ${#inputs[@]} -gt 1 ] && [ -n "$archives" ] || fail "$map: no inputs or members listed"
    resolved=$(cd "$exe_dir" && realpath -m -- "${inputs[@]}") || fail "$map: unreadable names"
    while read -r path; do
        case $path in
        "$glibc_libdir"/*) fail "$name: linked glibc's $path" ;;
        "$compiler_libdir"/*) fail "$name: linked Debian's ARMv5TE $path" ;;
        "$toolchain"/usr/lib/*) ;;
        */libSDL.a | "$build"/*) ;;
        *) fail "$name: linked $path, neither the toolchain's, SDL's nor the build's" ;;
        esac
    done <<< "$resolved"
    # libstdc++'s members in the map, as "libstdc++.a(member)" where they are included.
    cxx_members=$(sed -n '/^Archive member included/,/^Discarded input sections/p' "$map" |
                  grep -oE '^[^ ()]*libstdc\+\+\.a\([^)]+\)' | sed 's/.*(\(.*\))/\1/' | sort -u)
    for member in $cxx_members; do
        grep -qxF "$member" "$toolchain/usr/lib/libstdc++.armv4t" ||
            fail "$name: takes $member from libstdc++, which toolchain/libgcc.sh does not build for ARMv4T"
    done
    for start in crt1.o crti.o crtn.o libc.a libgcc.a crtbeginT.o crtend.o; do
        grep -qx "$toolchain/usr/lib/$start" <<< "$resolved" || fail "$name: no $start from the toolchain"
    done
    symbols=$("$nm" "$exe") || fail "$exe: no symbols"
    # The functions that decide the frames, in the programs that have them (ringwave-console
    # computes none), from uClibc-ng's archives (1.0.35 keeps libm's members in libc.a too):
    # the member listed just before the reference that pulled it in.
    for function in sin sqrt; do
        grep -qE " T $function\$" <<< "$symbols" || [ "$name" != ringwave-console ] || continue
        provider=$(awk -v ref="($function)" '/^[^ ]+\.a\(/ { member = $1 }
                   substr($0, length($0) - length(ref) + 1) == ref { print member; exit }' "$map")
        [ -n "$provider" ] || fail "$name: $function not taken from any archive"
        case $(cd "$exe_dir" && realpath -m -- "${provider%%(*}") in
        "$toolchain/usr/lib/libc.a" | "$toolchain/usr/lib/libm.a") ;;
        *) fail "$name: $function from $provider, not from uClibc-ng" ;;
        esac
    done

    grep -qE ' T __uClibc_main$' <<< "$symbols" || fail "$name: no __uClibc_main"
    # glibc's static start-up (csu/libc-start.c, csu/init-first.c, elf/dl-support.c), and the
    # marker its crt1.o brings.
    glibc_start='__libc_start_main|__libc_start_call_main|__libc_early_init|__libc_init_first'
    glibc_only=$(grep -oE " ($glibc_start|_dl_non_dynamic_init|_IO_stdin_used)\$" <<< "$symbols")
    [ -z "$glibc_only" ] || fail "$name: glibc's start-up functions:$(echo $glibc_only)"
    echo "ok: $name: uClibc-ng only"
done
