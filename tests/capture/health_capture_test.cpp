// Capturing the hwmon and EDAC files: the replay reads the same records as the machine, and
// only the files the library reads are taken.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "api/health_types.h"
#include "capture/capture.h"
#include "health/hwmon.h"
#include "sim/Machine.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

struct Records {
    std::unique_ptr<HWMON_INFO> hwmon = std::make_unique<HWMON_INFO>();
    std::unique_ptr<EDAC_INFO> edac = std::make_unique<EDAC_INFO>();
    int hwmonRc = 0, edacRc = 0;
};

Records Read(const std::shared_ptr<sim::Machine>& machine) {
    qtest::ResetLibrary();
    sim::use(machine);
    Records r;
    r.hwmonRc = qarvel::FillHwmon(r.hwmon.get());
    r.edacRc = qarvel::FillEdac(r.edac.get());
    return r;
}

TEST(HealthCapture, TheCurrentServersChipsAndControllersComeBackIdentical) {
    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine(QARVEL_CURRENT_MACHINE, error);
    ASSERT_TRUE(machine) << error;
    const Records original = Read(machine);
    ASSERT_EQ(original.hwmonRc, 0);
    ASSERT_EQ(original.edacRc, 0);

    const std::string dir = qtest::TempDir("health-capture");
    fs::remove(dir);
    std::string manifest;
    {
        qtest::ResetLibrary();
        capture::Output out(dir);
        capture::Manifest m;
        capture::Capture c{out, m};
        for (auto part : {capture::capture_kernel, capture::capture_smbios, capture::capture_health}) part(c);
        manifest = m.text("test", "now");
    }
    EXPECT_NE(manifest.find("source hwmon /sys/class/hwmon\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source edac /sys/devices/system/edac/mc\n"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("missing"), std::string::npos) << manifest;
    // The links as the kernel has them: hwmonN into the device tree, the chip back to its device.
    EXPECT_EQ(fs::read_symlink(dir + "/sys/class/hwmon/hwmon2"),
              fs::read_symlink(QARVEL_CURRENT_MACHINE "/sys/class/hwmon/hwmon2"));
    const std::string chip = dir + "/sys/devices/platform/nct6775.656/hwmon/hwmon2";
    EXPECT_TRUE(fs::is_symlink(chip + "/device"));
    EXPECT_TRUE(fs::exists(chip + "/temp1_label"));
    EXPECT_TRUE(fs::exists(chip + "/temp1_max_hyst"));
    // What the library does not read is not taken: fan controls, beeps, sensor types.
    for (const char* other : {"pwm1", "pwm1_enable", "in0_beep", "fan1_pulses", "temp1_type"})
        EXPECT_FALSE(fs::exists(chip + "/" + other)) << other;
    EXPECT_EQ(sim::read_file(dir + "/sys/devices/system/edac/mc/mc0/dimm3/dimm_ce_count").value_or(""), "17\n");

    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_TRUE(replay) << error;
    const Records again = Read(replay);
    EXPECT_EQ(again.hwmonRc, 0);
    EXPECT_EQ(again.edacRc, 0);
    EXPECT_EQ(std::memcmp(original.hwmon.get(), again.hwmon.get(), sizeof(HWMON_INFO)), 0);
    EXPECT_EQ(std::memcmp(original.edac.get(), again.edac.get(), sizeof(EDAC_INFO)), 0);
    qtest::ResetLibrary();
    fs::remove_all(dir);
}

TEST(HealthCapture, AMachineWithoutThemNamesNoSource) {
    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine(QARVEL_SAMPLE_MACHINE, error);
    ASSERT_TRUE(machine) << error;
    qtest::ResetLibrary();
    sim::use(machine);
    const std::string dir = qtest::TempDir("health-capture-none");
    fs::remove(dir);
    capture::Output out(dir);
    capture::Manifest m;
    capture::Capture c{out, m};
    capture::capture_health(c);
    const std::string manifest = m.text("test", "now");
    EXPECT_EQ(manifest.find("hwmon"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("edac"), std::string::npos) << manifest;
    EXPECT_FALSE(fs::exists(dir + "/sys"));
    qtest::ResetLibrary();
    fs::remove_all(dir);
}

}  // namespace
