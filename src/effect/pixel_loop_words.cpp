// The word loop, for processors without unaligned word loads (ARMv5 has none: an unaligned
// word read would be four byte reads): four pixels per 32-bit add. Start-up builds the table
// as four byte-shifted copies of 32-bit words (RingWords), so that each window is read as
// aligned words from the copy of its byte offset; a few head bytes bring each destination row
// to a word boundary, so every store in between is an aligned word too.
#include "effect/pixel_loops.h"

#if !defined(__aarch64__)  // where every processor has unaligned loads the copies are not needed

#include <cstring>

constexpr int kWordCopies = 4;                          // one per byte offset in a 32-bit word
constexpr int kRingWordsPerCopy = kRingTableBytes / 4;  // 64,000

// Copy s holds the table's bytes from byte s on (bytes past the table's end are 0). Copy 0 is
// the table itself.
struct RingWords {
    std::uint32_t copies[kWordCopies][kRingWordsPerCopy];
};

namespace {

// One pixel per add: the row heads and tails where the destination is not word-aligned.
void composeBytes(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                  std::uint8_t* dst, int count) {
    for (int i = 0; i < count; ++i) dst[i] = w0[i] + w1[i] + w2[i];
}

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

}  // namespace

RingWords* buildWordCopies(const RingTable& table, void* (*allocate)(std::size_t)) {
    RingWords* words = static_cast<RingWords*>(allocate(sizeof(RingWords)));
    if (words == nullptr) return nullptr;
    for (int copy = 0; copy < kWordCopies; ++copy) {
        std::uint8_t* out = reinterpret_cast<std::uint8_t*>(words->copies[copy]);
        const int available = kRingTableBytes - copy;
        std::memcpy(out, table.bytes + copy, available);
        std::memset(out + available, 0, copy);
    }
    return words;
}

// Kept out of line under its own name: profiles of the device find the word loop by it.
__attribute__((noinline)) void composeLayersWords(const RingWords& words,
                                                  const LayerOrigin origins[kLayerCount],
                                                  std::uint8_t* pixels, int pitch) {
    std::size_t starts[kLayerCount];
    for (int k = 0; k < kLayerCount; ++k) starts[k] = windowStartByte(origins[k]);
    composeRowsAligned(words, starts, pixels, pitch);
}

void composeFromWordCopies(const RingLayout& ring, const LayerOrigin origins[kLayerCount],
                           std::uint8_t* pixels, int pitch) {
    composeLayersWords(*ring.words, origins, pixels, pitch);
}

#endif
