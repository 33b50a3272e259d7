// The commands of GetHealthInfo: one row each, naming the record it fills and the step that
// fills it. A source of health data is one row here plus its own source table.
#ifndef QARVEL_API_HEALTH_H
#define QARVEL_API_HEALTH_H

#include <cstddef>

namespace qarvel {

struct HealthCommand {
    unsigned long command;    // HEALTH_...
    std::size_t recordSize;   // sizeof the command's record
    int (*fill)(void* record);  // 0 or -1; the caller holds the health family's busy flag
};

// The rows, in api/health.cpp.
const HealthCommand* FindHealthCommand(unsigned long command);

// HEALTH_DISK: DiskHealthInformation (api/health_disk.cpp).
int FillDiskHealth(void* record);

}  // namespace qarvel

#endif  // QARVEL_API_HEALTH_H
