#include "PCI/PCIsysfs.h"

#include <fcntl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PCI/PCIscan.h"
#include "platform/platform.h"

namespace {

constexpr int kHeaderBytes = 64;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly `count` hexadecimal digits at `text`.
bool Hex(const char* text, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        int digit = HexDigit(text[i]);
        if (digit < 0) return false;
        value = value * 16 + digit;
    }
    return true;
}

}  // namespace

PCIsysfs::PCIsysfs() : m_available(false) {
    std::vector<std::string> names;
    m_available = platform::list_directory(kDirectory, names);
    for (const std::string& name : names) {
        Position position;
        if (ParseName(name.c_str(), position) && position.bus < PCIscan::kBuses) m_positions.push_back(position);
    }
    // The kernel's names sort in bus, device, function order already, but only while
    // every field keeps its width: sort by the numbers themselves.
    m_positions.sort([](const Position& a, const Position& b) {
        if (a.bus != b.bus) return a.bus < b.bus;
        if (a.dev != b.dev) return a.dev < b.dev;
        return a.func < b.func;
    });
}

bool PCIsysfs::ParseName(const char* name, Position& position) {
    // Domain 0 only: "0000:BB:DD.F". Other domains (more host bridges, VMD) are not
    // reachable through the configuration ports either.
    int domain = 0;
    std::string text(name);
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || text[10] != '.') return false;
    if (!Hex(name, 4, domain) || domain != 0) return false;
    if (!Hex(name + 5, 2, position.bus) || !Hex(name + 8, 2, position.dev) || !Hex(name + 11, 1, position.func))
        return false;
    return position.dev < 32 && position.func < 8;
}

bool PCIsysfs::ReadHeader(const Position& position, PCIdevice& device) {
    char path[64];
    std::snprintf(path, sizeof path, "%s/0000:%02x:%02x.%x/config", kDirectory, position.bus, position.dev,
                  position.func);
    int fd = platform::open(path, O_RDONLY);
    if (fd < 0) return false;
    unsigned char bytes[kHeaderBytes];
    int error = 0;
    const std::size_t used = platform::read_all(fd, bytes, kHeaderBytes, error);
    platform::close(fd);
    if (used < kHeaderBytes) return false;
    // The same registers the data port gives: little-endian dwords.
    unsigned int words[16];
    for (int r = 0; r < 16; ++r)
        words[r] = static_cast<unsigned int>(bytes[4 * r]) | static_cast<unsigned int>(bytes[4 * r + 1]) << 8 |
                   static_cast<unsigned int>(bytes[4 * r + 2]) << 16 |
                   static_cast<unsigned int>(bytes[4 * r + 3]) << 24;
    device.setHeader(words);
    if (device.getVendorID() == 0xFFFF || device.getVendorID() == 0) return false;
    device.setBusNo(position.bus);
    device.setDevNo(position.dev);
    device.setFuncNo(position.func);
    return true;
}

int PCIsysfs::getAllDevice(std::list<PCIdevice>& devices, int most) {
    devices.clear();
    int found = 0;
    for (const Position& position : m_positions) {
        PCIdevice device;
        if (!ReadHeader(position, device)) continue;
        if (++found > most) return -1;
        devices.push_back(device);
    }
    return 0;
}
