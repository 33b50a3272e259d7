// Entry points read from bytes, wherever the bytes came from: the BIOS-area scan that
// physical memory and a dump of it share, and the rules for taking an entry point.
#include "SmBios/image.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The 2.x entry point's bytes up to its table's structure count (offset 28, two bytes).
constexpr unsigned int kShortestSmBiosEntry = 30;
// A 3.x entry point gives only the table's maximum size, and the walk ends at the end-of-table
// structure, so firmware may declare far more than it holds. No more than this is read or
// allocated: sixteen times the largest 2.x table, and well past any table seen on a server.
constexpr unsigned int kLargestTable = 0x100000;
// SMBIOS 5.2: the entry point lives on a 16-byte boundary in 0xF0000-0xFFFFF.
constexpr unsigned int kLastAnchor = 0xFFE0;

// An SMBIOS 3 anchor is only taken with a valid checksum: it is preferred to the 2.x one, so
// five stray bytes in the BIOS image must not hide a good 2.x table.
bool IsSmBios3EntryPoint(const unsigned char* bytes, unsigned int length) {
    if (length < sizeof(SmBios3TableEntryPoint) || std::memcmp(bytes, "_SM3_", 5) != 0) return false;
    unsigned int declared = bytes[6];
    if (declared < sizeof(SmBios3TableEntryPoint) || declared > length) return false;
    unsigned char sum = 0;
    for (unsigned int i = 0; i < declared; ++i) sum = static_cast<unsigned char>(sum + bytes[i]);
    return sum == 0;
}

}  // namespace

bool ParseSmBiosEntryPoint(const unsigned char* bytes, unsigned int length, SmBiosEntryPoint& out) {
    out = SmBiosEntryPoint();
    if (!bytes) return false;
    if (IsSmBios3EntryPoint(bytes, length)) {
        out.MatchSMBIOS = out.MatchSMBIOS3 = 1;
        std::memcpy(&out.SmBios3Entry, bytes, sizeof out.SmBios3Entry);
        out.tableAddress = out.SmBios3Entry.StructureTableAddress;
        const unsigned int maximum = out.SmBios3Entry.StructureTableMaximumSize;
        out.tableLength = maximum < kLargestTable ? maximum : kLargestTable;
        return true;
    }
    // Neither checksums nor lengths of the older entry points are examined: tables that
    // get them wrong have always been read.
    // SMBIOS 2.1 itself gave the entry point a length of 30 (0x1E) where it is 31, so
    // firmware of that time writes 30, and the kernel's sysfs copy then holds only 30
    // bytes. Nothing past byte 29 is read; the BCD revision stays 0.
    if (length >= kShortestSmBiosEntry && std::memcmp(bytes, "_SM_", 4) == 0) {
        out.MatchSMBIOS = 1;
        std::memcpy(&out.SmBiosEntry, bytes, length < sizeof out.SmBiosEntry ? length : sizeof out.SmBiosEntry);
        out.tableAddress = out.SmBiosEntry.StructureTableAddress;
        out.tableLength = out.SmBiosEntry.StructureTableLength;
        return true;
    }
    if (length >= sizeof out.DmiEntry && std::memcmp(bytes, "_DMI", 4) == 0) {
        out.MatchDMI = 1;
        std::memcpy(&out.DmiEntry, bytes, sizeof out.DmiEntry);
        out.tableAddress = out.DmiEntry.biosStructureTableAddress;
        out.tableLength = out.DmiEntry.StructureTableLength;
        return true;
    }
    return false;
}

void SmBiosImage::HoldEntryPoint(const unsigned char* bytes, unsigned int length) {
    entryPointLength = length < kEntryPointMost ? length : kEntryPointMost;
    std::memcpy(entryPoint, bytes, entryPointLength);
}

bool SmBiosImage::AllocateTable(unsigned int length) {
    table.reset();
    tableLength = 0;
    // The reader adds two closing zeros to what it takes.
    if (length > 0xFFFFFFFFu - 2u) return false;
    table.reset(new (std::nothrow) char[length ? length : 1]);
    if (!table) return false;
    tableLength = length;
    return true;
}

bool SmBiosImage::TakeTable(const unsigned char* memory, std::size_t size, unsigned long long base) {
    SmBiosEntryPoint entry;
    if (!ParseSmBiosEntryPoint(entryPoint, entryPointLength, entry) || !AllocateTable(entry.tableLength))
        return false;
    std::memset(table.get(), 0, tableLength);
    // Checked in this order, nothing overflows: the table starts below base + size.
    if (entry.tableAddress < base + size && entry.tableAddress + tableLength > base) {
        const unsigned long long from = std::max(entry.tableAddress, base);
        const unsigned long long to = std::min<unsigned long long>(entry.tableAddress + tableLength, base + size);
        std::memcpy(table.get() + (from - entry.tableAddress), memory + (from - base),
                    static_cast<std::size_t>(to - from));
    }
    return true;
}

bool SmBiosImageFromDump(const unsigned char* bytes, std::size_t size, SmBiosImage& image) {
    SmBiosEntryPoint entry;
    const unsigned int held = static_cast<unsigned int>(std::min<std::size_t>(size, SmBiosImage::kEntryPointMost));
    if (!ParseSmBiosEntryPoint(bytes, held, entry) || entry.tableAddress > size) return false;
    image.HoldEntryPoint(bytes, held);
    return image.TakeTable(bytes, size, 0);
}

bool FindBiosAreaEntryPoint(const unsigned char* area, SmBiosImage& image) {
    // The 3.x entry point first, as the kernel takes it, so that sysfs and memory give the
    // same table; then the 2.x one; the legacy one only when neither is there. One pass
    // notes the first of each; every anchor begins with an underscore.
    const unsigned char* first[3] = {};
    for (unsigned int at = 0; at <= kLastAnchor; at += 16) {
        const unsigned char* p = area + at;
        if (*p != '_') continue;
        if (!first[0] && IsSmBios3EntryPoint(p, kBiosAreaHeld - at)) first[0] = p;
        else if (!first[1] && std::memcmp(p, "_SM_", 4) == 0) first[1] = p;
        else if (!first[2] && std::memcmp(p, "_DMI", 4) == 0) first[2] = p;
    }
    const unsigned char* found = first[0] ? first[0] : first[1] ? first[1] : first[2];
    if (!found) return false;
    image.HoldEntryPoint(found, kBiosAreaHeld - static_cast<unsigned int>(found - area));
    return true;
}
