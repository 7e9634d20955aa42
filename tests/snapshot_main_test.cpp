// ringwave-snapshot as a user runs it: the built binary, its files read back byte by byte.
// The host build's binary only: in a cross build these tests run under the emulator, whose
// shell cannot start the target's binary.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "effect/compositor.h"
#include "effect/effect_params.h"
#include "effect/palette.h"
#include "effect/ring_table.h"
#include "image_files.h"

namespace {

#if defined(RINGWAVE_SNAPSHOT_BINARY)
const char kSnapshotBinary[] = RINGWAVE_SNAPSHOT_BINARY;
#else
const char kSnapshotBinary[] = "";
#endif

const char kUsage[] = "usage: ringwave-snapshot SEED FRAME OUTPUT.bmp\n";

// A fresh empty folder for one test, removed with everything in it afterwards.
struct Folder {
    std::string path;
    Folder() {
        char name[] = "/tmp/snapshot_test.XXXXXX";
        path = mkdtemp(name);
    }
    ~Folder() { std::system(("chmod -R u+rwx '" + path + "'; rm -rf '" + path + "'").c_str()); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        DIR* dir = opendir(path.c_str());
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        return names;
    }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What one run of the program did.
struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the binary with the words given (each shell-quoted), after an optional shell prefix
// such as a resource limit; standard output and error go to files outside `folder`.
Outcome runSnapshot(const std::vector<std::string>& words, const std::string& prefix = "") {
    static Folder logs;
    std::string command = prefix + "exec '" + kSnapshotBinary + "'";
    for (const std::string& word : words) command += " '" + word + "'";
    command += " > " + logs.path + "/out 2> " + logs.path + "/err";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(logs.path + "/out");
    run.err = slurp(logs.path + "/err");
    return run;
}

// Checks a written file against frame `frame` of seed `seed` as the effect computes it.
void expectFrame(const std::string& path, std::uint32_t seed, std::uint64_t frame,
                 const RingTable& table) {
    IndexedImage image;
    std::string why;
    ASSERT_TRUE(readIndexedBmp(path, &image, &why)) << why;
    ASSERT_EQ(kScreenWidth, image.width);
    ASSERT_EQ(kScreenHeight, image.height);
    ASSERT_EQ(static_cast<std::size_t>(kPaletteSize), image.palette.size());

    std::srand(seed);
    const EffectParams params = drawEffectParams();
    const double t = static_cast<double>(frame);
    SDL_Color palette[kPaletteSize] = {};
    computePalette(t, params, palette);
    std::vector<std::uint8_t> pixels(kScreenWidth * kScreenHeight);
    const RingLayout ring = buildRingLayout(&table);
    composeFrame(t, params, ring, pixels.data(), kScreenWidth);
    std::free(ring.words);

    for (int i = 0; i < kPaletteSize; ++i) {
        ASSERT_EQ(palette[i].r, image.palette[i].r) << "entry " << i;
        ASSERT_EQ(palette[i].g, image.palette[i].g) << "entry " << i;
        ASSERT_EQ(palette[i].b, image.palette[i].b) << "entry " << i;
    }
    EXPECT_TRUE(pixels == image.indices) << "pixels of seed " << seed << " frame " << frame;
}

// Skips every test of a build that has no ringwave-snapshot to run.
class Snapshot : public ::testing::Test {
   protected:
    void SetUp() override {
        if (kSnapshotBinary[0] == '\0') GTEST_SKIP() << "no host ringwave-snapshot in this build";
    }
};

}  // namespace

// Frames of several runs, from the first to the last a FRAME can name: each file holds that
// frame's indices, top row first, and that frame's palette.
TEST_F(Snapshot, FilesHoldTheEffectFrame) {
    std::unique_ptr<RingTable> table(new RingTable);
    fillRingTable(table.get());
    Folder folder;
    const std::uint32_t seeds[] = {0, 1, 1767225600u, 4294967295u};
    const std::uint64_t frames[] = {1, 2, 4321, 123456789012ull, std::uint64_t{1} << 53};
    for (std::uint32_t seed : seeds) {
        for (std::uint64_t frame : frames) {
            const std::string path = folder.path + "/frame.bmp";
            const Outcome run = runSnapshot({std::to_string(seed), std::to_string(frame), path});
            ASSERT_EQ(0, run.status) << run.err;
            EXPECT_EQ("", run.out);
            EXPECT_EQ("", run.err);
            expectFrame(path, seed, frame, *table);
        }
    }
    // Nothing but the output is left behind, and it was replaced each time.
    EXPECT_EQ(std::vector<std::string>{"frame.bmp"}, folder.entries());
}

TEST_F(Snapshot, HelpPrintsUsage) {
    const Outcome run = runSnapshot({"--help"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(kUsage, run.out);
    EXPECT_EQ("", run.err);
}

// Every malformed command line: one usage line on standard error, status 2, no file.
TEST_F(Snapshot, BadArgumentsWriteNothing) {
    Folder folder;
    const std::string out = folder.path + "/out.bmp";
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"1"},
        {"1", "1"},
        {"1", "1", out, "extra"},
        {"-1", "1", out},
        {"+1", "1", out},
        {"1", "-1", out},
        {"1", "0", out},
        {"4294967296", "1", out},
        {"1", "9007199254740993", out},
        {"1", "18446744073709551617", out},
        {"x", "1", out},
        {"1", "1.0", out},
        {"0x1", "1", out},
        {"", "1", out},
        {"1", "1", ""},
        {"--help", "1", out},
    };
    for (const auto& words : bad) {
        const Outcome run = runSnapshot(words);
        EXPECT_EQ(2, run.status) << words.size() << " words";
        EXPECT_EQ(kUsage, run.err);
        EXPECT_EQ("", run.out);
    }
    EXPECT_TRUE(folder.entries().empty());
}

// Writing fails in every way we can cause as any user: a missing folder, an output that is a
// folder, a file-size limit that stops the write half way, and (when not root) a folder
// without write permission. Each time: status 1, the one message, and no file left over.
TEST_F(Snapshot, FailedWriteLeavesNothing) {
    Folder folder;
    const std::string missing = folder.path + "/no/such/folder/out.bmp";
    Outcome run = runSnapshot({"7", "7", missing});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Couldn't write " + missing + ": No such file or directory\n", run.err);

    const std::string dir = folder.path + "/taken";
    ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
    ASSERT_EQ(0, mkdir((dir + "/inside").c_str(), 0755));
    run = runSnapshot({"7", "7", dir});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Couldn't write " + dir + ": Is a directory\n", run.err);

    // 20 KiB of a 65 KiB file: the write itself fails (the signal is ignored).
    const std::string limited = folder.path + "/limited.bmp";
    run = runSnapshot({"7", "7", limited}, "ulimit -f 20; trap '' XFSZ; ");
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(0u, run.err.rfind("Couldn't write " + limited + ": ", 0)) << run.err;
    EXPECT_EQ('\n', run.err.back());
    EXPECT_EQ(std::vector<std::string>{"taken"}, folder.entries());

    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = folder.path + "/locked";
        ASSERT_EQ(0, mkdir(locked.c_str(), 0555));
        run = runSnapshot({"7", "7", locked + "/out.bmp"});
        EXPECT_EQ(1, run.status);
        EXPECT_EQ("Couldn't write " + locked + "/out.bmp: Permission denied\n", run.err);
        Folder probe;
        probe.path = locked;
        EXPECT_TRUE(probe.entries().empty());
        probe.path.clear();
    }
    EXPECT_EQ("", run.out);
}
