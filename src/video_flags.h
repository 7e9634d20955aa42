#ifndef RINGWAVE_VIDEO_FLAGS_H_
#define RINGWAVE_VIDEO_FLAGS_H_

#include <cstdint>

// The video-mode flags of the command line argv (from its second entry to the null):
// SDL_HWPALETTE always, plus SDL_FULLSCREEN for "-fullscreen", SDL_HWSURFACE for "-hw" and
// SDL_DOUBLEBUF for "-flip", each word matched whole and case-sensitively; other words add
// nothing.
std::uint32_t parseVideoFlags(char* const argv[]);

#endif  // RINGWAVE_VIDEO_FLAGS_H_
