// Raw sensor bytes to values and back, as pure functions of a record's factors: no request,
// no reader object. The Sensor members of the same purpose forward here.
#ifndef QARVEL_IPMI_CONVERSION_H
#define QARVEL_IPMI_CONVERSION_H

// The factors of the IPMI reading formula y = L[(M x + B 10^K1) 10^K2] (IPMI 2.0 36.3).
struct SensorFormulaParameter {
    unsigned char Unit1;                // bits 7..6: analog data format
    unsigned char SensorLinearization;  // bits 6..0: linearization L
    short M;
    short B;
    signed char BExp;  // K1
    signed char RExp;  // K2
};

// Linearization codes 70h-7Fh: non-linear, with factors that depend on the reading. The BMC
// gives them for each raw value (Get Sensor Reading Factors, IPMI 2.0 35.5).
bool IsNonLinear(const SensorFormulaParameter& sfp);
// The factors of `sfp` replaced by six bytes laid out as a full sensor record's bytes 24..29
// (M, M high bits and tolerance, B, B high bits and accuracy, accuracy, R and B exponents),
// under the linear formula: what a non-linear sensor's reading is converted with.
SensorFormulaParameter WithFactors(const SensorFormulaParameter& sfp, const unsigned char* six);

// (M x + B 10^K1) 10^K2, the formula before its linearization.
double FormulaValue(const SensorFormulaParameter& sfp, double x);
// The formula at the number `raw` stands for in the sensor's analog data format; 0 for a
// sensor without a numeric reading.
double FormulaReading(const SensorFormulaParameter& sfp, unsigned char raw);
// The value a sensor shows for `raw`: the formula under its linearization. An input outside
// the linearization's domain, and an OEM code (12 and above), give 0.
double ReadingValue(const SensorFormulaParameter& sfp, unsigned char raw);

// The low byte of the raw step x with M x + B 10^K1 = v 10^-K2, truncated toward zero (a
// value on a step gives that step). 0 when M is 0; the low byte of -32768 (0) when no
// 16-bit step holds it.
unsigned char RawStepByte(const SensorFormulaParameter& sfp, double v);
// The byte of step `x` in the sensor's analog data format: a one's complement negative step
// is one below its two's complement byte. Other formats keep the low byte.
unsigned char FormatRaw(const SensorFormulaParameter& sfp, int x);
// The raw byte written for `value`: the inverse linearization, the step, the format. 0 when
// the linearization has no inverse at `value` or is an OEM code.
unsigned char RawForValue(const SensorFormulaParameter& sfp, double value);
// The raw byte a sensor of these factors gives for `value`, when it has one: false for NaN,
// the infinities, magnitudes of 1e9 and more, and values whose step lies outside the raw
// range of the sensor's analog data format (0..255, -127..127 or -128..127).
bool RepresentableRaw(const SensorFormulaParameter& sfp, double value, unsigned char& raw);
// The two's complement number a `bits`-wide field holds (M and B: 10 bits, exponents: 4).
int SignedField(unsigned int value, int bits);
// A raw byte as the number it stands for in the analog data format of `unit1` (bits 7..6).
int SignedRaw(unsigned char unit1, unsigned char raw);

// v truncated toward zero, held to the range of int (NaN gives 0).
int TruncatedInt(double v);

#endif
