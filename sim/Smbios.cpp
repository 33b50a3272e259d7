#include "sim/Smbios.h"

#include <algorithm>
#include <cstring>

#include "sim/Machine.h"

namespace sim {

namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint64_t get64(const std::vector<std::uint8_t>& b, std::size_t at) {
    return get32(b, at) | static_cast<std::uint64_t>(get32(b, at + 4)) << 32;
}

// Where each kind of entry point keeps its table's length and address: 16 and 32 bits, or
// 32 and 64 bits (`wide`) for SMBIOS 3.
struct Layout {
    std::size_t size, length_at, address_at;
    bool wide;
};

bool layout_of(const std::vector<std::uint8_t>& e, Layout& layout) {
    if (e.size() >= 31 && std::memcmp(e.data(), "_SM_", 4) == 0)
        layout = {31, 22, 24, false};
    else if (e.size() >= 15 && std::memcmp(e.data(), "_DMI_", 5) == 0)
        layout = {15, 6, 8, false};
    else if (e.size() >= 24 && std::memcmp(e.data(), "_SM3_", 5) == 0)
        layout = {24, 12, 16, true};
    else
        return false;
    return true;
}

// Sets b[at] so that bytes [from, from + n) sum to zero.
void fix_checksum(std::vector<std::uint8_t>& b, std::size_t from, std::size_t n, std::size_t at) {
    b[at] = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = from; i < from + n; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
    b[at] = static_cast<std::uint8_t>(-sum);
}

void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    put32(b, at, static_cast<std::uint32_t>(v));
    put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// SMBIOS 2.x entry point (31 bytes): checksum over all of it at 4, and the intermediate
// `_DMI_` part from offset 16 with its own checksum at 21. SMBIOS 3 (24 bytes): checksum at
// 5 over the length at 6. Legacy DMI (15 bytes): checksum at 5.
void fix_checksums(std::vector<std::uint8_t>& e) {
    if (e.size() >= 24 && std::memcmp(e.data(), "_SM3_", 5) == 0) {
        fix_checksum(e, 0, std::min<std::size_t>(e[6], e.size()), 5);
    } else if (e.size() >= 31 && std::memcmp(e.data(), "_SM_", 4) == 0) {
        fix_checksum(e, 16, 15, 21);
        fix_checksum(e, 0, 31, 4);
    } else if (e.size() >= 15) {
        fix_checksum(e, 0, 15, 5);
    }
}

}  // namespace

// --- structures --------------------------------------------------------------------------

Structure::Structure(std::uint8_t type, std::uint8_t length, std::uint16_t handle)
    : formatted(std::max<std::uint8_t>(length, 4), 0) {
    formatted[0] = type;
    formatted[1] = length;
    formatted[2] = static_cast<std::uint8_t>(handle);
    formatted[3] = static_cast<std::uint8_t>(handle >> 8);
}

Structure& Structure::byte(std::size_t offset, std::uint8_t value) {
    if (offset + 1 > formatted.size()) formatted.resize(offset + 1, 0);
    formatted[offset] = value;
    return *this;
}

Structure& Structure::word(std::size_t offset, std::uint16_t value) {
    byte(offset, static_cast<std::uint8_t>(value));
    return byte(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

Structure& Structure::dword(std::size_t offset, std::uint32_t value) {
    word(offset, static_cast<std::uint16_t>(value));
    return word(offset + 2, static_cast<std::uint16_t>(value >> 16));
}

Structure& Structure::qword(std::size_t offset, std::uint64_t value) {
    dword(offset, static_cast<std::uint32_t>(value));
    return dword(offset + 4, static_cast<std::uint32_t>(value >> 32));
}

int Structure::add_string(const std::string& text) {
    strings.push_back(text);
    return static_cast<int>(strings.size());
}

Structure& Structure::string(std::size_t offset, const std::string& text) {
    return byte(offset, static_cast<std::uint8_t>(add_string(text)));
}

std::vector<std::uint8_t> Structure::bytes() const {
    std::vector<std::uint8_t> out(formatted);
    // The length byte says how much of the formatted area the firmware claims; a test that
    // writes past it (or sets it short on purpose) gets exactly what it built.
    out.resize(std::max<std::size_t>(formatted.size(), formatted[1]), 0);
    for (const auto& s : strings) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    if (strings.empty()) out.push_back(0);
    out.push_back(0);
    return out;
}

// --- tables ------------------------------------------------------------------------------

Structure& SmbiosTable::add(std::uint8_t type, std::uint8_t length) { return add(type, length, next_handle_); }

Structure& SmbiosTable::add(std::uint8_t type, std::uint8_t length, std::uint16_t handle) {
    next_handle_ = std::max<std::uint16_t>(next_handle_, static_cast<std::uint16_t>(handle + 1));
    structures.emplace_back(type, length, handle);
    return structures.back();
}

Structure& SmbiosTable::end() { return add(127, 4); }

std::vector<std::uint8_t> SmbiosTable::bytes() const {
    std::vector<std::uint8_t> out;
    for (const auto& s : structures) {
        auto b = s.bytes();
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::uint16_t SmbiosTable::max_structure_size() const {
    std::size_t m = 0;
    for (const auto& s : structures) m = std::max(m, s.bytes().size());
    return static_cast<std::uint16_t>(m);
}

// --- entry points ------------------------------------------------------------------------

std::vector<std::uint8_t> entry_point_bytes(const EntryPoint& entry, std::uint32_t table_length,
                                            std::uint16_t structure_count, std::uint16_t max_structure_size) {
    std::uint32_t length = entry.length_override >= 0 ? static_cast<std::uint32_t>(entry.length_override) : table_length;
    std::uint16_t count = entry.count_override >= 0 ? static_cast<std::uint16_t>(entry.count_override) : structure_count;
    std::uint8_t bcd = static_cast<std::uint8_t>((entry.major & 0x0F) << 4 | (entry.minor & 0x0F));
    if (entry.kind == EntryPoint::SMBIOS3) {
        std::vector<std::uint8_t> e(24, 0);
        std::memcpy(e.data(), "_SM3_", 5);
        e[6] = 24;
        e[7] = entry.major;
        e[8] = entry.minor;
        e[10] = 1;  // entry point revision: SMBIOS 3.0
        put32(e, 12, length);
        put64(e, 16, entry.table_address);
        fix_checksums(e);
        return e;
    }
    if (entry.kind == EntryPoint::DMI) {
        std::vector<std::uint8_t> e(15, 0);
        std::memcpy(e.data(), "_DMI_", 5);
        put16(e, 6, static_cast<std::uint16_t>(length));
        put32(e, 8, static_cast<std::uint32_t>(entry.table_address));
        put16(e, 12, count);
        e[14] = bcd;
        fix_checksums(e);
        return e;
    }
    std::vector<std::uint8_t> e(31, 0);
    std::memcpy(e.data(), "_SM_", 4);
    e[5] = 0x1F;
    e[6] = entry.major;
    e[7] = entry.minor;
    put16(e, 8, max_structure_size);
    std::memcpy(e.data() + 16, "_DMI_", 5);
    put16(e, 22, static_cast<std::uint16_t>(length));
    put32(e, 24, static_cast<std::uint32_t>(entry.table_address));
    put16(e, 28, count);
    e[30] = bcd;
    fix_checksums(e);
    return e;
}

const char* const kSysfsEntryPoint = "/sys/firmware/dmi/tables/smbios_entry_point";
const char* const kSysfsTable = "/sys/firmware/dmi/tables/DMI";

namespace {

// One table in both places a kernel of today offers it.
void publish(Machine& machine, const std::vector<std::uint8_t>& entry, std::uint32_t address,
             std::uint64_t table_address, const std::uint8_t* table, std::size_t length) {
    machine.memory.write(address, entry.data(), entry.size());
    machine.memory.write(table_address, table, length);
    if (machine.kernel != Kernel::Current) return;
    machine.files.add(kSysfsEntryPoint, std::string(entry.begin(), entry.end()));
    machine.files.add(kSysfsTable, std::string(table, table + length));
}

}  // namespace

void place_smbios(Machine& machine, const std::vector<std::uint8_t>& table, const EntryPoint& entry,
                  std::uint16_t structure_count, std::uint16_t max_structure_size) {
    auto e = entry_point_bytes(entry, static_cast<std::uint32_t>(table.size()), structure_count, max_structure_size);
    publish(machine, e, entry.address, entry.table_address, table.data(), table.size());
}

void place_smbios(Machine& machine, const SmbiosTable& table, const EntryPoint& entry) {
    place_smbios(machine, table.bytes(), entry, table.count(), table.max_structure_size());
}

// --- dump files --------------------------------------------------------------------------

std::vector<std::uint8_t> dump_bin(const SmbiosTable& table, EntryPoint entry) {
    auto bytes = table.bytes();
    entry.table_address = 0x20;
    std::vector<std::uint8_t> out = entry_point_bytes(entry, static_cast<std::uint32_t>(bytes.size()),
                                                      table.count(), table.max_structure_size());
    out.resize(0x20, 0);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

bool place_dump(Machine& machine, const std::vector<std::uint8_t>& dump, std::string& error,
                const EntryPoint& where) {
    Layout layout;
    if (!layout_of(dump, layout)) {
        error = "no _SM_, _DMI_ or _SM3_ entry point at offset 0";
        return false;
    }
    std::vector<std::uint8_t> entry(dump.begin(), dump.begin() + static_cast<long>(layout.size));
    std::uint64_t table_offset = layout.wide ? get64(entry, layout.address_at) : get32(entry, layout.address_at);
    std::uint32_t table_length = layout.wide ? get32(entry, layout.length_at) : get16(entry, layout.length_at);
    if (table_offset > dump.size()) {
        error = "the table address points past the end of the file";
        return false;
    }
    // A dump cut short keeps the bytes it has; the rest of the table reads as zeros.
    std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(table_length, dump.size() - table_offset));
    if (layout.wide)
        put64(entry, layout.address_at, where.table_address);
    else
        put32(entry, layout.address_at, static_cast<std::uint32_t>(where.table_address));
    fix_checksums(entry);
    publish(machine, entry, where.address, where.table_address, dump.data() + table_offset, available);
    return true;
}

}  // namespace sim
