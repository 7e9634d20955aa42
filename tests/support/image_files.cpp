#include "image_files.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER, the smallest we read
constexpr int kIndexBits = 8;
constexpr std::uint32_t kNoCompression = 0;  // BI_RGB
constexpr int kMaxColours = 256;

bool readWhole(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot open " + path;
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::uint32_t le16(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}
std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

bool readIndexedBmp(const std::string& path, IndexedImage* image, std::string* why) {
    std::vector<std::uint8_t> file;
    if (!readWhole(path, &file, why)) return false;
    if (file.size() < kFileHeaderBytes + kInfoHeaderBytes || file[0] != 'B' || file[1] != 'M') {
        *why = "not a BMP file";
        return false;
    }
    const std::uint8_t* info = &file[kFileHeaderBytes];
    const std::uint32_t pixelOffset = le32(&file[10]);
    const std::uint32_t infoSize = le32(info);
    const std::int32_t width = static_cast<std::int32_t>(le32(info + 4));
    const std::int32_t height = static_cast<std::int32_t>(le32(info + 8));
    const std::uint32_t bits = le16(info + 14);
    const std::uint32_t compression = le32(info + 16);
    std::uint32_t colours = le32(info + 32);
    if (colours == 0) colours = kMaxColours;
    if (infoSize < kInfoHeaderBytes || bits != kIndexBits || compression != kNoCompression ||
        width <= 0 || height == 0 || colours > kMaxColours) {
        *why = "not an uncompressed 8-bit BMP";
        return false;
    }
    const bool bottomUp = height > 0;
    const int rows = bottomUp ? height : -height;
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    const std::size_t paletteStart = kFileHeaderBytes + infoSize;
    if (paletteStart + 4 * colours > pixelOffset || pixelOffset + stride * rows > file.size()) {
        *why = "BMP file too short";
        return false;
    }
    image->width = width;
    image->height = rows;
    image->palette.resize(colours);
    for (std::uint32_t i = 0; i < colours; ++i) {  // stored blue, green, red, unused
        const std::uint8_t* entry = &file[paletteStart + 4 * i];
        image->palette[i] = SDL_Color{entry[2], entry[1], entry[0], 0};
    }
    image->indices.resize(static_cast<std::size_t>(width) * rows);
    for (int y = 0; y < rows; ++y) {
        const int fileRow = bottomUp ? rows - 1 - y : y;
        const std::uint8_t* src = &file[pixelOffset + stride * fileRow];
        std::copy(src, src + width, &image->indices[static_cast<std::size_t>(y) * width]);
    }
    return true;
}

bool readPpm(const std::string& path, RgbImage* image, std::string* why) {
    std::vector<std::uint8_t> file;
    if (!readWhole(path, &file, why)) return false;
    // Header: "P6", width, height, maximum value, separated by white space and comments,
    // then exactly one white-space byte before the samples.
    std::size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < file.size() && (std::isspace(file[pos]) || file[pos] == '#')) {
            if (file[pos] == '#') {
                while (pos < file.size() && file[pos] != '\n') ++pos;
            } else {
                ++pos;
            }
        }
    };
    auto number = [&](long* value) {
        skipSpace();
        if (pos >= file.size() || !std::isdigit(file[pos])) return false;
        *value = 0;
        while (pos < file.size() && std::isdigit(file[pos]) && *value < 100000) {
            *value = *value * 10 + (file[pos++] - '0');
        }
        return true;
    };
    long width = 0, height = 0, maxValue = 0;
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6') {
        *why = "not a binary PPM file";
        return false;
    }
    pos = 2;
    if (!number(&width) || !number(&height) || !number(&maxValue) || maxValue != 255 ||
        width <= 0 || height <= 0) {
        *why = "unsupported PPM header";
        return false;
    }
    ++pos;  // the single white-space byte
    const std::size_t samples = static_cast<std::size_t>(width) * height * 3;
    if (pos + samples > file.size()) {
        *why = "PPM file too short";
        return false;
    }
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->rgb.assign(file.begin() + pos, file.begin() + pos + samples);
    return true;
}
