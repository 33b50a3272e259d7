// Captures and sample machines that any tool can copy or send: no file whose apparent size is
// far beyond what it holds, a capture of the current server of a few megabytes that replays
// to the same report, and captures with today's sparse raw images still loaded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/e2e/qarvel_run.h"
#include "tests/support/tools.h"

namespace fs = std::filesystem;

namespace {

using e2e::TempName;

// Every regular file below `dir` (links are not followed): its apparent size against the
// bytes it occupies. A file smaller than one block of the file system cannot be sparse.
std::uint64_t ExpectNoHoles(const std::string& dir) {
    std::uint64_t apparent = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        struct stat64 st;
        if (::lstat64(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const std::uint64_t held = std::max<std::uint64_t>(static_cast<std::uint64_t>(st.st_blocks) * 512, st.st_blksize);
        EXPECT_LE(static_cast<std::uint64_t>(st.st_size), 10 * held) << it->path();
        apparent += static_cast<std::uint64_t>(st.st_size);
    }
    EXPECT_FALSE(ec) << dir << ": " << ec.message();
    return apparent;
}

TEST(CompactCapture, SampleMachinesHoldWhatTheyShow) {
    EXPECT_GT(ExpectNoHoles(QARVEL_SAMPLE_MACHINE), 0u);
    EXPECT_GT(ExpectNoHoles(QARVEL_CURRENT_MACHINE), 0u);
}

TEST(CompactCapture, TheCurrentServerIsAFewMegabytesAndReplaysIdentical) {
    const std::string dir = TempName("compact");
    e2e::Outcome capture = e2e::RunQarvel("--machine " QARVEL_CURRENT_MACHINE " capture " + dir);
    ASSERT_EQ(capture.status, 0) << capture.err;
    const std::uint64_t apparent = ExpectNoHoles(dir);
    EXPECT_LT(apparent, 10u << 20);
    std::printf("capture of the current server: %llu bytes in apparent size\n",
                static_cast<unsigned long long>(apparent));
    e2e::Outcome original = e2e::RunQarvel("--machine " QARVEL_CURRENT_MACHINE);
    e2e::Outcome replay = e2e::RunQarvel("--machine " + dir);
    EXPECT_EQ(replay.status, 0) << replay.err;
    EXPECT_EQ(replay.out, original.out);

    // The same capture with its images as today's sparse raw files of the disks' size.
    int images = 0;
    for (const auto& entry : fs::directory_iterator(dir + "/dev")) {
        if (entry.path().extension() != ".img") continue;
        const std::string raw = entry.path().string() + ".raw";
        std::string error;
        ASSERT_TRUE(qtest::ExpandImage(entry.path().string(), raw, error)) << error;
        fs::rename(raw, entry.path());
        std::ifstream in(entry.path(), std::ios::binary);
        char start[8] = {};
        in.read(start, sizeof start);
        EXPECT_FALSE(sim::is_compact(start, sizeof start)) << entry.path();
        EXPECT_GT(fs::file_size(entry.path()), 1ULL << 30) << entry.path();  // the whole disk
        ++images;
    }
    EXPECT_GE(images, 5);
    e2e::Outcome sparse = e2e::RunQarvel("--machine " + dir);
    EXPECT_EQ(sparse.status, 0) << sparse.err;
    EXPECT_EQ(sparse.out, original.out);
    fs::remove_all(dir);
}

}  // namespace
