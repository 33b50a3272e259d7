// The sample server's SMBIOS table (2.7): BIOS, system, board, chassis, two processors with
// their caches, twelve memory slots (eight populated), ports, on-board devices, two
// redundant power supplies, fans and probes.
#include <string>

#include "sim/Smbios.h"
#include "sim/SmbiosStructures.h"
#include "sim/loader.h"
#include "sim/machines/sample-server/parts.h"

namespace sample_server {

// Two sockets, four cores each, with private L1/L2 and a shared L3 per socket.
static void add_processors(sim::SmbiosTable& t) {
    for (int socket = 0; socket < 2; ++socket) {
        auto cache = static_cast<std::uint16_t>(0x0700 + 3 * socket);
        sim::add_cache(t, {.handle = cache, .designation = "L1-Cache", .configuration = 0x0180,
                           .max_size = 256, .installed_size = 256, .speed = 1,
                           .error_correction = 4, .system_type = 5, .associativity = 7});
        sim::add_cache(t, {.handle = cache + 1, .designation = "L2-Cache", .configuration = 0x0181,
                           .max_size = 4096, .installed_size = 4096, .speed = 3,
                           .error_correction = 5, .system_type = 5, .associativity = 8});
        // 8.25 MB counted in 64 KB units (bit 15).
        sim::add_cache(t, {.handle = cache + 2, .designation = "L3-Cache", .configuration = 0x0182,
                           .max_size = 0x8084, .installed_size = 0x8084, .speed = 0,
                           .error_correction = 5, .system_type = 5, .associativity = 0x01});
        std::string n = std::to_string(socket);
        sim::add_processor(t, {.length = 0x2A, .handle = 0x0400 + socket, .socket = "CPU" + n,
                               .family = 0xB3, .manufacturer = "Intel", .id = 0xBFEBFBFF00050654ULL,
                               .version = "Intel(R) Xeon(R) Silver 4112 CPU @ 2.60GHz", .voltage = 0x8C,
                               .external_clock = 100, .max_speed = 3000, .current_speed = 2600,
                               .status = 0x41, .upgrade = 0x36, .l1 = cache,
                               .l2 = static_cast<std::uint16_t>(cache + 1),
                               .l3 = static_cast<std::uint16_t>(cache + 2),
                               .serial = "HG-CPU-" + n + "-55A1", .asset_tag = "CPU" + n + "-Asset",
                               .part_number = "SR3GN"})
            .byte(35, 4).byte(36, 4).byte(37, 4)  // cores, enabled cores, threads
            .word(38, 0x00EC);                     // 64-bit capable, multi-core, ...
    }
}

// Twelve slots, six per socket, P<socket>-DIMM<channel><A|B>; the A slots hold 16 GB
// registered modules, 128 GB in all (more megabytes than 16 bits can count).
static void add_memory(sim::SmbiosTable& t) {
    t.add(16, 0x17, 0x1000)  // the physical memory array: system memory, multi-bit ECC
        .byte(4, 0x03).byte(5, 0x03).byte(6, 0x06)
        .dword(7, 0x40000000)  // 1 TB, in KB
        .word(11, 0xFFFE).word(13, 12);
    std::uint32_t next_kb = 0;
    for (int socket = 0; socket < 2; ++socket) {
        for (int channel = 0; channel < 3; ++channel) {
            for (char position : {'A', 'B'}) {
                bool populated = position == 'A' || channel == 0;
                std::string where = std::to_string(socket) + "_Channel" + std::to_string(channel);
                std::string locator = "P" + std::to_string(socket) + "-DIMM" + std::to_string(channel) + position;
                sim::MemoryDevice dimm{.length = 0x22, .array = 0x1000,
                                           .device_locator = locator,
                                           .bank_locator = "P" + where + "_Dimm" + (position == 'A' ? "0" : "1")};
                if (populated) {
                    dimm.size = 0x4000;  // 16384 MB
                    dimm.memory_type = 0x1A;  // DDR4
                    dimm.type_detail = 0x2080;  // synchronous, registered
                    dimm.speed = 2400;
                    dimm.manufacturer = "Kestrel Memory";
                    dimm.serial = "KM" + std::to_string(4100 + socket * 10 + channel) + position;
                    dimm.asset_tag = locator + "_AssetTag";
                    dimm.part_number = "KM16G2R4-2400R";
                }
                sim::Structure& device = sim::add_memory_device(t, dimm);
                if (!populated) continue;
                device.byte(27, 2).word(32, 2400);  // dual rank, configured speed
                sim::add_memory_device_mapped_address(
                    t, {.start = next_kb, .end = next_kb + 16u * 1024 * 1024 - 1, .device = device.handle(),
                        .partition_row = 1});
                next_kb += 16u * 1024 * 1024;
            }
        }
    }
}

static void add_ports(sim::SmbiosTable& t) {
    struct Port {
        const char* internal;
        const char* external;
        std::uint8_t connector, type;
    };
    const Port ports[] = {
        {"J1A1", "COM1", 0x08, 0x09},     // DB-9 male, 16550A
        {"J2A1", "VGA", 0x07, 0x1C},      // DB-15 female, video
        {"J3A1", "USB0", 0x12, 0x10},     // USB
        {"J3A2", "USB1", 0x12, 0x10},
        {"J4A1", "NIC1", 0x0B, 0x1F},     // RJ-45, network
        {"J4A2", "NIC2", 0x0B, 0x1F},
        {"J5A1", "Dedicated management Ethernet (BMC)", 0x0B, 0x1F},
        {"J9B1 - FRONT USB", nullptr, 0xFF, 0x10},
        {"J8C2 - TPM", nullptr, 0xFF, 0xFF},
    };
    for (const Port& p : ports)
        sim::add_port(t, {.internal_designator = p.internal, .internal_connector = p.external ? std::uint8_t(0) : p.connector,
                          .external_designator = p.external ? p.external : "",
                          .external_connector = p.external ? p.connector : std::uint8_t(0), .port_type = p.type});
}

static void add_devices_and_power(sim::SmbiosTable& t) {
    sim::add_on_board_devices(t, {{0x83, "Onboard VGA"}, {0x85, "Onboard LAN 1"}, {0x85, "Onboard LAN 2"}});
    sim::add_on_board_devices(t, {{0x89, "Onboard SATA"}});

    // Two redundant switching supplies: OK, auto-switching input, present; PSU1 is hot
    // replaceable.
    for (int n = 1; n <= 2; ++n) {
        std::string i = std::to_string(n);
        sim::add_power_supply(t, {.handle = 0x2700 + n, .group = 1, .location = "PSU" + i, .name = "HG-PSU-800",
                                  .manufacturer = "Harrowgate Power", .serial = "PS8-00120" + i,
                                  .asset_tag = "PSU" + i + "-Asset", .model_part_number = "HGP-800-2R",
                                  .revision = "A3", .max_capacity = 800,
                                  .characteristics = static_cast<std::uint16_t>(n == 1 ? 0x11A3 : 0x11A2)});
    }
}

static void add_cooling_and_probes(sim::SmbiosTable& t) {
    sim::add_voltage_probe(t, {.handle = 0x1A00, .description = "CPU0 Vcore", .location_and_status = 0x63,
                               .maximum = 1800, .minimum = 600, .resolution = 10, .tolerance = 25, .accuracy = 100,
                               .nominal = 1050});
    sim::add_voltage_probe(t, {.handle = 0x1A01, .description = "CPU1 Vcore", .location_and_status = 0x63,
                               .maximum = 1800, .minimum = 600, .nominal = 1050});
    sim::add_voltage_probe(t, {.handle = 0x1A02, .description = "P12V", .location_and_status = 0x67,
                               .maximum = 13200, .minimum = 10800, .nominal = 12000});
    sim::add_temperature_probe(t, {.handle = 0x1C00, .description = "CPU0 Temp", .location_and_status = 0x63,
                                   .maximum = 950, .minimum = 0, .nominal = 455});
    sim::add_temperature_probe(t, {.handle = 0x1C01, .description = "CPU1 Temp", .location_and_status = 0x63,
                                   .maximum = 950, .minimum = 0, .nominal = 471});
    sim::add_temperature_probe(t, {.handle = 0x1C02, .description = "System Temp", .location_and_status = 0x67,
                                   .maximum = 700, .minimum = 0, .nominal = 280});
    for (int n = 1; n <= 4; ++n)
        sim::add_cooling_device(t, {.length = 0x0F, .temperature_probe = 0x1C02, .type_and_status = 0x63,
                                    .group = 1, .nominal_speed = static_cast<std::uint16_t>(8000 + 200 * n),
                                    .description = "System Fan " + std::to_string(n)});
    // The supplies' own fans report no speed.
    sim::add_cooling_device(t, {.length = 0x0F, .type_and_status = 0x67, .group = 2, .description = "PSU1 Fan"});
}

// SMBIOS 2.7 table.
static sim::SmbiosTable smbios_table() {
    sim::SmbiosTable t;

    // Type 0, BIOS.
    t.add(0, 0x18)
        .string(4, "Larkspur Firmware Inc.")
        .string(5, "2.4.1")
        .word(6, 0xF000)
        .string(8, "03/14/2025")
        .byte(9, 0xFF)               // 16 MB ROM
        .qword(10, 0x000000017C09A880ULL)
        .byte(0x12, 0x03).byte(0x13, 0x0D)
        .byte(0x14, 2).byte(0x15, 4)
        .byte(0x16, 0xFF).byte(0x17, 0xFF);

    // Type 1, system.
    t.add(1, 0x1B)
        .string(4, "Harrowgate Computing")
        .string(5, "HG-R2200 Rack Server")
        .string(6, "Rev B")
        .string(7, "HGR22-0419-7731")
        .qword(8, 0x4C3E8A11D2F0B954ULL).qword(16, 0x9A0C7E21B6D4F318ULL)
        .byte(0x18, 6)               // woken by the power switch
        .string(0x19, "HGR2200-B-2S")
        .string(0x1A, "HG-R2200");

    // Type 2, base board.
    t.add(2, 0x0F)
        .string(4, "Harrowgate Computing")
        .string(5, "HG-S2D220")
        .string(6, "1.03")
        .string(7, "S2D220-38811")
        .string(8, "Asset-BB-0042")
        .byte(9, 0x09)               // hosting board, replaceable
        .string(0x0A, "Mainboard")
        .word(0x0B, 3)
        .byte(0x0D, 0x0A)            // motherboard
        .byte(0x0E, 0);

    // Type 3, chassis (handle 3).
    t.add(3, 0x15)
        .string(4, "Harrowgate Computing")
        .byte(5, 0x17)               // rack mount chassis
        .string(6, "2U")
        .string(7, "CH-22-55190")
        .string(8, "Asset-CH-0042")
        .byte(9, 3).byte(10, 3).byte(11, 3).byte(12, 2)
        .byte(0x11, 2);              // 2U

    add_processors(t);
    add_memory(t);
    add_ports(t);
    add_devices_and_power(t);
    add_cooling_and_probes(t);

    // Type 32, system boot information.
    t.add(32, 0x0B);

    t.end();
    return t;
}

bool write_smbios(const std::string& dir) { return sim::write_file(dir + "/smbios.bin", sim::dump_bin(smbios_table())); }

}  // namespace sample_server
