// The transport: opening and sharing /dev/ipmi, probing the system interface, the driver
// message, and the life of every request's data.
#include <cstring>

#include "IPMI/IPMIbase.h"
#include "IPMI/Sensor.h"
#include "platform/platform.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Transport = BmcTest;
using NoBmc = qtest::MachineTest;
using sim::Access;

std::size_t Closes(const sim::Machine& m) {
    std::size_t n = 0;
    for (const auto& a : m.accesses()) n += a.kind == Access::Close;
    return n;
}

TEST_F(Transport, FamilySharesOneDescriptorOpenedOnce) {
    IPMIbase first;
    EXPECT_EQ(first.IsInitOK(), 0);  // the base alone does not open anything
    EXPECT_EQ(first.InitIpmiBase(), 0);
    EXPECT_EQ(first.IsInitOK(), 1);
    EXPECT_EQ(first.IsSupportKCS, 1);
    EXPECT_EQ(first.IsSupportSMIC, 0);
    EXPECT_GT(hDevice, 0);
    const int fd = hDevice;

    Sensor reader;  // its constructor initialises through the family
    EXPECT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(first.InitIpmiBase(), 0);
    EXPECT_EQ(hDevice, fd);
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi"), 1u);
    EXPECT_EQ(machine->ports.level, 0);  // the port privilege is given back
    EXPECT_EQ(machine->ports.violations, 0);
}

TEST_F(Transport, SmicAloneIsEnoughAndNeitherMeansNotReady) {
    bmc->kcs_present = false;
    bmc->smic_present = true;
    {
        Sensor reader;
        EXPECT_EQ(reader.IsInitOK(), 1);
        EXPECT_EQ(reader.IsSupportSMIC, 1);
        EXPECT_EQ(reader.IsSupportKCS, 0);
    }
    bmc->smic_present = false;
    Sensor reader;
    EXPECT_EQ(reader.InitIpmiBase(), 0);  // the device opened; only the probe found nothing
    EXPECT_EQ(reader.IsInitOK(), 0);

    // Nothing reaches the BMC, not even the threshold requests that skip the readiness check.
    int count = 0, version = 0;
    unsigned char major = 0, minor = 0, value = 0, offset = 0;
    unsigned char record[256] = {};
    SensorFormulaParameter sfp{};
    SensorThresholdInfoRaw stir{};
    SensorThresholdInfoConverted stic{};
    stir.UpperCriticalThresholdValue = 99;
    EXPECT_EQ(reader.GetSDRRepositoryInfo(count, version), -1);
    EXPECT_EQ(reader.GetSDR(0, 0, record, 0xFF), -1);
    EXPECT_EQ(reader.GetSensorNumbers(10), -1);
    EXPECT_EQ(reader.ReadSensor(1, value), -1);
    EXPECT_EQ(reader.GetSensorStatus(1, 0x6F, offset), -1);
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(reader.GetSensorThreshold(1, sfp, stir, stic), -1);
    EXPECT_EQ(stir.UpperCriticalThresholdValue, 0);
    EXPECT_EQ(reader.SetSensorThreshold(1, stir), -1);
    EXPECT_TRUE(bmc->log().empty());
    // Only the question that tells the drivers apart, once per open; it asks the BMC nothing.
    EXPECT_EQ(machine->count(Access::Ioctl, "/dev/ipmi"), machine->count(Access::Open, "/dev/ipmi"));
    // A second probe does not open the device again (the first family opened it once too).
    EXPECT_EQ(reader.InitIpmiBase(), 0);
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi"), 2u);
}

TEST_F(NoBmc, WithoutTheDeviceNothingIsEverClosed) {
    {
        Sensor reader;
        EXPECT_EQ(reader.InitIpmiBase(), -1);
        EXPECT_EQ(reader.IsInitOK(), 0);
        EXPECT_EQ(hDevice, 0);
    }
    // Descriptor 0 is standard input: the family never opened it, so it never closes it.
    EXPECT_EQ(Closes(*machine), 0u);
}

TEST_F(Transport, RefusedPortPrivilegeKeepsOneDescriptorUntilTheLastObject) {
    machine->ports.grant_iopl = false;
    {
        Sensor reader;
        IPMIbase other;
        EXPECT_EQ(reader.IsInitOK(), 0);
        EXPECT_EQ(other.InitIpmiBase(), -1);
        EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi"), 1u);
        EXPECT_EQ(machine->ports.violations, 0);  // no port was touched without the privilege
    }
    EXPECT_EQ(machine->count(Access::Close, "/dev/ipmi"), 1u);
}

TEST_F(Transport, LastObjectClosesTheDeviceAndALaterFamilyOpensItAgain) {
    {
        Sensor a;
        {
            Sensor b;
            EXPECT_EQ(b.IsInitOK(), 1);
        }
        EXPECT_EQ(Closes(*machine), 0u);  // a still uses it
        unsigned char major = 0, minor = 0;
        EXPECT_EQ(a.GetDeviceID(&major, &minor), 0);
    }
    EXPECT_EQ(machine->count(Access::Close, "/dev/ipmi"), 1u);
    EXPECT_EQ(InitOK, 0);
    EXPECT_EQ(hDevice, 0);

    Sensor again;
    EXPECT_EQ(again.IsInitOK(), 1);
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi"), 2u);
    unsigned char major = 0, minor = 0;
    EXPECT_EQ(again.GetDeviceID(&major, &minor), 0);
}

TEST_F(Transport, ResponderAddressOnTheWireIsAlwaysFF) {
    IPMIbase base;
    ASSERT_EQ(base.InitIpmiBase(), 0);
    IMBPREQUESTDATA request{};
    request.cmdType = kGetDeviceId;
    request.rsSa = 0x20;
    request.netFn = kAppNetFn;
    unsigned char response[IMB_RESPONSE_SIZE] = {};
    int length = -1;
    unsigned char code = 0x55;
    EXPECT_EQ(base.SendTimedImbpRequest(&request, 3000, response, &length, &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(length, 11);  // IPMI 2.0 20.1 without the auxiliary revision
    EXPECT_EQ(response[0], bmc->device.device_id);
    EXPECT_EQ(response[2], bmc->device.firmware1);

    Sensor reader;
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(reader.request.rsSa, 0x20);  // the record keeps what the caller set
    const auto log = bmc->log();
    ASSERT_EQ(log.size(), 2u);
    for (const auto& r : log) {
        EXPECT_EQ(r.responder, 0xFF);
        EXPECT_EQ(r.netfn, kAppNetFn);
        EXPECT_EQ(r.cmd, kGetDeviceId);
        EXPECT_EQ(r.lun, 0);
        EXPECT_EQ(r.bus, 0);
    }
}

TEST_F(Transport, RequestDataIsReleasedOnEveryPath) {
    AddSensor(Temperature(7, "T"), 30);
    bmc->sensors[7].threshold_based = true;
    bmc->sensors[7].settable = 0x3F;
    Sensor reader;
    SensorThresholdInfoRaw stir{};
    stir.settableFlag = 0x01;
    stir.LowerNonCriticalThreshold = 9;

    EXPECT_EQ(reader.SetSensorThreshold(7, stir), 0);  // answered
    EXPECT_EQ(reader.request.data, nullptr);
    bmc->fail_command(kSensorNetFn, kSetSensorThresholds, 0xC0);
    EXPECT_EQ(reader.SetSensorThreshold(7, stir), -1);  // refused by the BMC
    EXPECT_EQ(reader.request.data, nullptr);
    bmc->fail_ioctl = true;
    EXPECT_EQ(reader.SetSensorThreshold(7, stir), -1);  // lost in the driver
    EXPECT_EQ(reader.request.data, nullptr);

    // The BMC got the data block while it was alive: the answered request, and the busy one
    // with its four retries.
    const auto sent = Requests(kSensorNetFn, kSetSensorThresholds);
    ASSERT_EQ(sent.size(), 6u);
    for (const auto& r : sent) EXPECT_EQ(r.data, (std::vector<std::uint8_t>{7, 0x01, 9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bmc->sensors[7].thresholds[0], 9);
}

TEST_F(Transport, NoAnswerNeverReadsAsSuccess) {
    IPMIbase base;
    IMBPREQUESTDATA request{};
    request.cmdType = kGetDeviceId;
    request.netFn = kAppNetFn;
    unsigned char response[IMB_RESPONSE_SIZE] = {};
    int length = 7;
    unsigned char code = 0;
    // Not initialised: nothing sent.
    EXPECT_EQ(base.SendTimedImbpRequest(&request, 3000, response, &length, &code), -1);
    EXPECT_NE(code, 0);
    EXPECT_EQ(length, 0);
    // The ioctl fails.
    ASSERT_EQ(base.InitIpmiBase(), 0);
    bmc->fail_ioctl = true;
    code = 0;
    EXPECT_EQ(base.SendTimedImbpRequest(&request, 3000, response, &length, &code), -1);
    EXPECT_NE(code, 0);
    EXPECT_TRUE(bmc->log().empty());

    // So the threshold read, which asks no readiness first, fails and leaves zeros.
    Sensor reader;
    SensorFormulaParameter sfp{};
    SensorThresholdInfoRaw stir{};
    SensorThresholdInfoConverted stic{};
    EXPECT_EQ(reader.GetSensorThreshold(1, sfp, stir, stic), -1);
}

TEST_F(Transport, LyingResponseLengthIsHeldToTheBuffer) {
    IPMIbase base;
    ASSERT_EQ(base.InitIpmiBase(), 0);
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) {
        r.data = {1, 2, 3};
        r.reported_length = 100000;
        return true;
    };
    IMBPREQUESTDATA request{};
    unsigned char response[IMB_RESPONSE_SIZE] = {};
    int length = 0;
    unsigned char code = 1;
    EXPECT_EQ(base.SendTimedImbpRequest(&request, 3000, response, &length, &code), 0);
    EXPECT_EQ(length, static_cast<int>(IMB_RESPONSE_SIZE));
    EXPECT_EQ(code, 0);
}

TEST(StringCopy, CopiesAreBoundedByTheSmallerSide) {
    IPMIbase base;
    char source[] = "ABCDEFGHIJ";
    char des[16];

    std::memset(des, 'x', sizeof des);
    EXPECT_EQ(base.IpmiSrtringCopy(des, source, 5, 10), 0);
    EXPECT_EQ(std::string(des), "ABCD");
    EXPECT_EQ(des[5], 'x');

    std::memset(des, 'x', sizeof des);
    EXPECT_EQ(base.IpmiSrtringCopy(des, source, 10, 5), 0);
    EXPECT_EQ(std::string(des), "ABCDE");
    EXPECT_EQ(des[6], 'x');

    // A NUL in the source ends the text; the rest of the copied span is zero-filled.
    char early[] = {'A', 'B', '\0', 'D', 'E'};
    std::memset(des, 'x', sizeof des);
    EXPECT_EQ(base.IpmiSrtringCopy(des, early, 10, 5), 0);
    EXPECT_EQ(std::string(des), "AB");
    EXPECT_EQ(des[4], '\0');
    EXPECT_EQ(des[6], 'x');

    std::memset(des, 'x', sizeof des);
    EXPECT_EQ(base.IpmiSrtringCopy(des, source, 0, 10), -1);
    EXPECT_EQ(base.IpmiSrtringCopy(des, source, 4, -3), 0);  // a negative source length copies nothing
    EXPECT_EQ(des[0], '\0');
    EXPECT_EQ(des[1], 'x');
    EXPECT_EQ(base.IpmiSrtringCopy(nullptr, source, 5, 10), -1);
    EXPECT_EQ(base.IpmiSrtringCopy(des, nullptr, 5, 10), -1);
}

}  // namespace
