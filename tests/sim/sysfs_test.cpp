// The simulated kernel's sysfs: paths resolved through symbolic links as the kernel
// resolves them, the PCI functions the kernel lists, and sysfs trees saved into a capture
// and loaded back.
#include <unistd.h>

#include <filesystem>

#include "sim/Disk.h"
#include "sim/Machine.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;

TEST(FileTreeLinks, PathsResolveThroughLinksAndDotDotAfterThem) {
    sim::FileTree tree;
    tree.add("/sys/devices/pci0000:00/0000:00:17.0/uevent", "PCI_SLOT_NAME=0000:00:17.0\n");
    tree.add("/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/scsi_host/host0/proc_name", "ahci\n");
    tree.add_link("/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/scsi_host/host0/device", "../../../host0");
    tree.add_link("/sys/class/scsi_host/host0", "../../devices/pci0000:00/0000:00:17.0/ata1/host0/scsi_host/host0");
    // ".." after a link leaves the link's target, not the link's own directory.
    const std::string* uevent = tree.content("/sys/class/scsi_host/host0/device/../../uevent", 0);
    ASSERT_NE(uevent, nullptr);
    EXPECT_EQ(*uevent, "PCI_SLOT_NAME=0000:00:17.0\n");
    EXPECT_TRUE(tree.is_directory("/sys/class/scsi_host/host0/device/.."));
    EXPECT_EQ(tree.list("/sys/class/scsi_host/host0/"), (std::vector<std::string>{"device", "proc_name"}));
    EXPECT_EQ(tree.list("/sys/class/scsi_host"), std::vector<std::string>{"host0"});
    // A loop of links leads nowhere, as ELOOP does.
    tree.add_link("/sys/a", "b");
    tree.add_link("/sys/b", "a");
    EXPECT_EQ(tree.content("/sys/a/x", 0), nullptr);
    EXPECT_FALSE(tree.is_directory("/sys/a"));
}

using PciSysfs = qtest::MachineTest;

TEST_F(PciSysfs, ListsWhatTheKernelsSlotScanFinds) {
    machine->pci.add(0, 0x1F, 0, sim::ConfigSpace().ids(0x8086, 1).header_type(0x80));
    machine->pci.add(0, 0x1F, 3, sim::ConfigSpace().ids(0x8086, 2));
    machine->pci.add(0, 0x02, 0, sim::ConfigSpace().ids(0x8086, 3));  // single function
    machine->pci.add(0, 0x02, 5, sim::ConfigSpace().ids(0x8086, 3));  // not looked at
    machine->pci.add(0, 0x04, 1, sim::ConfigSpace().ids(0x8086, 4));  // no function 0
    machine->pci.add(0x20, 0x00, 0, sim::ConfigSpace().ids(0x8086, 5));
    EXPECT_EQ(machine->list_directory("/sys/bus/pci/devices"),
              (std::vector<std::string>{"0000:00:02.0", "0000:00:1f.0", "0000:00:1f.3", "0000:20:00.0"}));
    int error = 0;
    auto node = machine->open("/sys/bus/pci/devices/0000:00:1f.3/config", error);
    ASSERT_NE(node, nullptr);
    unsigned char bytes[4];
    EXPECT_EQ(node->read(0, bytes, 4), 4);
    EXPECT_EQ(bytes[2], 2);
    EXPECT_EQ(machine->open("/sys/bus/pci/devices/0000:00:02.5/config", error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(machine->directory_exists("/sys/bus/pci/devices/0000:00:1f.3"));
    EXPECT_FALSE(machine->directory_exists("/sys/bus/pci/devices/0000:00:04.1"));
}

TEST(SysfsCapture, ATreeSavedIntoACaptureLoadsBackWithItsLinks) {
    sim::SysfsTree tree;
    sim::SysfsDisk disk;
    disk.name = "sda";
    disk.pci = "0000:00:17.0";
    disk.pci_class = 0x010601;
    disk.driver = "ahci";
    disk.model = "DISK";
    disk.sectors = 2048;
    sim::describe_disk(tree, disk);
    fs::path dir = fs::temp_directory_path() / ("qarvel-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    std::string error;
    ASSERT_TRUE(tree.save(dir.string(), error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "sys/block/sda"));
    EXPECT_EQ(fs::read_symlink(dir / "sys/block/sda").string().rfind("../devices/", 0), 0u);  // relative
    auto image = std::make_shared<sim::SparseDisk>(2048 * 512);
    ASSERT_TRUE(image->save((dir / "dev/sda.img").string(), error)) << error;
    auto machine = sim::load_machine(dir.string(), error);
    ASSERT_TRUE(machine) << error;
    const std::string* size = machine->files.content("/sys/block/sda/size", 0);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(*size, "2048\n");
    const std::string* model = machine->files.content("/sys/block/sda/device/model", 0);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(*model, "DISK            \n");
    int open_error = 0;
    EXPECT_NE(machine->open("/dev/sda", open_error), nullptr);
    fs::remove_all(dir);
}

}  // namespace
