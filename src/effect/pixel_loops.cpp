#include "effect/pixel_loops.h"

#include "effect/processor_features.h"

// A new loop is a file of its own and a row here, guarded by what its file is built for.
const PixelLoop kPixelLoops[] = {
#if defined(__SSE2__)
    {"sse2", composeWindows<composeRowsSse2>, 0, nullptr},  // 16 pixels an add, x86
#endif
#if defined(__arm__)
    {"neon", composeWindows<composeRows_neon>, kHwcapNeon, nullptr},  // 32 a step, ARMv7
#endif
#if defined(__aarch64__)
    {"asimd", composeWindows<composeRowsAsimd>, 0, nullptr},  // 64 a step, every AArch64
#else
    {"words", composeFromWordCopies, 0, buildWordCopies},  // 4 an add, aligned words only
#endif
    {"bytes", composeWindows<composeRowsBytes>, 0, nullptr},  // 1 an add, anywhere
};
const int kPixelLoopCount = sizeof(kPixelLoops) / sizeof(kPixelLoops[0]);
