#include "effect/compositor.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr double kHalf = 0.5;

unsigned windowStart(double wave, double span) {
    return static_cast<unsigned>(((wave + 1.0) * kHalf) * span);
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

// The word path from the table alone, for processors without unaligned word loads (ARMv5
// has none: an unaligned word read would be four byte reads) when there are no word copies
// of the table (see RingWords; with them every load is aligned). The destination decides the
// alignment: a few head
// bytes bring it to a word boundary, then every store is an aligned word. A window whose
// bytes then sit at offset R inside their words is read as aligned words too, and each of its
// words is put together from two neighbours: the high bytes of the previous one and the low
// bytes of the next. The two pieces share no byte, so they can be added into the sum
// separately (no carries, as above): an offset costs one shifted add per word and no more.

using Word = std::uint32_t;
typedef Word __attribute__((may_alias)) AliasedWord;  // table and pixels are bytes
constexpr int kWordBytes = sizeof(Word);
constexpr std::uintptr_t kWordMask = kWordBytes - 1;
constexpr int kWordBits = 32;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr Word earlierPart(Word w, int bits) {
    return w << bits;
}
constexpr Word laterPart(Word w, int bits) {
    return w >> bits;
}
#else
// Little-endian: the byte at the lower address is the low byte of the word.
constexpr Word earlierPart(Word w, int bits) {
    return w >> bits;
}
constexpr Word laterPart(Word w, int bits) {
    return w << bits;
}
#endif

// One window read as aligned words, its bytes Offset places into the first of them.
template <int Offset>
struct WindowWords {
    const AliasedWord* next;  // the next aligned word to load
    Word previous;            // the last word loaded (offset windows only)

    explicit WindowWords(const std::uint8_t* start)
        : next(reinterpret_cast<const AliasedWord*>(start - Offset)), previous(0) {
        if (Offset != 0) previous = *next++;
    }

    // The next four window bytes, as a word in memory order.
    Word take() {
        if constexpr (Offset == 0) {
            return *next++;
        } else {
            const Word current = *next++;
            const Word word =
                earlierPart(previous, Offset * 8) + laterPart(current, kWordBits - Offset * 8);
            previous = current;
            return word;
        }
    }
};

// The aligned middle of one row: words of four pixels, two at a time (the compiler keeps
// each window's pair in registers and can load it with one instruction).
template <int Offset0, int Offset1, int Offset2>
void composeWords(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                  AliasedWord* dst, int words) {
    WindowWords<Offset0> a(w0);
    WindowWords<Offset1> b(w1);
    WindowWords<Offset2> c(w2);
    AliasedWord* const end = dst + words;
    for (; end - dst >= 2; dst += 2) {
        const Word a0 = a.take(), a1 = a.take();
        const Word b0 = b.take(), b1 = b.take();
        const Word c0 = c.take(), c1 = c.take();
        dst[0] = a0 + b0 + c0;
        dst[1] = a1 + b1 + c1;
    }
    if (dst != end) *dst = a.take() + b.take() + c.take();
}

using WordsFunction = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*,
                               AliasedWord*, int);

template <int Offset0, int Offset1>
constexpr WordsFunction kWordsByLastOffset[kWordBytes] = {
    composeWords<Offset0, Offset1, 0>, composeWords<Offset0, Offset1, 1>,
    composeWords<Offset0, Offset1, 2>, composeWords<Offset0, Offset1, 3>};

template <int Offset0>
constexpr const WordsFunction* kWordsByMiddleOffset[kWordBytes] = {
    kWordsByLastOffset<Offset0, 0>, kWordsByLastOffset<Offset0, 1>, kWordsByLastOffset<Offset0, 2>,
    kWordsByLastOffset<Offset0, 3>};

// Every combination of the three windows' offsets, each loop with its shifts as constants.
constexpr const WordsFunction* const* kWordsByOffsets[kWordBytes] = {
    kWordsByMiddleOffset<0>, kWordsByMiddleOffset<1>, kWordsByMiddleOffset<2>,
    kWordsByMiddleOffset<3>};

std::uintptr_t offsetOf(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p) & kWordMask;
}

void composeBytes(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                  std::uint8_t* dst, int count) {
    for (int i = 0; i < count; ++i) dst[i] = w0[i] + w1[i] + w2[i];
}

void composeRowsWords(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                      std::uint8_t* pixels, int pitch) {
    for (int j = 0; j < kScreenHeight; ++j) {
        std::uint8_t* dst = pixels + static_cast<std::ptrdiff_t>(j) * pitch;
        // Head bytes up to the destination's first word boundary, aligned words, tail bytes.
        const int head = static_cast<int>((kWordBytes - offsetOf(dst)) & kWordMask);
        const int words = (kScreenWidth - head) / kWordBytes;
        const int tailStart = head + words * kWordBytes;
        composeBytes(w0, w1, w2, dst, head);
        const WordsFunction composeMiddle =
            kWordsByOffsets[offsetOf(w0 + head)][offsetOf(w1 + head)][offsetOf(w2 + head)];
        composeMiddle(w0 + head, w1 + head, w2 + head, reinterpret_cast<AliasedWord*>(dst + head),
                      words);
        composeBytes(w0 + tailStart, w1 + tailStart, w2 + tailStart, dst + tailStart,
                     kScreenWidth - tailStart);
        w0 += kRingTableWidth;
        w1 += kRingTableWidth;
        w2 += kRingTableWidth;
    }
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

// Whole words, four pixels each, from three aligned word runs into an aligned destination.
// Eight words per window at a time: on ARM two load-multiples per window, the adds, and two
// store-multiples, under 0.9 instructions per pixel.
#if defined(__arm__) && !defined(__thumb__) && defined(__OPTIMIZE__)
void addWordRuns(const Word* a, const Word* b, const Word* c, AliasedWord* dst, int words) {
    constexpr int kStepWords = 8;
    int steps = words / kStepWords;
    if (steps > 0) {
        asm volatile(
            "1:\n\t"
            "ldmia %[a]!, {r4, r5, r6, r7}\n\t"
            "ldmia %[b]!, {r8, r9, r10, r12}\n\t"
            "add r4, r4, r8\n\t"
            "add r5, r5, r9\n\t"
            "add r6, r6, r10\n\t"
            "add r7, r7, r12\n\t"
            "ldmia %[c]!, {r8, r9, r10, r12}\n\t"
            "add r4, r4, r8\n\t"
            "add r5, r5, r9\n\t"
            "add r6, r6, r10\n\t"
            "add r7, r7, r12\n\t"
            "stmia %[d]!, {r4, r5, r6, r7}\n\t"
            "ldmia %[a]!, {r4, r5, r6, r7}\n\t"
            "ldmia %[b]!, {r8, r9, r10, r12}\n\t"
            "add r4, r4, r8\n\t"
            "add r5, r5, r9\n\t"
            "add r6, r6, r10\n\t"
            "add r7, r7, r12\n\t"
            "ldmia %[c]!, {r8, r9, r10, r12}\n\t"
            "add r4, r4, r8\n\t"
            "add r5, r5, r9\n\t"
            "add r6, r6, r10\n\t"
            "add r7, r7, r12\n\t"
            "stmia %[d]!, {r4, r5, r6, r7}\n\t"
            "subs %[n], %[n], #1\n\t"
            "bne 1b\n\t"
            : [a] "+r"(a), [b] "+r"(b), [c] "+r"(c), [d] "+r"(dst), [n] "+r"(steps)
            :
            : "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r12", "cc", "memory");
    }
    for (int i = 0; i < words % kStepWords; ++i) dst[i] = a[i] + b[i] + c[i];
}
#else
void addWordRuns(const Word* a, const Word* b, const Word* c, AliasedWord* dst, int words) {
    for (int i = 0; i < words; ++i) dst[i] = a[i] + b[i] + c[i];
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
        constexpr int kRowWords = kScreenWidth / kWordBytes;
        constexpr int kTableRowWords = kRingTableWidth / kWordBytes;
        const Word* a = wordAt(rings, starts[0]);
        const Word* b = wordAt(rings, starts[1]);
        const Word* c = wordAt(rings, starts[2]);
        AliasedWord* dst = reinterpret_cast<AliasedWord*>(pixels);
        const int pitchWords = pitch / kWordBytes;
        for (int j = 0; j < kScreenHeight; ++j) {
            addWordRuns(a, b, c, dst, kRowWords);
            a += kTableRowWords;
            b += kTableRowWords;
            c += kTableRowWords;
            dst += pitchWords;
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
    return Windows{table.bytes + origins[0].y0 * kRingTableWidth + origins[0].x0,
                   table.bytes + origins[1].y0 * kRingTableWidth + origins[1].x0,
                   table.bytes + origins[2].y0 * kRingTableWidth + origins[2].x0};
}

}  // namespace

LayerOrigin layerOrigin(double t, double speedX, double speedY) {
    const double sx = std::sin(t * speedX);
    const double sy = std::sin(t * speedY);
    return LayerOrigin{windowStart(sx, kScreenWidth), windowStart(sy, kScreenHeight)};
}

void computeLayerOrigins(double t, const EffectParams& params, LayerOrigin origins[kLayerCount]) {
    for (int k = 0; k < kLayerCount; ++k) {
        origins[k] = layerOrigin(t, params.driftSpeed[2 * k], params.driftSpeed[2 * k + 1]);
    }
}

void composeLayersWords(const RingTable& table, const LayerOrigin origins[kLayerCount],
                        std::uint8_t* pixels, int pitch) {
    const Windows w = windowsOf(table, origins);
    // Whole aligned words of a word-aligned table never reach outside it (its size is a
    // multiple of the word). A table at any other address is summed byte by byte.
    if (offsetOf(table.bytes) != 0) {
        composeRowsBytes(w.w0, w.w1, w.w2, pixels, pitch);
        return;
    }
    composeRowsWords(w.w0, w.w1, w.w2, pixels, pitch);
}

void composeLayers(const RingTable& table, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch) {
#if defined(__SSE2__)
    const Windows w = windowsOf(table, origins);
    composeRowsVector(w.w0, w.w1, w.w2, pixels, pitch);
#else
    composeLayersWords(table, origins, pixels, pitch);
#endif
}

void composeFrame(double t, const EffectParams& params, const RingTable& table,
                  std::uint8_t* pixels, int pitch) {
    LayerOrigin origins[kLayerCount];
    computeLayerOrigins(t, params, origins);
    composeLayers(table, origins, pixels, pitch);
}

void fillRingWords(const RingTable& table, RingWords* words) {
    for (int copy = 0; copy < kWordCopies; ++copy) {
        std::uint8_t* out = reinterpret_cast<std::uint8_t*>(words->copies[copy]);
        const int available = kRingTableBytes - copy;
        std::memcpy(out, table.bytes + copy, available);
        std::memset(out + available, 0, copy);
    }
}

RingWords* buildRingWords(const RingTable& table) {
#if defined(__SSE2__)
    (void)table;
    return nullptr;  // the copies would only cost memory and start-up time here
#else
    RingWords* words = static_cast<RingWords*>(std::malloc(sizeof(RingWords)));
    if (words != nullptr) fillRingWords(table, words);
    return words;
#endif
}

void composeLayersAligned(const RingWords& words, const LayerOrigin origins[kLayerCount],
                          std::uint8_t* pixels, int pitch) {
    std::size_t starts[kLayerCount];
    for (int k = 0; k < kLayerCount; ++k) starts[k] = windowStartByte(origins[k]);
    composeRowsAligned(words, starts, pixels, pitch);
}

void composeLayers(const RingWords& words, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch) {
#if defined(__SSE2__)
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(words.copies[0]);
    composeRowsVector(bytes + windowStartByte(origins[0]), bytes + windowStartByte(origins[1]),
                      bytes + windowStartByte(origins[2]), pixels, pitch);
#else
    composeLayersAligned(words, origins, pixels, pitch);
#endif
}

void composeFrame(double t, const EffectParams& params, const RingWords& words,
                  std::uint8_t* pixels, int pitch) {
    LayerOrigin origins[kLayerCount];
    computeLayerOrigins(t, params, origins);
    composeLayers(words, origins, pixels, pitch);
}

void composeFrame(double t, const EffectParams& params, const RingTable& table,
                  const RingWords* words, std::uint8_t* pixels, int pitch) {
    if (words != nullptr) {
        composeFrame(t, params, *words, pixels, pitch);
    } else {
        composeFrame(t, params, table, pixels, pitch);
    }
}
