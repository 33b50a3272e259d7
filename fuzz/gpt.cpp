// GPT: a header and its entry array, handed to the partition-table decoder. A fuzzer alone
// would almost never guess a CRC-32, so both CRCs are made right before the walk, and the
// walk gets past them to the fields behind. The first byte chooses the logical sector size
// and whether the primary header is spoilt (so that the backup is looked for); the next
// sector's worth is the header; the rest is the entry array, which the disk serves over
// and over from the sector after the header on, wherever the header says it lies.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz.h"
#include "storage/ptable.h"

namespace {

constexpr unsigned long long kDiskBytes = 1ULL << 30;
constexpr std::size_t kHeaderSizeAt = 12, kHeaderCrcAt = 16, kEntriesLbaAt = 72, kCountAt = 80,
                      kEntrySizeAt = 84, kEntriesCrcAt = 88;
constexpr unsigned long long kMostEntryBytes = 1 << 20;  // as the decoder bounds the array
// Arrays are cut to 8 entries of 128 bytes: the decoder's bound is tested by its unit tests,
// and summing a long array twice every run would slow the fuzzer a hundredfold.
constexpr unsigned long long kFuzzedEntryBytes = 1 << 10;

unsigned long long Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    unsigned long long v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

void PutLe32(std::vector<std::uint8_t>& b, std::size_t at, unsigned int v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

class Disk {
public:
    Disk(unsigned sector, std::vector<std::uint8_t> header, std::vector<std::uint8_t> entries, bool backup_only)
        : sector_(sector), header_(std::move(header)), entries_(std::move(entries)), backup_only_(backup_only) {
        mbr_.assign(sector_, 0);
        mbr_[0x1BE + 4] = 0xEE;  // one protective entry over the whole disk
        PutLe32(mbr_, 0x1BE + 8, 1);
        PutLe32(mbr_, 0x1BE + 12, 0xFFFFFFFFu);
        mbr_[510] = 0x55;
        mbr_[511] = 0xAA;
    }

    bool read(unsigned long long offset, void* buffer, std::size_t count) const {
        if (offset > kDiskBytes || count > kDiskBytes - offset) return false;
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (count > 0) {
            std::size_t n = copy_run(offset, out, count);
            offset += n, out += n, count -= n;
        }
        return true;
    }

    // Both CRCs of the header, taken over what the disk serves where the header points.
    void seal() {
        const unsigned long long count = Le(header_, kCountAt, 4), size = Le(header_, kEntrySizeAt, 4);
        const unsigned long long lba = Le(header_, kEntriesLbaAt, 8);
        if (count * size <= kMostEntryBytes && lba < kDiskBytes / sector_) {
            std::vector<std::uint8_t> array(static_cast<std::size_t>(count * size));
            if (read(lba * sector_, array.data(), array.size()))
                PutLe32(header_, kEntriesCrcAt, Crc32(array.data(), array.size()));
        }
        const unsigned long long header_size = Le(header_, kHeaderSizeAt, 4);
        if (header_size >= 92 && header_size <= sector_) {
            PutLe32(header_, kHeaderCrcAt, 0);
            PutLe32(header_, kHeaderCrcAt, Crc32(header_.data(), static_cast<std::size_t>(header_size)));
        }
    }

private:
    // Copies the bytes from `offset` up to the end of their sector, or of the entry bytes'
    // repetition, whichever comes first; returns how many.
    std::size_t copy_run(unsigned long long offset, std::uint8_t* out, std::size_t count) const {
        const unsigned long long lba = offset / sector_, within = offset % sector_;
        const unsigned long long last = kDiskBytes / sector_ - 1;
        std::size_t n = static_cast<std::size_t>(std::min<unsigned long long>(count, sector_ - within));
        if (lba == 0) {
            std::copy_n(mbr_.begin() + static_cast<long>(within), n, out);
        } else if (lba == (backup_only_ ? last : 1)) {
            std::copy_n(header_.begin() + static_cast<long>(within), n, out);
        } else if (lba == 1 || entries_.empty()) {  // the spoilt primary, or no entry bytes
            std::fill_n(out, n, 0);
        } else {
            const std::size_t from = static_cast<std::size_t>((offset - 2 * sector_) % entries_.size());
            n = std::min(n, entries_.size() - from);
            std::copy_n(entries_.begin() + static_cast<long>(from), n, out);
        }
        return n;
    }

    unsigned long long sector_;
    std::vector<std::uint8_t> mbr_, header_, entries_;
    bool backup_only_;
};

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return;
    const unsigned sector = data[0] & 1 ? 4096 : 512;
    const bool backup_only = data[0] & 2;
    ++data, --size;
    const std::size_t header_bytes = std::min<std::size_t>(size, sector);
    std::vector<std::uint8_t> header(data, data + header_bytes);
    header.resize(sector, 0);
    std::copy_n("EFI PART", 8, header.begin());
    const unsigned long long entry_size = Le(header, kEntrySizeAt, 4);
    if (entry_size > 0 && Le(header, kCountAt, 4) * entry_size > kFuzzedEntryBytes)
        PutLe32(header, kCountAt, static_cast<unsigned int>(kFuzzedEntryBytes / entry_size));
    // The header's own LBA (byte 24) is left to the input: naming another one is refused.
    Disk disk(sector, std::move(header), std::vector<std::uint8_t>(data + header_bytes, data + size), backup_only);
    disk.seal();
    const DiskReader read = [&disk](unsigned long long offset, void* buffer, std::size_t count) {
        return disk.read(offset, buffer, count);
    };
    for (const TablePartition& p : ReadPartitionTable(read, kDiskBytes, sector))
        if (p.number <= 0 || p.sectors == 0 || !p.gpt) __builtin_trap();
        else
            (void)PartitionTypeText(p);
}
