// GetIpmiInfo, IsIpmiSupport and release: the sensor records, the one discovery, and what
// happens when there is no BMC or no sensor of a kind.
#include <cstring>
#include <string>

#include "api/exports.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using SensorExports = BmcTest;

// A record followed by a run of canary bytes, the whole filled with one pattern.
template <typename Record>
struct Patterned {
    Record record;
    unsigned char after[64];
    explicit Patterned(unsigned char pattern) { std::memset(this, pattern, sizeof *this); }
    bool after_intact(unsigned char pattern) const {
        for (unsigned char c : after)
            if (c != pattern) return false;
        return true;
    }
};

template <std::size_t N>
bool Untouched(const char (&field)[N], unsigned char pattern) {
    for (char c : field)
        if (static_cast<unsigned char>(c) != pattern) return false;
    return true;
}

TEST_F(SensorExports, TwentyFansShowSixteenAndCountTwenty) {
    for (int i = 0; i < 20; ++i) {
        sim::FullSensor fan = Fan(static_cast<std::uint8_t>(0x30 + i), "FAN" + std::to_string(i));
        fan.m = 100;
        fan.readable = fan.settable = 0x07;
        fan.lnr = static_cast<std::uint8_t>(i + 1), fan.lc = static_cast<std::uint8_t>(i + 2);
        fan.lnc = static_cast<std::uint8_t>(i + 3);
        AddSensor(fan, static_cast<std::uint8_t>(40 + i));
    }
    Patterned<FanInformation> fans(0);
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(fans.record.quantity, 20);
    EXPECT_TRUE(fans.after_intact(0));
    for (int i = 0; i < 16; ++i) {
        const FAN_DEVICE& f = fans.record.fan[i];
        EXPECT_EQ(f.sensorNumber, 0x30 + i);
        EXPECT_EQ(std::string(f.IdString), "FAN" + std::to_string(i));
        EXPECT_EQ(std::string(f.speed), std::to_string((40 + i) * 100) + "RPM");
        EXPECT_EQ(f.DeviceID, 29);
        EXPECT_EQ(f.SensorType, 4);
        EXPECT_DOUBLE_EQ(f.sti.LowerNonRecoverThreshold, (i + 1) * 100.0);
        EXPECT_DOUBLE_EQ(f.sti.LowerNonCriticalThreshold, (i + 3) * 100.0);
    }
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
}

TEST_F(SensorExports, EachTemperatureCarriesItsOwnThresholds) {
    for (int i = 0; i < 3; ++i) {
        sim::FullSensor t = Temperature(static_cast<std::uint8_t>(i + 1), "T" + std::to_string(i));
        t.entity = static_cast<std::uint8_t>(3 + i);
        t.readable = t.settable = 0x3F;
        t.unr = static_cast<std::uint8_t>(90 + i), t.uc = static_cast<std::uint8_t>(80 + i);
        t.unc = static_cast<std::uint8_t>(70 + i), t.lnc = static_cast<std::uint8_t>(10 + i);
        t.lc = static_cast<std::uint8_t>(5 + i), t.lnr = static_cast<std::uint8_t>(1 + i);
        AddSensor(t, static_cast<std::uint8_t>(30 + i));
    }
    Patterned<TemperatureInformation> temps(0xAB);
    temps.record.quantity = 0;
    ASSERT_EQ(GetIpmiInfo(INFO_TEMPERATURE, &temps.record), 0);
    ASSERT_EQ(temps.record.quantity, 3);
    for (int i = 0; i < 3; ++i) {
        const TEMPERATURE_PROBE& t = temps.record.temperature[i];
        EXPECT_EQ(t.DeviceID, 3 + i);
        EXPECT_EQ(t.sti.DeviceID, 3 + i);
        EXPECT_EQ(t.sti.SensorType, 1);
        EXPECT_DOUBLE_EQ(t.sti.UpperNonRecoverThresholdValue, 90.0 + i);
        EXPECT_DOUBLE_EQ(t.sti.UpperCriticalThresholdValue, 80.0 + i);
        EXPECT_DOUBLE_EQ(t.sti.UpperNonCriticalThresholdValue, 70.0 + i);
        EXPECT_DOUBLE_EQ(t.sti.LowerNonCriticalThreshold, 10.0 + i);
        EXPECT_DOUBLE_EQ(t.sti.LowerCriticalThreshold, 5.0 + i);
        EXPECT_DOUBLE_EQ(t.sti.LowerNonRecoverThreshold, 1.0 + i);
        EXPECT_DOUBLE_EQ(t.sti.MaxThreshold, 0.0);
        // Not written: the status byte, the range texts, the two flags.
        EXPECT_EQ(static_cast<unsigned char>(t.status), 0xAB);
        EXPECT_TRUE(Untouched(t.min, 0xAB));
        EXPECT_TRUE(Untouched(t.max, 0xAB));
        EXPECT_EQ(static_cast<unsigned char>(t.sti.readableFlag), 0xAB);
        EXPECT_EQ(static_cast<unsigned char>(t.sti.settableFlag), 0xAB);
    }
    EXPECT_EQ(temps.record.temperature[3].DeviceID, static_cast<int>(0xABABABAB));
}

TEST_F(SensorExports, TextsAreCutToTheirFields) {
    sim::FullSensor t = Temperature(1, "A sixteen-long-ID");  // the record holds 15 name bytes
    t.base_unit = 65;                                   // "color temp deg K"
    AddSensor(t, 45);
    Patterned<TemperatureInformation> temps(0xAB);
    ASSERT_EQ(GetIpmiInfo(INFO_TEMPERATURE, &temps.record), 0);
    const TEMPERATURE_PROBE& p = temps.record.temperature[0];
    EXPECT_STREQ(p.CurrentTemperature, "45.00color temp");  // 15 characters and the NUL
    EXPECT_TRUE(Untouched(p.min, 0xAB));
    EXPECT_STREQ(p.IdString, "A sixteen-long-");
}

TEST_F(SensorExports, ACommandThatIsNoSensorCommandStillDiscovers) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    Patterned<SysInformation> system(0x5A);
    EXPECT_EQ(GetIpmiInfo(INFO_SYSTEM, &system.record), 0);
    EXPECT_TRUE(Untouched(system.record.SysProductName, 0x5A));
    EXPECT_EQ(qarvel::State().IPMIGetSensorInfoOK, 1);
    const std::size_t walked = bmc->count(kStorageNetFn, kGetSdr);
    EXPECT_EQ(walked, 1u);
    // Once per facade: later calls read the sensors only.
    Patterned<FanInformation> fans(0);
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), walked);
}

TEST_F(SensorExports, NoSensorOfTheKindLeavesTheRecordAlone) {
    AddSensor(Voltage(0x10, "12V"), 200);
    Patterned<FanInformation> fans(0x33);
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), -1);
    EXPECT_EQ(fans.record.quantity, 0x33333333);
    Patterned<VoltageInformation> volts(0);
    EXPECT_EQ(GetIpmiInfo(INFO_VOLTAGE, &volts.record), 0);
    EXPECT_EQ(volts.record.quantity, 1);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
}

TEST_F(SensorExports, AFailedDiscoveryIsTriedAgain) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    AddSensor(Fan(0x31, "FAN2"), 50);
    int records_asked = 0;
    bmc->intercept = [&records_asked](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetSdr || ++records_asked != 2) return false;
        r.completion = 0xCB;  // not present: the second record, once
        return true;
    };
    Patterned<FanInformation> fans(0x33);
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), -1);
    EXPECT_EQ(fans.record.quantity, 0x33333333);
    EXPECT_EQ(qarvel::State().IPMIGetSensorInfoOK, 0);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(fans.record.quantity, 2);
    EXPECT_STREQ(fans.record.fan[1].IdString, "FAN2");
}

TEST_F(SensorExports, AfterReleaseTheNewFacadeDiscoversAgain) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    Patterned<FanInformation> fans(0);
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(release(), 0);
    EXPECT_EQ(qarvel::State().pIPMI, nullptr);
    EXPECT_EQ(qarvel::State().IPMIGetSensorInfoOK, 0);
    EXPECT_TRUE(machine->still_open().empty());  // the device went with the facade
    // The BMC gained a fan meanwhile: the new facade sees it.
    AddSensor(Fan(0x31, "FAN2"), 50);
    Patterned<FanInformation> again(0);
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &again.record), 0);
    EXPECT_EQ(again.record.quantity, 2);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdrRepositoryInfo), 2u);
}

TEST_F(SensorExports, ThresholdExportsBuildTheTablesGetIpmiInfoUses) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    AddSensor(Temperature(1, "CPU"), 40);
    SensorThresholdInformation thresholds;
    std::memset(&thresholds, 0, sizeof thresholds);
    ASSERT_EQ(GetThresholdInfo(29, 4, &thresholds), 0);
    EXPECT_EQ(thresholds.quantity, 1);
    EXPECT_EQ(qarvel::State().IPMIGetSensorInfoOK, 1);
    const std::size_t walked = bmc->count(kStorageNetFn, kGetSdr);
    Patterned<FanInformation> fans(0);
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(fans.record.quantity, 1);
    EXPECT_STREQ(fans.record.fan[0].IdString, "FAN1");
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), walked);  // not walked twice
}

TEST_F(SensorExports, NullRecordAndNoBmc) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, nullptr), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
    EXPECT_TRUE(bmc->log().empty());

    machine->remove_device("/dev/ipmi");
    qtest::ResetLibrary();
    EXPECT_EQ(IsIpmiSupport(), 0);
    EXPECT_EQ(IsIpmiSupport(), 0);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/ipmi"), 3u);  // one facade, not retried
    Patterned<FanInformation> fans(0x33);
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans.record), -1);
    EXPECT_EQ(fans.record.quantity, 0x33333333);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
}

}  // namespace
