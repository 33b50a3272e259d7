#include "storage/partition.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "storage/ptable.h"
#include "storage/storage.h"
#include "storage/sysblock.h"

namespace {

constexpr unsigned long long kSectorSize = 512;
// The classic geometry the walk assumes: 255 heads of 63 sectors per cylinder.
constexpr unsigned long long kSectorsPerCylinder = 255 * 63;
constexpr unsigned long long kBytesPerCylinder = kSectorsPerCylinder * kSectorSize;
// The partition table of a master or extended boot record.
constexpr unsigned long long kTableOffset = 0x1BE;
constexpr int kPrimarySlots = 4;
constexpr unsigned char kExtendedLba = 0x0F;
// Logical partitions are numbered 5 to 60 at most, as in the walk of current kernels' disks
// (sfdisk's limit). Without it, a damaged extended partition of 2^32 sectors whose records
// all say another follows had the walk read one sector per cylinder: 267,000 scattered reads.
constexpr int kMostLogical = 60 - kPrimarySlots;

// Reads the 16-byte entry at `offset` of the disk; false when it cannot be read whole.
bool ReadEntry(int fd, unsigned long long offset, partition& entry) {
    long long position = 0;
    if (_llseek(static_cast<unsigned int>(fd), static_cast<unsigned long>(offset >> 32),
                static_cast<unsigned long>(offset & 0xFFFFFFFFULL), &position, SEEK_SET) != 0)
        return false;
    return platform::read(fd, &entry, sizeof entry) == static_cast<long>(sizeof entry);
}

void Report(PARTITION& out, const char* dev, int number, partition entry, const char* file_system) {
    unsigned long long sectors = 0;
    valueofarray(entry.size4, &sectors);
    std::memset(out.description, 0, sizeof out.description);
    std::snprintf(out.description, sizeof out.description, "%s%d", dev, number);
    lltostr(out.size, sectors * kSectorSize);
    std::memset(out.FileSystem, 0, sizeof out.FileSystem);
    std::snprintf(out.FileSystem, sizeof out.FileSystem, "%s", file_system);
}

// The disk's name from the IDE inventory's position text: "hda" for "Primary Master"...
bool DeviceOf(const char* ControllerNo, char (&dev)[16]) {
    for (int position = 0; position < kIdePositions; ++position)
        if (std::strcmp(ControllerNo, IdePositionText[position]) == 0) {
            std::snprintf(dev, sizeof dev, "/dev/hd%c", 'a' + position);
            return true;
        }
    return false;
}

int WalkLogical(int fd, partition ext, qarvel::Entries<PARTITION>& parts, const char* dev);

}  // namespace

int _llseek(unsigned int fd, unsigned long offset_high, unsigned long offset_low, long long* result,
            unsigned int origin) {
    return platform::llseek(fd, offset_high, offset_low, result, origin);
}

void valueofarray(unsigned char* arr, unsigned long long* value) {
    *value = static_cast<unsigned long long>(arr[0]) | static_cast<unsigned long long>(arr[1]) << 8 |
             static_cast<unsigned long long>(arr[2]) << 16 | static_cast<unsigned long long>(arr[3]) << 24;
}

int get_logic_info_from_ext(int fd, partition ext, PartitionInformation* PI, int* nr_part, char* dev) {
    qarvel::Entries<PARTITION> parts(PI->partition, static_cast<std::size_t>(*nr_part));
    int visited = WalkLogical(fd, ext, parts, dev);
    *nr_part = parts.Count();
    return visited;
}

namespace {

int WalkLogical(int fd, partition ext, qarvel::Entries<PARTITION>& parts, const char* dev) {
    int nr_logic_part = 0;
    if (ext.sys_ind == 0) return 0;
    unsigned long long ext_start = 0, ext_size = 0;
    valueofarray(ext.start4, &ext_start);
    valueofarray(ext.size4, &ext_size);
    // The extended boot records are found by cylinder arithmetic, not by the links on disk:
    // each one is taken to start on the cylinder after the previous logical partition.
    unsigned long long logic_cyl_start = ext_start / kSectorsPerCylinder;

    // A damaged table whose links never end must not walk forever: every record lies
    // inside the extended partition and inside the disk, the cylinder only grows, and no
    // more records are read than logical partitions can be numbered.
    long long end = platform::lseek(fd, 0, SEEK_END);
    unsigned long long disk_bytes = end < 0 ? ~0ULL : static_cast<unsigned long long>(end);
    unsigned long long ext_end = ext_start + ext_size;

    while (!parts.Full() && nr_logic_part < kMostLogical) {
        if (logic_cyl_start * kSectorsPerCylinder >= ext_end) break;
        unsigned long long offset = logic_cyl_start * kBytesPerCylinder + kTableOffset;
        partition logical;
        if (offset + 2 * sizeof(partition) > disk_bytes || !ReadEntry(fd, offset, logical)) break;
        ++nr_logic_part;
        if (const char* text = LogicalTypeText(logical.sys_ind))
            Report(parts.Next(), dev, nr_logic_part + kPrimarySlots, logical, text);

        unsigned long long sectors = 0;
        valueofarray(logical.size4, &sectors);
        logic_cyl_start += sectors / kSectorsPerCylinder + 1;

        // The record's second entry says whether another record follows.
        partition link;
        if (platform::read(fd, &link, sizeof link) != static_cast<long>(sizeof link) || link.sys_ind == 0) break;
    }
    return nr_logic_part;
}

// The disk's logical sector size, in which its tables count; 512 when not given.
unsigned SectorSize(const std::string& name) {
    std::string path = "/sys/block/" + name + "/queue/logical_block_size";
    char text[16] = {};
    int fd = platform::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 512;
    long n = platform::read(fd, text, sizeof text - 1);
    platform::close(fd);
    unsigned long size = n > 0 ? std::strtoul(text, nullptr, 10) : 0;
    return size >= 512 && size <= 65536 && size % 512 == 0 ? static_cast<unsigned>(size) : 512;
}

// The tables of a disk of a current kernel, read as the kernel reads them.
void WalkTables(const BlockDisk& disk, qarvel::Entries<PARTITION>& parts) {
    std::string device = "/dev/" + disk.name;
    int fd = platform::open(device.c_str(), O_RDONLY);
    if (fd < 0) return;
    long long end = platform::lseek(fd, 0, SEEK_END);
    unsigned long long bytes = end > 0 ? static_cast<unsigned long long>(end) : disk.sectors * kSectorSize;
    DiskReader read = [fd](unsigned long long offset, void* buffer, std::size_t count) {
        if (platform::lseek(fd, static_cast<long long>(offset), SEEK_SET) != static_cast<long long>(offset))
            return false;
        int error = 0;
        return platform::read_all(fd, buffer, count, error) == count;
    };
    unsigned sector = SectorSize(disk.name);
    for (const TablePartition& p : ReadPartitionTable(read, bytes, sector)) {
        if (parts.Full()) break;
        const char* text = PartitionTypeText(p);
        if (!text) continue;
        PARTITION& out = parts.Next();
        std::memset(out.description, 0, sizeof out.description);
        std::snprintf(out.description, sizeof out.description, "%s", PartitionPath(disk.name, p.number).c_str());
        lltostr(out.size, p.sectors * sector);
        std::memset(out.FileSystem, 0, sizeof out.FileSystem);
        std::snprintf(out.FileSystem, sizeof out.FileSystem, "%s", text);
    }
    platform::close(fd);
}

}  // namespace

void GetAllPartitionInfo(PartitionInformation* PI) {
    qarvel::Entries<PARTITION> parts(PI->partition);
    ListPartitions(parts, false);
    PI->quantity = parts.Count();
}

void ListPartitions(qarvel::Entries<PARTITION>& parts, bool everyDisk) {
    StorageInformation drives;
    std::memset(&drives, 0, sizeof drives);
    std::vector<BlockDisk> disks;
    std::vector<DriveInfo> every;
    GetStorageInfo(&drives, disks, everyDisk ? &every : nullptr);
    if (!disks.empty()) {
        for (const BlockDisk& disk : disks) WalkTables(disk, parts);
        return;
    }

    for (int i = 0; i < drives.quantityIDE && !parts.Full(); ++i) {
        char dev[16];
        if (!DeviceOf(drives.driveArray[i].ControllerNo, dev)) continue;
        int fd = platform::open(dev, O_RDONLY);
        if (fd < 0) continue;  // every slot of a disk that cannot be opened is empty
        for (int slot = 0; slot < kPrimarySlots && !parts.Full(); ++slot) {
            partition entry;
            if (!ReadEntry(fd, kTableOffset + sizeof(partition) * slot, entry) || entry.sys_ind == 0) continue;
            if (const char* text = PrimaryTypeText(entry.sys_ind)) Report(parts.Next(), dev, slot + 1, entry, text);
            // Only the LBA extended type is followed; 0x05 and 0x85 are neither listed nor walked.
            if (entry.sys_ind == kExtendedLba) WalkLogical(fd, entry, parts, dev);
        }
        platform::close(fd);
    }
}
