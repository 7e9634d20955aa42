#include "snapshot_args.h"

#include <gtest/gtest.h>

#include <vector>

TEST(SnapshotArgs, AcceptsSeedFrameOutput) {
    const char* argv[] = {"ringwave-snapshot", "4294967295", "9007199254740992", "out.bmp"};
    SnapshotRequest request{};
    ASSERT_EQ(SnapshotCommand::kSnapshot, parseSnapshotArgs(4, argv, &request));
    EXPECT_EQ(4294967295u, request.seed);
    EXPECT_EQ(9007199254740992ull, request.frame);
    EXPECT_STREQ("out.bmp", request.output);

    const char* smallest[] = {"ringwave-snapshot", "0", "1", "a.bmp"};
    ASSERT_EQ(SnapshotCommand::kSnapshot, parseSnapshotArgs(4, smallest, &request));
    EXPECT_EQ(0u, request.seed);
    EXPECT_EQ(1u, request.frame);
}

TEST(SnapshotArgs, RejectsEverythingElse) {
    const std::vector<std::vector<const char*>> bad = {
        {"s"},
        {"s", "1", "1"},
        {"s", "1", "1", "o.bmp", "extra"},
        {"s", "4294967296", "1", "o.bmp"},
        {"s", "1", "0", "o.bmp"},
        {"s", "1", "9007199254740993", "o.bmp"},
        {"s", "1", "99999999999999999999999", "o.bmp"},
        {"s", "-1", "1", "o.bmp"},
        {"s", "+1", "1", "o.bmp"},
        {"s", "1", "-5", "o.bmp"},
        {"s", " 1", "1", "o.bmp"},
        {"s", "1x", "1", "o.bmp"},
        {"s", "0x10", "1", "o.bmp"},
        {"s", "", "1", "o.bmp"},
        {"s", "1", "1.5", "o.bmp"},
        {"s", "1", "1e3", "o.bmp"},
        {"s", "1", "1", ""},
        {"s", "--help", "1", "o.bmp"},
    };
    for (const auto& words : bad) {
        SnapshotRequest request{};
        EXPECT_EQ(SnapshotCommand::kUsageError,
                  parseSnapshotArgs(static_cast<int>(words.size()), words.data(), &request))
            << words.size() << " words, second: " << (words.size() > 1 ? words[1] : "");
    }
    const char* help[] = {"s", "--help"};
    SnapshotRequest request{};
    EXPECT_EQ(SnapshotCommand::kHelp, parseSnapshotArgs(2, help, &request));
}
