// Processor and cache getters.
#include <cstring>
#include <functional>
#include <string>

#include "SmBios/SmBios.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

using Processors = qtest::MachineTest;

// What a getter leaves in a zeroed buffer, followed by "|-1" when it reports failure.
std::string Text(const std::function<int(char*)>& getter) {
    char buffer[80] = {};
    int result = getter(buffer);
    return std::string(buffer) + (result == -1 ? "|-1" : "");
}

sim::EntryPoint Version(int major, int minor) {
    sim::EntryPoint entry;
    entry.major = static_cast<std::uint8_t>(major);
    entry.minor = static_cast<std::uint8_t>(minor);
    return entry;
}

TEST_F(Processors, FamilyCodesReadThroughTheTable) {
    sim::SmbiosTable t;
    for (int family : {2, 22, 48, 0, 179, 177, 208, 255, 1})
        sim::add_processor(t, {.family = static_cast<std::uint8_t>(family)});
    t.end();
    Publish(t);
    SmBios reader;
    auto family = [&](int n) { return Text([&](char* b) { return reader.GetProcessorFamily(n, b); }); };
    EXPECT_EQ(family(1), "Unknown");  // 2 is SMBIOS "Unknown" and not in our list
    EXPECT_EQ(family(2), "Unknown");  // 22 is a gap of the list
    EXPECT_EQ(family(3), "Alpha Family3");
    EXPECT_EQ(family(4), "Unknown");
    EXPECT_EQ(family(5), "Intel Xeon");
    EXPECT_EQ(family(6), "Pentium III Processor with Intel SpeedStep Technology");
    EXPECT_EQ(family(7), "Unknown");  // 208 too
    EXPECT_EQ(family(8), "Unknown");
    EXPECT_EQ(family(9), "Other");
    EXPECT_EQ(family(10), "|-1");
}

TEST_F(Processors, SpeedsVoltageAndStrings) {
    sim::SmbiosTable t;
    sim::add_processor(t, {.socket = "CPU1", .manufacturer = "Acme Silicon", .version = "Acme X9 @ 3.0GHz",
                           .voltage = 0x02, .external_clock = 133, .max_speed = 3600, .current_speed = 3000,
                           .serial = "SN-77"});
    // Bit 7 marks a current-voltage encoding; only the low four bits are read.
    sim::add_processor(t, {.voltage = 0x86, .external_clock = 0, .max_speed = 0, .current_speed = 0});
    sim::add_processor(t, {.voltage = 0x05});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorMaxSpeed(1, b); }), "3600 MHZ");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorCurrentSpeed(1, b); }), "3000 MHZ");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorExternalClock(1, b); }), "133 MHZ");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorVoltage(1, b); }), "3.3V");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorManufacturer(1, b, 48); }), "Acme Silicon");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorVersion(1, b, 8); }), "Acme X9");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorSerialNo(1, b, 16); }), "SN-77");

    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorMaxSpeed(2, b); }), "Unknown|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorCurrentSpeed(2, b); }), "Unknown|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorExternalClock(2, b); }), "0 MHZ");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorVoltage(2, b); }), "2.9V or 3.3V");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorVoltage(3, b); }), "Unknown");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorManufacturer(2, b, 48); }), "|-1");

    // A processor that is not there: -1 and nothing written.
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorMaxSpeed(4, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorVoltage(0, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorStatus(4, b); }), "|-1");
}

TEST_F(Processors, PopulatedAndEnabledProcessorsAreCountedApart) {
    sim::SmbiosTable t;
    sim::add_processor(t, {.status = 0x41});  // populated, enabled
    sim::add_processor(t, {.status = 0x40});  // populated, status unknown
    sim::add_processor(t, {.status = 0x01});  // enabled but not populated
    sim::add_processor(t, {.status = 0x43});  // populated, disabled by the BIOS
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetProcessorVirtualQuantity(), 4);
    EXPECT_EQ(reader.GetProcessorQuantity(), 2);
    char status = 0;
    EXPECT_EQ(reader.GetProcessorStatus(4, &status), 0);
    EXPECT_EQ(status, 0x43);
}

TEST_F(Processors, AtMostSixteenProcessorsAreSeen) {
    sim::SmbiosTable t;
    for (int i = 0; i < 20; ++i) sim::add_processor(t, {});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetProcessorVirtualQuantity(), 16);
    EXPECT_EQ(reader.GetProcessorQuantity(), 16);
    // The structures past 16 are still there for the single-processor getters.
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorVoltage(20, b); }), "Unknown");
}

TEST_F(Processors, CacheSizesSpeedsAndDesignations) {
    sim::SmbiosTable t;
    sim::add_cache(t, {.handle = 0x30, .designation = "L1 Cache", .max_size = 0x8004, .installed_size = 0x0200,
                       .speed = 15});
    sim::add_cache(t, {.handle = 0x31, .designation = "L2 Cache", .max_size = 0xFFFF, .installed_size = 0,
                       .speed = 0});
    sim::add_processor(t, {.l1 = 0x30, .l2 = 0x31, .l3 = 0x99});
    t.end();
    Publish(t);
    SmBios reader;
    // 0x8004: bit 15 counts 64 KB units, 4 * 64; 0x0200: 512 units of 1 KB.
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, 0, b); }), "256 KB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheInstalledSize(1, 0, b); }), "512 KB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheSpeed(1, 0, b); }), "15ns");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheDesignation(1, 0, b, 32); }), "L1 Cache");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheDesignation(1, 0, b, 3); }), "L1");
    // 0xFFFF: 0x7FFF units of 64 KB.
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, 1, b); }), "2097088 KB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheInstalledSize(1, 1, b); }), "0 KB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheSpeed(1, 1, b); }), "Unknown|-1");
    // The same through the handle.
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSizePrivate(0x30, b); }), "256 KB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheDesignationPrivate(0x31, b, 32); }), "L2 Cache");
    // A handle that names no cache, a level that does not exist, a missing processor.
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, 2, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheSpeedPrivate(0x99, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, 3, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, -1, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(2, 0, b); }), "|-1");
}

TEST_F(Processors, MissingCacheTextFollowsTheTableVersion) {
    sim::SmbiosTable t;
    sim::add_processor(t, {.l1 = 0xFFFF, .l2 = 0xFFFF, .l3 = 0xFFFF});
    t.end();
    struct Case {
        sim::EntryPoint entry;
        const char* text;
    };
    sim::EntryPoint dmi;
    dmi.kind = sim::EntryPoint::DMI;
    const Case cases[] = {
        {Version(2, 2), "None"},              // 0xFFFF: the processor has no such cache
        {Version(2, 0), "None"},
        {Version(2, 3), "Bios Not Provide"},  // 0xFFFF: the BIOS does not say
        {Version(2, 8), "Bios Not Provide"},
        {Version(3, 0), ""},
        {dmi, ""},
    };
    for (const Case& c : cases) {
        qtest::ResetLibrary();
        machine = std::make_shared<sim::Machine>();
        sim::use(machine);
        Publish(t, c.entry);
        SmBios reader;
        ASSERT_EQ(reader.IsInitOK(), 1);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, 2, b); }), c.text);
        EXPECT_EQ(Text([&](char* b) { return reader.GetCacheInstalledSize(1, 0, b); }), c.text);
        EXPECT_EQ(Text([&](char* b) { return reader.GetCacheSpeed(1, 1, b); }), c.text);
        EXPECT_EQ(Text([&](char* b) { return reader.GetCacheDesignation(1, 2, b, 32); }), c.text);
        // Bounded like any string copy.
        std::string cut = std::string(c.text).substr(0, 4);
        EXPECT_EQ(Text([&](char* b) { return reader.GetCacheDesignation(1, 2, b, 5); }), cut);
    }
}

TEST_F(Processors, ShortStructuresOfOlderVersionsLackTheirLaterFields) {
    sim::SmbiosTable t;
    sim::add_cache(t, {.handle = 0x40, .max_size = 64});
    // SMBIOS 2.0: 26 bytes, no cache handles and no serial number.
    sim::add_processor(t, {.length = 0x1A, .manufacturer = "Old Silicon", .max_speed = 200, .status = 0x41,
                           .l1 = 0x40, .serial = "never"});
    // SMBIOS 2.1/2.2: 32 bytes, cache handles but no serial number.
    sim::add_processor(t, {.length = 0x20, .max_speed = 450, .l1 = 0x40, .serial = "never"});
    // Cut inside the speeds: the maximum speed word is only half there.
    sim::add_processor(t, {.length = 0x15, .external_clock = 66, .max_speed = 300, .status = 0x41});
    t.end();
    Publish(t, Version(2, 2));
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorManufacturer(1, b, 32); }), "Old Silicon");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorMaxSpeed(1, b); }), "200 MHZ");
    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(1, 0, b); }), "None");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorSerialNo(1, b, 16); }), "|-1");

    EXPECT_EQ(Text([&](char* b) { return reader.GetCacheMaxSize(2, 0, b); }), "64 KB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorSerialNo(2, b, 16); }), "|-1");

    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorExternalClock(3, b); }), "66 MHZ");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorMaxSpeed(3, b); }), "Unknown|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorStatus(3, b); }), "|-1");
    // Without a status byte the third processor is not counted as populated.
    EXPECT_EQ(reader.GetProcessorQuantity(), 2);
    EXPECT_EQ(reader.GetProcessorVirtualQuantity(), 3);
}

}  // namespace
