// Writing one threshold: signed sensors ordered by their own values, values a sensor cannot
// hold never sent to it, thresholds that do not exist never asked for.
#include <array>
#include <climits>
#include <cmath>
#include <limits>

#include "IPMI/IPMIsupport.h"
#include "api/exports.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using ThresholdWrite = BmcTest;

constexpr int kLowerWarning = 0, kLowerCritical = 1, kUpperWarning = 3;
constexpr std::uint8_t kTwosComplement = 0x80, kOnesComplement = 0x40;

// The bytes of the last Set Sensor Thresholds: number, mask, then lower non-critical,
// critical, non-recoverable, upper non-critical, critical, non-recoverable.
std::vector<std::uint8_t> Sent(const std::vector<sim::BmcRequest>& sets) {
    return sets.empty() ? std::vector<std::uint8_t>{} : sets.back().data;
}

std::uint8_t Byte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// A signed temperature sensor: -20/-15/-5 below, 40/50/60 above, all settable.
sim::FullSensor SignedThermometer(std::uint8_t number, std::uint8_t unit1) {
    sim::FullSensor t = Temperature(number, "Signed T");
    t.unit1 = unit1;
    t.readable = t.settable = 0x3F;
    const bool ones = unit1 == kOnesComplement;
    auto raw = [ones](int v) { return Byte(v < 0 && ones ? v - 1 : v); };
    t.lnr = raw(-20), t.lc = raw(-15), t.lnc = raw(-5), t.unc = 40, t.uc = 50, t.unr = 60;
    t.max = 127, t.min = raw(-128);
    return t;
}

TEST_F(ThresholdWrite, SignedSensorsAreOrderedByTheirValues) {
    AddSensor(SignedThermometer(1, kTwosComplement), 25);
    // 45 lies between 40 and 50 in value order: only the upper non-critical changes. As
    // unsigned bytes the lower thresholds (ECh, F1h, FBh) would all have moved below 45.
    ASSERT_EQ(SetThresholdInfo(7, 1, kUpperWarning, 45.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, Byte(-5), Byte(-15), Byte(-20), 45, 50, 60}));

    // Below zero, pushing the lower ones further down: -25 moves -15 to -26 and -20 to -27.
    ASSERT_EQ(SetThresholdInfo(7, 1, kLowerWarning, -25.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, Byte(-25), Byte(-26), Byte(-27), 40, 50, 60}));

    // Upward across zero: lower critical at +45 pushes lower non-critical to 46 and the
    // upper ones above it, to the format's cap at most.
    ASSERT_EQ(SetThresholdInfo(7, 1, kLowerCritical, 45.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, 46, 45, Byte(-20), 47, 50, 60}));

    // Near the bottom of the range the pushed neighbours stop at -128.
    ASSERT_EQ(SetThresholdInfo(7, 1, kLowerWarning, -127.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, Byte(-127), Byte(-128), Byte(-128), 40, 50, 60}));
}

TEST_F(ThresholdWrite, OnesComplementSensorsToo) {
    AddSensor(SignedThermometer(1, kOnesComplement), 25);
    // One's complement -5 is FAh, -25 is E6h.
    ASSERT_EQ(SetThresholdInfo(7, 1, kUpperWarning, 45.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, 0xFA, 0xF0, 0xEB, 45, 50, 60}));
    ASSERT_EQ(SetThresholdInfo(7, 1, kLowerWarning, -25.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, 0xE6, 0xE5, 0xE4, 40, 50, 60}));
    // -127 is the one's complement floor.
    ASSERT_EQ(SetThresholdInfo(7, 1, kLowerWarning, -126.0), 0);
    EXPECT_EQ(Sent(Requests(kSensorNetFn, kSetSensorThresholds)),
              (std::vector<std::uint8_t>{1, 0x3F, 0x81, 0x80, 0x80, 40, 50, 60}));
    EXPECT_EQ(SetThresholdInfo(7, 1, kLowerWarning, -128.0), -1);  // no such byte
}

TEST_F(ThresholdWrite, AValueOutsideOneSensorsRangeSkipsOnlyThatSensor) {
    // Two rails of the system board: 12 V in 60 mV steps, 3.3 V in 20 mV steps (to 5.1 V).
    sim::FullSensor twelve = Voltage(0x10, "12V");
    twelve.m = 6, twelve.k2 = -2, twelve.readable = twelve.settable = 0x1B;
    twelve.lc = 175, twelve.lnc = 180, twelve.unc = 220, twelve.uc = 225;
    AddSensor(twelve, 200);
    sim::FullSensor three = Voltage(0x12, "3.3V");
    three.m = 2, three.k2 = -2, three.readable = three.settable = 0x1B;
    three.lc = 145, three.lnc = 149, three.unc = 182, three.uc = 186;
    AddSensor(three, 165);
    bmc->clear_log();

    // 12.57 V is raw 209 on the 12 V rail and raw 628 on the 3.3 V one, which has no such byte.
    EXPECT_EQ(SetThresholdInfo(7, 2, kUpperWarning, 12.57), -1);
    const auto sets = Requests(kSensorNetFn, kSetSensorThresholds);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].data, (std::vector<std::uint8_t>{0x10, 0x1B, 180, 175, 0, 209, 225, 0}));
    EXPECT_EQ(bmc->sensors[0x12].thresholds[3], 182);  // the 3.3 V rail keeps its own
    EXPECT_EQ(qarvel::State().busy.NoEnterSetThreshold, 0);
}

TEST_F(ThresholdWrite, EverySensorOfAMixedEntityIsTriedAndTheOthersStillWritten) {
    // Fans in 100 RPM steps, lower thresholds settable, among them: one whose thresholds the
    // BMC would not give at discovery, one in 1 RPM steps (no byte for 1000 RPM), and one
    // whose BMC refuses the write. The last one comes after all of these.
    auto fan = [](std::uint8_t number, const char* name, int m) {
        sim::FullSensor f = Fan(number, name);
        f.m = m, f.readable = f.settable = 0x07;
        f.lnr = 2, f.lc = 4, f.lnc = 6;
        return f;
    };
    AddSensor(fan(0x30, "FAN1", 100), 54);
    AddSensor(fan(0x33, "FAN4 Duty", 1), 40);
    bmc->sensors[0x33].thresholds_refused = 0xCB;
    AddSensor(fan(0x34, "FAN5", 100), 50);
    AddSensor(fan(0x35, "FAN6", 1), 50);
    AddSensor(fan(0x38, "FAN9", 100), 50);
    bmc->sensors[0x38].settable = 0;
    AddSensor(fan(0x39, "FAN10", 100), 50);
    // A sensor of another entity is no part of it.
    sim::FullSensor other = fan(0x3A, "PSU FAN", 100);
    other.entity = 10;
    AddSensor(other, 50);
    bmc->clear_log();

    // Lower non-critical to 1000 RPM: -1, after every sensor that could be written was.
    EXPECT_EQ(SetThresholdInfo(29, 4, kLowerWarning, 1000.0), -1);
    std::vector<std::uint8_t> written;
    for (const auto& set : Requests(kSensorNetFn, kSetSensorThresholds)) written.push_back(set.data[0]);
    EXPECT_EQ(written, (std::vector<std::uint8_t>{0x30, 0x34, 0x38, 0x39}));
    using T = std::array<std::uint8_t, 6>;  // lnc, lc, lnr, unc, uc, unr
    EXPECT_EQ(bmc->sensors[0x30].thresholds, (T{10, 4, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x33].thresholds, (T{6, 4, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x34].thresholds, (T{10, 4, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x35].thresholds, (T{6, 4, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x38].thresholds, (T{6, 4, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x39].thresholds, (T{10, 4, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x3A].thresholds, (T{6, 4, 2, 0, 0, 0}));
    EXPECT_EQ(qarvel::State().busy.NoEnterSetThreshold, 0);

    // With the refusals gone, the ordering still holds sensor by sensor: lower critical at
    // 700 RPM pushes FAN9's lower non-critical (600 RPM) to 800, FAN1's (1000) stays.
    bmc->sensors[0x33].thresholds_refused = 0;
    bmc->sensors[0x38].settable = 0x07;
    ASSERT_EQ(release(), 0);
    ASSERT_EQ(SetThresholdInfo(29, 4, kLowerCritical, 700.0), -1);  // FAN4 Duty and FAN6: no byte for 700
    EXPECT_EQ(bmc->sensors[0x30].thresholds, (T{10, 7, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x38].thresholds, (T{8, 7, 2, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[0x33].thresholds, (T{6, 4, 2, 0, 0, 0}));
}

TEST_F(ThresholdWrite, NoNumberAndHugeNumbersAreNeverWritten) {
    // An inlet sensor with B = -50: 206 degrees would be raw 256 and wrap to -50.
    sim::FullSensor inlet = Temperature(0x04, "Inlet");
    inlet.b = -5, inlet.k1 = 1, inlet.readable = inlet.settable = 0x3F;
    inlet.lnr = 50, inlet.lc = 52, inlet.lnc = 55, inlet.unc = 88, inlet.uc = 92, inlet.unr = 95;
    AddSensor(inlet, 73);
    const double refused[] = {206.0,
                              std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(),
                              1e9,
                              -1e9,
                              -51.0};
    for (double v : refused) {
        EXPECT_EQ(SetThresholdInfo(7, 1, kUpperWarning, v), -1) << v;
        EXPECT_EQ(bmc->count(kSensorNetFn, kSetSensorThresholds), 0u) << v;
    }
    EXPECT_EQ(bmc->sensors[0x04].thresholds[3], 88);
    // The edges of the range are values like any other: 205 is raw 255, -50 raw 0.
    EXPECT_EQ(SetThresholdInfo(7, 1, kUpperWarning, 205.0), 0);
    EXPECT_EQ(bmc->sensors[0x04].thresholds[3], 255);
    EXPECT_EQ(SetThresholdInfo(7, 1, kLowerWarning, -50.0), 0);
    EXPECT_EQ(bmc->sensors[0x04].thresholds[0], 0);
}

TEST_F(ThresholdWrite, ThresholdsThatDoNotExistAskNothing) {
    sim::FullSensor t = Temperature(1, "T");
    t.readable = t.settable = 0x3F;
    AddSensor(t, 25);
    for (int flag : {-1, 6, 7, 100, INT_MAX, INT_MIN}) {
        EXPECT_EQ(SetThresholdInfo(7, 1, flag, 30.0), -1) << flag;
        EXPECT_TRUE(bmc->log().empty()) << flag;  // not even the discovery
    }
    EXPECT_EQ(qarvel::State().busy.NoEnterSetThreshold, 0);
    // And directly, after discovery: nothing is sent either.
    ASSERT_EQ(IsIpmiSupport(), 1);
    ASSERT_EQ(EnsureSensorInfo(*qarvel::State().pIPMI), 0);
    SensorNumberInfo sni{};
    ASSERT_EQ(qarvel::State().pIPMI->GetSensorNumberInfo(7, 1, 1, sni), 0);
    ASSERT_EQ(sni.quantity, 1);
    bmc->clear_log();
    EXPECT_EQ(WriteThreshold(*qarvel::State().pIPMI, sni, 6, 30.0), -1);
    EXPECT_EQ(WriteThreshold(*qarvel::State().pIPMI, sni, -1, 30.0), -1);
    EXPECT_TRUE(bmc->log().empty());
    EXPECT_EQ(WriteThreshold(*qarvel::State().pIPMI, sni, 5, 99.0), 0);
    EXPECT_EQ(bmc->sensors[1].thresholds[5], 99);
}

TEST(RepresentableRaw, RangesOfTheThreeFormats) {
    SensorFormulaParameter sfp{};
    sfp.M = 1;
    unsigned char raw = 0;
    EXPECT_TRUE(RepresentableRaw(sfp, 255.0, raw));
    EXPECT_EQ(raw, 255);
    EXPECT_FALSE(RepresentableRaw(sfp, 256.0, raw));
    EXPECT_FALSE(RepresentableRaw(sfp, -1.0, raw));
    sfp.Unit1 = kTwosComplement;
    EXPECT_TRUE(RepresentableRaw(sfp, -128.0, raw));
    EXPECT_EQ(raw, 0x80);
    EXPECT_FALSE(RepresentableRaw(sfp, 128.0, raw));
    sfp.Unit1 = kOnesComplement;
    EXPECT_TRUE(RepresentableRaw(sfp, -127.0, raw));
    EXPECT_EQ(raw, 0x80);
    EXPECT_FALSE(RepresentableRaw(sfp, -128.0, raw));
    sfp.Unit1 = 0xC0;  // no numeric reading at all
    EXPECT_FALSE(RepresentableRaw(sfp, 1.0, raw));
    sfp.Unit1 = 0;
    sfp.M = 0;  // every raw byte reads the same
    EXPECT_FALSE(RepresentableRaw(sfp, 0.0, raw));
    // A step of the sensor that the division lands a hair below: 5.01 V in 30 mV steps.
    sfp.M = 3;
    sfp.RExp = -2;
    EXPECT_TRUE(RepresentableRaw(sfp, 5.01, raw));
    EXPECT_EQ(raw, 167);
}

}  // namespace
