// The current server's SMBIOS table: firmware of today that offers only the 64-bit SMBIOS 3
// entry point. Two sockets of a processor family given through the Processor Family 2 word,
// sixteen 64 GB DDR5 modules (whose size only the Extended Size field can hold), and mapped
// ranges given by 64-bit addresses.
#include <string>

#include "sim/Smbios.h"
#include "sim/SmbiosStructures.h"
#include "sim/loader.h"
#include "sim/machines/current-server/parts.h"

namespace current_server {

namespace {

constexpr std::uint64_t kDimmBytes = 64ULL << 30;

void add_identity(sim::SmbiosTable& t) {
    t.add(0, 0x1A)
        .string(4, "Larkspur Firmware Inc.")
        .string(5, "5.12.0")
        .word(6, 0xF000)
        .string(8, "09/02/2026")
        .byte(9, 0xFF)
        .qword(10, 0x08000000000B9880ULL)  // PCI, upgradeable, selectable boot, UEFI
        .byte(0x12, 0x03).byte(0x13, 0x0D)
        .byte(0x14, 5).byte(0x15, 12)
        .byte(0x16, 0xFF).byte(0x17, 0xFF)
        .word(0x18, 0x0020);  // extended ROM size: 32 MB

    t.add(1, 0x1B)
        .string(4, "Harrowgate Computing")
        .string(5, "HG-R3400 Rack Server")
        .string(6, "Rev A")
        .string(7, "HGR34-2609-0117")
        .qword(8, 0x11E9A0C4D25B7F30ULL).qword(16, 0x6E2F54A8C31B9D07ULL)
        .byte(0x18, 6)
        .string(0x19, "HGR3400-A-2S")
        .string(0x1A, "HG-R3400");

    t.add(2, 0x0F)
        .string(4, "Harrowgate Computing")
        .string(5, "HG-S2E340")
        .string(6, "2.01")
        .string(7, "S2E340-90412")
        .string(8, "Asset-BB-3400-0007")
        .byte(9, 0x09)
        .string(0x0A, "Mainboard")
        .word(0x0B, 3)
        .byte(0x0D, 0x0A)
        .byte(0x0E, 0);

    t.add(3, 0x16, 3)
        .string(4, "Harrowgate Computing")
        .byte(5, 0x17)
        .string(6, "1U")
        .string(7, "CH-34-10077")
        .string(8, "Asset-CH-3400-0007")
        .byte(9, 3).byte(10, 3).byte(11, 3).byte(12, 2)
        .byte(0x11, 1);
}

// Two sockets of 32 cores; the family byte says "see Processor Family 2", as firmware does
// for families the byte cannot hold and, on some boards, for all of them.
void add_processors(sim::SmbiosTable& t) {
    for (int socket = 0; socket < 2; ++socket) {
        auto cache = static_cast<std::uint16_t>(0x0700 + 3 * socket);
        sim::add_cache(t, {.handle = cache, .designation = "L1 - Cache", .configuration = 0x0180,
                           .max_size = 2048, .installed_size = 2048, .speed = 1,
                           .error_correction = 5, .system_type = 5, .associativity = 7});
        sim::add_cache(t, {.handle = cache + 1, .designation = "L2 - Cache", .configuration = 0x0181,
                           .max_size = 0x8100, .installed_size = 0x8100,  // 16 MB in 64 KB units
                           .error_correction = 5, .system_type = 5, .associativity = 7});
        sim::add_cache(t, {.handle = cache + 2, .designation = "L3 - Cache", .configuration = 0x0182,
                           .max_size = 0x8800, .installed_size = 0x8800,  // 128 MB
                           .error_correction = 5, .system_type = 5, .associativity = 8});
        std::string n = std::to_string(socket);
        sim::add_processor(t, {.length = 0x30, .handle = 0x0400 + socket, .socket = "P" + n,
                               .family = 0xFE, .manufacturer = "Advanced Micro Devices, Inc.",
                               .id = 0x178BFBFF00A10F11ULL, .version = "AMD EPYC 9354 32-Core Processor",
                               .voltage = 0x8B, .external_clock = 100, .max_speed = 3800, .current_speed = 3250,
                               .status = 0x41, .upgrade = 0x3F, .l1 = cache,
                               .l2 = static_cast<std::uint16_t>(cache + 1),
                               .l3 = static_cast<std::uint16_t>(cache + 2),
                               .serial = "HG-CPU-" + n + "-9A07", .asset_tag = "P" + n + "-Asset",
                               .part_number = "100-000000798"})
            .byte(0x23, 32).byte(0x24, 32).byte(0x25, 64)  // cores, enabled cores, threads
            .word(0x26, 0x00FC)
            .word(0x28, 0x006B)                             // Processor Family 2: Zen
            .word(0x2A, 32).word(0x2C, 32).word(0x2E, 64);
    }
}

// Eight channels per socket, one 64 GB DDR5 RDIMM each: 1 TB in all, mapped from 0 as one
// array range and one range per module, every range by its 64-bit byte addresses.
void add_memory(sim::SmbiosTable& t) {
    t.add(16, 0x17, 0x1000)
        .byte(4, 0x03).byte(5, 0x03).byte(6, 0x06)
        .dword(7, 0x80000000)   // use the extended maximum capacity
        .word(11, 0xFFFE).word(13, 16)
        .qword(15, 6ULL << 40);  // 6 TB
    const std::uint64_t total = 16 * kDimmBytes;
    t.add(19, 0x1F)
        .dword(4, 0xFFFFFFFF).dword(8, 0xFFFFFFFF)
        .word(12, 0x1000).byte(14, 16)
        .qword(15, 0).qword(23, total - 1);
    std::uint64_t next = 0;
    for (int socket = 0; socket < 2; ++socket) {
        for (int channel = 0; channel < 8; ++channel) {
            std::string letter(1, static_cast<char>('A' + channel));
            std::string locator = "P" + std::to_string(socket) + "-DIMM" + std::to_string(channel) + "A";
            sim::MemoryDevice dimm{.length = 0x54, .array = 0x1000, .total_width = 80, .data_width = 64,
                                   .size = 0x7FFF, .form_factor = 0x09, .device_locator = locator,
                                   .bank_locator = "P" + std::to_string(socket) + "_Node0_Channel" + letter +
                                                   "_Dimm0",
                                   .memory_type = 0x22,  // DDR5
                                   .type_detail = 0x2080, .speed = 4800, .manufacturer = "Kestrel Memory",
                                   .serial = "KM" + std::to_string(58000 + socket * 100 + channel),
                                   .asset_tag = locator + "_AssetTag", .part_number = "KM64G2R5-4800R"};
            sim::Structure& device = sim::add_memory_device(t, dimm);
            device.byte(0x1B, 2)                 // dual rank
                .dword(0x1C, 65536)              // Extended Size: 64 GB in MB
                .word(0x20, 4800)                // configured speed
                .word(0x22, 1100).word(0x24, 1100).word(0x26, 1100)
                .byte(0x28, 3);                  // DRAM
            t.add(20, 0x23)
                .dword(4, 0xFFFFFFFF).dword(8, 0xFFFFFFFF)
                .word(12, device.handle()).word(14, 0xFFFF)
                .byte(16, 1).byte(17, 0xFF).byte(18, 0xFF)
                .qword(0x13, next).qword(0x1B, next + kDimmBytes - 1);
            next += kDimmBytes;
        }
    }
}

void add_ports_and_devices(sim::SmbiosTable& t) {
    struct Port {
        const char* internal;
        const char* external;
        std::uint8_t connector, type;
    };
    const Port ports[] = {
        {"J1", "USB 3.2 Front", 0x12, 0x10},
        {"J2", "VGA", 0x07, 0x1C},
        {"J3", "BMC LAN", 0x0B, 0x1F},
        {"J4", "Serial", 0x08, 0x09},
        {"SATA0", nullptr, 0x22, 0x20},  // internal SATA
        {"SAS0", nullptr, 0x22, 0x21},   // internal SAS
    };
    for (const Port& p : ports)
        sim::add_port(t, {.internal_designator = p.internal,
                          .internal_connector = p.external ? std::uint8_t(0) : p.connector,
                          .external_designator = p.external ? p.external : "",
                          .external_connector = p.external ? p.connector : std::uint8_t(0), .port_type = p.type});

    sim::add_on_board_devices(t, {{0x83, "Onboard VGA"}, {0x85, "Onboard LAN"}, {0x89, "Onboard SATA"},
                                  {0x8F, "Onboard NVMe 0"}, {0x0F, "Onboard NVMe 1"}});
}

void add_power_and_cooling(sim::SmbiosTable& t) {
    for (int n = 1; n <= 2; ++n) {
        std::string i = std::to_string(n);
        sim::add_power_supply(t, {.group = 1, .location = "PSU" + i, .name = "HG-PSU-1600T",
                                  .manufacturer = "Harrowgate Power", .serial = "PS16-0044" + i,
                                  .asset_tag = "PSU" + i + "-Asset", .model_part_number = "HGP-1600-T",
                                  .revision = "B1", .max_capacity = 1600, .characteristics = 0x11A2});
    }
    for (int n = 1; n <= 6; ++n)
        sim::add_cooling_device(t, {.length = 0x0F, .type_and_status = 0x63, .group = 1,
                                    .nominal_speed = static_cast<std::uint16_t>(12000 + 500 * n),
                                    .description = "Fan " + std::to_string(n)});
    sim::add_temperature_probe(t, {.description = "CPU0 Temp", .location_and_status = 0x63, .maximum = 1000,
                                   .minimum = 0, .nominal = 512});
    sim::add_voltage_probe(t, {.description = "CPU0 VDD", .location_and_status = 0x63, .maximum = 1300,
                               .minimum = 700, .nominal = 1100});
}

sim::SmbiosTable smbios_table() {
    sim::SmbiosTable t;
    add_identity(t);
    add_processors(t);
    add_memory(t);
    add_ports_and_devices(t);
    add_power_and_cooling(t);
    t.add(32, 0x0B);
    t.end();
    return t;
}

}  // namespace

// SMBIOS 3.5, behind a 64-bit entry point only.
bool write_smbios(const std::string& dir) {
    sim::EntryPoint entry;
    entry.kind = sim::EntryPoint::SMBIOS3;
    entry.major = 3;
    entry.minor = 5;
    return sim::write_file(dir + "/smbios.bin", sim::dump_bin(smbios_table(), entry));
}

}  // namespace current_server
