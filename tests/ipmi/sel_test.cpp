// The System Event Log: the record decoder and its tables, the walk along the chain with the
// quirks of real BMCs, the cost of a poll in requests, and clearing.
#include <algorithm>
#include <array>
#include <cmath>

#include "IPMI/sel.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Record = std::array<std::uint8_t, 16>;

constexpr std::uint8_t kSelInfo = 0x40, kReserve = 0x42, kGetEntry = 0x43, kClear = 0x47;

// A system event record from the BMC (20h, LUN 0): sensor type and number, event/reading type
// with the direction bit, and the three event data bytes.
Record Event(std::uint8_t sensorType, std::uint8_t number, std::uint8_t typeAndDirection, std::uint8_t data1,
             std::uint8_t data2 = 0xFF, std::uint8_t data3 = 0xFF) {
    return {0, 0, 0x02, 0, 0, 0, 0, 0x20, 0x00, 0x04, sensorType, number, typeAndDirection, data1, data2, data3};
}

SelEntry Decode(const Record& r, const std::vector<SelSensor>& index = {}) {
    SelEntry e;
    DecodeSelRecord(r.data(), 16, 0x0102, index, e);
    return e;
}

std::string Text(const SelEntry& e) { return e.EventText; }

TEST(SelDecode, EventTextsComeFromTheThresholdGenericAndSensorSpecificTables) {
    struct Case {
        std::uint8_t sensorType, eventType, offset;
        const char* text;
    };
    const Case cases[] = {
        {0x01, 0x01, 0x00, "Lower Non-critical going low"},
        {0x01, 0x01, 0x09, "Upper Critical going high"},
        {0x02, 0x01, 0x0B, "Upper Non-recoverable going high"},
        {0x08, 0x0B, 0x01, "Redundancy Lost"},
        {0x15, 0x08, 0x01, "Device Inserted / Device Present"},
        {0x01, 0x07, 0x08, "Informational"},
        {0x0C, 0x6F, 0x00, "Correctable ECC"},
        {0x0C, 0x6F, 0x01, "Uncorrectable ECC"},
        {0x05, 0x6F, 0x00, "General Chassis Intrusion"},
        {0x08, 0x6F, 0x01, "Power Supply Failure detected"},
        {0x23, 0x6F, 0x01, "Hard Reset"},
        {0x10, 0x6F, 0x02, "Log Area Reset/Cleared"},
        {0x2C, 0x6F, 0x07, "FRU Communication Lost"},
    };
    for (const Case& c : cases) {
        const SelEntry e = Decode(Event(c.sensorType, 0x40, c.eventType, c.offset));
        EXPECT_EQ(e.Decoded, 1);
        EXPECT_EQ(Text(e), c.text) << std::hex << int(c.sensorType) << " " << int(c.eventType) << " " << int(c.offset);
    }
    // Offsets past a table's end, sensor types without one, and OEM event types stay numbers.
    EXPECT_EQ(Text(Decode(Event(0x01, 0x40, 0x01, 0x0C))), "event type 01h, offset 12");
    EXPECT_EQ(Text(Decode(Event(0x0C, 0x40, 0x6F, 0x0F))), "event type 6Fh, offset 15");
    EXPECT_EQ(Text(Decode(Event(0xC3, 0x40, 0x71, 0x02))), "OEM event type 71h, offset 2");
    EXPECT_EQ(SelSensorTypeName(0x0C), std::string("Memory"));
    EXPECT_EQ(SelSensorTypeName(0x2B), std::string("Version Change"));
    EXPECT_EQ(SelSensorTypeName(0x00), nullptr);
    EXPECT_EQ(SelSensorTypeName(0x2D), nullptr);
}

TEST(SelDecode, SystemEventFieldsAndTheRepositoryJoin) {
    // A voltage sensor of the BMC with M = 2, B = 10, K2 = -2: raw x reads (2x + 10) / 100.
    sim::FullSensor v = Voltage(0x31, "P12V");
    v.m = 2;
    v.b = 10;
    v.k2 = -2;
    const auto bytes = v.record().bytes(7);
    std::vector<SelSensor> index;
    NoteSelSensor(index, bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_EQ(index.size(), 1u);

    // Upper critical going high, deasserted, trigger reading C8h and threshold BEh.
    Record r = Event(0x02, 0x31, 0x81, 0x59, 0xC8, 0xBE);
    r[3] = 0x00, r[4] = 0x00, r[5] = 0x00, r[6] = 0x60;  // 60000000h
    r[8] = 0x21;                                           // channel 2, LUN 1
    SelEntry e = Decode(r, index);
    EXPECT_EQ(e.RecordId, 0x0102u);  // the ID asked for, not the record's own bytes
    EXPECT_EQ(e.Timestamp, 0x60000000u);
    EXPECT_EQ(e.TimeKind, SEL_TIME_DATE);
    EXPECT_EQ(e.GeneratorId, 0x20);
    EXPECT_EQ(e.GeneratorChannel, 2);
    EXPECT_EQ(e.GeneratorLun, 1);
    // The repository's sensor is on LUN 0: the event of LUN 1 is another sensor.
    EXPECT_EQ(e.SensorKnown, 0);
    EXPECT_EQ(e.Trigger, 0);

    r[8] = 0x20;  // LUN 0
    e = Decode(r, index);
    EXPECT_EQ(e.SensorKnown, 1);
    EXPECT_STREQ(e.SensorName, "P12V");
    EXPECT_STREQ(e.SensorTypeName, "Voltage");
    EXPECT_EQ(e.EventType, 0x01);
    EXPECT_EQ(e.Deasserted, 1);
    EXPECT_EQ(e.Offset, 9);
    EXPECT_EQ(Text(e), "Upper Critical going high");
    EXPECT_EQ(e.Trigger, SEL_TRIGGER_READING | SEL_TRIGGER_THRESHOLD);
    EXPECT_NEAR(e.TriggerReading, (2 * 0xC8 + 10) / 100.0, 1e-9);
    EXPECT_NEAR(e.TriggerThreshold, (2 * 0xBE + 10) / 100.0, 1e-9);

    // Event data 1 that says bytes 2 and 3 are unspecified leaves them unconverted.
    r[13] = 0x09;
    EXPECT_EQ(Decode(r, index).Trigger, 0);
    // Another generator's sensor of the same number is not this one.
    r[7] = 0x22;
    EXPECT_EQ(Decode(r, index).SensorKnown, 0);
}

TEST(SelDecode, TimestampsOemRecordsAndWhatCannotBeDecoded) {
    Record r = Event(0x01, 1, 0x01, 0x00);
    r[3] = 0x10, r[4] = 0x27, r[5] = 0, r[6] = 0;  // 10000 s after the BMC started
    EXPECT_EQ(Decode(r).TimeKind, SEL_TIME_SINCE_START);
    EXPECT_EQ(Decode(r).Timestamp, 10000u);
    r[3] = r[4] = r[5] = 0xFF, r[6] = 0x1F;  // the last count below 20000000h
    EXPECT_EQ(Decode(r).TimeKind, SEL_TIME_SINCE_START);
    r[6] = 0x20, r[3] = r[4] = r[5] = 0;
    EXPECT_EQ(Decode(r).TimeKind, SEL_TIME_DATE);
    r[3] = r[4] = r[5] = r[6] = 0xFF;
    EXPECT_EQ(Decode(r).TimeKind, SEL_TIME_NONE);

    const Record oem = {0x05, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x60, 0x57, 0x01, 0x00, 1, 2, 3, 4, 5, 6};
    SelEntry e = Decode(oem);
    EXPECT_EQ(e.Decoded, 0);
    EXPECT_EQ(e.RecordType, 0xC1);
    EXPECT_EQ(e.ManufacturerId, 0x000157u);
    EXPECT_EQ(e.TimeKind, SEL_TIME_DATE);
    EXPECT_TRUE(std::equal(oem.begin(), oem.end(), e.Raw));

    Record plain = oem;
    plain[2] = 0xE0;
    e = Decode(plain);
    EXPECT_EQ(e.TimeKind, SEL_TIME_NONE);
    EXPECT_EQ(e.ManufacturerId, 0u);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), e.Raw));

    // An unknown record type and a record cut short are given raw.
    plain[2] = 0x10;
    EXPECT_EQ(Decode(plain).Decoded, 0);
    EXPECT_EQ(Text(Decode(plain)), "unknown record type");
    SelEntry cut;
    DecodeSelRecord(r.data(), 9, 3, {}, cut);
    EXPECT_EQ(cut.Decoded, 0);
    EXPECT_EQ(cut.RecordId, 3u);
    EXPECT_TRUE(std::all_of(cut.Raw + 9, cut.Raw + 16, [](unsigned char b) { return b == 0; }));
}

TEST(SelDecode, RepositoryRecordsOfEveryKindNameTheirSensors) {
    sim::CompactSensor c;
    c.number = 0x50;
    c.type = 0x0C;
    c.name = "DIMM A1";
    const auto compact = c.record().bytes(2);
    std::vector<SelSensor> index;
    NoteSelSensor(index, compact.data(), static_cast<int>(compact.size()));
    // Cut inside its name, a record keeps the part it has and nothing after it.
    NoteSelSensor(index, compact.data(), static_cast<int>(compact.size()) - 3);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_STREQ(index[0].name, "DIMM");
    EXPECT_EQ(index[0].type, 0x0C);
    EXPECT_FALSE(index[0].hasFactors);
    // Records that name no sensor, and scraps, add nothing.
    const auto fru = sim::fru_locator(0, 7, 1, "Baseboard FRU").bytes(3);
    NoteSelSensor(index, fru.data(), static_cast<int>(fru.size()));
    NoteSelSensor(index, compact.data(), 6);
    EXPECT_EQ(index.size(), 1u);
    EXPECT_NE(FindSelSensor(index, 0x20, 0, 0x50), nullptr);
    EXPECT_EQ(FindSelSensor(index, 0x20, 1, 0x50), nullptr);
}

class SelWalk : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        bmc->sel.present = true;
        // Any object of the IPMI family opens the device the transport sends through.
        family = std::make_unique<Sensor>();
        ASSERT_EQ(family->IsInitOK(), 1);
    }
    void TearDown() override {
        family.reset();
        BmcTest::TearDown();
    }
    std::unique_ptr<Sensor> family;
    // `n` correctable-ECC events added as Add SEL Entry would.
    void Add(int n) {
        for (int i = 0; i < n; ++i) bmc->add_sel(Event(0x0C, 0x50, 0x6F, 0x00));
    }
    // One poll from `from`, with the requests it sent.
    SelPoll Poll(const SelFrom& from = {}) {
        bmc->clear_log();
        SelPoll poll;
        requests = 0;
        EXPECT_TRUE(PollSel(SelThroughTransport(requests), from, poll));
        EXPECT_EQ(requests, bmc->log().size());
        return poll;
    }
    // The cursor a caller would keep after `poll`.
    static SelFrom After(const SelPoll& poll, SelFrom from = {}) {
        from.known = true;
        if (!poll.records.empty()) from.holdsRecord = true, from.lastId = poll.records.back().id;
        from.added = poll.info.added;
        from.erased = poll.info.erased;
        return from;
    }
    static std::vector<unsigned> Ids(const SelPoll& poll) {
        std::vector<unsigned> ids;
        for (const auto& r : poll.records) ids.push_back(r.id);
        return ids;
    }
    static std::vector<unsigned> Range(unsigned first, unsigned last) {
        std::vector<unsigned> ids;
        for (unsigned id = first; id <= last; ++id) ids.push_back(id);
        return ids;
    }
    // The sim's clock moves on, so that an addition gets a new timestamp.
    void Later() { machine->clock.now_us += 5000000; }
    unsigned int requests = 0;
};

TEST_F(SelWalk, PollsCostOneRequestWhenNothingChangedAndAboutOnePerNewEntry) {
    Add(40);
    SelPoll first = Poll();
    EXPECT_EQ(Ids(first), Range(1, 40));
    EXPECT_TRUE(first.reserved);
    EXPECT_TRUE(first.timeGiven);
    EXPECT_LE(requests, 40u + 3);
    EXPECT_EQ(first.info.entries, 40u);

    const SelFrom cursor = After(first);
    SelPoll again = Poll(cursor);
    EXPECT_TRUE(again.unchanged);
    EXPECT_TRUE(again.records.empty());
    EXPECT_EQ(requests, 1u);
    EXPECT_EQ(bmc->log()[0].cmd, kSelInfo);

    Later();
    Add(5);
    SelPoll more = Poll(cursor);
    EXPECT_FALSE(more.cleared);
    EXPECT_EQ(Ids(more), Range(41, 45));
    EXPECT_LE(requests, 5u + 3);
    // No poll ever clears the log.
    EXPECT_EQ(bmc->count(sim::netfn::kStorage, kClear), 0u);
    EXPECT_EQ(bmc->sel.entries.size(), 45u);
}

TEST_F(SelWalk, AReservationCancelledMidWalkRestartsFromTheLastGoodRecord) {
    Add(30);
    bmc->sel.cancel_after = 12;
    SelPoll poll = Poll();
    EXPECT_EQ(Ids(poll), Range(1, 30));  // each entry once
    EXPECT_EQ(poll.restarts, 1u);
    EXPECT_EQ(bmc->count(sim::netfn::kStorage, kReserve), 2u);
    EXPECT_LE(requests, 30u + 3 + 3);  // the cancelled ask, a reservation, the re-read
    // The re-read is of the last record read before the cancellation.
    std::vector<unsigned> asked;
    for (const auto& r : bmc->log())
        if (r.cmd == kGetEntry) asked.push_back(static_cast<unsigned>(r.data[2] | r.data[3] << 8));
    ASSERT_GE(asked.size(), 15u);
    EXPECT_EQ(asked[12], 13u);  // refused
    EXPECT_EQ(asked[13], 12u);  // the last good one again
    EXPECT_EQ(asked[14], 13u);
}

TEST_F(SelWalk, ReservationsCancelledOverAndOverEndTheWalkWithWhatWasRead) {
    Add(10);
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetEntry || (q.data[2] | q.data[3] << 8) < 4) return false;
        r.completion = sim::completion::kReservationInvalid;
        return true;
    };
    SelPoll poll = Poll();
    EXPECT_EQ(Ids(poll), Range(1, 3));
    EXPECT_EQ(poll.restarts, kSelMostRestarts);
    EXPECT_LE(requests, 3u + 3 + 3 * kSelMostRestarts + 1);
}

TEST_F(SelWalk, AChainThatNeverEndsStopsAfterTheCountedEntries) {
    Add(25);
    bmc->sel.endless_chain = true;
    SelPoll poll = Poll();
    EXPECT_EQ(Ids(poll), Range(1, 25));
    EXPECT_LE(requests, 25u + 3);
    // A chain that loops back on itself before that stops at the first ID seen again.
    bmc->tamper = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd == kGetEntry && r.data.size() >= 2 && (q.data[2] | q.data[3] << 8) == 5) r.data[0] = 2, r.data[1] = 0;
    };
    EXPECT_EQ(Ids(Poll()), Range(1, 5));
}

TEST_F(SelWalk, ARefusedReservationReadsOnWithoutOne) {
    Add(8);
    for (std::uint8_t code : {0xC1, 0xD4}) {
        bmc->sel.reserve_refused = code;
        SelPoll poll = Poll();
        EXPECT_FALSE(poll.reserved);
        EXPECT_EQ(Ids(poll), Range(1, 8)) << int(code);
        for (const auto& r : bmc->log()) {
            if (r.cmd == kGetEntry) {
                EXPECT_EQ(r.data[0] | r.data[1], 0);
            }
        }
    }
}

TEST_F(SelWalk, TheRecordIdAskedForIsKeptWhenTheBmcWritesAnother) {
    Add(3);
    bmc->tamper = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd == kGetEntry && r.data.size() >= 4 && q.data[2] == 2) r.data[2] = 0x77;
    };
    EXPECT_EQ(Ids(Poll()), Range(1, 3));
}

TEST_F(SelWalk, AClearBetweenPollsIsSeenAndReadingStartsAgain) {
    Add(6);
    const SelFrom cursor = After(Poll());
    Later();
    ASSERT_EQ(ClearSelLog(SelThroughTransport(requests)), 0);
    EXPECT_TRUE(bmc->sel.entries.empty());
    Later();
    Add(2);
    SelPoll poll = Poll(cursor);
    EXPECT_TRUE(poll.cleared);
    EXPECT_EQ(Ids(poll), Range(7, 8));

    // A cursor whose record is gone, the erase timestamp unchanged, is a clear too.
    SelFrom stale = After(poll);
    stale.lastId = 3;
    stale.added = 0;
    poll = Poll(stale);
    EXPECT_TRUE(poll.cleared);
    EXPECT_EQ(Ids(poll), Range(7, 8));
}

TEST_F(SelWalk, ACursorOnEntryZeroWhoseEntryIsGoneSeesAClear) {
    // A log numbered from 0000h (QEMU's BMC): asking for the cursor's entry by its number asks
    // for "the first entry", which is another one once entry 0000h is gone.
    bmc->sel.next_id = 0;
    Add(3);
    const SelFrom cursor = After(Poll());
    ASSERT_TRUE(cursor.holdsRecord);
    ASSERT_EQ(cursor.lastId, 2u);
    SelFrom onZero = cursor;
    onZero.lastId = 0;
    onZero.added = 0;
    EXPECT_EQ(Ids(Poll(onZero)), Range(1, 2));  // entry 0 still there: what follows it
    bmc->sel.entries.erase(bmc->sel.entries.begin());
    SelPoll poll = Poll(onZero);
    EXPECT_TRUE(poll.cleared);
    EXPECT_EQ(Ids(poll), Range(1, 2));
}

TEST_F(SelWalk, AFullLogDropsEventsAndSaysSoInEveryAnswer) {
    bmc->sel.capacity = 4;
    Add(6);
    SelPoll poll = Poll();
    EXPECT_TRUE(poll.info.overflow);
    EXPECT_EQ(poll.info.freeBytes, 0u);
    EXPECT_EQ(Ids(poll), Range(1, 4));
    EXPECT_TRUE(Poll(After(poll)).info.overflow);
    EXPECT_EQ(Poll(After(poll)).info.freeBytes, 0u);
}

TEST_F(SelWalk, ClearingNeedsAReservationAndWaitsForTheEraseWithinABound) {
    Add(3);
    bmc->sel.reserve_refused = 0xD4;
    EXPECT_EQ(ClearSelLog(SelThroughTransport(requests)), -1);
    EXPECT_EQ(bmc->sel.entries.size(), 3u);
    EXPECT_EQ(bmc->count(sim::netfn::kStorage, kClear), 0u);

    bmc->sel.reserve_refused = 0;
    bmc->sel.erase_polls = 3;
    bmc->clear_log();
    EXPECT_EQ(ClearSelLog(SelThroughTransport(requests)), 0);
    const auto log = bmc->log();
    ASSERT_EQ(log.size(), 5u);  // reserve, initiate, three asks that find it still going... and done
    EXPECT_EQ(log[1].data[1] << 8 | log[1].data[0], bmc->sel.reservation);
    EXPECT_EQ(std::vector<std::uint8_t>(log[1].data.begin() + 2, log[1].data.end()),
              (std::vector<std::uint8_t>{'C', 'L', 'R', 0xAA}));
    EXPECT_EQ(log[4].data[5], 0x00);

    Add(1);
    bmc->sel.erase_polls = 100;
    bmc->clear_log();
    EXPECT_EQ(ClearSelLog(SelThroughTransport(requests), 5), -1);
    EXPECT_EQ(bmc->count(sim::netfn::kStorage, kClear), 6u);
}

TEST_F(SelWalk, TheSimulatedBmcLogsThresholdCrossingsAndTheWatchdogsExpiry) {
    sim::FullSensor t = Temperature(0x30, "CPU Temp");
    t.uc = 90;
    t.unc = 80;
    AddSensor(t, 50);
    bmc->sensors[0x30].threshold_based = true;
    bmc->sensors[0x30].readable = 0x18;  // upper non-critical and critical
    bmc->sensors[0x30].thresholds = {0, 0, 0, 80, 90, 0};
    Poll();
    EXPECT_TRUE(bmc->sel.entries.empty());
    bmc->sensors[0x30].reading = 95;
    Poll();
    ASSERT_EQ(bmc->sel.entries.size(), 2u);
    const SelEntry unc = Decode(bmc->sel.entries[0]), uc = Decode(bmc->sel.entries[1]);
    EXPECT_EQ(Text(unc), "Upper Non-critical going high");
    EXPECT_EQ(Text(uc), "Upper Critical going high");
    EXPECT_EQ(uc.Deasserted, 0);
    EXPECT_EQ(uc.EventData[1], 95);
    EXPECT_EQ(uc.EventData[2], 90);
    bmc->sensors[0x30].reading = 85;  // back below critical only
    Poll();
    ASSERT_EQ(bmc->sel.entries.size(), 3u);
    EXPECT_EQ(Decode(bmc->sel.entries[2]).Deasserted, 1);
    EXPECT_EQ(Decode(bmc->sel.entries[2]).Offset, 9);

    bmc->watchdog.expiries.push_back({7000000, 1, 4});
    Poll();
    ASSERT_EQ(bmc->sel.entries.size(), 4u);
    const SelEntry dog = Decode(bmc->sel.entries[3]);
    EXPECT_EQ(Text(dog), "Hard Reset");
    EXPECT_EQ(dog.SensorType, 0x23);
    EXPECT_EQ(dog.Timestamp, bmc->sel.time_base + 7);
}

}  // namespace
