// The SMBIOS table with its entry point: the bytes as `dmidecode --dump-bin` writes them
// (entry point, then the table), placed in physical memory the way firmware leaves them;
// bytes that are no such dump are laid at 0xF0000 as they are, where the reader looks for an
// anchor. Then every SMBIOS command of GetInfo is decoded.
#include <vector>

#include "api/Qarvel.h"
#include "fuzz/fuzz.h"
#include "sim/Smbios.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    auto machine = fuzz::FreshMachine();
    std::string error;
    if (!sim::place_dump(*machine, std::vector<std::uint8_t>(data, data + size), error))
        machine->memory.write(0xF0000, data, size < 0x10000 ? size : 0x10000);
    IsSmBiosSupport();
    fuzz::Ask<BaseBoardInformation>(GetInfo, INFO_BASE_BOARD);
    fuzz::Ask<SysInformation>(GetInfo, INFO_SYSTEM);
    fuzz::Ask<ProcessorInformation>(GetInfo, INFO_PROCESSOR);
    fuzz::Ask<MemoryInformation>(GetInfo, INFO_MEMORY);
    fuzz::Ask<IOInformation>(GetInfo, INFO_IO_PORT);
    fuzz::Ask<SystemPowerInformation>(GetInfo, INFO_POWER_SUPPLY);
    fuzz::Ask<SystemPowerInformation>(GetInfo, INFO_UPS);
    fuzz::Ask<FanInformation>(GetInfo, INFO_FAN);
    fuzz::Ask<VoltageInformation>(GetInfo, INFO_VOLTAGE);
    fuzz::Ask<TemperatureInformation>(GetInfo, INFO_TEMPERATURE);
}

