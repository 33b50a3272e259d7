// The structure table once it is held: the index built in one walk, and the lookups on it.
#include "SmBios/SmBios.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

char* itoa(int number, char* result, int /*radix*/) {
    std::sprintf(result, "%d", number);
    return result;
}

namespace {

SmBiosImage ProbedImage() {
    SmBiosImage image;
    ProbeSmBios(image);
    return image;
}

}  // namespace

SmBios::SmBios() : SmBios(ProbedImage()) {}

SmBios::SmBios(const SmBiosImage& image)
    : InitOK(0), BiosData(nullptr), BiosDataLength(0), MatchSMBIOS(0), MatchDMI(0), SmBiosEntry(), DmiEntry(),
      temperature(TnV_OTHER), ps(PS_OTHER), type(TYPE_BIOS_INFO), MatchSMBIOS3(0), SmBios3Entry(), Visits(0),
      Entries(nullptr), StructureCount(0), ByType(nullptr), TypeFirst(), ByHandle(nullptr) {
    if (AdoptEntryPoint(image.entryPoint, image.entryPointLength) && AllocateTable(image.tableLength)) {
        if (image.tableLength) std::memcpy(BiosData, image.table.get(), image.tableLength);
        if (BuildIndex()) {
            InitOK = 1;
            return;
        }
    }
    ForgetTable();
    ForgetEntryPoint();
}

void SmBios::ForgetEntryPoint() { AdoptEntryPoint(nullptr, 0); }

bool SmBios::AdoptEntryPoint(const unsigned char* bytes, unsigned int length) {
    SmBiosEntryPoint entry;
    const bool known = ParseSmBiosEntryPoint(bytes, length, entry);
    MatchSMBIOS = entry.MatchSMBIOS;
    MatchDMI = entry.MatchDMI;
    MatchSMBIOS3 = entry.MatchSMBIOS3;
    SmBiosEntry = entry.SmBiosEntry;
    DmiEntry = entry.DmiEntry;
    SmBios3Entry = entry.SmBios3Entry;
    return known;
}

SmBios::~SmBios() { ForgetTable(); }

void SmBios::ForgetTable() {
    delete[] BiosData;
    BiosData = nullptr;
    BiosDataLength = 0;
    delete[] Entries;
    Entries = nullptr;
    delete[] ByType;
    ByType = nullptr;
    delete[] ByHandle;
    ByHandle = nullptr;
    StructureCount = 0;
    std::memset(TypeFirst, 0, sizeof TypeFirst);
}

bool SmBios::AllocateTable(unsigned int length) {
    ForgetTable();
    if (length > 0xFFFFFFFFu - 2u) return false;
    // Not cleared: the image's bytes are copied over all of it (a 3.x table may be given
    // 1 MiB, most of it past the end-of-table structure). The two bytes past the end are
    // zero, so a string at the very end still ends.
    BiosData = new (std::nothrow) char[length + 2u];
    if (!BiosData) return false;
    BiosData[length] = BiosData[length + 1u] = 0;
    BiosDataLength = length;
    return true;
}

unsigned int SmBios::StructureSize(unsigned int offset) const {
    if (offset > BiosDataLength || BiosDataLength - offset < sizeof(HEADER)) return 0;
    unsigned int length = static_cast<unsigned char>(BiosData[offset + 1]);
    if (length < sizeof(HEADER) || length > BiosDataLength - offset) return 0;
    for (unsigned int p = offset + length; p + 1 < BiosDataLength; ++p)
        if (BiosData[p] == 0 && BiosData[p + 1] == 0) return p + 2 - offset;
    return 0;
}

bool SmBios::BuildIndex() {
    // A 2.x or legacy table says how many structures it has; the walk stops there, at the
    // end of the bytes, or at the first structure that does not lie whole inside the table.
    // A 3.x table has no count and ends with its end-of-table structure (SMBIOS 7.45).
    unsigned int limit = 0xFFFFFFFFu;
    if (MatchSMBIOS && !MatchSMBIOS3)
        limit = SmBiosEntry.HowManyStructures;
    else if (MatchDMI)
        limit = DmiEntry.HowManyStructures;

    unsigned int capacity = 0;
    unsigned int perType[256] = {};
    unsigned int offset = 0;
    for (unsigned int i = 0; i < limit && offset < BiosDataLength; ++i) {
        unsigned int size = StructureSize(offset);
        if (size == 0) break;
        ++Visits;
        if (StructureCount == capacity) {
            unsigned int grown = capacity ? capacity * 2 : 64;
            IndexEntry* entries = new (std::nothrow) IndexEntry[grown];
            if (!entries) return false;
            if (StructureCount) std::memcpy(entries, Entries, StructureCount * sizeof *Entries);
            delete[] Entries;
            Entries = entries;
            capacity = grown;
        }
        unsigned char structureType = static_cast<unsigned char>(BiosData[offset]);
        Entries[StructureCount++] = {offset, size, ++perType[structureType]};
        offset += size;
        if (MatchSMBIOS3 && structureType == TYPE_END_OF_TABLE) break;
    }

    const unsigned int count = StructureCount;
    ByType = new (std::nothrow) unsigned int[count ? count : 1];
    ByHandle = new (std::nothrow) unsigned long long[count ? count : 1];
    if (!ByType || !ByHandle) return false;
    // Entries of each type side by side, in table order (a counting sort on the type).
    TypeFirst[0] = 0;
    for (int t = 0; t < 256; ++t) TypeFirst[t + 1] = TypeFirst[t] + perType[t];
    unsigned int next[256];
    std::memcpy(next, TypeFirst, sizeof next);
    for (unsigned int e = 0; e < count; ++e) {
        unsigned char structureType = static_cast<unsigned char>(BiosData[Entries[e].offset]);
        ByType[next[structureType]++] = e;
        unsigned short handle;
        std::memcpy(&handle, BiosData + Entries[e].offset + 2, sizeof handle);
        ByHandle[e] = static_cast<unsigned long long>(handle) << 32 | e;
    }
    std::sort(ByHandle, ByHandle + count);
    return true;
}

FoundItem SmBios::MakeItem(unsigned int entry) {
    ++Visits;
    return FoundItem(BiosDataItem(BiosData + Entries[entry].offset, Entries[entry].size));
}

FoundItem SmBios::GetOccurrence(unsigned char structureType, int n) {
    if (!InitOK) return FoundItem();
    // Several makers open the table with an OEM structure, so the BIOS structure is looked
    // up by its type like any other; there is only one, whatever n says.
    if (structureType == TYPE_BIOS_INFO) n = 1;
    if (n < 1 || n > 255) return FoundItem();
    unsigned int first = TypeFirst[structureType], last = TypeFirst[structureType + 1];
    if (static_cast<unsigned int>(n) > last - first) return FoundItem();
    return MakeItem(ByType[first + static_cast<unsigned int>(n) - 1]);
}

BiosDataItem* SmBios::GetItem(unsigned char structureType, unsigned char n) {
    FoundItem item = GetOccurrence(structureType, n);
    return item ? new (std::nothrow) BiosDataItem(*item) : nullptr;
}

FoundItem SmBios::GetByHandle(unsigned char structureType, int handle) {
    if (!InitOK || handle < 0 || handle > 0xFFFF) return FoundItem();
    const unsigned long long key = static_cast<unsigned long long>(handle) << 32;
    for (const unsigned long long* it = std::lower_bound(ByHandle, ByHandle + StructureCount, key);
         it != ByHandle + StructureCount && (*it >> 32) == key >> 32; ++it) {
        unsigned int e = static_cast<unsigned int>(*it);
        // Occurrences are counted up to 255, so a later structure of the type is out of reach.
        if (static_cast<unsigned char>(BiosData[Entries[e].offset]) == structureType && Entries[e].occurrence <= 255)
            return MakeItem(e);
    }
    return FoundItem();
}

void SmBios::trim(char* p) {
    if (!p) return;
    char* out = p;
    for (char* in = p; *in; ++in)
        if (*in >= '0' && *in <= 'z') *out++ = *in;
    *out = '\0';
}

int SmBios::CopyItemString(const BiosDataItem* item, int offset, char* result, unsigned int length) {
    if (!item || !result) return -1;
    const char* text = item->GetFieldString(offset);
    if (!text) return -1;
    CopyField(result, length, text, length, FieldEnd::Open);
    return 0;
}

int SmBios::CopyString(unsigned char structureType, int offset, char* result, unsigned int length) {
    FoundItem item = GetOccurrence(structureType, 1);
    return CopyItemString(item.get(), offset, result, length);
}

int SmBios::CountStructures(unsigned char structureType, int limit) {
    if (!InitOK) return 0;
    int count = static_cast<int>(std::min<unsigned int>(TypeFirst[structureType + 1] - TypeFirst[structureType], 255));
    return std::min(count, limit);
}
