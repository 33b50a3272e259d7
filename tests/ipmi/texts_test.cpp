// Unit texts of a record and state texts of a reading.
#include <cstring>
#include <string>

#include "IPMI/EventCodeTable.h"
#include "IPMI/Sensor.h"
#include "tests/support/fixture.h"

namespace {

using Texts = qtest::MachineTest;

// The unit text of a record with these unit bytes, written into a buffer of `length`
// bytes pre-filled with '#'.
std::string Unit(Sensor& s, unsigned char unit1, unsigned char base, unsigned char modifier, int length = 64) {
    unsigned char record[64] = {};
    record[3] = 1;
    record[20] = unit1;
    record[21] = base;
    record[22] = modifier;
    s.sdr = record;
    char text[64];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(s.GetSensorUnit(text, length), 0);
    return std::string(text, strnlen(text, sizeof text));
}

std::string State(Sensor& s, unsigned char code, unsigned char bits) {
    char text[64];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(s.GetDeviceStatus(code, bits, text), 0);
    return std::string(text, strnlen(text, sizeof text));
}

TEST_F(Texts, UnitFromBaseModifierRateAndPercentage) {
    Sensor s;
    EXPECT_EQ(Unit(s, 0x00, 1, 0), "degree C");
    EXPECT_EQ(Unit(s, 0x00, 90, 0), "uncorrectable error");
    EXPECT_EQ(Unit(s, 0x00, 91, 0), "");
    EXPECT_EQ(Unit(s, 0x80, 4, 0), "V");  // the format bits play no part
    EXPECT_EQ(Unit(s, 0x02, 18, 23), "RPM/minute");
    EXPECT_EQ(Unit(s, 0x02, 18, 0), "");
    EXPECT_EQ(Unit(s, 0x02, 0, 23), "");
    EXPECT_EQ(Unit(s, 0x02, 18, 91), "");
    EXPECT_EQ(Unit(s, 0x04, 6, 24), "Watts*hour");
    EXPECT_EQ(Unit(s, 0x01, 18, 0), "%");
    EXPECT_EQ(Unit(s, 0x39, 18, 0), "%");  // rate 7 is no rate: the percentage bit decides
    EXPECT_EQ(Unit(s, 0x20, 18, 0), "per minute");
    EXPECT_EQ(Unit(s, 0x20, 200, 0), "per minute");
    EXPECT_EQ(Unit(s, 0x10, 1, 0), "per ms");
    EXPECT_EQ(Unit(s, 0x18, 1, 0), "per s");
    EXPECT_EQ(Unit(s, 0x28, 1, 0), "per hour");
    EXPECT_EQ(Unit(s, 0x30, 1, 0), "per day");
    EXPECT_EQ(Unit(s, 0x08, 1, 0), std::string("per \xB5S"));  // the micro sign, ISO 8859-1
    EXPECT_EQ(Unit(s, 0x08, 1, 0), std::string({'p', 'e', 'r', ' ', '\xB5', 'S'}));

    // Cut to the buffer, always terminated.
    EXPECT_EQ(Unit(s, 0x20, 18, 0, 6), "per m");
    EXPECT_EQ(Unit(s, 0x08, 1, 0, 6), std::string("per \xB5"));
    EXPECT_EQ(Unit(s, 0x00, 1, 0, 4), "deg");
    EXPECT_EQ(Unit(s, 0x02, 18, 23, 5), "RPM/");
    EXPECT_EQ(Unit(s, 0x01, 18, 0, 1), "");

    // Relation 3 is reserved: the buffer is left as it was.
    EXPECT_EQ(Unit(s, 0x06, 1, 2), std::string(64, '#'));
    // Without a record there is no unit.
    s.sdr = nullptr;
    char text[8] = "xyz";
    EXPECT_EQ(s.GetSensorUnit(text, sizeof text), 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(s.GetSensorUnit(nullptr, 8), -1);
}

TEST_F(Texts, StateIsTheLowestSetBit) {
    Sensor s;
    EXPECT_EQ(State(s, 0x0A, 0x0C), "Power Off");
    EXPECT_EQ(State(s, 0x0A, 0x01), "Running");
    EXPECT_EQ(State(s, 0x0A, 0x80), "Power save");
    EXPECT_EQ(State(s, 0x0A, 0x00), "");
    EXPECT_EQ(State(s, 0x09, 0x02), "Device Enabled");
    EXPECT_EQ(State(s, 0x02, 0x04), "busy");
    EXPECT_EQ(State(s, 0x07, 0x40), "Non-recoverable");
    EXPECT_EQ(State(s, 0x6F, 0x10), "Sensor-specific");
    EXPECT_EQ(State(s, 0x6F, 0x80), "Sensor-specific");
    EXPECT_EQ(State(s, 0x0B, 0x01), "");
    EXPECT_EQ(State(s, 0x00, 0x20), "Unspecified");
    EXPECT_EQ(State(s, 0x7F, 0x01), "OEM");
    EXPECT_EQ(State(s, 0xFE, 0x01), "OEM");
    EXPECT_EQ(State(s, 0x40, 0x01), "");

    char text[64] = "untouched";
    EXPECT_EQ(s.GetDeviceStatus(0x0A, 0xFF, text), -1);
    EXPECT_EQ(s.GetDeviceStatus(0x6F, 0xFF, text), -1);
    EXPECT_STREQ(text, "untouched");
}

TEST(TextTables, EveryCodeHasItsText) {
    EXPECT_STREQ(SensorsUnit[0], "unspecified");
    EXPECT_STREQ(SensorsUnit[18], "RPM");
    EXPECT_STREQ(SensorsUnit[55], "siements");
    EXPECT_STREQ(SensorsUnit[67], "kliobit");
    EXPECT_STREQ(SensorsUnit[90], "uncorrectable error");
    EXPECT_STREQ(SensorsEntityID[5], "periphereral bay");
    EXPECT_STREQ(SensorsEntityID[29], "fan/cooling device");
    EXPECT_STREQ(SensorsEntityID[40], "battery");
    EXPECT_STREQ(SensorsType[17], "Watchdog1");
    EXPECT_STREQ(SensorsType[35], "Watchdog2");
    EXPECT_STREQ(SensorsType[41], "Battery");
    for (const char* text : SensorsUnit) EXPECT_NE(text, nullptr);
    for (const char* text : SensorsEntityID) EXPECT_NE(text, nullptr);
    for (const char* text : SensorsType) EXPECT_NE(text, nullptr);
    EXPECT_STREQ(EventDesc[0][7], "Uper Non-recover - going gigh");
    EXPECT_STREQ(EventDesc[6][8], "Informational");
    EXPECT_STREQ(EventDesc[9][8], "Install Error");
    EXPECT_STREQ(EventDesc[10][0], "");
    EXPECT_STREQ(EventDesc[11][15], "");
}

}  // namespace
