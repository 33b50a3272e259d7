// GetHealthInfo: the health family's dispatcher. Each row of kHealthCommands is one command;
// the step it names does the reading and fills the caller's record.
#include "api/health.h"

#include "api/exports.h"
#include "api/health_types.h"
#include "health/hwmon.h"
#include "process/state.h"

namespace qarvel {
namespace {

const HealthCommand kHealthCommands[] = {
    {HEALTH_HWMON, sizeof(HWMON_INFO), FillHwmon},
    {HEALTH_EDAC, sizeof(EDAC_INFO), FillEdac},
    {HEALTH_DISK, sizeof(DiskHealthInformation), FillDiskHealth},
};

}  // namespace

const HealthCommand* FindHealthCommand(unsigned long command) {
    for (const HealthCommand& row : kHealthCommands)
        if (row.fill && row.command == command) return &row;
    return nullptr;
}

}  // namespace qarvel

extern "C" int GetHealthInfo(unsigned long command, LPVOID buffer) {
    const qarvel::HealthCommand* row = qarvel::FindHealthCommand(command);
    if (!row || !buffer) return -1;
    BusyFlag busy(qarvel::State().busy.NoEnterHealth);
    if (!busy) return 1;
    return row->fill(buffer);
}
