#include "fixed_panel.h"

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kFixedPanelSuffix[] = "drmfb";       // the DRM framebuffer emulation's ids
constexpr char kDefaultFramebuffer[] = "/dev/fb0";  // SDL's own default device
// SDL_VIDEO_FBCON_ROTATION's values that give a shadow turned into the panel
constexpr const char* kTurnings[] = {"NONE", "CW", "CCW", "UD"};

}  // namespace

bool isFixedPanelId(const char* id, std::size_t idSize) {
    const std::size_t length = strnlen(id, idSize);
    const std::size_t suffixLength = sizeof kFixedPanelSuffix - 1;
    return length >= suffixLength &&
           std::memcmp(id + length - suffixLength, kFixedPanelSuffix, suffixLength) == 0;
}

bool isTurnedPanel(const char* rotation) {
    if (rotation == nullptr) return false;
    for (const char* turning : kTurnings) {
        if (std::strcmp(rotation, turning) == 0) return true;
    }
    return false;
}

// The DRM emulation accepts any mode and keeps its own: SDL would believe the panel switched
// to 320 x 200 and draw the picture into its top-left corner.
void keepFixedPanelMode() {
    if (std::getenv("SDL_FB_BROKEN_MODES") != nullptr) return;  // the user's word stands
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver != nullptr && std::strcmp(driver, "fbcon") != 0) return;
    // A turned panel keeps whatever mode it has: SDL would otherwise turn into it a picture
    // laid out for a mode it never set.
    if (isTurnedPanel(std::getenv("SDL_VIDEO_FBCON_ROTATION"))) {
        setenv("SDL_FB_BROKEN_MODES", "1", 0);
        return;
    }
    const char* device = std::getenv("SDL_FBDEV");
    if (device == nullptr) device = kDefaultFramebuffer;

    const int fd = open(device, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;  // no framebuffer here, or not ours: SDL decides
    fb_fix_screeninfo fixed{};
    const bool known = ioctl(fd, FBIOGET_FSCREENINFO, &fixed) == 0;
    close(fd);
    if (known && isFixedPanelId(fixed.id, sizeof fixed.id)) setenv("SDL_FB_BROKEN_MODES", "1", 0);
}
