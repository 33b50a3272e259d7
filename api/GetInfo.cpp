// GetInfo, the inventory dispatcher, and the SMBIOS support query.
#include <new>

#include "PCI/description.h"
#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "process/state.h"
#include "storage/partition.h"
#include "storage/storage.h"


namespace {

using qarvel::SmBiosSession;

// Runs one SMBIOS command: -1 when there is no usable table.
template <typename Record, typename Fill>
int RunSmBiosCommand(SmBiosSession& session, LPVOID buffer, Fill fill) {
    SmBios* reader = session.Reader();
    if (!reader || !reader->IsInitOK()) return -1;
    fill(*reader, *static_cast<Record*>(buffer));
    return 0;
}

}  // namespace

int DispatchInfo(SmBiosSession& session, unsigned long command, LPVOID buffer) {
    switch (command) {
        case INFO_BASE_BOARD:
            return RunSmBiosCommand<BaseBoardInformation>(session, buffer, FillBaseBoardInformation);
        case INFO_SYSTEM:
            return RunSmBiosCommand<SysInformation>(session, buffer, FillSysInformation);
        case INFO_PROCESSOR:
            return RunSmBiosCommand<ProcessorInformation>(session, buffer, FillProcessorInformation);
        case INFO_MEMORY:
            return RunSmBiosCommand<MemoryInformation>(session, buffer, FillMemoryInformation);
        case INFO_IO_PORT:
            return RunSmBiosCommand<IOInformation>(session, buffer, FillIOInformation);
        case INFO_POWER_SUPPLY:
            return RunSmBiosCommand<SystemPowerInformation>(session, buffer, FillPowerSupplyInformation);
        case INFO_UPS:
            return RunSmBiosCommand<SystemPowerInformation>(session, buffer, FillUpsInformation);
        case INFO_FAN:
            return RunSmBiosCommand<FanInformation>(session, buffer, FillFanInformation);
        case INFO_VOLTAGE:
            return RunSmBiosCommand<VoltageInformation>(session, buffer, FillVoltageInformation);
        case INFO_TEMPERATURE:
            return RunSmBiosCommand<TemperatureInformation>(session, buffer, FillTemperatureInformation);
        case INFO_PCI_DEVICE:
            GetPciInfo(static_cast<DeviceInformation*>(buffer));
            return 0;
        case INFO_STORAGE:
            GetStorageInfo(static_cast<StorageInformation*>(buffer));
            return 0;
        case INFO_PARTITION:
            GetAllPartitionInfo(static_cast<PartitionInformation*>(buffer));
            return 0;
        default:
            return 0;  // not a command: nothing to do
    }
}

extern "C" int GetInfo(unsigned long command, LPVOID buffer) {
    BusyFlag busy(qarvel::State().busy.NoEntersmBIOS);
    if (!busy) return 1;
    if (!buffer) return -1;
    try {
        // The whole command, PCI and disks included, so that release waits for it.
        SmBiosSession session;
        return DispatchInfo(session, command, buffer);
    } catch (...) {
        return -1;  // out of memory: nothing may cross the C boundary
    }
}

extern "C" int IsSmBiosSupport(void) {
    SmBiosSession session;
    SmBios* reader = session.Reader();
    return reader ? reader->IsMatchSmBios() : 0;
}
