// The IPMI facade: construction, discovery, forwarding, the watchdog timer on the wire, and
// the firmware version.
#include <cstring>
#include <vector>

#include "IPMI/IPMIsupport.h"
#include "sim/Fru.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Facade = BmcTest;

constexpr std::uint8_t kResetWatchdog = 0x22, kSetWatchdog = 0x24, kGetWatchdog = 0x25;

TEST_F(Facade, ConstructionSendsNothingAndCountsStartAtZero) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    AddSensor(Temperature(1, "CPU"), 40);
    IPMIsupport facade;
    EXPECT_EQ(facade.IsInitOK(), 1);
    EXPECT_EQ(facade.sensor.IsInitOK(), 1);
    EXPECT_EQ(facade.fru.IsInitOK(), 1);
    EXPECT_TRUE(bmc->log().empty());
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/ipmi"), 1u);  // the family opens it once
    EXPECT_EQ(facade.GetFanSensorsNum(), 0);
    EXPECT_EQ(facade.GetTemSensorsNum(), 0);

    ASSERT_EQ(facade.GetSensorInfo(), 0);
    EXPECT_EQ(facade.GetFanSensorsNum(), 1);
    EXPECT_EQ(facade.GetTemSensorsNum(), 1);
    EXPECT_EQ(facade.GetVoltSensorsNum(), 0);
    // A second discovery lists every sensor once.
    ASSERT_EQ(facade.GetSensorInfo(), 0);
    EXPECT_EQ(facade.GetFanSensorsNum(), 1);

    // Forwarded as they are: the reader's answers, the reader's failures.
    unsigned char number = 0;
    ASSERT_EQ(facade.GetFanSensorNumber(0, number), 0);
    EXPECT_EQ(number, 0x30);
    char text[64] = {};
    ASSERT_EQ(facade.GetFanIDString(0, text), 0);
    EXPECT_STREQ(text, "FAN1");
    EXPECT_EQ(facade.GetFanIDString(64, text), -1);
    EXPECT_EQ(facade.GetTemperatureEntityID(-1, number), -1);
    SensorThresholdInfoRaw stir{};
    SensorThresholdInfoConverted stic{};
    EXPECT_EQ(facade.GetThreshold(1, stir, stic), 0);
    EXPECT_EQ(facade.GetThreshold(2, stir, stic), -1);
}

TEST_F(Facade, DiscoveryStopsAtTheFirstFailure) {
    AddSensor(Fan(0x30, "FAN1"), 50);
    IPMIsupport facade;
    bmc->fail_command(kStorageNetFn, kGetSdrRepositoryInfo, sim::completion::kUnspecified);
    EXPECT_EQ(facade.GetSensorInfo(), -1);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), 0u);
    EXPECT_EQ(facade.GetFanSensorsNum(), 0);
}

TEST_F(Facade, WatchdogSetOnTheWire) {
    IPMIsupport facade;
    struct Case {
        int timeout;
        unsigned char action;
        std::vector<std::uint8_t> data;  // empty: refused, nothing sent
    };
    const Case cases[] = {
        {10000, 1, {0x04, 0x01, 0x00, 0x00, 0x64, 0x00}},   // 100 x 100 ms
        {999000, 2, {0x04, 0x02, 0x00, 0x00, 0x06, 0x27}},  // 9990
        {12345, 3, {0x04, 0x03, 0x00, 0x00, 0x7B, 0x00}},   // 123, truncated
        {180000, 0, {0x04, 0x00, 0x00, 0x00, 0x08, 0x07}},  // no action
        {60000, 9, {0x04, 0x01, 0x00, 0x00, 0x58, 0x02}},   // 9 & 7: hard reset
        {9999, 1, {}},
        {999001, 1, {}},
        {-10000, 1, {}},
    };
    for (const Case& c : cases) {
        bmc->clear_log();
        EXPECT_EQ(facade.SetWatchDogTimer(c.action, c.timeout), c.data.empty() ? -1 : 0) << c.timeout;
        const auto sent = bmc->log();
        if (c.data.empty()) {
            EXPECT_TRUE(sent.empty()) << c.timeout;
            continue;
        }
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].netfn, kAppNetFn);
        EXPECT_EQ(sent[0].cmd, kSetWatchdog);
        EXPECT_EQ(sent[0].data, c.data) << c.timeout;
        EXPECT_EQ(bmc->watchdog.initial, (c.data[5] << 8) | c.data[4]);
    }
    // Loading stops the timer; only a reset starts it.
    EXPECT_FALSE(bmc->watchdog.running);
    bmc->clear_log();
    ASSERT_EQ(facade.ResetWatchDogTimer(), 0);
    EXPECT_TRUE(bmc->watchdog.running);
    ASSERT_EQ(bmc->log().size(), 1u);
    EXPECT_EQ(bmc->log()[0].cmd, kResetWatchdog);
    EXPECT_TRUE(bmc->log()[0].data.empty());

    bmc->fail_command(kAppNetFn, kSetWatchdog, sim::completion::kUnspecified);
    EXPECT_EQ(facade.SetWatchDogTimer(1, 60000), -1);
}

TEST_F(Facade, WatchdogGetReportsMilliseconds) {
    IPMIsupport facade;
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetWatchdog) return false;
        // Use SMS/OS running, action power cycle with a pre-timeout interrupt, 10 s
        // pre-timeout, flags, initial 0708h, present 0102h.
        r.data = {0x44, 0x13, 0x0A, 0x10, 0x08, 0x07, 0x02, 0x01};
        return true;
    };
    int action = -1, initial = -1, present = -1;
    ASSERT_EQ(facade.GetWatchDogTimer(action, initial, present), 0);
    EXPECT_EQ(action, 3);
    EXPECT_EQ(initial, 180000);
    EXPECT_EQ(present, 25800);

    // An answer that stops before the present countdown, or in its middle, still gives the
    // action and the initial countdown; the present one is not given.
    for (std::size_t bytes : {6u, 7u}) {
        bmc->intercept = [bytes](const sim::BmcRequest& q, sim::BmcResponse& r) {
            if (q.cmd != kGetWatchdog) return false;
            r.data = {0x44, 0x11, 0x0A, 0x10, 0x58, 0x02, 0x02, 0x01};
            r.data.resize(bytes);
            return true;
        };
        action = initial = present = -7;
        ASSERT_EQ(facade.GetWatchDogTimer(action, initial, present), 0) << bytes;
        EXPECT_EQ(action, 1);
        EXPECT_EQ(initial, 60000);
        EXPECT_EQ(present, IPMIsupport::kCountdownNotGiven);
    }

    // One without the whole initial countdown, or a failure, leaves the outputs alone.
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetWatchdog) return false;
        r.data = {0x44, 0x13, 0x0A, 0x10, 0x08};
        return true;
    };
    action = initial = present = -7;
    EXPECT_EQ(facade.GetWatchDogTimer(action, initial, present), -1);
    bmc->intercept = nullptr;
    bmc->fail_command(kAppNetFn, kGetWatchdog, sim::completion::kInvalidCommand);
    EXPECT_EQ(facade.GetWatchDogTimer(action, initial, present), -1);
    EXPECT_EQ(action, -7);
    EXPECT_EQ(initial, -7);
    EXPECT_EQ(present, -7);
}

TEST_F(Facade, FirmwareVersion) {
    bmc->device.firmware1 = 0x81;  // device available bit set, major 1
    bmc->device.firmware2 = 0x25;  // BCD
    IPMIsupport facade;
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(facade.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 25);
    bmc->fail_command(kAppNetFn, kGetDeviceId, sim::completion::kUnspecified);
    major = minor = 0xEE;
    EXPECT_EQ(facade.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(major, 0xEE);
}

TEST_F(Facade, FruTextsForwardAndTheAssetTagIsNotTheVersion) {
    bmc->fru0 = sim::FruImage()
                    .chassis(0x17, {sim::fru_text("CP"), sim::fru_text("CS")})
                    .board(0, 0, {sim::fru_text("BM"), sim::fru_text("BN"), sim::fru_text("BS"), sim::fru_text("BP")})
                    .product(0, {sim::fru_text("PM"), sim::fru_text("PN"), sim::fru_text("PP"), sim::fru_text("PV"),
                                 sim::fru_text("PS"), sim::fru_text("PA")})
                    .bytes();
    IPMIsupport facade;
    ASSERT_EQ(facade.GetFRUInfo(), 0);
    struct Getter {
        int (IPMIsupport::*get)(char*);
        const char* expected;
    };
    const Getter getters[] = {
        {&IPMIsupport::GetBoardManufacturer, "BM"}, {&IPMIsupport::GetBoardProductName, "BN"},
        {&IPMIsupport::GetBoardSerialNumber, "BS"}, {&IPMIsupport::GetBoardPartNumber, "BP"},
        {&IPMIsupport::GetChassisPartNumber, "CP"}, {&IPMIsupport::GetChassisSerialNumber, "CS"},
        {&IPMIsupport::GetProductManufacturerName, "PM"}, {&IPMIsupport::GetProductPartName, "PP"},
        {&IPMIsupport::GetProductVersion, "PV"},    {&IPMIsupport::GetProductSerialNumber, "PS"},
        {&IPMIsupport::GetProductAssertTag, "PA"},
    };
    for (const Getter& g : getters) {
        char text[64];
        std::memset(text, 0x7E, sizeof text);
        ASSERT_EQ((facade.*g.get)(text), 0);
        EXPECT_STREQ(text, g.expected);
    }
}

TEST(FacadeWithoutDevice, RefusesEverythingAndCountsNothing) {
    qtest::ResetLibrary();
    auto machine = std::make_shared<sim::Machine>();
    sim::use(machine);
    IPMIsupport facade;
    EXPECT_EQ(facade.IsInitOK(), 0);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/ipmi"), 3u);  // tried by each of the three
    EXPECT_EQ(facade.GetSensorInfo(), -1);
    EXPECT_EQ(facade.GetFanSensorsNum(), 0);
    EXPECT_EQ(facade.SetWatchDogTimer(1, 60000), -1);
    EXPECT_EQ(facade.ResetWatchDogTimer(), -1);
    int a = 5, b = 5, c = 5;
    EXPECT_EQ(facade.GetWatchDogTimer(a, b, c), -1);
    EXPECT_EQ(a, 5);
    EXPECT_EQ(facade.GetFRUInfo(), -1);
    EXPECT_EQ(machine->count(sim::Access::Ioctl, "/dev/ipmi"), 0u);
}

}  // namespace
