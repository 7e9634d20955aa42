# Shared by the end-to-end scripts: the SDL 1.2 stack that ringwave's runs use, a row of
# tests/sdl-stacks.txt named by RINGWAVE_TEST_SDL_STACK (unset: the linked one), its library
# in the folder RINGWAVE_TEST_SDL_DIR. Sourced after $work and fail are set; sets the row's
# sdl_stack, sdl_load, sdl_under, sdl_screen and sdl_x8.
# sdl_stack_setup PROGRAM sets sdl_env, the environment words every run of ringwave starts
# with, and sdl_program, the program to run: on a root a copy of PROGRAM whose interpreter is
# the root's loader, which then finds the root's C library and SDL through LD_LIBRARY_PATH
# (the test's own tools stay on this machine's). The copy keeps PROGRAM's name: SDL names the
# window after it.
sdl_root=
sdl_env=()
sdl_stack=
read -r sdl_stack _ _ sdl_load sdl_under sdl_screen sdl_x8 _ < <(
    awk -v name="${RINGWAVE_TEST_SDL_STACK:-}" '/^[^# ]/ &&
        ($1 == name || name == "" && $4 == "linked") { print; exit }' \
        "$(dirname "${BASH_SOURCE[0]}")/../sdl-stacks.txt")
[ -n "$sdl_stack" ] || fail "no SDL stack '${RINGWAVE_TEST_SDL_STACK:-}' in tests/sdl-stacks.txt"

sdl_stack_setup() {
    local program=$1 libdir path dir
    # A desktop session's folder of its own: SDL 3 looks for a Wayland server there first.
    mkdir -m 700 "$work/runtime"
    sdl_env=("XDG_RUNTIME_DIR=$work/runtime")
    sdl_program=$program
    sdl_lib=${RINGWAVE_TEST_SDL_DIR:-}
    case "$sdl_load" in
    linked) ;;
    folder)
        [ -f "$sdl_lib/libSDL-1.2.so.0" ] || fail "no libSDL-1.2.so.0 in '$sdl_lib'"
        sdl_env+=("LD_LIBRARY_PATH=$sdl_lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}")
        ;;
    root)
        sdl_root=$(realpath "$sdl_lib")
        [ -f "$sdl_root/library-path" ] || fail "no system root at '$sdl_lib'"
        libdir=$sdl_root/$(head -n 1 "$sdl_root/library-path")
        sdl_lib=$libdir
        path=
        while read -r dir; do path=${path:+$path:}$sdl_root/$dir; done < "$sdl_root/library-path"
        sdl_env+=("LD_LIBRARY_PATH=$path")
        command -v patchelf > /dev/null || fail "patchelf is missing (scripts/deps.sh test)"
        mkdir -p "$work/bin"
        sdl_program=$work/bin/${program##*/}
        patchelf --set-interpreter "$sdl_root$(patchelf --print-interpreter "$program")" \
            --output "$sdl_program" "$program" || fail "cannot give $program the root's loader"
        ;;
    *) fail "SDL stack $sdl_stack: unknown load '$sdl_load'" ;;
    esac
    [ "$sdl_under" = sdl3 ] && sdl_env+=("SDL_DYNAMIC_API=$sdl_lib/sdl2-compat/libSDL2-2.0.so.0")
    return 0
}

# Code objects of a running process: the files it has mapped executable, one a line.
mapped_code() {
    awk '$2 ~ /x/ && $6 ~ /^\// { print $6 }' "/proc/$1/maps" 2> /dev/null | sort -u
}

# The objects listed on standard input (the code a run of ringwave loaded, one path a line)
# are the SDL stack meant: the SDL 1.2 library, SDL 2 or SDL 3 under it or not, and on a
# root nothing of this machine's but the program and the interposer $1 (optional).
expect_sdl_objects() {
    local preload=${1:-} objects sdl12 object
    objects=$(while read -r object; do realpath -m "$object"; done | sort -u)
    has() { grep -qx -- "$(realpath -m "$1")" <<< "$objects"; }
    any() { grep -q -- "$1" <<< "$objects"; }
    sdl12=$(grep -m1 '/libSDL-1\.2\.so' <<< "$objects")
    [ -n "$sdl12" ] || fail "no SDL 1.2 library loaded"
    if [ "$sdl_load" != linked ]; then
        has "$sdl_lib/libSDL-1.2.so.0" || fail "loaded $sdl12, not the library in $sdl_lib"
    fi
    case "$sdl_under" in
    -)
        ! any '/libSDL2-2\.0\.so' || fail "SDL 2 loaded under the classic SDL 1.2 ($sdl12)"
        ;;
    sdl2|sdl3)
        # SDL 2: the root's on a root, this machine's otherwise.
        if [ "$sdl_load" = root ]; then
            has "$sdl_lib/libSDL2-2.0.so.0" || fail "the root's SDL 2 not loaded"
        else
            any '/libSDL2-2\.0\.so' || fail "$sdl_stack ran without SDL 2"
        fi
        if [ "$sdl_under" = sdl3 ]; then
            has "$sdl_lib/sdl2-compat/libSDL2-2.0.so.0" || fail "sdl2-compat not loaded"
            has "$sdl_lib/libSDL3.so.0" || fail "SDL 3 not loaded under sdl2-compat"
        else
            ! any '/libSDL3\.so' || fail "SDL 3 loaded where SDL 2 was meant"
            ! any '/sdl2-compat/' || fail "sdl2-compat loaded"
        fi
        ;;
    *) fail "SDL stack $sdl_stack: unknown 'under' $sdl_under" ;;
    esac
    if [ "$sdl_load" = root ]; then
        local foreign
        foreign=$(grep -v -e "^$sdl_root/" -e "^$(realpath -m "$sdl_program")\$" \
                  ${preload:+-e "^$(realpath -m "$preload")\$"} <<< "$objects")
        [ -z "$foreign" ] || fail "code from outside the root loaded: $foreign"
    fi
    return 0
}
