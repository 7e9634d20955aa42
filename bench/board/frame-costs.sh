#!/usr/bin/env bash
# Where each frame goes on the emulated boards, per display path, for two builds of ringwave:
#   bench/board/frame-costs.sh [--before REV] [--after REV] [--paths PATH,...] [--out DIR]
#                                [--png FILE] [--again]
# REV: any git revision of this repository (default: before 8a741ab, the frame loop with the
# palette first everywhere; after HEAD). PATH: the paths the boards' folders list (their
# "bench" fields, named as boards/boards.py says; default all). DIR: where the runs, the
# per-run breakdowns (JSON) and the tables (frame-costs.md) go (default build/frame-costs).
# FILE: the picture, a stacked bar per display path (default docs/ringwave-frame-costs.png).
#
# Each revision's device binary is built from that revision's own sources and scripts
# (scripts/arm-build.sh in a copy of the tree). Every path boots its board under
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
python=/usr/bin/python3  # Debian's, with its matplotlib
# The measured paths, from the boards' folders (boards/boards.py): "PATH BOARD [WORDS]" a line.
path_table=$("$python" "$root/boards/boards.py" paths)
all_paths=$(cut -d' ' -f1 <<< "$path_table" | paste -sd, -)
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
    *) sed -n '2,10s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
done
short=1
long=3

# A path's board and the run's words on it (its environment first).
path_board() {
    awk -v p="$1" '$1 == p { print $2; found = 1 } END { exit !found }' <<< "$path_table" ||
        { echo "frame-costs.sh: unknown path $1 (known: $all_paths)" >&2; exit 2; }
}
path_words() { awk -v p="$1" '$1 == p { $1 = $2 = ""; print substr($0, 3) }' <<< "$path_table"; }
IFS=, read -r -a path_list <<< "$paths"
for path in "${path_list[@]}"; do path_board "$path" > /dev/null; done

"$root/scripts/deps.sh" arm board profile
# The kernels' folders the paths' boards boot (boards/debian-image.sh's for every board: its
# busybox), as the board test takes them: SCRIPT=FOLDER,...
image=$("$root/boards/debian-image.sh")
pieces=debian-image.sh=$image
for script in $(for path in "${path_list[@]}"; do
                    "$python" "$root/boards/boards.py" kernel "$(path_board "$path")"
                done | sort -u); do
    [ "$script" = debian-image.sh ] || pieces+=,$script=$("$root/boards/$script")
done
mkdir -p "$out"

# The board's own pieces from this tree: /init's helper vt_state, built for the device.
"$root/toolchain/uclibc-sysroot.sh" > /dev/null
harness=$out/harness
cmake -S "$root" -B "$harness" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-uclibcgnueabi.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_STATIC=ON -DRINGWAVE_BOARD_IMAGE="$image" \
      -DRINGWAVE_HOST_BUILD="$root/build/test" -DRINGWAVE_BUILD_BENCH=OFF > /dev/null
cmake --build "$harness" --target vt_state > /dev/null
vt_state=$harness/tests/board/vt_state

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

# One boot of BOARD with the profile of a run of SECONDS: into DIR (profile, kallsyms, rate).
profile_boot() {
    local board=$1 binary=$2 seconds=$3 dir=$4 words=$5 callees
    callees=$("$python" "$root/bench/board/frame_costs.py" callees "$binary" | tr ' ' ',')
    rm -rf "$dir"
    mkdir -p "$dir"
    # shellcheck disable=SC2086  # the words, split
    "$python" "$root/tests/board/board_e2e.py" profile "$board" "$pieces" "$binary" \
        "$vt_state" "$root/data/fb.modes" "$root/build/test/ringwave-snapshot" \
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
        board=$(path_board "$path")
        words=$(path_words "$path")
        # Runs are kept by path and commit: a later call with the same revisions only
        # tabulates again (--again boots anew).
        run=$out/runs/$path/$(basename "$(dirname "$(dirname "$(dirname "$binary")")")")
        if [ -n "$again" ] || [ ! -f "$run/short/rate" ] || [ ! -f "$run/long/rate" ]; then
            echo "==> $path, $build ($rev): boots of $short and $long seconds"
            profile_boot "$board" "$binary" "$short" "$run/short" "$words"
            profile_boot "$board" "$binary" "$long" "$run/long" "$words"
        fi
        "$python" "$root/bench/board/frame_costs.py" split "$binary" "$run/short" "$run/long" \
            "$run/$build.json" --path "$path" --build "$build" --revision "$rev"
        results+=("$run/$build.json")
    done
done
mkdir -p "$(dirname "$png")"
"$python" "$root/bench/board/frame_costs.py" report "$out/frame-costs.md" "$png" "${results[@]}"
echo
cat "$out/frame-costs.md"
echo
echo "Picture: $png"
