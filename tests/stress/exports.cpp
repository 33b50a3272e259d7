#include "tests/stress/exports.h"

#include <cstring>

#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace stress {

namespace {

// A fresh zeroed record of the command's type for every call, as the agent passes them.
template <typename Record>
int Ask(int (*exported)(unsigned long, LPVOID), unsigned long command) {
    auto record = std::make_unique<Record>();
    std::memset(record.get(), 0, sizeof(Record));
    return exported(command, record.get());
}

// The support queries answer 1 for yes: a yes is what a healthy machine gives.
int Yes(int answer) { return answer == 1 ? 0 : -1; }

}  // namespace

std::vector<Export> AllExports() {
    return {
        {"GetInfo(INFO_BASE_BOARD)", [] { return Ask<BaseBoardInformation>(GetInfo, INFO_BASE_BOARD); }, true},
        {"GetInfo(INFO_SYSTEM)", [] { return Ask<SysInformation>(GetInfo, INFO_SYSTEM); }, true},
        {"GetInfo(INFO_PROCESSOR)", [] { return Ask<ProcessorInformation>(GetInfo, INFO_PROCESSOR); }, true},
        {"GetInfo(INFO_MEMORY)", [] { return Ask<MemoryInformation>(GetInfo, INFO_MEMORY); }, true},
        {"GetInfo(INFO_IO_PORT)", [] { return Ask<IOInformation>(GetInfo, INFO_IO_PORT); }, true},
        {"GetInfo(INFO_PCI_DEVICE)", [] { return Ask<DeviceInformation>(GetInfo, INFO_PCI_DEVICE); }, true},
        {"GetInfo(INFO_STORAGE)", [] { return Ask<StorageInformation>(GetInfo, INFO_STORAGE); }, true},
        {"GetInfo(INFO_PARTITION)", [] { return Ask<PartitionInformation>(GetInfo, INFO_PARTITION); }, true},
        {"GetInfo(INFO_POWER_SUPPLY)", [] { return Ask<SystemPowerInformation>(GetInfo, INFO_POWER_SUPPLY); }, true},
        {"GetInfo(INFO_UPS)", [] { return Ask<SystemPowerInformation>(GetInfo, INFO_UPS); }, true},
        {"GetInfo(INFO_FAN)", [] { return Ask<FanInformation>(GetInfo, INFO_FAN); }, true},
        {"GetInfo(INFO_VOLTAGE)", [] { return Ask<VoltageInformation>(GetInfo, INFO_VOLTAGE); }, true},
        {"GetInfo(INFO_TEMPERATURE)", [] { return Ask<TemperatureInformation>(GetInfo, INFO_TEMPERATURE); }, true},
        {"IsSmBiosSupport", [] { return Yes(IsSmBiosSupport()); }, false},
        {"GetIpmiInfo(INFO_FAN)", [] { return Ask<FanInformation>(GetIpmiInfo, INFO_FAN); }, true},
        {"GetIpmiInfo(INFO_VOLTAGE)", [] { return Ask<VoltageInformation>(GetIpmiInfo, INFO_VOLTAGE); }, true},
        {"GetIpmiInfo(INFO_TEMPERATURE)",
         [] { return Ask<TemperatureInformation>(GetIpmiInfo, INFO_TEMPERATURE); }, true},
        {"IsIpmiSupport", [] { return Yes(IsIpmiSupport()); }, false},
        {"GetAllThresholdInfo",
         [] {
             auto record = std::make_unique<SensorThresholdInformation>();
             return GetAllThresholdInfo(record.get());
         },
         false},
        {"GetThresholdInfo",
         [] {
             auto record = std::make_unique<SensorThresholdInformation>();
             return GetThresholdInfo(kFanEntity, kFanType, record.get());
         },
         true},
        {"SetThresholdInfo",
         [] { return SetThresholdInfo(kWriteEntity, kWriteType, kUpperNonCritical, kWriteValue); }, true},
        {"SetWatchDogTimer", [] { return SetWatchDogTimer(0, 180000); }, true},
        {"ResetWatchDogTimer", [] { return ResetWatchDogTimer(); }, true},
        {"StopWatchDogTimer", [] { return StopWatchDogTimer(); }, true},
        {"GetWatchDogTimer",
         [] {
             unsigned char action = 0;
             int initial = 0, present = 0;
             return GetWatchDogTimer(&action, &initial, &present);
         },
         true},
        {"GetBMCVersion",
         [] {
             unsigned char major = 0, minor = 0;
             return GetBMCVersion(&major, &minor);
         },
         true},
        {"GetCpuUsageRate",
         [] {
             CpuUsageRageInformation record = {};
             return GetCpuUsageRate(0, &record);
         },
         false},
        {"GetMemUsageRate",
         [] {
             const int rate = GetMemUsageRate();
             return rate > 0 && rate <= 100 ? 0 : -1;
         },
         false},
        {"release", [] { return release(); }, false},
    };
}

void SampleServer::SetUp() {
    std::string error;
    std::shared_ptr<sim::Machine> loaded = sim::load_machine(QARVEL_SAMPLE_MACHINE, error);
    ASSERT_TRUE(loaded) << error;
    machine = loaded;
    sim::use(machine);
    qtest::ResetLibrary();
}

void SampleServer::TearDown() { qtest::ResetLibrary(); }

}  // namespace stress
