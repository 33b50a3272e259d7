// Busy and timed-out requests: asked again within a bound, with the waits on the simulated
// clock, and nothing else asked twice.
#include <cerrno>
#include <numeric>

#include "IPMI/Sensor.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

std::uint64_t Slept(const sim::Machine& m) {
    return std::accumulate(m.clock.sleeps_us.begin(), m.clock.sleeps_us.end(), std::uint64_t{0});
}

// Answers the first requests of a command with the codes given in turn.
void BusyFirst(sim::Bmc& bmc, std::uint8_t cmd, std::vector<std::uint8_t> codes) {
    auto served = std::make_shared<std::size_t>(0);
    bmc.intercept = [served, cmd, codes](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != cmd || *served >= codes.size()) return false;
        r.completion = codes[(*served)++];
        return true;
    };
}

class Retry : public BmcTest {
protected:
    // Get Device ID, answered with `codes` first: its result, and the requests it took.
    std::pair<int, std::size_t> DeviceIdAfter(Sensor& reader, std::vector<std::uint8_t> codes) {
        bmc->clear_log();
        BusyFirst(*bmc, kGetDeviceId, std::move(codes));
        unsigned char major = 0, minor = 0;
        const int result = reader.GetDeviceID(&major, &minor);
        bmc->intercept = nullptr;
        return {result, Requests(kAppNetFn, kGetDeviceId).size()};
    }
};
using Sent = std::pair<int, std::size_t>;

TEST_F(Retry, EachBusyCodeIsAskedAgainAfterAGrowingPause) {
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    // Node busy, out of space, repository in update mode, firmware update, initialisation.
    EXPECT_EQ(DeviceIdAfter(reader, {0xC0, 0xC4, 0xD0, 0xD1}), (Sent{0, 5}));
    EXPECT_EQ(machine->clock.sleeps_us, (std::vector<std::uint64_t>{20000, 40000, 80000, 160000}));
    EXPECT_EQ(DeviceIdAfter(reader, {0xD2}), (Sent{0, 2}));
}

TEST_F(Retry, OtherRefusalsAreNotAskedAgain) {
    Sensor reader;
    for (std::uint8_t code : {0xC1, 0xC5, 0xCA, 0xCC, 0xCE, 0xD3, 0xFF})
        EXPECT_EQ(DeviceIdAfter(reader, {code}), (Sent{-1, 1})) << int(code);
    EXPECT_TRUE(machine->clock.sleeps_us.empty());
}

TEST_F(Retry, AnAlwaysBusyBmcFailsCleanlyWithinTheBound) {
    for (int i = 1; i <= 3; ++i) AddSensor(Temperature(static_cast<std::uint8_t>(i), "T"), 30);
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) {
        r.completion = 0xC0;
        return true;
    };
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(Discover(reader), -1);
    EXPECT_EQ(bmc->log().size(), 5u);
    EXPECT_EQ(Slept(*machine), 300000u);

    // Still busy: one try a request, no more waiting, until the BMC answers again.
    unsigned char major = 0, minor = 0;
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(bmc->log().size(), 7u);
    EXPECT_EQ(Slept(*machine), 300000u);

    bmc->intercept = nullptr;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(reader.TSInfo.quantity, 3);
    // Answered again: a busy answer is retried as at first.
    EXPECT_EQ(DeviceIdAfter(reader, {0xC0}), (Sent{0, 2}));
}

TEST_F(Retry, ATimeoutIsAskedAgainOnceWithoutAPause) {
    Sensor reader;
    unsigned char major = 0, minor = 0;
    // The BMC's own timeout, answered.
    EXPECT_EQ(DeviceIdAfter(reader, {0xC3}), (Sent{0, 2}));

    // The driver's timeout: nothing reached the BMC the first time.
    int faults = 1;
    bmc->ioctl_fault = [&faults] { return faults-- > 0 ? ETIMEDOUT : 0; };
    bmc->clear_log();
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(Requests(kAppNetFn, kGetDeviceId).size(), 1u);
    // A driver that fails otherwise is not asked again.
    faults = 2;
    bmc->ioctl_fault = [&faults] { return faults-- > 0 ? EIO : 0; };
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(faults, 1);
    bmc->ioctl_fault = nullptr;

    // Timed out twice: given up.
    EXPECT_EQ(DeviceIdAfter(reader, {0xC3, 0xC3, 0xC3}), (Sent{-1, 2}));
    EXPECT_TRUE(machine->clock.sleeps_us.empty());
}

}  // namespace
