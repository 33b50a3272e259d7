// The partitions of the disks. Disks found through /proc/ide are walked the classic way:
// the four primary entries of each master boot record and the logical partitions of an
// extended partition of type 0x0F, found by cylinder arithmetic. Disks found through
// /sys/block are read as the kernel reads them (storage/ptable.h).
#ifndef QARVEL_STORAGE_PARTITION_H
#define QARVEL_STORAGE_PARTITION_H

#include "api/types.h"
#include "process/entries.h"

// One 16-byte partition table entry, byte for byte as on disk (no multi-byte fields, so the
// image is the same on every host).
struct partition {
    unsigned char boot_ind;
    unsigned char head;
    unsigned char sector;
    unsigned char cyl;
    unsigned char sys_ind;  // partition type; 0 is an empty entry
    unsigned char end_head;
    unsigned char end_sector;
    unsigned char end_cyl;
    unsigned char start4[4];  // first sector, little-endian
    unsigned char size4[4];   // number of sectors, little-endian
};
static_assert(sizeof(partition) == 16, "a partition table entry is 16 bytes");

// Fills quantity and one entry per partition of a known type, at most 26.
void GetAllPartitionInfo(PartitionInformation* PI);
// The same partitions into `parts`; with `everyDisk`, those of every disk, where the record's
// walk looks at the disks its 24 drive entries hold.
void ListPartitions(qarvel::Entries<PARTITION>& parts, bool everyDisk);

// Walks the extended partition `ext` of the open disk `fd`, appending its logical
// partitions of known type to PI at *nr_part (which it advances) with descriptions made
// from `dev`. Returns the number of extended boot records visited.
int get_logic_info_from_ext(int fd, partition ext, PartitionInformation* PI, int* nr_part, char* dev);

// The little-endian 32-bit value of arr[0..3].
void valueofarray(unsigned char* arr, unsigned long long* value);

// 64-bit seek of `fd` by (offset_high << 32 | offset_low) from `origin`; the new position in
// *result. 0, or -1 with errno set.
int _llseek(unsigned int fd, unsigned long offset_high, unsigned long offset_low, long long* result,
            unsigned int origin);

#endif
