// The IDE drives: the kernel's /proc/ide tree, and for each disk a sparse image holding the
// sectors with partition tables (master and extended boot records) and its serial number.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::size_t kTable = 0x1BE;  // the four 16-byte entries of a boot record
constexpr unsigned long kGetIdentity = 0x030D;  // HDIO_GET_IDENTITY
constexpr std::size_t kIdentify = 512, kSerialOffset = 20, kSerialLength = 20;
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

// The disk's boot records: the master boot record, then every extended boot record, found
// both by the links on disk and by the cylinder arithmetic that the partition walk uses.
void CaptureImage(Capture& c, int fd, const std::string& name) {
    long long end = platform::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        c.manifest.missing("dev/" + name + ".img", std::string("size unknown: ") + std::strerror(errno));
        return;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(end);
    std::map<std::uint64_t, std::vector<std::uint8_t>> sectors;
    auto read_sector = [&](std::uint64_t lba) -> const std::vector<std::uint8_t>* {
        if ((lba + 1) * kSector > size) return nullptr;
        if (auto it = sectors.find(lba); it != sectors.end()) return &it->second;
        std::vector<std::uint8_t>& bytes = sectors[lba];
        bytes.assign(kSector, 0);
        if (platform::lseek(fd, static_cast<long long>(lba * kSector), SEEK_SET) >= 0 &&
            platform::read(fd, bytes.data(), kSector) == static_cast<long>(kSector))
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
    for (int slot = 0; slot < 4; ++slot) {
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
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> pieces;
    for (const auto& [lba, bytes] : sectors) pieces.push_back({lba * kSector, bytes});
    std::string error;
    if (!c.out.write_sparse("dev/" + name + ".img", size, pieces, error)) c.manifest.missing("dev/" + name + ".img", error);
}

}  // namespace

// Today's source: /proc/ide and the /dev/hdX block devices. A /sys/block source lists the
// disks and hands the same images.
void capture_disks(Capture& c) {
    if (!platform::directory_exists("/proc/ide")) {
        c.manifest.missing("proc/ide/", "no /proc/ide on this kernel");
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
        CaptureImage(c, fd, name);
        unsigned char identify[kIdentify] = {};
        if (platform::ioctl(fd, kGetIdentity, identify) == 0) {
            std::string serial(reinterpret_cast<char*>(identify) + kSerialOffset, kSerialLength);
            serial.erase(serial.find_last_not_of(" \0", std::string::npos, 2) + 1);
            c.write("dev/" + name + ".serial", serial + "\n");
        } else {
            c.manifest.missing("dev/" + name + ".serial", std::string("identify request: ") + std::strerror(errno));
        }
        platform::close(fd);
    }
}

}  // namespace capture
