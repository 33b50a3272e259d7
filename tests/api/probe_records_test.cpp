// Which source each subsystem's probe tried, in order, and which one answered, on the kernels
// the sample machines imitate. The record is what GetSourceName reports and what explains a
// missing subsystem: every source that did not answer carries its reason.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "api/Qarvel.h"
#include "process/state.h"
#include "tests/support/fixture.h"

namespace {

using Tried = std::vector<std::string>;

// The sources tried, in order; " refused" follows each one for which a reason was recorded.
Tried Attempts(int subsystem) {
    const qarvel::ProbeRecord& record = qarvel::State().sources[subsystem];
    Tried tried;
    for (int i = 0; i < record.count; ++i)
        tried.push_back(std::string(record.tried[i].source) + (record.tried[i].why[0] ? " refused" : ""));
    return tried;
}

std::string Why(int subsystem, int attempt) { return qarvel::State().sources[subsystem].tried[attempt].why; }

std::string Answered(int subsystem) {
    const char* answered = qarvel::State().sources[subsystem].answered;
    return answered ? answered : "(none)";
}

struct ProbeRecords : qtest::MachineTest {
    // Every inventory source is probed by one GetInfo each.
    void ReadInventory() {
        DeviceInformation pci{};
        EXPECT_EQ(GetInfo(INFO_PCI_DEVICE, &pci), 0);
        StorageInformation disks{};
        EXPECT_EQ(GetInfo(INFO_STORAGE, &disks), 0);
    }
};

TEST_F(ProbeRecords, ClassicKernel) {
    UseCapture(QARVEL_SAMPLE_MACHINE);
    ReadInventory();
    EXPECT_EQ(Answered(SOURCE_PCI), "sysfs");
    EXPECT_EQ(Attempts(SOURCE_PCI), Tried({"sysfs"}));
    EXPECT_EQ(Answered(SOURCE_DISK), "/proc/ide");
    EXPECT_EQ(Attempts(SOURCE_DISK), Tried({"/proc/ide"}));
}

TEST_F(ProbeRecords, CurrentKernel) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    ReadInventory();
    EXPECT_EQ(Answered(SOURCE_PCI), "sysfs");
    EXPECT_EQ(Attempts(SOURCE_PCI), Tried({"sysfs"}));
    EXPECT_EQ(Answered(SOURCE_DISK), "/sys/block");
    EXPECT_EQ(Attempts(SOURCE_DISK), Tried({"/proc/ide refused", "/sys/block"}));
    EXPECT_NE(Why(SOURCE_DISK, 0).find("/proc/ide"), std::string::npos) << Why(SOURCE_DISK, 0);
}

TEST_F(ProbeRecords, LockedDownKernelWithoutSysfsPciHasNoPciSource) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    machine->lockdown = true;
    machine->files.deny("/sys/bus/pci/devices");
    DeviceInformation pci{};
    EXPECT_EQ(GetInfo(INFO_PCI_DEVICE, &pci), 0);  // the command succeeds, listing nothing
    EXPECT_EQ(pci.quantity, 0);
    EXPECT_EQ(Answered(SOURCE_PCI), "(none)");
    EXPECT_EQ(Attempts(SOURCE_PCI), Tried({"sysfs refused", "ports refused"}));
    // Lockdown refuses the I/O privilege: the reason says so rather than "no PCI functions".
    EXPECT_NE(Why(SOURCE_PCI, 1).find(std::strerror(EPERM)), std::string::npos) << Why(SOURCE_PCI, 1);
    char name[32] = "unchanged";
    EXPECT_EQ(GetSourceName(SOURCE_PCI, name, sizeof name), -1);
}

}  // namespace
