// The probe record the SMBIOS sources leave: which rows were tried, in order, which one
// answered, and why each of the others did not, on the kernels the sample machines run.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "SmBios/SmBios.h"
#include "process/state.h"
#include "tests/support/fixture.h"

namespace {

const char* const kNoSysfs = "cannot open /sys/firmware/dmi/tables/smbios_entry_point: ";

struct Flavour {
    const char* name;
    const char* capture;
    bool lockdown;
    std::vector<std::string> tried;  // the rows, in order
    const char* answered;            // null: none
    std::vector<std::string> why;    // each row's reason, empty for the one that answered
};

void PrintTo(const Flavour& f, std::ostream* os) { *os << f.name; }

class ProbeRecord : public qtest::MachineTest, public ::testing::WithParamInterface<Flavour> {};

TEST_P(ProbeRecord, NamesTheRowsTriedWhatAnsweredAndWhyTheOthersDidNot) {
    const Flavour& f = GetParam();
    UseCapture(f.capture);
    machine->lockdown = f.lockdown;
    testing::internal::CaptureStderr();
    SmBiosImage image;
    const bool found = ProbeSmBios(image);
    testing::internal::GetCapturedStderr();

    const qarvel::ProbeRecord& record = qarvel::State().sources[SOURCE_SMBIOS];
    ASSERT_EQ(record.count, static_cast<int>(f.tried.size()));
    for (int i = 0; i < record.count; ++i) {
        EXPECT_EQ(record.tried[i].source, f.tried[i]) << "row " << i;
        EXPECT_EQ(record.tried[i].why, f.why[i]) << record.tried[i].source;
    }
    if (f.answered) {
        ASSERT_TRUE(found);
        EXPECT_STREQ(record.answered, f.answered);
        EXPECT_STREQ(image.method, f.answered);
        EXPECT_STREQ(SmBiosSourceName(), f.answered);
        EXPECT_GT(image.entryPointLength, 0u);
        EXPECT_GT(image.tableLength, 0u);
    } else {
        EXPECT_FALSE(found);
        EXPECT_EQ(record.answered, nullptr);
        EXPECT_EQ(SmBiosSourceName(), nullptr);
        // Nothing half-read is left for a reader to take.
        EXPECT_EQ(image.entryPointLength, 0u);
        EXPECT_EQ(image.table, nullptr);
        EXPECT_EQ(SmBios(image).IsInitOK(), 0);
    }
}

const std::string kMissing = std::string(kNoSysfs) + std::strerror(ENOENT);

INSTANTIATE_TEST_SUITE_P(
    SampleMachines, ProbeRecord,
    ::testing::Values(
        Flavour{"classic", QARVEL_SAMPLE_MACHINE, false, {"sysfs", "/dev/mem"}, "/dev/mem", {kMissing, ""}},
        Flavour{"current", QARVEL_CURRENT_MACHINE, false, {"sysfs"}, "sysfs", {""}},
        Flavour{"current_lockdown", QARVEL_CURRENT_MACHINE, true, {"sysfs"}, "sysfs", {""}},
        Flavour{"classic_lockdown", QARVEL_SAMPLE_MACHINE, true, {"sysfs", "/dev/mem"}, nullptr,
                {kMissing, std::string("cannot open /dev/mem: ") + std::strerror(EPERM)}}),
    [](const ::testing::TestParamInfo<Flavour>& info) { return std::string(info.param.name); });

using ProbeReasons = qtest::MachineTest;

// Each way the rows fail leaves a reason that says what was missing.
TEST_F(ProbeReasons, SayWhatEachRowFoundMissing) {
    const qarvel::ProbeRecord& record = qarvel::State().sources[SOURCE_SMBIOS];
    SmBiosImage image;

    // A machine with no table anywhere.
    EXPECT_FALSE(ProbeSmBios(image));
    ASSERT_EQ(record.count, 2);
    EXPECT_EQ(std::string(record.tried[0].why), kMissing);
    EXPECT_STREQ(record.tried[1].why, "no entry point in 0xF0000-0xFFFFF");

    // An EFI system table whose addresses hold nothing.
    machine->files.add("/sys/firmware/efi/systab", "SMBIOS3=0x7f6e5000\nSMBIOS=0x7f6e4000\n");
    EXPECT_FALSE(ProbeSmBios(image));
    EXPECT_STREQ(record.tried[1].why, "no entry point in 0xF0000-0xFFFFF or at the EFI system table's addresses");

    // A sysfs entry point file with no entry point in it, then one whose table file is denied.
    machine->kernel = sim::Kernel::Current;
    Publish(qtest::IdentityTable());
    machine->files.add(sim::kSysfsEntryPoint, "garbage");
    EXPECT_TRUE(ProbeSmBios(image));
    EXPECT_STREQ(record.tried[0].why, "no entry point in /sys/firmware/dmi/tables/smbios_entry_point");
    EXPECT_STREQ(record.answered, "/dev/mem");

    Publish(qtest::IdentityTable());
    machine->files.deny(sim::kSysfsTable);
    EXPECT_TRUE(ProbeSmBios(image));
    EXPECT_EQ(std::string(record.tried[0].why),
              std::string("cannot open /sys/firmware/dmi/tables/DMI: ") + std::strerror(EACCES));
    EXPECT_STREQ(record.tried[1].why, "");
    EXPECT_STREQ(record.answered, "/dev/mem");
}

}  // namespace
