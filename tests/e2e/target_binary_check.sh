#!/usr/bin/env bash
# The device build is what the device needs: static executables (one file to copy, no loader
# or libraries on the device) for ARMv5TE without an FPU, with the effect's double arithmetic
# done by calls into the runtime's software floating point.
#   target_binary_check.sh READELF OBJDUMP EFFECT_LIBRARY EXECUTABLE...
set -u
readelf=$1 objdump=$2 effect=$3
shift 3
fail() { echo "FAIL: $*" >&2; exit 1; }

for exe in "$@"; do
    headers=$("$readelf" -lW "$exe") || fail "$exe: not readable"
    ! grep -qE '^\s*(INTERP|DYNAMIC)\s' <<< "$headers" || fail "$exe: dynamically linked"
    attributes=$("$readelf" -A "$exe")
    grep -q 'Tag_CPU_arch: v5TE$' <<< "$attributes" || fail "$exe: not built for ARMv5TE"
    # Any VFP or NEON use, or the hard-float calling convention, shows up as one of these.
    ! grep -qE 'Tag_(FP_arch|Advanced_SIMD_arch|ABI_VFP_args|ABI_HardFP_use)' <<< "$attributes" ||
        fail "$exe: uses the FPU: $(grep -E 'Tag_(FP|Advanced|ABI_VFP|ABI_HardFP)' <<< "$attributes")"
done

code=$("$objdump" -d "$effect") || fail "$effect: not readable"
! grep -qE '\s(v[a-z]+\.f(32|64)|vldr|vstr|vldm|vstm|vmov|vmrs)\s' <<< "$code" ||
    fail "$effect: contains VFP instructions"
for routine in __aeabi_dadd __aeabi_dmul __aeabi_ddiv; do
    grep -q "<$routine>" <<< "$code" || fail "$effect: no call to $routine (software doubles)"
done
echo "ok: static ARMv5TE executables, doubles in software"
