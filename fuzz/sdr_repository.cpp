// The discovery over a repository: the bytes as `ipmitool sdr dump` writes them (records
// back to back, each as long as its header says; a cut-short tail is dropped) held by the
// simulated BMC, then every sensor export: the discovery, the three sensor kinds, every
// threshold, and a threshold write.
#include <vector>

#include "api/Qarvel.h"
#include "fuzz/fuzz.h"
#include "sim/Bmc.h"

namespace {

constexpr std::size_t kHeader = 5;

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    auto machine = fuzz::FreshMachine();
    auto bmc = std::make_shared<sim::Bmc>();
    bmc->log_limit = 0;
    for (std::size_t at = 0; at + kHeader <= size;) {
        const std::size_t length = kHeader + data[at + 4];
        if (at + length > size) break;
        bmc->add_record_bytes(std::vector<std::uint8_t>(data + at, data + at + length));
        at += length;
    }
    sim::install_bmc(*machine, bmc);
    fuzz::Ask<FanInformation>(GetIpmiInfo, INFO_FAN);
    fuzz::Ask<VoltageInformation>(GetIpmiInfo, INFO_VOLTAGE);
    fuzz::Ask<TemperatureInformation>(GetIpmiInfo, INFO_TEMPERATURE);
    auto thresholds = std::make_unique<SensorThresholdInformation>();
    GetAllThresholdInfo(thresholds.get());
    // The entity and type of the first record that names them.
    const int entity = size > 13 ? data[12] : 0, type = size > 13 ? data[13] : 0;
    GetThresholdInfo(entity, type, thresholds.get());
    SetThresholdInfo(entity, type, size > 14 ? data[14] % 6 : 0, 42.0);
}

