#include "effect/effect_params.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The nine speeds come from nine consecutive rand() calls, colour speeds first (red, green,
// blue), then drift speeds in field order. Replaying the generator must give the same values
// in the same slots.
TEST(EffectParams, NineDrawsInFieldOrder) {
    for (unsigned seed : {0u, 1u, 42u, 1765000000u, 4294967295u}) {
        std::srand(seed);
        int draws[9];
        for (int& d : draws) d = std::rand() % 1000 + 1;
        std::srand(seed);
        const EffectParams params = drawEffectParams();
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(static_cast<double>(draws[c]) / 300000.0, params.colourSpeed[c])
                << "seed " << seed << " colour " << c;
        }
        for (int k = 0; k < 6; ++k) {
            EXPECT_EQ(static_cast<double>(draws[3 + k]) / 5000.0, params.driftSpeed[k])
                << "seed " << seed << " drift " << k;
        }
    }
}

// Same seed, same run: two runs started in the same second animate identically.
TEST(EffectParams, SameSeedSameSpeeds) {
    std::srand(1234);
    const EffectParams first = drawEffectParams();
    std::srand(1234);
    const EffectParams second = drawEffectParams();
    for (int c = 0; c < 3; ++c) EXPECT_EQ(first.colourSpeed[c], second.colourSpeed[c]);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(first.driftSpeed[k], second.driftSpeed[k]);
}

// Over many draws every speed stays in its range, is never zero, and only takes one of the
// 1000 steps.
TEST(EffectParams, SpeedsStayInRange) {
    std::srand(7);
    double minColour = 1.0, maxColour = 0.0, minDrift = 1.0, maxDrift = 0.0;
    for (int run = 0; run < 20000; ++run) {
        const EffectParams params = drawEffectParams();
        for (double s : params.colourSpeed) {
            minColour = std::min(minColour, s);
            maxColour = std::max(maxColour, s);
            const double step = static_cast<double>(static_cast<int>(s * 300000.0 + 0.5));
            ASSERT_EQ(step / 300000.0, s);
        }
        for (double s : params.driftSpeed) {
            minDrift = std::min(minDrift, s);
            maxDrift = std::max(maxDrift, s);
        }
    }
    EXPECT_EQ(1.0 / 300000.0, minColour);
    EXPECT_EQ(1000.0 / 300000.0, maxColour);
    EXPECT_EQ(1.0 / 5000.0, minDrift);
    EXPECT_EQ(1000.0 / 5000.0, maxDrift);
}
