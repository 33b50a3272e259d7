// The hwmon source: chips named by their devices, values in base units, one read of each file
// a poll, and failures that stay with the reading they hit.
#include <cerrno>
#include <fstream>
#include <map>
#include <set>

#include "process/state.h"
#include "sim/hwmon.h"
#include "tests/health/health_test.h"
#include "tests/support/fixture.h"

namespace {

using qtest::Find;
using qtest::FailReads;
using qtest::Hwmon;

constexpr const char* kNvme = "/sys/devices/pci0000:00/0000:01:00.0/nvme/nvme0";
constexpr const char* kSuperIo = "/sys/devices/platform/nct6775.656";
constexpr const char* kPackage0 = "/sys/devices/platform/coretemp.0";

struct HwmonTest : qtest::MachineTest {
    // Paths opened since `from` accesses into the log, with their counts.
    std::map<std::string, int> OpenedSince(std::size_t from) const {
        std::map<std::string, int> opened;
        const auto log = machine->accesses();
        for (std::size_t i = from; i < log.size(); ++i)
            if (log[i].kind == sim::Access::Open) ++opened[log[i].path];
        return opened;
    }
    // A chip with two temperatures, as in the tests below.
    void Install(const std::map<std::string, std::string>& extra = {}) {
        sim::SysfsTree tree;
        sim::HwmonChipDesc chip{4, "/sys/devices/platform/it87.2592", "it8728",
                                {{"temp1_input", "41000"}, {"temp1_max", "70000"}, {"temp1_alarm", "0"},
                                 {"temp2_input", "52500"}, {"temp2_max", "70000"}, {"temp2_alarm", "1"},
                                 {"fan1_input", "1500"}, {"fan1_min", "400"}}};
        for (const auto& [name, value] : extra) chip.attributes[name] = value;
        sim::describe_hwmon_chip(tree, chip);
        tree.install(*machine);
    }
};

TEST_F(HwmonTest, TheCurrentServersSensorsByDeviceInBaseUnits) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    auto info = Hwmon();
    // NVMe 1, two coretemp chips of 3, the Super I/O's 4 voltages, 3 fans and 3 temperatures.
    EXPECT_EQ(info->quantity, 17u);
    EXPECT_EQ(info->total, 17u);
    // In device order, whatever the hwmonN numbers: the NVMe drive, package 0, package 1, the board.
    EXPECT_STREQ(info->sensor[0].Device, kNvme);
    EXPECT_STREQ(info->sensor[1].Device, kPackage0);
    EXPECT_STREQ(info->sensor[4].Device, "/sys/devices/platform/coretemp.1");
    EXPECT_STREQ(info->sensor[7].Device, kSuperIo);

    const HWMON_SENSOR* nvme = Find(*info, kNvme, "temp1");
    ASSERT_TRUE(nvme);
    EXPECT_STREQ(nvme->Chip, "nvme");
    EXPECT_STREQ(nvme->Label, "Composite");
    EXPECT_EQ(nvme->Kind, static_cast<unsigned>(HWMON_TEMPERATURE));
    EXPECT_EQ(nvme->Flags, HWMON_HAS_VALUE | HWMON_HAS_MIN | HWMON_HAS_MAX | HWMON_HAS_CRIT | HWMON_ALARM_KNOWN);
    EXPECT_DOUBLE_EQ(nvme->Value, 36.85);
    EXPECT_DOUBLE_EQ(nvme->Min, -273.15);
    EXPECT_DOUBLE_EQ(nvme->Max, 74.85);
    EXPECT_DOUBLE_EQ(nvme->Crit, 79.85);

    const HWMON_SENSOR* package = Find(*info, kPackage0, "temp1");
    ASSERT_TRUE(package);
    EXPECT_STREQ(package->Label, "Package id 0");
    EXPECT_DOUBLE_EQ(package->Value, 48.0);
    EXPECT_TRUE(package->Flags & HWMON_ALARM_KNOWN);  // from temp1_crit_alarm
    EXPECT_FALSE(package->Flags & HWMON_ALARM);

    const HWMON_SENSOR* vcore = Find(*info, kSuperIo, "in0");
    ASSERT_TRUE(vcore);
    EXPECT_EQ(vcore->Kind, static_cast<unsigned>(HWMON_VOLTAGE));
    EXPECT_STREQ(vcore->Label, "in0");  // the chip gives no label: the input's name
    EXPECT_DOUBLE_EQ(vcore->Value, 0.896);
    EXPECT_DOUBLE_EQ(vcore->Max, 1.5);
    const HWMON_SENSOR* fan = Find(*info, kSuperIo, "fan3");
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->Kind, static_cast<unsigned>(HWMON_FAN));
    EXPECT_DOUBLE_EQ(fan->Value, 2431);
    EXPECT_DOUBLE_EQ(fan->Min, 600);
    const HWMON_SENSOR* systin = Find(*info, kSuperIo, "temp1");
    ASSERT_TRUE(systin);
    EXPECT_STREQ(systin->Label, "SYSTIN");
    EXPECT_DOUBLE_EQ(systin->MaxHyst, 75.0);
    EXPECT_STREQ(qarvel::State().sources[SOURCE_HWMON].answered, "/sys/class/hwmon");
}

TEST_F(HwmonTest, ALaterPollReadsEachFileOnceAndListsNothing) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    Hwmon();
    const std::size_t mark = machine->accesses().size();
    auto info = Hwmon();
    const auto opened = OpenedSince(mark);
    EXPECT_EQ(opened.count("/sys/class/hwmon"), 0u) << "chips listed again";
    std::size_t inputs = 0, alarms = 0;
    for (const auto& [path, count] : opened) {
        EXPECT_EQ(count, 1) << path;
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_NE(name, "name") << "chips listed again";
        EXPECT_EQ(name.find("_label"), std::string::npos) << "labels read again: " << path;
        EXPECT_EQ(name.find("beep"), std::string::npos) << path;
        EXPECT_EQ(name.find("pwm"), std::string::npos) << path;
        inputs += name.size() > 6 && name.compare(name.size() - 6, 6, "_input") == 0;
        alarms += name.size() > 6 && name.compare(name.size() - 6, 6, "_alarm") == 0;
    }
    EXPECT_EQ(inputs, info->quantity);
    EXPECT_EQ(alarms, 17u);
    // With the limits and hysteresis: NVMe 5, two coretemp chips 12 each, the Super I/O's
    // voltages 16, fans 9 and temperatures 12.
    EXPECT_EQ(opened.size(), 66u);
    EXPECT_EQ(machine->still_open(), std::vector<std::string>{});

    // After release the chips are listed again: their names are read once more.
    qarvel::ResetProcessState(qarvel::Reset::Readers);
    const std::size_t again = machine->accesses().size();
    Hwmon();
    EXPECT_EQ(OpenedSince(again).count("/sys/devices/platform/nct6775.656/hwmon/hwmon2/name"), 1u);
}

TEST_F(HwmonTest, AValueChangedBetweenPollsIsSeenOnTheNext) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    EXPECT_DOUBLE_EQ(Find(*Hwmon(), kNvme, "temp1")->Max, 74.85);
    machine->files.add(std::string(kNvme) + "/hwmon/hwmon0/temp1_max", "60850\n");
    machine->files.add(std::string(kNvme) + "/hwmon/hwmon0/temp1_input", "61850\n");
    machine->files.add(std::string(kNvme) + "/hwmon/hwmon0/temp1_alarm", "1\n");
    auto info = Hwmon();
    const HWMON_SENSOR* nvme = Find(*info, kNvme, "temp1");
    EXPECT_DOUBLE_EQ(nvme->Max, 60.85);
    EXPECT_DOUBLE_EQ(nvme->Value, 61.85);
    EXPECT_TRUE(nvme->Flags & HWMON_ALARM);
}

TEST_F(HwmonTest, AFailedReadLosesOnlyThatReading) {
    for (int error : {EIO, ENODATA, EAGAIN}) {
        SCOPED_TRACE(error);
        SetUp();
        Install();
        FailReads(*machine, "/sys/devices/platform/it87.2592/hwmon/hwmon4/temp2_input", error);
        auto info = Hwmon();
        ASSERT_EQ(info->quantity, 3u);
        const HWMON_SENSOR* bad = Find(*info, "/sys/devices/platform/it87.2592", "temp2");
        ASSERT_TRUE(bad);
        EXPECT_TRUE(bad->Flags & HWMON_UNREADABLE);
        EXPECT_FALSE(bad->Flags & HWMON_HAS_VALUE);
        EXPECT_EQ(bad->Error, error);
        EXPECT_EQ(bad->Value, 0.0);
        // Its limit and alarm, and the other inputs, are read as ever.
        EXPECT_DOUBLE_EQ(bad->Max, 70.0);
        EXPECT_TRUE(bad->Flags & HWMON_ALARM);
        const HWMON_SENSOR* good = Find(*info, "/sys/devices/platform/it87.2592", "temp1");
        EXPECT_EQ(good->Flags, HWMON_HAS_VALUE | HWMON_HAS_MAX | HWMON_ALARM_KNOWN);
        EXPECT_DOUBLE_EQ(good->Value, 41.0);
        EXPECT_DOUBLE_EQ(Find(*info, "/sys/devices/platform/it87.2592", "fan1")->Value, 1500);
        TearDown();
    }
}

TEST_F(HwmonTest, FaultyOrUnparsableInputsGiveNoValue) {
    Install({{"fan1_fault", "1"}, {"temp1_input", "N/A"}, {"temp2_fault", "0"}});
    auto info = Hwmon();
    const HWMON_SENSOR* fan = Find(*info, "/sys/devices/platform/it87.2592", "fan1");
    EXPECT_TRUE(fan->Flags & HWMON_FAULT);
    EXPECT_FALSE(fan->Flags & HWMON_HAS_VALUE);
    EXPECT_EQ(fan->Value, 0.0);
    const HWMON_SENSOR* text = Find(*info, "/sys/devices/platform/it87.2592", "temp1");
    EXPECT_TRUE(text->Flags & HWMON_UNREADABLE);
    EXPECT_EQ(text->Error, EINVAL);
    const HWMON_SENSOR* fine = Find(*info, "/sys/devices/platform/it87.2592", "temp2");
    EXPECT_FALSE(fine->Flags & HWMON_FAULT);
    EXPECT_DOUBLE_EQ(fine->Value, 52.5);
}

TEST_F(HwmonTest, AChipThatVanishesLeavesNoStaleValue) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    ASSERT_EQ(Hwmon()->quantity, 17u);
    // The NVMe drive is pulled: its hwmon directory goes with it.
    const std::string dir = std::string(kNvme) + "/hwmon/hwmon0/";
    for (const char* file : {"name", "temp1_label", "temp1_input", "temp1_min", "temp1_max", "temp1_crit", "temp1_alarm"})
        machine->files.remove(dir + file);
    auto info = Hwmon();
    const HWMON_SENSOR* gone = Find(*info, kNvme, "temp1");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->Flags, HWMON_UNREADABLE);
    EXPECT_EQ(gone->Error, ENOENT);
    EXPECT_EQ(gone->Value, 0.0);
    EXPECT_EQ(gone->Max, 0.0);
    EXPECT_DOUBLE_EQ(Find(*info, kPackage0, "temp1")->Value, 48.0);
    // The next poll lists the chips again, without it.
    info = Hwmon();
    EXPECT_EQ(info->quantity, 16u);
    EXPECT_FALSE(Find(*info, kNvme, "temp1"));
}

TEST_F(HwmonTest, OlderDriversKeepTheirAttributesOnTheDevice) {
    sim::SysfsTree tree;
    const std::string device = "/sys/devices/platform/w83627hf.656";
    tree.directories.push_back(device + "/hwmon/hwmon0");
    tree.links["/sys/class/hwmon/hwmon0"] = device + "/hwmon/hwmon0";
    tree.links[device + "/hwmon/hwmon0/device"] = device;
    tree.files[device + "/name"] = "w83627hf\n";
    tree.files[device + "/in0_input"] = "1200\n";
    tree.files[device + "/in0_label"] = "VCore\n";
    tree.install(*machine);
    auto info = Hwmon();
    ASSERT_EQ(info->quantity, 1u);
    EXPECT_STREQ(info->sensor[0].Chip, "w83627hf");
    EXPECT_STREQ(info->sensor[0].Label, "VCore");
    EXPECT_STREQ(info->sensor[0].Device, device.c_str());
    EXPECT_DOUBLE_EQ(info->sensor[0].Value, 1.2);
}

TEST_F(HwmonTest, NoChipIsNotAvailable) {
    UseCapture(QARVEL_SAMPLE_MACHINE);
    auto info = Hwmon(-1);
    EXPECT_EQ(info->quantity, 0u);
    EXPECT_EQ(qarvel::State().sources[SOURCE_HWMON].answered, nullptr);
    EXPECT_STREQ(qarvel::State().sources[SOURCE_HWMON].tried[0].why,
                 "cannot list /sys/class/hwmon: No such file or directory");
    // A chip without inputs (a fan controller only) is no sensor either.
    sim::SysfsTree tree;
    sim::describe_hwmon_chip(tree, {0, "/sys/devices/platform/pwm-fan", "pwmfan", {{"pwm1", "128"}}});
    tree.install(*machine);
    Hwmon(-1);
}

TEST_F(HwmonTest, MoreInputsThanTheRecordHolds) {
    sim::SysfsTree tree;
    sim::HwmonChipDesc chip{0, "/sys/devices/platform/big.0", "big", {}};
    for (int n = 1; n <= HWMON_MOST_SENSORS + 5; ++n) chip.attributes["in" + std::to_string(n) + "_input"] = "1000";
    sim::describe_hwmon_chip(tree, chip);
    tree.install(*machine);
    auto info = Hwmon();
    EXPECT_EQ(info->quantity, static_cast<unsigned>(HWMON_MOST_SENSORS));
    EXPECT_EQ(info->total, static_cast<unsigned>(HWMON_MOST_SENSORS + 5));
    // By index, not by name: in2 before in10.
    EXPECT_STREQ(info->sensor[1].Input, "in2");
    EXPECT_STREQ(info->sensor[9].Input, "in10");
}

}  // namespace

namespace {

// The guest's own hwmon tree (tests/data/hwmon/guest), against what the guest itself read
// from the same files (raw.txt) at the moment of the capture.
TEST_F(HwmonTest, TheGuestsNvmeChipAsItsKernelGaveIt) {
    UseCapture(qtest::DataPath("hwmon/guest").c_str());
    std::map<std::string, double> raw;
    std::ifstream lines(qtest::DataPath("hwmon/guest/raw.txt"));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": "), underscore = line.rfind('_');
        if (line.compare(0, 2, "==") == 0 || colon == std::string::npos || underscore == std::string::npos) continue;
        const std::string item = line.substr(underscore + 1, colon - underscore - 1);
        if (item != "label") raw[item] = std::stod(line.substr(colon + 2)) / 1000;
    }
    ASSERT_EQ(raw.size(), 5u);  // input, min, max, crit, alarm
    auto info = Hwmon();
    ASSERT_EQ(info->quantity, 1u);
    const HWMON_SENSOR& s = info->sensor[0];
    EXPECT_STREQ(s.Chip, "nvme");
    EXPECT_STREQ(s.Label, "Composite");
    EXPECT_STREQ(s.Device, "/sys/devices/pci0000:00/0000:00:08.0/nvme/nvme0");
    EXPECT_DOUBLE_EQ(s.Value, raw["input"]);
    EXPECT_DOUBLE_EQ(s.Min, raw["min"]);
    EXPECT_DOUBLE_EQ(s.Max, raw["max"]);
    EXPECT_DOUBLE_EQ(s.Crit, raw["crit"]);
    EXPECT_EQ((s.Flags & HWMON_ALARM) != 0, raw["alarm"] != 0);
    // A later poll: the five files, once each.
    const std::size_t mark = machine->accesses().size();
    Hwmon();
    const auto opened = OpenedSince(mark);
    EXPECT_EQ(opened.size(), 5u);
    for (const auto& [path, count] : opened) EXPECT_EQ(count, 1) << path;
}

}  // namespace
