// Non-linear sensors (linearization 70h-7Fh): each reading converted with the factors the BMC
// gives for that raw value, asked once per raw value within a discovery.
#include <array>
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

TEST_F(NonLinear, EachRawValueReadsWithItsOwnFactorsAskedOncePerDiscovery) {
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    ASSERT_EQ(reader.TSInfo.quantity, 1);
    bmc->clear_log();
    const std::string degrees = Reading(reader).substr(5);  // the unit after "50.00"
    EXPECT_EQ(Reading(reader), "50.00" + degrees);
    bmc->sensors[0x05].reading = 150;
    EXPECT_EQ(Reading(reader), "200.00" + degrees);
    bmc->sensors[0x05].reading = 50;
    EXPECT_EQ(Reading(reader), "50.00" + degrees);
    const auto asked = Requests(kSensorNetFn, kGetReadingFactors);
    ASSERT_EQ(asked.size(), 2u);  // 50 and 150, each once
    EXPECT_EQ(asked[0].data, (std::vector<std::uint8_t>{0x05, 50}));
    EXPECT_EQ(asked[1].data, (std::vector<std::uint8_t>{0x05, 150}));

    // A discovery run again asks afresh: the BMC may have new factors.
    bmc->sensors[0x05].factor_segments[0] = Factors(3, 0, 0, -1);
    ASSERT_EQ(Discover(reader), 0);
    bmc->clear_log();
    EXPECT_EQ(Reading(reader), "15.00" + degrees);
    EXPECT_EQ(bmc->count(kSensorNetFn, kGetReadingFactors), 1u);
}

TEST_F(NonLinear, NoFactorsNoReading) {
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
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
        EXPECT_EQ(Reading(reader), "Unknown") << refused;
    }
    bmc->intercept = nullptr;
    EXPECT_EQ(Reading(reader).substr(0, 5), "50.00");
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
