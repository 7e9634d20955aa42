#include "fixed_panel.h"

#include <gtest/gtest.h>

// The kernel's DRM framebuffer emulation names itself "<driver>drmfb", in a field of 16
// characters that need not end in a null; framebuffers that really switch modes do not.
TEST(FixedPanel, KnowsTheDrmEmulationById) {
    EXPECT_TRUE(isFixedPanelId("pl111drmfb", 16));
    EXPECT_TRUE(isFixedPanelId("virtio_gpudrmfb", 16));
    const char full[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                           'i', 'j', 'k', 'd', 'r', 'm', 'f', 'b'};  // no null
    EXPECT_TRUE(isFixedPanelId(full, sizeof full));
    EXPECT_FALSE(isFixedPanelId("CLCD FB", 16));
    EXPECT_FALSE(isFixedPanelId("", 16));
    EXPECT_FALSE(isFixedPanelId("drmfb ", 16));
    EXPECT_FALSE(isFixedPanelId("rmfb", 16));
    EXPECT_FALSE(isFixedPanelId("pl111drmfb", 9));  // the suffix lies past the field
}
