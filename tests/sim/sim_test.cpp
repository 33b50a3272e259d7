// The simulated machine: what the library relies on it for, and the capture format.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "sim/Machine.h"
#include "sim/Smbios.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using Simulator = qtest::MachineTest;

std::string TempDir(const std::string& name) {
    std::string dir = fs::temp_directory_path() / ("qarvel-test-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::uint8_t Sum(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t n) {
    std::uint8_t s = 0;
    for (std::size_t i = from; i < from + n; ++i) s = static_cast<std::uint8_t>(s + b[i]);
    return s;
}

TEST_F(Simulator, DumpFilesRoundTripThroughTheLoader) {
    auto table = qtest::IdentityTable();
    auto dump = sim::dump_bin(table);
    ASSERT_EQ(std::memcmp(dump.data(), "_SM_", 4), 0);
    EXPECT_EQ(dump[24], 0x20);  // dmidecode's convention: the table follows at 0x20
    EXPECT_EQ(Sum(dump, 0, 31), 0);
    EXPECT_EQ(Sum(dump, 16, 15), 0);

    std::string dir = TempDir("dump");
    ASSERT_TRUE(sim::write_file(dir + "/smbios.bin", dump));
    std::string error;
    auto loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;

    sim::EntryPoint where;
    std::vector<std::uint8_t> entry(31), bytes(table.bytes().size());
    loaded->memory.read(where.address, entry.data(), entry.size());
    loaded->memory.read(where.table_address, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, table.bytes());
    std::uint32_t address = entry[24] | entry[25] << 8 | entry[26] << 16 | static_cast<std::uint32_t>(entry[27]) << 24;
    EXPECT_EQ(address, where.table_address);
    EXPECT_EQ(Sum(entry, 0, 31), 0);
    EXPECT_EQ(Sum(entry, 16, 15), 0);
    fs::remove_all(dir);
}

TEST_F(Simulator, LoaderRefusesWhatIsNotAMachine) {
    std::string error;
    EXPECT_EQ(sim::load_machine("/nonexistent/machine", error), nullptr);
    EXPECT_FALSE(error.empty());

    std::string dir = TempDir("bad");
    sim::write_file(dir + "/smbios.bin", std::string("garbage that is no entry point"));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("smbios.bin"), std::string::npos);
    fs::remove_all(dir);
}

TEST_F(Simulator, ProcFilesAndSnapshotsFollowTheClock) {
    std::string dir = TempDir("proc");
    sim::write_file(dir + "/proc/stat", std::string("cpu0 1 2 3 4\n"));
    sim::write_file(dir + "/proc/stat@1", std::string("cpu0 11 2 3 4\n"));
    sim::write_file(dir + "/proc/ide/ide0/hda/model", std::string("DISK\n"));
    std::string error;
    std::shared_ptr<sim::Machine> loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    sim::use(loaded);

    auto read_stat = [] {
        char text[64] = {};
        int fd = platform::open("/proc/stat", O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_GT(platform::read(fd, text, sizeof text - 1), 0);
        platform::close(fd);
        return std::string(text);
    };
    EXPECT_EQ(read_stat(), "cpu0 1 2 3 4\n");
    platform::sleep(1);
    EXPECT_EQ(read_stat(), "cpu0 11 2 3 4\n");
    EXPECT_EQ(loaded->clock.sleeps_us, std::vector<std::uint64_t>{1000000});
    EXPECT_TRUE(platform::directory_exists("/proc/ide"));
    EXPECT_TRUE(platform::directory_exists("/proc/ide/ide0/hda/"));
    EXPECT_FALSE(platform::directory_exists("/proc/ide/ide1"));
    fs::remove_all(dir);
}

TEST_F(Simulator, ProgramsPrintTheMachinesOutputWhereverTheyAreLookedFor) {
    const std::string printed = "               total        used        free\n"
                                "Mem:           3000        1000        2000\n";
    machine->programs["free"] = printed;
    char out[128];
    EXPECT_EQ(platform::run_program("/usr/bin/free", out, sizeof out), static_cast<long>(printed.size()));
    EXPECT_EQ(std::string(out), printed);
    EXPECT_EQ(platform::run_program("/bin/free", out, 8), 7);  // cut to the buffer
    EXPECT_STREQ(out, "       ");
    EXPECT_EQ(machine->count(sim::Access::Open, "exec:/usr/bin/free"), 1u);
    errno = 0;
    EXPECT_EQ(platform::run_program("/usr/bin/unknown-program", out, sizeof out), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_STREQ(out, "");
    // A bare name would be looked for in PATH: the door refuses it.
    EXPECT_EQ(platform::run_program("free", out, sizeof out), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Simulator, PortsNeedThePrivilegeAndUnmappedPortsFloatHigh) {
    machine->ports.map(0xCA3, 1, [](std::uint16_t, int) { return 0x40u; });
    EXPECT_EQ(platform::inb(0xCA3), 0xFF);  // no iopl yet
    EXPECT_EQ(machine->ports.violations, 1);
    ASSERT_EQ(platform::iopl(3), 0);
    EXPECT_EQ(platform::inb(0xCA3), 0x40);
    EXPECT_EQ(platform::inl(0xCFC), 0xFFFFFFFFu);
    platform::iopl(0);
    machine->ports.grant_iopl = false;
    EXPECT_EQ(platform::iopl(3), -1);
    EXPECT_EQ(errno, EPERM);
}

TEST_F(Simulator, DescriptorsSeekAndLogLikeTheRealCalls) {
    machine->files.add("/dev/hda", std::string(1024, 'x') + "tail");
    machine->files.deny("/proc/secret");
    machine->files.add("/proc/secret", "hidden");
    int fd = platform::open("/dev/hda", O_RDONLY);
    ASSERT_GE(fd, 3);
    EXPECT_EQ(platform::lseek(fd, -4, SEEK_END), 1024);
    long long position = 0;
    EXPECT_EQ(platform::llseek(static_cast<unsigned>(fd), 0, 2, &position, SEEK_CUR), 0);
    EXPECT_EQ(position, 1026);
    char two[3] = {};
    EXPECT_EQ(platform::read(fd, two, 2), 2);
    EXPECT_STREQ(two, "il");
    EXPECT_EQ(platform::close(fd), 0);
    EXPECT_EQ(platform::close(fd), -1);
    EXPECT_EQ(platform::open("/proc/secret", O_RDONLY), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(platform::open("/dev/mem", O_RDWR), -1);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/hda"), 1u);
    EXPECT_EQ(machine->count(sim::Access::Close, "/dev/hda"), 1u);
}

// The calls that current kernels' interfaces need: directory listings of sysfs, mappings of
// memory that read() cannot reach, and what lockdown refuses.
TEST_F(Simulator, ListsDirectoriesMapsMemoryPastRamAndLocksDown) {
    machine->files.add("/sys/bus/pci/devices/0000:00:1f.2/config", std::string(64, '\0'));
    machine->files.add("/sys/bus/pci/devices/0000:00:00.0/config", std::string(64, '\0'));
    machine->files.add("/sys/bus/pci/devices/0000:00:00.0/vendor", "0x8086\n");
    std::vector<std::string> names;
    ASSERT_TRUE(platform::list_directory("/sys/bus/pci/devices", names));
    EXPECT_EQ(names, (std::vector<std::string>{"0000:00:00.0", "0000:00:1f.2"}));
    ASSERT_TRUE(platform::list_directory("/sys/bus/pci/devices/0000:00:00.0/", names));
    EXPECT_EQ(names, (std::vector<std::string>{"config", "vendor"}));
    EXPECT_FALSE(platform::list_directory("/sys/block", names));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(names.empty());

    machine->memory.limit = 0x7FFE0000;
    machine->memory.write(0x7FFF0010, "table", 5);
    int fd = platform::open("/dev/mem", O_RDONLY);
    ASSERT_GE(fd, 3);
    char byte;
    EXPECT_EQ(platform::lseek(fd, 0x7FFF0010, SEEK_SET), 0x7FFF0010);
    EXPECT_EQ(platform::read(fd, &byte, 1), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(platform::mmap(fd, 0x7FFF0001, 4096), nullptr);  // not on a page
    EXPECT_EQ(errno, EINVAL);
    auto* page = static_cast<const char*>(platform::mmap(fd, 0x7FFF0000, 4096));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(std::string(page + 0x10, 5), "table");
    EXPECT_EQ(platform::munmap(const_cast<char*>(page), 8192), -1);
    EXPECT_EQ(platform::munmap(const_cast<char*>(page), 4096), 0);
    EXPECT_EQ(machine->count(sim::Access::Map, "/dev/mem"), 1u);  // the refused one made none
    short ready = 0;
    EXPECT_EQ(platform::poll(fd, POLLIN, 1000, &ready), 1);
    EXPECT_EQ(ready, POLLIN);
    EXPECT_EQ(platform::close(fd), 0);

    machine->lockdown = true;
    EXPECT_EQ(platform::open("/dev/mem", O_RDONLY), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(platform::iopl(3), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_TRUE(platform::list_directory("/sys/bus/pci/devices", names));
}

TEST_F(Simulator, KernelFileChoosesTheInterfacesOfTheCapturedKernel) {
    std::string dir = TempDir("kernel");
    std::string error;
    ASSERT_TRUE(sim::write_file(dir + "/kernel", "current lockdown\nram-end 0x80000000\n"));
    auto loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->kernel, sim::Kernel::Current);
    EXPECT_TRUE(loaded->lockdown);
    EXPECT_EQ(loaded->memory.limit, 0x80000000u);

    for (const char* bad : {"modern\n", "ram-end\n", "ram-end -5\n", "ram-end 12k\n"}) {
        ASSERT_TRUE(sim::write_file(dir + "/kernel", bad));
        EXPECT_EQ(sim::load_machine(dir, error), nullptr) << bad;
        EXPECT_NE(error.find("kernel:"), std::string::npos) << error;
    }
    fs::remove(dir + "/kernel");
    loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->kernel, sim::Kernel::Classic);
    EXPECT_FALSE(loaded->lockdown);
    fs::remove_all(dir);
}

}  // namespace
