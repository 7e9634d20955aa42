# Shared by the end-to-end scripts: the SDL 1.2 library that ringwave's runs use, named by
# RINGWAVE_TEST_SDL_STACK:
#   classic (or unset)  the library ringwave was linked with (classic SDL 1.2 on Debian 12)
#   sdl12-compat        sdl12-compat over this machine's SDL 2; RINGWAVE_TEST_SDL_DIR is the
#                       folder of its libSDL-1.2.so.0 (toolchain/sdl12-compat.sh)
#   debian13-sdl2       Debian 13's sdl12-compat over its SDL 2, and
#   debian13-sdl3       the same over sdl2-compat over SDL 3, both in the Debian 13 root that
#                       RINGWAVE_TEST_ROOT names (toolchain/debian13-root.sh)
# Sourced after $work is set. sdl_stack_setup PROGRAM sets sdl_env, the environment words
# every run of ringwave starts with, and sdl_program, the program to run: on the Debian 13
# root a copy of PROGRAM whose interpreter is the root's loader, which then finds the root's
# C library and SDL through LD_LIBRARY_PATH (the test's own tools stay on this machine's).
# The copy keeps PROGRAM's name: SDL names the window after it.
sdl_stack=${RINGWAVE_TEST_SDL_STACK:-classic}
sdl_root=
sdl_env=()

sdl_stack_setup() {
    local program=$1 libdir path dir
    # A desktop session's folder of its own: SDL 3 looks for a Wayland server there first.
    mkdir -m 700 "$work/runtime"
    sdl_env=("XDG_RUNTIME_DIR=$work/runtime")
    sdl_program=$program
    case "$sdl_stack" in
    classic) ;;
    sdl12-compat)
        sdl_lib=${RINGWAVE_TEST_SDL_DIR:?sdl12-compat needs RINGWAVE_TEST_SDL_DIR}
        [ -f "$sdl_lib/libSDL-1.2.so.0" ] || fail "no libSDL-1.2.so.0 in $sdl_lib"
        sdl_env+=("LD_LIBRARY_PATH=$sdl_lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}")
        ;;
    debian13-sdl2|debian13-sdl3)
        sdl_root=$(realpath "${RINGWAVE_TEST_ROOT:?$sdl_stack needs RINGWAVE_TEST_ROOT}")
        [ -f "$sdl_root/library-path" ] || fail "no Debian 13 root at $sdl_root"
        libdir=$sdl_root/$(head -n 1 "$sdl_root/library-path")
        sdl_lib=$libdir
        path=
        while read -r dir; do path=${path:+$path:}$sdl_root/$dir; done < "$sdl_root/library-path"
        sdl_env+=("LD_LIBRARY_PATH=$path")
        [ "$sdl_stack" = debian13-sdl3 ] &&
            sdl_env+=("SDL_DYNAMIC_API=$libdir/sdl2-compat/libSDL2-2.0.so.0")
        command -v patchelf > /dev/null || fail "patchelf is missing (scripts/deps.sh test)"
        mkdir -p "$work/bin"
        sdl_program=$work/bin/${program##*/}
        patchelf --set-interpreter "$sdl_root$(patchelf --print-interpreter "$program")" \
            --output "$sdl_program" "$program" || fail "cannot give $program the root's loader"
        ;;
    *) fail "unknown SDL stack '$sdl_stack'" ;;
    esac
}

# Code objects of a running process: the files it has mapped executable, one a line.
mapped_code() {
    awk '$2 ~ /x/ && $6 ~ /^\// { print $6 }' "/proc/$1/maps" 2> /dev/null | sort -u
}

# The objects listed on standard input (the code a run of ringwave loaded, one path a line)
# are the SDL stack meant: the SDL 1.2 library, SDL 2 or SDL 3 under it or not, and on the
# Debian 13 root nothing of this machine's but the program and the interposer $1 (optional).
expect_sdl_objects() {
    local preload=${1:-} objects sdl12 object
    objects=$(while read -r object; do realpath -m "$object"; done | sort -u)
    has() { grep -qx -- "$(realpath -m "$1")" <<< "$objects"; }
    any() { grep -q -- "$1" <<< "$objects"; }
    sdl12=$(grep -m1 '/libSDL-1\.2\.so' <<< "$objects")
    [ -n "$sdl12" ] || fail "no SDL 1.2 library loaded"
    case "$sdl_stack" in
    classic)
        ! any '/libSDL2-2\.0\.so' || fail "SDL 2 loaded under the classic SDL 1.2 ($sdl12)"
        ;;
    sdl12-compat)
        has "$sdl_lib/libSDL-1.2.so.0" || fail "loaded $sdl12, not the library in $sdl_lib"
        any '/libSDL2-2\.0\.so' || fail "sdl12-compat ran without SDL 2"
        ;;
    debian13-*)
        has "$sdl_lib/libSDL-1.2.so.0" || fail "loaded $sdl12, not Debian 13's sdl12-compat"
        has "$sdl_lib/libSDL2-2.0.so.0" || fail "Debian 13's SDL 2 not loaded"
        if [ "$sdl_stack" = debian13-sdl3 ]; then
            has "$sdl_lib/sdl2-compat/libSDL2-2.0.so.0" || fail "sdl2-compat not loaded"
            has "$sdl_lib/libSDL3.so.0" || fail "SDL 3 not loaded under sdl2-compat"
        else
            ! any '/libSDL3\.so' || fail "SDL 3 loaded where SDL 2 was meant"
            ! has "$sdl_lib/sdl2-compat/libSDL2-2.0.so.0" || fail "sdl2-compat loaded"
        fi
        local foreign
        foreign=$(grep -v -e "^$sdl_root/" -e "^$(realpath -m "$sdl_program")\$" \
                  ${preload:+-e "^$(realpath -m "$preload")\$"} <<< "$objects")
        [ -z "$foreign" ] || fail "code from outside the Debian 13 root loaded: $foreign"
        ;;
    esac
}
