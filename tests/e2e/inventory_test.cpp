// GetInfo through dlopen of the built libraries, records guarded by canaries.
#include <unistd.h>

#include "tests/e2e/library.h"

namespace {


TEST(SimulatedLibrary, SampleServerIdentity) {
    e2e::Library lib(QARVEL_SIM_LIBRARY);
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    auto* is_smbios = lib.function<int()>("IsSmBiosSupport");
    ASSERT_NE(get_info, nullptr);
    ASSERT_NE(is_smbios, nullptr);
    EXPECT_EQ(is_smbios(), 1);

    e2e::Guarded<BaseBoardInformation> board;
    ASSERT_EQ(get_info(INFO_BASE_BOARD, &board.record), 0);
    EXPECT_TRUE(board.canaries_intact());
    EXPECT_STREQ(board.record.Manufacturer, "Harrowgate Computing");
    EXPECT_STREQ(board.record.ProductName, "HG-S2D220");
    EXPECT_STREQ(board.record.RomVendor, "Larkspur Firmware Inc.");
    EXPECT_STREQ(board.record.RomVersion, "2.4.1");
    EXPECT_STREQ(board.record.RomReleaseDate, "03/14/2025");
    EXPECT_STREQ(board.record.SerialNo, "S2D220-38811");
    EXPECT_STREQ(board.record.AssetTag, "Asset-BB-0042");
    EXPECT_STREQ(board.record.RevisionLevel, "1.03");

    e2e::Guarded<SysInformation> system;
    ASSERT_EQ(get_info(INFO_SYSTEM, &system.record), 0);
    EXPECT_TRUE(system.canaries_intact());
    EXPECT_STREQ(system.record.manufacturer, "Harrowgate Computing");
    EXPECT_STREQ(system.record.SysProductName, "HG-R2200 Rack Server");
    EXPECT_STREQ(system.record.version, "Rev B");
}

TEST(SimulatedLibrary, CapturedMachineWithLongStringsStaysInsideItsFields) {
    // The Synology table's board strings are "To be filled by O.E.M." (22 characters), longer
    // than the 16-byte serial number field.
    e2e::Library lib(QARVEL_SIM_LIBRARY, QARVEL_TEST_DATA "/realdata/smbios/Synology-RS3614xsp");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    e2e::Guarded<BaseBoardInformation> board;
    ASSERT_EQ(get_info(INFO_BASE_BOARD, &board.record), 0);
    EXPECT_TRUE(board.canaries_intact());
    EXPECT_STREQ(board.record.SerialNo, "To be filled by");
    EXPECT_STREQ(board.record.Manufacturer, "Synology");
}

TEST(SimulatedLibrary, MissingMachineServesAnEmptyOneWithoutSmbios) {
    e2e::Library lib(QARVEL_SIM_LIBRARY, "/nonexistent/machine");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    e2e::Guarded<SysInformation> system;
    EXPECT_EQ(get_info(INFO_SYSTEM, &system.record), -1);
    EXPECT_TRUE(system.canaries_intact());
}

TEST(ExportedSymbols, OnlyTheInterfaceIsVisible) {
    for (const char* path : {QARVEL_LIBRARY, QARVEL_SIM_LIBRARY}) {
        e2e::Library lib(path);
        ASSERT_TRUE(lib.loaded()) << path << ": " << dlerror();
        for (const char* name : {"GetInfo", "IsSmBiosSupport", "release", "GetCpuUsageRate", "GetMemUsageRate",
                                 "ExecuteFirstTime"})
            EXPECT_NE(lib.symbol(name), nullptr) << path << " lacks " << name;
        // Internals stay inside: state, helpers, classes, the platform and the simulator.
        for (const char* name : {"bios", "NoEntersmBIOS", "itoa", "_ZN6SmBios7GetItemEhh",
                                 "_ZN8platform4openEPKci", "_ZN3sim7currentEv", "cp_time", "quantity",
                                 "retrieve_all_cpus", "_Z15RetrieveCpuTimei", "_Z14GetCpuQuantityv"})
            EXPECT_EQ(lib.symbol(name), nullptr) << path << " shows " << name;
    }
}

TEST(RealLibrary, WithoutPhysicalMemoryAccessSmbiosCommandsFail) {
    if (access("/dev/mem", R_OK) == 0) GTEST_SKIP() << "this machine lets us read /dev/mem";
    e2e::Library lib(QARVEL_LIBRARY, nullptr);
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    e2e::Guarded<BaseBoardInformation> board;
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_info(INFO_BASE_BOARD, &board.record), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("open /dev/mem"), std::string::npos);
    EXPECT_TRUE(board.canaries_intact());
}

}  // namespace
