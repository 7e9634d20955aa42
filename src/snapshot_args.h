#ifndef RINGWAVE_SNAPSHOT_ARGS_H_
#define RINGWAVE_SNAPSHOT_ARGS_H_

#include <cstdint>

constexpr std::uint64_t kMaxSnapshotFrame = std::uint64_t{1} << 53;  // doubles hold every count

// What ringwave-snapshot was asked for: frame `frame` of the run seeded with `seed`.
struct SnapshotRequest {
    std::uint32_t seed;   // the wall-clock second the run started
    std::uint64_t frame;  // 1 .. 2^53; the frame's time t is this count as a double
    const char* output;   // path of the BMP file to write
};

// What the command line asks for.
enum class SnapshotCommand { kSnapshot, kHelp, kUsageError };

// Reads "SEED FRAME OUTPUT.bmp" or "--help". SEED is a plain decimal number 0 .. 2^32 - 1,
// FRAME a plain decimal number 1 .. 2^53 (digits only: no sign, no spaces). Anything else,
// including missing or extra words and an empty OUTPUT, is a usage error; request is filled
// only for kSnapshot.
SnapshotCommand parseSnapshotArgs(int argc, const char* const argv[], SnapshotRequest* request);

// Parses a non-empty string of decimal digits no greater than max. False for anything else.
bool parseDecimal(const char* text, std::uint64_t max, std::uint64_t* value);

#endif  // RINGWAVE_SNAPSHOT_ARGS_H_
