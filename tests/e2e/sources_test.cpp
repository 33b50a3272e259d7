// GetSourceName: which of the kernel's interfaces answered, per subsystem, on a machine of each
// kernel kind; and nothing named before anything was read.
#include <string>

#include "tests/e2e/library.h"

namespace {

using SourceNameFunction = int(int, char*, int);
using GetIpmiInfoFunction = int(unsigned long, LPVOID);

std::string Source(SourceNameFunction* source_name, int subsystem) {
    char name[32] = {};
    return source_name(subsystem, name, sizeof name) == 0 ? name : "-1";
}

// Reads every subsystem once, as the report does, then asks which method answered each.
void ExpectSources(const char* machine, const char* smbios, const char* ipmi, const char* pci, const char* disk) {
    e2e::Library lib(QARVEL_SIM_LIBRARY, machine);
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* source_name = lib.function<SourceNameFunction>("GetSourceName");
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    auto* get_ipmi_info = lib.function<GetIpmiInfoFunction>("GetIpmiInfo");
    ASSERT_TRUE(source_name && get_info && get_ipmi_info);
    for (int subsystem : {SOURCE_SMBIOS, SOURCE_IPMI, SOURCE_PCI, SOURCE_DISK})
        EXPECT_EQ(Source(source_name, subsystem), "-1") << "named before any read: " << subsystem;

    e2e::Guarded<BaseBoardInformation> board;
    e2e::Guarded<DeviceInformation> pci_devices;
    e2e::Guarded<StorageInformation> storage;
    e2e::Guarded<FanInformation> fans;
    EXPECT_EQ(get_info(INFO_BASE_BOARD, &board.record), 0);
    EXPECT_EQ(get_info(INFO_PCI_DEVICE, &pci_devices.record), 0);
    EXPECT_EQ(get_info(INFO_STORAGE, &storage.record), 0);
    EXPECT_EQ(get_ipmi_info(INFO_FAN, &fans.record), 0);

    EXPECT_EQ(Source(source_name, SOURCE_SMBIOS), smbios);
    EXPECT_EQ(Source(source_name, SOURCE_IPMI), ipmi);
    EXPECT_EQ(Source(source_name, SOURCE_PCI), pci);
    EXPECT_EQ(Source(source_name, SOURCE_DISK), disk);

    char tiny[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(source_name(SOURCE_SMBIOS, tiny, sizeof tiny), -1) << "a name that does not fit";
    EXPECT_EQ(source_name(SOURCE_SMBIOS, nullptr, 32), -1);
    char name[32];
    EXPECT_EQ(source_name(4, name, sizeof name), -1);
    EXPECT_EQ(source_name(-1, name, sizeof name), -1);
}

TEST(SourceName, ClassicKernelAnswersThroughTheClassicInterfacesButPciSysfs) {
    ExpectSources(QARVEL_SAMPLE_MACHINE, "/dev/mem", "/dev/ipmi", "sysfs", "/proc/ide");
}

TEST(SourceName, CurrentKernelAnswersThroughItsOwnInterfaces) {
    ExpectSources(QARVEL_CURRENT_MACHINE, "sysfs", "/dev/ipmi0", "sysfs", "/sys/block");
}

}  // namespace
