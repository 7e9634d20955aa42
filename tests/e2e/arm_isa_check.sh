#!/usr/bin/env bash
# Every instruction of ARM files (executables, archives, objects) within an instruction set:
#   arm_isa_check.sh ARCH OBJDUMP FILE...        ARCH: v4t or v5te
# v4t: ARMv4T in ARM state, what an ARM920T or ARM7TDMI runs (ARM9TDMI-class devices);
# v5te: ARMv4T plus what ARMv5T and ARMv5TE added (clz, blx, bkpt, ldrd, strd, pld, the
# 16-bit multiplies smulxy/smlaxy/smulwy/smlawy/smlalxy and the saturating qadd/qsub/qdadd/qdsub).
# Anything else is refused: ARMv6's ldrex/strex, rev, sxtb/uxtb, ssat/usat, the SIMD-in-register
# forms (sadd16, uqadd8, ...), smlad/smuad/smmul, umaal, cps/srs/rfe/setend, the v6K hints
# (yield, wfe, wfi, sev, the hint form of nop); ARMv7's movw/movt, bfc/bfi/sbfx/ubfx, rbit,
# mls, the barriers dmb/dsb/isb, pli, sdiv/udiv; every VFP and NEON instruction (v...), the FPA
# ones (ldf, stf, adf, ...) and every coprocessor instruction (a user program on these
# processors has none to talk to; cp15's thread register is ARMv6K), Thumb code (but for the
# bx and nop of interworking stubs, see below), and encodings the disassembler cannot decode.
# The check is an allow list of ARMv4T's instructions, so an instruction nobody thought of is
# refused too.
#
# Skipped: the sections named hwcap_<class> (hwcap_neon, ...), where the program keeps the code
# it runs only when the kernel reports that processor class (src/effect/pixel_loops.h), and the
# EABI unwinder's save and restore routines of the VFP and iWMMXt registers
# (__gnu_Unwind_Save_VFP, ...): the unwinder calls them only for frames whose unwind tables say
# those registers were saved, which no code for these processors has.
set -u
arch=$1 objdump=$2
shift 2
case "$arch" in
v4t) name=ARMv4T ;;
v5te) name=ARMv5TE ;;
*) echo "FAIL: unknown instruction set '$arch' (v4t or v5te)" >&2; exit 2 ;;
esac
failures=0
for file in "$@"; do
    [ -r "$file" ] || { echo "FAIL: $file: not readable" >&2; failures=$((failures + 1)); continue; }
    report=$("$objdump" -d -C "$file" | awk -v arch="$arch" -v name="$name" -v limit=20 '
        function refuse(why) {
            count++
            if (count <= limit) printf "%s<%s> %s: %s %s (%s)\n", member, symbol, addr_text, $3, $4, why
        }
        BEGIN {
            FS = "\t"
            cond = "(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?"
            v4t = "^((and|eor|sub|rsb|add|adc|sbc|rsc|orr|mov|bic|mvn|lsl|lsr|asr|ror|rrx" \
                  "|mul|mla|umull|umlal|smull|smlal)s?" cond \
                  "|(tst|teq|cmp|cmn|adr|push|pop|b|bl|bx|swp|swpb|mrs|msr|svc|swi)" cond \
                  "|(ldr|str)(b|h|sb|sh|t|bt)?" cond \
                  "|(ldm|stm)(ia|ib|da|db|fd|fa|ed|ea)?" cond \
                  "|udf)$"
            v5te = "^((clz|blx|ldrd|strd|qadd|qsub|qdadd|qdsub" \
                   "|smla(bb|bt|tb|tt)|smlaw(b|t)|smlal(bb|bt|tb|tt)|smul(bb|bt|tb|tt)|smulw(b|t))" \
                   cond "|bkpt|pld)$"
            coprocessor = "^(cdp|cdp2|ldc|ldc2|stc|stc2|mcr|mcr2|mrc|mrc2|mcrr|mcrr2|mrrc|mrrc2)(l)?" cond "$"
            unwinder = "^__gnu_Unwind_(Save|Restore)_(VFP|VFP_D|VFP_D_16_to_31|WMMXD|WMMXC)$"
        }
        / file format / { member = $0; sub(/:.*/, "", member); member = member ": "; in_hwcap = 0; next }
        /^Disassembly of section / { in_hwcap = $0 ~ /^Disassembly of section hwcap_[A-Za-z0-9_]+:$/; next }
        /^[0-9a-f]+ <.*>:$/ {
            symbol = $0; sub(/^[0-9a-f]+ </, "", symbol); sub(/>:$/, "", symbol)
            plain = symbol; sub(/\(.*/, "", plain)
            in_unwinder = plain ~ unwinder
            next
        }
        /^ *[0-9a-f]+:\t/ {
            addr_text = $1; sub(/^ */, "", addr_text); sub(/:$/, "", addr_text)
            if (in_unwinder || in_hwcap) next
            word = $2; sub(/ +$/, "", word)
            m = $3
            if (m ~ /^\.(word|short|byte)$/) next                 # data in the code
            # Thumb: only the interworking stubs of the start files (_call_via_r0, ...: bx rN and
            # the nop mov r8, r8), there for Thumb callers, of which this code has none.
            if (word ~ /^47[0-7][0-9a-f]$/ || word == "46c0") next
            if (word !~ /^[0-9a-f]{8}$/) { refuse("Thumb code: ARM state only"); next }
            if (m == "" || $0 ~ /UNDEFINED/) { refuse("not a decodable instruction"); next }
            if (m == "nop") { if (word != "e1a00000") refuse("the ARMv6K hint form of nop"); next }
            if (m ~ coprocessor) { refuse("coprocessor instruction"); next }
            if (m ~ v4t) next
            if (m ~ v5te) { if (arch == "v4t") refuse("ARMv5T/ARMv5TE"); next }
            refuse("not in " name)
        }
        END { if (count > limit) printf "... %d more\n", count - limit; exit count > 0 }
    ')
    status=$?
    if [ "$status" != 0 ]; then
        echo "FAIL: $file: instructions beyond $name:" >&2
        echo "$report" | sed 's/^/  /' >&2
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] || exit 1
echo "ok: every instruction $name (ARM state), outside the hwcap_ sections"
