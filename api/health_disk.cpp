// HEALTH_DISK: the disks' own health (storage/disk_health.h) into the caller's record.
#include "api/health.h"
#include "api/health_types.h"
#include "storage/disk_health.h"

namespace qarvel {

int FillDiskHealth(void* record) { return ReadDiskHealth(*static_cast<DiskHealthInformation*>(record)); }

}  // namespace qarvel
