// Partition tables of today's disks, read as the kernel reads them, checked against
// sfdisk on the same images: every partition, its number, start and size.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "sim/Disk.h"
#include "storage/partition.h"
#include "storage/ptable.h"
#include "storage/storage.h"
#include "tests/support/fixture.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 2048;  // sectors
constexpr std::uint64_t kGiB = 1024 * kMiB;
constexpr const char* kLinux = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
constexpr const char* kSwap = "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F";
constexpr const char* kEfi = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

struct Found {
    int number;
    std::uint64_t start, size;
    std::string type;
    bool operator==(const Found&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << "{" << f.number << ": " << f.start << "+" << f.size << " " << f.type << "}";
}

std::string TypeOf(const TablePartition& p) {
    char text[40];
    if (!p.gpt) {
        std::snprintf(text, sizeof text, "%x", p.type);
        return text;
    }
    const unsigned char* g = p.guid;
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

// An image file on the host, removed at the end of the test.
struct Image {
    fs::path path;
    explicit Image(const std::string& name, std::uint64_t bytes)
        : path(fs::temp_directory_path() / ("qarvel-" + name + "-" + std::to_string(::getpid()) + ".img")) {
        fs::remove(path);
        std::ofstream(path).close();
        fs::resize_file(path, bytes);
    }
    Image(const std::string& name, const sim::SparseDisk& disk)
        : path(fs::temp_directory_path() / ("qarvel-" + name + "-" + std::to_string(::getpid()) + ".img")) {
        std::string error;
        EXPECT_TRUE(disk.save(path.string(), error)) << error;
    }
    ~Image() { fs::remove(path); }

    // Partitions the image with sfdisk from a script of its own.
    void Sfdisk(const std::string& script) {
        int status = -1;
        std::string out = qtest::RunCommand("printf '" + script + "' | " + qtest::FindTool("sfdisk") + " -q '" +
                                                path.string() + "' 2>&1",
                                            status);
        ASSERT_EQ(status, 0) << out;
    }
    void Patch(std::uint64_t offset, const void* bytes, std::size_t count) {
        int fd = ::open64(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite64(fd, bytes, count, static_cast<off64_t>(offset)), static_cast<ssize_t>(count));
        ::close(fd);
    }

    std::vector<Found> Ours() {
        std::string error;
        auto disk = sim::FileDisk::open(path.string(), error);
        EXPECT_TRUE(disk) << error;
        if (!disk) return {};
        DiskReader read = [&disk](unsigned long long offset, void* buffer, std::size_t count) {
            return disk->read(offset, buffer, count) == static_cast<long>(count);
        };
        std::vector<Found> found;
        for (const TablePartition& p : ReadPartitionTable(read, disk->size(), 512))
            found.push_back({p.number, p.start, p.sectors, TypeOf(p)});
        return found;
    }
    std::vector<Found> Theirs() {
        std::vector<Found> found;
        for (const auto& p : qtest::SfdiskDump(path.string())) found.push_back({p.number, p.start, p.size, p.type_text});
        return found;
    }
    void ExpectSfdiskAgrees(std::size_t expected_count) {
        auto theirs = Theirs();
        EXPECT_EQ(theirs.size(), expected_count) << "the image is not what the test meant";
        EXPECT_EQ(Ours(), theirs);
    }
};

TEST(PartitionTable, AlignedChainsOfBothExtendedTypes) {
    for (std::uint8_t type : {std::uint8_t{0x05}, std::uint8_t{0x0F}, std::uint8_t{0x85}}) {
        sim::SparseDisk disk(8 * kGiB * 512);
        sim::AlignedLayout(disk).primary(0x83, 512).primary(0x82, 1024).extended(type, {{0x83, 2048}, {0x07, 100},
                                                                                        {0x0B, 300}});
        Image image("aligned", disk);
        if (type == 0x85) {
            // sfdisk does not know 0x85 as extended; the kernel does, and so do we.
            auto ours = image.Ours();
            ASSERT_EQ(ours.size(), 6u);
            EXPECT_EQ(ours[5], (Found{7, (1 + 512 + 1024 + 2049 + 101 + 1) * kMiB, 300 * kMiB, "b"}));
            continue;
        }
        image.ExpectSfdiskAgrees(6);
    }
}

TEST(PartitionTable, WhatSfdiskWritesItReadsBack) {
    Image dos("sfdisk-dos", 4ULL << 30);
    dos.Sfdisk("label: dos\\n,100M,L\\n,200M,S\\n,,E\\n,300M,L\\n,400M,7\\n,,c\\n");
    dos.ExpectSfdiskAgrees(6);
    Image gpt("sfdisk-gpt", 4ULL << 30);
    gpt.Sfdisk("label: gpt\\n,100M,U\\n,200M,S\\n,300M,H\\n,,L\\n");
    gpt.ExpectSfdiskAgrees(4);
}

TEST(PartitionTable, MoreThanTwentySixPartitions) {
    Image dos("many-logical", 4ULL << 30);
    std::string script = "label: dos\\n,10M,L\\n,,E\\n";
    for (int i = 0; i < 30; ++i) script += ",10M,L\\n";
    dos.Sfdisk(script);
    dos.ExpectSfdiskAgrees(32);
    Image gpt("many-gpt", 4ULL << 30);
    script = "label: gpt\\n";
    for (int i = 0; i < 40; ++i) script += ",10M,L\\n";
    gpt.Sfdisk(script);
    gpt.ExpectSfdiskAgrees(40);
}

TEST(PartitionTable, OurGptAndADamagedPrimary) {
    sim::SparseDisk disk(16 * kGiB * 512);
    sim::GptLayout(disk).add(kEfi, 100).add(kLinux, 4096).add(kSwap, 512).add(kLinux, 1000, 9).write();
    Image image("gpt", disk);
    image.ExpectSfdiskAgrees(4);
    auto intact = image.Ours();
    EXPECT_EQ(intact[3], (Found{10, (1 + 100 + 4096 + 512) * kMiB, 1000 * kMiB, kLinux}));

    // The primary header's CRC no longer matches: the backup at the end of the disk answers.
    const char damage[4] = {'X', 'X', 'X', 'X'};
    image.Patch(512 + 64, damage, sizeof damage);
    image.ExpectSfdiskAgrees(4);
    EXPECT_EQ(image.Ours(), intact);
    // Damaging the primary entries as well changes nothing.
    image.Patch(2 * 512 + 40, damage, sizeof damage);
    EXPECT_EQ(image.Ours(), intact);
    // Both headers gone: nothing, not the protective entry.
    image.Patch(16 * kGiB * 512 - 512, damage, sizeof damage);
    EXPECT_TRUE(image.Ours().empty());
}

TEST(PartitionTable, GptEntriesDamagedBehindAGoodHeaderUseTheBackup) {
    Image image("gpt-entries", 2ULL << 30);
    image.Sfdisk("label: gpt\\n,100M,L\\n,200M,S\\n");
    auto intact = image.Ours();
    ASSERT_EQ(intact.size(), 2u);
    const char damage[2] = {'\x5A', '\x5A'};
    image.Patch(2 * 512 + 33, damage, sizeof damage);  // first LBA of entry 1
    image.ExpectSfdiskAgrees(2);
    EXPECT_EQ(image.Ours(), intact);
}

// Extended boot records written by hand: relative starts as the format has them.
void Ebr(sim::SparseDisk& disk, std::uint64_t at, std::uint8_t type, std::uint32_t start, std::uint32_t size,
         std::uint32_t link_start, std::uint32_t link_size) {
    sim::write_partition_entry(disk, at, 0, type, start, size);
    if (link_size) sim::write_partition_entry(disk, at, 1, 0x05, link_start, link_size);
}

TEST(PartitionTable, LoopingAndOddChainsEndAsSfdiskEndsThem) {
    {
        // The third record links back to the first: followed up to partition 60.
        sim::SparseDisk disk(200 * kMiB * 512);
        sim::write_partition_entry(disk, 0, 0, 0x83, kMiB, 10 * kMiB);
        sim::write_partition_entry(disk, 0, 1, 0x0F, 11 * kMiB, 100 * kMiB);
        Ebr(disk, 11 * kMiB, 0x83, kMiB, 5 * kMiB, 10 * kMiB, 10 * kMiB);
        Ebr(disk, 21 * kMiB, 0x83, kMiB, 5 * kMiB, 20 * kMiB, 10 * kMiB);
        Ebr(disk, 31 * kMiB, 0x83, kMiB, 5 * kMiB, 0, 10 * kMiB);
        Image image("loop", disk);
        image.ExpectSfdiskAgrees(2 + 56);
    }
    {
        // A record without a logical partition takes no number; a link may point past the
        // extended partition's end.
        sim::SparseDisk disk(200 * kMiB * 512);
        sim::write_partition_entry(disk, 0, 0, 0x05, 11 * kMiB, 20 * kMiB);
        Ebr(disk, 11 * kMiB, 0x83, kMiB, 5 * kMiB, 10 * kMiB, 10 * kMiB);
        Ebr(disk, 21 * kMiB, 0x00, 0, 0, 50 * kMiB, 10 * kMiB);
        Ebr(disk, 61 * kMiB, 0x82, kMiB, 5 * kMiB, 0, 0);
        Image image("gaps", disk);
        image.ExpectSfdiskAgrees(3);
        EXPECT_EQ(image.Ours().back().number, 6);
    }
    {
        // A link past the end of the disk ends the chain there.
        sim::SparseDisk disk(40 * kMiB * 512);
        sim::write_partition_entry(disk, 0, 0, 0x05, 11 * kMiB, 20 * kMiB);
        Ebr(disk, 11 * kMiB, 0x83, kMiB, 5 * kMiB, 4000 * kMiB, 10 * kMiB);
        Image image("past-end", disk);
        EXPECT_EQ(image.Ours(), (std::vector<Found>{{1, 11 * kMiB, 20 * kMiB, "5"}, {5, 12 * kMiB, 5 * kMiB, "83"}}));
    }
}

TEST(PartitionTable, HostileGptHeadersAreRefused) {
    // Headers whose own CRC is right but whose fields are not: the entry array is
    // gigantic, lies past the disk (its sector number overflows as a byte offset), is too
    // large, or has entries smaller than the format allows. Nothing is reported.
    struct Field {
        std::size_t offset;
        std::uint64_t value;
        int bytes;
    };
    const std::vector<std::vector<Field>> cases = {
        {{80, 0xFFFFFFFFu, 4}, {84, 0xFFFFFFF8u, 4}},
        {{72, 0x0FFFFFFFFFFFFFFFull, 8}},
        {{80, 100000, 4}},
        {{84, 127, 4}},
    };
    for (const auto& fields : cases) {
        sim::SparseDisk disk(64 * kMiB * 512);
        sim::GptLayout(disk).add(kLinux, 10).write();
        std::uint64_t last = 64 * kMiB - 1;
        for (std::uint64_t lba : {std::uint64_t{1}, last}) {
            std::uint8_t header[92];
            disk.read(lba * 512, header, sizeof header);
            for (const Field& f : fields)
                for (int i = 0; i < f.bytes; ++i) header[f.offset + i] = static_cast<std::uint8_t>(f.value >> (8 * i));
            std::memset(header + 16, 0, 4);
            std::uint32_t crc = sim::crc32(header, sizeof header);
            std::memcpy(header + 16, &crc, 4);  // little-endian host
            disk.write(lba * 512, header, sizeof header);
        }
        DiskReader read = [&disk](unsigned long long offset, void* buffer, std::size_t count) {
            return disk.read(offset, buffer, count) == static_cast<long>(count);
        };
        EXPECT_TRUE(ReadPartitionTable(read, disk.size(), 512).empty());
    }
}

TEST(PartitionTable, GptEntriesNoDiskCanHoldAreLeftOut) {
    // Ending before it starts, spanning all 2^64 sectors (which as a count is 0), or ending
    // past the disk: 2^56 sectors of 512 bytes would wrap a 64-bit byte count to 0.
    sim::SparseDisk disk(64 * kMiB * 512);
    sim::GptLayout(disk)
            .add(kLinux, 10)
            .add_sectors(kLinux, 0, ~0ULL)
            .add_sectors(kSwap, 9000, 8999)
            .add_sectors(kLinux, 1, 1ULL << 56)
            .add_sectors(kSwap, 64 * kMiB - 100, 64 * kMiB)
            .write();
    DiskReader read = [&disk](unsigned long long offset, void* buffer, std::size_t count) {
        return disk.read(offset, buffer, count) == static_cast<long>(count);
    };
    auto found = ReadPartitionTable(read, disk.size(), 512);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].sectors, 10 * kMiB);
}

TEST(PartitionTable, NoSignatureNoTable) {
    sim::SparseDisk disk(100 * kMiB * 512);
    sim::write_partition_entry(disk, 0, 0, 0x83, kMiB, 10 * kMiB);
    const std::uint8_t none[2] = {0, 0};
    disk.write(510, none, 2);
    Image image("unsigned", disk);
    EXPECT_TRUE(image.Ours().empty());
}

TEST(PartitionTable, FourKibibyteSectors) {
    // Tables of a 4Kn disk count 4096-byte sectors; the header sits at byte 4096.
    sim::SparseDisk disk(4ULL << 30);
    sim::GptLayout(disk, 4096).add(kLinux, 100).add(kSwap, 50).write();
    DiskReader read = [&disk](unsigned long long offset, void* buffer, std::size_t count) {
        return disk.read(offset, buffer, count) == static_cast<long>(count);
    };
    auto found = ReadPartitionTable(read, disk.size(), 4096);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].start, 256u);  // 1 MiB
    EXPECT_EQ(found[1].sectors, 50u * 256);
    EXPECT_TRUE(ReadPartitionTable(read, disk.size(), 512).empty());  // no header at byte 512
}

TEST(PartitionTable, GptKindsMapOntoTheMbrTexts) {
    auto text = [](const char* guid) {
        TablePartition p{};
        p.gpt = true;
        unsigned v[16];
        std::sscanf(guid, "%2x%2x%2x%2x-%2x%2x-%2x%2x-%2x%2x-%2x%2x%2x%2x%2x%2x", &v[3], &v[2], &v[1], &v[0], &v[5],
                    &v[4], &v[7], &v[6], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15]);
        for (int i = 0; i < 16; ++i) p.guid[i] = static_cast<unsigned char>(v[i]);
        const char* t = PartitionTypeText(p);
        return std::string(t ? t : "(none)");
    };
    EXPECT_EQ(text(kLinux), "Linux");
    EXPECT_EQ(text("4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709"), "Linux");  // root (x86-64)
    EXPECT_EQ(text(kSwap), "Linux swap");
    EXPECT_EQ(text("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"), "HPFS/NTFS");
    EXPECT_EQ(text(kEfi), "(none)");
    EXPECT_EQ(text("E6D6D379-F507-44C2-A23C-238F2A3DF928"), "(none)");  // LVM: no MBR text today
    TablePartition logical{};
    logical.logical = true;
    logical.type = 0x06;
    EXPECT_STREQ(PartitionTypeText(logical), "FAT 16");
    logical.logical = false;
    EXPECT_EQ(PartitionTypeText(logical), nullptr);  // a primary FAT16 is not named, as ever
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc32(reinterpret_cast<const unsigned char*>("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

}  // namespace
