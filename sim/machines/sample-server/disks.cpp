// The sample server's IDE drives: two disks partitioned the classic cylinder-aligned way
// and a DVD drive, written as the /proc/ide tree, sparse disk images and serial numbers.
#include <cstdio>
#include <string>

#include "sim/Disk.h"
#include "sim/loader.h"
#include "sim/machines/sample-server/parts.h"

namespace sample_server {

namespace {

struct Drive {
    char letter;
    const char* media;
    const char* model;
    std::uint64_t sectors;  // 0: no medium
    const char* serial;
};

const Drive kDrives[] = {
    {'a', "disk", "HGT ATA-40G 7200", 78165360, "HGA40-0427-118390"},
    {'b', "disk", "HGT ATA-80G 7200", 156301488, "HGA80-1102-553071"},
    {'c', "cdrom", "HG DVD-ROM DR-16", 0, nullptr},
};

// hda: the system disk. /boot, swap, root, and an extended partition with /var, a FAT32
// exchange partition and /home.
void partition_hda(sim::SparseDisk& disk) {
    sim::ClassicLayout(disk)
        .primary(0x83, 13)
        .primary(0x82, 261)
        .primary(0x83, 1305)
        .extended(0x0F, {{0x83, 1305}, {0x0B, 653}, {0x83, 1328}});
}

// hdb: a data disk shared with another system: NTFS, a FAT16 primary, and logical FAT16,
// NTFS, swap and Linux partitions; the fourth slot is empty.
void partition_hdb(sim::SparseDisk& disk) {
    sim::ClassicLayout(disk)
        .primary(0x07, 2550)
        .primary(0x06, 64)
        .extended(0x0F, {{0x06, 64}, {0x07, 2000}, {0x82, 131}, {0x83, 4920}});
}

}  // namespace

bool write_disks(const std::string& dir) {
    for (const Drive& d : kDrives) {
        std::string proc = dir + "/proc/ide/ide" + std::to_string((d.letter - 'a') / 2) + "/hd" + d.letter + "/";
        std::string dev = dir + "/dev/hd" + d.letter;
        bool ok = sim::write_file(proc + "media", std::string(d.media) + "\n") &&
                  sim::write_file(proc + "model", std::string(d.model) + "\n") &&
                  sim::write_file(proc + "capacity", std::to_string(d.sectors) + "\n") &&
                  sim::write_file(proc + "driver", std::string(d.sectors ? "ide-disk" : "ide-cdrom") + " version 1.18\n");
        if (!ok) return false;
        if (!d.sectors) continue;
        sim::SparseDisk disk(d.sectors * sim::kSectorSize);
        (d.letter == 'a' ? partition_hda : partition_hdb)(disk);
        std::string error;
        if (!disk.save_compact(dev + ".img", error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        if (!sim::write_file(dev + ".serial", std::string(d.serial) + "\n")) return false;
    }
    return sim::write_file(dir + "/proc/ide/drivers", std::string("ide-cdrom version 4.61\nide-disk version 1.18\n"));
}

}  // namespace sample_server
