// The watchdog exports and GetBMCVersion: what each sends, and what each reports.
#include <climits>
#include <vector>

#include "api/exports.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using WatchdogExports = BmcTest;

constexpr std::uint8_t kResetWatchdog = 0x22, kSetWatchdog = 0x24, kGetWatchdog = 0x25;

std::vector<std::uint8_t> Commands(const sim::Bmc& bmc) {
    std::vector<std::uint8_t> out;
    for (const auto& r : bmc.log()) out.push_back(r.cmd);
    return out;
}

TEST_F(WatchdogExports, ArmingLoadsThenStarts) {
    ASSERT_EQ(SetWatchDogTimer(2, 60000), 0);
    EXPECT_EQ(Commands(*bmc), (std::vector<std::uint8_t>{kSetWatchdog, kResetWatchdog}));
    EXPECT_EQ(bmc->log()[0].data, (std::vector<std::uint8_t>{0x04, 0x02, 0x00, 0x00, 0x58, 0x02}));
    EXPECT_TRUE(bmc->watchdog.running);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI + qarvel::State().busy.NoEnterWatchDogTimer, 0);

    // A timeout out of range is refused before anything is sent, and no reset follows.
    bmc->clear_log();
    EXPECT_EQ(SetWatchDogTimer(1, 9999), -1);
    EXPECT_EQ(SetWatchDogTimer(1, 999001), -1);
    EXPECT_TRUE(bmc->log().empty());
    // A load the BMC refuses is not followed by a reset either.
    bmc->fail_command(kAppNetFn, kSetWatchdog, sim::completion::kUnspecified);
    EXPECT_EQ(SetWatchDogTimer(1, 60000), -1);
    EXPECT_EQ(Commands(*bmc), (std::vector<std::uint8_t>{kSetWatchdog}));
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI + qarvel::State().busy.NoEnterWatchDogTimer, 0);
}

// Only actions 0 to 3 exist (IPMI 2.0 27.6); the rest would reach the BMC as another action
// (only three bits travel). They, and timeouts outside 10 s to 999 s, are refused whole.
TEST_F(WatchdogExports, ReservedActionsAndTimeoutsOutOfRangeSendNothing) {
    struct Case {
        int action, timeout;
    };
    const Case refused[] = {{4, 60000},  {5, 60000},     {6, 60000},      {7, 60000},  {8, 60000}, {9, 60000},
                            {255, 60000}, {-1, 60000},   {256, 60000},    {INT_MIN, 60000},
                            {1, 9999},    {1, 999001},   {1, -60000},     {0, INT_MAX}};
    for (const Case& c : refused) {
        bmc->clear_log();
        EXPECT_EQ(SetWatchDogTimer(c.action, c.timeout), -1) << c.action << " " << c.timeout;
        EXPECT_TRUE(bmc->log().empty()) << c.action << " " << c.timeout;
        EXPECT_FALSE(bmc->watchdog.loaded);
    }
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI + qarvel::State().busy.NoEnterWatchDogTimer, 0);
    // The edges of what exists still go.
    for (const Case& c : {Case{0, 10000}, Case{3, 999000}}) {
        bmc->clear_log();
        EXPECT_EQ(SetWatchDogTimer(c.action, c.timeout), 0);
        EXPECT_EQ(Commands(*bmc), (std::vector<std::uint8_t>{kSetWatchdog, kResetWatchdog}));
        EXPECT_EQ(bmc->log()[0].data[1], c.action);
    }
}

TEST_F(WatchdogExports, StoppingLoadsNoActionAndDoesNotReset) {
    ASSERT_EQ(SetWatchDogTimer(1, 60000), 0);
    bmc->clear_log();
    ASSERT_EQ(StopWatchDogTimer(), 0);
    ASSERT_EQ(bmc->log().size(), 1u);
    EXPECT_EQ(bmc->log()[0].cmd, kSetWatchdog);
    EXPECT_EQ(bmc->log()[0].data, (std::vector<std::uint8_t>{0x04, 0x00, 0x00, 0x00, 0x08, 0x07}));
    EXPECT_FALSE(bmc->watchdog.running);
    // Long after, nothing has expired.
    machine->clock.sleep_us(3600ull * 1000000);
    unsigned char action = 9;
    int initial = 0, present = 0;
    ASSERT_EQ(GetWatchDogTimer(&action, &initial, &present), 0);
    EXPECT_EQ(action, 0);
    EXPECT_EQ(initial, 180000);
    EXPECT_EQ(present, 180000);
    EXPECT_TRUE(bmc->watchdog.expiries.empty());

    bmc->fail_command(kAppNetFn, kSetWatchdog, sim::completion::kUnspecified);
    EXPECT_EQ(StopWatchDogTimer(), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
}

TEST_F(WatchdogExports, ResetRestartsTheCountdown) {
    ASSERT_EQ(SetWatchDogTimer(3, 20000), 0);
    machine->clock.sleep_us(15000000);
    unsigned char action = 0;
    int initial = 0, present = 0;
    ASSERT_EQ(GetWatchDogTimer(&action, &initial, &present), 0);
    EXPECT_EQ(present, 5000);
    ASSERT_EQ(ResetWatchDogTimer(), 0);
    ASSERT_EQ(GetWatchDogTimer(&action, &initial, &present), 0);
    EXPECT_EQ(present, 20000);
    // Left alone, it runs out and the BMC would power cycle the machine.
    machine->clock.sleep_us(21000000);
    ASSERT_EQ(GetWatchDogTimer(&action, &initial, &present), 0);
    EXPECT_EQ(present, 0);
    ASSERT_EQ(bmc->watchdog.expiries.size(), 1u);
    EXPECT_EQ(bmc->watchdog.expiries[0].action, 3);

    bmc->fail_command(kAppNetFn, kResetWatchdog, sim::completion::kUnspecified);
    EXPECT_EQ(ResetWatchDogTimer(), -1);
    EXPECT_EQ(SetWatchDogTimer(1, 60000), -1);  // loaded, but the reset failed
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI + qarvel::State().busy.NoEnterWatchDogTimer, 0);
}

TEST_F(WatchdogExports, ReadingTheTimerAndTheVersion) {
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetWatchdog) return false;
        r.data = {0x44, 0x0A, 0x00, 0x00, 0x08, 0x07, 0x10, 0x00};
        return true;
    };
    unsigned char action = 0xEE;
    int initial = -1, present = -1;
    ASSERT_EQ(GetWatchDogTimer(&action, &initial, &present), 0);
    EXPECT_EQ(action, 2);  // 0Ah: the action bits only
    EXPECT_EQ(initial, 180000);
    EXPECT_EQ(present, 1600);

    // Null pointers: -1, nothing sent, flags free.
    bmc->clear_log();
    EXPECT_EQ(GetWatchDogTimer(nullptr, &initial, &present), -1);
    EXPECT_EQ(GetWatchDogTimer(&action, nullptr, &present), -1);
    EXPECT_EQ(GetWatchDogTimer(&action, &initial, nullptr), -1);
    unsigned char major = 0, minor = 0;
    EXPECT_EQ(GetBMCVersion(nullptr, &minor), -1);
    EXPECT_EQ(GetBMCVersion(&major, nullptr), -1);
    EXPECT_TRUE(bmc->log().empty());
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI + qarvel::State().busy.NoEnterWatchDogTimer, 0);

    bmc->device.firmware1 = 0x81;
    bmc->device.firmware2 = 0x25;
    ASSERT_EQ(GetBMCVersion(&major, &minor), 0);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 25);

    // A failed read leaves the caller's variables alone.
    bmc->intercept = nullptr;
    bmc->fail_command(kAppNetFn, kGetWatchdog, sim::completion::kUnspecified);
    action = 0xEE;
    initial = present = -1;
    EXPECT_EQ(GetWatchDogTimer(&action, &initial, &present), -1);
    EXPECT_EQ(action, 0xEE);
    EXPECT_EQ(initial, -1);
}

TEST_F(WatchdogExports, WithoutIpmiEveryOneFailsBeforeLookingAtItsFlag) {
    machine->remove_device("/dev/ipmi");
    qarvel::State().busy.NoEnterIPMI = 1;  // would make them busy if they looked
    unsigned char action = 0, major = 0, minor = 0;
    int initial = 0, present = 0;
    EXPECT_EQ(SetWatchDogTimer(1, 60000), -1);
    EXPECT_EQ(ResetWatchDogTimer(), -1);
    EXPECT_EQ(StopWatchDogTimer(), -1);
    EXPECT_EQ(GetWatchDogTimer(&action, &initial, &present), -1);
    EXPECT_EQ(GetBMCVersion(&major, &minor), -1);
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 1);  // not theirs to clear
    EXPECT_EQ(qarvel::State().busy.NoEnterWatchDogTimer, 0);
}

}  // namespace
