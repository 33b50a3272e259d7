// Channels, users and the LAN configuration, as the BMC receives them.
#include <string>
#include <vector>

#include "IPMI/IPMIsupport.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Lan = BmcTest;

constexpr std::uint8_t kTransportNetFn = 0x0C;
constexpr std::uint8_t kGetChannelInfo = 0x42, kSetUserName = 0x45, kSetUserPassword = 0x47, kSetLanParameter = 0x01;

std::vector<std::uint8_t> Bytes(const std::string& text, std::size_t size) {
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.resize(size, 0);
    return out;
}

TEST_F(Lan, TheFirstLanChannelIsFound) {
    bmc->channels[1] = {0x05, 0x01};  // asynch serial
    bmc->channels[2] = {0x04, 0x01};  // 802.3 LAN
    bmc->channels[3] = {0x04, 0x01};
    IPMIsupport facade;
    ChannelInfo info = {};
    ASSERT_EQ(facade.GetLANChannelInfo(&info), 0);
    EXPECT_EQ(info.channelNumber, 2);
    EXPECT_EQ(info.channelMediatype, IPMIsupport::LAN_802_3);
    EXPECT_EQ(info.channelProtocoltype, IPMIsupport::IPMB_10);
    const auto asked = Requests(kAppNetFn, kGetChannelInfo);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].data, std::vector<std::uint8_t>{1});
    EXPECT_EQ(asked[1].data, std::vector<std::uint8_t>{2});
    EXPECT_EQ(asked[1].responder, 0xFF);  // the driver's address, whatever the record says
}

TEST_F(Lan, WithoutALanChannelSevenAreAskedAndTheLastIsReported) {
    for (std::uint8_t c = 1; c <= 7; ++c) bmc->channels[c] = {static_cast<std::uint8_t>(c == 7 ? 0x0C : 0x01), 0x01};
    IPMIsupport facade;
    ChannelInfo info = {};
    ASSERT_EQ(facade.GetLANChannelInfo(&info), 0);
    EXPECT_EQ(bmc->count(kAppNetFn, kGetChannelInfo), 7u);
    EXPECT_EQ(info.channelNumber, 7);
    EXPECT_EQ(info.channelMediatype, 0x0C);

    // A channel that cannot be asked about ends the search.
    bmc->channels.erase(3);
    bmc->clear_log();
    EXPECT_EQ(facade.GetLANChannelInfo(&info), -1);
    EXPECT_EQ(bmc->count(kAppNetFn, kGetChannelInfo), 3u);
    EXPECT_EQ(facade.GetLANChannelInfo(nullptr), -1);
}

TEST_F(Lan, ChannelInfoKeepsTheBytesWhole) {
    IPMIsupport facade;
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetChannelInfo) return false;
        r.data = {q.data[0], 0x84, 0xE1, 0x80, 0xF2, 0x1B, 0x00, 0x00, 0x00};  // reserved bits set
        return true;
    };
    ChannelInfo info = {};
    ASSERT_EQ(facade.GetChannelInfo(5, &info), 0);
    EXPECT_EQ(info.channelNumber, 5);
    EXPECT_EQ(info.channelMediatype, 0x84);
    EXPECT_EQ(info.channelProtocoltype, 0xE1);
    // Too short an answer, or none at all, or no record to fill: -1.
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) { return r.data = {1, 4}, true; };
    EXPECT_EQ(facade.GetChannelInfo(1, &info), -1);
    bmc->intercept = nullptr;
    EXPECT_EQ(facade.GetChannelInfo(1, &info), -1);  // no channel 1 on this BMC
    bmc->clear_log();
    EXPECT_EQ(facade.GetChannelInfo(1, nullptr), -1);
    EXPECT_TRUE(bmc->log().empty());
}

TEST_F(Lan, UserNameAndPassword) {
    IPMIsupport facade;
    ASSERT_EQ(facade.SetUserInfo(3, "administrator-20char", ""), 0);
    const auto names = Requests(kAppNetFn, kSetUserName);
    ASSERT_EQ(names.size(), 1u);
    std::vector<std::uint8_t> name = {3};
    const auto first16 = Bytes("administrator-20", 16);
    name.insert(name.end(), first16.begin(), first16.end());
    EXPECT_EQ(names[0].data, name);
    const auto passwords = Requests(kAppNetFn, kSetUserPassword);
    ASSERT_EQ(passwords.size(), 1u);
    std::vector<std::uint8_t> empty = {3, 0x02};
    empty.resize(18, 0);
    EXPECT_EQ(passwords[0].data, empty);
    EXPECT_EQ(bmc->users[3].name, "administrator-20");
    EXPECT_EQ(bmc->users[3].password, std::vector<std::uint8_t>(16, 0));

    ASSERT_EQ(facade.SetUserInfo(4, "ops", "secret"), 0);
    EXPECT_EQ(bmc->users[4].name, "ops");
    EXPECT_EQ(bmc->users[4].password, Bytes("secret", 16));

    // A refused name sends no password; a refused password keeps the new name.
    bmc->clear_log();
    EXPECT_EQ(facade.SetUserInfo(0, "nobody", "x"), -1);  // user 0 is reserved
    EXPECT_EQ(bmc->count(kAppNetFn, kSetUserPassword), 0u);
    bmc->fail_command(kAppNetFn, kSetUserPassword, sim::completion::kUnspecified);
    EXPECT_EQ(facade.SetUserInfo(5, "kept", "lost"), -1);
    EXPECT_EQ(bmc->users[5].name, "kept");
    bmc->clear_log();
    EXPECT_EQ(facade.SetUserInfo(6, nullptr, "x"), -1);
    EXPECT_EQ(facade.SetUserInfo(6, "x", nullptr), -1);
    EXPECT_TRUE(bmc->log().empty());
}

TEST_F(Lan, ParametersAreWrittenUnderTheLock) {
    bmc->channels[1] = {0x04, 0x01};
    IPMIsupport facade;
    LANParameter lp = {1, {192, 168, 0, 10}, {0x00, 0x25, 0x90, 0xAB, 0xCD, 0xEF}, {255, 255, 255, 0}};
    ASSERT_EQ(facade.SetLANParameter(lp), 0);
    const std::vector<std::vector<std::uint8_t>> expected = {
        {0x01, 0x00, 0x01},
        {0x01, 0x03, 0xC0, 0xA8, 0x00, 0x0A},
        {0x01, 0x04, 0x03},
        {0x01, 0x05, 0x00, 0x25, 0x90, 0xAB, 0xCD, 0xEF},
        {0x01, 0x06, 0xFF, 0xFF, 0xFF, 0x00},
        {0x01, 0x07, 0x40, 0x40, 0x10},
        {0x01, 0x08, 0x6F, 0x02},
        {0x01, 0x09, 0x98, 0x02},
        {0x01, 0x0A, 0x01},
        {0x01, 0x0B, 0x04},
        {0x01, 0x00, 0x02},
        {0x01, 0x00, 0x00},
    };
    const auto sent = Requests(kTransportNetFn, kSetLanParameter);
    ASSERT_EQ(sent.size(), expected.size());
    for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].data, expected[i]) << "step " << i + 1;
    EXPECT_EQ(bmc->log().size(), expected.size());
    // The BMC took, committed and released the lock.
    EXPECT_EQ(bmc->lan[1].set_in_progress, 0);
    EXPECT_EQ(bmc->lan[1].commits, 1u);
    EXPECT_EQ(bmc->lan[1].parameters[0x03], (std::vector<std::uint8_t>{192, 168, 0, 10}));
    EXPECT_EQ(bmc->lan[1].parameters[0x06], (std::vector<std::uint8_t>{255, 255, 255, 0}));
}

TEST_F(Lan, AFailedStepEndsTheSequenceAndGivesTheLockBack) {
    bmc->channels[1] = {0x04, 0x01};
    IPMIsupport facade;
    LANParameter lp = {1, {10, 0, 0, 2}, {2, 0, 0, 0, 0, 1}, {255, 0, 0, 0}};
    bmc->fail_request(5, sim::completion::kUnspecified);  // step 5, the subnet mask
    EXPECT_EQ(facade.SetLANParameter(lp), -1);
    const auto sent = Requests(kTransportNetFn, kSetLanParameter);
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[4].data[1], 0x06);
    // Steps 6 to 11 are not sent; the lock that step 1 took is released.
    EXPECT_EQ(sent[5].data, (std::vector<std::uint8_t>{1, 0x00, 0x00}));
    EXPECT_EQ(bmc->lan[1].set_in_progress, 0);
    EXPECT_EQ(bmc->lan[1].commits, 0u);
    // So the next attempt runs whole.
    bmc->clear_log();
    EXPECT_EQ(facade.SetLANParameter(lp), 0);
    EXPECT_EQ(bmc->log().size(), 12u);
    // A refused first step took no lock, and none is released.
    bmc->lan[1].set_in_progress = 1;
    bmc->clear_log();
    EXPECT_EQ(facade.SetLANParameter(lp), -1);
    EXPECT_EQ(bmc->log().size(), 1u);
    EXPECT_EQ(bmc->lan[1].set_in_progress, 1);
}

}  // namespace
