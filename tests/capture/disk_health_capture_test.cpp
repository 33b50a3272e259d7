// The capture of the disks' health answers: what one poll got from each disk of the current
// server is written as files that the replay serves, so that it reports the same health; the
// disk in standby is asked its power mode and nothing else, so its pages are not captured.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "capture/capture.h"
#include "sim/loader.h"
#include "storage/disk_health.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<DiskHealthInformation> Poll(const std::shared_ptr<sim::Machine>& on) {
    qtest::ResetLibrary();
    sim::use(on);
    auto record = std::make_unique<DiskHealthInformation>();
    std::memset(record.get(), 0, sizeof *record);
    EXPECT_EQ(ReadDiskHealth(*record), 0);
    return record;
}

TEST(DiskHealthCapture, TheReplayReportsTheSameHealthAndTheStandbyDiskStaysUnread) {
    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine(QARVEL_CURRENT_MACHINE, error);
    ASSERT_NE(machine, nullptr) << error;
    const std::string dir = qtest::TempDir("health-capture");
    fs::remove(dir);
    {
        qtest::ResetLibrary();
        sim::use(machine);
        capture::Output out(dir);
        capture::Manifest manifest;
        capture::Capture c{out, manifest};
        capture::capture_kernel(c);
        capture::capture_disks(c);
        const std::string text = manifest.text("test", "now");
        EXPECT_NE(text.find("source disk health /sys/block\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("missing"), std::string::npos) << text;
    }
    auto file = [](const std::string& path) { return sim::read_file(path).value_or("<absent>"); };
    const std::string original = QARVEL_CURRENT_MACHINE "/dev/";
    for (const char* name : {"sda.smart-data", "sda.smart-thresholds", "sda.ata-identify", "sdc.smart-data",
                             "nvme0.nvme-health", "sda.power-mode", "sdb.power-mode", "sda.smart-status"})
        EXPECT_EQ(file(dir + "/dev/" + name), file(original + name)) << name;
    EXPECT_EQ(file(dir + "/dev/sdb.power-mode"), "00\n");
    EXPECT_EQ(file(dir + "/dev/sdb.smart-data"), "<absent>");
    EXPECT_EQ(file(dir + "/dev/sdd.power-mode"), "<absent>");  // SAS: nothing asked

    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_NE(replay, nullptr) << error;
    auto before = Poll(machine), after = Poll(replay);
    const auto* a = reinterpret_cast<const unsigned char*>(before.get());
    const auto* b = reinterpret_cast<const unsigned char*>(after.get());
    std::size_t differ = 0;
    while (differ < sizeof *before && a[differ] == b[differ]) ++differ;
    EXPECT_EQ(differ, sizeof *before) << "the records differ from byte " << differ;
    qtest::ResetLibrary();
    sim::use(nullptr);
    fs::remove_all(dir);
}

}  // namespace
