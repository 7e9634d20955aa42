#!/usr/bin/env bash
# Where each frame goes on the emulated boards, per display path, for two builds of ringwave:
#   bench/board/frame-costs.sh [--before REV] [--after REV] [--paths PATH,...] [--out DIR]
#                                [--png FILE] [--again]
# REV: any git revision of this repository (default: before 8a741ab, the frame loop with the
# palette first everywhere; after HEAD). PATH: display paths (below; default all). DIR: where
# the runs, the per-run breakdowns (JSON) and the tables (frame-costs.md) go (default
# build/frame-costs). FILE: the picture, a stacked bar per display path (default
# docs/ringwave-frame-costs.png).
#
# Each revision's device binary is built from that revision's own sources and scripts
# (scripts/arm-build.sh in a copy of the tree). Every display path boots its board under
# -icount shift=0 twice per build, ringwave running 1 and 3 seconds of the board's time, with
# a qemu plugin built from Debian's qemu source (bench/board/block_profile.c) that counts the
# instructions of every translated block; the board's /proc/kallsyms names the kernel's.
# bench/board/frame_costs.py takes the difference of the two boots block by block, maps user
# blocks to the static binary's functions (only blocks whose bytes are ringwave's), its linker
# map to the program, SDL, the C library and libgcc, charges the memory copies SDL's
# conversion calls to the conversion, and divides by the difference in frames (calls of
# SDL_SetColors). Run by hand (about two minutes a path and build); the counts are exact and
# repeat, so the tables can be compared across machines.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
before=8a741ab
after=HEAD
out=$root/build/frame-costs
png=$root/docs/ringwave-frame-costs.png
all_paths=vexpress-fb8,vexpress-fb8-hw,versatile-fb8,versatile-drm16,virt-drm32
paths=$all_paths
again=
while [ $# -gt 0 ]; do
    case "$1" in
    --before) before=$2; shift 2 ;;
    --after) after=$2; shift 2 ;;
    --paths) paths=$2; shift 2 ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --png) png=$(realpath -m "$2"); shift 2 ;;
    --again) again=1; shift ;;
    *) sed -n '2,8s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
done
python=/usr/bin/python3  # Debian's, with its matplotlib
short=1
long=3

# A display path: the board test's display (tests/board/board_e2e.sh), ringwave's words, and
# what the screen is.
path_display() {
    case "$1" in
    vexpress-fb8 | vexpress-fb8-hw) echo vexpress-fb8 ;;
    versatile-fb8 | versatile-drm16 | virt-drm32) echo "$1" ;;
    *) echo "frame-costs.sh: unknown display path $1 (known: $all_paths)" >&2; exit 2 ;;
    esac
}
path_words() {
    case "$1" in
    *-hw) echo "-hw" ;;
    *) echo "" ;;
    esac
}
path_screen() {
    case "$1" in
    vexpress-fb8) echo "vexpress-a9 (Cortex-A9), amba-clcd 320 × 200 × 8 with a palette" ;;
    vexpress-fb8-hw) echo "the same with -hw: drawn into the framebuffer, no shadow surface" ;;
    versatile-fb8) echo "versatilepb (ARM926EJ-S), amba-clcd 320 × 200 × 8 with a palette" ;;
    versatile-drm16) echo "versatilepb (ARM926EJ-S), DRM pl111, a 640 × 480 RGB565 panel" ;;
    virt-drm32) echo "virt (Cortex-A15), DRM virtio-gpu, a 1280 × 800 XRGB8888 panel" ;;
    esac
}
IFS=, read -r -a path_list <<< "$paths"
for path in "${path_list[@]}"; do path_display "$path" > /dev/null; done

"$root/scripts/deps.sh" arm board profile
image=$("$root/boards/debian-image.sh")
# The versatilepb board's kernel, built once and cached (about 9 minutes the first time).
kernel=-
case ",$paths," in *,versatile-*) kernel=$("$root/boards/versatile-kernel.sh") ;; esac
mkdir -p "$out"

# The board's own pieces from this tree: /init's helper vt_state, built for the device.
"$root/toolchain/uclibc-sysroot.sh" > /dev/null
harness=$out/harness
cmake -S "$root" -B "$harness" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-uclibcgnueabi.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_STATIC=ON -DRINGWAVE_BOARD_IMAGE="$image" \
      -DRINGWAVE_HOST_BUILD="$root/build/test" -DRINGWAVE_BUILD_BENCH=OFF > /dev/null
cmake --build "$harness" --target vt_state > /dev/null
vt_state=$harness/tests/vt_state

plugin=$("$root/bench/qemu-plugin.sh" block)

# The device binary of a revision, built by that revision's own scripts in a copy of its tree.
build_revision() {
    local rev=$1 sha src
    sha=$(git -C "$root" rev-parse --short=12 "$rev^{commit}")
    src=$out/src-$sha
    if [ ! -f "$src/build/arm-release/ringwave.map" ]; then
        echo "==> ringwave at $rev ($sha), device build" >&2
        rm -rf "$src"
        mkdir -p "$src"
        git -C "$root" archive "$sha" | tar -x -C "$src"
        "$src/scripts/arm-build.sh" > "$src.build.log" 2>&1 ||
            { tail -n 20 "$src.build.log" >&2; exit 1; }
    fi
    echo "$src/build/arm-release/ringwave"
}

# One boot of DISPLAY with the profile of a run of SECONDS: into DIR (profile, kallsyms, rate).
profile_boot() {
    local display=$1 binary=$2 seconds=$3 dir=$4 words=$5 callees
    callees=$("$python" "$root/bench/board/frame_costs.py" callees "$binary" | tr ' ' ',')
    rm -rf "$dir"
    mkdir -p "$dir"
    # shellcheck disable=SC2086  # the words, split
    bash "$root/tests/board/board_e2e.sh" profile "$display" "$image" "$kernel" "$binary" \
        "$vt_state" \
        "$root/data/fb.modes" "$root/build/test/ringwave-snapshot" \
        "$root/build/test/tests/frame_check" "$plugin,out=$dir/profile,$callees" "$seconds" \
        "$dir" $words > "$dir/board.log" 2>&1 ||
        { cat "$dir/board.log" >&2; exit 1; }
}

results=()
for build in before after; do
    rev=$before
    [ "$build" = after ] && rev=$after
    binary=$(build_revision "$rev")
    for path in "${path_list[@]}"; do
        display=$(path_display "$path")
        words=$(path_words "$path")
        # Runs are kept by path and commit: a later call with the same revisions only
        # tabulates again (--again boots anew).
        run=$out/runs/$path/$(basename "$(dirname "$(dirname "$(dirname "$binary")")")")
        if [ -n "$again" ] || [ ! -f "$run/short/rate" ] || [ ! -f "$run/long/rate" ]; then
            echo "==> $path, $build ($rev): boots of $short and $long seconds"
            profile_boot "$display" "$binary" "$short" "$run/short" "$words"
            profile_boot "$display" "$binary" "$long" "$run/long" "$words"
        fi
        "$python" "$root/bench/board/frame_costs.py" split "$binary" "$run/short" "$run/long" \
            "$run/$build.json" --path "$path" --build "$build" --revision "$rev" \
            --display "$(path_screen "$path")"
        results+=("$run/$build.json")
    done
done
mkdir -p "$(dirname "$png")"
"$python" "$root/bench/board/frame_costs.py" report "$out/frame-costs.md" "$png" "${results[@]}"
echo
cat "$out/frame-costs.md"
echo
echo "Picture: $png"
