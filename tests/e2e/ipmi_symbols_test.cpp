// The IPMI data and classes that the library shows to its callers, and what it keeps inside.
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/library.h"

namespace {

TEST(IpmiSymbols, DataTablesAndDeviceStateAreExported) {
    for (const char* path : {QARVEL_LIBRARY, QARVEL_SIM_LIBRARY}) {
        e2e::Library lib(path);
        ASSERT_TRUE(lib.loaded()) << path << ": " << dlerror();
        // Nothing has touched the BMC yet: no descriptor, not ready.
        auto* device = static_cast<int*>(lib.symbol("hDevice"));
        auto* ready = static_cast<int*>(lib.symbol("InitOK"));
        ASSERT_NE(device, nullptr) << path;
        ASSERT_NE(ready, nullptr) << path;
        EXPECT_EQ(*device, 0);
        EXPECT_EQ(*ready, 0);

        auto* units = static_cast<const char* const*>(lib.symbol("SensorsUnit"));
        auto* entities = static_cast<const char* const*>(lib.symbol("SensorsEntityID"));
        auto* types = static_cast<const char* const*>(lib.symbol("SensorsType"));
        ASSERT_NE(units, nullptr) << path;
        ASSERT_NE(entities, nullptr) << path;
        ASSERT_NE(types, nullptr) << path;
        EXPECT_STREQ(units[4], "V");
        EXPECT_STREQ(units[90], "uncorrectable error");
        EXPECT_STREQ(entities[3], "processor");
        EXPECT_STREQ(types[4], "Fan");

        for (const char* name : {"EventDesc", "_ZN6Sensor16GetSensorNumbersEi", "_ZN3sim3Bmc6handleERKNS_10BmcRequestE"})
            EXPECT_EQ(lib.symbol(name), nullptr) << path << " shows " << name;
    }
}

// The facade and the FRU reader are classes a C++ caller may hold (mangled names worked
// out by hand from the Itanium C++ ABI); the sensor reader, the export layer's state and the
// simulator stay inside.
TEST(IpmiSymbols, FacadeAndFruClassesAreExportedAndNothingElse) {
    for (const char* path : {QARVEL_LIBRARY, QARVEL_SIM_LIBRARY}) {
        e2e::Library lib(path);
        ASSERT_TRUE(lib.loaded()) << path << ": " << dlerror();
        for (const char* name : {"_ZN11IPMIsupportC1Ev", "_ZN11IPMIsupportD1Ev", "_ZN11IPMIsupport16SetWatchDogTimerEhi",
                                 "_ZN11IPMIsupport17GetLANChannelInfoEP11ChannelInfo",
                                 "_ZN11IPMIsupport19GetProductAssertTagEPc", "_ZN3FRUC1Ev", "_ZN3FRU10GetFRUInfoEv",
                                 "_ZN3FRU14GetProductNameEPc", "_ZN3FRU13Decode6BitASCEPhiS0_i",
                                 "_ZN8IPMIbase8IsInitOKEv", "_ZN8IPMIbase15IpmiSrtringCopyEPcS0_ii"})
            EXPECT_NE(lib.symbol(name), nullptr) << path << " lacks " << name;
        for (const char* name : {"pIPMI", "NoEnterIPMI", "NoEnterWatchDogTimer", "IPMIGetSensorInfoOK",
                                 "NoEnterGetThreshold", "NoEnterSetThreshold", "_ZN6SensorC1Ev"})
            EXPECT_EQ(lib.symbol(name), nullptr) << path << " shows " << name;

        // Every defined dynamic symbol is an export, exported data, or a member of the three
        // classes, as nm demangles them.
        const std::set<std::string> plain = {
            "GetInfo", "IsSmBiosSupport", "release", "GetIpmiInfo", "IsIpmiSupport", "GetAllThresholdInfo",
            "GetThresholdInfo", "SetThresholdInfo", "SetWatchDogTimer", "ResetWatchDogTimer", "StopWatchDogTimer",
            "GetWatchDogTimer", "GetBMCVersion", "GetSourceName", "GetHealthInfo", "GetCpuUsageRate", "GetMemUsageRate", "ExecuteFirstTime",
            "GetInfoPage", "GetIpmiInfoPage", "GetAllThresholdInfoPage", "GetThresholdInfoPage", "GetCpuUsageRatePage",
            "hDevice", "InitOK", "SensorsUnit", "SensorsEntityID", "SensorsType",
            "GetSelInfo", "GetSelEntries", "ClearSel"};
        FILE* pipe = popen((std::string("nm -DC --defined-only '") + path + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string listing;
        char chunk[4096];
        std::size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) listing.append(chunk, n);
        ASSERT_EQ(pclose(pipe), 0) << "nm failed on " << path;
        std::set<std::string> seen;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            // "ADDRESS TYPE NAME", the name possibly with spaces.
            std::size_t name_at = line.find(' ', line.find(' ') + 1) + 1;
            std::string name = line.substr(name_at);
            seen.insert(name);
            bool member = name.rfind("IPMIsupport::", 0) == 0 || name.rfind("FRU::", 0) == 0 ||
                          name.rfind("IPMIbase::", 0) == 0;
            for (const char* kind : {"typeinfo for ", "typeinfo name for ", "vtable for "})
                for (const char* type : {"IPMIsupport", "FRU", "IPMIbase"})
                    member = member || name == std::string(kind) + type;
            EXPECT_TRUE(member || plain.count(name)) << path << " shows " << name;
        }
        for (const std::string& name : plain) EXPECT_TRUE(seen.count(name)) << path << " lacks " << name;
    }
}

}  // namespace
