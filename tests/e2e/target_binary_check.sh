#!/usr/bin/env bash
# The device build is what the device needs: static executables (one file to copy, no loader
# or libraries on the device) whose every instruction the processor runs, without an FPU,
# with the effect's double arithmetic done by calls into the runtime's software floating point.
#   target_binary_check.sh ARCH READELF OBJDUMP EFFECT_LIBRARY EXECUTABLE...
# ARCH: v4t, the device build on uClibc-ng: every instruction of the executables, all of what
# is linked in, is ARMv4T; or v5te, the build on Debian's glibc for armel: the effect's
# instructions are ARMv5TE (glibc itself holds VFP and FPA code that it chooses at run time,
# and is Debian's to check). tests/e2e/arm_isa_check.sh checks the instructions, outside the
# code chosen at run time for one processor class (the hwcap_<class> sections).
set -u
arch=$1 readelf=$2 objdump=$3 effect=$4
shift 4
fail() { echo "FAIL: $*" >&2; exit 1; }

for exe in "$@"; do
    headers=$("$readelf" -lW "$exe") || fail "$exe: not readable"
    ! grep -qE '^\s*(INTERP|DYNAMIC)\s' <<< "$headers" || fail "$exe: dynamically linked"
    # The hard-float calling convention shows up as one of these; VFP and NEON instructions
    # themselves are refused by the instruction check.
    attributes=$("$readelf" -A "$exe")
    ! grep -qE 'Tag_ABI_(VFP_args|HardFP_use)' <<< "$attributes" ||
        fail "$exe: hard-float ABI: $(grep -E 'Tag_ABI_(VFP_args|HardFP_use)' <<< "$attributes")"
done
checked=("$@")
[ "$arch" = v4t ] || checked=("$effect")
bash "$(dirname "$0")/arm_isa_check.sh" "$arch" "$objdump" "${checked[@]}" || exit 1

code=$("$objdump" -d "$effect") || fail "$effect: not readable"
for routine in __aeabi_dadd __aeabi_dmul __aeabi_ddiv; do
    grep -q "<$routine>" <<< "$code" || fail "$effect: no call to $routine (software doubles)"
done
echo "ok: static executables, every instruction of ${checked[*]##*/} $arch outside the" \
     "hwcap_ sections, doubles in software"
