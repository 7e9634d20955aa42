#ifndef RINGWAVE_FIXED_PANEL_H_
#define RINGWAVE_FIXED_PANEL_H_

#include <cstddef>

// True for the identity of a framebuffer that only emulates mode switching over a panel of
// one fixed size: the kernel's DRM framebuffer emulation, "<driver>drmfb" ("pl111drmfb",
// "virtio_gpudrmfb"). id holds at most idSize characters and need not end in a null.
bool isFixedPanelId(const char* id, std::size_t idSize);

// True for a value of SDL_VIDEO_FBCON_ROTATION (null: unset) with which SDL's framebuffer
// console draws into a shadow it turns into the panel: "NONE", "CW", "CCW", "UD". SDL never
// switches the mode of such a panel. Empty, unset and unknown values (SDL's error) are not.
bool isTurnedPanel(const char* rotation);

// Before SDL starts: on a framebuffer of fixed size, and on any framebuffer SDL turns, asks
// SDL's framebuffer console driver to keep the panel's own mode and centre the 320 x 200
// picture in it (SDL_FB_BROKEN_MODES=1). Leaves everything as it is when SDL_FB_BROKEN_MODES
// is set (to anything), when SDL_VIDEODRIVER names another driver than "fbcon", and, unturned,
// when the framebuffer (SDL_FBDEV, or /dev/fb0) cannot be opened or can switch modes itself.
void keepFixedPanelMode();

#endif  // RINGWAVE_FIXED_PANEL_H_
