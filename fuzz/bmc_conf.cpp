// The capture file ipmi/bmc.conf, read into a fresh simulated BMC.
#include "fuzz/fuzz.h"
#include "sim/Bmc.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    sim::Bmc bmc;
    std::string error;
    sim::read_bmc_conf(fuzz::Text(data, size), bmc, error);
}

