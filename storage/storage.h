// IDE drives, from the kernel's /proc/ide tree and each drive's identify data.
#ifndef QARVEL_STORAGE_STORAGE_H
#define QARVEL_STORAGE_STORAGE_H

#include <vector>

#include "api/types.h"

struct BlockDisk;

// The four classic IDE positions, in scan order: the ControllerNo texts. Position p is
// /proc/ide/ide<p/2>/hd<'a'+p>/ and /dev/hd<'a'+p>.
constexpr int kIdePositions = 4;
extern const char* const IdePositionText[kIdePositions];

// Fills quantityIDE and one driveArray entry per disk found (CD-ROMs and other media are
// skipped). From /proc/ide where the kernel has it; otherwise from /sys/block, where
// disks behind IDE controllers come first and count in quantityIDE, and every other disk
// counts in quantitySCSI. Prints "No ide devices." and a newline when neither source
// shows any disk.
void GetStorageInfo(StorageInformation* SI);

// The same, also giving the /sys/block disks in record order (none when /proc/ide
// answered), for the partition walk. With `every`, every disk goes there instead, past the
// 24 the record holds (SI keeps the counts of all of them), and so do all /sys/block disks.
void GetStorageInfo(StorageInformation* SI, std::vector<BlockDisk>& disks, std::vector<DriveInfo>* every = nullptr);

// The source that answered the last GetStorageInfo: "/proc/ide" or "/sys/block"; null
// before the first call and when the last call found neither.
const char* DiskSourceName();

// Removes one newline at the end of `str`, if there is one.
void stripret(char* str);

// Decimal text of `dig` (at most 20 digits and a NUL); 0 gives the empty text.
void lltostr(char* str, unsigned long long dig);

#endif
