// Non-linear sensors (linearization 70h-7Fh): each reading converted with the factors the BMC
// gives for that raw value, asked once per raw value within a discovery.
#include <array>
#include <cstddef>
#include <string>

#include "IPMI/conversion.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
constexpr std::uint8_t kGetReadingFactors = 0x23;

// Factor bytes as a full record holds them: M and B of 10 bits, exponents of 4.
std::array<std::uint8_t, 6> Factors(int m, int b, int k1, int k2) {
    return {static_cast<std::uint8_t>(m & 0xFF), static_cast<std::uint8_t>((m >> 2) & 0xC0),
            static_cast<std::uint8_t>(b & 0xFF), static_cast<std::uint8_t>((b >> 2) & 0xC0), 0,
            static_cast<std::uint8_t>((k2 & 0x0F) << 4 | (k1 & 0x0F))};
}

class NonLinear : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        // A temperature read in two segments: below raw 100 one degree a step, from 100 on
        // two degrees a step less 100.
        sim::FullSensor t = Temperature(0x05, "Exhaust");
        t.linearization = 0x70;
        AddSensor(t, 50);
        bmc->sensors[0x05].factor_segments = {{0, Factors(1, 0, 0, 0)}, {100, Factors(2, -100, 0, 0)}};
    }

    std::string Reading(Sensor& reader) {
        char text[64] = {};
        reader.GetTemperatureCurrent(0, text);
        return text;
    }
};

TEST_F(NonLinear, EachRawValueReadsWithItsOwnFactorsAskedOncePerRunWithinADiscovery) {
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    ASSERT_EQ(reader.TSInfo.quantity, 1);
    const std::string degrees = Reading(reader).substr(5);  // the unit after "50.00"
    // The answer for a raw value holds up to the next run the BMC names: a raw value at or
    // above one asked within the same run is not asked again; one below it is.
    struct Step {
        std::uint8_t raw;
        const char* value;
        std::size_t asked;
    };
    const Step steps[] = {
        {50, "50.00", 0},    // the discovery converted raw 0 (the thresholds): 0 to 99 are known
        {150, "200.00", 1},  // the upper run, from 150
        {50, "50.00", 0},
        {160, "220.00", 0},  // within the run asked from 150
        {120, "140.00", 1},  // the upper run, but below 150
    };
    for (const Step& step : steps) {
        bmc->sensors[0x05].reading = step.raw;
        bmc->clear_log();
        EXPECT_EQ(Reading(reader), step.value + degrees) << int(step.raw);
        const auto asked = Requests(kSensorNetFn, kGetReadingFactors);
        EXPECT_EQ(asked.size(), step.asked) << int(step.raw);
        if (!asked.empty()) {
            EXPECT_EQ(asked[0].data, (std::vector<std::uint8_t>{0x05, step.raw}));
        }
    }

    // A discovery run again asks afresh: the BMC may have new factors.
    bmc->sensors[0x05].reading = 50;
    bmc->sensors[0x05].factor_segments[0] = Factors(3, 0, 0, -1);
    ASSERT_EQ(Discover(reader), 0);
    bmc->clear_log();
    EXPECT_EQ(Reading(reader), "15.00" + degrees);
}

TEST_F(NonLinear, NoFactorsNoReading) {
    // Refused, or too short to hold the six factor bytes: no reading, and nothing kept.
    for (bool refused : {true, false}) {
        bmc->intercept = [refused](const sim::BmcRequest& q, sim::BmcResponse& r) {
            if (q.netfn != kSensorNetFn || q.cmd != kGetReadingFactors) return false;
            if (refused)
                r.completion = sim::completion::kInvalidCommand;
            else
                r.data = {0xFF, 2, 0, 0, 0, 0};
            return true;
        };
        Sensor reader;
        ASSERT_EQ(Discover(reader), 0);
        EXPECT_EQ(Reading(reader), "Unknown") << refused;
    }
    bmc->intercept = nullptr;
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(Reading(reader).substr(0, 5), "50.00");
}

// Thresholds, the range and a threshold to write are numbers of the same scale as the
// reading: each raw byte goes through the factors of its own run, never the record's (whose
// M of a non-linear sensor may be anything, 0 included).
TEST_F(NonLinear, ThresholdsRangeAndWritesUseTheFactorsOfEachRawValue) {
    bmc = std::make_shared<sim::Bmc>();
    sim::install_bmc(*machine, bmc);
    sim::FullSensor t = Temperature(0x05, "Exhaust");
    t.linearization = 0x70;
    t.m = 0;  // the record's own factors say nothing
    t.readable = t.settable = 0x3F;
    t.lnc = 20, t.unc = 90, t.uc = 150, t.unr = 180, t.max = 200;
    AddSensor(t, 50);
    bmc->sensors[0x05].factor_segments = {{0, Factors(1, 0, 0, 0)}, {100, Factors(2, -100, 0, 0)}};

    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    SensorThresholdInfoRaw stir = {};
    SensorThresholdInfoConverted stic = {};
    ASSERT_EQ(reader.GetTemperatureSensorThreshold(0, stir, stic), 0);
    EXPECT_DOUBLE_EQ(stic.LowerNonCriticalThreshold, 20);
    EXPECT_DOUBLE_EQ(stic.UpperNonCriticalThresholdValue, 90);
    EXPECT_DOUBLE_EQ(stic.UpperCriticalThresholdValue, 200);
    EXPECT_DOUBLE_EQ(stic.UpperNonRecoverThresholdValue, 260);
    EXPECT_DOUBLE_EQ(reader.TSInfo.sd[0].SensorReadingMaxD, 300);
    EXPECT_EQ(Text(reader.TSInfo.sd[0].SensorReadingMax).substr(0, 6), "300.00");

    // 240 degrees is raw 170 in the upper run; 99 is raw 99 in the lower; 95 lies between raw
    // 99 (99) and 100 (100) and takes the nearer. Beyond the range the factors span: none.
    bmc->clear_log();
    unsigned char raw = 0;
    ASSERT_TRUE(reader.ThresholdRaw(0, 240, raw));
    EXPECT_EQ(raw, 170);
    ASSERT_TRUE(reader.ThresholdRaw(0, 99.4, raw));
    EXPECT_EQ(raw, 99);
    EXPECT_FALSE(reader.ThresholdRaw(0, 411, raw));
    EXPECT_FALSE(reader.ThresholdRaw(0, -1, raw));
    // Every byte converted costs one request per run the discovery had not asked about.
    EXPECT_LE(bmc->count(kSensorNetFn, kGetReadingFactors), 2u);
}

TEST(ReadingFactors, FieldsAsTheRecordLaysThemOut) {
    SensorFormulaParameter sfp = {};
    sfp.Unit1 = 0x80;  // two's complement, kept
    sfp.SensorLinearization = 0x71;
    // M = -2 (3FEh), B = 261 (105h), accuracy bits that are no factor, K2 = -2, K1 = 1.
    const unsigned char bytes[6] = {0xFE, 0xFF, 0x05, 0x7F, 0xFF, 0xE1};
    const SensorFormulaParameter f = WithFactors(sfp, bytes);
    EXPECT_EQ(f.M, -2);
    EXPECT_EQ(f.B, 261);
    EXPECT_EQ(f.RExp, -2);
    EXPECT_EQ(f.BExp, 1);
    EXPECT_EQ(f.Unit1, 0x80);
    EXPECT_EQ(f.SensorLinearization, 0);
    EXPECT_TRUE(IsNonLinear(sfp));
    sfp.SensorLinearization = 0x0B;
    EXPECT_FALSE(IsNonLinear(sfp));
    // Raw -10 (F6h): (-2 * -10 + 261 * 10) / 100.
    EXPECT_DOUBLE_EQ(ReadingValue(f, 0xF6), 26.3);
}

}  // namespace
