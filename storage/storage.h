// IDE drives, from the kernel's /proc/ide tree and each drive's identify data.
#ifndef QARVEL_STORAGE_STORAGE_H
#define QARVEL_STORAGE_STORAGE_H

#include "api/types.h"

// The four classic IDE positions, in scan order: the ControllerNo texts. Position p is
// /proc/ide/ide<p/2>/hd<'a'+p>/ and /dev/hd<'a'+p>.
constexpr int kIdePositions = 4;
extern const char* const IdePositionText[kIdePositions];

// Fills quantityIDE and one driveArray entry per disk found (CD-ROMs and other media are
// skipped). Prints "No ide devices." when there is no /proc/ide.
void GetStorageInfo(StorageInformation* SI);

// Removes one newline at the end of `str`, if there is one.
void stripret(char* str);

// Decimal text of `dig` (at most 20 digits and a NUL); 0 gives the empty text.
void lltostr(char* str, unsigned long long dig);

#endif
