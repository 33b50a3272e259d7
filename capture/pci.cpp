// pci/BB:DD.F: the configuration space of every function that answers, 256 bytes each, read
// through the PCI scanner's own configuration ports (mechanism 1).
#include <cstdio>

#include "PCI/PCIscan.h"
#include "capture/capture.h"

namespace capture {

namespace {

constexpr unsigned short kAddressPort = 0xCF8, kDataPort = 0xCFC;
constexpr int kRegisters = 64;  // 256 bytes, all that mechanism 1 reaches

unsigned long Register(PCIscan& scan, int bus, int device, int function, int reg) {
    scan.out(kAddressPort, 0x80000000UL | static_cast<unsigned long>(bus) << 16 |
                               static_cast<unsigned long>(device) << 11 | static_cast<unsigned long>(function) << 8 |
                               static_cast<unsigned long>(reg) << 2);
    return scan.in(kDataPort) & 0xFFFFFFFFUL;
}

}  // namespace

// Today's source: configuration ports, so domain 0 only. A sysfs source hands each
// function's config file instead.
void capture_pci(Capture& c) {
    PCIscan scan;
    if (!scan.IsInitOK()) {
        c.manifest.missing("pci/", "no I/O port privilege for the configuration ports");
        return;
    }
    int found = 0;
    for (int bus = 0; bus < 256; ++bus)
        for (int device = 0; device < 32; ++device)
            for (int function = 0; function < 8; ++function) {
                unsigned long id = Register(scan, bus, device, function, 0);
                if ((id & 0xFFFF) == 0xFFFF || (id & 0xFFFF) == 0) {
                    if (function == 0) break;  // no device here
                    continue;
                }
                std::vector<std::uint8_t> space(kRegisters * 4);
                for (int reg = 0; reg < kRegisters; ++reg) {
                    unsigned long value = Register(scan, bus, device, function, reg);
                    for (int b = 0; b < 4; ++b) space[reg * 4 + b] = static_cast<std::uint8_t>(value >> (8 * b));
                }
                char name[16];
                std::snprintf(name, sizeof name, "pci/%02x:%02x.%x", bus, device, function);
                c.write(name, space);
                ++found;
                // A single-function device (header type bit 7 clear) has no functions 1-7.
                if (function == 0 && !(space[0x0E] & 0x80)) break;
            }
    c.manifest.source("pci", found ? "ports" : "ports (no function answered)");
}

}  // namespace capture
