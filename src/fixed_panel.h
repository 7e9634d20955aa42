#ifndef RINGWAVE_FIXED_PANEL_H_
#define RINGWAVE_FIXED_PANEL_H_

#include <cstddef>

// True for the identity of a framebuffer that only emulates mode switching over a panel of
// one fixed size: the kernel's DRM framebuffer emulation, "<driver>drmfb" ("pl111drmfb",
// "virtio_gpudrmfb"). id holds at most idSize characters and need not end in a null.
bool isFixedPanelId(const char* id, std::size_t idSize);

// Before SDL starts: on a framebuffer of fixed size, asks SDL's framebuffer console driver to
// keep the panel's own mode and centre the 320 x 200 picture in it (SDL_FB_BROKEN_MODES=1).
// Leaves everything as it is when SDL_FB_BROKEN_MODES is set (to anything), when
// SDL_VIDEODRIVER names another driver than "fbcon", and when the framebuffer (SDL_FBDEV, or
// /dev/fb0) cannot be opened or can switch modes itself.
void keepFixedPanelMode();

#endif  // RINGWAVE_FIXED_PANEL_H_
