// The EDAC source: both layouts, counts kept whole, and the join to the SMBIOS memory devices.
#include "process/state.h"
#include "sim/SmbiosStructures.h"
#include "sim/hwmon.h"
#include "tests/health/health_test.h"
#include "tests/support/fixture.h"

namespace {

using qtest::Edac;

struct EdacTest : qtest::MachineTest {
    void Install(const std::map<std::string, std::string>& attributes, int number = 0) {
        sim::SysfsTree tree;
        sim::describe_edac_controller(tree, number, attributes);
        tree.install(*machine);
    }
    // Two DIMMs in SMBIOS: DIMM_A1 in bank "NODE 0" and DIMM_B1 in "NODE 0".
    void PublishDimms() {
        sim::SmbiosTable t;
        sim::add_memory_device(t, {.length = 0x22, .size = 0x4000, .device_locator = "DIMM_A1",
                                   .bank_locator = "NODE 0", .serial = "SN-A1", .part_number = "PN-16G"});
        sim::add_memory_device(t, {.length = 0x22, .size = 0x4000, .device_locator = "DIMM_B1",
                                   .bank_locator = "NODE 0", .serial = "SN-B1", .part_number = "PN-16G"});
        t.end();
        Publish(t);
    }
};

TEST_F(EdacTest, TheCurrentServerCountsOnOneDimm) {
    UseCapture(QARVEL_CURRENT_MACHINE);
    auto info = Edac();
    ASSERT_EQ(info->ControllerQuantity, 1u);
    const EDAC_CONTROLLER& mc = info->controller[0];
    EXPECT_STREQ(mc.Name, "ghes_edac");
    EXPECT_EQ(mc.Corrected, 17u);
    EXPECT_EQ(mc.Uncorrected, 0u);
    EXPECT_EQ(mc.SizeBytes, 1048576ULL << 20);
    EXPECT_EQ(mc.Flags, EDAC_HAS_SIZE | EDAC_HAS_CORRECTED | EDAC_HAS_UNCORRECTED | EDAC_HAS_CORRECTED_NO_INFO |
                            EDAC_HAS_UNCORRECTED_NO_INFO);
    ASSERT_EQ(info->DimmQuantity, 16u);
    const EDAC_DIMM& d = info->dimm[3];
    // The kernel's 31 characters of "P0_Node0_ChannelD_Dimm0 P0-DIMM3A".
    EXPECT_STREQ(d.Label, "P0_Node0_ChannelD_Dimm0 P0-DIMM");
    EXPECT_STREQ(d.Location, "memory 3");
    EXPECT_STREQ(d.MemoryType, "Registered-DDR5");
    EXPECT_EQ(d.Corrected, 17u);
    EXPECT_EQ(d.SizeBytes, 65536ULL << 20);
    // Joined to the SMBIOS device the label names: its locator, part and serial number.
    EXPECT_TRUE(d.Flags & EDAC_DIMM_MATCHED);
    EXPECT_STREQ(d.Locator, "P0-DIMM3A");
    EXPECT_STREQ(d.BankLocator, "P0_Node0_ChannelD_Dimm0");
    EXPECT_STREQ(d.PartNumber, "KM64G2R5-4800R");
    EXPECT_STREQ(d.SerialNumber, "KM58003");
    unsigned matched = 0;
    for (unsigned i = 0; i < info->DimmQuantity; ++i) matched += (info->dimm[i].Flags & EDAC_DIMM_MATCHED) != 0;
    EXPECT_EQ(matched, 16u);
    EXPECT_STREQ(info->dimm[15].SerialNumber, "KM58107");
}

TEST_F(EdacTest, TheOlderCsrowLayout) {
    PublishDimms();
    Install({{"mc_name", "i5000"}, {"ce_count", "5"}, {"ue_count", "1"},
             // Row 0: two channels, a DIMM each; the row's size and uncorrected count are shared.
             {"csrow0/size_mb", "4096"}, {"csrow0/mem_type", "FullyBuffered-DDR2"}, {"csrow0/ue_count", "1"},
             {"csrow0/ce_count", "5"}, {"csrow0/ch0_ce_count", "2"}, {"csrow0/ch0_dimm_label", "DIMM_A1"},
             {"csrow0/ch1_ce_count", "3"}, {"csrow0/ch1_dimm_label", "DIMM_B1"},
             // Row 10: one channel, so its size and uncorrected count are the DIMM's.
             {"csrow10/size_mb", "2048"}, {"csrow10/ue_count", "4"}, {"csrow10/ch0_ce_count", "0"},
             {"csrow10/ch0_dimm_label", ""}});
    auto info = Edac();
    ASSERT_EQ(info->DimmQuantity, 3u);
    EXPECT_STREQ(info->dimm[0].Location, "csrow 0 channel 0");
    EXPECT_STREQ(info->dimm[0].MemoryType, "FullyBuffered-DDR2");
    EXPECT_EQ(info->dimm[0].Corrected, 2u);
    EXPECT_EQ(info->dimm[0].Flags, EDAC_HAS_CORRECTED | EDAC_DIMM_MATCHED);
    EXPECT_STREQ(info->dimm[0].SerialNumber, "SN-A1");
    EXPECT_EQ(info->dimm[1].Corrected, 3u);
    EXPECT_STREQ(info->dimm[1].SerialNumber, "SN-B1");
    EXPECT_STREQ(info->dimm[2].Location, "csrow 10 channel 0");
    EXPECT_EQ(info->dimm[2].Flags, EDAC_HAS_SIZE | EDAC_HAS_CORRECTED | EDAC_HAS_UNCORRECTED);
    EXPECT_EQ(info->dimm[2].SizeBytes, 2048ULL << 20);
    EXPECT_EQ(info->dimm[2].Uncorrected, 4u);
    EXPECT_STREQ(info->dimm[2].Label, "");
}

TEST_F(EdacTest, CountersNearTheirLimitsAreKeptWhole) {
    Install({{"ce_count", "4294967296"}, {"ue_count", "18446744073709551615"}, {"ce_noinfo_count", "18446744073709551616"},
             {"dimm0/dimm_ce_count", "4294967295"}, {"dimm0/dimm_ue_count", "-1"},
             {"dimm0/size", "18446744073709551615"}});
    auto info = Edac();
    const EDAC_CONTROLLER& mc = info->controller[0];
    EXPECT_EQ(mc.Corrected, 4294967296ULL);
    EXPECT_EQ(mc.Uncorrected, UINT64_MAX);
    // Past 64 bits is no count: said so, not wrapped.
    EXPECT_FALSE(mc.Flags & EDAC_HAS_CORRECTED_NO_INFO);
    EXPECT_EQ(mc.CorrectedNoInfo, 0u);
    const EDAC_DIMM& d = info->dimm[0];
    EXPECT_EQ(d.Corrected, 4294967295ULL);
    EXPECT_FALSE(d.Flags & EDAC_HAS_UNCORRECTED);
    // So many MiB are more bytes than 64 bits hold.
    EXPECT_FALSE(d.Flags & EDAC_HAS_SIZE);
}

TEST_F(EdacTest, TheJoinMatchedUnmatchedAndWithoutSmbios) {
    const std::map<std::string, std::string> dimms = {
        {"dimm0/dimm_label", "NODE 0 DIMM_B1"}, {"dimm1/dimm_label", "CPU_SrcID#0_Ha#0_Chan#1_DIMM#0"},
        {"dimm2/dimm_label", "DIMM_A1"}};
    Install(dimms);
    // No SMBIOS table: every DIMM says so, and none is matched.
    auto info = Edac();
    ASSERT_EQ(info->DimmQuantity, 3u);
    for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(info->dimm[i].Flags, EDAC_DIMM_NO_SMBIOS) << i;

    qarvel::ResetProcessState(qarvel::Reset::Readers);
    PublishDimms();
    info = Edac();
    EXPECT_EQ(info->dimm[0].Flags, EDAC_DIMM_MATCHED);
    EXPECT_STREQ(info->dimm[0].Locator, "DIMM_B1");
    EXPECT_STREQ(info->dimm[0].BankLocator, "NODE 0");
    EXPECT_STREQ(info->dimm[0].PartNumber, "PN-16G");
    EXPECT_EQ(info->dimm[1].Flags, 0u);  // the kernel's own label names no device
    EXPECT_STREQ(info->dimm[1].Locator, "");
    EXPECT_STREQ(info->dimm[1].SerialNumber, "");
    EXPECT_STREQ(info->dimm[2].SerialNumber, "SN-A1");
}

TEST_F(EdacTest, AControllerWithoutDimmDirectories) {
    Install({{"mc_name", "Intel_10nm Socket#0 IMC#0"}, {"ce_count", "3"}, {"ce_noinfo_count", "3"}});
    Install({{"mc_name", "Intel_10nm Socket#1 IMC#0"}, {"ce_count", "0"}}, 12);
    Install({{"mc_name", "Intel_10nm Socket#0 IMC#1"}, {"ce_count", "1"}}, 2);
    auto info = Edac();
    ASSERT_EQ(info->ControllerQuantity, 3u);
    // By number: mc2 before mc12.
    EXPECT_EQ(info->controller[0].Number, 0u);
    EXPECT_EQ(info->controller[0].CorrectedNoInfo, 3u);
    EXPECT_EQ(info->controller[1].Number, 2u);
    EXPECT_EQ(info->controller[2].Number, 12u);
    EXPECT_EQ(info->controller[2].Flags, EDAC_HAS_CORRECTED);
    EXPECT_EQ(info->DimmQuantity, 0u);
}

TEST_F(EdacTest, NoDriverIsNotAvailableRatherThanNoErrors) {
    auto info = Edac(-1);
    EXPECT_EQ(info->ControllerQuantity, 0u);
    // The EDAC core loaded, no memory controller driver: the directory is there, empty.
    machine->files.add_directory("/sys/devices/system/edac/mc");
    Edac(-1);
    EXPECT_STREQ(qarvel::State().sources[SOURCE_EDAC].tried[0].why,
                 "no memory controller under /sys/devices/system/edac/mc");
    EXPECT_EQ(qarvel::State().sources[SOURCE_EDAC].answered, nullptr);
}

}  // namespace
