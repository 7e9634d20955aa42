#ifndef RINGWAVE_TESTS_IMAGE_FILES_H_
#define RINGWAVE_TESTS_IMAGE_FILES_H_

// Test-only readers for the two image formats the tests meet: ringwave-snapshot's 8-bit BMP
// files and the binary PPM (P6) files that ImageMagick makes of window screenshots. Written
// from the file layouts, so they check the files rather than trust the library that wrote them.

#include <SDL_video.h>

#include <cstdint>
#include <string>
#include <vector>

// A palette image: one index per pixel, rows top to bottom, and its colour table.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;  // width * height, row-major from the top row
    std::vector<SDL_Color> palette;     // as many entries as the file declares
};

// A true-colour image: red, green, blue bytes per pixel, rows top to bottom.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3
};

// Reads an uncompressed 8-bit BMP (BITMAPINFOHEADER or larger, bottom-up or top-down rows).
// False, with the reason in *why, for anything else or a short file.
bool readIndexedBmp(const std::string& path, IndexedImage* image, std::string* why);

// Reads a binary PPM with maximum value 255. False, with the reason in *why, otherwise.
bool readPpm(const std::string& path, RgbImage* image, std::string* why);

#endif  // RINGWAVE_TESTS_IMAGE_FILES_H_
