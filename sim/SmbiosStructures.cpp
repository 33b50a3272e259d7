#include "sim/SmbiosStructures.h"

namespace sim {

namespace {

// Writes the fields of one structure, leaving out those that lie beyond its length.
class Fields {
public:
    Fields(SmbiosTable& t, std::uint8_t type, std::uint8_t length, int handle)
        : s_(handle < 0 ? t.add(type, length) : t.add(type, length, static_cast<std::uint16_t>(handle))),
          length_(length) {}

    Fields& byte(std::size_t offset, std::uint8_t value) {
        if (fits(offset, 1)) s_.byte(offset, value);
        return *this;
    }
    Fields& word(std::size_t offset, std::uint16_t value) {
        if (fits(offset, 2)) s_.word(offset, value);
        return *this;
    }
    Fields& dword(std::size_t offset, std::uint32_t value) {
        if (fits(offset, 4)) s_.dword(offset, value);
        return *this;
    }
    Fields& qword(std::size_t offset, std::uint64_t value) {
        if (fits(offset, 8)) s_.qword(offset, value);
        return *this;
    }
    Fields& string(std::size_t offset, const std::string& text) {
        if (fits(offset, 1) && !text.empty()) s_.string(offset, text);
        return *this;
    }
    Structure& done() { return s_; }

private:
    bool fits(std::size_t offset, std::size_t size) const { return offset + size <= length_; }
    Structure& s_;
    std::size_t length_;
};

}  // namespace

Structure& add_processor(SmbiosTable& t, const Processor& p) {
    return Fields(t, 4, p.length, p.handle)
        .string(4, p.socket)
        .byte(5, p.processor_type)
        .byte(6, p.family)
        .string(7, p.manufacturer)
        .qword(8, p.id)
        .string(16, p.version)
        .byte(17, p.voltage)
        .word(18, p.external_clock)
        .word(20, p.max_speed)
        .word(22, p.current_speed)
        .byte(24, p.status)
        .byte(25, p.upgrade)
        .word(26, p.l1)
        .word(28, p.l2)
        .word(30, p.l3)
        .string(32, p.serial)
        .string(33, p.asset_tag)
        .string(34, p.part_number)
        .done();
}

Structure& add_cache(SmbiosTable& t, const Cache& c) {
    return Fields(t, 7, c.length, c.handle)
        .string(4, c.designation)
        .word(5, c.configuration)
        .word(7, c.max_size)
        .word(9, c.installed_size)
        .word(11, c.supported_sram)
        .word(13, c.current_sram)
        .byte(15, c.speed)
        .byte(16, c.error_correction)
        .byte(17, c.system_type)
        .byte(18, c.associativity)
        .done();
}

Structure& add_memory_controller(SmbiosTable& t, const MemoryController& c) {
    std::size_t handles = c.modules.size();
    // The handle list, then the enabled error correcting capabilities of SMBIOS 2.1.
    int length = c.length >= 0 ? c.length : static_cast<int>(15 + 2 * handles + 1);
    Fields f(t, 5, static_cast<std::uint8_t>(length), c.handle);
    f.byte(4, 0x03)  // error detecting: none
        .byte(5, 0x04)
        .byte(6, 0x03)
        .byte(7, 0x03)
        .byte(8, 0x0A)  // modules of up to 1 GB
        .word(9, 0)
        .word(11, 0x0100)  // DIMM
        .byte(13, 0x02)
        .byte(14, static_cast<std::uint8_t>(c.populated_slots >= 0 ? c.populated_slots : static_cast<int>(handles)));
    for (std::size_t i = 0; i < handles; ++i) f.word(15 + 2 * i, c.modules[i]);
    f.byte(15 + 2 * handles, 0x04);
    return f.done();
}

Structure& add_memory_module(SmbiosTable& t, const MemoryModule& m) {
    return Fields(t, 6, m.length, m.handle)
        .string(4, m.designation)
        .byte(5, m.bank_connections)
        .byte(6, m.speed)
        .word(7, m.type)
        .byte(9, m.installed_size)
        .byte(10, static_cast<std::uint8_t>(m.enabled_size >= 0 ? m.enabled_size : m.installed_size))
        .byte(11, m.error_status)
        .done();
}

Structure& add_memory_device(SmbiosTable& t, const MemoryDevice& d) {
    return Fields(t, 17, d.length, d.handle)
        .word(4, d.array)
        .word(6, d.error_information)
        .word(8, d.total_width)
        .word(10, d.data_width)
        .word(12, d.size)
        .byte(14, d.form_factor)
        .byte(15, d.device_set)
        .string(16, d.device_locator)
        .string(17, d.bank_locator)
        .byte(18, d.memory_type)
        .word(19, d.type_detail)
        .word(21, d.speed)
        .string(23, d.manufacturer)
        .string(24, d.serial)
        .string(25, d.asset_tag)
        .string(26, d.part_number)
        .done();
}

Structure& add_memory_device_mapped_address(SmbiosTable& t, const MemoryDeviceMappedAddress& m) {
    return Fields(t, 20, m.length, m.handle)
        .dword(4, m.start)
        .dword(8, m.end)
        .word(12, m.device)
        .word(14, m.array_mapped_address)
        .byte(16, m.partition_row)
        .byte(17, m.interleave_position)
        .byte(18, m.interleaved_depth)
        .done();
}

Structure& add_port(SmbiosTable& t, const PortConnector& p) {
    return Fields(t, 8, p.length, p.handle)
        .string(4, p.internal_designator)
        .byte(5, p.internal_connector)
        .string(6, p.external_designator)
        .byte(7, p.external_connector)
        .byte(8, p.port_type)
        .done();
}

Structure& add_on_board_devices(SmbiosTable& t, const std::vector<OnBoardDevice>& devices, int handle) {
    Fields f(t, 10, static_cast<std::uint8_t>(4 + 2 * devices.size()), handle);
    for (std::size_t i = 0; i < devices.size(); ++i)
        f.byte(4 + 2 * i, devices[i].type).string(5 + 2 * i, devices[i].description);
    return f.done();
}

Structure& add_power_supply(SmbiosTable& t, const PowerSupply& p) {
    return Fields(t, 39, p.length, p.handle)
        .byte(4, p.group)
        .string(5, p.location)
        .string(6, p.name)
        .string(7, p.manufacturer)
        .string(8, p.serial)
        .string(9, p.asset_tag)
        .string(10, p.model_part_number)
        .string(11, p.revision)
        .word(12, p.max_capacity)
        .word(14, p.characteristics)
        .word(16, p.input_voltage_probe)
        .word(18, p.cooling_device)
        .word(20, p.input_current_probe)
        .done();
}

Structure& add_cooling_device(SmbiosTable& t, const CoolingDevice& c) {
    return Fields(t, 27, c.length, c.handle)
        .word(4, c.temperature_probe)
        .byte(6, c.type_and_status)
        .byte(7, c.group)
        .dword(8, c.oem)
        .word(12, c.nominal_speed)
        .string(14, c.description)
        .done();
}

namespace {

Structure& add_probe(SmbiosTable& t, std::uint8_t type, const Probe& p) {
    return Fields(t, type, p.length, p.handle)
        .string(4, p.description)
        .byte(5, p.location_and_status)
        .word(6, p.maximum)
        .word(8, p.minimum)
        .word(10, p.resolution)
        .word(12, p.tolerance)
        .word(14, p.accuracy)
        .dword(16, p.oem)
        .word(20, p.nominal)
        .done();
}

}  // namespace

Structure& add_voltage_probe(SmbiosTable& t, const Probe& p) { return add_probe(t, 26, p); }

Structure& add_temperature_probe(SmbiosTable& t, const Probe& p) { return add_probe(t, 28, p); }

}  // namespace sim

namespace sim {

SmbiosTable inventory_table(int structures) {
    SmbiosTable t;
    t.add(0, 0x18).string(4, "Generated Firmware").string(5, "1.0").string(8, "01/01/2026");
    t.add(1, 0x1B).string(4, "Generated Systems").string(5, "Scaling Server").string(6, "1");
    t.add(2, 0x0F).string(4, "Generated Boards").string(5, "Board").string(6, "1.0").string(8, "Tag");
    t.add(3, 0x15).string(4, "Generated Chassis").byte(5, 0x17);
    // One round of the kinds of structure a server describes itself with, taken in turn so
    // that every size has some of each.
    const int end = structures - 1;
    int round = 0;
    auto room = [&] { return static_cast<int>(t.structures.size()) < end; };
    while (room()) {
        std::string n = std::to_string(round);
        std::uint16_t cache = 0xFFFF;
        if (room()) cache = add_cache(t, {.designation = "L2 " + n, .max_size = 1024, .installed_size = 1024, .speed = 2})
                                .handle();
        if (room())
            add_processor(t, {.socket = "CPU" + n, .family = 0xB3, .manufacturer = "Generated", .max_speed = 3000,
                              .current_speed = 2400, .l2 = cache});
        for (int d = 0; d < 2 && room(); ++d) {
            std::string locator = "CPU" + n + " DIMM" + std::to_string(d) + "A";
            std::uint16_t device = add_memory_device(t, {.size = 0x2000, .device_locator = locator,
                                                         .bank_locator = "BANK " + n, .memory_type = 0x1A,
                                                         .speed = 3200, .manufacturer = "Generated"})
                                       .handle();
            if (room()) add_memory_device_mapped_address(t, {.start = 0, .end = 0x7FFFFF, .device = device});
        }
        if (room()) add_port(t, {.external_designator = "USB " + n, .port_type = 0x10});
        if (room()) add_on_board_devices(t, {{0x85, "LAN " + n}, {0x83, "Video " + n}});
        if (room()) add_power_supply(t, {.name = "PSU " + n, .manufacturer = "Generated", .characteristics = 0x11A2});
        if (room()) add_cooling_device(t, {.nominal_speed = 9000});
        if (room()) add_temperature_probe(t, {.description = "Temp " + n, .nominal = 400});
        if (room()) add_voltage_probe(t, {.description = "Volt " + n, .nominal = 1200});
        if (room()) t.add(0xDD, 0x0C).string(4, "OEM data " + n);
        ++round;
    }
    t.end();
    return t;
}

}  // namespace sim
