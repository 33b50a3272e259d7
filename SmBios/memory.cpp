// Memory: the older memory controller (type 5) with its modules (type 6), and the memory
// devices (type 17) with their mapped addresses (type 20).
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "SmBios/CodeTable.h"
#include "SmBios/SmBios.h"

namespace {

// SMBIOS 7.6: Memory Controller Information.
constexpr int kPopulatedSlots = 14, kModuleHandles = 15;
// SMBIOS 7.7: Memory Module Information.
constexpr int kModuleDesignation = 4, kBankConnections = 5, kModuleSpeed = 6, kModuleType = 7, kInstalledSize = 9;
// SMBIOS 7.18: Memory Device. A 2.1/2.2 device ends after the type detail (21 bytes).
constexpr int kDeviceSize = 12, kDeviceLocator = 16, kBankLocator = 17, kMemoryType = 18, kTypeDetail = 19,
              kDeviceSpeed = 21, kDeviceManufacturer = 23;
// SMBIOS 2.7 adds the Extended Size dword, which holds the size in megabytes when the size
// word is 0x7FFF (32 GB and above).
constexpr int kExtendedSize = 0x1C;
constexpr unsigned short kUseExtendedSize = 0x7FFF;
// SMBIOS 7.21: Memory Device Mapped Address. From 2.7 a range beyond 4 TB has 0xFFFFFFFF in
// its starting address and its byte addresses in two 64-bit fields.
constexpr int kStartingAddress = 4, kEndingAddress = 8, kMappedDevice = 12, kExtendedStartingAddress = 0x13;

constexpr unsigned char kNotInstalled = 0x7F, kFirstSpecialSize = 0x7D;
// A module size code above this is 2^31 MB or more: more than the record's int megabytes
// can hold, so no real module; it reads as not determinable.
constexpr unsigned char kLargestSizeCode = 30;
constexpr unsigned short kUnknownSize = 0xFFFF, kKilobyteGranularity = 0x8000, kSizeMask = 0x7FFF;
constexpr unsigned int kExtendedAddress = 0xFFFFFFFF;
constexpr int kMaxOccurrence = 255;
constexpr unsigned int kShortText = 16;

// SMBIOS 7.7.1: the memory type bits of a module, from bit 0. Every set bit writes its
// text over the previous one, so the highest set bit wins.
constexpr const char* kModuleTypes[] = {
    "other", "Unknown", "Standard", "Fast Page Mode", "EDO", "Parity", "ECC", "SIMM", "DIMM", " Burst EDO", " SDRAM",
};

// SMBIOS 7.18.2: memory device types. The reference names 0x15-0x17 reserved.
constexpr CodeTable<0x25> kMemoryTypes = {
    {1, "Other"},   {3, "DRAM"},    {4, "EDRAM"},   {5, "VRAM"},   {6, "SRAM"},   {7, "RAM"},
    {8, "ROM"},     {9, "FLASH"},   {10, "EEPROM"}, {11, "FEPROM"}, {12, "EPROM"}, {13, "CDRAM"},
    {14, "3DRAM"},  {15, "SDRAM"},  {16, "SGRAM"},  {17, "RDRAM"},  {18, "DDR"},
    {0x13, "DDR2"}, {0x14, "DDR2 FB-DIMM"}, {0x18, "DDR3"}, {0x19, "FBD2"}, {0x1A, "DDR4"},
    {0x1B, "LPDDR"}, {0x1C, "LPDDR2"}, {0x1D, "LPDDR3"}, {0x1E, "LPDDR4"},
    {0x1F, "Logical non-volatile device"}, {0x20, "HBM"}, {0x21, "HBM2"}, {0x22, "DDR5"},
    {0x23, "LPDDR5"}, {0x24, "HBM3"},
};

// SMBIOS 7.18.3: type detail bits, from bit 0 (which, like bits 13-15, adds nothing).
constexpr const char* kTypeDetails[] = {
    nullptr,   "other", "Unknown", "Fast-paged", "Static column", "Pseudo-static", "RAMBUS",
    "Synchronous", "CMOS", "EDO", "Window DRAM", "Cache DRAM", "Non-volatile",
};

// Devices that hold no working memory: ROM, FLASH, EEPROM, FEPROM, EPROM, and RDRAM.
bool IsCountedMemoryType(unsigned char type) { return !((type >= 8 && type <= 12) || type == 17); }

// Megabytes of a device whose size word is neither 0 nor unknown.
long long DeviceMegabytes(const BiosDataItem& device, unsigned short size) {
    unsigned int extended;
    if (size == kUseExtendedSize && device.GetDword(kExtendedSize, extended)) return extended & 0x7FFFFFFF;
    return size & kKilobyteGranularity ? (size & kSizeMask) >> 10 : size & kSizeMask;
}

// Kilobytes of a mapped-address range (SMBIOS 7.20, 7.21), the last one inclusive; the
// extended byte addresses (the start at `extendedStart`, the end 8 bytes on) when the
// range is marked so. False for a range the structure is too short for or that ends before
// it starts.
bool RangeKilobytes(const BiosDataItem& range, int extendedStart, unsigned long long& kilobytes) {
    unsigned int start, end;
    if (!range.GetDword(kStartingAddress, start) || !range.GetDword(kEndingAddress, end)) return false;
    if (start != kExtendedAddress) {
        if (end < start) return false;
        kilobytes = static_cast<unsigned long long>(end) - start + 1;
        return true;
    }
    unsigned int low, high;
    if (!range.GetDword(extendedStart, low) || !range.GetDword(extendedStart + 4, high)) return false;
    unsigned long long first = static_cast<unsigned long long>(high) << 32 | low;
    if (!range.GetDword(extendedStart + 8, low) || !range.GetDword(extendedStart + 12, high)) return false;
    unsigned long long last = static_cast<unsigned long long>(high) << 32 | low;
    if (last < first) return false;
    kilobytes = (last - first) / 1024 + 1;
    return true;
}

// The slot number a locator names: the last digit that ends the text or is followed by
// 'A' or 'B' (4d + 1, 4d + 2, two banks per digit). Only one digit is read, so DIMM12
// is slot 2.
int SlotNumber(const char* locator) {
    int slot = 0;
    for (const char* p = locator; *p; ++p) {
        if (*p < '0' || *p > '9') continue;
        int d = *p - '0';
        if (p[1] == '\0')
            slot = d;
        else if (p[1] == 'A')
            slot = 4 * d + 1;
        else if (p[1] == 'B')
            slot = 4 * d + 2;
    }
    return slot;
}

// Whether `raw`, without the characters trim drops, reads `trimmed`.
bool MatchesTrimmed(const char* raw, const char* trimmed) {
    for (;; ++raw, ++trimmed) {
        while (*raw && (*raw < '0' || *raw > 'z')) ++raw;
        if (*raw != *trimmed) return false;
        if (*raw == '\0') return true;
    }
}

int SaturatedInt(long long value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

}  // namespace

// --- presence ------------------------------------------------------------------------------

int SmBios::ExistMemCtl() {
    FoundItem controller = GetOccurrence(TYPE_MEMORY_CONTROLLER, 1);
    return controller ? 1 : 0;
}

int SmBios::ExistMemModule() {
    FoundItem controller = GetOccurrence(TYPE_MEMORY_CONTROLLER, 1);
    if (!controller) return 0;
    int slots = controller->ByteOr(kPopulatedSlots, 0);
    if (slots == 0) return 0;
    // A handle the structure is too short to hold counts as 0: no module behind it.
    for (int i = 0; i < slots; ++i)
        if (controller->WordOr(kModuleHandles + 2 * i, 0) == 0) return 0;
    return 1;
}

int SmBios::ExistMemDev() {
    for (int k = 1; k <= kMaxOccurrence; ++k) {
        FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, k);
        if (!device) return 0;
        const char* bank = device->GetFieldString(kBankLocator);
        if (!bank) return 0;
        if (std::strstr(bank, "Bank")) return 1;
        if (std::strstr(bank, "BANK") && (device->WordOr(kDeviceSize, 0) & kSizeMask) != 0) return 1;
        const char* locator = device->GetFieldString(kDeviceLocator);
        if (locator && (std::strstr(locator, "Dimm") || std::strstr(locator, "DIMM"))) return 1;
    }
    return 0;
}

// --- modules -------------------------------------------------------------------------------

int SmBios::GetValidMemModuleHandle(int n) {
    FoundItem controller = GetOccurrence(TYPE_MEMORY_CONTROLLER, 1);
    if (!controller || n < 0 || n >= controller->ByteOr(kPopulatedSlots, 0)) return 0;
    unsigned short handle = controller->WordOr(kModuleHandles + 2 * n, 0);
    return handle < 128 ? handle : 0;
}

int SmBios::GetMemModuleQuantity() {
    int n = 0;
    while (GetValidMemModuleHandle(n) != 0) ++n;
    return n;
}

FoundItem SmBios::GetMemModule(int handle) {
    if (handle == 0) return FoundItem();
    return GetByHandle(TYPE_MEMORY_MODULE, handle);
}

int SmBios::GetMemModuleSize(int handle, char* result) {
    FoundItem module = GetMemModule(handle);
    if (!module || !result) return -1;
    unsigned char code = module->ByteOr(kInstalledSize, kNotInstalled) & 0x7F;
    if (code >= kFirstSpecialSize || code > kLargestSizeCode) return 0;  // nothing to report
    std::snprintf(result, kShortText, "%d MB", 1 << code);
    return 0;
}

int SmBios::GetMemModuleSpeed(int handle, char* result) {
    FoundItem module = GetMemModule(handle);
    if (!module || !result) return -1;
    unsigned char speed = module->ByteOr(kModuleSpeed, 0);
    if (speed == 0) return -1;
    std::snprintf(result, kShortText, "%d ns", speed);
    return 0;
}

int SmBios::GetMemModuleType(int handle, char* result) {
    FoundItem module = GetMemModule(handle);
    if (!module || !result) return -1;
    unsigned short bits = module->WordOr(kModuleType, 0);
    const char* text = nullptr;
    for (unsigned int bit = 0; bit < sizeof kModuleTypes / sizeof *kModuleTypes; ++bit)
        if (bits & (1u << bit)) text = kModuleTypes[bit];
    if (text) std::strcpy(result, text);
    return 0;
}

int SmBios::GetMemBankConnector(int handle) {
    FoundItem module = GetMemModule(handle);
    unsigned char connections;
    if (!module || !module->GetByte(kBankConnections, connections)) return -1;
    return connections;
}

int SmBios::GetMemModuleLocate(int handle, char* result, unsigned int length) {
    FoundItem module = GetMemModule(handle);
    if (!module || module->ByteOr(kModuleDesignation, 0) != 1) return -1;
    return CopyItemString(module.get(), kModuleDesignation, result, length);
}

// --- devices -------------------------------------------------------------------------------

int SmBios::GetMemDevSize(int n, char* result) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device || !result) return -1;
    unsigned short size = device->WordOr(kDeviceSize, 0);
    if (size == 0) {
        std::strcpy(result, "No Mem Device");
        return 1;
    }
    if (size == kUnknownSize) {
        std::strcpy(result, "Unknown");
        return 0;
    }
    if (size & kKilobyteGranularity)
        std::snprintf(result, kShortText, "%d KB", size & kSizeMask);
    else
        std::snprintf(result, kShortText, "%lld MB", DeviceMegabytes(*device, size));
    return 0;
}

int SmBios::GetMemDevSize(int n) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device) return 0;
    unsigned short size = device->WordOr(kDeviceSize, 0);
    if (size == 0 || size == kUnknownSize) return 0;
    return SaturatedInt(DeviceMegabytes(*device, size));
}

int SmBios::GetMemDevSpeed(int n, char* result) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device || !result) return -1;
    unsigned short speed = device->WordOr(kDeviceSpeed, 0);
    if (speed == 0) return -1;
    std::snprintf(result, kShortText, "%d MHZ", speed);
    return 0;
}

int SmBios::GetMemDevType(int n, char* result) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device || !result) return -1;
    std::strcpy(result, kMemoryTypes.Find(device->ByteOr(kMemoryType, 0), "Unknown"));
    return 0;
}

int SmBios::GetMemDevTypeDetail(int n, char* result, unsigned int length) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device || !result) return -1;
    if (length == 0) return 0;
    unsigned short bits = device->WordOr(kTypeDetail, 0);
    std::size_t used = strnlen(result, length - 1);
    for (unsigned int bit = 1; bit < sizeof kTypeDetails / sizeof *kTypeDetails; ++bit) {
        if (!(bits & (1u << bit))) continue;
        // Texts are appended without separators and cut where the field ends.
        for (const char* t = kTypeDetails[bit]; *t && used + 1 < length; ++t) result[used++] = *t;
    }
    result[used] = '\0';
    return 0;
}

int SmBios::GetMemDevManufacturer(int n, char* result, unsigned int length) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    return CopyItemString(device.get(), kDeviceManufacturer, result, length);
}

int SmBios::GetMemDevLocator(int n, char* result, unsigned int length) {
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device || device->ByteOr(kDeviceLocator, 0) != 1) return -1;
    return CopyItemString(device.get(), kDeviceLocator, result, length);
}

bool SmBios::GetMemDevStrings(int n, const char* (&texts)[4]) {
    // SMBIOS 7.18: the serial and part number strings follow from 2.3 on.
    constexpr int kFields[4] = {kDeviceLocator, kBankLocator, 0x18, 0x1A};
    FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, n);
    if (!device) return false;
    for (int k = 0; k < 4; ++k) texts[k] = device->GetFieldString(kFields[k]);
    return true;
}

int SmBios::GetProperMemDev(char* DeviceLocator) {
    if (!DeviceLocator) return 0;
    for (int k = 1; k <= kMaxOccurrence; ++k) {
        FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, k);
        if (!device || device->ByteOr(kDeviceLocator, 0) != 1) return 0;
        const char* locator = device->GetString(1);
        if (!locator) return 0;
        trim(DeviceLocator);
        // The item is a view of the table, which stays as the firmware wrote it: the
        // device's locator is compared as trim would leave it, without changing it.
        if (MatchesTrimmed(locator, DeviceLocator)) return k;
    }
    return 0;
}

// --- totals and the record -----------------------------------------------------------------

int SmBios::GetMemoryTotalSize() {
    // Counted in 64 bits and reported in the record's int megabytes: a table of large
    // devices must not wrap round to a small total.
    long long total = 0;
    for (int n = 1; n <= kMaxOccurrence; ++n) {
        FoundItem module = GetOccurrence(TYPE_MEMORY_MODULE, n);
        if (!module) break;
        unsigned char code = module->ByteOr(kInstalledSize, kNotInstalled) & 0x7F;
        if (code < kFirstSpecialSize && code <= kLargestSizeCode) total += 1LL << code;
    }
    if (total != 0) return SaturatedInt(total);

    unsigned short handles[kMaxOccurrence];
    int devices = 0;
    for (int k = 1; k <= kMaxOccurrence; ++k) {
        FoundItem device = GetOccurrence(TYPE_MEMORY_DEVICE, k);
        if (!device) break;
        handles[devices++] = device->GetHandle();
        if (!IsCountedMemoryType(device->ByteOr(kMemoryType, 0))) continue;
        unsigned short size = device->WordOr(kDeviceSize, 0);
        if (size == kUnknownSize || (size & kSizeMask) == 0) continue;
        total += DeviceMegabytes(*device, size);
    }
    if (total != 0) return SaturatedInt(total);

    // The mapped ranges count kilobytes, from the first to the last kilobyte inclusive.
    unsigned long long kilobytes = 0;
    for (int k = 1; k <= kMaxOccurrence; ++k) {
        FoundItem range = GetOccurrence(TYPE_MEMEORY_DEVICE_MAPPED_ADDR, k);
        if (!range) break;
        unsigned short device;
        unsigned long long size;
        if (!range->GetWord(kMappedDevice, device) || !RangeKilobytes(*range, kExtendedStartingAddress, size))
            continue;
        for (int i = 0; i < devices; ++i) {
            if (handles[i] == device) {
                kilobytes += size;
                break;
            }
        }
    }
    return SaturatedInt(static_cast<long long>(std::min<unsigned long long>(kilobytes / 1024, INT_MAX)));
}

void SmBios::AddModuleBanks(qarvel::Entries<BankInfo>& banks) {
    const int modules = GetMemModuleQuantity();
    const bool devices = ExistMemDev() != 0;
    for (int i = 0; i < modules && !banks.Full(); ++i) {
        int handle = GetValidMemModuleHandle(i);
        char text[32] = {};
        GetMemModuleSize(handle, text);
        if (text[0] == '\0') continue;  // not installed, not enabled or not determinable

        BankInfo& bank = banks.Next();
        CopyToField(bank.size, text);
        std::memset(text, 0, sizeof text);
        GetMemModuleType(handle, text);
        CopyToField(bank.type, text);
        std::memset(text, 0, sizeof text);
        GetMemModuleSpeed(handle, text);
        CopyToField(bank.speed, text);

        char locator[64] = {};
        GetMemModuleLocate(handle, locator, sizeof locator);
        bank.SlotNumber = SlotNumber(locator);
        int device = devices ? GetProperMemDev(locator) : 0;
        if (device != 0) {
            GetMemDevTypeDetail(device, bank.TypeDetail, sizeof bank.TypeDetail);
            GetMemDevManufacturer(device, bank.manufacturer, sizeof bank.manufacturer);
        }
    }
}

void SmBios::AddDeviceBanks(qarvel::Entries<BankInfo>& banks) {
    for (int k = 1; k <= kMaxOccurrence && !banks.Full(); ++k) {
        char text[32] = {};
        int found = GetMemDevSize(k, text);
        if (found == -1) break;
        if (found == 1) continue;  // an empty slot

        BankInfo& bank = banks.Next();
        CopyToField(bank.size, text);
        std::memset(text, 0, sizeof text);
        GetMemDevType(k, text);
        CopyToField(bank.type, text);
        GetMemDevTypeDetail(k, bank.TypeDetail, sizeof bank.TypeDetail);
        std::memset(text, 0, sizeof text);
        GetMemDevSpeed(k, text);
        CopyToField(bank.speed, text);
        GetMemDevManufacturer(k, bank.manufacturer, sizeof bank.manufacturer);

        char locator[64] = {};
        GetMemDevLocator(k, locator, sizeof locator);
        trim(locator);
        bank.SlotNumber = SlotNumber(locator);
    }
}

int SmBios::GetMemoryInformation(LocalMemInfo* buffer) {
    if (!buffer) return -1;
    std::memset(buffer, 0, sizeof *buffer);
    // The record holds 16 banks; a 17th populated slot is left out.
    qarvel::Entries<BankInfo> banks(buffer->bank);
    int result = AddBanks(banks);
    buffer->quantity = banks.Count();
    buffer->TotalSize = GetMemoryTotalSize();
    return result;
}

int SmBios::GetMemoryBanks(std::vector<BankInfo>& every) {
    qarvel::Entries<BankInfo> banks(every);
    return AddBanks(banks);
}

int SmBios::AddBanks(qarvel::Entries<BankInfo>& banks) {
    if (ExistMemCtl() && ExistMemModule())
        AddModuleBanks(banks);
    else if (ExistMemDev())
        AddDeviceBanks(banks);
    else
        return -1;
    return 0;
}
