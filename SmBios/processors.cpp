// Processors (type 4) and their level 1 to 3 caches (type 7).
#include <cstdio>
#include <cstring>

#include "SmBios/CodeTable.h"
#include "SmBios/SmBios.h"

namespace {

// SMBIOS 7.5: Processor Information. A 2.0 structure ends after `upgrade` (26 bytes), a
// 2.1/2.2 one after the cache handles (32 bytes).
constexpr int kManufacturer = 7, kFamily = 6, kVersion = 16, kVoltage = 17, kExternalClock = 18, kMaxSpeed = 20,
              kCurrentSpeed = 22, kStatus = 24, kCacheHandles = 26, kSerialNumber = 32;
// SMBIOS 7.8: Cache Information.
constexpr int kCacheDesignation = 4, kCacheMaxSize = 7, kCacheInstalledSize = 9, kCacheSpeed = 15;

constexpr int kMaxProcessors = 16;
constexpr unsigned short kNoCache = 0xFFFF;
constexpr unsigned char kPopulated = 0x40, kStatusMask = 0x07;
// The longest text a getter without a length writes, NUL included ("Bios Not Provide").
constexpr unsigned int kShortText = 17;

constexpr CodeTable<203> kFamilies = {
    {1, "Other"},
    {3, "8086"},
    {4, "80286"},
    {5, "Intel386 processor"},
    {6, "Intel486 processor"},
    {7, "8087"},
    {8, "80287"},
    {9, "80387"},
    {10, "80487"},
    {11, "Pentium processor Family"},
    {12, "Pentium Pro processor"},
    {13, "Pentium II processor"},
    {14, "Pentium processor with MMX technology"},
    {15, "Celeron processor"},
    {16, "Pentium II Xeon processor"},
    {17, "Pentium III processor"},
    {18, "M1 Family"},
    {19, "M2 Family"},
    {24, "AMD Duron Processor Family"},
    {25, "K5 Family"},
    {26, "K6 Family"},
    {27, "K6-2"},
    {28, "K6-3"},
    {29, "AMD Athlon Processor Family"},
    {30, "AMD2900 Family"},
    {31, "K6-2+"},
    {32, "Power PC Family"},
    {33, "Power PC 601"},
    {34, "Power PC 603"},
    {35, "Power PC 603+"},
    {36, "Power PC 604"},
    {37, "Power PC 620"},
    {38, "Power PC x704"},
    {39, "Power PC 750"},
    {48, "Alpha Family3"},
    {49, "Alpha 21064"},
    {50, "Alpha 21066"},
    {51, "Alpha 21164"},
    {52, "Alpha 21164PC"},
    {53, "Alpha 21164a"},
    {54, "Alpha 21264"},
    {55, "Alpha 21364"},
    {176, "Pentium III Xeoprocessor"},
    {177, "Pentium III Processor with Intel SpeedStep Technology"},
    {178, "Pentium 4 Processor"},
    {179, "Intel Xeon"},
    {180, "AS400 Family"},
    {181, "Intel Xeon processor MP"},
    {182, "AMD AthlonXP Processor Family"},
    {183, "AMD AthlonMP Processor Family"},
    {200, "IBM390 Family"},
    {201, "G4"},
    {202, "G5"},
};

// The low four bits of the voltage byte; bit 7 (a current-voltage encoding) is not looked at.
constexpr CodeTable<16> kVoltages = {
    {1, "5V"}, {2, "3.3V"}, {3, "5V or 3.3V"}, {4, "2.9V"}, {6, "2.9V or 3.3V"},
};

// A cache size word: 1 KB units, or 64 KB units when bit 15 is set.
int CacheKilobytes(unsigned short word) { return word & 0x8000 ? (word & 0x7FFF) * 64 : word; }

}  // namespace

int SmBios::GetProcessorVirtualQuantity() { return CountStructures(TYPE_PROCESSOR_INFO, kMaxProcessors); }

int SmBios::GetProcessorQuantity() {
    int count = 0;
    for (int n = 1; n <= kMaxProcessors; ++n) {
        FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
        if (!cpu) break;
        unsigned char status = cpu->ByteOr(kStatus, 0);
        if ((status & kPopulated) && (status & kStatusMask)) ++count;
    }
    return count;
}

int SmBios::GetProcessorFamily(int n, char* result) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    if (!cpu || !result) return -1;
    std::strcpy(result, kFamilies.Find(cpu->ByteOr(kFamily, 0), "Unknown"));
    return 0;
}

int SmBios::GetProcessorManufacturer(int n, char* result, unsigned int length) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    return CopyItemString(cpu.get(), kManufacturer, result, length);
}

int SmBios::GetProcessorVersion(int n, char* result, unsigned int length) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    return CopyItemString(cpu.get(), kVersion, result, length);
}

int SmBios::GetProcessorSerialNo(int n, char* result, unsigned int length) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    return CopyItemString(cpu.get(), kSerialNumber, result, length);
}

int SmBios::GetProcessorVoltage(int n, char* result) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    if (!cpu || !result) return -1;
    std::strcpy(result, kVoltages.Find(cpu->ByteOr(kVoltage, 0) & 0x0F, "Unknown"));
    return 0;
}

int SmBios::GetProcessorExternalClock(int n, char* result) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    if (!cpu || !result) return -1;
    std::snprintf(result, kShortText, "%d MHZ", cpu->WordOr(kExternalClock, 0));
    return 0;
}

int SmBios::WriteProcessorSpeed(int n, int offset, char* result) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    if (!cpu || !result) return -1;
    unsigned short speed = cpu->WordOr(offset, 0);
    if (speed == 0) {
        std::strcpy(result, "Unknown");
        return -1;
    }
    std::snprintf(result, kShortText, "%d MHZ", speed);
    return 0;
}

int SmBios::GetProcessorMaxSpeed(int n, char* result) { return WriteProcessorSpeed(n, kMaxSpeed, result); }

int SmBios::GetProcessorCurrentSpeed(int n, char* result) { return WriteProcessorSpeed(n, kCurrentSpeed, result); }

int SmBios::GetProcessorStatus(int n, char* result) {
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, n);
    unsigned char status;
    if (!cpu || !result || !cpu->GetByte(kStatus, status)) return -1;
    *result = static_cast<char>(status);
    return 0;
}

// --- caches --------------------------------------------------------------------------------

int SmBios::GetCacheHandle(int CpuIndex, int Cacheindex, unsigned short& handle) {
    if (Cacheindex < 0 || Cacheindex > 2) return -1;
    FoundItem cpu = GetOccurrence(TYPE_PROCESSOR_INFO, CpuIndex);
    if (!cpu) return -1;
    // A processor of SMBIOS 2.0 names no caches at all.
    handle = cpu->WordOr(kCacheHandles + 2 * Cacheindex, kNoCache);
    return 0;
}

// For a processor without a cache handle of some level: SMBIOS 2.0 to 2.2 use 0xFFFF for
// "no such cache", 2.3 on for "not provided by the BIOS".
void SmBios::WriteNoCacheText(char* result, unsigned int length) {
    if (!MatchSMBIOS || SmBiosEntry.MajorVersion != 2 || length == 0) return;
    const char* text = SmBiosEntry.MinorVersion <= 2 ? "None" : "Bios Not Provide";
    std::size_t n = std::strlen(text);
    if (n > length - 1) n = length - 1;
    std::memcpy(result, text, n);
    result[n] = '\0';
}

int SmBios::GetCacheDesignation(int CpuIndex, int Cacheindex, char* result, unsigned int length) {
    unsigned short handle;
    if (!result || GetCacheHandle(CpuIndex, Cacheindex, handle) != 0) return -1;
    if (handle != kNoCache) return GetCacheDesignationPrivate(handle, result, length);
    WriteNoCacheText(result, length);
    return 0;
}

int SmBios::GetCacheMaxSize(int CpuIndex, int Cacheindex, char* result) {
    unsigned short handle;
    if (!result || GetCacheHandle(CpuIndex, Cacheindex, handle) != 0) return -1;
    if (handle != kNoCache) return GetCacheMaxSizePrivate(handle, result);
    WriteNoCacheText(result, kShortText);
    return 0;
}

int SmBios::GetCacheInstalledSize(int CpuIndex, int Cacheindex, char* result) {
    unsigned short handle;
    if (!result || GetCacheHandle(CpuIndex, Cacheindex, handle) != 0) return -1;
    if (handle != kNoCache) return GetCacheInstalledSizePrivate(handle, result);
    WriteNoCacheText(result, kShortText);
    return 0;
}

int SmBios::GetCacheSpeed(int CpuIndex, int Cacheindex, char* result) {
    unsigned short handle;
    if (!result || GetCacheHandle(CpuIndex, Cacheindex, handle) != 0) return -1;
    if (handle != kNoCache) return GetCacheSpeedPrivate(handle, result);
    WriteNoCacheText(result, kShortText);
    return 0;
}

int SmBios::GetCacheDesignationPrivate(int handle, char* result, unsigned int length) {
    FoundItem cache = GetByHandle(TYPE_CACHE_INFO, handle);
    return CopyItemString(cache.get(), kCacheDesignation, result, length);
}

int SmBios::WriteCacheSize(int handle, int offset, char* result) {
    FoundItem cache = GetByHandle(TYPE_CACHE_INFO, handle);
    if (!cache || !result) return -1;
    std::snprintf(result, kShortText, "%d KB", CacheKilobytes(cache->WordOr(offset, 0)));
    return 0;
}

int SmBios::GetCacheMaxSizePrivate(int handle, char* result) { return WriteCacheSize(handle, kCacheMaxSize, result); }

int SmBios::GetCacheInstalledSizePrivate(int handle, char* result) {
    return WriteCacheSize(handle, kCacheInstalledSize, result);
}

int SmBios::GetCacheSpeedPrivate(int handle, char* result) {
    FoundItem cache = GetByHandle(TYPE_CACHE_INFO, handle);
    if (!cache || !result) return -1;
    unsigned char speed = cache->ByteOr(kCacheSpeed, 0);
    if (speed == 0) {
        std::strcpy(result, "Unknown");
        return -1;
    }
    std::snprintf(result, kShortText, "%dns", speed);
    return 0;
}
