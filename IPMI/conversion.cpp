// Raw sensor bytes to values and back: y = L[(M x + B 10^K1) 10^K2] (IPMI 2.0 36.3).
#include <cmath>

#include "IPMI/conversion.h"
#include "IPMI/Sensor.h"

namespace {

// Analog data format, bits 7..6 of the record's units 1 byte (IPMI 2.0 43.1).
enum AnalogFormat { kUnsigned = 0, kOnesComplement = 1, kTwosComplement = 2, kNoReading = 3 };

int Format(const SensorFormulaParameter& sfp) { return sfp.Unit1 >> 6; }

// Linearization L by code (IPMI 2.0 36.3, table 36-1), with out-of-domain inputs giving 0.
// The e and cube root approximations (2.72, 0.33) are those our readings have always shown.
double (*const kForward[])(double) = {
    [](double v) { return v; },                                   // linear
    [](double v) { return v <= 0 ? 0.0 : std::log(v); },          // ln
    [](double v) { return v <= 0 ? 0.0 : std::log10(v); },        // log10
    [](double v) { return v <= 0 ? 0.0 : std::log10(v) / std::log10(2.0); },  // log2
    [](double v) { return std::pow(2.72, v); },                   // e
    [](double v) { return std::pow(10.0, v); },                   // exp10
    [](double v) { return std::pow(2.0, v); },                    // exp2
    [](double v) { return v == 0 ? 0.0 : 1 / v; },                // 1/x
    [](double v) { return std::pow(v, 2.0); },                    // sqr
    [](double v) { return std::pow(v, 3.0); },                    // cube
    [](double v) { return v < 0 ? 0.0 : std::sqrt(v); },          // sqrt
    [](double v) { return std::pow(v, 0.33); },                   // cube root
};

// The inverse of each L: false when the value has no raw byte (it is then written as 0).
bool (*const kInverse[])(double, double&) = {
    [](double y, double& v) { return v = y, true; },
    [](double y, double& v) { return v = std::pow(2.72, y), true; },
    [](double y, double& v) { return v = std::pow(10.0, y), true; },
    [](double y, double& v) { return v = std::pow(2.0, y), true; },
    [](double y, double& v) { return y > 0 && (v = std::log(y), true); },
    [](double y, double& v) { return y > 0 && (v = std::log10(y), true); },
    [](double y, double& v) { return y > 0 && (v = std::log10(y) / std::log10(2.0), true); },
    [](double y, double& v) { return y != 0 && (v = 1 / y, true); },
    [](double y, double& v) { return y >= 0 && (v = std::sqrt(y), true); },
    [](double y, double& v) { return v = std::pow(y, 0.333), true; },
    [](double y, double& v) { return v = std::pow(y, 2.0), true; },
    [](double y, double& v) { return v = std::pow(y, 3.0), true; },
};

constexpr unsigned int kLinearizations = sizeof kForward / sizeof kForward[0];
static_assert(sizeof kInverse / sizeof kInverse[0] == kLinearizations, "one inverse per linearization");

}  // namespace

bool IsNonLinear(const SensorFormulaParameter& sfp) { return (sfp.SensorLinearization & 0x7Fu) >= 0x70; }

SensorFormulaParameter WithFactors(const SensorFormulaParameter& sfp, const unsigned char* six) {
    SensorFormulaParameter f = sfp;
    f.SensorLinearization = 0;
    f.M = static_cast<short>(SignedField(six[0] | (six[1] & 0xC0u) << 2, 10));
    f.B = static_cast<short>(SignedField(six[2] | (six[3] & 0xC0u) << 2, 10));
    f.RExp = static_cast<signed char>(SignedField(six[5] >> 4, 4));
    f.BExp = static_cast<signed char>(SignedField(six[5] & 0x0Fu, 4));
    return f;
}

int SignedField(unsigned int value, int bits) {
    value &= (1u << bits) - 1;
    const unsigned int sign = 1u << (bits - 1);
    return value & sign ? static_cast<int>(value) - static_cast<int>(1u << bits) : static_cast<int>(value);
}

double FormulaValue(const SensorFormulaParameter& sfp, double x) {
    return (sfp.M * x + sfp.B * std::pow(10.0, sfp.BExp)) * std::pow(10.0, sfp.RExp);
}

double FormulaReading(const SensorFormulaParameter& sfp, unsigned char raw) {
    if (Format(sfp) == kNoReading) return 0.0;
    return FormulaValue(sfp, SignedRaw(sfp.Unit1, raw));
}

double ReadingValue(const SensorFormulaParameter& sfp, unsigned char raw) {
    const double v = FormulaReading(sfp, raw);
    const unsigned int L = sfp.SensorLinearization & 0x7Fu;
    // Codes 12 and above are OEM non-linear sensors, whose formula we do not know.
    return L < kLinearizations ? kForward[L](v) : 0.0;
}

namespace {

// The raw step x with M x + B 10^K1 = v 10^-K2, truncated toward zero; false when no int
// holds it (or M is 0, so that no step gives v).
bool RawStep(const SensorFormulaParameter& sfp, double v, int& x) {
    if (sfp.M == 0) return false;
    double q = (v / std::pow(10.0, sfp.RExp) - sfp.B * std::pow(10.0, sfp.BExp)) / sfp.M;
    if (!std::isfinite(q) || q <= -32769.0 || q >= 32768.0) return false;
    // A value on one of the sensor's steps comes back as that step: the division can land
    // a hair below it (5.01 V in 30 mV steps is 166.99999999999997).
    const double step = std::round(q);
    if (std::fabs(q - step) <= 1e-9 * std::fmax(1.0, std::fabs(q))) q = step;
    x = static_cast<int>(std::trunc(q));
    return true;
}

}  // namespace

unsigned char FormatRaw(const SensorFormulaParameter& sfp, int x) {
    unsigned char raw = static_cast<unsigned char>(x & 0xFF);
    if (Format(sfp) == kOnesComplement && raw >= 0x80) raw = static_cast<unsigned char>(raw - 1);
    return raw;
}

unsigned char RawStepByte(const SensorFormulaParameter& sfp, double v) {
    if (sfp.M == 0) return 0;
    int x = 0;
    if (!RawStep(sfp, v, x)) x = -32768;
    return static_cast<unsigned char>(x & 0xFF);
}

unsigned char RawForValue(const SensorFormulaParameter& sfp, double value) {
    const unsigned int L = sfp.SensorLinearization & 0x7Fu;
    double v = 0;
    if (L >= kLinearizations || !kInverse[L](value, v)) return 0;
    return FormatRaw(sfp, RawStepByte(sfp, v));
}

bool RepresentableRaw(const SensorFormulaParameter& sfp, double value, unsigned char& raw) {
    // Beyond any sensor's range, and no number at all: never a threshold to write.
    if (!std::isfinite(value) || std::fabs(value) >= 1e9) return false;
    const unsigned int L = sfp.SensorLinearization & 0x7Fu;
    double v = 0;
    if (L >= kLinearizations || !kInverse[L](value, v)) return false;
    int x = 0;
    if (!RawStep(sfp, v, x)) return false;
    int lowest = 0, highest = 255;
    switch (Format(sfp)) {
        case kOnesComplement: lowest = -127, highest = 127; break;
        case kTwosComplement: lowest = -128, highest = 127; break;
        case kNoReading: return false;
        default: break;
    }
    if (x < lowest || x > highest) return false;
    raw = FormatRaw(sfp, x);
    return true;
}

int SignedRaw(unsigned char unit1, unsigned char raw) {
    switch (unit1 >> 6) {
        case kOnesComplement: return raw < 0x80 ? raw : raw - 255;
        case kTwosComplement: return raw < 0x80 ? raw : raw - 256;
        default: return raw;
    }
}

int TruncatedInt(double v) {
    if (std::isnan(v)) return 0;
    if (v <= -2147483648.0) return -2147483647 - 1;
    if (v >= 2147483647.0) return 2147483647;
    return static_cast<int>(v);
}

// The reader's members of the same purpose, kept for their callers.
double Sensor::GetFormulaInput(SensorFormulaParameter sfp, double x) { return FormulaValue(sfp, x); }

double Sensor::ReadingConversion(SensorFormulaParameter sfp, unsigned char raw) { return FormulaReading(sfp, raw); }

int Sensor::GetReadingConversion(SensorFormulaParameter sfp, unsigned char raw, double& ConvertedReadingValue) {
    return ConvertedReadingValue = ReadingValue(sfp, raw), 0;
}

int Sensor::GetRawValue(SensorFormulaParameter sfp, double convertedValue, unsigned char& rawValue) {
    return rawValue = RawStepByte(sfp, convertedValue), 0;
}

int Sensor::ValueConversion(SensorFormulaParameter sfp, unsigned char& RawReadingValue) {
    return RawReadingValue = FormatRaw(sfp, RawReadingValue), 0;
}

int Sensor::GetValueConversion(SensorFormulaParameter sfp, unsigned char& RawReadingValue,
                               double ConvertedReadingValue) {
    return RawReadingValue = RawForValue(sfp, ConvertedReadingValue), 0;
}

int Sensor::WholePart(double v) { return TruncatedInt(v); }
