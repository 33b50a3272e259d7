#include "storage/ptable.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

constexpr std::size_t kMbrSize = 512;
constexpr std::size_t kTableOffset = 0x1BE;
constexpr std::size_t kEntrySize = 16;
constexpr unsigned char kGptProtective = 0xEE;
// sfdisk's limit on partition numbers; a looping chain of extended boot records ends there.
constexpr int kLastNumber = 60;
// Largest GPT entry array read (the usual one is 128 entries of 128 bytes).
constexpr unsigned long long kMaxEntryArray = 1 << 20;

unsigned int Le32(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
           static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24;
}

unsigned long long Le64(const unsigned char* p) {
    return static_cast<unsigned long long>(Le32(p)) | static_cast<unsigned long long>(Le32(p + 4)) << 32;
}

bool IsExtended(unsigned char type) { return type == 0x05 || type == 0x0F || type == 0x85; }

struct MbrEntry {
    unsigned char type;
    unsigned long long start, sectors;
};

MbrEntry EntryAt(const unsigned char* sector, int slot) {
    const unsigned char* e = sector + kTableOffset + kEntrySize * slot;
    return {e[4], Le32(e + 8), Le32(e + 12)};
}

bool HasSignature(const unsigned char* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

class Walker {
public:
    Walker(const DiskReader& read, unsigned long long disk_bytes, unsigned sector_size)
        : read_(read), disk_bytes_(disk_bytes), sector_(sector_size) {}

    std::vector<TablePartition> Read() {
        unsigned char mbr[kMbrSize];
        if (!ReadAt(0, mbr, sizeof mbr) || !HasSignature(mbr)) return out_;
        for (int slot = 0; slot < 4; ++slot)
            if (EntryAt(mbr, slot).type == kGptProtective) {
                ReadGpt();
                return out_;
            }
        for (int slot = 0; slot < 4; ++slot) {
            MbrEntry e = EntryAt(mbr, slot);
            if (e.type != 0 && e.sectors != 0) Add(slot + 1, e, false);
        }
        int next = 5;
        for (int slot = 0; slot < 4; ++slot) {
            MbrEntry e = EntryAt(mbr, slot);
            if (IsExtended(e.type) && e.sectors != 0) WalkExtended(e.start, next);
        }
        return out_;
    }

private:
    bool ReadAt(unsigned long long offset, void* buffer, std::size_t count) {
        if (offset > disk_bytes_ || count > disk_bytes_ - offset) return false;
        return read_(offset, buffer, count);
    }

    void Add(int number, const MbrEntry& e, bool logical) {
        TablePartition p{};
        p.number = number;
        p.start = e.start;
        p.sectors = e.sectors;
        p.logical = logical;
        p.type = e.type;
        out_.push_back(p);
    }

    // Each extended boot record holds one logical partition, relative to itself, and a
    // link to the next record, relative to the first one. Records without a logical
    // partition take no number. A chain that loops is followed, as sfdisk and the kernel
    // follow it, until the record limit.
    void WalkExtended(unsigned long long first, int& next) {
        unsigned long long record = first;
        // sfdisk gives every record a number before it drops those without a partition,
        // so at most this many records are read.
        for (int records = 0; records < kLastNumber - 4; ++records) {
            unsigned char ebr[kMbrSize];
            if (!ReadAt(record * sector_, ebr, sizeof ebr) || !HasSignature(ebr)) return;
            const MbrEntry* data = nullptr;
            const MbrEntry* link = nullptr;
            MbrEntry entries[4];
            for (int slot = 0; slot < 4; ++slot) {
                entries[slot] = EntryAt(ebr, slot);
                if (entries[slot].sectors == 0 || entries[slot].type == 0) continue;
                if (IsExtended(entries[slot].type)) {
                    if (!link) link = &entries[slot];
                } else if (!data) {
                    data = &entries[slot];
                }
            }
            if (data) Add(next++, {data->type, record + data->start, data->sectors}, true);
            if (!link) return;
            record = first + link->start;
        }
    }

    // UEFI 2.9 5.3.2: the header at LBA 1, its backup where the header says (or in the
    // last sector); each checked by its own CRC and by the CRC of its entry array.
    void ReadGpt() {
        unsigned long long last_lba = disk_bytes_ / sector_ - 1;
        unsigned long long alternate = last_lba;
        if (ReadGptAt(1, alternate)) return;
        unsigned long long unused = 0;
        if (alternate != last_lba && alternate > 1 && alternate <= last_lba && ReadGptAt(alternate, unused)) return;
        ReadGptAt(last_lba, unused);
    }

    bool ReadGptAt(unsigned long long lba, unsigned long long& alternate) {
        std::vector<unsigned char> header(sector_);
        if (!ReadAt(lba * sector_, header.data(), header.size())) return false;
        if (std::memcmp(header.data(), "EFI PART", 8) != 0) return false;
        unsigned int size = Le32(&header[12]);
        if (size < 92 || size > sector_) return false;
        unsigned int stored_crc = Le32(&header[16]);
        std::memset(&header[16], 0, 4);
        if (Crc32(header.data(), size) != stored_crc || Le64(&header[24]) != lba) return false;
        alternate = Le64(&header[32]);
        unsigned long long entries_lba = Le64(&header[72]);
        unsigned long long count = Le32(&header[80]);
        unsigned long long entry_size = Le32(&header[84]);
        // A header whose CRC is right may still hold anything: its array must lie on the disk
        // and be of a sane size before it is read.
        if (entry_size < 128 || entry_size % 8 != 0 || entry_size > kMaxEntryArray ||
            count * entry_size > kMaxEntryArray || entries_lba > disk_bytes_ / sector_)
            return false;
        std::vector<unsigned char> array(static_cast<std::size_t>(count * entry_size));
        if (!array.empty() && !ReadAt(entries_lba * sector_, array.data(), array.size())) return false;
        if (Crc32(array.data(), array.size()) != Le32(&header[88])) return false;
        for (unsigned long long i = 0; i < count; ++i) {
            const unsigned char* e = &array[static_cast<std::size_t>(i * entry_size)];
            static const unsigned char kUnused[16] = {};
            if (std::memcmp(e, kUnused, 16) == 0) continue;
            unsigned long long first = Le64(e + 32), last = Le64(e + 40);
            // As the kernel does, an entry that ends past the disk is no partition (its
            // size in bytes could not even be counted).
            if (last < first || last > disk_bytes_ / sector_ - 1) continue;
            TablePartition p{};
            p.number = static_cast<int>(i + 1);
            p.start = first;
            p.sectors = last - first + 1;
            p.gpt = true;
            std::memcpy(p.guid, e, 16);
            out_.push_back(p);
        }
        return true;
    }

    const DiskReader& read_;
    unsigned long long disk_bytes_;
    unsigned long long sector_;
    std::vector<TablePartition> out_;
};

struct TypeText {
    unsigned char type;
    const char* text;
};

// File-system texts of primary entries (master boot record).
const TypeText kPrimaryTypes[] = {
    {0x07, "HPFS/NTFS"},
    {0x0B, "Win95 FAT32"},
    {0x82, "Linux swap"},
    {0x83, "Linux"},
};

// File-system texts of logical partitions (first entry of an extended boot record).
const TypeText kLogicalTypes[] = {
    {0x06, "FAT 16"},      {0x0B, "Win95 FAT32"},      {0x0C, "Win95 FAT32 (LBA)"}, {0x0E, "Win95 FAT16 (LBA)"},
    {0x16, "Hidden FAT16"}, {0x17, "Hidden HPFS/NTFS"}, {0x82, "Linux swap"},        {0x83, "Linux"},
};

template <std::size_t N>
const char* TextOf(const TypeText (&table)[N], unsigned char type) {
    for (const TypeText& row : table)
        if (row.type == type) return row.text;
    return nullptr;
}

// GPT partition type GUIDs and the MBR type of the same kind (the type's text is the
// primary table's).
struct GptKind {
    const char* guid;
    unsigned char mbr_type;
};
const GptKind kGptKinds[] = {
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", 0x83},  // Linux filesystem data
    {"44479540-F297-41B2-9AF7-D131D5F0458A", 0x83},  // Linux root (x86)
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", 0x83},  // Linux root (x86-64)
    {"75250D76-8CC6-458E-BD66-BD47CC81A812", 0x83},  // Linux /usr (x86)
    {"8484680C-9521-48C6-9C11-B0720656F69E", 0x83},  // Linux /usr (x86-64)
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", 0x83},  // Linux /home
    {"3B8F8425-20E0-4F3B-907F-1A25A76F98E8", 0x83},  // Linux /srv
    {"4D21B016-B534-45C2-A9FB-5C16E091FD2D", 0x83},  // Linux /var
    {"7EC6F557-3BC5-4ACA-B293-16EF5DF639D1", 0x83},  // Linux /var/tmp
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", 0x83},  // Linux extended boot
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", 0x82},  // Linux swap
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 0x07},  // Microsoft basic data
};

std::string GuidText(const unsigned char* g) {
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

}  // namespace

std::vector<TablePartition> ReadPartitionTable(const DiskReader& read, unsigned long long disk_bytes,
                                               unsigned sector_size) {
    if (sector_size < kMbrSize || sector_size % kMbrSize != 0) sector_size = kMbrSize;
    return Walker(read, disk_bytes, sector_size).Read();
}

const char* PrimaryTypeText(unsigned char type) { return TextOf(kPrimaryTypes, type); }
const char* LogicalTypeText(unsigned char type) { return TextOf(kLogicalTypes, type); }

const char* PartitionTypeText(const TablePartition& partition) {
    if (!partition.gpt) return partition.logical ? LogicalTypeText(partition.type) : PrimaryTypeText(partition.type);
    std::string guid = GuidText(partition.guid);
    for (const GptKind& kind : kGptKinds)
        if (guid == kind.guid) return PrimaryTypeText(kind.mbr_type);
    return nullptr;
}

namespace {

// The byte-at-a-time table of the reflected polynomial EDB88320h.
struct Crc32Table {
    unsigned int entry[256];
    constexpr Crc32Table() : entry() {
        for (unsigned int n = 0; n < 256; ++n) {
            unsigned int c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
            entry[n] = c;
        }
    }
};
constexpr Crc32Table kCrc32;

}  // namespace

unsigned int Crc32(const unsigned char* bytes, std::size_t count) {
    unsigned int crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ kCrc32.entry[(crc ^ bytes[i]) & 0xFF];
    return ~crc;
}
