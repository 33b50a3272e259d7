// The simulated BMC's watchdog timer, FRU device, channels, users and LAN parameters, their
// capture files, and the request transcript.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/Bmc.h"
#include "sim/Fru.h"
#include "sim/Machine.h"
#include "sim/loader.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

sim::BmcRequest Request(std::uint8_t netfn, std::uint8_t cmd, Bytes data = {}) {
    sim::BmcRequest r;
    r.netfn = netfn;
    r.cmd = cmd;
    r.data = std::move(data);
    return r;
}

constexpr std::uint8_t kApp = 0x06, kStorage = 0x0A, kTransport = 0x0C;

// A BMC counting down on a clock of its own.
struct TimedBmc {
    sim::Clock clock;
    sim::Bmc bmc;
    TimedBmc() { bmc.clock = &clock; }
    sim::BmcResponse get() { return bmc.handle(Request(kApp, 0x25)); }
};

TEST(BmcWatchdog, CountsDownOnTheClockAndRecordsItsExpiry) {
    TimedBmc t;
    // Nothing loaded: nothing to start; Get reports zeros.
    EXPECT_EQ(t.bmc.handle(Request(kApp, 0x22)).completion, 0x80);
    EXPECT_EQ(t.get().data, Bytes(8, 0));
    EXPECT_EQ(t.bmc.handle(Request(kApp, 0x24, {0x00, 1, 0, 0, 100, 0})).completion, 0xCC);  // no timer use
    EXPECT_EQ(t.bmc.handle(Request(kApp, 0x24, {0x04, 1, 0, 0, 100})).completion, 0xC7);

    // SMS/OS, hard reset, 10 s; loaded but stopped until reset.
    ASSERT_EQ(t.bmc.handle(Request(kApp, 0x24, {0x04, 0x01, 0x00, 0x00, 100, 0})).completion, 0);
    t.clock.sleep_us(60000000);
    EXPECT_EQ(t.get().data, (Bytes{0x04, 0x01, 0x00, 0x00, 100, 0, 100, 0}));
    EXPECT_TRUE(t.bmc.watchdog.expiries.empty());

    ASSERT_EQ(t.bmc.handle(Request(kApp, 0x22)).completion, 0);
    t.clock.sleep_us(2550000);  // 2.55 s gone: 7.45 s left, shown as 75 units
    EXPECT_EQ(t.get().data, (Bytes{0x44, 0x01, 0x00, 0x00, 100, 0, 75, 0}));
    t.clock.sleep_us(7450000);  // exactly at the end
    EXPECT_EQ(t.get().data, (Bytes{0x04, 0x01, 0x00, 0x10, 100, 0, 0, 0}));  // expired flag of use 4
    ASSERT_EQ(t.bmc.watchdog.expiries.size(), 1u);
    EXPECT_EQ(t.bmc.watchdog.expiries[0].at_us, 70000000u);
    EXPECT_EQ(t.bmc.watchdog.expiries[0].action, 1);
    EXPECT_EQ(t.bmc.watchdog.expiries[0].timer_use, 4);
    t.clock.sleep_us(60000000);
    t.get();
    EXPECT_EQ(t.bmc.watchdog.expiries.size(), 1u);  // it expired once

    // A new load clears the flags it names; "don't stop" keeps a running timer going from the
    // new countdown, while a plain load stops it.
    ASSERT_EQ(t.bmc.handle(Request(kApp, 0x24, {0x04, 0x02, 0x00, 0x10, 50, 0})).completion, 0);
    ASSERT_EQ(t.bmc.handle(Request(kApp, 0x22)).completion, 0);
    t.clock.sleep_us(1000000);
    ASSERT_EQ(t.bmc.handle(Request(kApp, 0x24, {0x44, 0x03, 0x00, 0x00, 200, 0})).completion, 0);
    t.clock.sleep_us(500000);
    EXPECT_EQ(t.get().data, (Bytes{0x44, 0x03, 0x00, 0x00, 200, 0, 195, 0}));
    ASSERT_EQ(t.bmc.handle(Request(kApp, 0x24, {0x04, 0x00, 0x00, 0x00, 200, 0})).completion, 0);
    t.clock.sleep_us(100000000);
    EXPECT_EQ(t.get().data, (Bytes{0x04, 0x00, 0x00, 0x00, 200, 0, 200, 0}));
    EXPECT_EQ(t.bmc.watchdog.expiries.size(), 1u);
}

TEST(BmcFru, AreaInfoAndReadsWithinTheLimit) {
    sim::Bmc bmc;
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x10, {0})).completion, 0xCB);  // no inventory
    bmc.fru0.resize(300);
    for (std::size_t i = 0; i < bmc.fru0.size(); ++i) bmc.fru0[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x10, {0})).data, (Bytes{0x2C, 0x01, 0x00}));
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x10, {1})).completion, 0xCB);
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x10)).completion, 0xC7);

    EXPECT_EQ(bmc.handle(Request(kStorage, 0x11, {0, 0x04, 0x01, 3})).data, (Bytes{3, 4, 5, 6}));  // offset 260
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x11, {0, 0x2A, 0x01, 10})).data, (Bytes{2, 42, 43}));  // the last two
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x11, {0, 0x2C, 0x01, 1})).completion, 0xC9);           // past the end
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x11, {0, 0, 0, 0})).completion, 0xCC);
    EXPECT_EQ(bmc.handle(Request(kStorage, 0x11, {0, 0, 0})).completion, 0xC7);
    bmc.fru_read_limit = 16;
    const auto limited = bmc.handle(Request(kStorage, 0x11, {0, 0, 0, 255}));
    ASSERT_EQ(limited.data.size(), 17u);
    EXPECT_EQ(limited.data[0], 16);
    EXPECT_EQ(limited.data[16], 15);
}

TEST(BmcChannels, InfoUsersAndPasswords) {
    sim::Bmc bmc;
    bmc.channels[2] = {0x04, 0x01};
    bmc.channels[5] = {0x85, 0x25};  // reserved bits are not reported
    EXPECT_EQ(bmc.handle(Request(kApp, 0x42, {2})).data, (Bytes{2, 0x04, 0x01, 0x80, 0xF2, 0x1B, 0x00, 0, 0}));
    EXPECT_EQ(bmc.handle(Request(kApp, 0x42, {5})).data, (Bytes{5, 0x05, 0x05, 0x00, 0xF2, 0x1B, 0x00, 0, 0}));
    EXPECT_EQ(bmc.handle(Request(kApp, 0x42, {3})).completion, 0xCC);

    Bytes name = {4, 'o', 'p', 's'};
    name.resize(17, 0);
    ASSERT_EQ(bmc.handle(Request(kApp, 0x45, name)).completion, 0);
    EXPECT_EQ(bmc.users[4].name, "ops");
    EXPECT_EQ(bmc.handle(Request(kApp, 0x46, {4})).data, Bytes(name.begin() + 1, name.end()));
    name[0] = 11;  // past the ten user slots
    EXPECT_EQ(bmc.handle(Request(kApp, 0x45, name)).completion, 0xCC);

    Bytes password = {4, 0x02, 's', 'e', 'c'};
    password.resize(18, 0);
    ASSERT_EQ(bmc.handle(Request(kApp, 0x47, password)).completion, 0);
    Bytes test = password;
    test[1] = 0x03;
    EXPECT_EQ(bmc.handle(Request(kApp, 0x47, test)).completion, 0);
    test[2] = 'S';
    EXPECT_EQ(bmc.handle(Request(kApp, 0x47, test)).completion, 0x80);
    test.resize(22, 0);
    EXPECT_EQ(bmc.handle(Request(kApp, 0x47, test)).completion, 0x81);  // 20 bytes without the flag
    Bytes twenty = {0x84, 0x02};
    twenty.resize(22, 'x');
    ASSERT_EQ(bmc.handle(Request(kApp, 0x47, twenty)).completion, 0);
    EXPECT_EQ(bmc.users[4].password, Bytes(20, 'x'));
    ASSERT_EQ(bmc.handle(Request(kApp, 0x47, {4, 0x01})).completion, 0);
    EXPECT_TRUE(bmc.users[4].enabled);
}

TEST(BmcLan, ParametersAndTheSetInProgressLock) {
    sim::Bmc bmc;
    bmc.channels[1] = {0x01, 0x01};  // IPMB
    bmc.channels[2] = {0x04, 0x01};  // LAN
    auto set = [&](Bytes data) { return bmc.handle(Request(kTransport, 0x01, std::move(data))).completion; };
    EXPECT_EQ(set({1, 0x03, 10, 0, 0, 1}), 0xCC);  // not a LAN channel
    EXPECT_EQ(set({3, 0x03, 10, 0, 0, 1}), 0xCC);  // no such channel
    EXPECT_EQ(set({2, 0x00, 0x01}), 0);
    EXPECT_EQ(set({2, 0x00, 0x01}), 0x81);  // held already
    EXPECT_EQ(set({2, 0x03, 10, 0, 0, 1}), 0);
    EXPECT_EQ(set({2, 0x03, 10, 0, 0}), 0xC7);
    EXPECT_EQ(set({2, 0x01, 0x15}), 0x82);  // authentication type support is read only
    EXPECT_EQ(set({2, 0x60, 0x00}), 0x80);
    EXPECT_EQ(set({2, 0x00, 0x02}), 0);     // commit
    EXPECT_EQ(set({2, 0x00, 0x01}), 0x81);  // not "set complete" yet
    EXPECT_EQ(set({2, 0x00, 0x03}), 0xCC);
    EXPECT_EQ(set({2, 0x00, 0x00}), 0);
    EXPECT_EQ(set({2, 0x00, 0x01}), 0);
    EXPECT_EQ(bmc.lan[2].commits, 1u);
    EXPECT_EQ(bmc.lan[2].set_in_progress, 1);
    EXPECT_EQ(bmc.lan[2].parameters.at(0x03), (Bytes{10, 0, 0, 1}));
    EXPECT_EQ(bmc.lan.count(1), 0u);
}

std::string TempDir(const std::string& name) {
    std::string dir = fs::temp_directory_path() / ("qarvel-bmc-management-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(BmcManagementCapture, InventoryChannelsAndUsersAreWrittenAndLoadedBack) {
    sim::Bmc bmc;
    bmc.fru0 = sim::FruImage().product(0, {sim::fru_text("Maker")}).bytes();
    bmc.fru_read_limit = 24;
    bmc.channels[1] = {0x01, 0x01};
    bmc.channels[7] = {0x04, 0x01};
    bmc.users[2].name = "ADMIN";
    std::string dir = TempDir("capture");
    ASSERT_TRUE(sim::write_ipmi(dir, bmc));
    std::string error;
    auto loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    ASSERT_NE(loaded->bmc, nullptr);
    EXPECT_EQ(loaded->bmc->fru0, bmc.fru0);
    EXPECT_EQ(loaded->bmc->fru_read_limit, 24u);
    ASSERT_EQ(loaded->bmc->channels.size(), 2u);
    EXPECT_EQ(loaded->bmc->channels.at(7).medium, 0x04);
    EXPECT_EQ(loaded->bmc->users.at(2).name, "ADMIN");
    EXPECT_EQ(loaded->bmc->clock, &loaded->clock);
    fs::remove_all(dir);

    // An inventory alone makes a BMC.
    dir = TempDir("fru-only");
    sim::write_file(dir + "/ipmi/fru0.bin", bmc.fru0);
    loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    ASSERT_NE(loaded->bmc, nullptr);
    EXPECT_TRUE(loaded->bmc->records().empty());
    EXPECT_EQ(loaded->bmc->fru0, bmc.fru0);
    sim::write_file(dir + "/ipmi/fru0.bin", Bytes(70000, 0));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("fru0.bin"), std::string::npos) << error;
    fs::remove_all(dir);

    for (const char* bad : {"channel 0 medium 4 protocol 1", "channel 8 medium 4 protocol 1", "channel 2 medium 4",
                            "channel 2 medium 0x80 protocol 1", "channel 2 protocol 1 medium 4", "user 0 name root",
                            "user 11 name root", "user 2 name seventeen-letters", "user 2 called root",
                            "fru-read-limit 0", "fru-read-limit 256", "answer-limit 0", "answer-limit 257",
                            "whole-records maybe", "reservation-lifetime -1"})
        EXPECT_FALSE(sim::read_bmc_conf(bad, bmc, error)) << bad;
}

TEST(BmcLimits, WrittenOnlyWhenSetAndReadBack) {
    sim::Bmc roomy;
    const std::string plain = sim::bmc_conf(roomy);
    EXPECT_EQ(plain.find("answer-limit"), std::string::npos);
    EXPECT_EQ(plain.find("whole-records"), std::string::npos);
    sim::Bmc small;
    small.answer_limit = 35;
    small.refuse_whole_records = true;
    small.reservation_lifetime = 7;
    sim::Bmc back;
    std::string error;
    ASSERT_TRUE(sim::read_bmc_conf(sim::bmc_conf(small), back, error)) << error;
    EXPECT_EQ(back.answer_limit, 35u);
    EXPECT_TRUE(back.refuse_whole_records);
    EXPECT_EQ(back.reservation_lifetime, 7u);
}

TEST(BmcTranscript, EveryRequestAndItsAnswerAsALine) {
    sim::Bmc bmc;
    const std::string path = fs::temp_directory_path() / ("qarvel-transcript-" + std::to_string(::getpid()));
    fs::remove(path);
    bmc.transcript = path;
    bmc.handle(Request(kApp, 0x24, {0x04, 0x00, 0x00, 0x00, 0x08, 0x07}));
    bmc.handle(Request(kApp, 0x7E));
    bmc.fail_command(kApp, 0x01, 0xC3);
    bmc.handle(Request(kApp, 0x01));
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"06 24 04 00 00 00 08 07 -> 00", "06 7E -> C1", "06 01 -> C3"}));
    fs::remove(path);
}

}  // namespace
