// GetPciInfo: the DEV record of each function, and CopyString.
#include <cstring>
#include <memory>

#include "PCI/description.h"
#include "api/exports.h"
#include "sim/Pci.h"
#include "tests/support/fixture.h"

namespace {

struct PciDescription : qtest::MachineTest {
    // The record a caller passes: zeroed, then filled.
    std::unique_ptr<DeviceInformation> Describe() {
        auto info = std::make_unique<DeviceInformation>();
        std::memset(info.get(), 0, sizeof *info);
        EXPECT_EQ(GetPciInfo(info.get()), 0);
        return info;
    }
    // One function at 0:0.0, described alone.
    DEV One(const sim::ConfigSpace& config) {
        machine->pci.remove(0, 0, 0);
        machine->pci.add(0, 0, 0, config);
        auto info = Describe();
        EXPECT_EQ(info->quantity, 1);
        return info->dev[0];
    }
};

sim::ConfigSpace Class(std::uint8_t base, std::uint8_t sub, std::uint8_t interface) {
    return sim::ConfigSpace().ids(0x8086, 0x0001).class_code(base, sub, interface);
}

TEST_F(PciDescription, StatusRegisterTexts) {
    // 0x0290: capabilities (bit 4), fast back-to-back (bit 7), DEVSEL medium (bits 9-10 = 01).
    EXPECT_STREQ(One(Class(2, 0, 0).status(0x0290)).status, "Capabilities List;Fast Back-to-Back Capable;Speed=Medium;");
    // 0x0600: DEVSEL 11 is reserved and says nothing.
    EXPECT_STREQ(One(Class(2, 0, 0).status(0x0600)).status, "");
    EXPECT_STREQ(One(Class(2, 0, 0).status(0x0000)).status, "Speed=Fast;");
    // Bits 0-2 and 6 are not reported.
    EXPECT_STREQ(One(Class(2, 0, 0).status(0x0447)).status, "Speed=Slow;");
    // Every reported bit at once, in register order, DEVSEL between bits 8 and 11.
    EXPECT_STREQ(One(Class(2, 0, 0).status(0xF9B8)).status,
                 "Interrupt Status;Capabilities List;66 MHz Capable;Fast Back-to-Back Capable;"
                 "Master Data Parity Error;Speed=Fast;Signaled Target Abort;Received Target Abort;"
                 "Received Master Abort;Signaled system Error;Detected Parity Error;");
}

TEST_F(PciDescription, ClassAndSubclassTexts) {
    DEV host = One(Class(0x06, 0x00, 0x00));
    EXPECT_STREQ(host.model, "Bridge device");
    EXPECT_STREQ(host.type, "Host bridge");

    EXPECT_STREQ(One(Class(0x01, 0x80, 0x00)).type, "Other mass storage controller");
    DEV processor = One(Class(0x0B, 0x80, 0x00));
    EXPECT_STREQ(processor.model, "Processors");
    EXPECT_STREQ(processor.type, "other");

    EXPECT_STREQ(One(Class(0x0C, 0x03, 0x00)).type, "Universal Serial Bus");
    EXPECT_STREQ(One(Class(0x0C, 0x03, 0x10)).type, "Universal Serial Bus");
    EXPECT_STREQ(One(Class(0x0C, 0x03, 0x20)).type, "USB2 host controller");
    // An interface the table does not list for USB leaves the text empty.
    EXPECT_STREQ(One(Class(0x0C, 0x03, 0x50)).type, "");

    // The interface matters only where the table names one.
    DEV ide = One(Class(0x01, 0x01, 0x8A));
    EXPECT_STREQ(ide.model, "Mass storage controller");
    EXPECT_STREQ(ide.type, "IDE controller");
    EXPECT_STREQ(One(Class(0x03, 0x00, 0x01)).type, "8514-compatible controller");
    EXPECT_STREQ(One(Class(0x06, 0x04, 0x01)).type, "Subtractive Decode PCI-to-PCI bridge");
    EXPECT_STREQ(One(Class(0x01, 0x05, 0x30)).type, "ATA controller with chained DMA");
    EXPECT_STREQ(One(Class(0x01, 0x05, 0x00)).type, "");

    // A subclass text belongs to its own base class: 0x0B/0x10 is Alpha, 0x0D/0x10 is RF.
    EXPECT_STREQ(One(Class(0x0B, 0x10, 0x00)).type, "Alpha");
    EXPECT_STREQ(One(Class(0x0D, 0x10, 0x00)).type, "RF controller");
    EXPECT_STREQ(One(Class(0x12, 0x00, 0x00)).model, "Unknown");
}

TEST_F(PciDescription, SubclassesOfTodaysMachines) {
    EXPECT_STREQ(One(Class(0x01, 0x06, 0x01)).type, "SATA controller (AHCI 1.0)");
    EXPECT_STREQ(One(Class(0x01, 0x06, 0x00)).type, "SATA controller");
    EXPECT_STREQ(One(Class(0x01, 0x07, 0x00)).type, "Serial Attached SCSI controller");
    DEV nvme = One(Class(0x01, 0x08, 0x02));
    EXPECT_STREQ(nvme.model, "Mass storage controller");
    EXPECT_STREQ(nvme.type, "NVM Express controller");
    EXPECT_STREQ(One(Class(0x01, 0x08, 0x00)).type, "Non-volatile memory controller");
    EXPECT_STREQ(One(Class(0x0C, 0x03, 0x30)).type, "USB3 host controller (xHCI)");
    EXPECT_STREQ(One(Class(0x0C, 0x00, 0x10)).type, "IEEE 1394 following the 1394 OpenHCI specification");
    EXPECT_STREQ(One(Class(0x04, 0x03, 0x00)).type, "High Definition Audio controller");
    EXPECT_STREQ(One(Class(0x02, 0x07, 0x00)).type, "InfiniBand controller");
    EXPECT_STREQ(One(Class(0x08, 0x06, 0x00)).type, "IOMMU");
    EXPECT_STREQ(One(Class(0x08, 0x02, 0x03)).type, "High Performance Event Timer");
    // The new classes keep the model texts they always had.
    DEV accelerator = One(Class(0x12, 0x00, 0x00));
    EXPECT_STREQ(accelerator.model, "Unknown");
    EXPECT_STREQ(accelerator.type, "Processing accelerator");
    // Texts of earlier rows are unchanged by the new ones: an interface-less row of a
    // subclass still answers for every interface, 0x80 still gets "other" where no row is.
    EXPECT_STREQ(One(Class(0x08, 0x02, 0x00)).type, "Generic 8254 system timer");
    EXPECT_STREQ(One(Class(0x01, 0x00, 0x11)).type, "SCSI bus controller");
    EXPECT_STREQ(One(Class(0x12, 0x80, 0x00)).type, "other");
}

TEST_F(PciDescription, ClassesBeyondTheTableAreUnknown) {
    DEV unassigned = One(Class(0xFF, 0x00, 0x00));
    EXPECT_STREQ(unassigned.model, "Unknown");
    EXPECT_STREQ(unassigned.type, "");
    EXPECT_STREQ(One(Class(0x14, 0x00, 0x00)).model, "Unknown");
    // 0xFF/0x80: the "other" of subclass 0x80 still applies; no table text overwrites it.
    EXPECT_STREQ(One(Class(0xFF, 0x80, 0x00)).type, "other");
    EXPECT_STREQ(One(Class(0x13, 0x00, 0x00)).model, "");
    EXPECT_STREQ(One(Class(0x14, 0x00, 0x00)).type, "");
}

TEST_F(PciDescription, TextsLongerThanTheirFieldAreCut) {
    // 72 characters into a 64-byte field: 63 of them and the record's zero.
    DEV dev = One(Class(0x11, 0x10, 0x00));
    EXPECT_EQ(std::string(dev.type, sizeof dev.type - 1),
              std::string("Communications synchronization plus time and frequency test/measurement").substr(0, 63));
    EXPECT_EQ(dev.type[63], '\0');
}

TEST_F(PciDescription, PositionInterruptBaseAddressAndRevision) {
    machine->pci.add(2, 31, 7, Class(0x02, 0x00, 0x00).interrupt(0xFF, 1).bar(0, 0xFEBC0000).revision(0xA3));
    machine->pci.add(2, 31, 0, Class(0x02, 0x00, 0x00).header_type(0x80));
    machine->pci.add(0, 0, 0, Class(0x06, 0x00, 0x00).interrupt(0x00, 0).bar(0, 0x0000E001));
    machine->pci.add(0, 29, 0, Class(0x0C, 0x03, 0x00).interrupt(0x17, 1).bar(0, 0));
    auto info = Describe();
    ASSERT_EQ(info->quantity, 4);
    const DEV& host = info->dev[0];
    const DEV& usb = info->dev[1];
    const DEV& nic = info->dev[3];
    EXPECT_STREQ(host.desc, "bus:0, dev:0, func:0");
    EXPECT_STREQ(usb.desc, "bus:0, dev:29, func:0");
    EXPECT_STREQ(nic.desc, "bus:2, dev:31, func:7");
    EXPECT_EQ(host.IRQ, 0);
    EXPECT_EQ(usb.IRQ, 23);
    EXPECT_EQ(nic.IRQ, 0);  // 0xFF: not connected
    EXPECT_EQ(static_cast<unsigned long>(host.IOBase), 0xE001ul);  // I/O flag bit kept
    EXPECT_EQ(static_cast<unsigned long>(nic.IOBase) & 0xFFFFFFFFul, 0xFEBC0000ul);
    EXPECT_EQ(nic.revision, 0xA3);
    // Fields the command does not own stay as the caller left them.
    EXPECT_EQ(nic.BiosEnable, 0);
    EXPECT_EQ(nic.MemBase, 0);
    EXPECT_EQ(nic.DMAChannel, 0);
    EXPECT_EQ(nic.Duplex, 0);
    EXPECT_EQ(info->dev[4].desc[0], '\0');
}

TEST_F(PciDescription, MoreFunctionsThanTheRecordHoldsDescribesTheFirst64AtOnce) {
    machine->files.deny("/sys/bus/pci/devices");  // the port scan
    for (int i = 0; i < 70; ++i) machine->pci.add(i / 32, i % 32, 0, Class(0x02, 0x00, 0x00));
    auto info = Describe();
    EXPECT_EQ(info->quantity, 64);
    EXPECT_STREQ(info->dev[0].desc, "bus:0, dev:0, func:0");
    EXPECT_STREQ(info->dev[63].desc, "bus:1, dev:31, func:0");
    EXPECT_TRUE(machine->clock.sleeps_us.empty());  // no pause, no second scan
    // The scan stopped at the 65th function, 2:0.0, once its 16 registers were read.
    EXPECT_EQ(machine->pci.reads_per_bus[2], 16u);
    EXPECT_EQ(machine->pci.reads_per_bus[3], 0u);
    EXPECT_EQ(machine->ports.level, 0);
}

TEST_F(PciDescription, WithoutPortPrivilegeOrSysfsTheRecordIsEmpty) {
    machine->pci.add(0, 0, 0, Class(0x06, 0x00, 0x00));
    machine->ports.grant_iopl = false;
    machine->files.deny("/sys/bus/pci/devices");
    auto info = std::make_unique<DeviceInformation>();
    std::memset(info.get(), 0x5A, sizeof *info);
    EXPECT_EQ(GetPciInfo(info.get()), -1);  // nothing could be looked at
    EXPECT_EQ(info->quantity, 0);
    EXPECT_EQ(info->dev[0].desc[0], 0x5A);  // no entry written
    EXPECT_EQ(machine->ports.violations, 0);
}

TEST(CopyString, CopiesAtMostTheFieldLessOneAndNoTerminator) {
    char target[8];
    std::memset(target, '#', sizeof target);
    CopyString(target, "ABCDEFGH", 4);
    EXPECT_EQ(std::string(target, 8), "ABC#####");
    std::memset(target, '#', sizeof target);
    CopyString(target, "xy", 8);
    EXPECT_EQ(std::string(target, 8), "xy######");
    CopyString(target, "anything", 1);
    EXPECT_EQ(std::string(target, 8), "xy######");
}

}  // namespace
