#include "effect/compositor.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "effect/compositor_paths.h"
#include "effect/integer_sine.h"
#include "effect/processor_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr double kHalf = 0.5;

// A window's origin is trunc(((sin(a) + 1) * 0.5) * span) for the angle a = t * speed and the
// span 320 or 200: v = (span / 2) (1 + sin a), from 0 to the span. The sine is estimated in
// integers (effect/integer_sine.h) as (span / 4) sin a in units of 2^-54: sector rows in units
// of 2^-30 turned by (span / 4) cos b and (span / 4) sin b in units of 2^-24; the top word of
// that is (span / 2) sin a in units of 2^-21, and with span / 2 added, v in units of 2^-21.
// How far that can be from the formula's value, in units of 2^-21 of v (at most 320):
//   sector rows, rounded to 2^-31                160 * 2^-31 * (cos b + sin b)  7.6e-8   0.16
//   the rotation, 0.6 units of 2^-24 of span/4   2 * 0.6 * 2^-24 * 1.415        1.0e-7   0.22
//   the low word of the sum dropped (the floor)                                 4.8e-7   1
//   the angle's turn, short by 2^-44 turn at most    160 * 2 pi * 2^-44          5.7e-11  0
//   the library's sine (one ulp), + 1 and * span rounded                         7e-14    0
// in all below 1.4 units. The margin, 4 units (1.9e-6), leaves room for a library sine off by
// up to 7e-9. The formula is taken only for an estimate within the margin of an integer (about
// one origin in 260,000), and for angles the turns do not cover (negative, or 2^50 and more).
struct WindowSpan {
    double span;
    integer_sine::Amplitude quarter;  // span / 4
    std::uint32_t middle;             // span / 2 in units of 2^-21
};
constexpr int kOriginFractionBits = 21;
constexpr int kOriginFractionShift = 32 - kOriginFractionBits;
constexpr std::uint32_t kOriginMargin = 4;
static_assert(integer_sine::amplitudeIsSound(kScreenWidth / 4) &&
                  integer_sine::amplitudeIsSound(kScreenHeight / 4),
              "span / 4 * 2 pi * 2^22 rounds soundly");
constexpr WindowSpan kSpanX = {kScreenWidth, integer_sine::makeAmplitude(kScreenWidth / 4),
                               (kScreenWidth / 2) << kOriginFractionBits};
constexpr WindowSpan kSpanY = {kScreenHeight, integer_sine::makeAmplitude(kScreenHeight / 4),
                               (kScreenHeight / 2) << kOriginFractionBits};

unsigned windowStart(double angle, const WindowSpan& span) {
    const std::uint64_t bits = integer_sine::bitsOf(angle);
    if (bits < integer_sine::kTurnLimitBits) {
        const std::uint64_t turns = integer_sine::turnsOf(integer_sine::decompose(bits));
        const integer_sine::Rotation rotation = integer_sine::rotation(turns, span.quarter);
        const integer_sine::SectorRow& row =
            integer_sine::kSectorTable.rows[turns >> integer_sine::kSectorShift];
        const std::int64_t sum =
            std::int64_t{row.sine} * rotation.cosine + std::int64_t{row.cosine} * rotation.sine;
        const std::uint32_t value =
            static_cast<std::uint32_t>(sum >> 32) + span.middle + kOriginMargin;
        if ((value << kOriginFractionShift) >= (2 * kOriginMargin) << kOriginFractionShift) {
            return value >> kOriginFractionBits;
        }
    }
    return static_cast<unsigned>(((std::sin(angle) + 1.0) * kHalf) * span.span);
}

// A ring value is at most 85, so the sum of three never exceeds 255: adding whole words of
// table bytes never carries from one byte into the next, and one word add is as many pixel
// adds as the word has bytes. Every path below is exact for that reason alone.

#if defined(__SSE2__)

constexpr int kVectorBytes = 16;  // pixels per SSE2 add; 320 is 20 of them

// Sixteen pixels per step. Unaligned loads and stores cost nothing extra here, so the
// windows and the destination may start at any byte.
void composeRow(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                std::uint8_t* dst) {
    for (int i = 0; i < kScreenWidth; i += kVectorBytes) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w0 + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w1 + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w2 + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_add_epi8(_mm_add_epi8(a, b), c));
    }
}

void composeRowsVector(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                       std::uint8_t* pixels, int pitch) {
    for (int j = 0; j < kScreenHeight; ++j) {
        composeRow(w0, w1, w2, pixels);
        w0 += kRingTableWidth;
        w1 += kRingTableWidth;
        w2 += kRingTableWidth;
        pixels += pitch;
    }
}

#endif

#if defined(RINGWAVE_NEON_LOOP)

// compositor_neon.S: all 200 rows of 320 pixels from the three windows, rows pitch bytes
// apart. Its row and table widths are fixed there.
extern "C" void composeRows_neon(const std::uint8_t* w0, const std::uint8_t* w1,
                                 const std::uint8_t* w2, std::uint8_t* pixels, int pitch);
static_assert(kScreenWidth == 320 && kScreenHeight == 200 && kRingTableWidth == 640,
              "the sizes compositor_neon.S is written for");

#endif

// One pixel per add: row heads and tails of the word path, and the whole frame without copies.
void composeBytes(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                  std::uint8_t* dst, int count) {
    for (int i = 0; i < count; ++i) dst[i] = w0[i] + w1[i] + w2[i];
}

void composeRowsBytes(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                      std::uint8_t* pixels, int pitch) {
    for (int j = 0; j < kScreenHeight; ++j) {
        composeBytes(w0, w1, w2, pixels + static_cast<std::ptrdiff_t>(j) * pitch, kScreenWidth);
        w0 += kRingTableWidth;
        w1 += kRingTableWidth;
        w2 += kRingTableWidth;
    }
}

// The word path, for processors without unaligned word loads (ARMv5 has none: an unaligned
// word read would be four byte reads). Each window is read as aligned words from the word copy
// of its byte offset (RingWords); a few head bytes bring each destination row to a word
// boundary, so every store in between is an aligned word too.

using Word = std::uint32_t;
typedef Word __attribute__((may_alias)) AliasedWord;  // pixels are bytes
constexpr int kWordBytes = sizeof(Word);
constexpr std::uintptr_t kWordMask = kWordBytes - 1;

std::uintptr_t offsetOf(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p) & kWordMask;
}

constexpr int kRowWords = kScreenWidth / kWordBytes;  // 80 words of pixels per row

// Whole words, four pixels each, from three aligned word runs into an aligned destination.
// addWordRuns takes any count; addRowWords one row's 80 words and moves the pointers past
// them. On ARM four words per window at a time: one load-multiple per window, four adds per
// window after the first, one store-multiple; under 0.9 instructions per pixel.
#if defined(__arm__) && !defined(__thumb__) && defined(__OPTIMIZE__)

constexpr int kGroupWords = 4;  // words per load-multiple

#define RINGWAVE_ADD_WORD_GROUP           \
    "ldmia %[a]!, {r4, r5, r6, r7}\n\t"   \
    "ldmia %[b]!, {r8, r9, r10, r12}\n\t" \
    "add r4, r4, r8\n\t"                  \
    "add r5, r5, r9\n\t"                  \
    "add r6, r6, r10\n\t"                 \
    "add r7, r7, r12\n\t"                 \
    "ldmia %[c]!, {r8, r9, r10, r12}\n\t" \
    "add r4, r4, r8\n\t"                  \
    "add r5, r5, r9\n\t"                  \
    "add r6, r6, r10\n\t"                 \
    "add r7, r7, r12\n\t"                 \
    "stmia %[d]!, {r4, r5, r6, r7}\n\t"

void addWordRuns(const Word* a, const Word* b, const Word* c, AliasedWord* dst, int words) {
    constexpr int kStepWords = 2 * kGroupWords;
    int steps = words / kStepWords;
    if (steps > 0) {
        asm volatile("1:\n\t" RINGWAVE_ADD_WORD_GROUP RINGWAVE_ADD_WORD_GROUP
                     "subs %[n], %[n], #1\n\t"
                     "bne 1b\n\t"
                     : [a] "+r"(a), [b] "+r"(b), [c] "+r"(c), [d] "+r"(dst), [n] "+r"(steps)
                     :
                     : "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r12", "cc", "memory");
    }
    for (int i = 0; i < words % kStepWords; ++i) dst[i] = a[i] + b[i] + c[i];
}

// The groups of a row written out, with no counter: the row loop around it then keeps its
// pointers, strides and row count in the registers the groups leave free.
void addRowWords(const Word*& a, const Word*& b, const Word*& c, AliasedWord*& dst) {
    static_assert(kRowWords % kGroupWords == 0, "whole groups per row");
    asm volatile(".rept %c[groups]\n\t" RINGWAVE_ADD_WORD_GROUP ".endr\n\t"
                 : [a] "+r"(a), [b] "+r"(b), [c] "+r"(c), [d] "+r"(dst)
                 : [groups] "i"(kRowWords / kGroupWords)
                 : "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r12", "memory");
}

#undef RINGWAVE_ADD_WORD_GROUP

#else

void addWordRuns(const Word* a, const Word* b, const Word* c, AliasedWord* dst, int words) {
    for (int i = 0; i < words; ++i) dst[i] = a[i] + b[i] + c[i];
}

void addRowWords(const Word*& a, const Word*& b, const Word*& c, AliasedWord*& dst) {
    addWordRuns(a, b, c, dst, kRowWords);
    a += kRowWords;
    b += kRowWords;
    c += kRowWords;
    dst += kRowWords;
}

#endif

// Byte position p of the table is word p / 4 of copy p % 4.
const Word* wordAt(const RingWords& rings, std::size_t p) {
    return rings.copies[p & kWordMask] + p / kWordBytes;
}

void composeRowsAligned(const RingWords& rings, const std::size_t starts[kLayerCount],
                        std::uint8_t* pixels, int pitch) {
    if (offsetOf(pixels) == 0 && (pitch & kWordMask) == 0) {
        // Every row starts on a word boundary (the usual surface): whole rows of words, and
        // each window's words found once per frame.
        constexpr int kTableSkipWords = (kRingTableWidth - kScreenWidth) / kWordBytes;
        const Word* a = wordAt(rings, starts[0]);
        const Word* b = wordAt(rings, starts[1]);
        const Word* c = wordAt(rings, starts[2]);
        AliasedWord* dst = reinterpret_cast<AliasedWord*>(pixels);
        const int pitchSkipWords = (pitch - kScreenWidth) / kWordBytes;
        for (int j = 0; j < kScreenHeight; ++j) {
            addRowWords(a, b, c, dst);
            a += kTableSkipWords;
            b += kTableSkipWords;
            c += kTableSkipWords;
            dst += pitchSkipWords;
        }
        return;
    }
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(rings.copies[0]);
    std::size_t s0 = starts[0], s1 = starts[1], s2 = starts[2];
    for (int j = 0; j < kScreenHeight; ++j) {
        std::uint8_t* dst = pixels + static_cast<std::ptrdiff_t>(j) * pitch;
        const int head = static_cast<int>((kWordBytes - offsetOf(dst)) & kWordMask);
        const int words = (kScreenWidth - head) / kWordBytes;
        const int tailStart = head + words * kWordBytes;
        composeBytes(bytes + s0, bytes + s1, bytes + s2, dst, head);
        addWordRuns(wordAt(rings, s0 + head), wordAt(rings, s1 + head), wordAt(rings, s2 + head),
                    reinterpret_cast<AliasedWord*>(dst + head), words);
        composeBytes(bytes + s0 + tailStart, bytes + s1 + tailStart, bytes + s2 + tailStart,
                     dst + tailStart, kScreenWidth - tailStart);
        s0 += kRingTableWidth;
        s1 += kRingTableWidth;
        s2 += kRingTableWidth;
    }
}

std::size_t windowStartByte(const LayerOrigin& origin) {
    return static_cast<std::size_t>(origin.y0) * kRingTableWidth + origin.x0;
}

struct Windows {
    const std::uint8_t* w0;
    const std::uint8_t* w1;
    const std::uint8_t* w2;
};

Windows windowsOf(const RingTable& table, const LayerOrigin origins[kLayerCount]) {
    return Windows{table.bytes + windowStartByte(origins[0]),
                   table.bytes + windowStartByte(origins[1]),
                   table.bytes + windowStartByte(origins[2])};
}

}  // namespace

LayerOrigin layerOrigin(double t, double speedX, double speedY) {
    return LayerOrigin{windowStart(t * speedX, kSpanX), windowStart(t * speedY, kSpanY)};
}

void computeLayerOrigins(double t, const EffectParams& params, LayerOrigin origins[kLayerCount]) {
    for (int k = 0; k < kLayerCount; ++k) {
        origins[k] = layerOrigin(t, params.driftSpeed[2 * k], params.driftSpeed[2 * k + 1]);
    }
}

void fillRingWords(const RingTable& table, RingWords* words) {
    for (int copy = 0; copy < kWordCopies; ++copy) {
        std::uint8_t* out = reinterpret_cast<std::uint8_t*>(words->copies[copy]);
        const int available = kRingTableBytes - copy;
        std::memcpy(out, table.bytes + copy, available);
        std::memset(out + available, 0, copy);
    }
}

const char* pixelLoopName(PixelLoop loop) {
    switch (loop) {
        case PixelLoop::kBytes:
            return "bytes";
        case PixelLoop::kWords:
            return "words";
        case PixelLoop::kNeon:
            return "neon";
        case PixelLoop::kVector:
            return "sse2";
    }
    return "?";
}

RingLayout buildRingLayoutFor(const RingTable* table, std::uint32_t hwcap) {
#if defined(__SSE2__)
    (void)hwcap;  // the copies would only cost memory and start-up time here
    return RingLayout{table, nullptr, PixelLoop::kVector};
#else
#if defined(RINGWAVE_NEON_LOOP)
    if ((hwcap & kHwcapNeon) != 0) return RingLayout{table, nullptr, PixelLoop::kNeon};
#else
    (void)hwcap;
#endif
    RingWords* words = static_cast<RingWords*>(std::malloc(sizeof(RingWords)));
    if (words == nullptr) return RingLayout{table, nullptr, PixelLoop::kBytes};
    fillRingWords(*table, words);
    return RingLayout{table, words, PixelLoop::kWords};
#endif
}

RingLayout buildRingLayout(const RingTable* table) {
    return buildRingLayoutFor(table, processorHwcap());
}

#if defined(__SSE2__)
void composeLayersVector(const RingTable& table, const LayerOrigin origins[kLayerCount],
                         std::uint8_t* pixels, int pitch) {
    const Windows w = windowsOf(table, origins);
    composeRowsVector(w.w0, w.w1, w.w2, pixels, pitch);
}
#endif

#if defined(RINGWAVE_NEON_LOOP)
void composeLayersNeon(const RingTable& table, const LayerOrigin origins[kLayerCount],
                       std::uint8_t* pixels, int pitch) {
    const Windows w = windowsOf(table, origins);
    composeRows_neon(w.w0, w.w1, w.w2, pixels, pitch);
}
#endif

void composeLayersWords(const RingWords& words, const LayerOrigin origins[kLayerCount],
                        std::uint8_t* pixels, int pitch) {
    std::size_t starts[kLayerCount];
    for (int k = 0; k < kLayerCount; ++k) starts[k] = windowStartByte(origins[k]);
    composeRowsAligned(words, starts, pixels, pitch);
}

void composeLayersBytes(const RingTable& table, const LayerOrigin origins[kLayerCount],
                        std::uint8_t* pixels, int pitch) {
    const Windows w = windowsOf(table, origins);
    composeRowsBytes(w.w0, w.w1, w.w2, pixels, pitch);
}

void composeLayers(const RingLayout& ring, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch) {
    switch (ring.loop) {
#if defined(__SSE2__)
        case PixelLoop::kVector:
            composeLayersVector(*ring.table, origins, pixels, pitch);
            return;
#endif
#if defined(RINGWAVE_NEON_LOOP)
        case PixelLoop::kNeon:
            composeLayersNeon(*ring.table, origins, pixels, pitch);
            return;
#endif
        case PixelLoop::kWords:
            if (ring.words != nullptr) {
                composeLayersWords(*ring.words, origins, pixels, pitch);
                return;
            }
            break;
        default:
            break;
    }
    // The table alone: a layout without copies, or naming a loop this build lacks.
    composeLayersBytes(*ring.table, origins, pixels, pitch);
}

void composeFrame(double t, const EffectParams& params, const RingLayout& ring,
                  std::uint8_t* pixels, int pitch) {
    LayerOrigin origins[kLayerCount];
    computeLayerOrigins(t, params, origins);
    composeLayers(ring, origins, pixels, pitch);
}
