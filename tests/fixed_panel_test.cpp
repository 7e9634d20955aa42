#include "fixed_panel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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

// SDL's framebuffer console turns its shadow for its four words only, exactly as written; an
// empty value means no shadow, and anything else is SDL's error, not a turned panel.
TEST(FixedPanel, KnowsTheTurningsByName) {
    for (const char* turning : {"NONE", "CW", "CCW", "UD"}) EXPECT_TRUE(isTurnedPanel(turning));
    for (const char* other : {"", "cw", "CW ", "C", "CCW2", "UD\n", "270"}) {
        EXPECT_FALSE(isTurnedPanel(other)) << '"' << other << '"';
    }
    EXPECT_FALSE(isTurnedPanel(nullptr));
}

// A panel SDL turns never switches modes, whatever its framebuffer: ringwave asks SDL to keep
// its mode (and centre the picture) without looking at the framebuffer, unless the user said
// otherwise or another driver runs.
TEST(FixedPanel, KeepsTheModeOfATurnedPanel) {
    struct Case {
        const char* rotation;
        const char* driver;
        const char* brokenModes;  // the user's own
        const char* expected;
    };
    const Case cases[] = {
        {"CW", "fbcon", nullptr, "1"},  {"UD", nullptr, nullptr, "1"},
        {"NONE", "fbcon", nullptr, "1"}, {"CCW", "fbcon", "0", "0"},
        {"CW", "dummy", nullptr, nullptr}, {"", "fbcon", nullptr, nullptr},
        {"sideways", "fbcon", nullptr, nullptr},
    };
    const char* const names[] = {"SDL_FBDEV", "SDL_VIDEO_FBCON_ROTATION", "SDL_VIDEODRIVER",
                                 "SDL_FB_BROKEN_MODES"};
    std::vector<std::pair<const char*, std::string>> saved;  // the test run's own, put back
    for (const char* name : names) {
        if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
    }
    for (const Case& c : cases) {
        for (const char* name : names) unsetenv(name);
        setenv("SDL_FBDEV", "/nonexistent/fb0", 1);  // no framebuffer to look at
        setenv("SDL_VIDEO_FBCON_ROTATION", c.rotation, 1);
        if (c.driver != nullptr) setenv("SDL_VIDEODRIVER", c.driver, 1);
        if (c.brokenModes != nullptr) setenv("SDL_FB_BROKEN_MODES", c.brokenModes, 1);
        keepFixedPanelMode();
        const char* kept = std::getenv("SDL_FB_BROKEN_MODES");
        EXPECT_EQ(std::string(c.expected ? c.expected : "(unset)"),
                  std::string(kept ? kept : "(unset)"))
            << c.rotation << " on " << (c.driver ? c.driver : "(no driver named)");
    }
    for (const char* name : names) unsetenv(name);
    for (const auto& value : saved) setenv(value.first, value.second.c_str(), 1);
}
