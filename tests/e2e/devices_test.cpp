// The PCI, IDE drive and partition commands of GetInfo through dlopen of the simulated
// library serving the sample server, checked against lspci and sfdisk reading the same
// capture files.
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "tests/e2e/library.h"
#include "tests/support/tools.h"

namespace {

using SampleServerDevices = e2e::SampleServerTest;

TEST_F(SampleServerDevices, PciFunctions) {
    auto devices = std::make_unique<e2e::Guarded<DeviceInformation>>();
    ASSERT_EQ(get_info(INFO_PCI_DEVICE, &devices->record), 0);
    EXPECT_TRUE(devices->canaries_intact());
    const DeviceInformation& r = devices->record;
    ASSERT_EQ(r.quantity, 15);

    const DEV& host = r.dev[0];
    EXPECT_STREQ(host.model, "Bridge device");
    EXPECT_STREQ(host.type, "Host bridge");
    EXPECT_STREQ(host.desc, "bus:0, dev:0, func:0");
    EXPECT_EQ(host.revision, 0x13);
    EXPECT_STREQ(host.status, "Capabilities List;Fast Back-to-Back Capable;Speed=Fast;");

    const DEV& unassigned = r.dev[3];
    EXPECT_STREQ(unassigned.desc, "bus:0, dev:8, func:0");
    EXPECT_STREQ(unassigned.model, "Unknown");
    EXPECT_STREQ(unassigned.type, "");

    const DEV& ide = r.dev[9];
    EXPECT_STREQ(ide.desc, "bus:0, dev:31, func:2");
    EXPECT_STREQ(ide.model, "Mass storage controller");
    EXPECT_STREQ(ide.type, "IDE controller");
    EXPECT_EQ(ide.IRQ, 0);  // interrupt line 0xFF
    EXPECT_STREQ(ide.status, "Capabilities List;66 MHz Capable;Fast Back-to-Back Capable;Speed=Medium;");

    const DEV& nic = r.dev[12];
    EXPECT_STREQ(nic.desc, "bus:2, dev:0, func:0");
    EXPECT_STREQ(nic.type, "Ethernet controller");
    EXPECT_EQ(nic.IRQ, 28);
    EXPECT_EQ(static_cast<unsigned long>(nic.IOBase) & 0xFFFFFFFFul, 0xFBA20000ul);

    // The same functions, in the same order, as lspci reads them from the capture.
    std::string lspci = qtest::FindTool("lspci");
    ASSERT_FALSE(lspci.empty());
    std::ostringstream dump;
    std::vector<std::string> expected;
    for (const char* slot : {"00:00.0", "00:01.0", "00:03.0", "00:08.0", "00:1d.0", "00:1d.1", "00:1d.7", "00:1e.0",
                             "00:1f.0", "00:1f.2", "00:1f.3", "01:00.0", "02:00.0", "02:00.1", "04:03.0"}) {
        FILE* file = std::fopen((std::string(QARVEL_SAMPLE_MACHINE) + "/pci/" + slot).c_str(), "rb");
        ASSERT_NE(file, nullptr) << slot;
        dump << slot << " function\n";
        unsigned char bytes[256];
        std::size_t n = std::fread(bytes, 1, sizeof bytes, file);
        std::fclose(file);
        // The lspci -xxx layout: "offset: 16 bytes" per line.
        for (std::size_t i = 0; i < n; ++i) {
            char hex[16];
            if (i % 16 == 0)
                std::snprintf(hex, sizeof hex, "%02x: %02x", static_cast<unsigned>(i), bytes[i]);
            else
                std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
            dump << hex << (i % 16 == 15 ? "\n" : "");
        }
        dump << "\n";
    }
    std::string dump_path = testing::TempDir() + "sample-server.lspci";
    FILE* out = std::fopen(dump_path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(dump.str().c_str(), out);
    std::fclose(out);
    int status = -1;
    std::istringstream lines(qtest::RunCommand(lspci + " -F '" + dump_path + "' -n 2>/dev/null", status));
    ASSERT_EQ(status, 0);
    int i = 0;
    for (std::string line; std::getline(lines, line); ++i) {
        unsigned bus = 0, dev = 0, func = 0, cls = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%x:%x.%x %x:", &bus, &dev, &func, &cls), 4) << line;
        ASSERT_LT(i, r.quantity);
        char desc[32];
        std::snprintf(desc, sizeof desc, "bus:%u, dev:%u, func:%u", bus, dev, func);
        EXPECT_STREQ(r.dev[i].desc, desc);
        // Only the class codes 0x00-0x11 have texts; the rest are "Unknown".
        if (cls >> 8 > 0x11) {
            EXPECT_STREQ(r.dev[i].model, "Unknown") << line;
        }
    }
    EXPECT_EQ(i, r.quantity);
}

TEST_F(SampleServerDevices, IdeDrives) {
    auto drives = std::make_unique<e2e::Guarded<StorageInformation>>();
    ASSERT_EQ(get_info(INFO_STORAGE, &drives->record), 0);
    EXPECT_TRUE(drives->canaries_intact());
    const StorageInformation& r = drives->record;
    ASSERT_EQ(r.quantityIDE, 2);  // the DVD drive on hdc is not a disk
    EXPECT_STREQ(r.driveArray[0].type, "hdd");
    EXPECT_STREQ(r.driveArray[0].size, "40020664320");
    EXPECT_STREQ(r.driveArray[0].model, "HGT ATA-40G 7200");
    EXPECT_STREQ(r.driveArray[0].ControllerType, "ide");
    EXPECT_STREQ(r.driveArray[0].ControllerNo, "Primary Master");
    EXPECT_STREQ(r.driveArray[0].SerialNo, "HGA40-0427-118390   ");
    EXPECT_STREQ(r.driveArray[1].ControllerNo, "Primary Slave");
    EXPECT_STREQ(r.driveArray[1].size, "80026361856");
    EXPECT_STREQ(r.driveArray[2].type, "");
}

TEST_F(SampleServerDevices, PartitionsAgreeWithSfdisk) {
    auto partitions = std::make_unique<e2e::Guarded<PartitionInformation>>();
    ASSERT_EQ(get_info(INFO_PARTITION, &partitions->record), 0);
    EXPECT_TRUE(partitions->canaries_intact());
    const PartitionInformation& r = partitions->record;
    ASSERT_EQ(r.quantity, 10);
    std::map<std::string, std::string> walked, file_systems;
    for (int i = 0; i < r.quantity; ++i) {
        walked[r.partition[i].description] = r.partition[i].size;
        file_systems[r.partition[i].description] = r.partition[i].FileSystem;
    }
    EXPECT_EQ(file_systems["/dev/hda6"], "Win95 FAT32");
    EXPECT_EQ(file_systems["/dev/hdb5"], "FAT 16");  // logical FAT16 is listed...
    EXPECT_EQ(walked.count("/dev/hdb2"), 0u);          // ...a primary one is not,
    EXPECT_EQ(walked.count("/dev/hdb6"), 0u);          // nor a logical NTFS
    EXPECT_EQ(file_systems["/dev/hdb7"], "Linux swap");

    // What sfdisk lists, less the extended partitions themselves, hdb2 (primary FAT16) and
    // hdb6 (logical NTFS).
    std::map<std::string, std::string> listed;
    for (char letter : {'a', 'b'}) {
        std::string image = std::string(QARVEL_SAMPLE_MACHINE) + "/dev/hd" + letter + ".img";
        for (const auto& p : qtest::SfdiskDump(image)) {
            std::string name = "/dev/hd" + std::string(1, letter) + std::to_string(p.number);
            if (p.type != 0x0F && name != "/dev/hdb2" && name != "/dev/hdb6") listed[name] = std::to_string(p.size * 512);
        }
    }
    EXPECT_EQ(walked, listed);
}

TEST(CapturedMachine, WithoutProcIdeThereAreNoDrivesAndNoPartitions) {
    e2e::Library lib(QARVEL_SIM_LIBRARY, QARVEL_TEST_DATA "/realdata/smbios/Synology-RS3614xsp");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    auto drives = std::make_unique<e2e::Guarded<StorageInformation>>();
    auto partitions = std::make_unique<e2e::Guarded<PartitionInformation>>();
    auto devices = std::make_unique<e2e::Guarded<DeviceInformation>>();
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_info(INFO_STORAGE, &drives->record), 0);
    EXPECT_EQ(get_info(INFO_PARTITION, &partitions->record), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No ide devices.\nNo ide devices.\n");
    EXPECT_EQ(get_info(INFO_PCI_DEVICE, &devices->record), 0);
    EXPECT_EQ(drives->record.quantityIDE, 0);
    EXPECT_EQ(partitions->record.quantity, 0);
    EXPECT_EQ(devices->record.quantity, 0);  // a capture without pci/
    EXPECT_TRUE(drives->canaries_intact() && partitions->canaries_intact() && devices->canaries_intact());
}

}  // namespace
