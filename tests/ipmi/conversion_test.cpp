// Reading conversion, checked against values worked out here: by hand for the edge cases,
// and from the IPMI formula y = (M x + B 10^K1) 10^K2 for every raw byte of real-looking sensors.
#include <cmath>
#include <limits>

#include "IPMI/Sensor.h"
#include "tests/support/fixture.h"

namespace {

using Conversion = qtest::MachineTest;

constexpr unsigned char kUnsigned = 0x00, kOnes = 0x40, kTwos = 0x80, kNoReading = 0xC0;

SensorFormulaParameter Factors(unsigned char unit1, int m, int b, int k1, int k2, unsigned char linearization = 0) {
    SensorFormulaParameter p{};
    p.Unit1 = unit1;
    p.SensorLinearization = linearization;
    p.M = static_cast<short>(m);
    p.B = static_cast<short>(b);
    p.BExp = static_cast<signed char>(k1);
    p.RExp = static_cast<signed char>(k2);
    return p;
}

double Forward(Sensor& s, const SensorFormulaParameter& p, unsigned char raw) {
    double v = -12345;
    EXPECT_EQ(s.GetReadingConversion(p, raw, v), 0);
    return v;
}

unsigned char Inverse(Sensor& s, const SensorFormulaParameter& p, double value) {
    unsigned char raw = 0xA5;
    EXPECT_EQ(s.GetValueConversion(p, raw, value), 0);
    return raw;
}

TEST_F(Conversion, FormatsBothWays) {
    Sensor s;
    const auto plain = Factors(kUnsigned, 1, 0, 0, 0);
    EXPECT_DOUBLE_EQ(Forward(s, plain, 0x1E), 30.0);
    EXPECT_EQ(Inverse(s, plain, 30.0), 0x1E);

    const auto twos = Factors(kTwos, 1, 0, 0, 0);
    EXPECT_DOUBLE_EQ(Forward(s, twos, 0x1E), 30.0);
    EXPECT_DOUBLE_EQ(Forward(s, twos, 0xF6), -10.0);
    EXPECT_DOUBLE_EQ(Forward(s, twos, 0x80), -128.0);
    EXPECT_EQ(Inverse(s, twos, -10.0), 0xF6);

    const auto ones = Factors(kOnes, 1, 0, 0, 0);
    EXPECT_DOUBLE_EQ(Forward(s, ones, 0xFE), -1.0);
    EXPECT_DOUBLE_EQ(Forward(s, ones, 0xFF), 0.0);  // negative zero
    EXPECT_DOUBLE_EQ(Forward(s, ones, 0x80), -127.0);
    EXPECT_EQ(Inverse(s, ones, -1.0), 0xFE);
    EXPECT_EQ(Inverse(s, ones, -127.0), 0x80);

    const auto offset = Factors(kUnsigned, 2, 5, 1, 0);
    EXPECT_DOUBLE_EQ(Forward(s, offset, 10), 70.0);  // 2 * 10 + 5 * 10
    EXPECT_EQ(Inverse(s, offset, 70.0), 10);

    // No numeric reading: the linearization of 0.
    EXPECT_DOUBLE_EQ(Forward(s, Factors(kNoReading, 7, 3, 1, 1), 0x42), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, Factors(kNoReading, 7, 3, 1, 1, 4), 0x42), 1.0);
    EXPECT_DOUBLE_EQ(s.ReadingConversion(Factors(kNoReading, 7, 3, 1, 1), 0x42), 0.0);
}

TEST_F(Conversion, InverseTruncatesTowardZeroAndKeepsTheLowByte) {
    Sensor s;
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 3, 0, 0, 0), 10.0), 3);       // 3.33
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 3, 0, 0, -2), 5.01), 167);    // on a step, not a hair below it
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 8, 0, 0, -3), 1.784), 223);
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 3, 0, 0, -2), 5.0099), 166);  // just below a step
    EXPECT_EQ(Inverse(s, Factors(kTwos, 3, 0, 0, 0), -10.0), 0xFD);       // -3.33 -> -3
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 0, 5, 0, 0), 123.0), 0);      // M = 0
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 0, 0, 0, 0), -7.0), 0);
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 1, 0, 0, 0), 300.0), 300 & 0xFF);
    // Out of the 16-bit range, or not a number: x = -32768, whose low byte is 0.
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 1, 0, 0, 0), 1e9), 0);
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 1, 0, 0, 0), std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(Inverse(s, Factors(kUnsigned, 1, 0, 0, 0), std::numeric_limits<double>::infinity()), 0);
    unsigned char raw = 0x77;
    EXPECT_EQ(s.GetRawValue(Factors(kUnsigned, 0, 0, 0, 0), 55.0, raw), 0);
    EXPECT_EQ(raw, 0);
    raw = 0x90;
    EXPECT_EQ(s.ValueConversion(Factors(kOnes, 1, 0, 0, 0), raw), 0);
    EXPECT_EQ(raw, 0x8F);
    raw = 0x90;
    EXPECT_EQ(s.ValueConversion(Factors(kTwos, 1, 0, 0, 0), raw), 0);
    EXPECT_EQ(raw, 0x90);
}

TEST_F(Conversion, EveryLinearizationForward) {
    Sensor s;
    auto with = [](unsigned char l) { return Factors(kTwos, 1, 0, 0, 0, l); };
    EXPECT_DOUBLE_EQ(Forward(s, with(0), 7), 7.0);
    EXPECT_NEAR(Forward(s, with(1), 10), 2.302585092994046, 1e-12);  // ln 10
    EXPECT_DOUBLE_EQ(Forward(s, with(2), 100), 2.0);
    EXPECT_NEAR(Forward(s, with(3), 8), 3.0, 1e-12);
    EXPECT_NEAR(Forward(s, with(4), 2), 7.3984, 1e-12);  // 2.72 squared: the base is 2.72
    EXPECT_DOUBLE_EQ(Forward(s, with(5), 2), 100.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(6), 3), 8.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(7), 4), 0.25);
    EXPECT_DOUBLE_EQ(Forward(s, with(8), 0xFD), 9.0);  // (-3)^2
    EXPECT_DOUBLE_EQ(Forward(s, with(9), 0xFE), -8.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(10), 16), 4.0);
    EXPECT_NEAR(Forward(s, with(11), 8), std::exp(0.33 * std::log(8.0)), 1e-12);  // 8^0.33, not 2
    EXPECT_DOUBLE_EQ(Forward(s, with(12), 8), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(0x7F), 8), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(0x82), 100), 2.0);  // bit 7 is not part of the code

    // Outside each function's domain: 0.
    EXPECT_DOUBLE_EQ(Forward(s, with(1), 0xFD), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(1), 0), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(2), 0xFD), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(3), 0), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(7), 0), 0.0);
    EXPECT_DOUBLE_EQ(Forward(s, with(10), 0xFD), 0.0);
}

TEST_F(Conversion, EveryLinearizationInverse) {
    Sensor s;
    auto with = [](unsigned char l) { return Factors(kUnsigned, 1, 0, 0, 0, l); };
    EXPECT_EQ(Inverse(s, with(0), 42.0), 42);
    EXPECT_EQ(Inverse(s, with(1), 1.0), 2);        // 2.72^1
    EXPECT_EQ(Inverse(s, with(2), 2.0), 100);
    EXPECT_EQ(Inverse(s, with(3), 3.0), 8);
    EXPECT_EQ(Inverse(s, with(4), 7.3984), 2);     // ln(2.72^2) = 2.0007
    EXPECT_EQ(Inverse(s, with(5), 100.0), 2);
    EXPECT_EQ(Inverse(s, with(6), 8.0), 3);
    EXPECT_EQ(Inverse(s, with(7), 0.25), 4);
    EXPECT_EQ(Inverse(s, with(8), 16.0), 4);
    EXPECT_EQ(Inverse(s, with(9), 8.0), 1);        // 8^0.333 = 1.998
    EXPECT_EQ(Inverse(s, with(9), 27.0), 2);       // 27^0.333 = 2.996
    EXPECT_EQ(Inverse(s, with(10), 3.0), 9);
    EXPECT_EQ(Inverse(s, with(11), 2.0), 8);
    // Values without a raw byte give 0.
    EXPECT_EQ(Inverse(s, with(4), 0.0), 0);
    EXPECT_EQ(Inverse(s, with(5), -1.0), 0);
    EXPECT_EQ(Inverse(s, with(6), -8.0), 0);
    EXPECT_EQ(Inverse(s, with(7), 0.0), 0);
    EXPECT_EQ(Inverse(s, with(8), -16.0), 0);
    EXPECT_EQ(Inverse(s, with(12), 5.0), 0);
    EXPECT_EQ(Inverse(s, with(0x70), 5.0), 0);
}

// Every raw byte of a few real-looking linear sensors against the formula, and back.
TEST_F(Conversion, LinearSensorsAgreeWithTheFormulaOnEveryRawByte) {
    struct Set {
        const char* what;
        unsigned char format;
        int m, b, k1, k2;
    };
    const Set sets[] = {
        {"12 V rail, 60 mV steps", kUnsigned, 6, 0, 0, -2},
        {"CPU temperature, signed degrees", kTwos, 1, 0, 0, 0},
        {"inlet, raw - 50 degrees", kUnsigned, 1, -5, 1, 0},
        {"fan, 100 RPM steps", kUnsigned, 100, 0, 0, 0},
        {"current, falling slope", kOnes, -37, 212, -1, -3},
        {"extreme factors", kTwos, 511, -512, 7, -8},
        {"battery, 16 mV steps with offset", kUnsigned, 16, 125, 1, -3},
    };
    Sensor s;
    for (const Set& set : sets) {
        const auto p = Factors(set.format, set.m, set.b, set.k1, set.k2);
        auto formula = [&](long double x) {
            return (set.m * x + set.b * std::pow(10.0L, set.k1)) * std::pow(10.0L, set.k2);
        };
        for (int r = 0; r < 256; ++r) {
            int x = r;
            if (set.format == kOnes && r >= 128) x = r - 255;
            if (set.format == kTwos && r >= 128) x = r - 256;
            const long double y = formula(x);
            EXPECT_NEAR(Forward(s, p, static_cast<unsigned char>(r)), static_cast<double>(y),
                        1e-9 * std::fabs(static_cast<double>(y)) + 1e-12)
                << set.what << ", raw " << r;

            // The value itself, and half a step past it away from zero, come back as x.
            int expected = x & 0xFF;
            if (set.format == kOnes && x < 0) expected = 255 + x;
            if (set.format == kOnes && r == 0xFF) expected = 0;  // negative zero comes back as zero
            const double between = static_cast<double>(formula(x >= 0 ? x + 0.5L : x - 0.5L));
            EXPECT_EQ(Inverse(s, p, between), expected) << set.what << ", raw " << r;
            EXPECT_EQ(Inverse(s, p, static_cast<double>(y)), expected) << set.what << ", raw " << r;
            EXPECT_EQ(Inverse(s, p, Forward(s, p, static_cast<unsigned char>(r))), expected) << set.what << ", raw " << r;
        }
    }
}

}  // namespace
