#include "sim/Pci.h"

#include <cctype>
#include <cstdio>

#include "sim/Machine.h"
#include "sim/loader.h"

namespace sim {

ConfigSpace& ConfigSpace::byte(std::size_t offset, std::uint8_t value) {
    if (offset >= bytes_.size()) bytes_.resize(offset + 1, 0);
    bytes_[offset] = value;
    return *this;
}

ConfigSpace& ConfigSpace::word(std::size_t offset, std::uint16_t value) {
    return byte(offset, static_cast<std::uint8_t>(value)).byte(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

ConfigSpace& ConfigSpace::dword(std::size_t offset, std::uint32_t value) {
    return word(offset, static_cast<std::uint16_t>(value)).word(offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t ConfigSpace::read_dword(std::size_t offset) const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        if (offset + i < bytes_.size()) value |= static_cast<std::uint32_t>(bytes_[offset + i]) << (8 * i);
    return value;
}

namespace {

constexpr std::uint16_t kAddressPort = 0xCF8;
constexpr std::uint16_t kDataPort = 0xCFC;

}  // namespace

PciBus::PciBus(Ports& ports) {
    // Only a 32-bit access to 0xCF8 is the configuration address; the data port answers
    // to every width at 0xCFC-0xCFF.
    ports.map(
        kAddressPort, 4,
        [this](std::uint16_t port, int width) -> std::uint32_t {
            return port == kAddressPort && width == 4 ? address_ : 0xFFFFFFFFu;
        },
        [this](std::uint16_t port, int width, std::uint32_t value) {
            ++port_accesses;
            if (port == kAddressPort && width == 4) address_ = value;
        });
    // The configuration space is read-only to the library: writes are ignored.
    ports.map(kDataPort, 4, [this](std::uint16_t port, int width) { return read_data(port, width); });
}

std::uint32_t PciBus::read_data(std::uint16_t port, int width) {
    ++port_accesses;
    if (!(address_ & 0x80000000u)) return 0xFFFFFFFFu;
    int bus = static_cast<int>(address_ >> 16 & 0xFF);
    int device = static_cast<int>(address_ >> 11 & 0x1F);
    int function = static_cast<int>(address_ >> 8 & 0x07);
    std::size_t reg = address_ & 0xFC;
    ++reads_per_bus[static_cast<std::size_t>(bus)];
    auto it = functions_.find(key(bus, device, function));
    if (it == functions_.end()) return 0xFFFFFFFFu;
    std::uint32_t value = it->second.read_dword(reg) >> (8 * (port - kDataPort));
    (void)width;  // Ports cuts the value to the access width
    return value;
}

void PciBus::add(int bus, int device, int function, ConfigSpace config) {
    functions_[key(bus, device, function)] = std::move(config);
}

void PciBus::remove(int bus, int device, int function) { functions_.erase(key(bus, device, function)); }

bool PciBus::kernel_lists(int bus, int device, int function) const {
    auto first = functions_.find(key(bus, device, 0));
    if (first == functions_.end()) return false;
    auto vendor = [](const ConfigSpace& c) { return c.read_dword(0) & 0xFFFF; };
    if (vendor(first->second) == 0xFFFF || vendor(first->second) == 0) return false;
    if (function == 0) return true;
    auto it = functions_.find(key(bus, device, function));
    if (it == functions_.end() || vendor(it->second) == 0xFFFF || vendor(it->second) == 0) return false;
    return (first->second.read_dword(12) >> 16 & 0x80) != 0;  // header type, bit 7
}

std::vector<std::string> PciBus::sysfs_names() const {
    std::vector<std::string> names;
    for (const auto& entry : functions_) {
        int bus = static_cast<int>(entry.first >> 8), device = static_cast<int>(entry.first >> 3 & 0x1F),
            function = static_cast<int>(entry.first & 7);
        if (!kernel_lists(bus, device, function)) continue;
        char name[32];
        std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", bus, device, function);
        names.push_back(name);
    }
    return names;  // the keys are in bus, device, function order, and so are the names
}

const ConfigSpace* PciBus::sysfs_config(const std::string& name) const {
    int bus = 0, device = 0, function = 0;
    if (name.size() != 12 || name.compare(0, 5, "0000:") != 0 || !parse_pci_name(name.substr(5), bus, device, function))
        return nullptr;
    if (!kernel_lists(bus, device, function)) return nullptr;
    return &functions_.find(key(bus, device, function))->second;
}

bool save_pci_function(const std::string& capture_directory, int bus, int device, int function,
                       const ConfigSpace& config) {
    char name[32];
    std::snprintf(name, sizeof name, "%02x:%02x.%x", bus & 0xFF, device & 0x1F, function & 7);
    const auto& bytes = config.bytes();
    return write_file(capture_directory + "/pci/" + name, std::string(bytes.begin(), bytes.end()));
}

bool parse_pci_name(const std::string& name, int& bus, int& device, int& function) {
    auto hex = [&](std::size_t from, std::size_t count, int& out) {
        out = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
            out = out * 16 + (std::isdigit(static_cast<unsigned char>(name[i])) ? name[i] - '0'
                                                                               : std::tolower(name[i]) - 'a' + 10);
        }
        return true;
    };
    if (name.size() != 7 || name[2] != ':' || name[5] != '.') return false;
    if (!hex(0, 2, bus) || !hex(3, 2, device) || !hex(6, 1, function)) return false;
    return device <= 31 && function <= 7;
}

}  // namespace sim
