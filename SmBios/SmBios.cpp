// Locating and copying the structure table, and walking it.
#include "SmBios/SmBios.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace {

// The entry point lives on a 16-byte boundary in 0xF0000-0xFFFFF (SMBIOS 5.2.1).
constexpr long long kScanBase = 0xF0000;
constexpr unsigned int kScanLength = 0xFFF0;
constexpr unsigned int kLastAnchor = 0xFFE0;
// The scan buffer is padded so that copying a full entry point from the last anchor
// position stays inside it.
constexpr unsigned int kScanPadding = sizeof(SmBiosTableEntryPoint);

}  // namespace

char* itoa(int number, char* result, int /*radix*/) {
    std::sprintf(result, "%d", number);
    return result;
}

SmBios::SmBios()
    : InitOK(0), BiosData(nullptr), BiosDataLength(0), MatchSMBIOS(0), MatchDMI(0), SmBiosEntry(), DmiEntry(),
      temperature(TnV_OTHER), ps(PS_OTHER), type(TYPE_BIOS_INFO) {
    std::unique_ptr<unsigned char[]> scan(new (std::nothrow) unsigned char[kScanLength + kScanPadding]());
    if (!scan) return;

    int fd = platform::open("/dev/mem", O_RDONLY);
    if (fd < 0) {
        std::perror("open /dev/mem\n");
        return;
    }
    if (platform::lseek(fd, kScanBase, SEEK_SET) < 0) {
        std::perror("lseek /dev/mem\n");
        platform::close(fd);
        return;
    }
    // A short read leaves zeros, which hold no anchor.
    platform::read(fd, scan.get(), kScanLength);

    unsigned long long tableAddress = 0;
    for (unsigned int at = 0; at <= kLastAnchor; at += 16) {
        if (std::memcmp(scan.get() + at, "_SM_", 4) == 0) {
            MatchSMBIOS = 1;
            std::memcpy(&SmBiosEntry, scan.get() + at, sizeof SmBiosEntry);
            tableAddress = SmBiosEntry.StructureTableAddress;
            BiosDataLength = SmBiosEntry.StructureTableLength;
            break;
        }
    }
    if (!MatchSMBIOS) {
        for (unsigned int at = 0; at <= kLastAnchor; at += 16) {
            if (std::memcmp(scan.get() + at, "_DMI", 4) == 0) {
                MatchDMI = 1;
                std::memcpy(&DmiEntry, scan.get() + at, sizeof DmiEntry);
                tableAddress = DmiEntry.biosStructureTableAddress;
                BiosDataLength = DmiEntry.StructureTableLength;
                break;
            }
        }
    }
    if (!MatchSMBIOS && !MatchDMI) {
        platform::close(fd);
        return;
    }

    // The table is read from the 64 KB boundary below it, as the firmware area is mapped.
    unsigned long long base = tableAddress & ~0xFFFFULL;
    unsigned int offset = static_cast<unsigned int>(tableAddress - base);
    std::unique_ptr<char[]> raw(new (std::nothrow) char[offset + BiosDataLength + 1u]());
    BiosData = new (std::nothrow) char[BiosDataLength + 2u]();
    if (!raw || !BiosData) {
        delete[] BiosData;
        BiosData = nullptr;
        platform::close(fd);
        return;
    }
    if (platform::lseek(fd, static_cast<long long>(base), SEEK_SET) >= 0)
        platform::read(fd, raw.get(), offset + BiosDataLength);
    std::memcpy(BiosData, raw.get() + offset, BiosDataLength);
    platform::close(fd);
    InitOK = 1;
}

SmBios::~SmBios() {
    delete[] BiosData;
    BiosData = nullptr;
}

unsigned int SmBios::StructureSize(unsigned int offset) const {
    if (offset + sizeof(HEADER) > BiosDataLength) return 0;
    unsigned int length = static_cast<unsigned char>(BiosData[offset + 1]);
    if (length < sizeof(HEADER) || offset + length > BiosDataLength) return 0;
    for (unsigned int p = offset + length; p + 1 < BiosDataLength; ++p)
        if (BiosData[p] == 0 && BiosData[p + 1] == 0) return p + 2 - offset;
    return 0;
}

BiosDataItem* SmBios::GetItem(unsigned char structureType, unsigned char n) {
    if (!InitOK) return nullptr;
    unsigned int limit;
    if (MatchSMBIOS)
        limit = SmBiosEntry.HowManyStructures;
    else if (MatchDMI)
        limit = DmiEntry.HowManyStructures;
    else
        return nullptr;
    // Several makers open the table with an OEM structure, so the BIOS structure is looked
    // up by its type like any other; there is only one, whatever n says.
    if (structureType == TYPE_BIOS_INFO) n = 1;

    unsigned int offset = 0;
    unsigned int seen = 0;
    for (unsigned int i = 0; i < limit; ++i) {
        unsigned int size = StructureSize(offset);
        if (size == 0) return nullptr;  // damaged or cut short: the walk ends here
        if (static_cast<unsigned char>(BiosData[offset]) == structureType && ++seen == n)
            return new (std::nothrow) BiosDataItem(BiosData + offset);
        offset += size;
        if (offset >= BiosDataLength) return nullptr;
    }
    return nullptr;
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
    if (length == 0) return 0;
    std::size_t n = std::strlen(text);
    if (n > length - 1) n = length - 1;
    std::memcpy(result, text, n);
    return 0;
}

int SmBios::CopyString(unsigned char structureType, int offset, char* result, unsigned int length) {
    std::unique_ptr<BiosDataItem> item(GetItem(structureType, 1));
    return CopyItemString(item.get(), offset, result, length);
}

int SmBios::CountStructures(unsigned char structureType, int limit) {
    int count = 0;
    while (count < limit) {
        std::unique_ptr<BiosDataItem> item(GetOccurrence(structureType, count + 1));
        if (!item) break;
        ++count;
    }
    return count;
}

BiosDataItem* SmBios::GetOccurrence(unsigned char structureType, int n) {
    if (n < 1 || n > 255) return nullptr;
    return GetItem(structureType, static_cast<unsigned char>(n));
}

BiosDataItem* SmBios::GetByHandle(unsigned char structureType, int handle) {
    for (int n = 1;; ++n) {
        BiosDataItem* item = GetOccurrence(structureType, n);
        if (!item || item->GetHandle() == handle) return item;
        delete item;
    }
}
