// FRU areas: the bytes as `ipmitool fru read 0 FILE` saves them, served as FRU device 0 by
// the simulated BMC, read by the facade and decoded by every string getter.
#include "IPMI/IPMIsupport.h"
#include "fuzz/fuzz.h"
#include "sim/Bmc.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    auto machine = fuzz::FreshMachine();
    auto bmc = std::make_shared<sim::Bmc>();
    bmc->log_limit = 0;
    bmc->fru0.assign(data, data + (size < 0xFFFF ? size : 0xFFFF));
    sim::install_bmc(*machine, bmc);
    IPMIsupport facade;
    if (facade.GetFRUInfo() != 0) return;
    int (IPMIsupport::*const getters[])(char*) = {
        &IPMIsupport::GetBoardManufacturer,   &IPMIsupport::GetBoardProductName,
        &IPMIsupport::GetBoardSerialNumber,   &IPMIsupport::GetBoardPartNumber,
        &IPMIsupport::GetChassisPartNumber,   &IPMIsupport::GetChassisSerialNumber,
        &IPMIsupport::GetProductManufacturerName, &IPMIsupport::GetProductPartName,
        &IPMIsupport::GetProductSerialNumber, &IPMIsupport::GetProductVersion,
        &IPMIsupport::GetProductAssertTag,
    };
    for (auto getter : getters) {
        char text[64] = {};
        (facade.*getter)(text);
    }
    char name[64] = {};
    facade.fru.GetProductName(name);
}

