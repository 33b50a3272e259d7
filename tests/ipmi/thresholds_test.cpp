// Sensor thresholds: reading, converting, writing, and the copies kept from discovery.
#include <cstring>

#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Thresholds = BmcTest;

SensorFormulaParameter Plain() {
    SensorFormulaParameter p{};
    p.M = 1;
    return p;
}

TEST_F(Thresholds, ResponseIsKeptRawAndConverted) {
    AddSensor(Temperature(5, "T"), 30);
    bmc->sensors[5].readable = 0x3F;
    bmc->sensors[5].thresholds = {30, 20, 10, 200, 210, 220};
    Sensor reader;
    SensorThresholdInfoRaw stir;
    SensorThresholdInfoConverted stic;
    std::memset(&stir, 0x77, sizeof stir);
    std::memset(&stic, 0x77, sizeof stic);
    ASSERT_EQ(reader.GetSensorThreshold(5, Plain(), stir, stic), 0);
    EXPECT_EQ(Requests(kSensorNetFn, kGetSensorThresholds).at(0).data, std::vector<std::uint8_t>{5});
    EXPECT_EQ(stir.LowerNonCriticalThreshold, 30);
    EXPECT_EQ(stir.LowerCriticalThreshold, 20);
    EXPECT_EQ(stir.LowerNonRecoverThreshold, 10);
    EXPECT_EQ(stir.UpperNonCriticalThresholdValue, 200);
    EXPECT_EQ(stir.UpperCriticalThresholdValue, 210);
    EXPECT_EQ(stir.UpperNonRecoverThresholdValue, 220);
    EXPECT_EQ(stic.LowerNonCriticalThreshold, 30.0);
    EXPECT_EQ(stic.LowerCriticalThreshold, 20.0);
    EXPECT_EQ(stic.LowerNonRecoverThreshold, 10.0);
    EXPECT_EQ(stic.UpperNonCriticalThresholdValue, 200.0);
    EXPECT_EQ(stic.UpperCriticalThresholdValue, 210.0);
    EXPECT_EQ(stic.UpperNonRecoverThresholdValue, 220.0);
    EXPECT_EQ(stir.readableFlag, 0x3F);
    EXPECT_EQ(stic.readableFlag, 0x3F);
    // Everything else is cleared, left for discovery to fill.
    EXPECT_EQ(stir.deviceID, 0);
    EXPECT_EQ(stir.settableFlag, 0);
    EXPECT_EQ(stir.MaxThreshold, 0);
    EXPECT_EQ(stic.MinThreshold, 0.0);
    EXPECT_EQ(stic.changeTrend, 0);

    // Unreadable thresholds are kept too; only the six mask bits count; other factors convert.
    bmc->sensors[5].readable = 0xC7;
    SensorFormulaParameter scaled = Plain();
    scaled.M = 2;
    scaled.B = 5;
    scaled.BExp = 1;
    ASSERT_EQ(reader.GetSensorThreshold(5, scaled, stir, stic), 0);
    EXPECT_EQ(stir.readableFlag, 0x07);
    EXPECT_EQ(stic.readableFlag, 0x07);
    EXPECT_EQ(stir.UpperNonRecoverThresholdValue, 220);
    EXPECT_EQ(stic.UpperNonRecoverThresholdValue, 490.0);  // 2 * 220 + 5 * 10
    EXPECT_EQ(stic.LowerNonRecoverThreshold, 70.0);
}

TEST_F(Thresholds, FailedReadsLeaveZerosAndSensorFFIsNeverAsked) {
    AddSensor(Processor(0x40, 1), 0, 0x80);  // discrete: no thresholds
    Sensor reader;
    SensorThresholdInfoRaw stir;
    SensorThresholdInfoConverted stic;
    std::memset(&stir, 0x77, sizeof stir);
    std::memset(&stic, 0x77, sizeof stic);
    EXPECT_EQ(reader.GetSensorThreshold(0x40, Plain(), stir, stic), -1);
    SensorThresholdInfoRaw zero{};
    EXPECT_EQ(std::memcmp(&stir, &zero, sizeof stir), 0);
    EXPECT_EQ(stic.UpperCriticalThresholdValue, 0.0);

    // A response too short to hold all six is no answer either.
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) { return r.data = {0x3F, 1, 2, 3}, true; };
    EXPECT_EQ(reader.GetSensorThreshold(0x40, Plain(), stir, stic), -1);
    EXPECT_EQ(stir.LowerNonCriticalThreshold, 0);
    bmc->intercept = nullptr;

    bmc->clear_log();
    std::memset(&stir, 0x77, sizeof stir);
    EXPECT_EQ(reader.GetSensorThreshold(0xFF, Plain(), stir, stic), -1);
    EXPECT_EQ(stir.UpperCriticalThresholdValue, 0x77);
    EXPECT_EQ(reader.SetSensorThreshold(0xFF, stir), -1);
    EXPECT_TRUE(bmc->log().empty());
}

TEST_F(Thresholds, SetSendsTheMaskAndTheSixInWireOrder) {
    AddSensor(Temperature(9, "T"), 30);
    bmc->sensors[9].settable = 0x12;
    Sensor reader;
    SensorThresholdInfoRaw stir{};
    stir.settableFlag = 0x12;
    stir.UpperNonRecoverThresholdValue = 1;
    stir.UpperCriticalThresholdValue = 2;
    stir.UpperNonCriticalThresholdValue = 3;
    stir.LowerNonRecoverThreshold = 4;
    stir.LowerCriticalThreshold = 5;
    stir.LowerNonCriticalThreshold = 6;
    EXPECT_EQ(reader.SetSensorThreshold(9, stir), 0);
    const auto sent = Requests(kSensorNetFn, kSetSensorThresholds);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data, (std::vector<std::uint8_t>{9, 0x12, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(sent[0].responder, 0xFF);
    // The BMC changed the two named ones only.
    EXPECT_EQ(bmc->sensors[9].thresholds[1], 5);  // lower critical
    EXPECT_EQ(bmc->sensors[9].thresholds[4], 2);  // upper critical
    EXPECT_EQ(bmc->sensors[9].thresholds[0], 0);

    stir.settableFlag = 0x3F;  // more than the sensor lets us set: refused
    EXPECT_EQ(reader.SetSensorThreshold(9, stir), -1);
}

TEST_F(Thresholds, DiscoveryKeepsWhatItReadEvenAfterAWrite) {
    auto s = Voltage(3, "12V");
    s.m = 6;
    s.k2 = -2;
    s.readable = 0x1B;
    s.settable = 0x1B;
    s.uc = 225;
    s.unc = 220;
    s.lc = 175;
    s.lnc = 180;
    AddSensor(s, 200);
    AddSensor(Processor(0x40, 1), 0, 0x80);
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);

    SensorThresholdInfoRaw stir{};
    SensorThresholdInfoConverted stic{};
    ASSERT_EQ(reader.GetVoltageSensorThreshold(0, stir, stic), 0);
    EXPECT_EQ(stir.deviceID, 7);
    EXPECT_EQ(stir.sensorType, 2);
    EXPECT_EQ(stir.settableFlag, 0x1B);
    EXPECT_EQ(stic.settableFlag, 0x1B);
    EXPECT_EQ(stir.readableFlag, 0x1B);
    EXPECT_EQ(stir.UpperCriticalThresholdValue, 225);
    EXPECT_NEAR(stic.UpperCriticalThresholdValue, 13.50, 1e-9);
    EXPECT_NEAR(stic.LowerNonCriticalThreshold, 10.80, 1e-9);

    SensorThresholdInfoRaw changed = stir;
    changed.settableFlag = 0x10;
    changed.UpperCriticalThresholdValue = 230;
    ASSERT_EQ(reader.SetSensorThreshold(3, changed), 0);
    EXPECT_EQ(bmc->sensors[3].thresholds[4], 230);

    SensorThresholdInfoRaw again{};
    SensorThresholdInfoConverted againConverted{};
    ASSERT_EQ(reader.GetThreshold(0, again, againConverted), 0);
    EXPECT_EQ(again.UpperCriticalThresholdValue, 225);
    ASSERT_EQ(reader.GetVoltageSensorThreshold(0, again, againConverted), 0);
    EXPECT_EQ(again.UpperCriticalThresholdValue, 225);
    // Asking the BMC itself shows the new value.
    SensorFormulaParameter sfp{};
    ASSERT_EQ(reader.GetSensorFormulaParameter(0, sfp), 0);
    EXPECT_EQ(sfp.M, 6);
    EXPECT_EQ(sfp.RExp, -2);
    ASSERT_EQ(reader.GetSensorThreshold(3, sfp, again, againConverted), 0);
    EXPECT_EQ(again.UpperCriticalThresholdValue, 230);

    // The discrete sensor's thresholds stay zero, with its identity filled in.
    ASSERT_EQ(reader.GetThreshold(1, again, againConverted), 0);
    EXPECT_EQ(again.readableFlag, 0);
    EXPECT_EQ(again.UpperCriticalThresholdValue, 0);
    EXPECT_EQ(again.deviceID, 3);
    EXPECT_EQ(again.sensorType, 7);

    // Orders outside the discovered entries are refused.
    again.UpperCriticalThresholdValue = 0x5A;
    EXPECT_EQ(reader.GetThreshold(2, again, againConverted), -1);
    EXPECT_EQ(reader.GetThreshold(-1, again, againConverted), -1);
    EXPECT_EQ(reader.GetSensorFormulaParameter(200, sfp), -1);
    EXPECT_EQ(reader.GetFanSensorThreshold(64, again, againConverted), -1);
    EXPECT_EQ(again.UpperCriticalThresholdValue, 0x5A);
}

}  // namespace
