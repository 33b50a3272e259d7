// The current server's PCI functions, written as the sysfs configuration files a capture
// holds: a chipset with AHCI SATA, a legacy IDE function, xHCI USB, the BMC's KCS
// interface, LPC and SMBus; root ports to an NVMe drive, a SAS host adapter and a
// dual-port network controller; and an NVMe drive on bus 0x11, which no scan reaches.
#include <cstdio>
#include <string>

#include "sim/Pci.h"
#include "sim/loader.h"
#include "sim/machines/current-server/parts.h"

namespace current_server {

namespace {

constexpr std::uint16_t kChipset = 0x1B7C;
constexpr std::uint16_t kNvmeMaker = 0x1E0F;
constexpr std::uint16_t kSasMaker = 0x1E4B;
constexpr std::uint16_t kNicMaker = 0x1C2D;
constexpr std::uint16_t kBoardMaker = 0x1D91;

struct Function {
    int bus, device, function;
    sim::ConfigSpace config;
};

sim::ConfigSpace chipset(std::uint16_t device, std::uint8_t base, std::uint8_t sub, std::uint8_t interface) {
    return sim::ConfigSpace().ids(kChipset, device).class_code(base, sub, interface).revision(0x11)
        .subsystem(kBoardMaker, 0x3100);
}

// A PCI Express root port (type 1 header) with its secondary bus.
sim::ConfigSpace root_port(std::uint16_t device, int bus, std::uint8_t header_type) {
    sim::ConfigSpace c = chipset(device, 0x06, 0x04, 0x00).header_type(header_type).command(0x0107).status(0x0010);
    return c.byte(0x19, static_cast<std::uint8_t>(bus)).byte(0x1A, static_cast<std::uint8_t>(bus)).interrupt(0xFF, 1);
}

std::vector<Function> functions() {
    std::vector<Function> f;
    f.push_back({0, 0x00, 0, chipset(0x2020, 0x06, 0x00, 0x00).command(0x0006).status(0x0010)});
    // Two root ports of one multi-function device.
    f.push_back({0, 0x01, 0, root_port(0x2030, 1, 0x81)});
    f.push_back({0, 0x01, 1, root_port(0x2031, 2, 0x01)});
    f.push_back({0, 0x03, 0, root_port(0x2032, 3, 0x01)});
    f.push_back({0, 0x14, 0, chipset(0xA1AF, 0x0C, 0x03, 0x30).command(0x0406).status(0x0290).bar(0, 0x9D300004)
                                 .interrupt(0x10, 1)});
    // The BMC's keyboard-controller-style interface at 0xCA2.
    f.push_back({0, 0x16, 0, chipset(0xA1BE, 0x0C, 0x07, 0x01).command(0x0003).status(0x0010).bar(0, 0x00000CA3)
                                 .interrupt(0x0B, 1)});
    f.push_back({0, 0x17, 0, chipset(0xA182, 0x01, 0x06, 0x01).command(0x0407).status(0x02B0).bar(0, 0x9D314000)
                                 .bar(5, 0x9D316000).interrupt(0x0B, 1)});
    // LPC bridge, the legacy IDE function (two channels), SMBus.
    f.push_back({0, 0x1F, 0, chipset(0xA1C2, 0x06, 0x01, 0x00).header_type(0x80).command(0x0407).status(0x0200)});
    f.push_back({0, 0x1F, 1, chipset(0xA1C3, 0x01, 0x01, 0x8A).command(0x0005).status(0x0280).bar(4, 0x0000F0A1)
                                 .interrupt(0xFF, 1)});
    f.push_back({0, 0x1F, 4, chipset(0xA1A3, 0x0C, 0x05, 0x00).command(0x0003).status(0x0280).bar(0, 0x9D318004)
                                 .bar(4, 0x0000EFA1).interrupt(0x0B, 3)});
    f.push_back({1, 0x00, 0, sim::ConfigSpace().ids(kNvmeMaker, 0x2263).class_code(0x01, 0x08, 0x02).revision(0x03)
                                 .command(0x0406).status(0x0010).bar(0, 0x9D100004).subsystem(kNvmeMaker, 0x2263)
                                 .interrupt(0x0B, 1)});
    f.push_back({2, 0x00, 0, sim::ConfigSpace().ids(kSasMaker, 0x0097).class_code(0x01, 0x07, 0x00).revision(0x02)
                                 .command(0x0406).status(0x0010).bar(0, 0x0000D001).bar(1, 0x9D040004)
                                 .subsystem(kBoardMaker, 0x30E0).interrupt(0x0B, 1)});
    f.push_back({3, 0x00, 0, sim::ConfigSpace().ids(kNicMaker, 0x1521).class_code(0x02, 0x00, 0x00).revision(0x01)
                                 .header_type(0x80).command(0x0406).status(0x0010).bar(0, 0x9CE00000)
                                 .subsystem(kBoardMaker, 0x00A3).interrupt(0x0B, 1)});
    f.push_back({3, 0x00, 1, sim::ConfigSpace().ids(kNicMaker, 0x1521).class_code(0x02, 0x00, 0x00).revision(0x01)
                                 .command(0x0406).status(0x0010).bar(0, 0x9CD00000)
                                 .subsystem(kBoardMaker, 0x00A3).interrupt(0x0A, 2)});
    // Behind a switch the scan does not reach: bus 0x11.
    f.push_back({0x11, 0x00, 0, sim::ConfigSpace().ids(kNvmeMaker, 0x2263).class_code(0x01, 0x08, 0x02)
                                    .revision(0x03).status(0x0010).bar(0, 0xA0000004)});
    return f;
}

}  // namespace

bool write_pci(const std::string& dir) {
    for (const Function& f : functions())
        if (!sim::save_pci_function(dir, f.bus, f.device, f.function, f.config)) return false;
    return true;
}

}  // namespace current_server
