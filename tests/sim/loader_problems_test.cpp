// A capture directory with bad files: each is reported with its place and reason, and the
// rest of the machine is still loaded.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/Sdr.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

// The one message that mentions `what`, or "" when none or several do.
std::string Only(const std::vector<std::string>& messages, const std::string& what) {
    std::string found;
    int count = 0;
    for (const std::string& m : messages)
        if (m.find(what) != std::string::npos) found = m, ++count;
    return count == 1 ? found : "";
}

std::string All(const sim::LoadProblems& p) {
    std::string all;
    for (const auto& m : p.errors) all += "error: " + m + "\n";
    for (const auto& m : p.warnings) all += "warning: " + m + "\n";
    return all;
}

class LoaderProblems : public ::testing::Test {
protected:
    void SetUp() override {
        dir = qtest::TempDir("loader-problems");
        // A good machine: SMBIOS, one PCI function, a BMC with one sensor, processor times.
        ASSERT_TRUE(sim::write_file(dir + "/smbios.bin", sim::dump_bin(qtest::IdentityTable())));
        ASSERT_TRUE(sim::write_file(dir + "/pci/00:00.0", std::string(256, '\x11')));
        ASSERT_TRUE(sim::write_file(dir + "/ipmi/sdr.bin", sim::mc_locator(0x20, 6, 1, "BMC").bytes(1)));
        ASSERT_TRUE(sim::write_file(dir + "/proc/stat", std::string("cpu0 1 2 3 4\n")));
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<sim::Machine> Load() {
        problems = {};
        return sim::load_machine(dir, problems);
    }
    // The rest of the machine is there whatever was wrong elsewhere.
    void ExpectTheGoodParts(const sim::Machine& m) {
        std::uint8_t entry[4] = {};
        m.memory.read(sim::EntryPoint().address, entry, 4);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(entry), 4), "_SM_");
        EXPECT_EQ(m.pci.size(), 1u);  // 00:00.0 alone
        EXPECT_NE(m.bmc, nullptr);
    }

    std::string dir;
    sim::LoadProblems problems;
};

TEST_F(LoaderProblems, EachBadBmcConfLineIsNamedAndTheOthersApply) {
    ASSERT_TRUE(sim::write_file(dir + "/ipmi/bmc.conf",
                                "sensor 0x10 reading 0x20 state 0x0001\n"
                                "sensor 0x11 reading 0x21 state 0x8080\n"  // 2: bit 15 set
                                "device-id 0x100\n"                        // 3: out of range
                                "colour blue\n"                            // 4: unknown
                                "firmware 1.5\n"                           // 5: malformed value
                                "thresholds 0x10 readable 0x3F values 1 2 3 4 5\n"  // 6: one short
                                "thresholds 0x10 readable 0x40 values 1 2 3 4 5 6\n"  // 7: mask out of range
                                "thresholds 0x10 readable 0x09 values 1 2 3 4 5 6\n"
                                "product 0xBEEF\n"));
    auto m = Load();
    ASSERT_NE(m, nullptr);
    ExpectTheGoodParts(*m);
    EXPECT_EQ(problems.errors.size(), 6u) << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/bmc.conf:2: state 0x8080 is out of range (0 to 0x7FFF)"), "")
        << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/bmc.conf:3: 0x100 is out of range (0 to 0xFF)"), "") << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/bmc.conf:4: unknown setting \"colour\""), "") << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/bmc.conf:5: bad value \"1.5\" for firmware"), "") << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/bmc.conf:6: expected: thresholds NUMBER"), "") << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/bmc.conf:7: 0x40 is out of range (0 to 0x3F)"), "") << All(problems);

    const sim::Bmc& bmc = *m->bmc;
    EXPECT_EQ(bmc.sensors.at(0x10).reading, 0x20);
    EXPECT_EQ(bmc.sensors.count(0x11), 0u);  // its line was refused whole
    EXPECT_TRUE(bmc.sensors.at(0x10).threshold_based);
    EXPECT_EQ(bmc.sensors.at(0x10).readable, 0x09);
    EXPECT_EQ(bmc.sensors.at(0x10).thresholds, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(bmc.device.product, 0xBEEF);
    EXPECT_EQ(bmc.device.device_id, 0x20);  // the default, not a wrapped 0x100
}

TEST_F(LoaderProblems, GarbageAndHugeLinesAreEscapedAndCutShort) {
    std::string garbage = "\x01\xFF\x1B[2J\\";
    std::string huge(1 << 20, 'A');
    ASSERT_TRUE(sim::write_file(dir + "/ipmi/bmc.conf", garbage + " 1\n" + huge + " 1\nsensor 1 reading " + huge +
                                                            " state 0\n"));
    auto m = Load();
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(problems.errors.size(), 3u) << All(problems);
    EXPECT_EQ(problems.errors[0], "ipmi/bmc.conf:1: unknown setting \"\\x01\\xFF\\x1B[2J\\x5C\"");
    for (const std::string& e : problems.errors) {
        EXPECT_LT(e.size(), 200u) << e.substr(0, 200);
        for (char c : e) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << e.substr(0, 200);
    }
    EXPECT_NE(problems.errors[1].find("AAAA..."), std::string::npos) << problems.errors[1].substr(0, 200);
}

TEST_F(LoaderProblems, EmptyProcDirectoriesAreServedWhereTheyLie) {
    std::filesystem::create_directories(dir + "/proc/ide@1/ide0");
    auto m = Load();
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->files.is_directory("/proc/ide@1/ide0")) << All(problems);
}

TEST_F(LoaderProblems, SnapshotTimesArePlainDecimals) {
    for (const char* bad : {"inf", "nan", "1e308", "-1", "+1", "0x10", "1.", ".5", "", "1e3", "9999999999"})
        ASSERT_TRUE(sim::write_file(dir + "/proc/stat@" + bad, std::string("cpu0 9 9 9 9\n")));
    ASSERT_TRUE(sim::write_file(dir + "/proc/stat@0.5", std::string("cpu0 5 2 3 4\n")));
    ASSERT_TRUE(sim::write_file(dir + "/proc/stat@000002", std::string("cpu0 7 2 3 4\n")));
    auto m = Load();
    ASSERT_NE(m, nullptr);
    ExpectTheGoodParts(*m);
    EXPECT_EQ(problems.errors.size(), 11u) << All(problems);
    EXPECT_NE(Only(problems.errors, "proc/stat@inf: the time after @ is not a number of seconds"), "")
        << All(problems);
    EXPECT_NE(Only(problems.errors, "proc/stat@1e308:"), "") << All(problems);

    std::shared_ptr<sim::Machine> shared = std::move(m);
    sim::use(shared);
    auto stat_now = [&] {
        int code = 0;
        auto node = shared->open("/proc/stat", code);
        char text[32] = {};
        if (node) node->read(0, text, sizeof text - 1);
        return std::string(text);
    };
    EXPECT_EQ(stat_now(), "cpu0 1 2 3 4\n");
    shared->clock.sleep_us(499999);
    EXPECT_EQ(stat_now(), "cpu0 1 2 3 4\n");
    shared->clock.sleep_us(1);
    EXPECT_EQ(stat_now(), "cpu0 5 2 3 4\n");
    shared->clock.sleep_us(1500000);
    EXPECT_EQ(stat_now(), "cpu0 7 2 3 4\n");
}

TEST_F(LoaderProblems, StrayPciFilesAreSkippedWithAWarningAndBadOnesRefused) {
    ASSERT_TRUE(sim::write_file(dir + "/pci/.hidden", std::string(256, '\0')));
    ASSERT_TRUE(sim::write_file(dir + "/pci/00:1f.2.bak", std::string(256, '\0')));
    ASSERT_TRUE(sim::write_file(dir + "/pci/0000:00:1f.3", std::string(256, '\0')));
    ASSERT_TRUE(sim::write_file(dir + "/pci/00:02.0", std::string(63, '\0')));
    ASSERT_TRUE(sim::write_file(dir + "/pci/00:03.0", std::string(4097, '\0')));
    auto m = Load();
    ASSERT_NE(m, nullptr);
    ExpectTheGoodParts(*m);
    EXPECT_EQ(problems.warnings.size(), 3u) << All(problems);
    EXPECT_NE(Only(problems.warnings, "pci/.hidden: skipped"), "") << All(problems);
    EXPECT_NE(Only(problems.warnings, "pci/00:1f.2.bak: skipped"), "") << All(problems);
    ASSERT_EQ(problems.errors.size(), 2u) << All(problems);
    EXPECT_NE(Only(problems.errors, "pci/00:02.0: 63 bytes; a configuration space is 64 to 4096 bytes"), "");
    EXPECT_NE(Only(problems.errors, "pci/00:03.0: 4097 bytes"), "");
}

TEST_F(LoaderProblems, FilesThatCannotBeReadAreNotTakenForAbsent) {
    // A directory where a file belongs cannot be read, whoever runs the test.
    fs::create_directories(dir + "/free.txt");
    fs::create_directories(dir + "/kernel");
    fs::remove_all(dir + "/ipmi");
    ASSERT_TRUE(sim::write_file(dir + "/ipmi", std::string("a file where a directory belongs")));
    auto m = Load();
    ASSERT_NE(m, nullptr);
    EXPECT_NE(Only(problems.errors, "free.txt: a directory where a file belongs"), "") << All(problems);
    EXPECT_NE(Only(problems.errors, "kernel: a directory where a file belongs"), "") << All(problems);
    EXPECT_NE(Only(problems.errors, "ipmi/sdr.bin: Not a directory"), "") << All(problems);
    EXPECT_EQ(m->pci.size(), 1u);

    fs::remove_all(dir + "/pci");
    ASSERT_TRUE(sim::write_file(dir + "/pci", std::string("00:00.0")));
    m = Load();
    EXPECT_NE(Only(problems.errors, "pci: a file where a directory belongs"), "") << All(problems);

    // The old interface still refuses the whole directory, naming the first problem.
    std::string error;
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(LoaderProblems, AMachineDirectoryThatIsNoneIsRefused) {
    for (const std::string& bad : {dir + "/absent", dir + "/smbios.bin", std::string()}) {
        problems = {};
        EXPECT_EQ(sim::load_machine(bad, problems), nullptr) << bad;
        EXPECT_EQ(problems.errors.size(), 1u) << bad;
    }
}

TEST(LoaderMessages, EscapedKeepsPrintableTextAndCutsTheRest) {
    EXPECT_EQ(sim::escaped("plain text"), "plain text");
    EXPECT_EQ(sim::escaped(std::string("a\0b\\\n", 5)), "a\\x00b\\x5C\\x0A");
    EXPECT_EQ(sim::escaped("abcdef", 3), "abc...");
    EXPECT_EQ(sim::escaped("abc", 3), "abc");
}

}  // namespace
