#!/usr/bin/env bash
# The instruction check refuses what the processor cannot run and passes what it can: small
# static programs built with the device's compiler, each with one instruction of a later
# processor, or the same code where the check must let it through.
#   arm_isa_check_test.sh CC READELF OBJDUMP
set -u
cc=$1 readelf=$2 objdump=$3
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# program NAME FLAGS C_SOURCE: a static program from the source (its own main).
program() {
    local name=$1 flags=$2 source=$3
    printf '%s\n' "$source" > "$work/$name.c"
    # shellcheck disable=SC2086
    "$cc" -O2 -mfloat-abi=soft $flags -o "$work/$name" "$work/$name.c" 2> "$work/$name.log" ||
        { cat "$work/$name.log" >&2; echo "FAIL: cannot build $name" >&2; exit 1; }
}
# expect ARCH NAME passes|refuses [WORD]: the check's verdict, and WORD in its report.
expect() {
    local arch=$1 name=$2 verdict=$3 word=${4:-} status=0
    bash "$here/arm_isa_check.sh" "$arch" "$objdump" "$work/$name" > "$work/out" 2>&1 ||
        status=$?
    case $verdict in
    passes) [ "$status" = 0 ] || { fail "$arch: $name refused:"; cat "$work/out" >&2; } ;;
    refuses)
        [ "$status" = 1 ] || { fail "$arch: $name not refused (status $status)"; return; }
        [ -z "$word" ] || grep -qE "> [0-9a-f]+: $word[a-z]* " "$work/out" ||
            { fail "$arch: $name refused, but not for $word:"; cat "$work/out" >&2; } ;;
    esac
}

# A program whose function NAME counts leading zeros (a clz from ARMv5T on), with the further
# attributes ATTRIBUTES.
clz_source() {
    printf '%s\n' "__attribute__((noinline${2:-})) unsigned $1(unsigned x) { return __builtin_clz(x); }" \
        "int main(int argc, char** argv) { (void)argv; return (int)$1((unsigned)argc << 20); }"
}
load='__attribute__((noinline)) int load(const long long* p) {
    int low;
    __asm__ volatile("ldrd r2, r3, [%1]\n\tmov %0, r2" : "=r"(low) : "r"(p) : "r2", "r3");
    return low;
}
int main(int argc, char** argv) { (void)argc; return load((const long long*)argv); }'
field='__attribute__((noinline)) unsigned field(unsigned x) { return (x >> 3) & 31; }
int main(int argc, char** argv) { (void)argv; return (int)field((unsigned)argc); }'

# ARMv4T has no clz: the compiler calls libgcc's __clzsi2, whose ARMv4T form shifts.
program clz-v4t "-march=armv4t -marm" "$(clz_source leading)"
expect v4t clz-v4t passes
# The same program for ARMv5TE: one clz in the program's own code.
program clz-v5te "-march=armv5te -marm" "$(clz_source leading)"
expect v4t clz-v5te refuses clz
expect v5te clz-v5te passes
# And the whole device check refuses it too.
bash "$here/target_binary_check.sh" v4t "$readelf" "$objdump" "$work/clz-v5te" \
    "$work/clz-v5te" > "$work/out" 2>&1 && fail "target_binary_check.sh passed a clz"
# Code chosen at run time for a processor class may hold it: in a hwcap_ section, whatever its
# name; a name alone exempts nothing.
program clz-chosen "-march=armv5te -marm" "$(clz_source leading ', section("hwcap_edsp")')"
expect v4t clz-chosen passes
program clz-named "-march=armv5te -marm" "$(clz_source leading_v5te)"
expect v4t clz-named refuses clz
# ldrd (ARMv5TE).
program ldrd "-march=armv5te -marm" "$load"
expect v4t ldrd refuses ldrd
# movw/movt and the rest of ARMv7, refused even for ARMv5TE.
program v7 "-march=armv7-a -marm" "$field"
expect v5te v7 refuses ubfx
# The thread register (cp15 c13, ARMv6K): a coprocessor instruction.
program tls "-march=armv4t -marm" 'int main(void) { int r; __asm__ volatile("mrc p15, 0, %0, c13, c0, 3" : "=r"(r)); return r; }'
expect v4t tls refuses mrc
# Thumb code.
program thumb "-march=armv4t -mthumb" "$(clz_source leading)"
expect v4t thumb refuses
# NEON: in the hwcap_neon section it passes; the same loop in .text does not, even named _neon.
neon='#include <arm_neon.h>
SECTION void add_pixels(unsigned char* d, const unsigned char* a) { vst1q_u8(d, vaddq_u8(vld1q_u8(a), vld1q_u8(d))); }
int main(int argc, char** argv) { add_pixels((unsigned char*)argv[0], (const unsigned char*)argv[argc - 1]); return 0; }'
neon_flags="-march=armv7-a -mfpu=neon -mfloat-abi=softfp -marm"
program neon-chosen "$neon_flags" "${neon//SECTION/__attribute__((section(\"hwcap_neon\")))}"
# (main itself is ARMv7 code here: only the loop is checked against ARMv4T.)
bash "$here/arm_isa_check.sh" v4t "$objdump" "$work/neon-chosen" > "$work/out" 2>&1
grep -q '<add_pixels>' "$work/out" && fail "the hwcap_neon section's instructions refused"
grep -q '<main>' "$work/out" || fail "ARMv7 main not refused"
program neon-plain "$neon_flags" "${neon//SECTION/}"
bash "$here/arm_isa_check.sh" v4t "$objdump" "$work/neon-plain" > "$work/out" 2>&1
grep -qE '<add_pixels> [0-9a-f]+: v(ld1|add|st1)' "$work/out" || fail "NEON outside hwcap_neon passed"
program neon-named "$neon_flags" "$(sed 's/add_pixels/add_pixels_neon/g' <<< "${neon//SECTION/}")"
bash "$here/arm_isa_check.sh" v4t "$objdump" "$work/neon-named" > "$work/out" 2>&1
grep -qE '<add_pixels_neon> [0-9a-f]+: v(ld1|add|st1)' "$work/out" ||
    fail "NEON in a function named _neon, outside hwcap_neon, passed"

[ "$failures" = 0 ] || exit 1
echo "ok: the instruction check refuses clz, ldrd, ARMv7, cp15, Thumb and NEON outside the hwcap_ sections"
