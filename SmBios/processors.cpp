// Processors (type 4) and their level 1 to 3 caches (type 7).
#include <cstdio>
#include <cstring>

#include "SmBios/CodeTable.h"
#include "SmBios/SmBios.h"

namespace {

// SMBIOS 7.5: Processor Information. A 2.0 structure ends after `upgrade` (26 bytes), a
// 2.1/2.2 one after the cache handles (32 bytes).
constexpr int kManufacturer = 7, kFamily = 6, kFamily2 = 0x28, kVersion = 16, kVoltage = 17, kExternalClock = 18, kMaxSpeed = 20,
              kCurrentSpeed = 22, kStatus = 24, kCacheHandles = 26, kSerialNumber = 32;
// SMBIOS 7.8: Cache Information.
constexpr int kCacheDesignation = 4, kCacheMaxSize = 7, kCacheInstalledSize = 9, kCacheSpeed = 15;

constexpr int kMaxProcessors = 16;
// As many structures of one type as the index numbers.
constexpr int kMaxOccurrences = 255;
constexpr unsigned int kSeeFamily2 = 0xFE;
constexpr unsigned short kNoCache = 0xFFFF;
constexpr unsigned char kPopulated = 0x40, kStatusMask = 0x07;
// The longest text a getter without a length writes, NUL included ("Bios Not Provide").
constexpr unsigned int kShortText = 17;

// SMBIOS 7.5.2: processor families. Codes above 0xFD are given by the Processor Family 2
// word (0xFE in the family byte); the names the first tables gave are kept as they were.
constexpr CodeTable<0x272> kFamilies = {
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
    {0x14, "Celeron M"},
    {0x15, "Pentium 4 HT"},
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
    {0x28, "Core Duo"},
    {0x29, "Core Duo Mobile"},
    {0x2A, "Core Solo Mobile"},
    {0x2B, "Atom"},
    {0x2C, "Core M"},
    {0x2D, "Core m3"},
    {0x2E, "Core m5"},
    {0x2F, "Core m7"},
    {48, "Alpha Family3"},
    {49, "Alpha 21064"},
    {50, "Alpha 21066"},
    {51, "Alpha 21164"},
    {52, "Alpha 21164PC"},
    {53, "Alpha 21164a"},
    {54, "Alpha 21264"},
    {55, "Alpha 21364"},
    {0x38, "Turion II Ultra Dual-Core Mobile M"},
    {0x39, "Turion II Dual-Core Mobile M"},
    {0x3A, "Athlon II Dual-Core M"},
    {0x3B, "Opteron 6100"},
    {0x3C, "Opteron 4100"},
    {0x3D, "Opteron 6200"},
    {0x3E, "Opteron 4200"},
    {0x3F, "FX"},
    {0x40, "MIPS"},
    {0x41, "MIPS R4000"},
    {0x42, "MIPS R4200"},
    {0x43, "MIPS R4400"},
    {0x44, "MIPS R4600"},
    {0x45, "MIPS R10000"},
    {0x46, "C-Series"},
    {0x47, "E-Series"},
    {0x48, "A-Series"},
    {0x49, "G-Series"},
    {0x4A, "Z-Series"},
    {0x4B, "R-Series"},
    {0x4C, "Opteron 4300"},
    {0x4D, "Opteron 6300"},
    {0x4E, "Opteron 3300"},
    {0x4F, "FirePro"},
    {0x50, "SPARC"},
    {0x51, "SuperSPARC"},
    {0x52, "MicroSPARC II"},
    {0x53, "MicroSPARC IIep"},
    {0x54, "UltraSPARC"},
    {0x55, "UltraSPARC II"},
    {0x56, "UltraSPARC IIi"},
    {0x57, "UltraSPARC III"},
    {0x58, "UltraSPARC IIIi"},
    {0x60, "68040"},
    {0x61, "68xxx"},
    {0x62, "68000"},
    {0x63, "68010"},
    {0x64, "68020"},
    {0x65, "68030"},
    {0x66, "Athlon X4"},
    {0x67, "Opteron X1000"},
    {0x68, "Opteron X2000"},
    {0x69, "Opteron A-Series"},
    {0x6A, "Opteron X3000"},
    {0x6B, "Zen"},
    {0x70, "Hobbit"},
    {0x78, "Crusoe TM5000"},
    {0x79, "Crusoe TM3000"},
    {0x7A, "Efficeon TM8000"},
    {0x80, "Weitek"},
    {0x82, "Itanium"},
    {0x83, "Athlon 64"},
    {0x84, "Opteron"},
    {0x85, "Sempron"},
    {0x86, "Turion 64"},
    {0x87, "Dual-Core Opteron"},
    {0x88, "Athlon 64 X2"},
    {0x89, "Turion 64 X2"},
    {0x8A, "Quad-Core Opteron"},
    {0x8B, "Third-Generation Opteron"},
    {0x8C, "Phenom FX"},
    {0x8D, "Phenom X4"},
    {0x8E, "Phenom X2"},
    {0x8F, "Athlon X2"},
    {0x90, "PA-RISC"},
    {0x91, "PA-RISC 8500"},
    {0x92, "PA-RISC 8000"},
    {0x93, "PA-RISC 7300LC"},
    {0x94, "PA-RISC 7200"},
    {0x95, "PA-RISC 7100LC"},
    {0x96, "PA-RISC 7100"},
    {0xA0, "V30"},
    {0xA1, "Quad-Core Xeon 3200"},
    {0xA2, "Dual-Core Xeon 3000"},
    {0xA3, "Quad-Core Xeon 5300"},
    {0xA4, "Dual-Core Xeon 5100"},
    {0xA5, "Dual-Core Xeon 5000"},
    {0xA6, "Dual-Core Xeon LV"},
    {0xA7, "Dual-Core Xeon ULV"},
    {0xA8, "Dual-Core Xeon 7100"},
    {0xA9, "Quad-Core Xeon 5400"},
    {0xAA, "Quad-Core Xeon"},
    {0xAB, "Dual-Core Xeon 5200"},
    {0xAC, "Dual-Core Xeon 7200"},
    {0xAD, "Quad-Core Xeon 7300"},
    {0xAE, "Quad-Core Xeon 7400"},
    {0xAF, "Multi-Core Xeon 7400"},
    {176, "Pentium III Xeoprocessor"},
    {177, "Pentium III Processor with Intel SpeedStep Technology"},
    {178, "Pentium 4 Processor"},
    {179, "Intel Xeon"},
    {180, "AS400 Family"},
    {181, "Intel Xeon processor MP"},
    {182, "AMD AthlonXP Processor Family"},
    {183, "AMD AthlonMP Processor Family"},
    {0xB8, "Itanium 2"},
    {0xB9, "Pentium M"},
    {0xBA, "Celeron D"},
    {0xBB, "Pentium D"},
    {0xBC, "Pentium EE"},
    {0xBD, "Core Solo"},
    {0xBE, "Core 2 or K7"},
    {0xBF, "Core 2 Duo"},
    {0xC0, "Core 2 Solo"},
    {0xC1, "Core 2 Extreme"},
    {0xC2, "Core 2 Quad"},
    {0xC3, "Core 2 Extreme Mobile"},
    {0xC4, "Core 2 Duo Mobile"},
    {0xC5, "Core 2 Solo Mobile"},
    {0xC6, "Core i7"},
    {0xC7, "Dual-Core Celeron"},
    {200, "IBM390 Family"},
    {201, "G4"},
    {202, "G5"},
    {0xCB, "ESA/390 G6"},
    {0xCC, "z/Architecture"},
    {0xCD, "Core i5"},
    {0xCE, "Core i3"},
    {0xCF, "Core i9"},
    {0xD2, "C7-M"},
    {0xD3, "C7-D"},
    {0xD4, "C7"},
    {0xD5, "Eden"},
    {0xD6, "Multi-Core Xeon"},
    {0xD7, "Dual-Core Xeon 3xxx"},
    {0xD8, "Quad-Core Xeon 3xxx"},
    {0xD9, "Nano"},
    {0xDA, "Dual-Core Xeon 5xxx"},
    {0xDB, "Quad-Core Xeon 5xxx"},
    {0xDD, "Dual-Core Xeon 7xxx"},
    {0xDE, "Quad-Core Xeon 7xxx"},
    {0xDF, "Multi-Core Xeon 7xxx"},
    {0xE0, "Multi-Core Xeon 3400"},
    {0xE4, "Opteron 3000"},
    {0xE5, "Sempron II"},
    {0xE6, "Embedded Opteron Quad-Core"},
    {0xE7, "Phenom Triple-Core"},
    {0xE8, "Turion Ultra Dual-Core Mobile"},
    {0xE9, "Turion Dual-Core Mobile"},
    {0xEA, "Athlon Dual-Core"},
    {0xEB, "Sempron SI"},
    {0xEC, "Phenom II"},
    {0xED, "Athlon II"},
    {0xEE, "Six-Core Opteron"},
    {0xEF, "Sempron M"},
    {0xFA, "i860"},
    {0xFB, "i960"},
    {0x100, "ARMv7"},
    {0x101, "ARMv8"},
    {0x102, "ARMv9"},
    {0x104, "SH-3"},
    {0x105, "SH-4"},
    {0x118, "ARM"},
    {0x119, "StrongARM"},
    {0x12C, "6x86"},
    {0x12D, "MediaGX"},
    {0x12E, "MII"},
    {0x140, "WinChip"},
    {0x15E, "DSP"},
    {0x1F4, "Video Processor"},
    {0x200, "RV32"},
    {0x201, "RV64"},
    {0x202, "RV128"},
    {0x258, "LoongArch"},
    {0x259, "Loongson 1"},
    {0x25A, "Loongson 2"},
    {0x25B, "Loongson 3"},
    {0x25C, "Loongson 2K"},
    {0x25D, "Loongson 3A"},
    {0x25E, "Loongson 3B"},
    {0x25F, "Loongson 3C"},
    {0x260, "Loongson 3D"},
    {0x261, "Loongson 3E"},
    {0x262, "Dual-Core Loongson 2K 2xxx"},
    {0x26C, "Quad-Core Loongson 3A 5xxx"},
    {0x26D, "Multi-Core Loongson 3A 5xxx"},
    {0x26E, "Quad-Core Loongson 3B 5xxx"},
    {0x26F, "Multi-Core Loongson 3B 5xxx"},
    {0x270, "Multi-Core Loongson 3C 5xxx"},
    {0x271, "Multi-Core Loongson 3D 5xxx"},
};

// The low four bits of the voltage byte; bit 7 (a current-voltage encoding) is not looked at.
constexpr CodeTable<16> kVoltages = {
    {1, "5V"}, {2, "3.3V"}, {3, "5V or 3.3V"}, {4, "2.9V"}, {6, "2.9V or 3.3V"},
};

// A cache size word: 1 KB units, or 64 KB units when bit 15 is set.
int CacheKilobytes(unsigned short word) { return word & 0x8000 ? (word & 0x7FFF) * 64 : word; }

}  // namespace

int SmBios::GetProcessorVirtualQuantity() { return CountStructures(TYPE_PROCESSOR_INFO, kMaxProcessors); }

int SmBios::GetProcessorStructureCount() { return CountStructures(TYPE_PROCESSOR_INFO, kMaxOccurrences); }

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
    unsigned int family = cpu->ByteOr(kFamily, 0);
    // SMBIOS 2.6: 0xFE says "see Processor Family 2".
    if (family == kSeeFamily2) family = cpu->WordOr(kFamily2, 0);
    std::strcpy(result, kFamilies.Find(family, "Unknown"));
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
