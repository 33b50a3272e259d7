// A repository that changes while the library runs: a poll notices it through the addition
// and erase timestamps, asked at most once a minute, and discovers the sensors again once.
#include "api/exports.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

class StaleRepository : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        AddSensor(Temperature(1, "Inlet"), 30);
        AddSensor(Temperature(2, "Outlet"), 35);
    }

    // One temperature poll: its answer, how many sensors it listed, and the log it left.
    int Poll() {
        bmc->clear_log();
        TemperatureInformation record{};
        const int result = GetIpmiInfo(INFO_TEMPERATURE, &record);
        quantity = record.quantity;
        return result;
    }
    void Wait(std::uint64_t seconds) { machine->clock.sleep_us(seconds * 1000000u); }
    std::size_t Asked(std::uint8_t cmd) const { return bmc->count(kStorageNetFn, cmd); }

    int quantity = 0;
};

TEST_F(StaleRepository, AChangedRepositoryIsDiscoveredAgainOnce) {
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(quantity, 2);
    ASSERT_EQ(Poll(), 0);
    const std::size_t pollCost = bmc->log().size();

    // Changed, but not a minute has passed: the poll costs what it cost.
    AddSensor(Temperature(3, "Exhaust"), 40);
    bmc->sdr_added = 0x5F001234;
    Wait(59);
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(quantity, 2);
    EXPECT_EQ(bmc->log().size(), pollCost);

    // A minute after the discovery: asked, found changed, discovered again.
    Wait(1);
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(quantity, 3);
    EXPECT_EQ(Asked(kGetSdrRepositoryInfo), 2u);  // the check, then the discovery's own
    EXPECT_EQ(Asked(kGetSdr), 3u);

    // Once: the next polls read the new tables, and the next check finds nothing new.
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(quantity, 3);
    EXPECT_EQ(Asked(kGetSdrRepositoryInfo) + Asked(kGetSdr), 0u);
    Wait(60);
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(Asked(kGetSdrRepositoryInfo), 1u);
    EXPECT_EQ(Asked(kGetSdr), 0u);

    // An erase counts as a change too.
    bmc->sdr_erased = 0x5F002000;
    Wait(60);
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(Asked(kGetSdr), 3u);
}

TEST_F(StaleRepository, AnUnchangedRepositoryIsOnlyAskedAfterOnceAMinute) {
    ASSERT_EQ(Poll(), 0);
    ASSERT_EQ(Poll(), 0);
    const std::size_t pollCost = bmc->log().size();
    std::size_t checks = 0;
    // Ten minutes of polls every 20 seconds: one check a minute, never a walk.
    for (int i = 0; i < 30; ++i) {
        Wait(20);
        ASSERT_EQ(Poll(), 0);
        EXPECT_EQ(quantity, 2);
        EXPECT_EQ(Asked(kGetSdr), 0u);
        checks += Asked(kGetSdrRepositoryInfo);
        EXPECT_EQ(bmc->log().size(), pollCost + Asked(kGetSdrRepositoryInfo));
    }
    EXPECT_EQ(checks, 10u);

    // A BMC that will not say does not lose the tables.
    bmc->fail_command(kStorageNetFn, kGetSdrRepositoryInfo, 0xC1);
    Wait(60);
    ASSERT_EQ(Poll(), 0);
    EXPECT_EQ(quantity, 2);
    EXPECT_EQ(Asked(kGetSdr), 0u);
}

}  // namespace
