// The 64-bit ARM loop: Advanced SIMD, which every AArch64 processor has, straight from the
// table.
//
//   void composeRowsAsimd(const uint8_t* w0, const uint8_t* w1, const uint8_t* w2,
//                         uint8_t* pixels, int pitch)
//
// The 200 rows of 320 pixels, each the sum of the bytes under it in the three windows w0, w1
// and w2 of the 640-byte-wide ring table, into rows pitch bytes apart (pitch >= 320). The
// windows and the destination may start at any byte: ld1 and st1 of bytes take any address.
// A ring value is at most 85, so the byte adds never wrap.
//
// Per 64 pixels: three loads of four registers, eight 16-byte adds, one store; a row is five
// such groups written out, the last one stepping each pointer on to the next row, and the
// loop's test: 62 instructions per 320 pixels. Uses only v0-v7 and v16-v31 and x0-x6, none of
// which a callee need keep.

#if defined(__aarch64__)

    .text

    .equ kRowBytes, 320       // pixels per row
    .equ kTableWidth, 640     // bytes per row of the ring table
    .equ kRows, 200
    .equ kGroupBytes, 64      // pixels per group

// One group: 64 pixels from x0, x1 and x2 into x3, each pointer moved on by 64 bytes, or, for
// a row's last group (last = 1), the windows' by x5 and the destination's by x4. Two register
// sets take turns, so that the next group's loads can start before this one's adds finish.
.macro ADD_GROUP last, a0, a1, a2, a3, b0, b1, b2, b3, c0, c1, c2, c3
.if \last
    ld1 {\a0\().16b-\a3\().16b}, [x0], x5
    ld1 {\b0\().16b-\b3\().16b}, [x1], x5
    ld1 {\c0\().16b-\c3\().16b}, [x2], x5
.else
    ld1 {\a0\().16b-\a3\().16b}, [x0], #kGroupBytes
    ld1 {\b0\().16b-\b3\().16b}, [x1], #kGroupBytes
    ld1 {\c0\().16b-\c3\().16b}, [x2], #kGroupBytes
.endif
    add \a0\().16b, \a0\().16b, \b0\().16b
    add \a1\().16b, \a1\().16b, \b1\().16b
    add \a2\().16b, \a2\().16b, \b2\().16b
    add \a3\().16b, \a3\().16b, \b3\().16b
    add \a0\().16b, \a0\().16b, \c0\().16b
    add \a1\().16b, \a1\().16b, \c1\().16b
    add \a2\().16b, \a2\().16b, \c2\().16b
    add \a3\().16b, \a3\().16b, \c3\().16b
.if \last
    st1 {\a0\().16b-\a3\().16b}, [x3], x4
.else
    st1 {\a0\().16b-\a3\().16b}, [x3], #kGroupBytes
.endif
.endm
.macro GROUP_EVEN last
    ADD_GROUP \last, v0, v1, v2, v3, v4, v5, v6, v7, v16, v17, v18, v19
.endm
.macro GROUP_ODD last
    ADD_GROUP \last, v20, v21, v22, v23, v24, v25, v26, v27, v28, v29, v30, v31
.endm

    .global composeRowsAsimd
    .type composeRowsAsimd, %function
    .p2align 4
composeRowsAsimd:
    sxtw x4, w4                                  // pitch
    sub x4, x4, #(kRowBytes - kGroupBytes)       // destination step after a row's last group
    mov x5, #(kTableWidth - kRowBytes + kGroupBytes)  // the windows' step after it
    mov w6, #kRows
1:
    GROUP_EVEN 0
    GROUP_ODD 0
    GROUP_EVEN 0
    GROUP_ODD 0
    GROUP_EVEN 1
    subs w6, w6, #1
    b.ne 1b
    ret
    .size composeRowsAsimd, . - composeRowsAsimd

#endif

    .section .note.GNU-stack, "", %progbits
