// Typed builders for the inventory structures of an SMBIOS table: processors and caches,
// memory, ports, on-board devices, power supplies, cooling devices and probes.
//
// Each description names its fields as the SMBIOS reference does and starts from values
// that mean "nothing to say" (strings absent, handles 0xFFFF, 0x8000 for unknown readings),
// so a test writes only what it is about:
//
//   sim::add_processor(t, {.family = 0xB3, .max_speed = 3000, .l1 = 0x10});
//
// `length` is the formatted length the structure claims; fields that lie beyond it are not
// written (an older or shorter structure, as real firmware ships them). `handle` < 0 takes
// the table's next free handle. An empty string is stored as string number 0 (absent).
#ifndef QARVEL_SIM_SMBIOSSTRUCTURES_H
#define QARVEL_SIM_SMBIOSSTRUCTURES_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Smbios.h"

namespace sim {

// Type 4 (SMBIOS 7.5). 0x1A for 2.0, 0x20 for 2.1-2.2, 0x23 for 2.3-2.4, 0x28 for 2.5.
struct Processor {
    std::uint8_t length = 0x23;
    int handle = -1;
    std::string socket{};
    std::uint8_t processor_type = 3;  // central processor
    std::uint8_t family = 0;
    std::string manufacturer{};
    std::uint64_t id = 0;
    std::string version{};
    std::uint8_t voltage = 0;
    std::uint16_t external_clock = 0, max_speed = 0, current_speed = 0;  // MHz
    std::uint8_t status = 0x41;  // populated, enabled
    std::uint8_t upgrade = 2;    // unknown
    std::uint16_t l1 = 0xFFFF, l2 = 0xFFFF, l3 = 0xFFFF;
    std::string serial{}, asset_tag{}, part_number{};
};
Structure& add_processor(SmbiosTable& t, const Processor& p);

// Type 7 (SMBIOS 7.8). Sizes: bit 15 clear 1 KB units, set 64 KB units.
struct Cache {
    std::uint8_t length = 0x13;
    int handle = -1;
    std::string designation{};
    std::uint16_t configuration = 0x0180;  // enabled, internal, level 1
    std::uint16_t max_size = 0, installed_size = 0;
    std::uint16_t supported_sram = 0x0002, current_sram = 0x0002;  // unknown
    std::uint8_t speed = 0;                                         // ns, 0 unknown
    std::uint8_t error_correction = 2, system_type = 2, associativity = 2;
};
Structure& add_cache(SmbiosTable& t, const Cache& c);

// Type 5 (SMBIOS 7.6). The length follows the handle list unless given.
struct MemoryController {
    int length = -1;
    int handle = -1;
    std::vector<std::uint16_t> modules{};  // type-6 handles
    int populated_slots = -1;            // what offset 14 claims; the list's size by default
};
Structure& add_memory_controller(SmbiosTable& t, const MemoryController& c);

// Type 6 (SMBIOS 7.7). Sizes: bits 0-6 n for 2^n MB, 0x7D/0x7E/0x7F not determinable, not
// enabled, not installed; bit 7 double bank.
struct MemoryModule {
    std::uint8_t length = 0x0C;
    int handle = -1;
    std::string designation{};
    std::uint8_t bank_connections = 0xFF;
    std::uint8_t speed = 0;  // ns
    std::uint16_t type = 0;  // bit field
    std::uint8_t installed_size = 0x7F;
    int enabled_size = -1;  // the installed size by default
    std::uint8_t error_status = 0;
};
Structure& add_memory_module(SmbiosTable& t, const MemoryModule& m);

// Type 17 (SMBIOS 7.18). 0x15 for 2.1-2.2, 0x1B for 2.3-2.5, 0x22 for 2.7. The device
// locator is added first, so it is string 1 whenever it is given.
struct MemoryDevice {
    std::uint8_t length = 0x1B;
    int handle = -1;
    std::uint16_t array = 0x1000;
    std::uint16_t error_information = 0xFFFE;  // not provided
    std::uint16_t total_width = 72, data_width = 64;
    std::uint16_t size = 0;  // 0 empty, 0xFFFF unknown, bit 15 kilobytes
    std::uint8_t form_factor = 0x09;  // DIMM
    std::uint8_t device_set = 0;
    std::string device_locator{}, bank_locator{};
    std::uint8_t memory_type = 0x02;  // unknown
    std::uint16_t type_detail = 0;
    std::uint16_t speed = 0;  // MHz
    std::string manufacturer{}, serial{}, asset_tag{}, part_number{};
};
Structure& add_memory_device(SmbiosTable& t, const MemoryDevice& d);

// Type 20 (SMBIOS 7.21): addresses in kilobytes, the last kilobyte inclusive.
struct MemoryDeviceMappedAddress {
    std::uint8_t length = 0x13;
    int handle = -1;
    std::uint32_t start = 0, end = 0;
    std::uint16_t device = 0;
    std::uint16_t array_mapped_address = 0xFFFF;
    std::uint8_t partition_row = 0xFF, interleave_position = 0xFF, interleaved_depth = 0xFF;
};
Structure& add_memory_device_mapped_address(SmbiosTable& t, const MemoryDeviceMappedAddress& m);

// Type 8 (SMBIOS 7.9).
struct PortConnector {
    std::uint8_t length = 0x09;
    int handle = -1;
    std::string internal_designator{};
    std::uint8_t internal_connector = 0;
    std::string external_designator{};
    std::uint8_t external_connector = 0;
    std::uint8_t port_type = 0;
};
Structure& add_port(SmbiosTable& t, const PortConnector& p);

// Type 10 (SMBIOS 7.11): one entry per device, its type byte (bit 7 enabled) and text.
struct OnBoardDevice {
    std::uint8_t type;
    std::string description{};
};
Structure& add_on_board_devices(SmbiosTable& t, const std::vector<OnBoardDevice>& devices, int handle = -1);

// Type 39 (SMBIOS 7.40). Characteristics: bit 0 hot replaceable, 1 present, 2 unplugged,
// bits 10-13 the supply type.
struct PowerSupply {
    std::uint8_t length = 0x16;
    int handle = -1;
    std::uint8_t group = 0;
    std::string location{}, name{}, manufacturer{}, serial{}, asset_tag{}, model_part_number{}, revision{};
    std::uint16_t max_capacity = 0x8000;  // watts, 0x8000 unknown
    std::uint16_t characteristics = 0;
    std::uint16_t input_voltage_probe = 0xFFFF, cooling_device = 0xFFFF, input_current_probe = 0xFFFF;
};
Structure& add_power_supply(SmbiosTable& t, const PowerSupply& p);

// Type 27 (SMBIOS 7.28): 0x0C before SMBIOS 2.2, 0x0E with the nominal speed, 0x0F with
// the description of 2.7.
struct CoolingDevice {
    std::uint8_t length = 0x0E;
    int handle = -1;
    std::uint16_t temperature_probe = 0xFFFF;
    std::uint8_t type_and_status = 0x63;  // OK, fan
    std::uint8_t group = 0;
    std::uint32_t oem = 0;
    std::uint16_t nominal_speed = 0x8000;  // rpm, 0x8000 unknown
    std::string description{};
};
Structure& add_cooling_device(SmbiosTable& t, const CoolingDevice& c);

// Types 26 and 28 (SMBIOS 7.27, 7.29): millivolts or tenths of a degree, 0x8000 unknown.
// Location and status: bits 0-4 location, bits 5-7 status.
struct Probe {
    std::uint8_t length = 0x16;
    int handle = -1;
    std::string description{};
    std::uint8_t location_and_status = 0x63;  // OK, processor
    std::uint16_t maximum = 0x8000, minimum = 0x8000, resolution = 0x8000, tolerance = 0x8000,
                  accuracy = 0x8000;
    std::uint32_t oem = 0;
    std::uint16_t nominal = 0x8000;
};
Structure& add_voltage_probe(SmbiosTable& t, const Probe& p);
Structure& add_temperature_probe(SmbiosTable& t, const Probe& p);

// A server-like table of exactly `structures` structures (at least 8): identity, then
// processors with their caches, memory devices with their mapped ranges, ports, on-board
// devices, supplies, fans, probes and OEM structures in turn, and the end-of-table. For
// measuring how reading and sweeping the table grow with its size.
SmbiosTable inventory_table(int structures);

}  // namespace sim

#endif
