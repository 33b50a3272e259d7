// Get Sensor Reading answers that say the reading is not one: scanning disabled (byte 1 bit 6
// clear) or reading unavailable (bit 5 set). Every getter of the answer treats the sensor as
// unreadable; an answer too short to hold byte 1 is taken at its word.
#include <memory>
#include <string>

#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

class ReadingFlags : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        // A 12 V rail that also reports a digital state (event/reading type 03h).
        sim::FullSensor rail = Voltage(0x10, "12V Good");
        rail.event_type = 0x03, rail.m = 6, rail.k2 = -2;
        AddSensor(rail, 200, 0x0002);
        AddSensor(Fan(0x30, "FAN4"), 0x33);
        // Built once the BMC is in place: a reader joins the device it finds when made.
        owned = std::make_unique<Sensor>();
        ASSERT_EQ(Discover(reader()), 0);
    }

    void Flags(std::uint8_t flags, std::size_t bytes = 4) {
        for (std::uint8_t n : {0x10, 0x30}) {
            bmc->sensors[n].reading_flags = flags;
            bmc->sensors[n].reading_bytes = bytes;
        }
    }

    // Everything the reader says of both sensors, as it says it in one poll.
    std::string Seen() {
        char text[64] = {};
        std::string out;
        reader().GetVoltageCurrent(0, text);
        out += std::string(text) + "|";
        reader().GetVoltageStatusDescription(0, text);
        out += std::string(text) + "|";
        reader().GetFanSpeed(0, text);
        out += std::string(text) + "|";
        char status = 0;
        reader().GetFanStatus(0, status);
        out += std::to_string(status) + "|";
        unsigned char raw = 0;
        out += std::to_string(reader().ReadSensor(0x30, raw));
        return out;
    }

    Sensor& reader() { return *owned; }
    std::unique_ptr<Sensor> owned;
};

TEST_F(ReadingFlags, ScanningDisabledOrUnavailableReadsAsUnknownWithoutState) {
    const std::string readable = Seen();
    // The rail's state bit 1 is described, the fan spins at 51 RPM, the reads succeed.
    ASSERT_EQ(readable.rfind("12.00", 0), 0u) << readable;
    ASSERT_EQ(readable.find("||"), std::string::npos) << readable;
    ASSERT_NE(readable.find("|51RPM|1|0"), std::string::npos) << readable;
    const std::string unreadable = "Unknown||Unknown|2|-1";
    const struct {
        std::uint8_t flags;
        bool readable;
    } cases[] = {
        {0xC0, true},  {0x40, true},    // scanned, events on or off
        {0x80, false}, {0x00, false},   // not scanned (the answer "29 80" of a real BMC)
        {0xE0, false}, {0x60, false},   // scanned, reading unavailable ("33 E0")
        {0xA0, false}, {0x20, false},   // neither
    };
    for (const auto& c : cases) {
        Flags(c.flags);
        bmc->clear_log();
        EXPECT_EQ(Seen(), c.readable ? readable : unreadable) << std::hex << int(c.flags);
        // Reading and state cost one request each sensor, the fan's status and raw read one more each.
        EXPECT_EQ(bmc->count(kSensorNetFn, kGetSensorReading), 4u) << std::hex << int(c.flags);
    }
}

TEST_F(ReadingFlags, AnAnswerWithoutTheFlagsByteKeepsItsReading) {
    const std::string readable = Seen();
    // Only the reading: it is shown, the state is not there to describe.
    Flags(0x80, 1);
    std::string seen = Seen();
    EXPECT_EQ(seen.substr(0, seen.find('|')), readable.substr(0, readable.find('|')));
    EXPECT_NE(seen.find("||51RPM|1|0"), std::string::npos) << seen;
    // The flags byte without the state bits: judged by its flags.
    Flags(0x80, 2);
    EXPECT_EQ(Seen(), "Unknown||Unknown|2|-1");
    Flags(0xC0, 2);
    seen = Seen();
    EXPECT_NE(seen.find("||51RPM|1|0"), std::string::npos) << seen;
}

TEST_F(ReadingFlags, AProcessorWhosePresenceIsNotScannedIsUnread) {
    AddSensor(Processor(0x40, 1), 0, 0x0080);
    bmc->sensors[0x40].reading_flags = 0x80;
    Sensor fresh;
    ASSERT_EQ(Discover(fresh), 0);
    ASSERT_EQ(fresh.PSInfo.quantity, 1);
    EXPECT_EQ(fresh.PSInfo.sd[0].SensorCodeOffset, 0xFF);  // not the state bits it sent
    bmc->sensors[0x40].reading_flags = 0xC0;
    Sensor scanned;
    ASSERT_EQ(Discover(scanned), 0);
    EXPECT_EQ(scanned.PSInfo.sd[0].SensorCodeOffset, 0x80);
}

}  // namespace
