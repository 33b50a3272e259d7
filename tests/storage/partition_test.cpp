// The partition walk over disk images built sector by sector, checked by hand and against
// sfdisk reading the same images.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "sim/Disk.h"
#include "storage/partition.h"
#include "tests/support/fixture.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCylinder = 16065;          // sectors
constexpr std::uint64_t kCylinderBytes = 8225280;   // 16065 x 512

struct Entry {
    std::string description, size, FileSystem;
    bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "{" << e.description << ", " << e.size << ", " << e.FileSystem << "}";
}

// The record between canaries, so that a write past its 26 entries shows.
struct Guarded {
    unsigned char before[64];
    PartitionInformation record;
    unsigned char after[64];
};

struct PartitionWalk : qtest::MachineTest {
    std::map<char, std::shared_ptr<sim::SparseDisk>> disks;

    // An IDE disk of `sectors` sectors, listed in /proc/ide and served as /dev/hdX.
    sim::SparseDisk& Disk(char letter, std::uint64_t sectors) {
        auto disk = std::make_shared<sim::SparseDisk>(sectors * 512);
        sim::add_ide_proc(*machine, letter, "disk", "TEST DISK", sectors);
        sim::add_ide_disk(*machine, letter, disk, "SERIAL");
        disks[letter] = disk;
        return *disk;
    }

    std::vector<Entry> Walk() {
        auto guarded = std::make_unique<Guarded>();
        std::memset(guarded->before, 0xC5, sizeof guarded->before);
        std::memset(&guarded->record, 0, sizeof guarded->record);
        std::memset(guarded->after, 0xC5, sizeof guarded->after);
        GetAllPartitionInfo(&guarded->record);
        for (unsigned char c : guarded->before) EXPECT_EQ(c, 0xC5);
        for (unsigned char c : guarded->after) EXPECT_EQ(c, 0xC5);
        quantity = guarded->record.quantity;
        std::vector<Entry> entries;
        for (int i = 0; i < std::min(quantity, 26); ++i) {
            const PARTITION& p = guarded->record.partition[i];
            entries.push_back({p.description, p.size, p.FileSystem});
            EXPECT_EQ(p.label[0] | p.used[0] | p.isSystem, 0);  // not the walk's fields
        }
        EXPECT_EQ(machine->still_open(), std::vector<std::string>{});
        return entries;
    }

    // Where the walk read the disk, in order.
    std::vector<std::uint64_t> ReadOffsets(const std::string& device) {
        std::vector<std::uint64_t> offsets;
        for (const sim::Access& a : machine->accesses())
            if (a.kind == sim::Access::Read && a.path == device) offsets.push_back(a.offset);
        return offsets;
    }

    // sfdisk's reading of the same image, limited to what the walk reports: primary entries
    // of the four primary types, and the logical partitions of a 0x0F extended partition
    // of the eight logical types. Descriptions and sizes must agree.
    void ExpectSfdiskAgrees(char letter, const std::vector<Entry>& walked) {
        fs::path image = fs::temp_directory_path() / ("qarvel-disk-" + std::to_string(::getpid()) + "-" + letter);
        std::string error;
        ASSERT_TRUE(disks.at(letter)->save(image.string(), error)) << error;
        std::vector<qtest::SfdiskPartition> listed = qtest::SfdiskDump(image.string());
        fs::remove(image);
        ASSERT_FALSE(listed.empty()) << "sfdisk found no partition";
        const std::set<unsigned> primary = {0x07, 0x0B, 0x82, 0x83};
        const std::set<unsigned> logical = {0x06, 0x0B, 0x0C, 0x0E, 0x16, 0x17, 0x82, 0x83};
        bool walked_extended = false;
        for (const auto& p : listed)
            if (p.number <= 4 && p.type == 0x0F) walked_extended = true;
        std::map<std::string, std::string> expected, got;
        for (const auto& p : listed) {
            bool reported = p.number <= 4 ? primary.count(p.type) != 0 : walked_extended && logical.count(p.type) != 0;
            if (reported)
                expected["/dev/hd" + std::string(1, letter) + std::to_string(p.number)] = std::to_string(p.size * 512);
        }
        std::string prefix = "/dev/hd" + std::string(1, letter);
        for (const Entry& e : walked)
            if (e.description.compare(0, prefix.size(), prefix) == 0) got[e.description] = e.size;
        EXPECT_EQ(got, expected);
    }

    int quantity = -1;
};

TEST_F(PartitionWalk, OnePrimaryLinuxPartition) {
    sim::write_partition_entry(Disk('a', 4194304), 0, 0, 0x83, 63, 2056320);
    auto entries = Walk();
    EXPECT_EQ(quantity, 1);
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda1", "1052835840", "Linux"}}));
    ExpectSfdiskAgrees('a', entries);
}

TEST_F(PartitionWalk, SlotNumbersFollowTheSlotsNotTheCount) {
    auto& disk = Disk('a', 8 * kCylinder * 100);
    sim::write_partition_entry(disk, 0, 0, 0x07, 63, 100 * kCylinder - 63);
    sim::write_partition_entry(disk, 0, 2, 0x82, 200 * kCylinder, 50 * kCylinder);
    auto entries = Walk();
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda1", "822495744", "HPFS/NTFS"},
                                           {"/dev/hda3", "411264000", "Linux swap"}}));
    ExpectSfdiskAgrees('a', entries);
}

TEST_F(PartitionWalk, PrimaryAndLogicalTypeTablesDiffer) {
    // hda: FAT16 and FAT32-LBA primaries (not reported), and an extended partition from
    // cylinder 10 holding a FAT16, an NTFS (not reported as logical) and a FAT32-LBA.
    sim::SparseDisk& a = Disk('a', 1000 * kCylinder);
    sim::ClassicLayout(a).primary(0x06, 5).primary(0x0C, 5).extended(0x0F, {{0x06, 20}, {0x07, 30}, {0x0C, 40}});
    // hdb: the same logical partitions behind an extended partition of type 0x05, and one of
    // type 0x85: neither is followed.
    sim::SparseDisk& b = Disk('b', 1000 * kCylinder);
    sim::ClassicLayout(b).primary(0x83, 10).extended(0x05, {{0x06, 20}, {0x83, 30}});
    sim::write_partition_entry(b, 0, 2, 0x85, 500 * kCylinder, 100 * kCylinder);

    auto entries = Walk();
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda5", std::to_string((20 * kCylinder - 63) * 512), "FAT 16"},
                                           {"/dev/hda7", std::to_string((40 * kCylinder - 63) * 512),
                                            "Win95 FAT32 (LBA)"},
                                           {"/dev/hdb1", std::to_string((10 * kCylinder - 63) * 512), "Linux"}}));
    // The walk of hda started on cylinder 10, right after the slot of the extended
    // partition; hdb was read only in its master boot record.
    auto hda = ReadOffsets("/dev/hda");
    ASSERT_GE(hda.size(), 4u);
    EXPECT_EQ(hda[3], 10 * kCylinderBytes + 446);
    for (std::uint64_t offset : ReadOffsets("/dev/hdb")) EXPECT_LT(offset, 512u);
    ExpectSfdiskAgrees('a', entries);
    ExpectSfdiskAgrees('b', entries);
}

TEST_F(PartitionWalk, ExtendedBootRecordsAreFoundByCylinderArithmetic) {
    // Extended partition from cylinder 100; its first logical partition has 160587 sectors
    // (63 short of 10 cylinders), so the next record is on cylinder 110.
    sim::SparseDisk& disk = Disk('a', 300 * kCylinder);
    sim::write_partition_entry(disk, 0, 0, 0x83, 63, 100 * kCylinder - 63);
    sim::write_partition_entry(disk, 0, 1, 0x0F, 1606500, 50 * kCylinder);
    sim::write_partition_entry(disk, 1606500, 0, 0x83, 63, 160587);
    sim::write_partition_entry(disk, 1606500, 1, 0x05, 10 * kCylinder, 40 * kCylinder);  // link
    sim::write_partition_entry(disk, 110 * kCylinder, 0, 0x82, 63, 40 * kCylinder - 63);

    auto entries = Walk();
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda1", std::to_string((100 * kCylinder - 63) * 512), "Linux"},
                                           {"/dev/hda5", "82220544", "Linux"},
                                           {"/dev/hda6", std::to_string((40 * kCylinder - 63) * 512), "Linux swap"}}));
    // Slots 1 and 2, each record's two entries, then slots 3 and 4.
    EXPECT_EQ(ReadOffsets("/dev/hda"), (std::vector<std::uint64_t>{446, 462, 822528446, 822528462, 904781246,
                                                                   904781262, 478, 494}));
    ExpectSfdiskAgrees('a', entries);
}

TEST_F(PartitionWalk, UnreportedLogicalTypesStillTakeTheirNumber) {
    sim::SparseDisk& disk = Disk('a', 400 * kCylinder);
    sim::ClassicLayout(disk).primary(0x83, 13).extended(0x0F, {{0x83, 100}, {0x12, 50}, {0x82, 70}});
    auto entries = Walk();
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda1", "106896384", "Linux"},
                                           {"/dev/hda5", "822495744", "Linux"},
                                           {"/dev/hda7", "575737344", "Linux swap"}}));
    ExpectSfdiskAgrees('a', entries);
}

TEST_F(PartitionWalk, DisksBeyondFourGibibytesAreReadAtTheirOffsets) {
    // 20 GiB of which only the tables are held. The extended partition starts on cylinder
    // 600, at byte 4935168000, past what 32 bits address.
    sim::SparseDisk& disk = Disk('a', 41943040);
    sim::ClassicLayout(disk).primary(0x0B, 600).extended(0x0F, {{0x83, 1200}, {0x0B, 800}});
    EXPECT_LE(disk.sectors_held(), 4u);
    auto entries = Walk();
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda1", std::to_string((600 * kCylinder - 63) * 512), "Win95 FAT32"},
                                           {"/dev/hda5", std::to_string((1200 * kCylinder - 63) * 512), "Linux"},
                                           {"/dev/hda6", std::to_string((800 * kCylinder - 63) * 512),
                                            "Win95 FAT32"}}));
    auto offsets = ReadOffsets("/dev/hda");
    ASSERT_EQ(offsets.size(), 8u);
    EXPECT_EQ(offsets[2], 600 * kCylinderBytes + 446);
    EXPECT_EQ(offsets[4], 1800 * kCylinderBytes + 446);  // 14805504446
    EXPECT_GT(offsets[4], 0xFFFFFFFFull);
    ExpectSfdiskAgrees('a', entries);
}

TEST_F(PartitionWalk, ALoopingChainOfReportableRecordsStopsWhenTheRecordIsFull) {
    // Every record says another follows and its logical partition is empty, so the walk
    // steps one cylinder at a time through a 1000-cylinder extended partition.
    sim::SparseDisk& a = Disk('a', 2000 * kCylinder);
    sim::write_partition_entry(a, 0, 0, 0x83, 63, 10 * kCylinder - 63);
    sim::write_partition_entry(a, 0, 1, 0x0F, 10 * kCylinder, 1000 * kCylinder);
    for (std::uint64_t c = 10; c < 1010; ++c) {
        sim::write_partition_entry(a, c * kCylinder, 0, 0x83, 63, 0);
        sim::write_partition_entry(a, c * kCylinder, 1, 0x05, 0, 0);  // points back at the first
    }
    sim::write_partition_entry(Disk('b', 100 * kCylinder), 0, 0, 0x83, 63, 10 * kCylinder - 63);

    auto entries = Walk();
    EXPECT_EQ(quantity, 26);
    ASSERT_EQ(entries.size(), 26u);
    EXPECT_EQ(entries[1], (Entry{"/dev/hda5", "", "Linux"}));
    EXPECT_EQ(entries[25], (Entry{"/dev/hda29", "", "Linux"}));
    EXPECT_TRUE(ReadOffsets("/dev/hdb").empty());  // no room left for its partitions
}

TEST_F(PartitionWalk, ALoopingChainEndsAtTheExtendedPartitionAndAtTheDisk) {
    // Unreported types fill no entry, so only the bounds can end these chains. hda's
    // extended partition spans 50 cylinders; hdb's claims 1000 but the disk ends after 20.
    sim::SparseDisk& a = Disk('a', 500 * kCylinder);
    sim::write_partition_entry(a, 0, 0, 0x0F, 100 * kCylinder, 50 * kCylinder);
    sim::SparseDisk& b = Disk('b', 20 * kCylinder);
    sim::write_partition_entry(b, 0, 0, 0x0F, 10 * kCylinder, 1000 * kCylinder);
    for (std::uint64_t c = 1; c < 500; ++c) {
        sim::write_partition_entry(a, c * kCylinder, 0, 0x12, 63, 0);
        sim::write_partition_entry(a, c * kCylinder, 1, 0x05, 0, 0);
        if (c >= 10 && c < 20) {
            sim::write_partition_entry(b, c * kCylinder, 0, 0x12, 63, 0);
            sim::write_partition_entry(b, c * kCylinder, 1, 0x05, 0, 0);
        }
    }
    auto entries = Walk();
    EXPECT_EQ(quantity, 0);
    // Four primary entries, then two entries in each of 50 (hda) and 10 (hdb) records.
    EXPECT_EQ(ReadOffsets("/dev/hda").size(), 4u + 2 * 50);
    auto hda = ReadOffsets("/dev/hda");
    EXPECT_EQ(*std::max_element(hda.begin(), hda.end()), 149 * kCylinderBytes + 462);
    EXPECT_EQ(ReadOffsets("/dev/hdb").size(), 4u + 2 * 10);
}

TEST_F(PartitionWalk, ALoopingChainEndsAtTheLastPartitionNumber) {
    // 2000 cylinders of records of an unreported type, each saying another follows: only
    // the records of partitions 5 to 60 are read, then the walk goes on to the next disk.
    sim::SparseDisk& a = Disk('a', 3000 * kCylinder);
    sim::write_partition_entry(a, 0, 0, 0x0F, kCylinder, 2000 * kCylinder);
    sim::write_partition_entry(a, 0, 1, 0x83, 2001 * kCylinder, 10 * kCylinder);
    for (std::uint64_t c = 1; c < 2001; ++c) {
        sim::write_partition_entry(a, c * kCylinder, 0, c == 57 ? 0x83 : 0x12, 63, 0);
        sim::write_partition_entry(a, c * kCylinder, 1, 0x05, 0, 0);
    }
    sim::write_partition_entry(Disk('b', 100 * kCylinder), 0, 0, 0x83, 63, 10 * kCylinder - 63);

    auto entries = Walk();
    EXPECT_EQ(ReadOffsets("/dev/hda").size(), 4u + 2 * 56);
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda2", std::to_string(10 * kCylinderBytes), "Linux"},
                                           {"/dev/hdb1", std::to_string((10 * kCylinder - 63) * 512), "Linux"}}));
}

TEST_F(PartitionWalk, TablesThatCannotBeReadAreEmpty) {
    // hda: the disk ends inside the partition table; only slot 1 is whole.
    sim::SparseDisk& a = Disk('a', 1);
    sim::write_partition_entry(a, 0, 0, 0x83, 63, 1000);
    sim::write_partition_entry(a, 0, 1, 0x83, 1063, 1000);
    auto truncated = std::make_shared<sim::SparseDisk>(446 + 20);
    std::vector<unsigned char> bytes(446 + 20);
    a.read(0, bytes.data(), bytes.size());
    truncated->write(0, bytes.data(), bytes.size());
    sim::add_ide_disk(*machine, 'a', truncated, "SERIAL");
    // hdb: in /proc/ide, but no block device.
    sim::add_ide_proc(*machine, 'b', "disk", "GONE", 1000);
    // hdc: its extended partition lies past the end of the disk.
    sim::SparseDisk& c = Disk('c', 20 * kCylinder);
    sim::write_partition_entry(c, 0, 0, 0x82, 63, 10 * kCylinder - 63);
    sim::write_partition_entry(c, 0, 1, 0x0F, 50 * kCylinder, 10 * kCylinder);

    auto entries = Walk();
    EXPECT_EQ(entries, (std::vector<Entry>{{"/dev/hda1", "512000", "Linux"},
                                           {"/dev/hdc1", std::to_string((10 * kCylinder - 63) * 512), "Linux swap"}}));
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/hdb"), 2u);  // identify and walk, both failed
    EXPECT_EQ(machine->still_open(), std::vector<std::string>{});
}

TEST_F(PartitionWalk, TheRecordHoldsTwentySixEntries) {
    // hda: three primaries and 20 logical partitions; hdb: four primaries. 27 in all.
    std::vector<sim::ClassicLayout::Logical> logicals(20, {0x83, 10});
    sim::ClassicLayout(Disk('a', 1000 * kCylinder)).primary(0x83, 10).primary(0x82, 10).primary(0x07, 10)
        .extended(0x0F, logicals);
    sim::ClassicLayout(Disk('b', 1000 * kCylinder)).primary(0x83, 10).primary(0x83, 10).primary(0x83, 10)
        .primary(0x83, 10);
    auto entries = Walk();
    EXPECT_EQ(quantity, 26);
    ASSERT_EQ(entries.size(), 26u);
    EXPECT_EQ(entries[22].description, "/dev/hda24");
    EXPECT_EQ(entries[25].description, "/dev/hdb3");
}

TEST_F(PartitionWalk, WithoutIdeDisksNothingIsOpened) {
    testing::internal::CaptureStdout();
    auto entries = Walk();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No ide devices.\n");
    EXPECT_EQ(quantity, 0);
    sim::add_ide_proc(*machine, 'c', "cdrom", "DVD", 0);
    Walk();
    EXPECT_EQ(quantity, 0);
    for (const sim::Access& a : machine->accesses()) EXPECT_NE(a.path.rfind("/dev/", 0), 0u) << a.path;
}

TEST(Valueofarray, LittleEndianAndNeverNegative) {
    unsigned char a[4] = {0x01, 0x02, 0x03, 0x04};
    unsigned long long value = 0;
    valueofarray(a, &value);
    EXPECT_EQ(value, 0x04030201ull);
    unsigned char b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    valueofarray(b, &value);
    EXPECT_EQ(value, 4294967295ull);
}

}  // namespace
