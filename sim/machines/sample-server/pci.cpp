// The sample server's PCI functions, written as the sysfs configuration files a capture
// holds: a chipset with its bridges, USB, LPC, SATA in IDE mode and SMBus functions, a
// RAID controller, a dual-port network controller and the on-board VGA.
#include <cstdio>
#include <string>

#include "sim/Pci.h"
#include "sim/loader.h"
#include "sim/machines/sample-server/parts.h"

namespace sample_server {

namespace {

constexpr std::uint16_t kChipset = 0x1B7C;
constexpr std::uint16_t kRaidMaker = 0x1E4B;
constexpr std::uint16_t kNicMaker = 0x1C2D;
constexpr std::uint16_t kVgaMaker = 0x1A6F;
constexpr std::uint16_t kBoardMaker = 0x1D91;  // subsystem vendor of the on-board functions

struct Function {
    int bus, device, function;
    sim::ConfigSpace config;
};

// A PCI-to-PCI bridge (type 1 header): its bus numbers sit where a type 0 header has
// base address register 2.
sim::ConfigSpace bridge(std::uint16_t device, std::uint8_t interface, int secondary, int subordinate) {
    sim::ConfigSpace c;
    c.ids(kChipset, device).class_code(0x06, 0x04, interface).header_type(0x01);
    c.byte(0x18, 0).byte(0x19, static_cast<std::uint8_t>(secondary)).byte(0x1A, static_cast<std::uint8_t>(subordinate));
    return c;
}

std::vector<Function> functions() {
    std::vector<Function> f;
    // Host bridge: no interrupt.
    f.push_back({0, 0x00, 0, sim::ConfigSpace().ids(kChipset, 0x3C00).command(0x0146).status(0x0090)
                                 .revision(0x13).class_code(0x06, 0x00, 0x00).subsystem(kBoardMaker, 0x2200)});
    // Root ports to the RAID controller (bus 1) and the network controller (bus 2).
    f.push_back({0, 0x01, 0, bridge(0x3C02, 0x00, 1, 1).command(0x0107).status(0x0010).revision(0x13)
                                 .interrupt(0x0B, 1)});
    f.push_back({0, 0x03, 0, bridge(0x3C08, 0x00, 2, 2).command(0x0107).status(0x0010).revision(0x13)
                                 .interrupt(0x0B, 1)});
    // A chipset function of the "unassigned" class 0xFF.
    f.push_back({0, 0x08, 0, sim::ConfigSpace().ids(kChipset, 0x3C80).status(0x0000).revision(0x13)
                                 .class_code(0xFF, 0x00, 0x00).interrupt(0x00, 0)});
    // USB: two UHCI and one EHCI function of one multifunction device.
    f.push_back({0, 0x1D, 0, sim::ConfigSpace().ids(kChipset, 0x1D26).command(0x0005).status(0x0280)
                                 .revision(0x05).class_code(0x0C, 0x03, 0x00).header_type(0x80).bar(4, 0x0000E0A1)
                                 .subsystem(kBoardMaker, 0x2200).interrupt(0x17, 1)});
    f.push_back({0, 0x1D, 1, sim::ConfigSpace().ids(kChipset, 0x1D27).command(0x0005).status(0x0280)
                                 .revision(0x05).class_code(0x0C, 0x03, 0x00).bar(4, 0x0000E081)
                                 .subsystem(kBoardMaker, 0x2200).interrupt(0x13, 2)});
    f.push_back({0, 0x1D, 7, sim::ConfigSpace().ids(kChipset, 0x1D2D).command(0x0006).status(0x0290)
                                 .revision(0x05).class_code(0x0C, 0x03, 0x20).bar(0, 0xFBF0A000)
                                 .subsystem(kBoardMaker, 0x2200).interrupt(0x17, 1)});
    // The PCI bridge to the legacy bus with the on-board VGA: subtractive decode.
    f.push_back({0, 0x1E, 0, bridge(0x244E, 0x01, 4, 4).command(0x0107).status(0x2010).revision(0xA5)});
    // LPC (ISA) bridge, SATA controller in legacy IDE mode, SMBus controller.
    f.push_back({0, 0x1F, 0, sim::ConfigSpace().ids(kChipset, 0x1D41).command(0x0107).status(0x0210)
                                 .revision(0x05).class_code(0x06, 0x01, 0x00).header_type(0x80)
                                 .subsystem(kBoardMaker, 0x2200)});
    f.push_back({0, 0x1F, 2, sim::ConfigSpace().ids(kChipset, 0x1D00).command(0x0005).status(0x02B0)
                                 .revision(0x05).class_code(0x01, 0x01, 0x8A).bar(4, 0x0000FFA1)
                                 .subsystem(kBoardMaker, 0x2200).interrupt(0xFF, 2)});
    f.push_back({0, 0x1F, 3, sim::ConfigSpace().ids(kChipset, 0x1D22).command(0x0003).status(0x0280)
                                 .revision(0x05).class_code(0x0C, 0x05, 0x00).bar(0, 0xFBF09004).bar(4, 0x00001181)
                                 .subsystem(kBoardMaker, 0x2200).interrupt(0x0B, 3)});
    // RAID controller with a 64-bit memory BAR.
    f.push_back({1, 0x00, 0, sim::ConfigSpace().ids(kRaidMaker, 0x0079).command(0x0147).status(0x0010)
                                 .revision(0x05).class_code(0x01, 0x04, 0x00).bar(0, 0xFBE00004).bar(2, 0x0000D001)
                                 .subsystem(kBoardMaker, 0x9260).interrupt(0x1A, 1)});
    // Dual-port gigabit Ethernet.
    f.push_back({2, 0x00, 0, sim::ConfigSpace().ids(kNicMaker, 0x10C9).command(0x0147).status(0x0010)
                                 .revision(0x01).class_code(0x02, 0x00, 0x00).header_type(0x80).bar(0, 0xFBA20000)
                                 .bar(2, 0x0000C021).subsystem(kBoardMaker, 0xA03C).interrupt(0x1C, 1)});
    f.push_back({2, 0x00, 1, sim::ConfigSpace().ids(kNicMaker, 0x10C9).command(0x0147).status(0x0010)
                                 .revision(0x01).class_code(0x02, 0x00, 0x00).bar(0, 0xFBA00000)
                                 .bar(2, 0x0000C001).subsystem(kBoardMaker, 0xA03C).interrupt(0x28, 2)});
    // On-board VGA behind the legacy bridge.
    f.push_back({4, 0x03, 0, sim::ConfigSpace().ids(kVgaMaker, 0x0532).command(0x0007).status(0x0290)
                                 .revision(0x0A).class_code(0x03, 0x00, 0x00).bar(0, 0xF0000008).bar(1, 0xFB800000)
                                 .subsystem(kBoardMaker, 0x2200).interrupt(0x0A, 1)});
    return f;
}

}  // namespace

bool write_pci(const std::string& dir) {
    for (const Function& f : functions()) {
        char name[16];
        std::snprintf(name, sizeof name, "%02x:%02x.%x", f.bus, f.device, f.function);
        const auto& bytes = f.config.bytes();
        if (!sim::write_file(dir + "/pci/" + name, std::string(bytes.begin(), bytes.end()))) return false;
    }
    return true;
}

}  // namespace sample_server
