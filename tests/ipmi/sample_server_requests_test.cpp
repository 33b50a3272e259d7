// The sample server through the exports: what discovery and one poll cost in requests, and
// the same records whichever driver carries the requests.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "IPMI/IPMIsupport.h"
#include "api/exports.h"
#include "process/state.h"
#include "sim/loader.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

class SampleServerExports : public ::testing::Test {
protected:
    void Load(sim::Kernel kernel) {
        qtest::ResetLibrary();
        std::string error;
        machine = sim::load_machine(QARVEL_SAMPLE_MACHINE, error);
        ASSERT_NE(machine, nullptr) << error;
        ASSERT_NE(machine->bmc, nullptr);
        machine->kernel = kernel;
        sim::use(machine);
    }
    void TearDown() override {
        qtest::ResetLibrary();
        sim::use(std::make_shared<sim::Machine>());
    }

    // Everything the IPMI exports give, as bytes: the three sensor records, every sensor's
    // thresholds and the BMC version.
    std::string Everything() {
        std::string out;
        auto add = [&out](const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); };
        FanInformation fans;
        VoltageInformation volts;
        TemperatureInformation temps;
        SensorThresholdInformation thresholds;
        std::memset(&fans, 0, sizeof fans);
        std::memset(&volts, 0, sizeof volts);
        std::memset(&temps, 0, sizeof temps);
        std::memset(&thresholds, 0, sizeof thresholds);
        EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans), 0);
        EXPECT_EQ(GetIpmiInfo(INFO_VOLTAGE, &volts), 0);
        EXPECT_EQ(GetIpmiInfo(INFO_TEMPERATURE, &temps), 0);
        EXPECT_EQ(GetAllThresholdInfo(&thresholds), 0);
        unsigned char version[2] = {};
        EXPECT_EQ(GetBMCVersion(&version[0], &version[1]), 0);
        add(&fans, sizeof fans);
        add(&volts, sizeof volts);
        add(&temps, sizeof temps);
        add(&thresholds, sizeof thresholds);
        add(version, sizeof version);
        return out;
    }

    std::shared_ptr<sim::Machine> machine;
};

TEST_F(SampleServerExports, TheSameRecordsThroughEitherDriver) {
    Load(sim::Kernel::Classic);
    const std::string classic = Everything();
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi");
    Load(sim::Kernel::Current);
    machine->ports.grant_iopl = false;  // the mainline driver needs no port privilege
    const std::string current = Everything();
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi0");
    ASSERT_EQ(classic.size(), current.size());
    EXPECT_TRUE(classic == current);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/ipmi"), 1u);  // tried once, absent
}

TEST_F(SampleServerExports, DiscoveryAndOnePollInRequests) {
    for (sim::Kernel kernel : {sim::Kernel::Classic, sim::Kernel::Current}) {
        Load(kernel);
        ASSERT_EQ(IsIpmiSupport(), 1);
        const sim::Bmc& bmc = *machine->bmc;
        ASSERT_EQ(EnsureSensorInfo(*qarvel::State().pIPMI), 0);
        const std::size_t discovery = bmc.log().size();
        const std::size_t records = bmc.records().size();
        // Repository information, one Get SDR per record, no reservation; then per full
        // sensor record its thresholds, and the state of the sensor-specific ones.
        EXPECT_EQ(bmc.count(kStorageNetFn, kGetSdrRepositoryInfo), 1u);
        EXPECT_EQ(bmc.count(kStorageNetFn, kGetSdr), records);
        EXPECT_EQ(bmc.count(kStorageNetFn, kReserveSdrRepository), 0u);
        const std::size_t thresholds = bmc.count(kSensorNetFn, kGetSensorThresholds);
        const std::size_t states = bmc.count(kSensorNetFn, kGetSensorReading);
        EXPECT_EQ(discovery, 1 + records + thresholds + states);

        const_cast<sim::Bmc&>(bmc).clear_log();
        FanInformation fans;
        VoltageInformation volts;
        TemperatureInformation temps;
        ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans), 0);
        ASSERT_EQ(GetIpmiInfo(INFO_VOLTAGE, &volts), 0);
        ASSERT_EQ(GetIpmiInfo(INFO_TEMPERATURE, &temps), 0);
        const auto poll = bmc.log();
        // One Get Sensor Reading per listed sensor, and nothing else.
        std::map<int, int> per_sensor;
        for (const auto& r : poll) {
            ASSERT_EQ(r.cmd, kGetSensorReading);
            ++per_sensor[r.data.at(0)];
        }
        const int listed = fans.quantity + volts.quantity + temps.quantity;
        EXPECT_EQ(static_cast<int>(poll.size()), listed);
        EXPECT_EQ(static_cast<int>(per_sensor.size()), listed);
        for (const auto& [number, asked] : per_sensor) EXPECT_EQ(asked, 1) << number;

        std::printf("%s: %zu records; discovery %zu requests (1 repository info, %zu Get SDR, %zu Get Sensor "
                    "Thresholds, %zu Get Sensor Reading); one poll of %d sensors: %zu requests\n",
                    IpmiSourceName(), records, discovery, records, thresholds, states, listed, poll.size());
    }
}

}  // namespace
