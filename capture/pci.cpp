// pci/BB:DD.F: the configuration space of every function: the kernel's sysfs config files
// when it lists them (as many bytes as the file gives, up to the 4096 of PCI Express), else
// 256 bytes each through the PCI scanner's own configuration ports (mechanism 1).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "PCI/PCIscan.h"
#include "PCI/description.h"
#include "PCI/sources.h"
#include "api/types.h"
#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

namespace {

constexpr unsigned short kAddressPort = 0xCF8, kDataPort = 0xCFC;
constexpr int kRegisters = 64;  // 256 bytes, all that mechanism 1 reaches
constexpr std::size_t kLeastConfig = 64, kMostConfig = 4096;  // header only .. PCI Express
constexpr const char* kSysfsDevices = "/sys/bus/pci/devices";

unsigned long Register(PCIscan& scan, int bus, int device, int function, int reg) {
    scan.out(kAddressPort, 0x80000000UL | static_cast<unsigned long>(bus) << 16 |
                               static_cast<unsigned long>(device) << 11 | static_cast<unsigned long>(function) << 8 |
                               static_cast<unsigned long>(reg) << 2);
    return scan.in(kDataPort) & 0xFFFFFFFFUL;
}

// Domain 0 only ("0000:BB:DD.F"), as the library reads it.
bool SysfsName(const std::string& name, int& bus, int& device, int& function) {
    unsigned domain = 0, b = 0, d = 0, f = 0;
    char end = 0;
    if (name.size() != 12 || std::sscanf(name.c_str(), "%4x:%2x:%2x.%1x%c", &domain, &b, &d, &f, &end) != 4 ||
        domain != 0 || d > 31 || f > 7)
        return false;
    bus = static_cast<int>(b), device = static_cast<int>(d), function = static_cast<int>(f);
    return true;
}

// Each listed function's config file.
void CaptureSysfs(Capture& c) {
    std::vector<std::string> names;
    if (!platform::list_directory(kSysfsDevices, names)) {
        c.manifest.missing("pci/", std::string(kSysfsDevices) + ": " + std::strerror(errno));
        return;
    }
    for (const std::string& name : names) {
        int bus = 0, device = 0, function = 0;
        if (!SysfsName(name, bus, device, function)) continue;
        std::string path = std::string(kSysfsDevices) + "/" + name + "/config", bytes, error;
        char file[16];
        std::snprintf(file, sizeof file, "pci/%02x:%02x.%x", bus, device, function);
        if (!read_platform_file(path, bytes, error)) {
            c.manifest.missing(file, error);
        } else if (bytes.size() < kLeastConfig) {
            c.manifest.missing(file, path + ": only " + std::to_string(bytes.size()) + " bytes");
        } else {
            if (bytes.size() > kMostConfig) bytes.resize(kMostConfig);
            c.write(file, bytes);
        }
    }
}

}  // namespace

// The library's own listing picks the source (sysfs when the kernel offers it, else the
// ports); capture then takes every function from that source.
void capture_pci(Capture& c) {
    auto info = std::make_unique<DeviceInformation>();
    GetPciInfo(info.get());
    const char* source = PciSourceName();
    if (source && std::string(source) == "sysfs") {
        CaptureSysfs(c);
        c.manifest.source("pci", source);
        return;
    }
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
