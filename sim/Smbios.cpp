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

// Sets b[at] so that bytes [from, from + n) sum to zero.
void fix_checksum(std::vector<std::uint8_t>& b, std::size_t from, std::size_t n, std::size_t at) {
    b[at] = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = from; i < from + n; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
    b[at] = static_cast<std::uint8_t>(-sum);
}

// SMBIOS 2.x entry point (31 bytes): checksum over all of it at 4, and the intermediate
// `_DMI_` part from offset 16 with its own checksum at 21. Legacy DMI (15 bytes): checksum at 5.
void fix_checksums(std::vector<std::uint8_t>& e) {
    if (e.size() >= 31 && std::memcmp(e.data(), "_SM_", 4) == 0) {
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

std::vector<std::uint8_t> entry_point_bytes(const EntryPoint& entry, std::uint16_t table_length,
                                            std::uint16_t structure_count, std::uint16_t max_structure_size) {
    std::uint16_t length = entry.length_override >= 0 ? static_cast<std::uint16_t>(entry.length_override) : table_length;
    std::uint16_t count = entry.count_override >= 0 ? static_cast<std::uint16_t>(entry.count_override) : structure_count;
    std::uint8_t bcd = static_cast<std::uint8_t>((entry.major & 0x0F) << 4 | (entry.minor & 0x0F));
    if (entry.kind == EntryPoint::DMI) {
        std::vector<std::uint8_t> e(15, 0);
        std::memcpy(e.data(), "_DMI_", 5);
        put16(e, 6, length);
        put32(e, 8, entry.table_address);
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
    put16(e, 22, length);
    put32(e, 24, entry.table_address);
    put16(e, 28, count);
    e[30] = bcd;
    fix_checksums(e);
    return e;
}

void place_smbios(Machine& machine, const std::vector<std::uint8_t>& table, const EntryPoint& entry,
                  std::uint16_t structure_count, std::uint16_t max_structure_size) {
    auto e = entry_point_bytes(entry, static_cast<std::uint16_t>(table.size()), structure_count, max_structure_size);
    machine.memory.write(entry.address, e.data(), e.size());
    machine.memory.write(entry.table_address, table.data(), table.size());
}

void place_smbios(Machine& machine, const SmbiosTable& table, const EntryPoint& entry) {
    place_smbios(machine, table.bytes(), entry, table.count(), table.max_structure_size());
}

// --- dump files --------------------------------------------------------------------------

std::vector<std::uint8_t> dump_bin(const SmbiosTable& table, EntryPoint entry) {
    auto bytes = table.bytes();
    entry.table_address = 0x20;
    std::vector<std::uint8_t> out = entry_point_bytes(entry, static_cast<std::uint16_t>(bytes.size()),
                                                      table.count(), table.max_structure_size());
    out.resize(0x20, 0);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

bool place_dump(Machine& machine, const std::vector<std::uint8_t>& dump, std::string& error,
                const EntryPoint& where) {
    std::size_t entry_length, length_at, address_at;
    if (dump.size() >= 31 && std::memcmp(dump.data(), "_SM_", 4) == 0) {
        entry_length = 31, length_at = 22, address_at = 24;
    } else if (dump.size() >= 15 && std::memcmp(dump.data(), "_DMI_", 5) == 0) {
        entry_length = 15, length_at = 6, address_at = 8;
    } else if (dump.size() >= 24 && std::memcmp(dump.data(), "_SM3_", 5) == 0) {
        // A 64-bit entry point: placed as found. The library looks for 2.x and DMI anchors
        // only, so such a machine reads as one without SMBIOS, as it would on real hardware.
        std::vector<std::uint8_t> entry(dump.begin(), dump.begin() + 24);
        machine.memory.write(where.address, entry.data(), entry.size());
        return true;
    } else {
        error = "no _SM_, _DMI_ or _SM3_ entry point at offset 0";
        return false;
    }
    std::vector<std::uint8_t> entry(dump.begin(), dump.begin() + static_cast<long>(entry_length));
    std::uint32_t table_offset = get32(entry, address_at);
    std::uint16_t table_length = get16(entry, length_at);
    if (table_offset > dump.size()) {
        error = "the table address points past the end of the file";
        return false;
    }
    // A dump cut short keeps the bytes it has; the rest of the table reads as zeros.
    std::size_t available = std::min<std::size_t>(table_length, dump.size() - table_offset);
    put32(entry, address_at, where.table_address);
    fix_checksums(entry);
    machine.memory.write(where.address, entry.data(), entry.size());
    machine.memory.write(where.table_address, dump.data() + table_offset, available);
    return true;
}

}  // namespace sim
