// The IPMI device as a source table: which rows the probe tried on each kind of machine, in
// what order, which answered and why the others failed; the transport's answer as a value;
// and what a reset of the library forgets.
#include <string>
#include <vector>

#include "IPMI/Sensor.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;

const qarvel::ProbeRecord& Record() { return qarvel::State().sources[SOURCE_IPMI]; }

// The rows the last probe tried, each as "NAME" when it answered or "NAME: WHY" when not.
std::vector<std::string> Tried() {
    std::vector<std::string> out;
    const qarvel::ProbeRecord& r = Record();
    for (int i = 0; i < r.count; ++i)
        out.push_back(std::string(r.tried[i].source) + (r.tried[i].why[0] ? std::string(": ") + r.tried[i].why : ""));
    return out;
}

using Strings = std::vector<std::string>;

class IpmiSources : public BmcTest {
protected:
    // A current kernel: the mainline driver's /dev/ipmi0; /dev/ipmi is a node without its driver.
    void UseCurrentKernel() {
        machine->kernel = sim::Kernel::Current;
        machine->ports.grant_iopl = false;
        bmc->kcs_present = bmc->smic_present = false;
    }
};

TEST_F(IpmiSources, ClassicMachineAnswersOnTheFirstRow) {
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(Tried(), Strings{"/dev/ipmi"});
    EXPECT_STREQ(Record().answered, "/dev/ipmi");
    // The record says which device opened; the source name waits for an answer.
    EXPECT_EQ(IpmiSourceName(), nullptr);
}

TEST_F(IpmiSources, CurrentMachineSaysWhyTheClassicDeviceFailed) {
    UseCurrentKernel();
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(Tried(), (Strings{"/dev/ipmi: opening /dev/ipmi: No such device or address", "/dev/ipmi0"}));
    EXPECT_STREQ(Record().answered, "/dev/ipmi0");
}

TEST_F(IpmiSources, LockdownOnEitherKernel) {
    // A classic kernel under lockdown: /dev/ipmi opens but its ports are out of reach, and
    // the mainline driver is not loaded. Every row failed, each for its own reason.
    machine->lockdown = true;
    {
        Sensor reader;
        EXPECT_EQ(reader.IsInitOK(), 0);
        EXPECT_EQ(reader.InitIpmiBase(), -1);
        EXPECT_EQ(Tried(), (Strings{"/dev/ipmi: port privilege refused for /dev/ipmi: Operation not permitted",
                                    "/dev/ipmi0: opening /dev/ipmi0: No such device or address",
                                    "/dev/ipmi/0: opening /dev/ipmi/0: No such file or directory",
                                    "/dev/ipmidev/0: opening /dev/ipmidev/0: No such file or directory"}));
        EXPECT_EQ(Record().answered, nullptr);
        EXPECT_EQ(reader.IsSupportKCS, 0);  // the ports were never read
        EXPECT_EQ(machine->ports.violations, 0);
    }
    // A current kernel under lockdown needs no ports.
    UseCurrentKernel();
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(Tried(), (Strings{"/dev/ipmi: opening /dev/ipmi: No such device or address", "/dev/ipmi0"}));
}

TEST_F(IpmiSources, EmptyStatusPortsAreTheClassicRowsReason) {
    bmc->kcs_present = bmc->smic_present = false;
    Sensor reader;
    EXPECT_EQ(reader.IsInitOK(), 0);
    const Strings tried = Tried();
    ASSERT_EQ(tried.size(), 4u);
    EXPECT_EQ(tried[0], "/dev/ipmi: no KCS or SMIC interface behind /dev/ipmi");
    // Found once, the device is probed again without a second open, and the record is rewritten.
    EXPECT_EQ(reader.InitIpmiBase(), 0);
    EXPECT_EQ(Tried(), tried);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/ipmi"), 1u);
}

TEST_F(IpmiSources, TheRowThatAnsweredIsTriedFirstUntilTheLibraryIsReset) {
    UseCurrentKernel();
    { Sensor first; }
    EXPECT_EQ(Tried().size(), 2u);
    {
        Sensor second;  // a later family, after the first closed the device
        ASSERT_EQ(second.IsInitOK(), 1);
        EXPECT_EQ(Tried(), Strings{"/dev/ipmi0"});
        unsigned char major = 0, minor = 0;
        ASSERT_EQ(second.GetDeviceID(&major, &minor), 0);
    }
    // Releasing the readers keeps the choice and the name of the device that answered.
    ASSERT_EQ(qarvel::ResetProcessState(qarvel::Reset::Readers), 0);
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi0");
    // A library as just loaded knows neither, and starts from the table's first row.
    qtest::ResetLibrary();
    EXPECT_EQ(IpmiSourceName(), nullptr);
    EXPECT_EQ(Record().count, 0);
    Sensor third;
    EXPECT_EQ(Tried().front().rfind("/dev/ipmi:", 0), 0u);
}

// The transport's value for an answer, a refusal and silence, through either driver.
void CheckAnswers(sim::Bmc& bmc) {
    IpmiTransport& transport = qarvel::State().ipmi;
    IpmiAnswer a = transport.Exchange(kAppNetFn, kGetDeviceId, nullptr, 0);
    EXPECT_TRUE(a.answered);
    EXPECT_EQ(a.completion, 0);
    EXPECT_TRUE(a.ok());
    ASSERT_EQ(a.length, 11);  // IPMI 2.0 20.1 without the auxiliary revision
    EXPECT_EQ(a.bytes[0], bmc.device.device_id);
    EXPECT_EQ(a.bytes[2], bmc.device.firmware1);
    EXPECT_EQ(a.bytes[11], 0);  // past the answer

    bmc.fail_command(kAppNetFn, kGetDeviceId, 0xC1);
    a = transport.Exchange(kAppNetFn, kGetDeviceId, nullptr, 0);
    EXPECT_TRUE(a.answered);
    EXPECT_EQ(a.completion, 0xC1);
    EXPECT_FALSE(a.ok());
    EXPECT_EQ(a.length, 0);

    bmc.fail_ioctl = true;
    a = transport.Exchange(kStorageNetFn, kGetSdrRepositoryInfo, nullptr, 0);
    EXPECT_FALSE(a.answered);
    EXPECT_EQ(a.completion, kIpmiNoAnswer);
    EXPECT_EQ(a.length, 0);
    bmc.fail_ioctl = false;

    // The request data goes on the wire as given.
    const unsigned char number = 7;
    transport.Exchange(kSensorNetFn, kGetSensorReading, &number, 1);
    const auto log = bmc.log();
    ASSERT_EQ(log.size(), 3u);  // the one lost in the driver never arrived
    EXPECT_EQ(log[2].data, std::vector<std::uint8_t>{7});
}

TEST_F(IpmiSources, AnswersAsValuesThroughTheClassicDriver) {
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    CheckAnswers(*bmc);
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi");
}

TEST_F(IpmiSources, AnswersAsValuesThroughTheMainlineDriver) {
    UseCurrentKernel();
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    CheckAnswers(*bmc);
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi0");

    // An answer that never comes, even when asked for again, is silence too.
    bmc->lose_answers = 2;
    const IpmiAnswer lost = qarvel::State().ipmi.Exchange(kAppNetFn, kGetDeviceId, nullptr, 0);
    EXPECT_FALSE(lost.answered);
    EXPECT_EQ(lost.completion, kIpmiNoAnswer);
}

TEST_F(IpmiSources, NothingIsSentWithoutADevice) {
    machine->remove_device("/dev/ipmi");
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 0);
    const IpmiAnswer a = qarvel::State().ipmi.Exchange(kAppNetFn, kGetDeviceId, nullptr, 0);
    EXPECT_FALSE(a.answered);
    EXPECT_EQ(a.completion, kIpmiNoAnswer);
    EXPECT_TRUE(bmc->log().empty());
}

TEST_F(IpmiSources, ObjectsStillSeeTheirRequestAndResponse) {
    Sensor reader;
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(reader.request.netFn, kAppNetFn);
    EXPECT_EQ(reader.request.cmdType, kGetDeviceId);
    EXPECT_EQ(reader.ResponseBuffer[0], bmc->device.device_id);
    EXPECT_EQ(reader.ResponseBuffer[2], bmc->device.firmware1);
    EXPECT_EQ(reader.ResponseBuffer[11], 0);
}

TEST_F(IpmiSources, AResetForgetsTheKeptReading) {
    AddSensor(Voltage(3, "12V"), 120, 0x0001);
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    char text[64] = {};
    ASSERT_EQ(reader.GetVoltageCurrent(0, text), 0);
    const std::size_t readings = Requests(kSensorNetFn, kGetSensorReading).size();
    // Kept: the state that follows costs no request.
    ASSERT_EQ(reader.GetVoltageStatusDescription(0, text), 0);
    EXPECT_EQ(Requests(kSensorNetFn, kGetSensorReading).size(), readings);

    ASSERT_EQ(reader.GetVoltageCurrent(0, text), 0);
    qtest::ResetLibrary();
    ASSERT_EQ(reader.GetVoltageStatusDescription(0, text), 0);
    EXPECT_EQ(Requests(kSensorNetFn, kGetSensorReading).size(), readings + 2);
}

}  // namespace
