// The compact disk image of a capture (sim/README.md): only the sectors that were read, with
// the disk's size, in a file whose size is what it holds, so that any tool copies or sends it
// as it is. Header-only: `qarvel capture` writes it without the simulator, and the tests that
// hand a disk to sfdisk expand it without it.
//
// Layout, every number little-endian:
//   header (32 bytes): "QRVLDISK", version (u32, 1), sector size (u32), disk size in bytes
//                      (u64), run count (u32), zero (u32)
//   each run:          first sector (u64), sector count (u32), zero (u32), then the sectors'
//                      bytes (count x sector size)
// Runs are in ascending order and do not overlap; every sector outside them reads as zeros.
#ifndef QARVEL_SIM_COMPACT_IMAGE_H
#define QARVEL_SIM_COMPACT_IMAGE_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sim {

constexpr char kCompactMagic[8] = {'Q', 'R', 'V', 'L', 'D', 'I', 'S', 'K'};
constexpr std::uint32_t kCompactVersion = 1;
constexpr std::size_t kCompactHeader = 32, kCompactRunHeader = 16;

struct CompactRun {
    std::uint64_t first;        // sector
    std::uint32_t count;        // sectors
    std::uint64_t data_offset;  // of its bytes in the file
};

struct CompactLayout {
    std::uint64_t disk_size = 0;
    std::uint32_t sector_size = 0;
    std::vector<CompactRun> runs;
};

namespace compact_detail {
inline void put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
inline std::uint64_t get(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
    return value;
}
}  // namespace compact_detail

// The image of a disk of `disk_size` bytes holding `sectors` (a map from sector number to
// its bytes, each `sector_size` long: std::vector or std::array); adjacent sectors make one run.
template <typename Sectors>
std::string encode_compact(std::uint64_t disk_size, std::uint32_t sector_size, const Sectors& sectors) {
    using compact_detail::put;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> runs;  // first, count
    for (const auto& [sector, bytes] : sectors) {
        (void)bytes;
        if (!runs.empty() && runs.back().first + runs.back().second == sector)
            ++runs.back().second;
        else
            runs.push_back({sector, 1});
    }
    std::string out(kCompactMagic, sizeof kCompactMagic);
    put(out, kCompactVersion, 4);
    put(out, sector_size, 4);
    put(out, disk_size, 8);
    put(out, runs.size(), 4);
    put(out, 0, 4);
    auto sector = sectors.begin();
    for (const auto& [first, count] : runs) {
        put(out, first, 8);
        put(out, count, 4);
        put(out, 0, 4);
        for (std::uint32_t i = 0; i < count; ++i, ++sector) {
            const auto& bytes = sector->second;
            std::string data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            data.resize(sector_size, '\0');
            out += data;
        }
    }
    return out;
}

// Whether a file starting with these bytes is a compact image (a raw image is anything else).
inline bool is_compact(const void* start, std::size_t count) {
    return count >= sizeof kCompactMagic && std::memcmp(start, kCompactMagic, sizeof kCompactMagic) == 0;
}

// The runs of a compact image of `file_size` bytes, read through `read(offset, buffer, count)`
// (the number of bytes read). Every count and offset is checked against the file and the
// disk: false with `error` set when one does not fit.
template <typename Read>
bool read_compact_layout(Read read, std::uint64_t file_size, CompactLayout& layout, std::string& error) {
    using compact_detail::get;
    unsigned char header[kCompactHeader];
    if (file_size < kCompactHeader || read(0, header, kCompactHeader) != static_cast<long>(kCompactHeader) ||
        !is_compact(header, sizeof header)) {
        error = "no compact image header";
        return false;
    }
    if (get(header + 8, 4) != kCompactVersion) {
        error = "compact image version " + std::to_string(get(header + 8, 4)) + " (this reader knows 1)";
        return false;
    }
    layout.sector_size = static_cast<std::uint32_t>(get(header + 12, 4));
    layout.disk_size = get(header + 16, 8);
    const std::uint64_t count = get(header + 24, 4);
    if (layout.sector_size < 512 || layout.sector_size > 65536 || (layout.sector_size & (layout.sector_size - 1))) {
        error = "sector size " + std::to_string(layout.sector_size) + " (512 to 65536, a power of two)";
        return false;
    }
    const std::uint64_t disk_sectors = layout.disk_size / layout.sector_size;
    std::uint64_t at = kCompactHeader, next_free = 0;
    layout.runs.clear();
    for (std::uint64_t n = 0; n < count; ++n) {
        unsigned char run[kCompactRunHeader];
        if (file_size - at < kCompactRunHeader || read(at, run, kCompactRunHeader) != static_cast<long>(kCompactRunHeader)) {
            error = "run " + std::to_string(n) + " at offset " + std::to_string(at) + ": past the end of the file";
            return false;
        }
        const std::uint64_t first = get(run, 8), sectors = get(run + 8, 4);
        at += kCompactRunHeader;
        const std::uint64_t bytes = sectors * layout.sector_size;
        if (sectors == 0 || first < next_free || first > disk_sectors || sectors > disk_sectors - first) {
            error = "run " + std::to_string(n) + " (sectors " + std::to_string(first) + "+" + std::to_string(sectors) +
                    ") is empty, out of order or beyond the disk's " + std::to_string(disk_sectors) + " sectors";
            return false;
        }
        if (file_size - at < bytes) {
            error = "run " + std::to_string(n) + " at offset " + std::to_string(at) + ": its sectors pass the end of the file";
            return false;
        }
        layout.runs.push_back({first, static_cast<std::uint32_t>(sectors), at});
        at += bytes;
        next_free = first + sectors;
    }
    return true;
}

}  // namespace sim

#endif
