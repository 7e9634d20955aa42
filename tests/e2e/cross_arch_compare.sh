#!/usr/bin/env bash
# The same frames on the host and on the device: runs the host's and the cross-built tools
# (the latter under the emulator) and compares their output byte for byte.
#   cross_arch_compare.sh snapshots "SEED [FRAME...]" HOST_SNAPSHOT TARGET_SNAPSHOT EMULATOR [ARGS...]
#   cross_arch_compare.sh effect "TRIPLES" HOST_DUMP TARGET_DUMP EMULATOR [ARGS...]
# snapshots: ringwave-snapshot's BMP for SEED at the FRAMEs given, or at small and large
# frames (up to 2^53).
# effect: effect_dump's whole ring table and the palettes and origins of runs of frames.
# On x86-64 glibc's libm picks an FMA-contracted sin on CPUs that have FMA, which can differ
# from the plain one in the last bit; the host side runs both ways, and both must match.
set -u
mode=$1 what=$2 host_tool=$3 target_tool=$4
shift 4
emulator=("$@")
[ ${#emulator[@]} -gt 0 ] || { echo "FAIL: no emulator given" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The host's maths library as chosen for this CPU, and restricted to its plain (no FMA, no
# AVX2) code path: the path every x86-64 CPU has.
host_variants=(default plain)
run_host() {
    local variant=$1; shift
    if [ "$variant" = plain ]; then
        GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA "$host_tool" "$@"
    else
        "$host_tool" "$@"
    fi
}

compare() {
    local label=$1 target_file=$2 variant host_file
    for variant in "${host_variants[@]}"; do
        host_file=$work/host-$variant
        if ! cmp -s "$host_file" "$target_file"; then
            echo "DIFFERS ($variant maths): $label: $(cmp "$host_file" "$target_file" 2>&1 | head -n 1)"
            failures=$((failures + 1))
        fi
    done
}

case "$mode" in
snapshots)
    # Frames: the first ones, an ordinary one, around 2^31 (where a 32-bit count would wrap)
    # and 2^32, and the largest counts a double holds exactly (2^53 - 1, 2^53).
    read -r what frames <<< "$what"
    [ -n "$frames" ] ||
        frames="1 2 1000 123457 2147483647 2147483648 4294967297 9007199254740991 9007199254740992"
    for frame in $frames; do
        for variant in "${host_variants[@]}"; do
            run_host "$variant" "$what" "$frame" "$work/host-$variant.bmp" ||
                { echo "FAIL: host snapshot $what $frame" >&2; exit 1; }
            mv "$work/host-$variant.bmp" "$work/host-$variant"
        done
        "${emulator[@]}" "$target_tool" "$what" "$frame" "$work/target.bmp" ||
            { echo "FAIL: target snapshot $what $frame" >&2; exit 1; }
        [ -s "$work/target.bmp" ] || { echo "FAIL: empty snapshot" >&2; exit 1; }
        compare "seed $what frame $frame" "$work/target.bmp"
    done
    ;;
effect)
    read -r -a triples <<< "$what"
    for variant in "${host_variants[@]}"; do
        run_host "$variant" "${triples[@]}" > "$work/host-$variant" ||
            { echo "FAIL: host effect_dump" >&2; exit 1; }
    done
    "${emulator[@]}" "$target_tool" "${triples[@]}" > "$work/target" ||
        { echo "FAIL: target effect_dump" >&2; exit 1; }
    [ "$(stat -c %s "$work/target")" -gt 256000 ] || { echo "FAIL: short dump" >&2; exit 1; }
    compare "ring table and frames $what" "$work/target"
    ;;
*)
    echo "FAIL: unknown mode $mode" >&2; exit 1 ;;
esac
[ "$failures" = 0 ] || { echo "FAIL: $failures comparisons differ" >&2; exit 1; }
echo "ok: $mode $what: host (maths: ${host_variants[*]}) and target give identical bytes"
