// Compact disk images: the sectors held and the disk's size, read back as the disk, and a
// damaged file refused with the reason rather than read past its end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <map>

#include "sim/Disk.h"
#include "sim/compact_image.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const sim::DiskImage& disk, std::uint64_t offset, std::size_t count) {
    std::string bytes(count, '?');
    long n = disk.read(offset, bytes.data(), count);
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

TEST(CompactImage, HoldsOnlyItsSectorsAndReadsBackAsTheDisk) {
    const std::string dir = qtest::TempDir("compact");
    sim::SparseDisk disk(4ULL << 40);  // 4 TiB
    disk.write(0, "first", 5);
    disk.write(512, "second", 6);                   // adjacent to the first: one run
    disk.write((4ULL << 40) - 512 + 100, "tail", 4);  // the last sector
    disk.write(5000000000ULL - 2, "acr", 3);         // straddles two sectors
    std::string error;
    ASSERT_TRUE(disk.save_compact(dir + "/d.img", error)) << error;
    // Three runs of 2 sectors, 2 sectors and 1 sector, with their headers.
    EXPECT_EQ(fs::file_size(dir + "/d.img"), sim::kCompactHeader + 3 * sim::kCompactRunHeader + 5 * 512);

    auto image = sim::FileDisk::open(dir + "/d.img", error);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_EQ(image->size(), 4ULL << 40);
    EXPECT_EQ(Read(*image, 0, 5), "first");
    EXPECT_EQ(Read(*image, 512, 6), "second");
    EXPECT_EQ(Read(*image, 5000000000ULL - 2, 3), "acr");
    EXPECT_EQ(Read(*image, (4ULL << 40) - 412, 100), "tail" + std::string(96, '\0'));  // stops at the end
    EXPECT_EQ(Read(*image, 4ULL << 40, 10), "");
    // One read across held sectors and the zeros between them, byte for byte as the disk.
    std::string whole = Read(*image, 0, 3000), expected(3000, '?');
    ASSERT_EQ(disk.read(0, expected.data(), 3000), 3000);
    EXPECT_EQ(whole, expected);
    fs::remove_all(dir);
}

TEST(CompactImage, ARawImageIsStillTheDiskItself) {
    const std::string dir = qtest::TempDir("compact-raw");
    sim::SparseDisk disk(1 << 20);
    disk.write(1000, "raw", 3);
    std::string error;
    ASSERT_TRUE(disk.save(dir + "/raw.img", error)) << error;
    auto image = sim::FileDisk::open(dir + "/raw.img", error);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_EQ(image->size(), 1u << 20);
    EXPECT_EQ(Read(*image, 1000, 3), "raw");
    fs::remove_all(dir);
}

// Every count and offset of the file is checked before it is used.
TEST(CompactImage, DamagedImagesAreRefusedWithTheReason) {
    const std::string dir = qtest::TempDir("compact-bad");
    std::map<std::uint64_t, std::array<std::uint8_t, 512>> sectors;
    sectors[2].fill(0xAB);
    sectors[3].fill(0xCD);
    sectors[9].fill(0xEF);
    const std::string good = sim::encode_compact(10 * 512, 512, sectors);
    auto put32 = [](std::string bytes, std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    const std::size_t second_run = sim::kCompactHeader + sim::kCompactRunHeader + 2 * 512;
    const struct {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"cut in the header", good.substr(0, 20), "no compact image header"},
        {"cut in a run", good.substr(0, good.size() - 1), "pass the end of the file"},
        {"cut before a run header", good.substr(0, second_run + 4), "past the end of the file"},
        {"another version", put32(good, 8, 2), "version 2"},
        {"a sector size of 100", put32(good, 12, 100), "sector size 100"},
        {"more runs than held", put32(good, 24, 3), "past the end of the file"},
        {"a run past the disk", put32(good, second_run, 10), "beyond the disk"},
        {"runs out of order", put32(good, second_run, 1), "out of order"},
        {"an empty run", put32(good, second_run + 8, 0), "empty"},
        {"a count that wraps", put32(good, sim::kCompactHeader + 8, 0xFFFFFFFF), "beyond the disk"},
    };
    std::string error;
    for (const auto& c : cases) {
        ASSERT_TRUE(sim::write_file(dir + "/bad.img", c.bytes));
        error.clear();
        EXPECT_EQ(sim::FileDisk::open(dir + "/bad.img", error), nullptr) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
    // The loader names the file and fails, as for any capture file it cannot read.
    ASSERT_TRUE(sim::write_file(dir + "/dev/sda.img", put32(good, second_run, 10)));
    ASSERT_TRUE(sim::write_file(dir + "/kernel", std::string("current\n")));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("dev/sda.img"), std::string::npos) << error;
    fs::remove_all(dir);
}

}  // namespace
