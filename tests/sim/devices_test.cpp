// The simulated PCI bus and IDE disks, and their capture files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/platform.h"
#include "sim/Disk.h"
#include "sim/Machine.h"
#include "sim/Pci.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using SimulatedDevices = qtest::MachineTest;

std::string TempDir(const std::string& name) {
    std::string dir = fs::temp_directory_path() / ("qarvel-devices-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST_F(SimulatedDevices, ConfigurationMechanismOne) {
    machine->pci.add(0, 0x1F, 2, sim::ConfigSpace().ids(0x8086, 0x2922).class_code(0x01, 0x06, 0x01).bar(5, 0xFEB7C000));
    ASSERT_EQ(platform::iopl(3), 0);
    auto read = [](std::uint32_t address) {
        platform::outl(0xCF8, address);
        return platform::inl(0xCFC);
    };
    // Bus 0, device 0x1F, function 2: 0x8000FA00.
    EXPECT_EQ(read(0x8000FA00), 0x29228086u);
    EXPECT_EQ(read(0x8000FA08), 0x01060100u);
    EXPECT_EQ(read(0x8000FA24), 0xFEB7C000u);
    EXPECT_EQ(read(0x8000FA27), 0xFEB7C000u);  // the two low address bits do not select bytes
    EXPECT_EQ(platform::inl(0xCF8), 0x8000FA27u);  // the address latch reads back
    EXPECT_EQ(read(0x0000FA00), 0xFFFFFFFFu);  // enable bit clear
    EXPECT_EQ(read(0x8000FB00), 0xFFFFFFFFu);  // function 3: nobody
    EXPECT_EQ(read(0x8000FA40), 0u);           // past the header of a present function
    // The data port's bytes at 0xCFC-0xCFF.
    platform::outl(0xCF8, 0x8000FA00);
    EXPECT_EQ(platform::inb(0xCFD), 0x80);
    EXPECT_EQ(platform::inb(0xCFE), 0x22);
    EXPECT_EQ(machine->pci.reads_per_bus[0], 8u);  // enabled data reads only
    platform::iopl(0);
}

TEST_F(SimulatedDevices, PciNamesAreBusDeviceFunctionInHex) {
    int b = -1, d = -1, f = -1;
    EXPECT_TRUE(sim::parse_pci_name("0a:1f.7", b, d, f));
    EXPECT_EQ(b, 10);
    EXPECT_EQ(d, 31);
    EXPECT_EQ(f, 7);
    EXPECT_TRUE(sim::parse_pci_name("FF:00.0", b, d, f));
    EXPECT_EQ(b, 255);
    for (const char* bad : {"0000:00:1f.2", "00:20.0", "00:1f.8", "0:1f.2", " 0:1f.2", "00-1f.2", "00:1f.2x", "g0:00.0"})
        EXPECT_FALSE(sim::parse_pci_name(bad, b, d, f)) << bad;
}

TEST_F(SimulatedDevices, SparseDisksOfAnySizeHoldOnlyWhatWasWritten) {
    auto disk = std::make_shared<sim::SparseDisk>(2ULL << 40);  // 2 TiB
    const char tail[] = "end of the disk";
    disk->write((2ULL << 40) - 16, tail, 16);
    disk->write(5000000000ULL - 3, "across", 6);  // straddles two sectors
    EXPECT_EQ(disk->sectors_held(), 3u);
    sim::add_ide_disk(*machine, 'a', disk, std::nullopt);

    int fd = platform::open("/dev/hda", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::lseek(fd, 0, SEEK_END), static_cast<long long>(2ULL << 40));
    long long position = 0;
    ASSERT_EQ(platform::llseek(static_cast<unsigned>(fd), 1, 5000000000ULL - 3 - (1ULL << 32), &position, SEEK_SET), 0);
    EXPECT_EQ(position, 5000000000LL - 3);
    char text[7] = {};
    EXPECT_EQ(platform::read(fd, text, 6), 6);
    EXPECT_STREQ(text, "across");
    char zeros[4] = {1, 1, 1, 1};
    platform::lseek(fd, 4096, SEEK_SET);
    EXPECT_EQ(platform::read(fd, zeros, 4), 4);
    EXPECT_EQ(std::memcmp(zeros, "\0\0\0\0", 4), 0);
    platform::lseek(fd, -16, SEEK_END);
    char end[32] = {};
    EXPECT_EQ(platform::read(fd, end, sizeof end), 16);  // stops at the end
    EXPECT_STREQ(end, tail);
    EXPECT_EQ(platform::read(fd, end, sizeof end), 0);
    // No serial number: the identify request fails as on a device that is no ATA disk.
    unsigned char identify[512];
    EXPECT_EQ(platform::ioctl(fd, HDIO_GET_IDENTITY, identify), -1);
    EXPECT_EQ(errno, EINVAL);
    platform::close(fd);
}

TEST_F(SimulatedDevices, IdentifyCarriesTheSerialNumberSpaceFilled) {
    sim::add_ide_disk(*machine, 'c', std::make_shared<sim::SparseDisk>(512), "WD-WCAM9123");
    int fd = platform::open("/dev/hdc", O_RDONLY);
    ASSERT_GE(fd, 0);
    unsigned char identify[512];
    std::memset(identify, 0xAA, sizeof identify);
    ASSERT_EQ(platform::ioctl(fd, HDIO_GET_IDENTITY, identify), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(identify) + 20, 20), "WD-WCAM9123         ");
    EXPECT_EQ(identify[19], 0);
    EXPECT_EQ(identify[40], 0);
    EXPECT_EQ(platform::ioctl(fd, 0x0301, identify), -1);  // another request
    EXPECT_EQ(errno, ENOTTY);
    platform::close(fd);
}

TEST_F(SimulatedDevices, CaptureDirectoriesBringPciFunctionsAndDisks) {
    std::string dir = TempDir("capture");
    sim::ConfigSpace host = sim::ConfigSpace().ids(0x8086, 0x29C0).class_code(0x06, 0x00, 0x00);
    auto config = [](const sim::ConfigSpace& c, std::size_t size) {
        std::string bytes(c.bytes().begin(), c.bytes().end());
        bytes.resize(size, '\0');
        return bytes;
    };
    ASSERT_TRUE(sim::write_file(dir + "/pci/00:00.0", config(host, 4096)));
    ASSERT_TRUE(sim::write_file(dir + "/pci/0b:1f.7", config(host, 64)));
    // A 6 GiB sparse image: its table at the start and a marker past 4 GiB.
    sim::SparseDisk image(6ULL << 30);
    sim::write_partition_entry(image, 0, 0, 0x83, 63, 1000);
    image.write(5ULL << 30, "far", 3);
    std::string error;
    ASSERT_TRUE(image.save(dir + "/dev/hda.img", error)) << error;
    ASSERT_TRUE(sim::write_file(dir + "/dev/hda.serial", std::string("SER-1234\n")));
    ASSERT_TRUE(sim::write_file(dir + "/dev/hdb.serial", std::string("ONLY-SERIAL")));

    std::shared_ptr<sim::Machine> loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->pci.size(), 2u);
    sim::use(loaded);
    int fd = platform::open("/dev/hda", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::lseek(fd, 0, SEEK_END), static_cast<long long>(6ULL << 30));
    platform::lseek(fd, 5LL << 30, SEEK_SET);
    char far[4] = {};
    EXPECT_EQ(platform::read(fd, far, 3), 3);
    EXPECT_STREQ(far, "far");
    platform::lseek(fd, 0x1BE + 4, SEEK_SET);
    unsigned char type = 0;
    EXPECT_EQ(platform::read(fd, &type, 1), 1);
    EXPECT_EQ(type, 0x83);
    unsigned char identify[512];
    ASSERT_EQ(platform::ioctl(fd, HDIO_GET_IDENTITY, identify), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(identify) + 20, 20), "SER-1234            ");  // newline dropped
    platform::close(fd);
    fd = platform::open("/dev/hdb", O_RDONLY);  // a serial alone: an empty disk that identifies
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::lseek(fd, 0, SEEK_END), 0);
    EXPECT_EQ(platform::ioctl(fd, HDIO_GET_IDENTITY, identify), 0);
    platform::close(fd);
    // The image file is sparse: 6 GiB long, a few blocks on disk.
    struct stat64 st;
    ASSERT_EQ(::stat64((dir + "/dev/hda.img").c_str(), &st), 0);
    EXPECT_EQ(static_cast<unsigned long long>(st.st_size), 6ULL << 30);
    EXPECT_LT(static_cast<unsigned long long>(st.st_blocks) * 512, 1ULL << 20);
    fs::remove_all(dir);
}

TEST_F(SimulatedDevices, LoaderRefusesBadPciFiles) {
    std::string error;
    std::string dir = TempDir("badpci");
    sim::write_file(dir + "/pci/00:00.0", std::string(63, '\0'));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("00:00.0"), std::string::npos) << error;
    fs::remove_all(dir);
    dir = TempDir("badname");
    sim::write_file(dir + "/pci/0000:00:00.0", std::string(64, '\0'));
    sim::LoadProblems problems;
    auto loaded = sim::load_machine(dir, problems);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->pci.size(), 0u);
    ASSERT_EQ(problems.warnings.size(), 1u);
    EXPECT_NE(problems.warnings[0].find("BB:DD.F"), std::string::npos) << problems.warnings[0];
    fs::remove_all(dir);
    dir = TempDir("big");
    sim::write_file(dir + "/pci/00:00.0", std::string(4097, '\0'));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    fs::remove_all(dir);
}

}  // namespace
