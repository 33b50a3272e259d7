// The disks of Debian's 6.1 kernel as it laid them out in the system test's guest
// (tests/data/disks/qemu-6.1): the PIIX IDE function with two disks, one on AHCI, one NVMe.
// The ATA ports carry no uevent variables there, as on every real kernel.
#include <cstdlib>
#include <string>
#include <vector>

#include "storage/sysblock.h"
#include "tests/support/fixture.h"

namespace {

struct KernelTree : qtest::MachineTest {
    void SetUp() override {
        MachineTest::SetUp();
        const std::string dir = qtest::TempDir("qemu-6.1");
        const std::string tar = "tar -x -f " + qtest::DataPath("disks/qemu-6.1/sys.tar") + " -C " + dir;
        ASSERT_EQ(std::system(tar.c_str()), 0);
        ASSERT_EQ(std::system(("echo current > " + dir + "/kernel").c_str()), 0);
        UseCapture(dir.c_str());
    }
};

TEST_F(KernelTree, AtaPortsAreKnownByTheirClassDirectory) {
    std::vector<BlockDisk> disks;
    ASSERT_TRUE(ListBlockDisks(disks));
    ASSERT_EQ(disks.size(), 4u);
    // ata_piix's function 0000:00:01.1 (class 0101): ata1 and ata2, masters both.
    EXPECT_EQ(disks[0].name, "sda");
    EXPECT_EQ(disks[0].ControllerType, "ide");
    EXPECT_EQ(disks[0].ControllerNo, "Primary Master");
    EXPECT_EQ(disks[1].name, "sdb");
    EXPECT_EQ(disks[1].ControllerType, "ide");
    EXPECT_EQ(disks[1].ControllerNo, "Secondry Master");
    // ahci's function 0000:00:06.0 (class 0106): port ata3.
    EXPECT_EQ(disks[2].name, "sdc");
    EXPECT_EQ(disks[2].ControllerType, "sata");
    EXPECT_EQ(disks[2].controller, "0000:00:06.0");
    EXPECT_EQ(disks[2].place[0], 3);
    EXPECT_EQ(disks[3].ControllerType, "nvme");
}

}  // namespace
