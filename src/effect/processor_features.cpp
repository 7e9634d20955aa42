#include "effect/processor_features.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#if __has_include(<sys/auxv.h>)
#include <sys/auxv.h>
#define RINGWAVE_HAVE_GETAUXVAL 1
#endif

namespace {

// Reads up to capacity bytes of a file into buffer; returns the bytes read (0 when it cannot
// be opened).
std::size_t readFileStart(const char* path, unsigned char* buffer, std::size_t capacity) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return 0;
    std::size_t size = 0;
    while (size < capacity) {
        const ssize_t got = read(fd, buffer + size, capacity - size);
        if (got <= 0) break;
        size += static_cast<std::size_t>(got);
    }
    close(fd);
    return size;
}

}  // namespace

std::uint32_t hwcapFromAuxvFile(const char* path) {
    // A few dozen entries: 4 KiB holds any vector a kernel writes.
    constexpr std::size_t kCapacity = 4096;
    unsigned char auxv[kCapacity];
    const std::size_t size = readFileStart(path, auxv, kCapacity);
    // Each entry is two native words (unsigned long on Linux), type first.
    constexpr std::size_t kEntryBytes = 2 * sizeof(unsigned long);
    for (std::size_t at = 0; at + kEntryBytes <= size; at += kEntryBytes) {
        unsigned long entry[2];
        std::memcpy(entry, auxv + at, kEntryBytes);
        if (entry[0] == 0) break;  // AT_NULL ends the vector
        if (entry[0] == kAuxHwcap) return static_cast<std::uint32_t>(entry[1]);
    }
    return 0;
}

std::uint32_t processorHwcap() {
#if defined(RINGWAVE_HAVE_GETAUXVAL)
    return static_cast<std::uint32_t>(getauxval(kAuxHwcap));
#else
    return hwcapFromAuxvFile("/proc/self/auxv");
#endif
}
