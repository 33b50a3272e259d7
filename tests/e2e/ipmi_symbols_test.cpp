// The IPMI data that the library shows to its callers, and what it keeps inside.
#include <cstring>

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

}  // namespace
