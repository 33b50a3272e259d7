// Disks of a current kernel: /sys/block, placed by controller and port, IDE disks first.
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "sim/Disk.h"
#include "sim/loader.h"
#include "storage/partition.h"
#include "storage/storage.h"
#include "storage/sysblock.h"
#include "tests/support/fixture.h"
#include "tests/support/tools.h"

namespace {

struct Drive {
    std::string type, size, model, ControllerType, ControllerNo, SerialNo, FirmwareVersion;
    bool operator==(const Drive&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Drive& d) {
    return out << "{" << d.type << ", " << d.size << ", " << d.model << ", " << d.ControllerType << ", "
               << d.ControllerNo << ", " << d.SerialNo << ", " << d.FirmwareVersion << "}";
}

struct SysBlock : qtest::MachineTest {
    std::vector<Drive> Inventory() {
        auto info = std::make_unique<StorageInformation>();
        std::memset(info.get(), 0, sizeof *info);
        GetStorageInfo(info.get());
        ide = info->quantityIDE;
        scsi = info->quantitySCSI;
        std::vector<Drive> drives;
        for (int i = 0; i < ide + scsi && i < 24; ++i) {
            const DriveInfo& d = info->driveArray[i];
            drives.push_back({d.type, d.size, d.model, d.ControllerType, d.ControllerNo, d.SerialNo, d.FirmwareVersion});
        }
        EXPECT_EQ(machine->still_open(), std::vector<std::string>{});
        return drives;
    }
    int ide = -1, scsi = -1;
    int scsi_count() const { return scsi; }
};

TEST_F(SysBlock, TheCurrentServersDisksByControllerAndPort) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    testing::internal::CaptureStdout();
    auto drives = Inventory();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(DiskSourceName(), "/sys/block");
    EXPECT_EQ(ide, 1);
    EXPECT_EQ(scsi, 4);
    EXPECT_EQ(drives, (std::vector<Drive>{
                          // The legacy IDE function's secondary master (its primary channel is empty).
                          {"hdd", "80026361856", "HGT ATA-80G 7200", "ide", "Secondry Master", "HGA80-1102-553071",
                           "34.06J34"},
                          // AHCI port ata3 (sdb) before ata5 (sda), whatever their letters.
                          {"hdd", "480103981056", "HGT SSD-480 SATA", "sata", "2:0:0:0", "HGS480-2101-007731",
                           "SBFD00B1"},
                          {"hdd", "2000398934016", "HGT SATA-2T 7200", "sata", "4:0:0:0", "HGS2T-2207-418830",
                           "MN6OA800"},
                          {"hdd", "960197124096", "HGN 960G NVMe", "nvme", "nvme0", "HGN960-2203-110482", "2B2QGXA7"},
                          {"hdd", "1200243695616", "SAS-1200 10K", "sas", "0:0:4:0", "HGK1200-2105-93112", "B03A"},
                      }));
}

using Bus = sim::SysfsDisk::Bus;

// A disk of the kernel's tree, its block device answering identify (ATA) or not.
sim::SysfsDisk Sata(const char* name, int port, int host, const char* model, const char* serial = "S") {
    sim::SysfsDisk d;
    d.name = name;
    d.pci = "0000:00:17.0";
    d.pci_class = 0x010601;
    d.driver = "ahci";
    d.ata_port = port;
    d.host = host;
    d.vendor = "ATA";
    d.model = model;
    d.firmware = "FW01";
    d.serial = serial;
    d.sectors = 1000;
    return d;
}

sim::SysfsDisk Ide(const char* name, int port, int device, int host, const char* model) {
    sim::SysfsDisk d = Sata(name, port, host, model);
    d.pci = "0000:00:1f.1";
    d.pci_class = 0x01018A;
    d.driver = "ata_piix";
    d.target = device;
    return d;
}

struct Disks : SysBlock {
    sim::SysfsTree tree;
    void Add(const sim::SysfsDisk& disk, bool identify = true, std::shared_ptr<sim::SparseDisk> image = nullptr) {
        sim::describe_disk(tree, disk);
        if (!image) image = std::make_shared<sim::SparseDisk>(disk.sectors * 512);
        std::optional<sim::AtaIdentity> identity;
        if (identify) identity = sim::AtaIdentity{disk.serial + " (identify)", disk.firmware + "-id", disk.model + " (identify)"};
        sim::add_block_device(*machine, disk.name, image, identity);
    }
    void Install() {
        machine->kernel = sim::Kernel::Current;
        tree.install(*machine);
    }
};

TEST_F(Disks, TheOrderFollowsPortsNotLetters) {
    // Two boots of one machine: the kernel named the disks the other way round.
    std::vector<Drive> boots[2];
    for (int boot = 0; boot < 2; ++boot) {
        SetUp();
        Disks& self = *this;
        self.tree = {};
        self.Add(Sata(boot ? "sdb" : "sda", 1, boot ? 1 : 0, "FIRST", "S1"));
        self.Add(Sata(boot ? "sda" : "sdb", 2, boot ? 0 : 1, "SECOND", "S2"));
        self.Install();
        boots[boot] = Inventory();
        ASSERT_EQ(boots[boot].size(), 2u);
        EXPECT_EQ(boots[boot][0].model, "FIRST (identify)");
    }
    EXPECT_EQ(boots[0][0].SerialNo, boots[1][0].SerialNo);
    EXPECT_EQ(boots[0][1].SerialNo, boots[1][1].SerialNo);
}

TEST_F(Disks, IdeDisksComeFirstWithTheirClassicPositions) {
    // The AHCI controller sorts before the IDE function, yet IDE disks lead.
    Add(Sata("sda", 1, 0, "SATA DISK"));
    sim::describe_ata_port(tree, "0000:00:1f.1", 3);  // both IDE channels, their disks on either
    Add(Ide("sdc", 4, 0, 3, "SECONDARY MASTER"));
    Add(Ide("sdb", 3, 1, 2, "PRIMARY SLAVE"));
    // A DVD drive and a loop device are not disks.
    sim::SysfsDisk dvd = Sata("sr0", 2, 1, "DVD");
    dvd.scsi_type = 5;
    Add(dvd, false);
    machine->files.add("/sys/devices/virtual/block/loop0/size", "0\n");
    machine->files.add_link("/sys/block/loop0", "../devices/virtual/block/loop0");
    Install();
    auto drives = Inventory();
    EXPECT_EQ(ide, 2);
    EXPECT_EQ(scsi, 1);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].ControllerNo, "Primary Slave");
    EXPECT_EQ(drives[0].ControllerType, "ide");
    EXPECT_EQ(drives[1].ControllerNo, "Secondry Master");
    EXPECT_EQ(drives[2].ControllerType, "sata");
    EXPECT_EQ(drives[2].ControllerNo, "0:0:0:0");
    EXPECT_EQ(drives[2].size, "512000");
}

TEST_F(Disks, AScsiAddressThatIsNotFourNumbersIsNoDisk) {
    // A signed target would have been taken as a huge number, then as position -1 before
    // the first IDE position's text.
    sim::describe_ata_port(tree, "0000:00:1f.1", 3);
    Add(Ide("sda", 3, -1, 2, "SIGNED TARGET"));
    Add(Ide("sdb", 4, 0, 3, "SECONDARY MASTER"));
    Install();
    auto drives = Inventory();
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].model, "SECONDARY MASTER (identify)");
    EXPECT_EQ(drives[0].ControllerNo, "Secondry Master");
}

TEST_F(Disks, EveryKindOfDiskAndWhereItsStringsComeFrom) {
    // An ATA disk that does not answer identify: sysfs's INQUIRY strings and serial page.
    Add(Sata("sda", 1, 0, "SHORT MODEL", "WD-12345"), false);
    sim::SysfsDisk nvme;
    nvme.bus = Bus::Nvme;
    nvme.name = "nvme1n2";
    nvme.pci = "0000:01:00.0";
    nvme.pci_class = 0x010802;
    nvme.controller = "nvme1";
    nvme.model = std::string(200, 'N');
    nvme.serial = "NV-1";
    nvme.firmware = "1.0";
    nvme.sectors = 2000;
    Add(nvme, false);
    sim::SysfsDisk virtio;
    virtio.bus = Bus::Virtio;
    virtio.name = "vda";
    virtio.pci = "0000:00:04.0";
    virtio.pci_class = 0x010000;
    virtio.controller = "virtio1";
    virtio.serial = "VIRT-9";
    virtio.sectors = 3000;
    Add(virtio, false);
    sim::SysfsDisk usb = Sata("sdb", 0, 6, "USB STICK", "U-1");
    usb.bus = Bus::Usb;
    usb.pci = "0000:00:14.0";
    usb.driver = "usb-storage";
    Add(usb, false);
    sim::SysfsDisk scsi = Sata("sdc", 0, 7, "PARALLEL SCSI", "");
    scsi.bus = Bus::Scsi;
    scsi.pci = "0000:05:00.0";
    scsi.pci_class = 0x010000;
    scsi.driver = "sym53c8xx";
    scsi.target = 3;
    Add(scsi, false);
    Install();
    auto drives = Inventory();
    EXPECT_EQ(ide, 0);
    EXPECT_EQ(scsi_count(), 5);
    ASSERT_EQ(drives.size(), 5u);
    EXPECT_EQ(drives[0], (Drive{"hdd", "1536000", "", "virtio", "0000:00:04.0", "VIRT-9", ""}));
    EXPECT_EQ(drives[1], (Drive{"hdd", "512000", "SHORT MODEL", "sata", "0:0:0:0", "WD-12345", "FW01"}));
    EXPECT_EQ(drives[2], (Drive{"hdd", "1024000", std::string(63, 'N'), "nvme", "nvme1", "NV-1", "1.0"}));
    EXPECT_EQ(drives[3], (Drive{"hdd", "512000", "PARALLEL SCSI", "scsi", "7:0:3:0", "", "FW01"}));
    EXPECT_EQ(drives[4], (Drive{"hdd", "512000", "USB STICK", "usb", "6:0:0:0", "U-1", "FW01"}));
}

TEST_F(Disks, NvmeUnderNativeMultipathIsPlacedByItsController) {
    // The disk's device is the subsystem (no PCI parent); /sys/class/nvme names the
    // controllers. nvme0 sits on a later PCI function than nvme1, so it comes second.
    for (int n = 0; n < 2; ++n) {
        std::string subsys = "/sys/devices/virtual/nvme-subsystem/nvme-subsys" + std::to_string(n);
        std::string pci = n == 0 ? "0000:05:00.0" : "0000:04:00.0";
        std::string name = "nvme" + std::to_string(n) + "n1";
        machine->files.add(subsys + "/model", "MODEL " + std::to_string(n) + "\n");
        machine->files.add(subsys + "/serial", "SN" + std::to_string(n) + "\n");
        machine->files.add(subsys + "/" + name + "/size", "100\n");
        machine->files.add_link(subsys + "/" + name + "/device", "../../nvme-subsys" + std::to_string(n));
        machine->files.add_link("/sys/block/" + name, "../devices/virtual/nvme-subsystem/nvme-subsys" +
                                                          std::to_string(n) + "/" + name);
        machine->files.add("/sys/devices/pci0000:00/" + pci + "/uevent", "PCI_SLOT_NAME=" + pci + "\n");
        machine->files.add("/sys/devices/pci0000:00/" + pci + "/nvme/nvme" + std::to_string(n) + "/uevent", "");
        machine->files.add_link("/sys/devices/pci0000:00/" + pci + "/nvme/nvme" + std::to_string(n) + "/device",
                                "../../../" + pci);
        machine->files.add_link("/sys/class/nvme/nvme" + std::to_string(n),
                                "../../devices/pci0000:00/" + pci + "/nvme/nvme" + std::to_string(n));
        // The path through the controller: a hidden disk of its own, the same namespace.
        std::string path = "nvme" + std::to_string(n) + "c" + std::to_string(n) + "n1";
        std::string controller = "/sys/devices/pci0000:00/" + pci + "/nvme/nvme" + std::to_string(n);
        machine->files.add(controller + "/" + path + "/size", "100\n");
        if (n == 0) machine->files.add(controller + "/" + path + "/hidden", "1\n");  // older kernels have none
        machine->files.add_link(controller + "/" + path + "/device", "..");
        machine->files.add_link("/sys/block/" + path, "../devices/pci0000:00/" + pci + "/nvme/nvme" +
                                                          std::to_string(n) + "/" + path);
    }
    Install();
    auto drives = Inventory();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0], (Drive{"hdd", "51200", "MODEL 1", "nvme", "nvme1", "SN1", ""}));
    EXPECT_EQ(drives[1].ControllerNo, "nvme0");
}

TEST_F(Disks, TheRecordHoldsTwentyFourDisks) {
    for (int i = 0; i < 30; ++i) {
        std::string name = "sd" + std::string(1, static_cast<char>('a' + i % 26)) + (i >= 26 ? "a" : "");
        Add(Sata(name.c_str(), i + 1, i, ("DISK " + std::to_string(i)).c_str()));
    }
    Install();
    auto info = std::make_unique<StorageInformation>();
    std::memset(info.get(), 0x3C, sizeof *info);
    GetStorageInfo(info.get());
    EXPECT_EQ(info->quantityIDE, 0);
    EXPECT_EQ(info->quantitySCSI, 24);
    EXPECT_STREQ(info->driveArray[23].model, "DISK 23 (identify)");
}

TEST_F(Disks, NoDiskAnywhereSaysSoOnALineOfItsOwn) {
    machine->kernel = sim::Kernel::Current;
    machine->files.add("/sys/devices/virtual/block/loop0/size", "0\n");
    machine->files.add_link("/sys/block/loop0", "../devices/virtual/block/loop0");
    testing::internal::CaptureStdout();
    auto drives = Inventory();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No ide devices.\n");
    EXPECT_EQ(ide, 0);
    EXPECT_EQ(scsi, 0);
    EXPECT_STREQ(DiskSourceName(), "/sys/block");
    machine->files.deny("/sys/block");
    testing::internal::CaptureStdout();
    Inventory();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No ide devices.\n");
    EXPECT_EQ(DiskSourceName(), nullptr);
}

TEST_F(Disks, TheKernelDecidesBetweenProcIdeAndSysBlock) {
    // A capture holding both trees: each kernel shows its own.
    Add(Sata("sda", 1, 0, "SATA DISK"));
    Install();
    sim::add_ide_proc(*machine, 'a', "disk", "OLD DISK", 100);
    auto drives = Inventory();
    EXPECT_STREQ(DiskSourceName(), "/sys/block");
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].model, "SATA DISK (identify)");
    machine->kernel = sim::Kernel::Classic;
    drives = Inventory();
    EXPECT_STREQ(DiskSourceName(), "/proc/ide");
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].model, "OLD DISK");
}

// The partitions the walk reports, against sfdisk reading the same image files.
TEST_F(SysBlock, TheCurrentServersPartitionsAreSfdisksOfTheKnownKinds) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    auto info = std::make_unique<PartitionInformation>();
    std::memset(info.get(), 0, sizeof *info);
    GetAllPartitionInfo(info.get());
    std::map<std::string, std::string> ours, theirs;
    for (int i = 0; i < info->quantity; ++i)
        ours[info->partition[i].description] = std::string(info->partition[i].size) + " " + info->partition[i].FileSystem;
    // The kinds the tables name, by sfdisk's type text.
    const std::map<std::string, std::string> named = {
        {"83", "Linux"}, {"82", "Linux swap"}, {"7", "HPFS/NTFS"}, {"b", "Win95 FAT32"},
        {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux"}, {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux"},
        {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux"}, {"4D21B016-B534-45C2-A9FB-5C16E091FD2D", "Linux"},
        {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"}, {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "HPFS/NTFS"}};
    for (const char* disk : {"sda", "sdb", "sdc", "sdd", "nvme0n1"}) {
        std::string image = std::string(QARVEL_CURRENT_MACHINE) + "/dev/" + disk + ".img";
        for (const auto& p : qtest::SfdiskDump(image)) {
            auto kind = named.find(p.type_text);
            if (kind == named.end()) continue;
            std::string number = std::to_string(p.number);
            theirs[std::string("/dev/") + disk + (disk[0] == 'n' ? "p" : "") + number] =
                std::to_string(p.size * 512) + " " + kind->second;
        }
    }
    EXPECT_EQ(info->quantity, 14);
    EXPECT_EQ(ours, theirs);
    // In inventory order: the IDE disk's partitions first.
    EXPECT_STREQ(info->partition[0].description, "/dev/sdc1");
    EXPECT_STREQ(info->partition[2].description, "/dev/sdc5");
    EXPECT_STREQ(info->partition[10].description, "/dev/nvme0n1p1");
    EXPECT_EQ(machine->still_open(), std::vector<std::string>{});
}

TEST(PartitionPath, DigitEndedNamesTakeAP) {
    EXPECT_EQ(PartitionPath("sda", 1), "/dev/sda1");
    EXPECT_EQ(PartitionPath("nvme0n1", 12), "/dev/nvme0n1p12");
    EXPECT_EQ(PartitionPath("vdb", 5), "/dev/vdb5");
}

}  // namespace
