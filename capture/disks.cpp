// The disks. On a classic kernel the /proc/ide tree, and for each disk a compact image holding
// the sectors with partition tables (master and extended boot records) and its serial
// number. On a current kernel the /sys/block files the library reads (links kept, so paths
// with ".." resolve as on the machine), each disk's identify block where it answers, and a
// compact image holding the sectors the partition walk reads (boot records, GPT headers and
// entry arrays, primary and backup).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "capture/capture.h"
#include "capture/sysmirror.h"
#include "platform/platform.h"
#include "sim/compact_image.h"
#include "storage/identify.h"
#include "storage/storage.h"
#include "storage/sysblock.h"

namespace capture {

namespace {

constexpr std::size_t kTable = 0x1BE;  // the four 16-byte entries of a boot record
// The partition walk of old fdisk layouts: 255 heads of 63 sectors a cylinder.
constexpr std::uint64_t kSectorsPerCylinder = 255 * 63;
constexpr int kMostRecords = 128;  // a chain of links that never ends stops here

struct Entry {
    std::uint8_t type;
    std::uint64_t start, size;
};

Entry EntryAt(const std::vector<std::uint8_t>& sector, int slot) {
    const std::uint8_t* e = sector.data() + kTable + 16 * slot;
    auto le32 = [](const std::uint8_t* p) {
        return static_cast<std::uint64_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint64_t>(p[3]) << 24;
    };
    return {e[4], le32(e + 8), le32(e + 12)};
}

bool Extended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::uint64_t Le(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | (at + i < bytes.size() ? bytes[at + i] : 0);
    return value;
}

// The /proc/ide tree, file by file, through the platform.
void CopyTree(Capture& c, const std::string& path, std::vector<std::string>& drives) {
    std::vector<std::string> names;
    if (!platform::list_directory(path.c_str(), names)) {
        c.manifest.missing(path.substr(1) + "/", std::strerror(errno));
        return;
    }
    for (const std::string& name : names) {
        std::string child = path + "/" + name;
        if (platform::directory_exists(child.c_str())) {
            if (name.size() == 3 && name.compare(0, 2, "hd") == 0) drives.push_back(child);
            CopyTree(c, child, drives);
            continue;
        }
        std::string bytes, error;
        if (read_platform_file(child, bytes, error))
            c.write(child.substr(1), bytes);
        else
            c.manifest.missing(child.substr(1), error);
    }
}

// How the partition walk of each kernel finds its sectors.
enum class Walk {
    Classic,  // boot records, by their links and by cylinders; 512-byte sectors
    Current,  // boot records by their links, and the GPT headers and entry arrays
};

constexpr std::uint64_t kMostEntryArray = 1 << 20;  // as the GPT walk reads at most

// The disk's partition tables: the master boot record, then every extended boot record,
// and on a current kernel the GPT (UEFI 2.9 5.3.2).
void CaptureImage(Capture& c, int fd, const std::string& name, Walk walk, std::uint64_t sector = 512) {
    long long end = platform::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        c.manifest.missing("dev/" + name + ".img", std::string("size unknown: ") + std::strerror(errno));
        return;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(end);
    std::map<std::uint64_t, std::vector<std::uint8_t>> sectors;
    auto read_sector = [&](std::uint64_t lba) -> const std::vector<std::uint8_t>* {
        if ((lba + 1) * sector > size) return nullptr;
        if (auto it = sectors.find(lba); it != sectors.end()) return &it->second;
        std::vector<std::uint8_t>& bytes = sectors[lba];
        bytes.assign(sector, 0);
        if (platform::lseek(fd, static_cast<long long>(lba * sector), SEEK_SET) >= 0 &&
            platform::read(fd, bytes.data(), sector) == static_cast<long>(sector))
            return &bytes;
        sectors.erase(lba);
        return nullptr;
    };
    const std::vector<std::uint8_t>* mbr = read_sector(0);
    if (!mbr) {
        c.manifest.missing("dev/" + name + ".img", std::string("sector 0 unreadable: ") + std::strerror(errno));
        return;
    }
    const std::vector<std::uint8_t> master = *mbr;
    if (walk == Walk::Current) {
        // Every extended entry of the master record starts a chain; each record links to
        // the next by its first extended entry, relative to the chain's start.
        for (int slot = 0; slot < 4; ++slot) {
            Entry ext = EntryAt(master, slot);
            if (!Extended(ext.type) || ext.size == 0) continue;
            std::uint64_t at = ext.start;
            for (int records = 0; records < kMostRecords; ++records) {
                const std::vector<std::uint8_t>* ebr = read_sector(at);
                if (!ebr || (*ebr)[510] != 0x55 || (*ebr)[511] != 0xAA) break;
                const std::vector<std::uint8_t> record = *ebr;
                bool linked = false;
                for (int s = 0; s < 4 && !linked; ++s) {
                    Entry link = EntryAt(record, s);
                    if (Extended(link.type) && link.size != 0) at = ext.start + link.start, linked = true;
                }
                if (!linked) break;
            }
        }
        // Both headers (LBA 1, the one the primary names, the last sector) and their arrays.
        const std::uint64_t last = size / sector - 1;
        std::set<std::uint64_t> headers = {1, last};
        if (const std::vector<std::uint8_t>* primary = read_sector(1)) headers.insert(Le(*primary, 32, 8));
        for (std::uint64_t lba : headers) {
            if (lba < 1 || lba > last) continue;
            const std::vector<std::uint8_t>* header = read_sector(lba);
            if (!header || std::memcmp(header->data(), "EFI PART", 8) != 0) continue;
            const std::uint64_t entries = Le(*header, 72, 8), count = Le(*header, 80, 4), entry = Le(*header, 84, 4);
            if (entry == 0 || count * entry > kMostEntryArray || entries > last) continue;
            for (std::uint64_t s = 0; s < (count * entry + sector - 1) / sector; ++s) read_sector(entries + s);
        }
    }
    for (int slot = 0; slot < 4 && walk == Walk::Classic; ++slot) {
        Entry ext = EntryAt(master, slot);
        if (!Extended(ext.type)) continue;
        // Links: each record's second entry points to the next, relative to the extended start.
        std::set<std::uint64_t> seen;
        for (std::uint64_t at = ext.start; seen.size() < kMostRecords && seen.insert(at).second;) {
            const std::vector<std::uint8_t>* ebr = read_sector(at);
            if (!ebr) break;
            Entry link = EntryAt(*ebr, 1);
            if (!Extended(link.type) || link.start == 0) break;
            at = ext.start + link.start;
        }
        // Cylinders: each record on the cylinder after the previous logical partition.
        std::uint64_t cylinder = ext.start / kSectorsPerCylinder;
        for (int n = 0; n < kMostRecords && cylinder * kSectorsPerCylinder < ext.start + ext.size; ++n) {
            const std::vector<std::uint8_t>* ebr = read_sector(cylinder * kSectorsPerCylinder);
            if (!ebr) break;
            Entry logical = EntryAt(*ebr, 0), link = EntryAt(*ebr, 1);
            cylinder += logical.size / kSectorsPerCylinder + 1;
            if (link.type == 0) break;
        }
    }
    // Compact: a sparse file of the disk's size is terabytes to any tool that does not keep holes.
    std::string error;
    const std::string image = sim::encode_compact(size, static_cast<std::uint32_t>(sector), sectors);
    if (!c.out.write("dev/" + name + ".img", image, error)) c.manifest.missing("dev/" + name + ".img", error);
}

// What the /sys/block source reads of one disk: its attributes, its SCSI device, the host
// adapter's parent and controller, an NVMe controller and a virtio function.
void MirrorDisk(SysMirror& sys, const BlockDisk& disk) {
    const std::string block = "/sys/block/" + disk.name;
    sys.follow(block + "/device");
    for (const char* attribute : {"size", "serial", "queue/logical_block_size", "device/type", "device/model",
                                  "device/rev", "device/vpd_pg80", "device/serial", "device/firmware_rev",
                                  "device/uevent", "device/device/uevent", "device/../uevent"})
        sys.file(block + "/" + attribute);
    sys.listing(block + "/device/scsi_device");
    std::vector<std::string> scsi;
    platform::list_directory((block + "/device/scsi_device").c_str(), scsi);
    unsigned host = 0;
    if (scsi.size() == 1 && std::sscanf(scsi[0].c_str(), "%u:", &host) == 1) {
        const std::string parent = "/sys/class/scsi_host/host" + std::to_string(host) + "/device/..";
        sys.file(parent + "/uevent");
        sys.file(parent + "/../uevent");
        sys.listing(parent + "/ata_port");
        sys.listing(parent + "/..");
    }
    if (disk.ControllerType == "nvme") sys.file("/sys/class/nvme/" + disk.ControllerNo + "/device/uevent");
}

// The disks of a current kernel, as the /sys/block source lists them.
void CaptureBlockDisks(Capture& c) {
    std::vector<BlockDisk> disks;
    if (!ListBlockDisks(disks)) {
        c.manifest.missing("sys/block/", std::string("/sys/block: ") + std::strerror(errno));
        return;
    }
    if (!disks.empty()) {
        // The library's own reading, so that the source named is its answer: of every disk,
        // not only of the 24 its record holds.
        auto info = std::make_unique<StorageInformation>();
        std::vector<DriveInfo> every;
        GetStorageInfo(info.get(), disks, &every);
    }
    c.manifest.source("disks", DiskSourceName() ? DiskSourceName() : "/sys/block (no disk)");
    SysMirror sys(c);
    for (const BlockDisk& disk : disks) {
        MirrorDisk(sys, disk);
        const std::string device = "/dev/" + disk.name;
        int fd = platform::open(device.c_str(), O_RDONLY);
        if (fd < 0) {
            c.manifest.missing("dev/" + disk.name + ".img", device + ": " + std::strerror(errno));
            continue;
        }
        std::string text, error;
        unsigned long sector = 512;
        if (read_platform_file("/sys/block/" + disk.name + "/queue/logical_block_size", text, error)) {
            unsigned long given = std::strtoul(text.c_str(), nullptr, 10);
            if (given >= 512 && given <= 65536 && given % 512 == 0) sector = given;
        }
        CaptureImage(c, fd, disk.name, Walk::Current, sector);
        unsigned char identify[kIdentifySize] = {};
        if (platform::ioctl(fd, HDIO_GET_IDENTITY, identify) == 0)
            c.write("dev/" + disk.name + ".identify", std::string(reinterpret_cast<char*>(identify), kIdentifySize));
        platform::close(fd);
    }
}

}  // namespace

void capture_disks(Capture& c) {
    if (!platform::directory_exists("/proc/ide")) {
        CaptureBlockDisks(c);
        capture_disk_health(c);
        return;
    }
    std::vector<std::string> drives;
    CopyTree(c, "/proc/ide", drives);
    c.manifest.source("disks", "/proc/ide");
    for (const std::string& drive : drives) {
        std::string media, error;
        read_platform_file(drive + "/media", media, error);
        if (media.compare(0, 4, "disk") != 0) continue;
        const std::string name = drive.substr(drive.rfind('/') + 1);
        int fd = platform::open(("/dev/" + name).c_str(), O_RDONLY);
        if (fd < 0) {
            c.manifest.missing("dev/" + name + ".img", "/dev/" + name + ": " + std::strerror(errno));
            continue;
        }
        CaptureImage(c, fd, name, Walk::Classic);
        unsigned char identify[kIdentifySize] = {};
        if (platform::ioctl(fd, HDIO_GET_IDENTITY, identify) == 0) {
            std::string serial(reinterpret_cast<char*>(identify) + kSerialField.offset, kSerialField.length);
            serial.erase(serial.find_last_not_of(" \0", std::string::npos, 2) + 1);
            c.write("dev/" + name + ".serial", serial + "\n");
        } else {
            c.manifest.missing("dev/" + name + ".serial", std::string("identify request: ") + std::strerror(errno));
        }
        platform::close(fd);
    }
    capture_disk_health(c);
}

}  // namespace capture
