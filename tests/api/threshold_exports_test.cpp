// GetAllThresholdInfo, GetThresholdInfo and SetThresholdInfo.
#include <cstring>
#include <string>

#include "api/exports.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using ThresholdExports = BmcTest;

constexpr int kLowerWarning = 0, kUpperWarning = 3, kUpperCritical = 4;

SensorThresholdInformation Cleared() {
    SensorThresholdInformation r;
    std::memset(&r, 0, sizeof r);
    return r;
}

sim::FullSensor Thermometer(std::uint8_t number, std::uint8_t entity) {
    sim::FullSensor t = Temperature(number, "T" + std::to_string(number));
    t.entity = entity;
    t.readable = t.settable = 0x3F;
    t.lnr = 10, t.lc = 20, t.lnc = 30, t.unc = 70, t.uc = 80, t.unr = 90;
    return t;
}

TEST_F(ThresholdExports, AllSensorsUpToSixtyFour) {
    for (int i = 0; i < 100; ++i) AddSensor(Thermometer(static_cast<std::uint8_t>(i), 7), 25);
    SensorThresholdInformation all = Cleared();
    std::memset(&all, 0x6B, sizeof all);
    ASSERT_EQ(GetAllThresholdInfo(&all), 0);
    EXPECT_EQ(all.quantity, 64);
    EXPECT_EQ(all.SensorThreshold[63].DeviceID, 7);
    EXPECT_DOUBLE_EQ(all.SensorThreshold[63].UpperNonRecoverThresholdValue, 90.0);
    EXPECT_EQ(all.SensorThreshold[0].readableFlag, 0);  // the record was cleared first
    EXPECT_EQ(qarvel::State().IPMIGetSensorInfoOK, 1);
}

TEST_F(ThresholdExports, RecordsThatAreNoSensorsGiveNoEntries) {
    AddSensor(Thermometer(1, 7), 25);
    bmc->add_record(sim::CompactSensor{.number = 2, .type = 8, .name = "PSU"}.record());
    bmc->add_record(sim::fru_locator(0, 7, 1, "FRU"));
    AddSensor(Fan(0x30, "FAN1"), 50);
    SensorThresholdInformation all = Cleared();
    ASSERT_EQ(GetAllThresholdInfo(&all), 0);
    ASSERT_EQ(all.quantity, 2);
    EXPECT_EQ(all.SensorThreshold[1].DeviceID, 29);
    // Nothing matches entity 0 and type 0, though the repository has four records.
    SensorThresholdInformation none = Cleared();
    ASSERT_EQ(GetThresholdInfo(0, 0, &none), 0);
    EXPECT_EQ(none.quantity, 0);
}

TEST_F(ThresholdExports, OneEntityAndTypeUpToSixtyFourWithTheCallersNumbers) {
    for (int i = 0; i < 70; ++i) AddSensor(Thermometer(static_cast<std::uint8_t>(i), 3), 25);
    AddSensor(Thermometer(100, 7), 25);
    SensorThresholdInformation cpu = Cleared();
    ASSERT_EQ(GetThresholdInfo(3, 1, &cpu), 0);
    EXPECT_EQ(cpu.quantity, 64);
    // Entity and type are compared as bytes; the entries say what the caller asked for.
    SensorThresholdInformation board = Cleared();
    ASSERT_EQ(GetThresholdInfo(0x107, 0x201, &board), 0);
    ASSERT_EQ(board.quantity, 1);
    EXPECT_EQ(board.SensorThreshold[0].DeviceID, 0x107);
    EXPECT_EQ(board.SensorThreshold[0].SensorType, 0x201);
    EXPECT_DOUBLE_EQ(board.SensorThreshold[0].LowerCriticalThreshold, 20.0);
    EXPECT_EQ(GetThresholdInfo(7, 1, nullptr), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterGetThreshold, 0);
}

TEST_F(ThresholdExports, SetConvertsOrdersAndWrites) {
    sim::FullSensor v = Voltage(0x10, "12V");
    v.m = 6;
    v.k2 = -2;  // 60 mV per count
    v.readable = v.settable = 0x1B;
    v.uc = 225, v.unc = 220, v.lc = 175, v.lnc = 180;
    AddSensor(v, 200);
    // 13.56 V is raw 226; upper non-critical there passes upper critical (225), which moves
    // one step above it.
    ASSERT_EQ(SetThresholdInfo(7, 2, kUpperWarning, 13.56), 0);
    const auto sets = Requests(kSensorNetFn, kSetSensorThresholds);
    ASSERT_EQ(sets.size(), 1u);
    // Number, mask, then lower non-critical, critical, non-recoverable, upper likewise.
    EXPECT_EQ(sets[0].data, (std::vector<std::uint8_t>{0x10, 0x1B, 180, 175, 0, 226, 227, 0}));
    EXPECT_EQ(bmc->sensors[0x10].thresholds[3], 226);
    EXPECT_EQ(bmc->sensors[0x10].thresholds[4], 227);
    // Set equal to its neighbour, nothing else moves.
    ASSERT_EQ(SetThresholdInfo(7, 2, kUpperWarning, 13.50), 0);
    EXPECT_EQ(Requests(kSensorNetFn, kSetSensorThresholds).back().data,
              (std::vector<std::uint8_t>{0x10, 0x1B, 180, 175, 0, 225, 225, 0}));
    EXPECT_EQ(qarvel::State().busy.NoEnterSetThreshold, 0);
}

TEST_F(ThresholdExports, TheSecondSensorRefusesAndTheFirstKeepsItsValue) {
    AddSensor(Thermometer(1, 7), 25);
    sim::FullSensor stubborn = Thermometer(2, 7);
    AddSensor(stubborn, 25);
    bmc->sensors[2].settable = 0x07;  // the BMC lets only the lower ones change
    EXPECT_EQ(SetThresholdInfo(7, 1, kUpperCritical, 85.0), -1);
    EXPECT_EQ(bmc->sensors[1].thresholds[4], 85);
    EXPECT_EQ(bmc->sensors[2].thresholds[4], 80);
    EXPECT_EQ(bmc->count(kSensorNetFn, kSetSensorThresholds), 2u);
    EXPECT_EQ(qarvel::State().busy.NoEnterSetThreshold, 0);
    // The next call runs normally.
    EXPECT_EQ(SetThresholdInfo(7, 1, kUpperCritical, 85.0), -1);
    EXPECT_EQ(bmc->count(kSensorNetFn, kSetSensorThresholds), 4u);
}

TEST_F(ThresholdExports, ASensorWhoseThresholdsWereNotReadIsNotWrittenOver) {
    // A busy BMC refuses Get Sensor Thresholds for sensor 2 during discovery only. Writing
    // its upper critical threshold would send zeros for the five others.
    AddSensor(Thermometer(1, 7), 25);
    AddSensor(Thermometer(2, 7), 25);
    bmc->sensors[2].thresholds_refused = sim::completion::kUnspecified;
    SensorThresholdInformation all = Cleared();
    ASSERT_EQ(GetAllThresholdInfo(&all), 0);
    bmc->sensors[2].thresholds_refused = 0;
    const auto before = bmc->sensors[2].thresholds;
    EXPECT_EQ(SetThresholdInfo(7, 1, kUpperCritical, 85.0), -1);
    EXPECT_EQ(bmc->sensors[1].thresholds[4], 85);  // the sensor before it is written
    EXPECT_EQ(bmc->sensors[2].thresholds, before);
    EXPECT_EQ(bmc->count(kSensorNetFn, kSetSensorThresholds), 1u);
}

TEST_F(ThresholdExports, NoSensorOfThatEntityAndTypeWritesNothing) {
    AddSensor(Thermometer(1, 7), 25);
    EXPECT_EQ(SetThresholdInfo(7, 2, kLowerWarning, 1.0), 0);
    EXPECT_EQ(SetThresholdInfo(3, 1, kLowerWarning, 1.0), 0);
    EXPECT_EQ(bmc->count(kSensorNetFn, kSetSensorThresholds), 0u);
}

TEST_F(ThresholdExports, OneDiscoveryWhateverRunsFirst) {
    AddSensor(Thermometer(1, 7), 25);
    AddSensor(Fan(0x30, "FAN1"), 50);
    ASSERT_EQ(SetThresholdInfo(7, 1, kLowerWarning, 25.0), 0);
    SensorThresholdInformation all = Cleared();
    ASSERT_EQ(GetAllThresholdInfo(&all), 0);
    SensorThresholdInformation one = Cleared();
    ASSERT_EQ(GetThresholdInfo(29, 4, &one), 0);
    FanInformation fans;
    std::memset(&fans, 0, sizeof fans);
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans), 0);
    EXPECT_EQ(fans.quantity, 1);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), 2u);  // each record read once
    // The cached thresholds are those of the discovery, not of the write.
    EXPECT_DOUBLE_EQ(all.SensorThreshold[0].LowerNonCriticalThreshold, 30.0);
    EXPECT_EQ(bmc->sensors[1].thresholds[0], 25);
}

TEST_F(ThresholdExports, FailuresLeaveTheFlagsFree) {
    AddSensor(Thermometer(1, 7), 25);
    bmc->fail_request(1, sim::completion::kUnspecified);  // the repository information
    SensorThresholdInformation r = Cleared();
    EXPECT_EQ(GetThresholdInfo(7, 1, &r), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterGetThreshold, 0);
    ASSERT_EQ(GetThresholdInfo(7, 1, &r), 0);
    EXPECT_EQ(r.quantity, 1);
    bmc->fail_command(kSensorNetFn, kSetSensorThresholds, sim::completion::kUnspecified);
    EXPECT_EQ(SetThresholdInfo(7, 1, kUpperCritical, 85.0), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterSetThreshold, 0);
    EXPECT_EQ(GetAllThresholdInfo(nullptr), -1);

    machine->remove_device("/dev/ipmi");
    qtest::ResetLibrary();
    EXPECT_EQ(GetAllThresholdInfo(&r), -1);
    EXPECT_EQ(GetThresholdInfo(7, 1, &r), -1);
    EXPECT_EQ(SetThresholdInfo(7, 1, kUpperCritical, 85.0), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterGetThreshold + qarvel::State().busy.NoEnterSetThreshold, 0);
}

// Conversion factors are fetched by a one-byte position: a sensor past position 255 would
// be converted with another sensor's factors, so it is refused instead.
TEST_F(ThresholdExports, ASensorPastPosition255IsNotWrittenWithAnothersFactors) {
    for (int i = 0; i < 300; ++i) {
        sim::FullSensor t = Thermometer(static_cast<std::uint8_t>(i & 0xFF), i == 299 ? 39 : 7);
        t.m = i == 299 ? 2 : 1;
        bmc->add_record(t.record());
    }
    EXPECT_EQ(SetThresholdInfo(39, 1, kUpperCritical, 85.0), -1);
    EXPECT_EQ(bmc->count(kSensorNetFn, kSetSensorThresholds), 0u);
}

}  // namespace
