// One disk-health poll over simulated disks that answer with the bytes QEMU's disks gave
// (tests/data/disks/qemu-6.1/answers): what it reports, what it sends a disk in standby,
// and how one disk's failing command leaves the others.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "api/Qarvel.h"
#include "process/state.h"
#include "sim/Disk.h"
#include "sim/DiskHealth.h"
#include "storage/disk_health.h"
#include "storage/storage.h"
#include "tests/support/fixture.h"

namespace {

using Bus = sim::SysfsDisk::Bus;
using Sent = std::vector<std::string>;
const Sent kFullRead = {"power-mode", "ata-identify", "smart-status", "smart-data", "smart-thresholds"};

std::shared_ptr<sim::AtaHealth> QemuAnswers(const char* disk = "sdc") {
    std::shared_ptr<sim::AtaHealth> health;
    std::string error;
    EXPECT_TRUE(sim::load_ata_health(qtest::DataPath("disks/qemu-6.1/answers"), disk, health, error)) << error;
    return health;
}

struct Health : qtest::MachineTest {
    sim::SysfsTree tree;

    // An AHCI disk on port `port`, answering from `health`.
    void Ata(const char* name, int port, std::shared_ptr<sim::AtaHealth> health) {
        sim::SysfsDisk d;
        d.name = name;
        d.pci = "0000:00:17.0";
        d.pci_class = 0x010601;
        d.driver = "ahci";
        d.ata_port = port;
        d.host = port;
        d.vendor = "ATA";
        d.model = std::string("DISK ") + name;
        d.serial = std::string("SER-") + name;
        d.sectors = 1000;
        sim::describe_disk(tree, d);
        sim::add_block_device(*machine, name, std::make_shared<sim::SparseDisk>(512000),
                              sim::AtaIdentity{d.serial, "FW", d.model}, std::move(health));
    }
    std::shared_ptr<sim::NvmeHealth> Nvme() {
        sim::SysfsDisk d;
        d.bus = Bus::Nvme;
        d.name = "nvme0n1";
        d.pci = "0000:01:00.0";
        d.pci_class = 0x010802;
        d.controller = "nvme0";
        d.serial = "NV-1";
        d.sectors = 1000;
        sim::describe_disk(tree, d);
        auto health = std::make_shared<sim::NvmeHealth>();
        std::ifstream in(qtest::DataPath("disks/qemu-6.1/answers/nvme0.nvme-health"), std::ios::binary);
        health->log.emplace();
        in.read(reinterpret_cast<char*>(health->log->data()), 512);
        EXPECT_EQ(in.gcount(), 512);
        sim::add_nvme_controller(*machine, "nvme0", health);
        return health;
    }
    void Sas(const char* name) {
        sim::SysfsDisk d;
        d.bus = Bus::Scsi;
        d.name = name;
        d.pci = "0000:02:00.0";
        d.pci_class = 0x010700;
        d.driver = "mpt3sas";
        d.host = 9;
        d.model = "SAS";
        d.serial = "SAS-1";
        d.sectors = 1000;
        sim::describe_disk(tree, d);
    }
    std::unique_ptr<DiskHealthInformation> Poll(unsigned flags = 0, int expect = 0) {
        machine->kernel = sim::Kernel::Current;
        tree.install(*machine);
        auto record = std::make_unique<DiskHealthInformation>();
        std::memset(record.get(), 0, sizeof *record);
        record->Flags = flags;
        EXPECT_EQ(ReadDiskHealth(*record), expect);
        EXPECT_EQ(machine->still_open(), std::vector<std::string>{});
        return record;
    }
};

TEST_F(Health, AnAtaDiskIsReadWithFiveCommands) {
    auto sda = QemuAnswers();
    Ata("sda", 1, sda);
    auto record = Poll();
    ASSERT_EQ(record->quantity, 1u);
    const DiskHealth& d = record->disk[0];
    EXPECT_STREQ(d.DeviceName, "/dev/sda");
    EXPECT_STREQ(d.SerialNo, "SER-sda");
    EXPECT_EQ(d.Kind, DISK_HEALTH_ATA);
    EXPECT_EQ(d.Status, DISK_HEALTH_READ);
    EXPECT_EQ(d.Overall, DISK_OVERALL_PASSED);
    EXPECT_EQ(d.ata.powerMode, 0xFFu);
    EXPECT_EQ(d.ata.attributeCount, 7u);
    EXPECT_EQ(d.Temperature, 31);
    EXPECT_EQ(sda->sent, kFullRead);
    EXPECT_STREQ(qarvel::State().sources[SOURCE_DISK_HEALTH].answered, "/sys/block");
}

// CHECK POWER MODE before and after the poll: a disk in standby stays there unless the
// caller asks for a full read, which spins it up.
TEST_F(Health, AStandbyDiskIsNotWokenUnlessAsked) {
    auto sleepy = QemuAnswers();
    sleepy->powerMode = 0x00;
    auto awake = QemuAnswers();
    Ata("sda", 1, sleepy);
    Ata("sdb", 2, awake);
    auto record = Poll();
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_STANDBY);
    EXPECT_EQ(record->disk[0].ata.powerMode, 0x00u);
    EXPECT_EQ(record->disk[0].ata.attributeCount, 0u);
    EXPECT_EQ(sleepy->sent, Sent{"power-mode"});
    EXPECT_EQ(record->disk[1].Status, DISK_HEALTH_READ);
    // The next poll still finds it in standby.
    record = Poll();
    EXPECT_EQ(record->disk[0].ata.powerMode, 0x00u);
    EXPECT_EQ(sleepy->sent, (Sent{"power-mode", "power-mode"}));

    record = Poll(HEALTH_DISK_WAKE);
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_READ);
    EXPECT_EQ(record->disk[0].ata.powerMode, 0x00u);  // as it was when asked
    EXPECT_EQ(record->disk[0].ata.attributeCount, 7u);
    record = Poll();
    EXPECT_EQ(record->disk[0].ata.powerMode, 0xFFu);  // the full read spun it up
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_READ);
}

// A command failing in each way, on one disk of three: that disk says why, the others are read.
TEST_F(Health, OneDisksFailingCommandLeavesTheOthers) {
    struct Case {
        const char* command;
        sim::Fault fault;
        int error;
        Sent sent;
    } cases[] = {
        {"power-mode", sim::Fault::TimedOut, ETIMEDOUT, {"power-mode"}},
        {"ata-identify", sim::Fault::Refused, EIO, {"power-mode", "ata-identify"}},
        {"smart-data", sim::Fault::Short, ENODATA, {"power-mode", "ata-identify", "smart-status", "smart-data"}},
        {"smart-status", sim::Fault::Refused, EIO, {"power-mode", "ata-identify", "smart-status"}},
        {"smart-data", sim::Fault::TimedOut, ETIMEDOUT, {"power-mode", "ata-identify", "smart-status", "smart-data"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " fails");
        SetUp();
        tree = {};
        auto first = QemuAnswers(), bad = QemuAnswers(), last = QemuAnswers();
        bad->faults[c.command] = c.fault;
        Ata("sda", 1, first);
        Ata("sdb", 2, bad);
        Ata("sdc", 3, last);
        auto record = Poll();
        ASSERT_EQ(record->quantity, 3u);
        EXPECT_EQ(record->disk[1].Status, DISK_HEALTH_FAILED);
        EXPECT_EQ(record->disk[1].Errno, c.error);
        EXPECT_EQ(bad->sent, c.sent);
        for (int i : {0, 2}) {
            EXPECT_EQ(record->disk[i].Status, DISK_HEALTH_READ);
            EXPECT_EQ(record->disk[i].ata.attributeCount, 7u);
        }
        TearDown();
    }
}

TEST_F(Health, RefusedThresholdsBadChecksumsNoSmartAndNoAnswerAtAll) {
    auto no_thresholds = QemuAnswers();
    no_thresholds->thresholds.reset();
    auto bad_sum = QemuAnswers();
    (*bad_sum->data)[0x100] ^= 0x40;
    auto disabled = QemuAnswers();
    (*disabled->identify)[2 * 85] &= ~1;
    Ata("sda", 1, no_thresholds);
    Ata("sdb", 2, bad_sum);
    Ata("sdc", 3, disabled);
    Ata("sdd", 4, nullptr);  // takes no SG_IO at all
    auto record = Poll();
    ASSERT_EQ(record->quantity, 4u);
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_READ);
    EXPECT_FALSE(record->disk[0].Given & DISK_GIVEN_THRESHOLDS);
    EXPECT_EQ(record->disk[0].ata.attribute[0].threshold, 0);
    EXPECT_EQ(record->disk[1].Status, DISK_HEALTH_READ);
    EXPECT_FALSE(record->disk[1].ata.dataChecksumGood);
    EXPECT_TRUE(record->disk[1].ata.thresholdChecksumGood);
    EXPECT_EQ(record->disk[2].Status, DISK_HEALTH_SMART_DISABLED);
    EXPECT_EQ(disabled->sent, (Sent{"power-mode", "ata-identify"}));
    EXPECT_EQ(record->disk[3].Status, DISK_HEALTH_FAILED);
}

TEST_F(Health, NvmeLogAndScsiNotAvailable) {
    Ata("sda", 1, nullptr);
    auto controller = Nvme();
    Sas("sdz");
    auto record = Poll();
    ASSERT_EQ(record->quantity, 3u);
    // INFO_STORAGE's order: AHCI, then the NVMe controller's function, then the SAS one.
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_FAILED);
    const DiskHealth& nvme = record->disk[1];
    EXPECT_EQ(nvme.Kind, DISK_HEALTH_NVME);
    EXPECT_EQ(nvme.Status, DISK_HEALTH_READ);
    EXPECT_EQ(nvme.Temperature, 50);
    EXPECT_EQ(controller->commands, 1);
    EXPECT_EQ(record->disk[2].Kind, DISK_HEALTH_NONE);
    EXPECT_EQ(record->disk[2].Status, DISK_HEALTH_NOT_AVAILABLE);
}

TEST_F(Health, NoDiskOrNoAnswerIsNoSource) {
    Poll(0, -1);  // a classic machine: no /sys/block
    Ata("sda", 1, nullptr);
    Poll(0, -1);
    EXPECT_STREQ(qarvel::State().sources[SOURCE_DISK_HEALTH].answered, nullptr);
    EXPECT_STRNE(qarvel::State().sources[SOURCE_DISK_HEALTH].tried[0].why, "");
}

// A classic kernel's IDE disks, asked through the IDE driver's own ioctls, named and ordered
// as INFO_STORAGE lists them; the CD-ROM on the secondary master is no disk.
TEST_F(Health, ClassicIdeDisksThroughTheDriveIoctls) {
    auto master = QemuAnswers("sda"), slave = QemuAnswers("sda");
    slave->powerMode = 0x00;
    sim::add_ide_proc(*machine, 'a', "disk", "QV IDE", 1000);
    sim::add_ide_disk(*machine, 'a', std::make_shared<sim::SparseDisk>(512000), std::string("QV-A"), master);
    sim::add_ide_proc(*machine, 'b', "disk", "QV IDE", 1000);
    sim::add_ide_disk(*machine, 'b', std::make_shared<sim::SparseDisk>(512000), std::string("QV-B"), slave);
    sim::add_ide_proc(*machine, 'c', "cdrom", "QV CD", 0);
    auto storage = std::make_unique<StorageInformation>();
    std::memset(storage.get(), 0, sizeof *storage);
    GetStorageInfo(storage.get());
    auto record = std::make_unique<DiskHealthInformation>();
    std::memset(record.get(), 0, sizeof *record);
    ASSERT_EQ(ReadDiskHealth(*record), 0);
    ASSERT_EQ(record->quantity, 2u);
    EXPECT_STREQ(qarvel::State().sources[SOURCE_DISK_HEALTH].answered, "/proc/ide");
    for (int i : {0, 1}) {
        EXPECT_STREQ(record->disk[i].SerialNo, storage->driveArray[i].SerialNo);
        EXPECT_EQ(record->disk[i].DriveIndex, i);
    }
    EXPECT_STREQ(record->disk[0].DeviceName, "/dev/hda");
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_READ);
    EXPECT_EQ(record->disk[0].Overall, DISK_OVERALL_PASSED);
    EXPECT_EQ(record->disk[0].ata.attributeCount, 7u);
    EXPECT_TRUE(record->disk[0].Given & DISK_GIVEN_THRESHOLDS);
    EXPECT_EQ(master->sent, kFullRead);
    EXPECT_EQ(record->disk[1].Status, DISK_HEALTH_STANDBY);
    EXPECT_EQ(slave->sent, Sent{"power-mode"});

    master->faults["smart-data"] = sim::Fault::Refused;
    ASSERT_EQ(ReadDiskHealth(*record), 0);
    EXPECT_EQ(record->disk[0].Status, DISK_HEALTH_FAILED);
    EXPECT_EQ(record->disk[0].Errno, EIO);
}

// The export on the current server: entries join INFO_STORAGE's by place and serial.
TEST_F(Health, TheCurrentServerThroughTheExport) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    auto storage = std::make_unique<StorageInformation>();
    std::memset(storage.get(), 0, sizeof *storage);
    ASSERT_EQ(GetInfo(INFO_STORAGE, storage.get()), 0);
    auto record = std::make_unique<DiskHealthInformation>();
    std::memset(record.get(), 0, sizeof *record);
    ASSERT_EQ(GetHealthInfo(HEALTH_DISK, record.get()), 0);
    ASSERT_EQ(record->quantity, static_cast<unsigned>(storage->quantityIDE + storage->quantitySCSI));
    int standby = 0, pending = 0, nvme = 0, unavailable = 0;
    for (unsigned i = 0; i < record->quantity; ++i) {
        const DiskHealth& d = record->disk[i];
        ASSERT_EQ(d.DriveIndex, static_cast<int>(i));
        EXPECT_STREQ(d.SerialNo, storage->driveArray[i].SerialNo);
        standby += d.Status == DISK_HEALTH_STANDBY;
        pending += (d.Given & DISK_GIVEN_PENDING) && d.Pending == 1;
        nvme += d.Kind == DISK_HEALTH_NVME && d.Status == DISK_HEALTH_READ && d.PowerOnHours == 26301;
        unavailable += d.Status == DISK_HEALTH_NOT_AVAILABLE;
    }
    EXPECT_EQ(standby, 1);
    EXPECT_EQ(pending, 1);
    EXPECT_EQ(nvme, 1);
    EXPECT_EQ(unavailable, 1);
    char name[32] = {};
    EXPECT_EQ(GetSourceName(SOURCE_DISK_HEALTH, name, sizeof name), 0);
    EXPECT_STREQ(name, "/sys/block");
}

}  // namespace
