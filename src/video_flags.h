#ifndef RINGWAVE_VIDEO_FLAGS_H_
#define RINGWAVE_VIDEO_FLAGS_H_

#include <cstdint>

// The video-mode flags chosen by the command line: SDL_HWPALETTE always, plus
// SDL_FULLSCREEN for "-fullscreen", SDL_HWSURFACE for "-hw" and SDL_DOUBLEBUF for "-flip".
// argv is scanned from its second entry to the terminating null; words are compared whole and
// case-sensitively, may repeat and come in any order, and any other word is ignored silently.
std::uint32_t parseVideoFlags(char* const argv[]);

#endif  // RINGWAVE_VIDEO_FLAGS_H_
