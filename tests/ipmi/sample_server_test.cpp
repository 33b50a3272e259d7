// Discovery on the sample server's BMC, loaded from its generated capture. The expected
// texts are worked out by hand from sim/machines/sample-server/bmc.cpp.
#include <string>

#include "sim/loader.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

class SampleServer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        machine = sim::load_machine(QARVEL_SAMPLE_MACHINE, error);
        ASSERT_NE(machine, nullptr) << error;
        ASSERT_NE(machine->bmc, nullptr);
        sim::use(machine);
    }
    void TearDown() override { sim::use(std::make_shared<sim::Machine>()); }

    std::shared_ptr<sim::Machine> machine;
};

struct Expected {
    const char* name;
    unsigned char number, entity;
    const char* reading;
    // Converted thresholds: lower non-critical, critical, non-recoverable; upper likewise.
    double thresholds[6];
    unsigned char readable;
};

void ExpectThresholds(const SensorThresholdInfoRaw& stir, const SensorThresholdInfoConverted& stic,
                      const Expected& e, int type) {
    EXPECT_EQ(stir.deviceID, e.entity) << e.name;
    EXPECT_EQ(stic.sensorType, type) << e.name;
    EXPECT_EQ(stir.readableFlag, e.readable) << e.name;
    EXPECT_EQ(stir.settableFlag, e.readable) << e.name;  // everything readable here is settable
    const double got[6] = {stic.LowerNonCriticalThreshold,      stic.LowerCriticalThreshold,
                           stic.LowerNonRecoverThreshold,       stic.UpperNonCriticalThresholdValue,
                           stic.UpperCriticalThresholdValue,    stic.UpperNonRecoverThresholdValue};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], e.thresholds[i], 1e-9) << e.name << " threshold " << i;
}

TEST_F(SampleServer, DiscoveryBuildsTheFourTables) {
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    int count = 0, version = 0;
    ASSERT_EQ(reader.GetSDRRepositoryInfo(count, version), 0);
    EXPECT_EQ(count, 28);  // a controller locator, 20 full and 5 compact sensors, an FRU locator, an OEM record
    EXPECT_EQ(version, 0x51);
    ASSERT_EQ(reader.GetSensorNumbers(count), 0);
    ASSERT_EQ(reader.GetFanSensorsInfo(count), 0);
    ASSERT_EQ(reader.GetVoltSensorsInfo(count), 0);
    ASSERT_EQ(reader.GetTemSensorsInfo(count), 0);
    ASSERT_EQ(reader.GetProcessorSensorInfo(count), 0);
    EXPECT_EQ(machine->bmc->count(kStorageNetFn, kGetSdr), 28u);

    char text[64];
    unsigned char byte = 0;
    SensorThresholdInfoRaw stir{};
    SensorThresholdInfoConverted stic{};

    // "Thermal Status" has no numeric reading, so the table holds five.
    const Expected temperatures[] = {
        {"CPU1 Temp", 0x01, 3, "45.00degree C", {0, 0, 0, 90, 95, 100}, 0x38},
        {"CPU2 Temp", 0x02, 3, "48.00degree C", {0, 0, 0, 90, 95, 100}, 0x38},
        {"System Temp", 0x03, 7, "31.00degree C", {10, 5, 2, 70, 75, 80}, 0x3F},
        {"Inlet Temp", 0x04, 39, "23.00degree C", {5, 2, 0, 38, 42, 45}, 0x3F},  // raw - 50
        {"DIMM Temp", 0x05, 32, "38.00degree C", {0, 0, 0, 80, 85, 90}, 0x38},
    };
    ASSERT_EQ(reader.TSInfo.quantity, 5);
    for (int n = 0; n < 5; ++n) {
        const Expected& e = temperatures[n];
        EXPECT_EQ(reader.GetTemperatureIDString(n, text), 0);
        EXPECT_STREQ(text, e.name);
        EXPECT_EQ(reader.GetTemperatureSensorNumber(n, byte), 0);
        EXPECT_EQ(byte, e.number);
        EXPECT_EQ(reader.GetTemperatureEntityID(n, byte), 0);
        EXPECT_EQ(byte, e.entity);
        EXPECT_EQ(reader.GetTemperatureCurrent(n, text), 0);
        EXPECT_STREQ(text, e.reading);
        EXPECT_EQ(reader.GetTemperatureStatusDescription(n, text), 0);
        EXPECT_STREQ(text, "");  // threshold sensors report no state bits
        EXPECT_EQ(reader.GetTemperatureSensorThreshold(n, stir, stic), 0);
        ExpectThresholds(stir, stic, e, 1);
    }
    EXPECT_EQ(reader.SensorsInformation[5].SensorType, 1);  // Thermal Status, kept but not listed
    EXPECT_EQ(reader.SensorsInformation[5].isAnalogReading, 1);

    const Expected voltages[] = {
        {"12V", 0x10, 7, "12.00V", {10.80, 10.50, 0, 13.20, 13.50, 0}, 0x1B},
        {"5V", 0x11, 7, "5.01V", {4.50, 4.35, 0, 5.49, 5.64, 0}, 0x1B},
        {"3.3V", 0x12, 7, "3.32V", {2.98, 2.90, 0, 3.64, 3.72, 0}, 0x1B},
        {"VBAT", 0x13, 7, "3.04V", {2.704, 2.496, 0, 0, 0, 0}, 0x03},
        {"CPU1 Vcore", 0x14, 3, "1.80V", {1.20, 1.12, 0, 1.88, 1.92, 0}, 0x1B},
        {"CPU2 Vcore", 0x15, 3, "1.78V", {1.20, 1.12, 0, 1.88, 1.92, 0}, 0x1B},  // 1.784
        {"5VSB", 0x16, 10, "5.04V", {4.50, 4.35, 0, 5.49, 5.64, 0}, 0x1B},
    };
    ASSERT_EQ(reader.VSInfo.quantity, 7);
    for (int n = 0; n < 7; ++n) {
        const Expected& e = voltages[n];
        EXPECT_EQ(reader.GetVoltageIDString(n, text), 0);
        EXPECT_STREQ(text, e.name);
        EXPECT_EQ(reader.GetVoltageSensorNumber(n, byte), 0);
        EXPECT_EQ(byte, e.number);
        EXPECT_EQ(reader.GetVoltageCurrent(n, text), 0);
        EXPECT_STREQ(text, e.reading);
        EXPECT_EQ(reader.GetVoltageMax(n, text), 0);
        EXPECT_STREQ(text, "FFV");
        EXPECT_EQ(reader.GetVoltageMin(n, text), 0);
        EXPECT_STREQ(text, "0.00V");
        EXPECT_EQ(reader.GetVoltageSensorThreshold(n, stir, stic), 0);
        ExpectThresholds(stir, stic, e, 2);
    }

    const Expected fans[] = {
        {"FAN1", 0x30, 29, "5400RPM", {1000, 800, 500, 0, 0, 0}, 0x07},
        {"FAN2", 0x31, 29, "5200RPM", {1000, 800, 500, 0, 0, 0}, 0x07},
        {"FAN3", 0x32, 29, "5500RPM", {1000, 800, 500, 0, 0, 0}, 0x07},
        {"FAN4", 0x33, 29, "0RPM", {1000, 800, 500, 0, 0, 0}, 0x07},
        {"FAN Duty", 0x34, 29, "45%", {0, 0, 0, 0, 0, 0}, 0x00},  // 45 of 100
    };
    ASSERT_EQ(reader.FSInfo.quantity, 5);  // the compact Fan Redundancy record is not listed
    for (int n = 0; n < 5; ++n) {
        const Expected& e = fans[n];
        EXPECT_EQ(reader.GetFanIDString(n, text), 0);
        EXPECT_STREQ(text, e.name);
        EXPECT_EQ(reader.GetFanSpeed(n, text), 0);
        EXPECT_STREQ(text, e.reading);
        char status = 0;
        EXPECT_EQ(reader.GetFanStatus(n, status), 0);
        EXPECT_EQ(status, n == 3 ? Sensor::STATUS_ERROR : Sensor::STATUS_NORMAL) << e.name;
        EXPECT_EQ(reader.GetFanSensorThreshold(n, stir, stic), 0);
        ExpectThresholds(stir, stic, e, 4);
    }
    EXPECT_STREQ(reader.FSInfo.sd[0].SensorReadingMax, "15000RPM");

    ASSERT_EQ(reader.PSInfo.quantity, 2);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(reader.PSInfo.sd[n].SensorNumbers, 0x40 + n);
        EXPECT_EQ(reader.PSInfo.sd[n].SensorCodeOffset, 0x80);  // present
        EXPECT_EQ(reader.PSInfo.sd[n].SensorEntityInstance, n + 1);
        EXPECT_EQ(reader.PSInfo.sd[n].isAnalogReading, 1);
    }
    EXPECT_STREQ(reader.PSInfo.sd[1].IDString, "CPU2 Status");

    unsigned char major = 0, minor = 0;
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 14);

    // Every request went to the BMC's "any responder" address and was well formed.
    for (const auto& r : machine->bmc->log()) EXPECT_EQ(r.responder, 0xFF);
}

}  // namespace
