// The mainline driver: /dev/ipmi0 and its relatives, the message id, the wait for the
// answer, and the choice between the two drivers.
#include <poll.h>

#include "IPMI/IPMIbase.h"
#include "IPMI/Sensor.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using sim::Access;

// A machine on a current kernel: no /dev/ipmi, no port privilege, nothing on the KCS and
// SMIC status ports. Only the kernel's own driver reaches the BMC.
class Mainline : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        machine->kernel = sim::Kernel::Current;
        machine->ports.grant_iopl = false;
        bmc->kcs_present = bmc->smic_present = false;
    }
};

TEST_F(Mainline, ReachesTheBmcWithoutPortsOrTheClassicDevice) {
    EXPECT_EQ(IpmiSourceName(), nullptr);  // nothing has answered yet
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(IpmiSourceName(), nullptr);  // opening is not answering
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(major, bmc->device.firmware1 & 0x7F);
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi0");
    EXPECT_EQ(reader.IsSupportKCS, 0);
    EXPECT_EQ(machine->ports.violations, 0);
    EXPECT_EQ(machine->ports.level, 0);

    // One send, one wait, one receive per request, on the node that opened.
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi0"), 1u);
    EXPECT_EQ(machine->count(Access::Poll, "/dev/ipmi0"), 1u);
    EXPECT_EQ(machine->count(Access::Ioctl, "/dev/ipmi0"), 2u);
    const auto log = bmc->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].netfn, kAppNetFn);
    EXPECT_EQ(log[0].cmd, kGetDeviceId);
    EXPECT_EQ(log[0].lun, 0);
}

TEST_F(Mainline, WorksUnderLockdownAndKeepsTheMethodForTheProcess) {
    machine->lockdown = true;
    {
        Sensor reader;
        ASSERT_EQ(reader.IsInitOK(), 1);
        int count = 0, version = 0;
        EXPECT_EQ(reader.GetSDRRepositoryInfo(count, version), 0);
    }
    EXPECT_EQ(InitOK, 0);  // the last object closed the device
    const std::size_t classic_tries = machine->count(Access::Open, "/dev/ipmi");
    EXPECT_EQ(classic_tries, 1u);  // tried once, before the mainline node was found

    // A later family goes straight to the driver that answered.
    Sensor again;
    ASSERT_EQ(again.IsInitOK(), 1);
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi"), classic_tries);
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi0"), 2u);
}

TEST_F(Mainline, OtherNodeNamesAndTheMainlineDriverBehindDevIpmi) {
    machine->remove_device("/dev/ipmi0");
    machine->add_device("/dev/ipmidev/0", [this] { return sim::mainline_device(bmc); });
    {
        Sensor reader;
        unsigned char major = 0, minor = 0;
        ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
        EXPECT_STREQ(IpmiSourceName(), "/dev/ipmidev/0");
        EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi/0"), 1u);  // tried before it
    }
}

TEST_F(Mainline, DevIpmiServedByTheMainlineDriverTakesItsIoctls) {
    machine->kernel = sim::Kernel::Classic;
    machine->remove_device("/dev/ipmi");
    machine->add_device("/dev/ipmi", [this] { return sim::mainline_device(bmc); });
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi");
    EXPECT_EQ(machine->count(Access::Poll, "/dev/ipmi"), 1u);
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi0"), 0u);
}

TEST_F(Mainline, AnAnswerThatNeverComesIsAFailureAfterTheWait) {
    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    // A lost answer is asked for once more; two lost in a row are a failure.
    bmc->lose_answers = 2;
    const std::uint64_t before = machine->clock.now_us;
    unsigned char major = 0x77, minor = 0x77;
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_EQ(major, 0x77);  // untouched
    EXPECT_EQ(machine->clock.now_us - before, 2u * 3000u * 1000u);  // the request's own wait limit, twice

    // The next request is not confused by the lost one.
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(major, bmc->device.firmware1 & 0x7F);

    // Through the transport itself: no answer reads as completion code FFh, never as 0.
    bmc->lose_answers = 2;
    IMBPREQUESTDATA request{};
    request.cmdType = kGetDeviceId;
    request.netFn = kAppNetFn;
    unsigned char response[IMB_RESPONSE_SIZE] = {};
    int length = 5;
    unsigned char code = 0;
    EXPECT_EQ(reader.SendTimedImbpRequest(&request, 250, response, &length, &code), -1);
    EXPECT_EQ(code, 0xFF);
    EXPECT_EQ(length, 0);
}

TEST_F(Mainline, AnswersToOtherMessagesArePassedOver) {
    Sensor reader;
    bmc->foreign_answers = 3;
    for (int i = 0; i < 3; ++i) {
        unsigned char major = 0, minor = 0;
        ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0) << i;
        EXPECT_EQ(minor, 0);
    }
    // Each foreign answer cost one more receive, and no more waiting than there was to do.
    EXPECT_EQ(machine->count(Access::Ioctl, "/dev/ipmi0"), 3u * 3u);
    EXPECT_EQ(machine->clock.now_us, 0u);
}

TEST_F(Mainline, CompletionCodeFirstAndALongAnswerCut) {
    Sensor reader;
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) {
        r.completion = 0;
        r.data.assign(270, 0x5C);
        return true;
    };
    IMBPREQUESTDATA request{};
    request.cmdType = kGetDeviceId;
    request.netFn = kAppNetFn;
    unsigned char response[IMB_RESPONSE_SIZE + 8] = {};
    int length = 0;
    unsigned char code = 0x33;
    EXPECT_EQ(reader.SendTimedImbpRequest(&request, 3000, response, &length, &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(length, static_cast<int>(IMB_RESPONSE_SIZE));
    EXPECT_EQ(response[IMB_RESPONSE_SIZE - 1], 0x5C);
    EXPECT_EQ(response[IMB_RESPONSE_SIZE], 0);  // nothing past the buffer

    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) {
        r.completion = 0xC1;
        return true;
    };
    EXPECT_EQ(reader.SendTimedImbpRequest(&request, 3000, response, &length, &code), 0);
    EXPECT_EQ(code, 0xC1);
    EXPECT_EQ(length, 0);
    unsigned char major = 0, minor = 0;
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
}

TEST_F(Mainline, AFailingSendReachesNothing) {
    Sensor reader;
    bmc->fail_ioctl = true;
    unsigned char major = 0, minor = 0;
    EXPECT_EQ(reader.GetDeviceID(&major, &minor), -1);
    EXPECT_TRUE(bmc->log().empty());
    EXPECT_EQ(machine->count(Access::Poll, "/dev/ipmi0"), 0u);
}

TEST_F(Mainline, NoNodeAndNoInterfaceIsNotReady) {
    machine->remove_device("/dev/ipmi0");
    Sensor reader;
    EXPECT_EQ(reader.IsInitOK(), 0);
    EXPECT_EQ(reader.InitIpmiBase(), -1);
    EXPECT_EQ(IpmiSourceName(), nullptr);
}

TEST_F(BmcTest, ClassicDriverNamesItself) {
    Sensor reader;
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(reader.GetDeviceID(&major, &minor), 0);
    EXPECT_STREQ(IpmiSourceName(), "/dev/ipmi");
    // Classic machines never look for the mainline nodes.
    EXPECT_EQ(machine->count(Access::Open, "/dev/ipmi0"), 0u);
    EXPECT_EQ(machine->count(Access::Poll, "/dev/ipmi"), 0u);
}

}  // namespace
