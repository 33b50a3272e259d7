// Building SMBIOS structure tables, placing them in simulated physical memory behind an
// entry point, and reading and writing the `dmidecode --dump-bin` file format.
#ifndef QARVEL_SIM_SMBIOS_H
#define QARVEL_SIM_SMBIOS_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {

class Machine;

// One structure: the formatted area (header included) and its string set.
class Structure {
public:
    Structure(std::uint8_t type, std::uint8_t length, std::uint16_t handle);

    Structure& byte(std::size_t offset, std::uint8_t value);
    Structure& word(std::size_t offset, std::uint16_t value);
    Structure& dword(std::size_t offset, std::uint32_t value);
    Structure& qword(std::size_t offset, std::uint64_t value);
    // Appends `text` to the string set and stores its string number at `offset`.
    Structure& string(std::size_t offset, const std::string& text);
    // Appends a string that no field refers to; returns its number.
    int add_string(const std::string& text);

    std::uint8_t type() const { return formatted[0]; }
    std::uint16_t handle() const { return static_cast<std::uint16_t>(formatted[2] | formatted[3] << 8); }
    // Formatted area, then each string with its NUL, then the closing NUL (two NULs when
    // there is no string).
    std::vector<std::uint8_t> bytes() const;

    std::vector<std::uint8_t> formatted;
    std::vector<std::string> strings;
};

class SmbiosTable {
public:
    // Adds a structure with the next free handle (or the given one).
    Structure& add(std::uint8_t type, std::uint8_t length);
    Structure& add(std::uint8_t type, std::uint8_t length, std::uint16_t handle);
    // Adds the end-of-table structure (type 127).
    Structure& end();

    std::vector<std::uint8_t> bytes() const;
    std::uint16_t count() const { return static_cast<std::uint16_t>(structures.size()); }
    std::uint16_t max_structure_size() const;

    std::deque<Structure> structures;

private:
    std::uint16_t next_handle_ = 0;
};

// Where and how a table is published.
struct EntryPoint {
    // A 31-byte `_SM_` entry point, a 15-byte legacy `_DMI_` one, or a 24-byte 64-bit `_SM3_`
    // one (no structure count; its length field is the table's maximum size).
    enum Kind { SMBIOS, DMI, SMBIOS3 };
    Kind kind = SMBIOS;
    std::uint8_t major = 2, minor = 7;
    std::uint32_t address = 0xF0800;        // must be in 0xF0000-0xFFFFF to be found
    std::uint64_t table_address = 0xE0010;  // 32 bits but for SMBIOS3
    // When set, published instead of the table's real length or structure count.
    int length_override = -1;
    int count_override = -1;
};

// The entry point bytes (checksums filled in) for a table of the given length and count.
std::vector<std::uint8_t> entry_point_bytes(const EntryPoint& entry, std::uint32_t table_length,
                                            std::uint16_t structure_count, std::uint16_t max_structure_size);

// Where a kernel of today publishes its copy of the entry point and of the table.
extern const char* const kSysfsEntryPoint;  // /sys/firmware/dmi/tables/smbios_entry_point
extern const char* const kSysfsTable;       // /sys/firmware/dmi/tables/DMI

// Writes the entry point at entry.address and the table bytes at entry.table_address. On a
// machine with a current kernel (Machine::kernel, set before) the same bytes are also served
// as the two sysfs files, the entry point as the firmware wrote it; classic kernels had none.
void place_smbios(Machine& machine, const std::vector<std::uint8_t>& table, const EntryPoint& entry,
                  std::uint16_t structure_count, std::uint16_t max_structure_size = 0);
void place_smbios(Machine& machine, const SmbiosTable& table, const EntryPoint& entry = {});

// The `dmidecode --dump-bin` format: the entry point at offset 0 with its table address
// rewritten to 0x20, and the structure table from offset 0x20.
std::vector<std::uint8_t> dump_bin(const SmbiosTable& table, EntryPoint entry = {});
// Places a dump in memory: the entry point at `entry.address`, the table at
// `entry.table_address` (the entry point's address field and checksums are rewritten), and
// in sysfs as place_smbios does. `_SM_`, `_DMI_` and `_SM3_` dumps. False with `error` set
// when the dump is not one.
bool place_dump(Machine& machine, const std::vector<std::uint8_t>& dump, std::string& error,
                const EntryPoint& where = {});

}  // namespace sim

#endif
