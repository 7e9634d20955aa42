// The x86 loop: sixteen pixels per SSE2 add, straight from the table. Unaligned loads and
// stores cost nothing extra there, so the windows and the destination may start at any byte.
#include "effect/pixel_loops.h"

#if defined(__SSE2__)

#include <emmintrin.h>

void composeRowsSse2(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                     std::uint8_t* pixels, int pitch) {
    constexpr int kVectorBytes = 16;  // 320 is 20 of them
    for (int j = 0; j < kScreenHeight; ++j) {
        for (int i = 0; i < kScreenWidth; i += kVectorBytes) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w0 + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w1 + i));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w2 + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i),
                             _mm_add_epi8(_mm_add_epi8(a, b), c));
        }
        w0 += kRingTableWidth;
        w1 += kRingTableWidth;
        w2 += kRingTableWidth;
        pixels += pitch;
    }
}

#endif
