// Both builds convert readings in IEEE double precision and so give the same bits: checked
// against values worked out outside the library, in exact IEEE double arithmetic
// (tools/conversion_expectations.py), for every sensor of the sample server and for a sweep
// of factors, formats and exponents.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "IPMI/Sensor.h"
#include "sim/loader.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

constexpr std::uint64_t kFnvOffset = 0xCBF29CE484222325ULL, kFnvPrime = 0x100000001B3ULL;

void Mix(std::uint64_t& h, const void* bytes, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * kFnvPrime;
}

// The value of every raw byte with these factors, as bits and as "%.2f" text.
std::uint64_t Digest(Sensor& reader, const SensorFormulaParameter& sfp, bool texts = true) {
    std::uint64_t h = kFnvOffset;
    for (int raw = 0; raw < 256; ++raw) {
        double v = 0;
        reader.GetReadingConversion(sfp, static_cast<unsigned char>(raw), v);
        unsigned char bits[8];
        std::memcpy(bits, &v, sizeof bits);  // little-endian on x86
        Mix(h, bits, sizeof bits);
        if (!texts) continue;
        char text[64];
        const int n = std::snprintf(text, sizeof text, "%.2f\n", v);
        Mix(h, text, static_cast<std::size_t>(n));
    }
    return h;
}

std::map<std::string, std::string> Expected() {
    std::map<std::string, std::string> out;
    std::ifstream in(qtest::DataPath("ipmi/conversion_expected.txt"));
    for (std::string line; std::getline(in, line);) {
        const auto last = line.rfind(' ');
        if (last != std::string::npos) out[line.substr(0, last)] = line.substr(last + 1);
    }
    return out;
}

std::string Hex(std::uint64_t h) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(h));
    return text;
}

SensorFormulaParameter Factors(int m, int b, int k1, int k2, int format = 0, int linearization = 0) {
    SensorFormulaParameter sfp{};
    sfp.Unit1 = static_cast<unsigned char>(format << 6);
    sfp.SensorLinearization = static_cast<unsigned char>(linearization);
    sfp.M = static_cast<short>(m);
    sfp.B = static_cast<short>(b);
    sfp.BExp = static_cast<signed char>(k1);
    sfp.RExp = static_cast<signed char>(k2);
    return sfp;
}

TEST_F(BmcTest, ExactValuesWhereExtendedPrecisionDiffered) {
    Sensor reader;
    double v = 0;
    // (5 x 1 + 100 x 10^-1) x 10^-3: in doubles 0.015 is a hair below, so it shows 0.01.
    reader.GetReadingConversion(Factors(5, 100, -1, -3), 1, v);
    EXPECT_EQ(v, 0x1.eb851eb851eb8p-7);
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", v);
    EXPECT_STREQ(text, "0.01");
    // A fan of M 1, B -50, B exponent -1 reads 1 at raw 6, not 0.
    reader.GetReadingConversion(Factors(1, -50, -1, 0), 6, v);
    EXPECT_EQ(v, 1.0);

    sim::FullSensor fan = Fan(0x30, "FAN1");
    fan.b = -50, fan.k1 = -1;
    AddSensor(fan, 6);
    int count = 0, version = 0;
    ASSERT_EQ(reader.GetSDRRepositoryInfo(count, version), 0);
    ASSERT_EQ(reader.GetSensorNumbers(count), 0);
    ASSERT_EQ(reader.GetFanSensorsInfo(count), 0);
    char speed[64] = {};
    ASSERT_EQ(reader.GetFanSpeed(0, speed), 0);
    EXPECT_STREQ(speed, "1RPM");
}

TEST(ConversionIdentity, EverySampleServerSensor) {
    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine(QARVEL_SAMPLE_MACHINE, error);
    ASSERT_NE(machine, nullptr) << error;
    sim::use(machine);
    const auto expected = Expected();
    int checked = 0;
    {
        Sensor reader;
        for (const auto& record : machine->bmc->records()) {
            if (record.size() < 48 || record[3] != 1 || record[20] >> 6 == 3) continue;
            unsigned char bytes[64] = {};  // the record class holds 64 bytes; names may be shorter
            std::memcpy(bytes, record.data(), std::min<std::size_t>(record.size(), sizeof bytes));
            SDR sdr(bytes);
            const SensorFormulaParameter sfp =
                Factors(sdr.GetValueM(), sdr.GetValueB(), sdr.GetBExpValue(), sdr.GetRExpValue(), sdr.GetUnit1() >> 6,
                        sdr.GetLinearization() & 0x7F);
            char label[16];
            std::snprintf(label, sizeof label, "sensor %02X", record[7]);
            auto it = expected.find(label);
            ASSERT_NE(it, expected.end()) << label;
            EXPECT_EQ(Hex(Digest(reader, sfp)), it->second) << label;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 17);  // every full sensor record with a numeric reading
    sim::use(std::make_shared<sim::Machine>());
}

TEST(ConversionIdentity, SweptFactorsFormatsAndExponents) {
    const auto expected = Expected();
    const int exponents[] = {-8, -3, -2, -1, 0, 1, 2, 7};
    Sensor reader;  // no device: conversions send nothing
    int checked = 0;
    for (int linearization : {0, 7})
        for (int format : {0, 1, 2}) {
            if (linearization == 7 && format != 0) continue;
            for (int m : {-512, -100, -7, -1, 1, 2, 3, 5, 6, 7, 10, 13, 49, 100, 511})
                for (int b : {-512, -50, -5, -1, 0, 1, 3, 100, 511}) {
                    std::uint64_t h = kFnvOffset;
                    for (int k1 : exponents)
                        for (int k2 : exponents)
                            h = (h ^ Digest(reader, Factors(m, b, k1, k2, format, linearization), false)) * kFnvPrime;
                    std::ostringstream label;
                    label << "sweep L" << linearization << " F" << format << " M" << m << " B" << b;
                    auto it = expected.find(label.str());
                    ASSERT_NE(it, expected.end()) << label.str();
                    EXPECT_EQ(Hex(h), it->second) << label.str();
                    ++checked;
                }
        }
    EXPECT_EQ(checked, 540);
}

}  // namespace
