// The sensor, threshold, watchdog and version exports through dlopen of the simulated
// library, records guarded by canaries. Expected values are worked out by hand from the
// sample server's source (sim/machines/sample-server/bmc.cpp): reading = (M x + B 10^K1) 10^K2.
#include "tests/e2e/library.h"

namespace {

using IpmiInfoFunction = int(unsigned long, LPVOID);
using ThresholdsFunction = int(int, int, LPVOID);
using AllThresholdsFunction = int(LPVOID);
using SetThresholdFunction = int(int, int, int, double);
using SetWatchdogFunction = int(int, int);
using GetWatchdogFunction = int(unsigned char*, int*, int*);
using VersionFunction = int(unsigned char*, unsigned char*);
using CpuUsageFunction = int(int, LPVOID);
using PlainFunction = int();

// Entities and sensor types of the sample server (IPMI 2.0 43.14, 42.2).
constexpr int kSystemBoard = 7, kExternalEnvironment = 39, kFanDevice = 29;
constexpr int kTemperature = 1, kFan = 4;
constexpr int kUpperNonCritical = 3, kUpperCritical = 4;

class SampleServerIpmi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded()) << dlerror();
        for (const char* name : {"GetIpmiInfo", "IsIpmiSupport", "release", "GetAllThresholdInfo", "GetThresholdInfo",
                                 "SetThresholdInfo", "SetWatchDogTimer", "ResetWatchDogTimer", "StopWatchDogTimer",
                                 "GetWatchDogTimer", "GetBMCVersion"})
            ASSERT_NE(lib.symbol(name), nullptr) << name;
        get_ipmi_info = lib.function<IpmiInfoFunction>("GetIpmiInfo");
        get_thresholds = lib.function<ThresholdsFunction>("GetThresholdInfo");
        set_threshold = lib.function<SetThresholdFunction>("SetThresholdInfo");
        get_watchdog = lib.function<GetWatchdogFunction>("GetWatchDogTimer");
        release = lib.function<PlainFunction>("release");
    }

    e2e::Library lib{QARVEL_SIM_LIBRARY};
    IpmiInfoFunction* get_ipmi_info = nullptr;
    ThresholdsFunction* get_thresholds = nullptr;
    SetThresholdFunction* set_threshold = nullptr;
    GetWatchdogFunction* get_watchdog = nullptr;
    PlainFunction* release = nullptr;
};

TEST_F(SampleServerIpmi, SensorsOfEachKind) {
    EXPECT_EQ(lib.function<PlainFunction>("IsIpmiSupport")(), 1);

    e2e::Guarded<FanInformation> fans;
    ASSERT_EQ(get_ipmi_info(INFO_FAN, &fans.record), 0);
    EXPECT_TRUE(fans.canaries_intact());
    ASSERT_EQ(fans.record.quantity, 5);
    const FAN_DEVICE& fan1 = fans.record.fan[0];
    EXPECT_EQ(fan1.sensorNumber, 0x30);
    EXPECT_EQ(fan1.DeviceID, kFanDevice);
    EXPECT_EQ(fan1.SensorType, kFan);
    EXPECT_STREQ(fan1.IdString, "FAN1");
    EXPECT_STREQ(fan1.speed, "5400RPM");  // 54 x 100
    EXPECT_DOUBLE_EQ(fan1.sti.LowerNonRecoverThreshold, 500.0);
    EXPECT_DOUBLE_EQ(fan1.sti.LowerCriticalThreshold, 800.0);
    EXPECT_DOUBLE_EQ(fan1.sti.LowerNonCriticalThreshold, 1000.0);
    EXPECT_STREQ(fans.record.fan[3].speed, "0RPM");   // the stopped FAN4
    EXPECT_STREQ(fans.record.fan[4].speed, "45%");    // duty cycle 45 of 100
    EXPECT_EQ(fans.record.fan[4].min[0], '\0');       // fans get no range texts

    e2e::Guarded<VoltageInformation> volts;
    ASSERT_EQ(get_ipmi_info(INFO_VOLTAGE, &volts.record), 0);
    EXPECT_TRUE(volts.canaries_intact());
    ASSERT_EQ(volts.record.quantity, 7);
    const VOLTAGE_PROBE& v12 = volts.record.voltage[0];
    EXPECT_STREQ(v12.IdString, "12V");
    EXPECT_STREQ(v12.CurrentVoltage, "12.00V");  // 200 x 0.06
    EXPECT_STREQ(v12.min, "0.00V");
    EXPECT_STREQ(v12.max, "FFV");  // "no limit" shown raw
    EXPECT_NEAR(v12.sti.UpperCriticalThresholdValue, 13.50, 1e-9);
    EXPECT_NEAR(v12.sti.LowerCriticalThreshold, 10.50, 1e-9);
    EXPECT_STREQ(volts.record.voltage[3].CurrentVoltage, "3.04V");  // VBAT: 190 x 0.016

    e2e::Guarded<TemperatureInformation> temps;
    ASSERT_EQ(get_ipmi_info(INFO_TEMPERATURE, &temps.record), 0);
    EXPECT_TRUE(temps.canaries_intact());
    ASSERT_EQ(temps.record.quantity, 5);  // the discrete Thermal Status has no reading
    const TEMPERATURE_PROBE& inlet = temps.record.temperature[3];
    EXPECT_STREQ(inlet.IdString, "Inlet Temp");
    EXPECT_EQ(inlet.DeviceID, kExternalEnvironment);
    EXPECT_STREQ(inlet.CurrentTemperature, "23.00degree C");  // 73 - 50
    EXPECT_DOUBLE_EQ(inlet.sti.UpperNonRecoverThresholdValue, 45.0);
    EXPECT_DOUBLE_EQ(inlet.sti.LowerNonRecoverThreshold, 0.0);
    EXPECT_DOUBLE_EQ(inlet.sti.LowerNonCriticalThreshold, 5.0);

    // A command that is no sensor command does nothing; a null record is refused.
    e2e::Guarded<SysInformation> system;
    EXPECT_EQ(get_ipmi_info(INFO_SYSTEM, &system.record), 0);
    EXPECT_EQ(system.record.SysProductName[0], '\0');
    EXPECT_EQ(get_ipmi_info(INFO_FAN, nullptr), -1);

    // After release a new facade discovers the sensors again.
    EXPECT_EQ(release(), 0);
    e2e::Guarded<FanInformation> again;
    ASSERT_EQ(get_ipmi_info(INFO_FAN, &again.record), 0);
    EXPECT_EQ(again.record.quantity, 5);
    EXPECT_STREQ(again.record.fan[0].IdString, "FAN1");
}

TEST_F(SampleServerIpmi, ThresholdsReadAndWritten) {
    auto* get_all = lib.function<AllThresholdsFunction>("GetAllThresholdInfo");
    e2e::Guarded<SensorThresholdInformation> all;
    ASSERT_EQ(get_all(&all.record), 0);
    EXPECT_TRUE(all.canaries_intact());
    // Every full sensor record: 6 temperatures, 7 voltages, 5 fans, 2 processor sensors.
    ASSERT_EQ(all.record.quantity, 20);
    EXPECT_EQ(all.record.SensorThreshold[2].DeviceID, kSystemBoard);
    EXPECT_DOUBLE_EQ(all.record.SensorThreshold[2].UpperNonRecoverThresholdValue, 80.0);
    EXPECT_EQ(all.record.SensorThreshold[19].SensorType, 7);  // CPU2 Status
    EXPECT_EQ(all.record.SensorThreshold[20].DeviceID, 0);

    e2e::Guarded<SensorThresholdInformation> fans;
    ASSERT_EQ(get_thresholds(kFanDevice, kFan, &fans.record), 0);
    EXPECT_TRUE(fans.canaries_intact());
    ASSERT_EQ(fans.record.quantity, 5);
    EXPECT_DOUBLE_EQ(fans.record.SensorThreshold[4].LowerCriticalThreshold, 0.0);  // FAN Duty has none
    EXPECT_DOUBLE_EQ(fans.record.SensorThreshold[3].LowerCriticalThreshold, 800.0);

    // Inlet: raw = value + 50. Upper non-critical 46 degrees (raw 96) passes upper critical
    // (92) and upper non-recoverable (95): they are pushed to 97 and 98.
    ASSERT_EQ(set_threshold(kExternalEnvironment, kTemperature, kUpperNonCritical, 46.0), 0);
    // The library keeps the thresholds of its discovery; a fresh facade reads the BMC's.
    ASSERT_EQ(release(), 0);
    e2e::Guarded<SensorThresholdInformation> inlet;
    ASSERT_EQ(get_thresholds(kExternalEnvironment, kTemperature, &inlet.record), 0);
    EXPECT_TRUE(inlet.canaries_intact());
    ASSERT_EQ(inlet.record.quantity, 1);
    EXPECT_DOUBLE_EQ(inlet.record.SensorThreshold[0].UpperNonCriticalThresholdValue, 46.0);
    EXPECT_DOUBLE_EQ(inlet.record.SensorThreshold[0].UpperCriticalThresholdValue, 47.0);
    EXPECT_DOUBLE_EQ(inlet.record.SensorThreshold[0].UpperNonRecoverThresholdValue, 48.0);
    EXPECT_DOUBLE_EQ(inlet.record.SensorThreshold[0].LowerNonCriticalThreshold, 5.0);

    // System board temperatures: System Temp takes the value, then the discrete Thermal
    // Status refuses any threshold.
    EXPECT_EQ(set_threshold(kSystemBoard, kTemperature, kUpperCritical, 77.0), -1);
    ASSERT_EQ(release(), 0);
    e2e::Guarded<SensorThresholdInformation> board;
    ASSERT_EQ(get_thresholds(kSystemBoard, kTemperature, &board.record), 0);
    ASSERT_EQ(board.record.quantity, 2);
    EXPECT_DOUBLE_EQ(board.record.SensorThreshold[0].UpperCriticalThresholdValue, 77.0);
    EXPECT_DOUBLE_EQ(board.record.SensorThreshold[0].UpperNonRecoverThresholdValue, 80.0);

    // No sensor of that entity and type: nothing to do.
    EXPECT_EQ(set_threshold(kFanDevice, kTemperature, kUpperCritical, 50.0), 0);
    EXPECT_EQ(get_thresholds(kSystemBoard, kTemperature, nullptr), -1);
    EXPECT_EQ(get_all(nullptr), -1);

    // The sensor records still answer after all this.
    e2e::Guarded<TemperatureInformation> temps;
    ASSERT_EQ(get_ipmi_info(INFO_TEMPERATURE, &temps.record), 0);
    EXPECT_DOUBLE_EQ(temps.record.temperature[3].sti.UpperNonRecoverThresholdValue, 48.0);
}

TEST_F(SampleServerIpmi, WatchdogCountsDownOnTheSimulatedClock) {
    auto* set = lib.function<SetWatchdogFunction>("SetWatchDogTimer");
    auto* reset = lib.function<PlainFunction>("ResetWatchDogTimer");
    auto* stop = lib.function<PlainFunction>("StopWatchDogTimer");
    auto* cpu_usage = lib.function<CpuUsageFunction>("GetCpuUsageRate");
    unsigned char action = 0xEE;
    int initial = -1, present = -1;

    // Never loaded: the BMC reports zeros.
    ASSERT_EQ(get_watchdog(&action, &initial, &present), 0);
    EXPECT_EQ(action, 0);
    EXPECT_EQ(initial, 0);

    ASSERT_EQ(set(1, 60000), 0);  // hard reset after 60 s, started at once
    ASSERT_EQ(get_watchdog(&action, &initial, &present), 0);
    EXPECT_EQ(action, 1);
    EXPECT_EQ(initial, 60000);
    EXPECT_EQ(present, 60000);

    // Measuring processor use sleeps; on the simulated machine that moves its clock.
    e2e::Guarded<CpuUsageRageInformation> usage;
    ASSERT_EQ(cpu_usage(2, &usage.record), 0);
    ASSERT_EQ(get_watchdog(&action, &initial, &present), 0);
    EXPECT_EQ(present, 58000);

    ASSERT_EQ(stop(), 0);
    ASSERT_EQ(get_watchdog(&action, &initial, &present), 0);
    EXPECT_EQ(action, 0);
    EXPECT_EQ(initial, 180000);
    EXPECT_EQ(present, 180000);
    ASSERT_EQ(cpu_usage(1, &usage.record), 0);
    ASSERT_EQ(get_watchdog(&action, &initial, &present), 0);
    EXPECT_EQ(present, 180000);  // stopped

    ASSERT_EQ(reset(), 0);
    ASSERT_EQ(cpu_usage(3, &usage.record), 0);
    ASSERT_EQ(get_watchdog(&action, &initial, &present), 0);
    EXPECT_EQ(present, 177000);

    EXPECT_EQ(set(2, 9999), -1);  // below 10 s: refused
    EXPECT_EQ(get_watchdog(nullptr, &initial, &present), -1);
    EXPECT_EQ(get_watchdog(&action, &initial, nullptr), -1);

    unsigned char major = 0, minor = 0;
    auto* version = lib.function<VersionFunction>("GetBMCVersion");
    ASSERT_EQ(version(&major, &minor), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 14);
    EXPECT_EQ(version(nullptr, &minor), -1);
    EXPECT_EQ(version(&major, nullptr), -1);
}

TEST(MachineWithoutBmc, EveryIpmiExportFails) {
    e2e::Library lib(QARVEL_SIM_LIBRARY, QARVEL_TEST_DATA "/realdata/smbios/SuperMicro-X9DBL");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    EXPECT_EQ(lib.function<PlainFunction>("IsIpmiSupport")(), 0);
    e2e::Guarded<FanInformation> fans;
    fans.record.quantity = 77;
    EXPECT_EQ(lib.function<IpmiInfoFunction>("GetIpmiInfo")(INFO_FAN, &fans.record), -1);
    EXPECT_EQ(fans.record.quantity, 77);
    e2e::Guarded<SensorThresholdInformation> thresholds;
    EXPECT_EQ(lib.function<AllThresholdsFunction>("GetAllThresholdInfo")(&thresholds.record), -1);
    EXPECT_EQ(lib.function<ThresholdsFunction>("GetThresholdInfo")(7, 1, &thresholds.record), -1);
    EXPECT_EQ(lib.function<SetThresholdFunction>("SetThresholdInfo")(7, 1, 4, 70.0), -1);
    EXPECT_TRUE(thresholds.canaries_intact());
    EXPECT_EQ(lib.function<SetWatchdogFunction>("SetWatchDogTimer")(1, 60000), -1);
    EXPECT_EQ(lib.function<PlainFunction>("ResetWatchDogTimer")(), -1);
    EXPECT_EQ(lib.function<PlainFunction>("StopWatchDogTimer")(), -1);
    unsigned char action = 9, major = 9, minor = 9;
    int initial = 9, present = 9;
    EXPECT_EQ(lib.function<GetWatchdogFunction>("GetWatchDogTimer")(&action, &initial, &present), -1);
    EXPECT_EQ(action, 9);
    EXPECT_EQ(lib.function<VersionFunction>("GetBMCVersion")(&major, &minor), -1);
    EXPECT_EQ(major, 9);
    EXPECT_EQ(lib.function<PlainFunction>("release")(), 0);
}

}  // namespace
