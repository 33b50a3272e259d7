// Disks of a current kernel: /sys/block, placed by controller and port, IDE disks first.
#include <cstring>
#include <memory>

#include "sim/Disk.h"
#include "sim/loader.h"
#include "storage/partition.h"
#include "storage/storage.h"
#include "storage/sysblock.h"
#include "tests/support/fixture.h"

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
    void UseCapture(const char* directory) {
        std::string error;
        std::shared_ptr<sim::Machine> loaded = sim::load_machine(directory, error);
        ASSERT_TRUE(loaded) << error;
        machine = loaded;
        sim::use(machine);
    }
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

}  // namespace
