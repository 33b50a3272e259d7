// The sample server's SMBIOS table (2.7): BIOS, system, board, chassis.
#include "sim/Smbios.h"
#include "sim/loader.h"
#include "sim/machines/sample-server/parts.h"

namespace sample_server {

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

    // Type 32, system boot information.
    t.add(32, 0x0B);

    t.end();
    return t;
}

bool write_smbios(const std::string& dir) { return sim::write_file(dir + "/smbios.bin", sim::dump_bin(smbios_table())); }

}  // namespace sample_server
