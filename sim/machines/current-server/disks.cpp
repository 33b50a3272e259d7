// The current server's disks as a 6.x kernel shows them in /sys/block, with sparse images
// that hold only their partition tables: a disk on the legacy IDE function (secondary
// master), two SATA disks and a DVD drive on the AHCI controller, an NVMe drive and a SAS
// disk. The kernel's sdX letters follow probe order, not the ports, on purpose.
#include <cstdio>
#include <string>

#include "sim/Disk.h"
#include "sim/loader.h"
#include "sim/machines/current-server/parts.h"

namespace current_server {

namespace {

using Bus = sim::SysfsDisk::Bus;

constexpr const char* kLinuxData = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
constexpr const char* kLinuxRoot = "4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709";
constexpr const char* kLinuxHome = "933AC7E1-2EB4-4F13-B844-0E14E2AEF915";
constexpr const char* kLinuxVar = "4D21B016-B534-45C2-A9FB-5C16E091FD2D";
constexpr const char* kLinuxSwap = "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F";
constexpr const char* kLinuxLvm = "E6D6D379-F507-44C2-A23C-238F2A3DF928";
constexpr const char* kEfiSystem = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

constexpr const char* kAhci = "0000:00:17.0";
constexpr const char* kIde = "0000:00:1f.1";

struct Drive {
    sim::SysfsDisk sysfs;
    bool ata_identify;
    void (*partition)(sim::SparseDisk&);
};

sim::SysfsDisk ata(const char* name, const char* pci, std::uint32_t cls, const char* driver, int port, int host,
                   const char* model, const char* firmware, const char* serial, std::uint64_t sectors) {
    sim::SysfsDisk d;
    d.bus = Bus::Ata;
    d.name = name;
    d.pci = pci;
    d.pci_class = cls;
    d.driver = driver;
    d.ata_port = port;
    d.host = host;
    d.vendor = "ATA";
    d.model = model;
    d.firmware = firmware;
    d.serial = serial;
    d.sectors = sectors;
    return d;
}

// The legacy disk: /boot and swap, then an extended partition of type 0x05 as sfdisk
// makes it, with root, a FAT32 exchange partition and /srv.
void partition_ide(sim::SparseDisk& disk) {
    sim::AlignedLayout(disk).primary(0x83, 512).primary(0x82, 4096).extended(0x05, {{0x83, 20480}, {0x0B, 10240},
                                                                                     {0x83, 30720}});
}

// The system SSD: EFI system partition, root, swap, /home, a Windows data partition and
// an LVM physical volume.
void partition_system(sim::SparseDisk& disk) {
    sim::GptLayout(disk)
        .add(kEfiSystem, 512)
        .add(kLinuxRoot, 40960)
        .add(kLinuxSwap, 8192)
        .add(kLinuxHome, 102400)
        .add(kBasicData, 51200)
        .add(kLinuxLvm, 204800)
        .write();
}

void partition_data(sim::SparseDisk& disk) { sim::GptLayout(disk).add(kLinuxData, 1800000).write(); }

void partition_nvme(sim::SparseDisk& disk) {
    sim::GptLayout(disk).add(kLinuxRoot, 65536).add(kLinuxVar, 131072).add(kLinuxSwap, 16384).write();
}

void partition_sas(sim::SparseDisk& disk) { sim::AlignedLayout(disk).primary(0x07, 1100000); }

std::vector<Drive> drives() {
    std::vector<Drive> d;
    // sda: the second SATA port to be probed, on ata5.
    d.push_back({ata("sda", kAhci, 0x010601, "ahci", 5, 4, "HGT SATA-2T 7200", "MN6OA800", "HGS2T-2207-418830",
                     3907029168ULL),
                 true, partition_data});
    d.push_back({ata("sdb", kAhci, 0x010601, "ahci", 3, 2, "HGT SSD-480 SATA", "SBFD00B1", "HGS480-2101-007731",
                     937703088ULL),
                 true, partition_system});
    d.push_back({ata("sdc", kIde, 0x01018A, "ata_piix", 2, 1, "HGT ATA-80G 7200", "34.06J34", "HGA80-1102-553071",
                     156301488ULL),
                 true, partition_ide});
    sim::SysfsDisk dvd = ata("sr0", kAhci, 0x010601, "ahci", 6, 5, "HG DVD-RW DH16", "1.02", "", 0);
    dvd.scsi_type = 5;
    d.push_back({dvd, false, nullptr});

    sim::SysfsDisk nvme;
    nvme.bus = Bus::Nvme;
    nvme.name = "nvme0n1";
    nvme.pci = "0000:01:00.0";
    nvme.pci_class = 0x010802;
    nvme.driver = "nvme";
    nvme.controller = "nvme0";
    nvme.model = "HGN 960G NVMe";
    nvme.firmware = "2B2QGXA7";
    nvme.serial = "HGN960-2203-110482";
    nvme.sectors = 1875385008ULL;
    d.push_back({nvme, false, partition_nvme});

    sim::SysfsDisk sas;
    sas.bus = Bus::Scsi;
    sas.name = "sdd";
    sas.pci = "0000:02:00.0";
    sas.pci_class = 0x010700;
    sas.driver = "mpt3sas";
    sas.host = 0;
    sas.target = 4;
    sas.vendor = "HGT";
    sas.model = "SAS-1200 10K";
    sas.firmware = "B03A";
    sas.serial = "HGK1200-2105-93112";
    sas.sectors = 2344225968ULL;
    d.push_back({sas, false, partition_sas});
    return d;
}

}  // namespace

bool write_disks(const std::string& dir) {
    sim::SysfsTree tree;
    // The legacy function's primary channel is empty.
    sim::describe_ata_port(tree, kIde, 1);
    for (const Drive& drive : drives()) {
        sim::describe_disk(tree, drive.sysfs);
        if (!drive.partition) continue;
        sim::SparseDisk disk(drive.sysfs.sectors * sim::kSectorSize);
        drive.partition(disk);
        std::string error;
        if (!disk.save_compact(dir + "/dev/" + drive.sysfs.name + ".img", error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        if (drive.ata_identify) {
            auto block = sim::identify_block(
                sim::AtaIdentity{drive.sysfs.serial, drive.sysfs.firmware, drive.sysfs.model});
            if (!sim::write_file(dir + "/dev/" + drive.sysfs.name + ".identify", std::string(block.begin(), block.end())))
                return false;
        }
    }
    std::string error;
    if (!tree.save(dir, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return write_disk_health(dir);
}

}  // namespace current_server
