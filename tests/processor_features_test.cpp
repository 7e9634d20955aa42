#include "effect/processor_features.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// An auxiliary vector file of the given entries (native words, as the kernel writes them),
// cut to `bytes` bytes when that is given; removed when the fixture goes.
class AuxvFile {
   public:
    explicit AuxvFile(const std::vector<unsigned long>& words, long bytes = -1) {
        char name[] = "/tmp/ringwave-auxv-XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        const long size =
            bytes < 0 ? static_cast<long>(words.size() * sizeof(unsigned long)) : bytes;
        if (fd >= 0) {
            if (write(fd, words.data(), size) != size) path_.clear();
            close(fd);
        }
    }
    ~AuxvFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

   private:
    std::string path_;
};

constexpr unsigned long kAtPageSize = 6;  // AT_PAGESZ, an entry before AT_HWCAP as on Linux
constexpr unsigned long kAtHwcap2 = 26;   // AT_HWCAP2, a neighbour not to be confused with it

}  // namespace

// The kernel's own vector: a Linux kernel always reports something, and on ARM
// /proc/self/auxv read by hand says what the C library (getauxval where it has one) says.
// (glibc on x86-64 puts a word of its own in AT_HWCAP's place; nothing there asks for it.)
TEST(ProcessorFeatures, ProcAuxvAgreesWithTheLibrary) {
    const std::uint32_t fromFile = hwcapFromAuxvFile("/proc/self/auxv");
    EXPECT_NE(0u, fromFile);
#if defined(__arm__)
    EXPECT_EQ(processorHwcap(), fromFile);
#endif
}

TEST(ProcessorFeatures, FindsHwcapAmongOtherEntries) {
    const AuxvFile file({kAtPageSize, 4096, kAtHwcap2, 0x3, kAuxHwcap, 0x8b8d7, 0, 0});
    EXPECT_EQ(0x8b8d7u, hwcapFromAuxvFile(file.path()));
}

// Entries after the end marker, a last entry cut short and a missing file say nothing: no
// optional feature is used then.
TEST(ProcessorFeatures, NothingPastTheEndOrCutShort) {
    const AuxvFile ended({kAtPageSize, 4096, 0, 0, kAuxHwcap, 0x1000});
    EXPECT_EQ(0u, hwcapFromAuxvFile(ended.path()));
    const std::vector<unsigned long> words = {kAtPageSize, 4096, kAuxHwcap, 0x1000};
    const AuxvFile cut(words, static_cast<long>(3 * sizeof(unsigned long) + 2));
    EXPECT_EQ(0u, hwcapFromAuxvFile(cut.path()));
    const AuxvFile whole(words);
    EXPECT_EQ(0x1000u, hwcapFromAuxvFile(whole.path()));
    EXPECT_EQ(0u, hwcapFromAuxvFile("/nonexistent/auxv"));
}
