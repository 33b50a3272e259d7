// The configuration scan: which functions it finds, how it reads their headers, and what
// it never touches.
#include <list>

#include "PCI/PCIscan.h"
#include "sim/Pci.h"
#include "tests/support/fixture.h"

namespace {

using PciScan = qtest::MachineTest;

sim::ConfigSpace Function(std::uint16_t vendor, std::uint8_t base = 0x02, std::uint8_t sub = 0x00) {
    return sim::ConfigSpace().ids(vendor, 0x1234).class_code(base, sub, 0);
}

std::vector<std::string> Positions(const std::list<PCIdevice>& devices) {
    std::vector<std::string> out;
    for (const PCIdevice& d : devices)
        out.push_back(std::to_string(d.getBusNo()) + ":" + std::to_string(d.getDevNo()) + "." +
                      std::to_string(d.getFuncNo()));
    return out;
}

TEST_F(PciScan, HeaderFieldsComeFromTheirOffsets) {
    // A header written byte by byte, each field holding a value that tells it apart.
    std::vector<std::uint8_t> bytes = {
        0x86, 0x80, 0x2E, 0x24,  // vendor 0x8086, device 0x242E
        0x07, 0x01, 0x90, 0x02,  // command 0x0107, status 0x0290
        0x12, 0x8A, 0x01, 0x01,  // revision 0x12, interface 0x8A, subclass 0x01, class 0x01
        0x10, 0x20, 0x80, 0x00,  // cache line, latency, header type 0x80, BIST
        0xF1, 0x01, 0x00, 0x00,  // BAR0 0x000001F1
        0xF5, 0x03, 0x00, 0x00,  // BAR1 0x000003F5
        0x71, 0x01, 0x00, 0x00,  // BAR2
        0x75, 0x03, 0x00, 0x00,  // BAR3
        0xA1, 0xFF, 0x00, 0x00,  // BAR4
        0x00, 0x00, 0xC0, 0xFE,  // BAR5 0xFEC00000
        0, 0, 0, 0, 0x28, 0x10, 0x3C, 0x02,  // cardbus CIS, subsystem
        0x00, 0x00, 0x0C, 0xFE,  // ROM base 0xFE0C0000
        0x40, 0, 0, 0, 0, 0, 0, 0,
        0x0E, 0x02, 0x03, 0x04,  // line 14, pin 2, min grant 3, max latency 4
    };
    ASSERT_EQ(bytes.size(), 64u);
    machine->pci.add(0, 31, 2, sim::ConfigSpace(bytes));

    PCIscan scan;
    ASSERT_EQ(scan.IsInitOK(), 1);
    ASSERT_EQ(scan.readPCIheader(0, 31, 2), 0);
    const PCIdevice& d = scan.getLastDevice();
    const _HEADER& h = d.getHeader();
    EXPECT_EQ(d.getVendorID(), 0x8086);
    EXPECT_EQ(h.DeviceID, 0x242E);
    EXPECT_EQ(h.Command, 0x0107);
    EXPECT_EQ(d.getStatus(), 0x0290);
    EXPECT_EQ(d.getRevisionID(), 0x12);
    EXPECT_EQ(d.getProgIF(), 0x8A);
    EXPECT_EQ(d.getSubClassCode(), 0x01);
    EXPECT_EQ(d.getClassCode(), 0x01);
    EXPECT_EQ(h.CLS, 0x10);
    EXPECT_EQ(h.latency, 0x20);
    EXPECT_EQ(h.HeaderType, 0x80);
    EXPECT_EQ(d.getBaseAddr0(), 0x1F1u);
    EXPECT_EQ(d.getBaseAddr1(), 0x3F5u);
    EXPECT_EQ(d.getBaseAddr2(), 0x171u);
    EXPECT_EQ(d.getBaseAddr3(), 0x375u);
    EXPECT_EQ(d.getBaseAddr4(), 0xFFA1u);
    EXPECT_EQ(d.getBaseAddr5(), 0xFEC00000u);
    EXPECT_EQ(h.Reserved1[1], 0x023C1028u);
    EXPECT_EQ(h.ROMBase, 0xFE0C0000u);
    EXPECT_EQ(h.Reserved2[0], 0x40u);
    EXPECT_EQ(d.getIntLine(), 14);
    EXPECT_EQ(h.INTPin, 2);
    EXPECT_EQ(h.Minlat, 3);
    EXPECT_EQ(h.MaxLat, 4);
    EXPECT_EQ(d.getBusNo(), 0);
    EXPECT_EQ(d.getDevNo(), 31);
    EXPECT_EQ(d.getFuncNo(), 2);
}

TEST_F(PciScan, VendorZeroAndAllOnesAreNoFunction) {
    machine->pci.add(0, 1, 0, Function(0x0000));
    machine->pci.add(0, 2, 0, Function(0xFFFF));
    machine->pci.add(0, 3, 0, Function(0x1AF4));
    PCIscan scan;
    EXPECT_EQ(scan.readPCIheader(0, 1, 0), -1);
    EXPECT_EQ(scan.readPCIheader(0, 2, 0), -1);
    EXPECT_EQ(scan.getLastDevice().getBusNo() + scan.getLastDevice().getDevNo(), 0);  // numbers cleared
    EXPECT_EQ(scan.readPCIheader(0, 4, 0), -1);  // nothing there at all

    std::list<PCIdevice> devices;
    EXPECT_EQ(scan.getAllDevice(devices), 0);
    EXPECT_EQ(Positions(devices), std::vector<std::string>{"0:3.0"});
}

TEST_F(PciScan, SixtyFourFunctionsFitAndTheSixtyFifthFails) {
    // Functions spread over buses, devices and function numbers, added out of order.
    std::vector<std::string> expected;
    // Four multi-function devices of four functions on each of four buses.
    auto place = [](int i, int& bus, int& dev, int& func) { bus = i / 16, dev = (i % 16) / 4 * 2, func = i % 4; };
    for (int i = 0; i < 64; ++i) {
        int bus, dev, func;
        place(i, bus, dev, func);
        expected.push_back(std::to_string(bus) + ":" + std::to_string(dev) + "." + std::to_string(func));
    }
    for (int i = 63; i >= 0; --i) {
        int bus, dev, func;
        place(i, bus, dev, func);
        machine->pci.add(bus, dev, func, Function(0x1000 + i).header_type(func == 0 ? 0x80 : 0));
    }

    PCIscan scan;
    std::list<PCIdevice> devices(3);  // the list is cleared first
    EXPECT_EQ(scan.getAllDevice(devices), 0);
    EXPECT_EQ(Positions(devices), expected);
    EXPECT_EQ(devices.front().getVendorID(), 0x1000);

    machine->pci.add(10, 31, 0, Function(0x2000));
    EXPECT_EQ(scan.getAllDevice(devices), -1);
    EXPECT_EQ(Positions(devices), expected);  // the first 64, in scan order
}

TEST_F(PciScan, WithoutPortPrivilegeNothingIsSeenAndNoPortIsTouched) {
    machine->pci.add(0, 0, 0, Function(0x8086, 0x06, 0x00));
    machine->ports.grant_iopl = false;
    {
        PCIscan scan;
        EXPECT_EQ(scan.IsInitOK(), 0);
        std::list<PCIdevice> devices(2);
        EXPECT_EQ(scan.getAllDevice(devices), 0);
        EXPECT_TRUE(devices.empty());
        EXPECT_EQ(scan.searchDevice(0x06, 0x00), 0);
    }
    EXPECT_EQ(machine->ports.violations, 0);
    EXPECT_EQ(machine->pci.reads_per_bus[0], 0u);
}

TEST_F(PciScan, BusesAboveTenAreNeverRead) {
    machine->pci.add(10, 0, 0, Function(0x10EC));
    machine->pci.add(11, 0, 0, Function(0x10DE));
    machine->pci.add(0x80, 0, 0, Function(0x10DE));
    {
        PCIscan scan;
        std::list<PCIdevice> devices;
        EXPECT_EQ(scan.getAllDevice(devices), 0);
        EXPECT_EQ(Positions(devices), std::vector<std::string>{"10:0.0"});
        EXPECT_EQ(scan.searchDevice(0x03, 0x00), 0);
    }
    // One vendor register per device number of buses 0-10 (searchDevice looks at every
    // function number, so eight per device there), and the rest of the one header found.
    for (int bus = 0; bus <= 10; ++bus)
        EXPECT_EQ(machine->pci.reads_per_bus[bus], 32u + 32 * 8 + (bus == 10 ? 2 * 15 : 0)) << bus;
    EXPECT_EQ(machine->pci.reads_per_bus[11], 0u);
    EXPECT_EQ(machine->pci.reads_per_bus[0x80], 0u);
    EXPECT_EQ(machine->ports.level, 0);  // the privilege was given back
}

TEST_F(PciScan, SearchFindsClassAndSubclassOfPresentFunctionsOnly) {
    machine->pci.add(3, 4, 5, Function(0x8086, 0x01, 0x06));
    PCIscan scan;
    EXPECT_EQ(scan.searchDevice(0x01, 0x06), 1);
    EXPECT_EQ(scan.searchDevice(0x01, 0x01), 0);
    // Absent functions read all ones; they must not pass for class 0xFF, subclass 0xFF.
    EXPECT_EQ(scan.searchDevice(0xFF, 0xFF), 0);
    machine->pci.add(9, 0, 0, Function(0x8086, 0xFF, 0xFF));
    EXPECT_EQ(scan.searchDevice(0xFF, 0xFF), 1);
}

}  // namespace
