// The conversions and the threshold ordering as free functions of a record, with no reader
// and no BMC: properties that hold across a sweep of factors, formats and linearizations,
// and one digest of every result of the sweep, which the i386 and the x86-64 builds must
// both reproduce.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "IPMI/IPMIsupport.h"
#include "IPMI/conversion.h"
#include "IPMI/threshold_order.h"

namespace {

constexpr int kFormats = 4;  // unsigned, one's complement, two's complement, no reading
constexpr unsigned char kLinearizations[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x7F};
constexpr int kMs[] = {-512, -37, -1, 0, 1, 3, 100, 511};  // M and B are 10-bit signed
constexpr int kBs[] = {-512, -5, 0, 125, 511};
constexpr int kExponents[][2] = {{0, 0}, {1, -2}, {-1, -3}, {7, -8}, {-8, 7}, {2, 1}};  // K1, K2: 4-bit signed

template <typename Visit>
void EveryFactorSet(Visit visit) {
    for (int format = 0; format < kFormats; ++format)
        for (unsigned char l : kLinearizations)
            for (int m : kMs)
                for (int b : kBs)
                    for (const auto& k : kExponents)
                        visit(SensorFormulaParameter{static_cast<unsigned char>(format << 6), l, static_cast<short>(m),
                                                     static_cast<short>(b), static_cast<signed char>(k[0]),
                                                     static_cast<signed char>(k[1])});
}

std::string Describe(const SensorFormulaParameter& sfp) {
    char text[96];
    std::snprintf(text, sizeof text, "format %d L %d M %d B %d K1 %d K2 %d", sfp.Unit1 >> 6, sfp.SensorLinearization,
                  sfp.M, sfp.B, sfp.BExp, sfp.RExp);
    return text;
}

// The signed range of steps of each analog format; none for "no reading".
bool StepRange(int format, int& lowest, int& highest) {
    static constexpr int kRange[3][2] = {{0, 255}, {-127, 127}, {-128, 127}};
    if (format > 2) return false;
    lowest = kRange[format][0], highest = kRange[format][1];
    return true;
}

// Linear sensors with a step (M != 0) and an offset of fewer than a million steps: every raw
// byte read and written back is the same byte, both through the plain inverse and through the
// threshold check, and the values follow the step order (so the signed formats put 0x80 and
// 0xFF where they belong).
TEST(ConversionSweep, LinearSensorsReadAndWriteBackEveryRawByte) {
    int sets = 0;
    EveryFactorSet([&](const SensorFormulaParameter& sfp) {
        int lowest = 0, highest = 0;
        if (sfp.SensorLinearization != 0 || sfp.M == 0 || !StepRange(sfp.Unit1 >> 6, lowest, highest)) return;
        ++sets;
        // An offset of a million steps and more leaves the value's double too few bits for the
        // step: M -1, B -5, K1 7, K2 -8 has always written raw 6's value back as 5.
        if (std::fabs(sfp.B * std::pow(10.0, sfp.BExp) / sfp.M) >= 1e6) return;
        const int format = sfp.Unit1 >> 6;
        double previous = 0;
        for (int x = lowest; x <= highest; ++x) {
            const unsigned char raw = static_cast<unsigned char>(format == 1 && x < 0 ? x + 255 : x & 0xFF);
            const double value = ReadingValue(sfp, raw);
            EXPECT_EQ(RawForValue(sfp, value), raw) << Describe(sfp) << ", raw " << int(raw);
            // Thresholds of 1e9 and more are refused whatever the sensor.
            unsigned char written = 0;
            const bool held = RepresentableRaw(sfp, value, written);
            EXPECT_EQ(held, std::fabs(value) < 1e9) << Describe(sfp) << ", raw " << int(raw);
            if (held) {
                EXPECT_EQ(written, raw) << Describe(sfp) << ", raw " << int(raw);
            }
            if (x > lowest) {
                EXPECT_TRUE(sfp.M > 0 ? value > previous : value < previous) << Describe(sfp) << ", raw " << int(raw);
            }
            previous = value;
        }
        if (format == 1) {  // negative zero reads as zero and is written as zero
            EXPECT_EQ(ReadingValue(sfp, 0xFF), ReadingValue(sfp, 0x00)) << Describe(sfp);
            EXPECT_EQ(RawForValue(sfp, ReadingValue(sfp, 0xFF)), 0x00) << Describe(sfp);
        }
    });
    EXPECT_EQ(sets, 3 * 7 * 5 * 6);
}

// A threshold one step or more outside the format's range is refused, never wrapped into the
// byte; so is every value of a sensor without a numeric reading or with an OEM linearization,
// and every value that is no number. Such sensors also read one value whatever the byte.
TEST(ConversionSweep, ValuesWithoutARawByteAreRefused) {
    const double never[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e9, -1e9};
    EveryFactorSet([&](const SensorFormulaParameter& sfp) {
        unsigned char raw = 0x5A;
        for (double v : never) EXPECT_FALSE(RepresentableRaw(sfp, v, raw)) << Describe(sfp) << ", " << v;
        const int format = sfp.Unit1 >> 6;
        const bool oem = (sfp.SensorLinearization & 0x7F) >= 12;
        int lowest = 0, highest = 0;
        if (!StepRange(format, lowest, highest) || oem) {
            for (int r = 0; r < 256; ++r) {
                const double value = ReadingValue(sfp, static_cast<unsigned char>(r));
                EXPECT_EQ(value, ReadingValue(sfp, 0)) << Describe(sfp) << ", raw " << r;
                EXPECT_FALSE(RepresentableRaw(sfp, value, raw)) << Describe(sfp) << ", raw " << r;
            }
            if (oem) {
                EXPECT_EQ(ReadingValue(sfp, 0x42), 0.0) << Describe(sfp);
            }
            return;
        }
        if (sfp.SensorLinearization != 0 || sfp.M == 0) return;
        // Two steps out, so that a value landing a hair inside the step past the end still counts.
        EXPECT_FALSE(RepresentableRaw(sfp, FormulaValue(sfp, highest + 2), raw)) << Describe(sfp);
        EXPECT_FALSE(RepresentableRaw(sfp, FormulaValue(sfp, lowest - 2), raw)) << Describe(sfp);
        EXPECT_FALSE(RepresentableRaw(sfp, FormulaValue(sfp, highest + 300), raw)) << Describe(sfp);
    });
}

// The six in ascending order, each with its settable bit and the facade's flag.
using Field = unsigned char SensorThresholdInfoRaw::*;
const Field kAscending[6] = {&SensorThresholdInfoRaw::LowerNonRecoverThreshold,
                             &SensorThresholdInfoRaw::LowerCriticalThreshold,
                             &SensorThresholdInfoRaw::LowerNonCriticalThreshold,
                             &SensorThresholdInfoRaw::UpperNonCriticalThresholdValue,
                             &SensorThresholdInfoRaw::UpperCriticalThresholdValue,
                             &SensorThresholdInfoRaw::UpperNonRecoverThresholdValue};
constexpr unsigned char kMaskBit[6] = {0x04, 0x02, 0x01, 0x08, 0x10, 0x20};
constexpr int kFlag[6] = {IPMIsupport::THRESHOLD_LOWER_NON_RECOVERABLE, IPMIsupport::THRESHOLD_LOWER_CRITICAL,
                          IPMIsupport::THRESHOLD_LOWER_WARNING,         IPMIsupport::THRESHOLD_UPPER_WARNING,
                          IPMIsupport::THRESHOLD_UPPER_CRITICAL,        IPMIsupport::THRESHOLD_UPPER_NON_RECOVERABLE};

// What placing byte `r` as threshold `named` (an index in kAscending) of an ascending record
// may have done, in the analog data format of `unit1`.
void ExpectPlaced(const SensorThresholdInfoRaw& before, const SensorThresholdInfoRaw& after, unsigned char unit1,
                  int named, unsigned char r) {
    const std::string what = "format " + std::to_string(unit1 >> 6) + " mask " + std::to_string(before.settableFlag) +
                             " threshold " + std::to_string(named) + " raw " + std::to_string(r);
    EXPECT_EQ(after.deviceID, before.deviceID) << what;
    EXPECT_EQ(after.sensorType, before.sensorType) << what;
    EXPECT_EQ(after.changeTrend, before.changeTrend) << what;
    EXPECT_EQ(after.readableFlag, before.readableFlag) << what;
    EXPECT_EQ(after.settableFlag, before.settableFlag) << what;
    EXPECT_EQ(after.MinThreshold, before.MinThreshold) << what;
    EXPECT_EQ(after.MaxThreshold, before.MaxThreshold) << what;

    // The raw range the moved ones keep to; a record without one is bounded by the byte.
    const int format = unit1 >> 6;
    int floor = SignedRaw(unit1, before.MinThreshold), cap = SignedRaw(unit1, before.MaxThreshold);
    if (before.MinThreshold == 0 && before.MaxThreshold == 0) {
        floor = format == 0 ? 0 : (format == 1 ? -127 : -128);
        cap = format == 0 ? 255 : 127;
    } else if (format == 0 && before.MaxThreshold == 0) {
        cap = 255;
    }

    // The settable ones in order, and the named one's place among them.
    int slot[6], count = 0, place = -1;
    for (int i = 0; i < 6; ++i) {
        if (before.settableFlag & kMaskBit[i]) {
            if (i == named) place = count;
            slot[count++] = i;
        } else {
            EXPECT_EQ(after.*kAscending[i], before.*kAscending[i]) << what << ": slot " << i << " is not settable";
        }
    }
    auto now = [&](int k) { return SignedRaw(unit1, after.*kAscending[slot[k]]); };
    auto was = [&](int k) { return SignedRaw(unit1, before.*kAscending[slot[k]]); };
    const int value = SignedRaw(unit1, r);
    for (int k = 0; k < count; ++k) {
        const unsigned char byte = after.*kAscending[slot[k]];
        if (place < 0) {
            EXPECT_EQ(byte, before.*kAscending[slot[k]]) << what << ": an ordered record changed";
        } else if (k == place) {
            EXPECT_EQ(byte, r) << what;
        } else if (byte != before.*kAscending[slot[k]]) {
            // Only a neighbour on the wrong side of the new one moves, and just past it.
            if (k < place) {
                EXPECT_GT(was(k), now(k + 1)) << what << ", slot " << slot[k];
                EXPECT_EQ(now(k), std::max(floor, now(k + 1) - 1)) << what << ", slot " << slot[k];
            } else {
                EXPECT_LT(was(k), now(k - 1)) << what << ", slot " << slot[k];
                EXPECT_EQ(now(k), std::min(cap, now(k - 1) + 1)) << what << ", slot " << slot[k];
            }
        }
        if (place >= 0 && value >= floor && value <= cap && k > 0) {
            EXPECT_LE(now(k - 1), now(k)) << what << ", slot " << slot[k];
        }
    }
}

// Every settable mask, every named threshold and every new byte, in the three formats, from
// ascending records with and without a raw range: the settable ones end ascending (as numbers
// of the format) when the new value is inside the range, a moved one sits one step past its
// neighbour or at the range's end, and nothing else in the record changes.
TEST(ThresholdOrderSweep, SettableOnesEndAscendingAndNothingElseMoves) {
    struct Start {
        int values[6];
        int min, max;  // both 0: no range in the record
    };
    // Numbers of the signed formats; an unsigned sensor sees them shifted up by 100.
    const Start starts[] = {{{-60, -40, -20, 20, 40, 60}, 0, 0},
                            {{-60, -40, -20, 20, 40, 60}, -100, 100},
                            {{10, 11, 12, 13, 14, 15}, 5, 120},
                            {{-5, -5, 0, 0, 90, 90}, 0, 0}};
    for (int format = 0; format < 3; ++format) {
        const unsigned char unit1 = static_cast<unsigned char>(format << 6);
        auto byte = [&](int v) { return static_cast<unsigned char>(format == 1 && v < 0 ? v + 255 : v & 0xFF); };
        for (const Start& start : starts)
            for (int mask = 0; mask < 64; ++mask)
                for (int named = 0; named < 6; ++named)
                    for (int r = 0; r < 256; ++r) {
                        SensorThresholdInfoRaw before{};
                        before.deviceID = 7, before.sensorType = 1, before.changeTrend = 3;
                        before.readableFlag = 0x3F;
                        before.settableFlag = static_cast<unsigned char>(mask);
                        before.MinThreshold = byte(format == 0 && start.min < 0 ? 0 : start.min);
                        before.MaxThreshold = byte(format == 0 && start.max < 0 ? 0 : start.max);
                        for (int i = 0; i < 6; ++i)
                            before.*kAscending[i] = byte(format == 0 ? start.values[i] + 100 : start.values[i]);
                        SensorThresholdInfoRaw after = before;
                        OrderThresholds(after, kFlag[named], static_cast<unsigned char>(r), unit1);
                        ExpectPlaced(before, after, unit1, named, static_cast<unsigned char>(r));
                    }
    }
}

constexpr std::uint64_t kFnvOffset = 0xCBF29CE484222325ULL, kFnvPrime = 0x100000001B3ULL;

void Mix(std::uint64_t& h, const void* bytes, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * kFnvPrime;
}

// Every result of the sweep that the two builds share, in one number: each raw byte's value as
// the report prints it ("%.2f"), the byte written back for that value and whether it is a
// threshold the sensor can hold, and the six thresholds after placing each byte as each one.
//
// Two kinds of result are left out, because the i386 and the x86-64 maths libraries give log
// and pow results that differ in the last bit: values of 1e12 and more, whose "%.2f" text
// reaches that bit (only their class goes in), and the byte written back through a
// linearization whose inverse is log or pow, where that bit can put a value that lies on a
// step just below it (M 1, B 125, K1 7, K2 -8, log10: the i386 build writes raw 26's value back
// as 26, the x86-64 build as 25). The inverses kept are exact in IEEE arithmetic: y, 1/y, sqrt y.
std::uint64_t SweepDigest() {
    std::uint64_t h = kFnvOffset;
    EveryFactorSet([&](const SensorFormulaParameter& sfp) {
        const unsigned int l = sfp.SensorLinearization & 0x7Fu;
        const bool exactInverse = l == 0 || l == 7 || l == 8 || l >= 12;
        for (int r = 0; r < 256; ++r) {
            const double value = ReadingValue(sfp, static_cast<unsigned char>(r));
            char text[64];
            int n = 0;
            if (std::fabs(value) < 1e12)
                n = std::snprintf(text, sizeof text, "%.2f\n", value);
            else
                n = std::snprintf(text, sizeof text, "%s\n", std::isnan(value) ? "nan" : std::isinf(value) ? "inf" : "large");
            Mix(h, text, static_cast<std::size_t>(n));
            if (!exactInverse) continue;
            unsigned char raw = 0;
            const unsigned char written[3] = {RawForValue(sfp, value), RepresentableRaw(sfp, value, raw), raw};
            Mix(h, written, sizeof written);
        }
    });
    for (int format = 0; format < 3; ++format)
        for (int flag = 0; flag < 6; ++flag)
            for (int r = 0; r < 256; ++r) {
                SensorThresholdInfoRaw stir{};
                stir.settableFlag = 0x3F;
                stir.LowerNonRecoverThreshold = 0xEC, stir.LowerCriticalThreshold = 0xF6;
                stir.LowerNonCriticalThreshold = 0x00, stir.UpperNonCriticalThresholdValue = 0x0A;
                stir.UpperCriticalThresholdValue = 0x14, stir.UpperNonRecoverThresholdValue = 0x1E;
                OrderThresholds(stir, flag, static_cast<unsigned char>(r), static_cast<unsigned char>(format << 6));
                const unsigned char six[6] = {stir.LowerNonRecoverThreshold,       stir.LowerCriticalThreshold,
                                              stir.LowerNonCriticalThreshold,      stir.UpperNonCriticalThresholdValue,
                                              stir.UpperCriticalThresholdValue,    stir.UpperNonRecoverThresholdValue};
                Mix(h, six, sizeof six);
            }
    return h;
}

// The constant was printed by this same sweep run against the conversions and the ordering
// as they stood before they became free functions (the reader's members and the ordering's
// own code), in the i386 build; the x86-64 build gives it too.
TEST(ConversionSweep, DigestOfTheSharedResultsIsTheSameInEveryBuild) {
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(SweepDigest()));
    EXPECT_STREQ(hex, "5E21237B5FBDB249");
}

}  // namespace
