#include "snapshot_args.h"

#include <cstring>

namespace {

constexpr std::uint64_t kMaxSeed = 0xFFFFFFFFu;
constexpr int kSnapshotArgCount = 4;  // program, SEED, FRAME, OUTPUT

}  // namespace

bool parseDecimal(const char* text, std::uint64_t max, std::uint64_t* value) {
    if (*text == '\0') return false;
    std::uint64_t result = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(*c - '0');
        if (result > (max - digit) / 10) return false;  // result * 10 + digit would pass max
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

SnapshotCommand parseSnapshotArgs(int argc, const char* const argv[], SnapshotRequest* request) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return SnapshotCommand::kHelp;
    if (argc != kSnapshotArgCount) return SnapshotCommand::kUsageError;
    std::uint64_t seed = 0;
    std::uint64_t frame = 0;
    if (!parseDecimal(argv[1], kMaxSeed, &seed)) return SnapshotCommand::kUsageError;
    if (!parseDecimal(argv[2], kMaxSnapshotFrame, &frame) || frame == 0) {
        return SnapshotCommand::kUsageError;
    }
    if (argv[3][0] == '\0') return SnapshotCommand::kUsageError;
    request->seed = static_cast<std::uint32_t>(seed);
    request->frame = frame;
    request->output = argv[3];
    return SnapshotCommand::kSnapshot;
}
