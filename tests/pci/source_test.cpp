// Where the functions come from: sysfs when the kernel offers it, the configuration ports
// when not. Both must give the same records, byte for byte.
#include <cstring>
#include <iostream>
#include <list>
#include <memory>

#include "PCI/PCIscan.h"
#include "PCI/PCIsysfs.h"
#include "PCI/description.h"
#include "PCI/sources.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

constexpr const char* kSysfs = "/sys/bus/pci/devices";

struct PciSources : qtest::MachineTest {
    // The record from whichever source answers, with the result and the source's name.
    std::unique_ptr<DeviceInformation> Read(int expected_result = 0) {
        auto info = std::make_unique<DeviceInformation>();
        std::memset(info.get(), 0, sizeof *info);
        EXPECT_EQ(GetPciInfo(info.get()), expected_result);
        return info;
    }
    // The same machine read once through sysfs and once through the ports.
    void ExpectParity(int quantity) {
        auto sysfs = Read();
        ASSERT_STREQ(PciSourceName(), "sysfs");
        EXPECT_EQ(machine->pci.port_accesses, 0u);  // sysfs needs no port at all
        EXPECT_EQ(machine->ports.level, 0);
        machine->files.deny(kSysfs);
        auto ports = Read();
        ASSERT_STREQ(PciSourceName(), "ports");
        EXPECT_EQ(sysfs->quantity, quantity);
        EXPECT_EQ(ports->quantity, quantity);
        for (int i = 0; i < quantity; ++i) EXPECT_STREQ(sysfs->dev[i].desc, ports->dev[i].desc) << i;
        EXPECT_EQ(std::memcmp(sysfs.get(), ports.get(), sizeof *sysfs), 0);
    }
};

sim::ConfigSpace Function(std::uint16_t vendor, std::uint8_t base, std::uint8_t sub, std::uint8_t header = 0) {
    return sim::ConfigSpace().ids(vendor, 0x0100).class_code(base, sub, 0).header_type(header).status(0x0010);
}

TEST_F(PciSources, TheSampleServerGivesTheSameRecordsFromBothSources) {
    UseCapture(QARVEL_SAMPLE_MACHINE);
    ExpectParity(15);
}

TEST_F(PciSources, MultiFunctionDevicesAndHighBusesAgree) {
    // A multi-function device with a gap among its functions.
    machine->pci.add(0, 0x1F, 0, Function(0x8086, 0x06, 0x01, 0x80));
    machine->pci.add(0, 0x1F, 2, Function(0x8086, 0x01, 0x06));
    machine->pci.add(0, 0x1F, 3, Function(0x8086, 0x0C, 0x05));
    // A single-function device that decodes no function bits: it answers on all eight.
    for (int f = 0; f < 8; ++f) machine->pci.add(3, 0, f, Function(0x1B21, 0x02, 0x00));
    // Function 1 without function 0: no device, to the kernel as to the port scan.
    machine->pci.add(5, 2, 1, Function(0x10DE, 0x03, 0x00));
    // Buses above 10 are left out by both.
    machine->pci.add(10, 0, 0, Function(0x15B3, 0x02, 0x07));
    machine->pci.add(11, 0, 0, Function(0x144D, 0x01, 0x08));
    machine->pci.add(0x80, 0, 0, Function(0x144D, 0x01, 0x08));
    ExpectParity(5);
    auto info = Read();
    EXPECT_STREQ(info->dev[1].desc, "bus:0, dev:31, func:2");
    EXPECT_STREQ(info->dev[3].desc, "bus:3, dev:0, func:0");
    EXPECT_STREQ(info->dev[4].desc, "bus:10, dev:0, func:0");
}

TEST_F(PciSources, OnePortScanReadsTheVendorFirstAndFollowsTheMultiFunctionBit) {
    machine->files.deny(kSysfs);
    // An empty machine: one vendor register per device number of buses 0-10, each an
    // address write and a data read. The full scan of every register of every function
    // number took 11 x 32 x 8 x 16 x 2 = 90112 accesses.
    Read();
    EXPECT_EQ(machine->pci.port_accesses, 2u * 11 * 32);
    std::cout << "port accesses of one scan, empty machine: " << machine->pci.port_accesses << " (was 90112)\n";

    // A single-function device (16 registers), a multi-function one with two functions
    // (16 + 7 vendor reads + 15 for function 1).
    machine->pci.add(0, 0, 0, Function(0x8086, 0x06, 0x00));
    machine->pci.add(0, 2, 0, Function(0x8086, 0x0C, 0x03, 0x80));
    machine->pci.add(0, 2, 1, Function(0x8086, 0x0C, 0x03));
    machine->pci.port_accesses = 0;
    auto info = Read();
    EXPECT_EQ(info->quantity, 3);
    EXPECT_EQ(machine->pci.port_accesses, 2u * (11 * 32 + 15 + 7 + 15 + 15));
}

TEST_F(PciSources, TheSampleServerPortScanCount) {
    UseCapture(QARVEL_SAMPLE_MACHINE);
    machine->files.deny(kSysfs);
    auto info = Read();
    ASSERT_EQ(info->quantity, 15);
    // 352 vendor registers, 7 more for each of the 3 multi-function devices, 15 more for
    // each of the 15 functions.
    EXPECT_EQ(machine->pci.port_accesses, 2u * (352 + 3 * 7 + 15 * 15));
    std::cout << "port accesses of one scan, sample server: " << machine->pci.port_accesses << " (was 90112)\n";
}

TEST_F(PciSources, UnderLockdownSysfsStillAnswers) {
    machine->pci.add(0, 0, 0, Function(0x8086, 0x06, 0x00));
    machine->pci.add(0, 0x17, 0, Function(0x8086, 0x01, 0x06));
    machine->lockdown = true;
    auto info = Read();
    EXPECT_EQ(info->quantity, 2);
    EXPECT_STREQ(info->dev[1].type, "SATA controller");
    EXPECT_STREQ(PciSourceName(), "sysfs");
    EXPECT_EQ(machine->ports.violations, 0);
    EXPECT_EQ(machine->pci.port_accesses, 0u);
}

TEST_F(PciSources, NoSysfsAndNoPortPrivilegeIsAFailure) {
    machine->pci.add(0, 0, 0, Function(0x8086, 0x06, 0x00));
    Read();
    EXPECT_STREQ(PciSourceName(), "sysfs");
    machine->files.deny(kSysfs);
    machine->lockdown = true;
    auto info = std::make_unique<DeviceInformation>();
    std::memset(info.get(), 0x5A, sizeof *info);
    EXPECT_EQ(GetPciInfo(info.get()), -1);
    EXPECT_EQ(info->quantity, 0);
    EXPECT_EQ(info->dev[0].desc[0], 0x5A);  // no entry written
    EXPECT_EQ(PciSourceName(), nullptr);    // nothing answered this time
    EXPECT_EQ(machine->ports.violations, 0);
}

TEST_F(PciSources, SysfsNamesOutsideDomainZeroOrUnreadableAreLeftOut) {
    machine->pci.add(0, 0, 0, Function(0x8086, 0x06, 0x00));
    machine->pci.add(0, 1, 0, Function(0x8086, 0x02, 0x00));
    // A second PCI domain, a stray entry, and a config file cut short.
    machine->files.add("/sys/bus/pci/devices/0001:00:00.0/config", std::string(256, '\x11'));
    machine->files.add("/sys/bus/pci/devices/10000:00:00.0/config", std::string(256, '\x11'));
    machine->files.add("/sys/bus/pci/devices/0000:00:02.0/config", std::string(40, '\x11'));
    machine->files.deny("/sys/bus/pci/devices/0000:00:01.0/config");
    PCIsysfs sysfs;
    ASSERT_TRUE(sysfs.IsAvailable());
    std::list<PCIdevice> devices;
    EXPECT_EQ(sysfs.getAllDevice(devices), 0);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices.front().getDevNo(), 0);
    EXPECT_EQ(machine->still_open(), std::vector<std::string>{});
}

TEST_F(PciSources, SysfsListsAtMostSixtyFour) {
    for (int i = 0; i < 66; ++i) machine->pci.add(i / 32, i % 32, 0, Function(0x8086, 0x02, 0x00));
    PCIsysfs sysfs;
    std::list<PCIdevice> devices;
    EXPECT_EQ(sysfs.getAllDevice(devices), -1);
    EXPECT_EQ(devices.size(), 64u);
    EXPECT_EQ(devices.back().getBusNo(), 1);
    EXPECT_EQ(devices.back().getDevNo(), 31);
}

}  // namespace
