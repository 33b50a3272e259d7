// Sensor discovery: the repository walk, the per-kind tables, and the live readings and
// states the getters give.
#include <cstring>
#include <random>
#include <string>

#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Discovery = BmcTest;

TEST_F(Discovery, WalkStopsAfterTheLastRecordEvenWhenItIsNoSensor) {
    AddSensor(Temperature(1, "Temp"), 30);
    bmc->add_record(sim::CompactSensor{.number = 2, .type = 8, .name = "PSU"}.record());
    bmc->add_record(sim::oem_record(0x123456, {1, 2, 3}));
    Sensor reader;
    // Told of more records than there are: the last-record marker ends the walk.
    ASSERT_EQ(reader.GetSensorNumbers(10), 0);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), 3u);
    EXPECT_EQ(reader.SensorsInformation[0].SensorNumbers, 1);
    EXPECT_EQ(reader.SensorsInformation[1].SensorNumbers, 0);  // compact and OEM records are not kept
    EXPECT_EQ(reader.SensorsInformation[1].SensorType, 0);
    // The walk read whole records from offset 0 without a reservation.
    for (const auto& r : Requests(kStorageNetFn, kGetSdr)) {
        EXPECT_EQ(r.data[0], 0);
        EXPECT_EQ(r.data[1], 0);
        EXPECT_EQ(r.data[4], 0);
        EXPECT_EQ(r.data[5], 0xFF);
    }
    // The sensor's thresholds were read once; the compact sensor's not at all.
    EXPECT_EQ(bmc->count(kSensorNetFn, kGetSensorThresholds), 1u);
}

TEST_F(Discovery, EmptyCountAndEndlessChainsEnd) {
    AddSensor(Temperature(1, "Temp"), 30);
    Sensor reader;
    EXPECT_EQ(reader.GetSensorNumbers(0), -1);
    EXPECT_EQ(reader.GetSensorNumbers(-5), -1);
    EXPECT_TRUE(bmc->log().empty());

    // A BMC whose every record names itself as the next one: one read per counted record.
    const auto record = bmc->records().front();
    bmc->intercept = [&](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetSdr) return false;
        r.data = {1, 0};
        r.data.insert(r.data.end(), record.begin(), record.end());
        return true;
    };
    EXPECT_EQ(reader.GetSensorNumbers(5), 0);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), 5u);
    EXPECT_EQ(reader.SensorsInformation[4].SensorNumbers, 1);
    EXPECT_EQ(reader.GetTemSensorsInfo(5), 0);
    EXPECT_EQ(reader.TSInfo.quantity, 5);
}

TEST_F(Discovery, FailedRecordReadEndsTheWalkKeepingWhatWasStored) {
    for (int i = 1; i <= 4; ++i) AddSensor(Temperature(static_cast<std::uint8_t>(i), "T"), 30);
    Sensor reader;
    int served = 0;
    bmc->intercept = [&](const sim::BmcRequest& q, sim::BmcResponse& r) {
        // Busy from the third record on, through every try the transport gives it.
        if (q.cmd != kGetSdr || ++served < 3) return false;
        r.completion = 0xC0;
        return true;
    };
    EXPECT_EQ(reader.GetSensorNumbers(4), -1);
    EXPECT_EQ(reader.SensorsInformation[0].SensorNumbers, 1);
    EXPECT_EQ(reader.SensorsInformation[1].SensorNumbers, 2);
    EXPECT_EQ(reader.SensorsInformation[2].SensorNumbers, 0);
}

TEST_F(Discovery, ShortRecordsNeverShowTheBytesOfTheRecordBefore) {
    auto full = Temperature(1, "Long sensor nam");
    full.m = 5;
    full.nominal = 9;
    AddSensor(full, 30);
    // A record cut after its sensor number, and one that promises a 31-byte name it lacks.
    bmc->add_record_bytes({0x02, 0x00, 0x51, 0x01, 0x03, 0x20, 0x00, 0x09});
    auto liar = Temperature(3, "");
    auto bytes = liar.record().bytes(3);
    bytes[47] = 0xDF;
    bmc->add_record_bytes(bytes);
    bmc->sensors[9].reading = 30;
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    const SensorDescription& cut = reader.SensorsInformation[1];
    EXPECT_EQ(cut.SensorNumbers, 9);
    EXPECT_EQ(cut.SensorType, 0x00);  // not the temperature type of the record before
    EXPECT_EQ(cut.sfp.M, 0);
    EXPECT_STREQ(cut.IDString, "");
    ASSERT_EQ(reader.TSInfo.quantity, 2);
    EXPECT_STREQ(reader.TSInfo.sd[0].IDString, "Long sensor nam");
    EXPECT_EQ(reader.TSInfo.sd[1].SensorNumbers, 3);
    EXPECT_STREQ(reader.TSInfo.sd[1].IDString, "");
}

// Whatever the BMC answers, discovery and every getter stay inside their buffers (the
// x86-64 build checks this under AddressSanitizer).
TEST_F(Discovery, GarbageAnswersAreReadSafely) {
    std::mt19937 random(20250314);
    auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
    bmc->intercept = [&](const sim::BmcRequest& q, sim::BmcResponse& r) {
        std::size_t n = random() % 270;
        r.data.resize(n);
        for (auto& b : r.data) b = byte();
        if (q.cmd == kGetSdr && n > 5) {
            r.data[5] = 0x01;                           // mostly full sensor records,
            if (n > 6) r.data[6] = byte() & 0x3F;       // of every length
        }
        if (random() % 4 == 0) r.reported_length = static_cast<std::uint32_t>(random());
        if (random() % 20 == 0) r.completion = byte();
        return true;
    };
    int kept = 0;
    for (int round = 0; round < 300; ++round) {
        Sensor reader;
        if (reader.GetSensorNumbers(12) == 0) ++kept;
        reader.GetFanSensorsInfo(12);
        reader.GetVoltSensorsInfo(12);
        reader.GetTemSensorsInfo(12);
        reader.GetProcessorSensorInfo(12);
        for (int n = 0; n < 3; ++n) {
            char text[64];
            reader.GetFanSpeed(n, text);
            EXPECT_LT(strnlen(text, sizeof text), sizeof text);
            reader.GetVoltageCurrent(n, text);
            EXPECT_LT(strnlen(text, sizeof text), sizeof text);
            reader.GetTemperatureStatusDescription(n, text);
            EXPECT_LT(strnlen(text, sizeof text), sizeof text);
            EXPECT_LT(strnlen(reader.VSInfo.sd[n].IDString, 64), 64u);
            EXPECT_LT(strnlen(reader.VSInfo.sd[n].SensorReadingMax, 64), 64u);
            EXPECT_LT(strnlen(reader.FSInfo.sd[n].SensorUnit, 64), 64u);
        }
        EXPECT_LE(reader.TSInfo.quantity, 12);
        unsigned char major = 0, minor = 0;
        reader.GetDeviceID(&major, &minor);
    }
    EXPECT_GT(kept, 0);
}

TEST_F(Discovery, SeventyTemperaturesFillSixtyFourEntries) {
    for (int i = 1; i <= 70; ++i) AddSensor(Temperature(static_cast<std::uint8_t>(i), "T"), 30);
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(reader.TSInfo.quantity, 64);
    EXPECT_EQ(reader.TSInfo.sd[63].SensorNumbers, 64);
    EXPECT_EQ(reader.SensorsInformation[69].SensorNumbers, 70);
    // A second build adds nothing past the table.
    EXPECT_EQ(reader.GetTemSensorsInfo(70), 0);
    EXPECT_EQ(reader.TSInfo.quantity, 64);
    char text[64];
    EXPECT_EQ(reader.GetTemperatureCurrent(64, text), 0);
    EXPECT_STREQ(text, "Unknown");
    EXPECT_EQ(reader.GetTemperatureCurrent(-1, text), 0);
    EXPECT_STREQ(text, "Unknown");
    EXPECT_EQ(reader.GetTemperatureCurrent(0, nullptr), -1);
}

TEST_F(Discovery, SensorsWithoutNumericReadings) {
    auto temperature = Temperature(1, "Thermal Status");
    temperature.unit1 = 0xC0;
    temperature.event_type = 0x07;
    AddSensor(temperature, 0, 0x0001);
    auto voltage = Voltage(2, "VR Status");
    voltage.unit1 = 0xC0;
    voltage.event_type = 0x07;
    AddSensor(voltage, 0, 0x0002);
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(reader.SensorsInformation[0].SensorType, 1);
    EXPECT_EQ(reader.SensorsInformation[0].isAnalogReading, 1);
    EXPECT_EQ(reader.TSInfo.quantity, 0);
    ASSERT_EQ(reader.VSInfo.quantity, 1);
    const SensorDescription& v = reader.VSInfo.sd[0];
    EXPECT_EQ(v.isAnalogReading, 1);
    EXPECT_EQ(v.SensorReadingMaxD, 0.0);
    EXPECT_STREQ(v.SensorReadingMax, "");
    EXPECT_STREQ(v.SensorReadingMin, "");

    bmc->clear_log();
    char text[64];
    EXPECT_EQ(reader.GetVoltageCurrent(0, text), 0);
    EXPECT_STREQ(text, "Unknown");
    EXPECT_EQ(bmc->count(kSensorNetFn, kGetSensorReading), 0u);  // not even asked
    EXPECT_EQ(reader.GetVoltageStatusDescription(0, text), 0);
    EXPECT_STREQ(text, "transition to Non-Critical from OK");
}

TEST_F(Discovery, EmptyProcessorSocketHidesItsReadings) {
    auto vcore1 = Voltage(0x14, "CPU1 Vcore");
    vcore1.entity = 3;
    vcore1.instance = 1;
    vcore1.m = 8;
    vcore1.k2 = -3;
    auto vcore2 = vcore1;
    vcore2.number = 0x15;
    vcore2.instance = 0x62;  // device-relative, stored as 2
    AddSensor(vcore1, 225);
    AddSensor(vcore2, 225);
    AddSensor(Processor(0x40, 0x61), 0, 0x0000);  // socket 1: presence not detected
    AddSensor(Processor(0x41, 2), 0, 0x0080);     // socket 2: present
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    ASSERT_EQ(reader.PSInfo.quantity, 2);
    EXPECT_EQ(reader.PSInfo.sd[0].SensorEntityInstance, 1);
    EXPECT_EQ(reader.PSInfo.sd[0].SensorCodeOffset, 0x00);
    EXPECT_EQ(reader.PSInfo.sd[1].SensorCodeOffset, 0x80);
    EXPECT_EQ(reader.PSInfo.sd[1].isAnalogReading, 1);
    char text[64];
    EXPECT_EQ(reader.GetVoltageCurrent(0, text), 0);
    EXPECT_STREQ(text, "Unknown");
    EXPECT_EQ(reader.GetVoltageCurrent(1, text), 0);
    EXPECT_STREQ(text, "1.80V");  // 225 * 8 mV

    // A processor whose state could not be read at discovery counts as present.
    bmc->clear_log();
    bmc->fail_command(kSensorNetFn, kGetSensorReading, 0xCB);
    Sensor unread;
    ASSERT_EQ(Discover(unread), 0);
    EXPECT_EQ(unread.PSInfo.sd[0].SensorCodeOffset, 0xFF);
}

TEST_F(Discovery, FanSpeedsAsRpmOrAsAShareOfTheMaximum) {
    auto duty = Fan(1, "Duty");
    duty.base_unit = 0;  // unspecified
    duty.m = 100;
    duty.max = 60;  // 6000
    AddSensor(duty, 30);
    auto percent = Fan(2, "Percent");
    percent.unit1 = 0x01;
    percent.max = 200;
    AddSensor(percent, 45);
    auto nomax = duty;
    nomax.number = 3;
    nomax.max = 0;
    AddSensor(nomax, 30);
    auto rpm = Fan(4, "FAN4");  // (99 x + 435 * 10^3) * 10^-2 = 4350.99 at x = 1
    rpm.m = 99;
    rpm.b = 435;
    rpm.k1 = 3;
    rpm.k2 = -2;
    AddSensor(rpm, 1);
    auto stopped = Fan(5, "FAN5");
    stopped.m = 100;
    AddSensor(stopped, 0);
    auto floating = Fan(6, "FAN6");
    AddSensor(floating, 0xFF);

    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    ASSERT_EQ(reader.FSInfo.quantity, 6);
    EXPECT_EQ(reader.FSInfo.sd[0].SensorReadingMaxD, 6000.0);
    char text[64];
    const char* expected[] = {"50%", "22%", "Unknown", "4350RPM", "0RPM", "Unknown"};
    for (int n = 0; n < 6; ++n) {
        EXPECT_EQ(reader.GetFanSpeed(n, text), 0);
        EXPECT_STREQ(text, expected[n]) << "fan " << n;
    }
    char status = 0;
    EXPECT_EQ(reader.GetFanStatus(0, status), 0);
    EXPECT_EQ(status, Sensor::STATUS_NORMAL);
    EXPECT_EQ(reader.GetFanStatus(4, status), 0);
    EXPECT_EQ(status, Sensor::STATUS_ERROR);
    bmc->fail_command(kSensorNetFn, kGetSensorReading, 0xD5);
    EXPECT_EQ(reader.GetFanStatus(0, status), 0);
    EXPECT_EQ(status, Sensor::STATUS_ERROR);
    EXPECT_EQ(reader.GetFanSpeed(0, text), 0);
    EXPECT_STREQ(text, "Unknown");
}

TEST_F(Discovery, AvailabilitySensorsReadOnlyWhenRunningOrOnLine) {
    auto psu = Voltage(1, "PSU Out");
    psu.event_type = 0x0A;
    psu.m = 6;
    psu.k2 = -2;
    AddSensor(psu, 200, 0x0004);  // power off
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    char text[64];
    EXPECT_EQ(reader.GetVoltageCurrent(0, text), 0);
    EXPECT_STREQ(text, "Unknown");
    EXPECT_EQ(reader.GetVoltageStatusDescription(0, text), 0);
    EXPECT_STREQ(text, "Power Off");
    bmc->sensors[1].state = 0x0008;  // on line
    EXPECT_EQ(reader.GetVoltageCurrent(0, text), 0);
    EXPECT_STREQ(text, "12.00V");
    EXPECT_EQ(reader.GetVoltageStatusDescription(0, text), 0);
    EXPECT_STREQ(text, "On Line");
    bmc->fail_command(kSensorNetFn, kGetSensorReading, 0xCB);
    EXPECT_EQ(reader.GetVoltageStatusDescription(0, text), 0);  // unread state: no bit set
    EXPECT_STREQ(text, "");
}

TEST_F(Discovery, EntityIdentityAndTableGetters) {
    auto a = Voltage(0x21, "P1V8");
    a.entity = 0xFF;
    a.instance = 0x61;
    a.unit1 = 0x80;
    a.max = 0x7F;
    a.min = 0x80;
    a.m = 2;
    a.k2 = -2;
    AddSensor(a, 90);
    auto b = Voltage(0x22, "P3V3");
    b.entity = 7;
    b.instance = 0xFF;
    b.max = 0xFF;
    b.min = 10;
    b.m = 2;
    b.k2 = -2;
    AddSensor(b, 165);
    auto c = Voltage(0x23, "P5V");
    c.instance = 0x7F;
    c.max = 250;
    AddSensor(c, 5);
    AddSensor(Fan(0x30, "FAN1"), 54);  // a fan's range is shown whole
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    ASSERT_EQ(reader.VSInfo.quantity, 3);
    EXPECT_EQ(reader.VSInfo.sd[0].SensorEntityID, 0);
    EXPECT_EQ(reader.VSInfo.sd[0].SensorEntityInstance, 1);
    EXPECT_EQ(reader.VSInfo.sd[1].SensorEntityInstance, 0xFF);
    EXPECT_EQ(reader.VSInfo.sd[2].SensorEntityInstance, 0x1F);

    unsigned char value = 0;
    char text[64];
    EXPECT_EQ(reader.GetVoltageEntityID(1, value), 0);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(reader.GetVoltageSensorNumber(1, value), 0);
    EXPECT_EQ(value, 0x22);
    EXPECT_EQ(reader.GetVoltageSensorType(1, value), 0);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(reader.GetVoltageIDString(1, text), 0);
    EXPECT_STREQ(text, "P3V3");
    EXPECT_EQ(reader.GetVoltageMax(0, text), 0);
    EXPECT_STREQ(text, "7FV");  // two's complement "no maximum"
    EXPECT_EQ(reader.GetVoltageMin(0, text), 0);
    EXPECT_STREQ(text, "-2.56V");
    EXPECT_EQ(reader.GetVoltageMax(1, text), 0);
    EXPECT_STREQ(text, "FFV");  // unsigned "no maximum"
    EXPECT_EQ(reader.GetVoltageMin(1, text), 0);
    EXPECT_STREQ(text, "0.20V");
    EXPECT_EQ(reader.GetVoltageMax(2, text), 0);
    EXPECT_STREQ(text, "250.00V");
    EXPECT_STREQ(reader.FSInfo.sd[0].SensorReadingMax, "FFRPM");
    EXPECT_STREQ(reader.FSInfo.sd[0].SensorReadingMin, "0RPM");
    EXPECT_EQ(reader.GetVoltageCurrent(0, text), 0);
    EXPECT_STREQ(text, "1.80V");
    EXPECT_EQ(reader.GetFanEntityID(0, value), 0);
    EXPECT_EQ(value, 29);
    EXPECT_EQ(reader.GetTemperatureSensorNumber(0, value), 0);  // an empty entry reads zeros
    EXPECT_EQ(value, 0);

    // Outside the 64 entries of a table: refused, output untouched.
    value = 0x5A;
    EXPECT_EQ(reader.GetVoltageEntityID(64, value), -1);
    EXPECT_EQ(reader.GetFanSensorNumber(-1, value), -1);
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(reader.GetVoltageIDString(64, text), -1);
    EXPECT_EQ(reader.GetVoltageIDString(0, nullptr), -1);
    EXPECT_EQ(reader.GetVoltageStatusDescription(64, text), -1);
}

TEST_F(Discovery, SensorsOfOneEntityAndType) {
    auto t = Temperature(1, "A");
    t.entity = 3;
    AddSensor(t, 30);
    AddSensor(Voltage(2, "B"), 30);
    t.number = 3;
    AddSensor(t, 30);
    t.number = 4;
    t.entity = 7;
    AddSensor(t, 30);
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    SensorNumberInfo sni;
    std::memset(&sni, 0xAB, sizeof sni);
    EXPECT_EQ(reader.GetSensorNumberInfo(3, 1, 4, sni), 0);
    EXPECT_EQ(sni.quantity, 2);
    EXPECT_EQ(sni.sensorOrder[0], 0);
    EXPECT_EQ(sni.sensorOrder[1], 2);
    EXPECT_EQ(sni.sensorNumber[1], 3);
    EXPECT_EQ(sni.sensorOrder[2], 0);  // cleared
    EXPECT_EQ(reader.GetSensorNumberInfo(3, 1, 1000, sni), 0);  // bounded by the entries held
    EXPECT_EQ(sni.quantity, 2);
    EXPECT_EQ(reader.GetSensorNumberInfo(3, 1, 0, sni), 0);
    EXPECT_EQ(sni.quantity, 0);
}

TEST_F(Discovery, FirmwareRevision) {
    bmc->device.firmware1 = 0x81;  // update in progress, major 1
    bmc->device.firmware2 = 0x25;
    Sensor reader;
    unsigned char major = 0, minor = 0;
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 25);
    EXPECT_EQ(reader.GetDeviceID(nullptr, &minor), -1);

    major = minor = 0xEE;
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) { return r.data = {0x20, 0x01, 0x02}, true; };
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);  // the minor revision is missing
    bmc->intercept = nullptr;
    bmc->fail_command(kAppNetFn, kGetDeviceId, 0xC1);
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(major, 0xEE);
    EXPECT_EQ(minor, 0xEE);
}

}  // namespace
