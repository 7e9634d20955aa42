// Test-only: linked into a copy of ringwave with --wrap=SDL_LockSurface, so that the frame
// loop's lock comes here first and every drawn frame makes two heap requests of the
// program's own: one through malloc, one through operator new. The end-to-end allocation
// check must count exactly those.
#include <SDL.h>

#include <cstdlib>

extern "C" int __real_SDL_LockSurface(SDL_Surface* surface);

extern "C" int __wrap_SDL_LockSurface(SDL_Surface* surface) {
    // Volatile: the compiler may not drop a request whose block is never used.
    void* volatile block = std::malloc(64);
    std::free(block);
    unsigned char* volatile row = new unsigned char[320];
    delete[] row;
    return __real_SDL_LockSurface(surface);
}
