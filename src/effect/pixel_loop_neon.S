// The NEON loop, for 32-bit ARM processors whose kernel reports NEON (start-up reads AT_HWCAP
// once; elsewhere the word loop runs). Built for every 32-bit ARM build, ARM or Thumb-2, soft-
// or hard-float: ARM state and the NEON unit are asked for here, and the code lies in the
// section hwcap_neon, apart from the rest of the program, which is built for processors without
// NEON.
//
//   void composeRows_neon(const uint8_t* w0, const uint8_t* w1, const uint8_t* w2,
//                         uint8_t* pixels, int pitch)
//
// The 200 rows of 320 pixels, each the sum of the bytes under it in the three windows w0, w1
// and w2 of the 640-byte-wide ring table, into rows pitch bytes apart (pitch >= 320). The
// windows and the destination may start at any byte: vld1.8 and vst1.8 without an alignment
// hint take any address. A ring value is at most 85, so the byte adds never wrap.
//
// Per 32 pixels: three loads of 32 bytes, four 16-byte adds, one store; a row is ten such
// groups written out, the last one stepping each pointer on to the next row, and the loop's
// test: 82 instructions per 320 pixels. Uses only d0-d7 and d16-d31, which a callee need not
// keep, and r0-r3, r12 and r4-r5 (saved).

#if defined(__arm__)

    .syntax unified
    .arch armv7-a
    .fpu neon
    .arm
    .section hwcap_neon, "ax", %progbits

    .equ kRowBytes, 320       // pixels per row
    .equ kTableWidth, 640     // bytes per row of the ring table
    .equ kRows, 200
    .equ kGroupBytes, 32      // pixels per group
    .equ kGroupsPerRow, kRowBytes / kGroupBytes

// One group: 32 pixels from r0, r1 and r2 into r3, each pointer moved on by 32 bytes, or,
// for a row's last group (last = 1), the windows' by r4 and the destination's by r5. The q
// registers are the group's own set, so that the next group's loads (into the other set) can
// start before this one's adds finish.
.macro ADD_GROUP last, qa0, qa1, qb0, qb1, qc0, qc1, da, db, dc
.if \last
    vld1.8 {\da}, [r0], r4
    vld1.8 {\db}, [r1], r4
    vld1.8 {\dc}, [r2], r4
.else
    vld1.8 {\da}, [r0]!
    vld1.8 {\db}, [r1]!
    vld1.8 {\dc}, [r2]!
.endif
    vadd.i8 \qa0, \qa0, \qb0
    vadd.i8 \qa1, \qa1, \qb1
    vadd.i8 \qa0, \qa0, \qc0
    vadd.i8 \qa1, \qa1, \qc1
.if \last
    vst1.8 {\da}, [r3], r5
.else
    vst1.8 {\da}, [r3]!
.endif
.endm
.macro GROUP_EVEN last
    ADD_GROUP \last, q0, q1, q2, q3, q8, q9, d0-d3, d4-d7, d16-d19
.endm
.macro GROUP_ODD last
    ADD_GROUP \last, q10, q11, q12, q13, q14, q15, d20-d23, d24-d27, d28-d31
.endm

    .global composeRows_neon
    .type composeRows_neon, %function
    .p2align 2
composeRows_neon:
    push {r4, r5}
    ldr r5, [sp, #8]                          // pitch
    sub r5, r5, #(kRowBytes - kGroupBytes)    // destination step after a row's last group
    mov r4, #(kTableWidth - kRowBytes + kGroupBytes)  // the windows' step after it
    mov r12, #kRows
1:
    .rept (kGroupsPerRow - 2) / 2
    GROUP_EVEN 0
    GROUP_ODD 0
    .endr
    GROUP_EVEN 0
    GROUP_ODD 1
    subs r12, r12, #1
    bne 1b
    pop {r4, r5}
    bx lr
    .size composeRows_neon, . - composeRows_neon

// The object's attributes describe what the program as a whole needs: an ARM processor
// without FPU or NEON. The code above runs only where the kernel reports NEON.
    .object_arch armv4t
    .eabi_attribute Tag_CPU_name, "4T"
    .eabi_attribute Tag_THUMB_ISA_use, 1
    .eabi_attribute Tag_FP_arch, 0
    .eabi_attribute Tag_Advanced_SIMD_arch, 0

#endif

    .section .note.GNU-stack, "", %progbits
