// A virtio disk on a current kernel. The virtio bus gives its devices a `device` attribute of
// their own, a file holding the virtio device id, where the other buses have a link to the
// parent device: the capture must not look through it for a "device/uevent" and report the
// file as a missing part.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "api/Qarvel.h"
#include "capture/capture.h"
#include "platform/platform.h"
#include "sim/Disk.h"
#include "sim/Machine.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

// The current server with a virtio-blk disk (QEMU's virtio-blk-pci function) added.
std::shared_ptr<sim::Machine> WithVirtioDisk() {
    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine(QARVEL_CURRENT_MACHINE, error);
    EXPECT_NE(machine, nullptr) << error;
    if (!machine) return nullptr;
    sim::SysfsDisk vda;
    vda.bus = sim::SysfsDisk::Bus::Virtio;
    vda.name = "vda";
    vda.pci = "0000:00:04.0";
    vda.pci_class = 0x010000;
    vda.driver = "virtio-pci";
    vda.controller = "virtio1";
    vda.serial = "VIRTIO-0042";
    vda.sectors = 4194304;  // 2 GiB
    sim::SysfsTree tree;
    sim::describe_disk(tree, vda);
    tree.install(*machine);
    auto disk = std::make_shared<sim::SparseDisk>(vda.sectors * sim::kSectorSize);
    sim::AlignedLayout(*disk).primary(0x83, 1024);
    sim::add_block_device(*machine, "vda", disk, std::nullopt);
    return machine;
}

std::unique_ptr<StorageInformation> Drives() {
    auto info = std::make_unique<StorageInformation>();
    std::memset(info.get(), 0, sizeof *info);
    EXPECT_EQ(GetInfo(INFO_STORAGE, info.get()), 0);
    return info;
}

TEST(CapturingVirtio, TheDeviceIdFileIsNoMissingPartAndTheDiskReplays) {
    qtest::ResetLibrary();
    std::shared_ptr<sim::Machine> machine = WithVirtioDisk();
    ASSERT_NE(machine, nullptr);
    sim::use(machine);
    // As on the kernel: the id file is there, and a path through it is no directory.
    const std::string virtio = "/sys/block/vda/device";
    std::string bytes, error;
    ASSERT_TRUE(capture::read_platform_file(virtio + "/device", bytes, error)) << error;
    EXPECT_EQ(bytes, "0x0002\n");
    EXPECT_FALSE(capture::read_platform_file(virtio + "/device/uevent", bytes, error));
    EXPECT_EQ(errno, ENOTDIR);
    std::unique_ptr<StorageInformation> original = Drives();

    const std::string dir = qtest::TempDir("capture-virtio");
    fs::remove(dir);
    std::string manifest;
    {
        capture::Output out(dir);
        capture::Manifest m;
        capture::Capture c{out, m};
        capture::capture_kernel(c);
        capture::capture_disks(c);
        manifest = m.text("test", "now");
    }
    EXPECT_EQ(manifest.find("missing"), std::string::npos) << manifest;
    EXPECT_TRUE(fs::is_symlink(dir + "/sys/block/vda"));
    EXPECT_TRUE(fs::exists(dir + "/dev/vda.img"));

    qtest::ResetLibrary();
    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_NE(replay, nullptr) << error;
    sim::use(replay);
    std::unique_ptr<StorageInformation> replayed = Drives();
    const int drives = original->quantityIDE + original->quantitySCSI;
    ASSERT_EQ(replayed->quantityIDE + replayed->quantitySCSI, drives);
    bool found = false;
    for (int i = 0; i < drives && i < 24; ++i) {
        EXPECT_EQ(std::memcmp(&original->driveArray[i], &replayed->driveArray[i], sizeof(DriveInfo)), 0) << i;
        found |= std::strcmp(original->driveArray[i].SerialNo, "VIRTIO-0042") == 0 &&
                 std::strcmp(original->driveArray[i].ControllerType, "virtio") == 0;
    }
    EXPECT_TRUE(found);
    qtest::ResetLibrary();
    fs::remove_all(dir);
}

}  // namespace
