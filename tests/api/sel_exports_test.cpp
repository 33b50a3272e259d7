// The System Event Log exports: pages and their cursor, what a poll costs in requests, a
// clear between polls, ClearSel, and the family's busy flag.
#include <array>
#include <vector>

#include "api/exports.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

constexpr std::uint8_t kGetSelEntryCmd = 0x43, kClearSelCmd = 0x47;

class SelExports : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        bmc->sel.present = true;
        AddSensor(Temperature(0x30, "CPU Temp"), 40);
    }
    // `n` events of the temperature sensor: upper critical going high, reading and threshold given.
    void Add(int n) {
        for (int i = 0; i < n; ++i)
            bmc->add_sel({0, 0, 0x02, 0, 0, 0, 0, 0x20, 0, 0x04, 0x01, 0x30, 0x01, 0x59,
                          static_cast<std::uint8_t>(90 + i % 10), 90});
    }
    // Every page from `cursor` until the end, with the requests of each call.
    std::vector<SelPage> ReadAll(SelCursor cursor = {}) {
        std::vector<SelPage> pages;
        for (int i = 0; i < 100; ++i) {
            SelPage page{};
            page.Cursor = cursor;
            EXPECT_EQ(GetSelEntries(&page), 0);
            pages.push_back(page);
            cursor = page.Cursor;
            if (cursor.Position != SEL_CURSOR_MORE) break;
        }
        return pages;
    }
    static std::vector<unsigned> Ids(const std::vector<SelPage>& pages) {
        std::vector<unsigned> ids;
        for (const SelPage& p : pages)
            for (unsigned i = 0; i < p.Count; ++i) ids.push_back(p.Entry[i].RecordId);
        return ids;
    }
    // Requests of the log's commands (storage network function, 40h-49h).
    std::size_t SelRequests() const {
        std::size_t n = 0;
        for (const auto& r : bmc->log()) n += r.netfn == kStorageNetFn && r.cmd >= 0x40 && r.cmd <= 0x49;
        return n;
    }
};

TEST_F(SelExports, PagesCarryTheWholeLogAndAPollWithoutChangeAsksOnce) {
    Add(40);
    bmc->clear_log();
    const std::vector<SelPage> pages = ReadAll();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].Count, 16u);
    EXPECT_EQ(pages[0].Cursor.Position, static_cast<unsigned>(SEL_CURSOR_MORE));
    EXPECT_EQ(pages[2].Count, 8u);
    EXPECT_EQ(pages[2].Cursor.Position, static_cast<unsigned>(SEL_CURSOR_END));
    std::vector<unsigned> expected;
    for (unsigned id = 1; id <= 40; ++id) expected.push_back(id);
    EXPECT_EQ(Ids(pages), expected);
    // The whole log in one walk: the pages after the first ask nothing.
    EXPECT_LE(SelRequests(), 40u + 3);
    EXPECT_EQ(pages[0].Requests, SelRequests());
    EXPECT_EQ(pages[1].Requests + pages[2].Requests, 0u);
    for (const SelPage& p : pages) {
        EXPECT_EQ(p.Entries, 40u);
        EXPECT_EQ(p.Overflow, 0u);
    }

    // Decoded, the sensor named from the repository and the trigger values converted.
    const SelEntry& e = pages[0].Entry[3];
    EXPECT_EQ(e.Decoded, 1);
    EXPECT_STREQ(e.SensorName, "CPU Temp");
    EXPECT_STREQ(e.EventText, "Upper Critical going high");
    EXPECT_EQ(e.Trigger, SEL_TRIGGER_READING | SEL_TRIGGER_THRESHOLD);
    EXPECT_DOUBLE_EQ(e.TriggerReading, 93.0);
    EXPECT_DOUBLE_EQ(e.TriggerThreshold, 90.0);
    EXPECT_EQ(e.TimeKind, SEL_TIME_DATE);

    bmc->clear_log();
    const std::vector<SelPage> again = ReadAll(pages.back().Cursor);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Count, 0u);
    EXPECT_EQ(bmc->log().size(), 1u);  // Get SEL Info, and nothing else at all
    EXPECT_EQ(again[0].Requests, 1u);
    EXPECT_EQ(again[0].Cursor.Position, static_cast<unsigned>(SEL_CURSOR_END));

    machine->clock.now_us += 3000000;
    Add(4);
    bmc->clear_log();
    const std::vector<SelPage> more = ReadAll(again[0].Cursor);
    EXPECT_EQ(Ids(more), (std::vector<unsigned>{41, 42, 43, 44}));
    EXPECT_LE(SelRequests(), 4u + 3);
    EXPECT_EQ(more.back().Cleared, 0u);
    EXPECT_EQ(bmc->count(kStorageNetFn, kClearSelCmd), 0u);
}

// QEMU's BMC numbers its log from 0000h, the ID Get SEL Entry reserves for "the first entry".
// Its entry 0000h is handed out once; a cursor says "none yet" with FFFFh, not 0000h.
TEST_F(SelExports, ALogNumberedFromZeroIsHandedOutOnceAndPolledOn) {
    bmc->sel.next_id = 0;
    const SelCursor empty = ReadAll().back().Cursor;
    EXPECT_EQ(empty.Position, static_cast<unsigned>(SEL_CURSOR_END));
    EXPECT_EQ(empty.RecordId, static_cast<unsigned>(SEL_CURSOR_NO_RECORD));
    machine->clock.now_us += 2000000;
    Add(1);
    const std::vector<SelPage> first = ReadAll(empty);
    EXPECT_EQ(Ids(first), (std::vector<unsigned>{0}));
    EXPECT_EQ(first.back().Cursor.RecordId, 0u);
    machine->clock.now_us += 2000000;
    Add(2);
    bmc->clear_log();
    const std::vector<SelPage> more = ReadAll(first.back().Cursor);
    EXPECT_EQ(Ids(more), (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(more.back().Cleared, 0u);
    EXPECT_LE(SelRequests(), 2u + 3);
}

TEST_F(SelExports, AClearBetweenPollsIsReportedAndReadingStartsAgain) {
    Add(5);
    const SelCursor cursor = ReadAll().back().Cursor;
    machine->clock.now_us += 2000000;
    ASSERT_EQ(ClearSel(), 0);
    EXPECT_TRUE(bmc->sel.entries.empty());
    machine->clock.now_us += 2000000;
    Add(2);
    const std::vector<SelPage> pages = ReadAll(cursor);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].Cleared, 1u);
    EXPECT_EQ(Ids(pages), (std::vector<unsigned>{6, 7}));
    EXPECT_EQ(pages[0].BmcTimeGiven, 1u);
    EXPECT_EQ(pages[0].BmcTime, bmc->sel_time());
}

TEST_F(SelExports, InfoOverflowAndAFamilyOfItsOwn) {
    bmc->sel.capacity = 3;
    Add(5);
    SelInformation info{};
    ASSERT_EQ(GetSelInfo(&info), 0);
    EXPECT_EQ(info.Version, 0x51u);
    EXPECT_EQ(info.Entries, 3u);
    EXPECT_EQ(info.FreeBytes, 0u);
    EXPECT_EQ(info.Overflow, 1u);
    EXPECT_EQ(info.LastAddition, bmc->sel.added);
    EXPECT_EQ(info.LastErase, 0xFFFFFFFFu);
    EXPECT_EQ(info.BmcTimeGiven, 1u);
    SelPage page{};
    ASSERT_EQ(GetSelEntries(&page), 0);
    EXPECT_EQ(page.Overflow, 1u);
    EXPECT_EQ(page.Count, 3u);

    // A call of the family answers 1 while another runs; the sensor family is not held up.
    qarvel::State().busy.NoEnterSel.store(1);
    EXPECT_EQ(GetSelInfo(&info), 1);
    EXPECT_EQ(GetSelEntries(&page), 1);
    EXPECT_EQ(ClearSel(), 1);
    EXPECT_EQ(bmc->sel.entries.size(), 3u);
    TemperatureInformation t{};
    EXPECT_EQ(GetIpmiInfo(INFO_TEMPERATURE, &t), 0);
    qarvel::State().busy.NoEnterSel.store(0);
    EXPECT_EQ(GetSelInfo(nullptr), -1);
    EXPECT_EQ(GetSelEntries(nullptr), -1);
}

TEST_F(SelExports, ABmcWithoutALogOrWithoutAReservationForTheClear) {
    Add(2);
    bmc->sel.reserve_refused = 0xD4;
    EXPECT_EQ(ClearSel(), -1);
    EXPECT_EQ(bmc->sel.entries.size(), 2u);
    // Reading goes on without the reservation.
    EXPECT_EQ(Ids(ReadAll()), (std::vector<unsigned>{1, 2}));

    bmc->sel.present = false;
    SelInformation info{};
    SelPage page{};
    EXPECT_EQ(GetSelInfo(&info), -1);
    EXPECT_EQ(GetSelEntries(&page), -1);
    EXPECT_EQ(page.Count, 0u);
    EXPECT_EQ(ClearSel(), -1);
}

}  // namespace
