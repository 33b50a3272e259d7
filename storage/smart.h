// What a disk says of its own health, decoded from the bytes it answered: the ATA SMART data
// and threshold pages (SMART READ DATA, READ THRESHOLDS) and the NVMe SMART / Health
// Information log page (02h). Pure functions of the bytes and their count, so the fuzz
// targets and the tests reach them without a disk; every read is bounded by the bytes held.
#ifndef QARVEL_STORAGE_SMART_H
#define QARVEL_STORAGE_SMART_H

#include <cstddef>
#include <cstdint>

#include "api/health_types.h"

namespace smart {

constexpr std::size_t kAtaPage = 512;   // SMART data, thresholds, IDENTIFY: one sector each
constexpr std::size_t kNvmeLog = 512;   // log page 02h

// The IDENTIFY DEVICE words that say whether the feature set is there and switched on
// (ACS-3 7.12.7): word 82 bit 0 supported, word 85 bit 0 enabled, each only when the word's
// own validity bits (14 set, 15 clear) say the word holds anything.
struct SmartSupport {
    bool known = false;  // the words were valid
    bool supported = false;
    bool enabled = false;
};
SmartSupport DecodeIdentify(const std::uint8_t* data, std::size_t size);

// The 30 attribute slots of the data page (12 bytes each from byte 2): id, flags, current,
// worst, the 48-bit raw value. Slots with id 0 are left out. The page's last byte makes its
// 512 bytes sum to 0; `checksumGood` says whether it does. False (nothing filled) for a page
// shorter than 512 bytes.
bool DecodeSmartData(const std::uint8_t* data, std::size_t size, DiskAtaHealth& out);

// The threshold page has the same slots (id, threshold); each threshold is given to the
// attribute of the same id already decoded, and "failing now" and "failed in the past" are
// worked out from it. False for a page shorter than 512 bytes.
bool DecodeSmartThresholds(const std::uint8_t* data, std::size_t size, DiskAtaHealth& out);

// The named fields an agent watches (temperature 194, else 190; power-on hours 9;
// reallocated 5; pending 197; offline uncorrectable 198; interface CRC errors 199), copied
// from the decoded attributes into `disk`, each with its DISK_GIVEN_ bit.
void NameAtaFields(DiskHealth& disk);

// The NVMe health log (NVMe 1.4 figure 194). Its 128-bit counters are saturated to 2^64-1,
// never wrapped. Fills disk.nvme, the temperature (Kelvin to Celsius), power-on hours and the
// overall verdict. False for fewer than 512 bytes.
bool DecodeNvmeHealth(const std::uint8_t* data, std::size_t size, DiskHealth& disk);

// A little-endian counter of `bytes` (up to 16) bytes, saturated to 2^64-1.
std::uint64_t SaturatedCounter(const std::uint8_t* data, std::size_t bytes);

}  // namespace smart

#endif
