// PCI configuration mechanism 1 over a set of functions: the address port 0xCF8 latches
// (enable, bus, device, function, register) and the data port 0xCFC-0xCFF answers with that
// register of the function, or all ones where no function sits.
#ifndef QARVEL_SIM_PCI_H
#define QARVEL_SIM_PCI_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Ports;

// A function's configuration space, built field by field at its offsets (PCI Local Bus 3.0
// 6.1). Starts as 256 zero bytes.
class ConfigSpace {
public:
    ConfigSpace() : bytes_(256, 0) {}
    explicit ConfigSpace(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    ConfigSpace& ids(std::uint16_t vendor, std::uint16_t device) { return word(0, vendor).word(2, device); }
    ConfigSpace& command(std::uint16_t value) { return word(4, value); }
    ConfigSpace& status(std::uint16_t value) { return word(6, value); }
    ConfigSpace& revision(std::uint8_t value) { return byte(8, value); }
    // Base class, subclass, programming interface.
    ConfigSpace& class_code(std::uint8_t base, std::uint8_t sub, std::uint8_t interface) {
        return byte(9, interface).byte(10, sub).byte(11, base);
    }
    ConfigSpace& header_type(std::uint8_t value) { return byte(14, value); }
    ConfigSpace& bar(int index, std::uint32_t value) { return dword(16 + 4 * index, value); }
    ConfigSpace& subsystem(std::uint16_t vendor, std::uint16_t device) { return word(44, vendor).word(46, device); }
    ConfigSpace& interrupt(std::uint8_t line, std::uint8_t pin) { return byte(60, line).byte(61, pin); }

    ConfigSpace& byte(std::size_t offset, std::uint8_t value);
    ConfigSpace& word(std::size_t offset, std::uint16_t value);
    ConfigSpace& dword(std::size_t offset, std::uint32_t value);

    // The register at `offset` (a multiple of 4); bytes past the space read as zero.
    std::uint32_t read_dword(std::size_t offset) const;
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

class PciBus {
public:
    // Maps the configuration ports of `ports` onto this set of functions.
    explicit PciBus(Ports& ports);
    PciBus(const PciBus&) = delete;
    PciBus& operator=(const PciBus&) = delete;

    void add(int bus, int device, int function, ConfigSpace config);
    void remove(int bus, int device, int function);
    std::size_t size() const { return functions_.size(); }

    // Configuration reads through the data port, per bus number.
    std::array<std::uint64_t, 256> reads_per_bus{};
    // Every access to the configuration ports: address writes and data reads.
    std::uint64_t port_accesses = 0;

    // The kernel's view, served under /sys/bus/pci/devices: the functions its slot scan
    // finds (function 0, and functions 1-7 of a device whose function 0 has the
    // multi-function bit), named "0000:BB:DD.F", in name order.
    std::vector<std::string> sysfs_names() const;
    // The configuration space behind ".../0000:BB:DD.F/config", or null when the kernel
    // would list no such function.
    const ConfigSpace* sysfs_config(const std::string& name) const;

private:
    static std::uint32_t key(int bus, int device, int function) {
        return static_cast<std::uint32_t>(bus) << 8 | static_cast<std::uint32_t>(device) << 3 |
               static_cast<std::uint32_t>(function);
    }
    std::uint32_t read_data(std::uint16_t port, int width);
    bool kernel_lists(int bus, int device, int function) const;

    std::uint32_t address_ = 0;
    std::map<std::uint32_t, ConfigSpace> functions_;
};

// Writes a function's configuration space into a capture directory as pci/BB:DD.F.
bool save_pci_function(const std::string& capture_directory, int bus, int device, int function,
                       const ConfigSpace& config);

// "BB:DD.F" (hexadecimal, as the sysfs directory names without their domain) to numbers.
bool parse_pci_name(const std::string& name, int& bus, int& device, int& function);

}  // namespace sim

#endif
