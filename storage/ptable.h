// Partition tables as the kernel and sfdisk read them: the MBR with its extended
// partitions followed through the links stored in each extended boot record (wherever
// they lie, whatever the alignment), and GPT with its CRC checks and backup header.
// Independent of where the bytes come from.
#ifndef QARVEL_STORAGE_PTABLE_H
#define QARVEL_STORAGE_PTABLE_H

#include <cstddef>
#include <functional>
#include <vector>

// Reads `count` bytes at byte `offset` of the disk; false unless all were read.
using DiskReader = std::function<bool(unsigned long long offset, void* buffer, std::size_t count)>;

struct TablePartition {
    int number;                   // 1-4 primary, 5 on logical; GPT: entry index + 1
    unsigned long long start;     // in logical sectors
    unsigned long long sectors;
    bool logical;                 // inside an extended partition
    bool gpt;
    unsigned char type;           // MBR type (0 for GPT)
    unsigned char guid[16];       // GPT type GUID as stored (mixed endian)
};

// Every partition of the disk, in number order. `disk_bytes` bounds every read;
// `sector_size` is the disk's logical sector size.
std::vector<TablePartition> ReadPartitionTable(const DiskReader& read, unsigned long long disk_bytes,
                                               unsigned sector_size);

// The FileSystem text of a partition, or null for a kind the tables do not name.
const char* PartitionTypeText(const TablePartition& partition);

// The MBR type texts of primary and of logical partitions.
const char* PrimaryTypeText(unsigned char type);
const char* LogicalTypeText(unsigned char type);

// CRC-32 of IEEE 802.3 as GPT uses it (UEFI 2.9 5.3.2).
unsigned int Crc32(const unsigned char* bytes, std::size_t count);

#endif
