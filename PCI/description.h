// The PCI inventory command: every function found, described as a DEV record.
#ifndef QARVEL_PCI_DESCRIPTION_H
#define QARVEL_PCI_DESCRIPTION_H

#include "api/types.h"
#include "process/entries.h"

// 0 after describing every function found (possibly none). When more functions answer
// than the record holds, the first 64 are described. -1 with quantity 0 when no source
// could be read: no sysfs and no port privilege.
int GetPciInfo(DeviceInformation* info);

// The same description of the first `most` functions (every one with no bound: INT_MAX),
// into `functions`: 0, or -1 when no source could be read.
int ListPciFunctions(qarvel::Entries<DEV>& functions, int most);

#endif
