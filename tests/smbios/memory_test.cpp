// Memory getters: the module source, the device source, the total and the bank list.
#include <cstring>
#include <functional>
#include <string>

#include "SmBios/SmBios.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

using Memory = qtest::MachineTest;

std::string Text(const std::function<int(char*)>& getter) {
    char buffer[80] = {};
    int result = getter(buffer);
    return std::string(buffer) + (result == -1 ? "|-1" : "");
}

// Four devices of one DIMM each, as many desktop boards describe them.
void AddDevice(sim::SmbiosTable& t, const std::string& locator, std::uint16_t size, std::uint16_t speed = 800) {
    sim::add_memory_device(t, {.size = size, .device_locator = locator, .bank_locator = "BANK" + locator.substr(4),
                               .memory_type = 0x12, .type_detail = 0x0080, .speed = speed,
                               .manufacturer = "Maker " + locator});
}

TEST_F(Memory, ModuleSourceTakesInstalledModulesOnly) {
    sim::SmbiosTable t;
    sim::add_memory_controller(t, {.modules = {0x0010, 0x0011}});
    sim::add_memory_module(t, {.handle = 0x0010, .designation = "DIMM1", .speed = 60, .type = 0x0100,
                               .installed_size = 7});
    sim::add_memory_module(t, {.handle = 0x0011, .designation = "DIMM2", .installed_size = 0x7F});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.ExistMemCtl(), 1);
    EXPECT_EQ(reader.ExistMemModule(), 1);
    EXPECT_EQ(reader.GetMemModuleQuantity(), 2);
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSize(0x10, b); }), "128 MB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSize(0x11, b); }), "");  // not installed: 0, nothing
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSize(0x12, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSpeed(0x10, b); }), "60 ns");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSpeed(0x11, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleLocate(0x10, b, 64); }), "DIMM1");
    EXPECT_EQ(reader.GetMemBankConnector(0x10), 0xFF);
    EXPECT_EQ(reader.GetMemBankConnector(0), -1);

    LocalMemInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(reader.GetMemoryInformation(&info), 0);
    EXPECT_EQ(info.quantity, 1);
    EXPECT_EQ(info.TotalSize, 128);
    EXPECT_STREQ(info.bank[0].size, "128 MB");
    EXPECT_STREQ(info.bank[0].type, "DIMM");
    EXPECT_STREQ(info.bank[0].speed, "60 ns");
    EXPECT_EQ(info.bank[0].SlotNumber, 1);
    EXPECT_STREQ(info.bank[0].manufacturer, "");  // no memory devices to match
    EXPECT_EQ(info.bank[1].size[0], '\0');        // the record was cleared
    EXPECT_EQ(reader.GetMemoryInformation(nullptr), -1);
}

TEST_F(Memory, ModulesTakeTypeDetailAndMakerFromTheDeviceWithTheirLocator) {
    sim::SmbiosTable t;
    sim::add_memory_controller(t, {.modules = {0x20}});
    sim::add_memory_module(t, {.handle = 0x20, .designation = "DIMM 1A", .type = 0x0010, .installed_size = 9});
    AddDevice(t, "DIMM0A", 512);
    AddDevice(t, "DIMM1A", 512);  // "DIMM 1A" trimmed of its blank matches this one
    t.end();
    Publish(t);
    SmBios reader;
    char locator[16] = "DIMM 1A";
    EXPECT_EQ(reader.GetProperMemDev(locator), 2);
    EXPECT_STREQ(locator, "DIMM1A");
    EXPECT_EQ(reader.GetProperMemDev(nullptr), 0);

    LocalMemInfo info;
    ASSERT_EQ(reader.GetMemoryInformation(&info), 0);
    ASSERT_EQ(info.quantity, 1);
    EXPECT_STREQ(info.bank[0].size, "512 MB");
    EXPECT_STREQ(info.bank[0].type, "EDO");
    EXPECT_STREQ(info.bank[0].TypeDetail, "Synchronous");
    EXPECT_STREQ(info.bank[0].manufacturer, "Maker DIMM1A");
    EXPECT_EQ(info.bank[0].SlotNumber, 5);
}

TEST_F(Memory, ControllerWithoutUsableModuleHandlesLeavesItToTheDevices) {
    // A zero handle in the list, and a list longer than the structure holds: either way
    // ExistMemModule is 0 and the devices describe the memory.
    for (sim::MemoryController controller : {sim::MemoryController{.modules = {0x10, 0x0000}},
                                                 sim::MemoryController{.length = 17, .modules = {0x10, 0x11}}}) {
        qtest::ResetLibrary();
        machine = std::make_shared<sim::Machine>();
        sim::use(machine);
        sim::SmbiosTable t;
        sim::add_memory_controller(t, controller);
        sim::add_memory_module(t, {.handle = 0x10, .installed_size = 7});
        AddDevice(t, "DIMM0A", 256);
        t.end();
        Publish(t);
        SmBios reader;
        EXPECT_EQ(reader.ExistMemCtl(), 1);
        EXPECT_EQ(reader.ExistMemModule(), 0);
        LocalMemInfo info;
        ASSERT_EQ(reader.GetMemoryInformation(&info), 0);
        ASSERT_EQ(info.quantity, 1);
        EXPECT_STREQ(info.bank[0].size, "256 MB");
        EXPECT_EQ(info.TotalSize, 128);  // the total still counts the module first
    }
}

TEST_F(Memory, DeviceSourceSkipsEmptySlotsAndReadsSlotNumbers) {
    sim::SmbiosTable t;
    AddDevice(t, "DIMM0A", 512, 667);
    AddDevice(t, "DIMM0B", 0);
    AddDevice(t, "DIMM1A", 512);
    AddDevice(t, "DIMM1B", 0xFFFF);
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.ExistMemCtl(), 0);
    EXPECT_EQ(reader.ExistMemDev(), 1);
    char size[16] = {};
    EXPECT_EQ(reader.GetMemDevSize(2, size), 1);
    EXPECT_STREQ(size, "No Mem Device");

    LocalMemInfo info;
    ASSERT_EQ(reader.GetMemoryInformation(&info), 0);
    ASSERT_EQ(info.quantity, 3);
    EXPECT_EQ(info.TotalSize, 1024);
    EXPECT_STREQ(info.bank[0].size, "512 MB");
    EXPECT_STREQ(info.bank[0].speed, "667 MHZ");
    EXPECT_STREQ(info.bank[0].type, "DDR");
    EXPECT_STREQ(info.bank[0].TypeDetail, "Synchronous");
    EXPECT_STREQ(info.bank[0].manufacturer, "Maker DIMM0A");
    EXPECT_STREQ(info.bank[2].size, "Unknown");
    EXPECT_EQ(info.bank[0].SlotNumber, 1);  // 4 * 0 + 1
    EXPECT_EQ(info.bank[1].SlotNumber, 5);  // 4 * 1 + 1
    EXPECT_EQ(info.bank[2].SlotNumber, 6);  // 4 * 1 + 2
}

TEST_F(Memory, SlotNumberIsTheLastQualifyingDigit) {
    struct Case {
        const char* locator;
        int slot;
    };
    const Case cases[] = {
        {"DIMM12", 2}, {"DIMM1A", 5}, {"DIMM1B", 6}, {"DIMM0A", 1}, {"DIMM 3", 3},
        {"P1-DIMM2C", 0}, {"A", 0}, {"CPU1 DIMM7", 7}, {"2B-X", 10},
    };
    sim::SmbiosTable t;
    for (const Case& c : cases)
        sim::add_memory_device(t, {.size = 1024, .device_locator = c.locator, .bank_locator = "Bank",
                                   .memory_type = 0x12});
    t.end();
    Publish(t);
    SmBios reader;
    LocalMemInfo info;
    ASSERT_EQ(reader.GetMemoryInformation(&info), 0);
    ASSERT_EQ(info.quantity, 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(info.bank[i].SlotNumber, cases[i].slot) << cases[i].locator;
}

TEST_F(Memory, DeviceSizesAndTheirTexts) {
    sim::SmbiosTable t;
    sim::add_memory_device(t, {.size = 0x8400, .device_locator = "DIMM0", .bank_locator = "Bank 0"});  // 1024 KB
    sim::add_memory_device(t, {.size = 0x4000, .device_locator = "DIMM1", .bank_locator = "Bank 1"});  // 16 GB
    sim::add_memory_device(t, {.size = 0xFFFF, .device_locator = "DIMM2", .bank_locator = "Bank 2"});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(1, b); }), "1024 KB");
    EXPECT_EQ(reader.GetMemDevSize(1), 1);
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(2, b); }), "16384 MB");
    EXPECT_EQ(reader.GetMemDevSize(2), 16384);
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(3, b); }), "Unknown");
    EXPECT_EQ(reader.GetMemDevSize(3), 0);
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(4, b); }), "|-1");
    EXPECT_EQ(reader.GetMemDevSize(4), 0);
    EXPECT_EQ(reader.GetMemoryTotalSize(), 1 + 16384);
}

TEST_F(Memory, TypeTextsOfModulesAndDevices) {
    sim::SmbiosTable t;
    sim::add_memory_module(t, {.handle = 0x10, .type = (1 << 8) | (1 << 10), .installed_size = 6});
    sim::add_memory_module(t, {.handle = 0x11, .type = (1 << 2) | (1 << 6), .installed_size = 6});
    sim::add_memory_module(t, {.handle = 0x12, .type = 0, .installed_size = 6});
    sim::add_memory_device(t, {.device_locator = "A", .memory_type = 0x0F, .type_detail = (1 << 7) | (1 << 8)});
    sim::add_memory_device(t, {.device_locator = "B", .memory_type = 0x16, .type_detail = 0xFFFF});
    sim::add_memory_device(t, {.device_locator = "C", .memory_type = 0x02, .type_detail = 0xE001});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleType(0x10, b); }), " SDRAM");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleType(0x11, b); }), "ECC");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleType(0x12, b); }), "");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevType(1, b); }), "SDRAM");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevType(2, b); }), "Unknown");  // 0x16 is reserved
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevTypeDetail(1, b); }), "SynchronousCMOS");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevTypeDetail(3, b); }), "");  // bits 0, 13-15

    // Every bit: the texts run together and stop where the 32-byte field ends.
    char field[40];
    std::memset(field, '#', sizeof field);
    field[0] = '\0';
    EXPECT_EQ(reader.GetMemDevTypeDetail(2, field), 0);
    EXPECT_STREQ(field, "otherUnknownFast-pagedStatic co");
    EXPECT_EQ(field[32], '#');
    // It appends to what the buffer holds.
    char appended[32] = "ECC,";
    EXPECT_EQ(reader.GetMemDevTypeDetail(1, appended), 0);
    EXPECT_STREQ(appended, "ECC,SynchronousCMOS");
}

TEST_F(Memory, PresenceOfUsableDevices) {
    struct Case {
        const char* device_locator;
        const char* bank_locator;
        std::uint16_t size;
        int exists;
    };
    const Case cases[] = {
        {"A0", "Bank0/1", 0, 1},     // "Bank" whatever the size
        {"A0", "BANK 0", 512, 1},    // "BANK" with a size
        {"A0", "BANK 0", 0, 0},      // "BANK" with an empty slot
        {"P1-DIMM1A", "P0", 0, 1},   // "DIMM" in the device locator
        {"ChannelA-Dimm0", "", 0, 0},  // no bank locator string: the walk stops there
        {"SLOT 1", "Node 0", 512, 0},
    };
    for (const Case& c : cases) {
        qtest::ResetLibrary();
        machine = std::make_shared<sim::Machine>();
        sim::use(machine);
        sim::SmbiosTable t;
        sim::add_memory_device(t, {.size = c.size, .device_locator = c.device_locator, .bank_locator = c.bank_locator});
        t.end();
        Publish(t);
        SmBios reader;
        EXPECT_EQ(reader.ExistMemDev(), c.exists) << c.device_locator << " / " << c.bank_locator;
        LocalMemInfo info;
        EXPECT_EQ(reader.GetMemoryInformation(&info), c.exists ? 0 : -1);
    }
}

TEST_F(Memory, TotalsCountLargeMachinesWithoutWrapping) {
    // 96 GB in six 16 GB devices: 98304 MB, more than a 16-bit count holds.
    sim::SmbiosTable t;
    for (int i = 0; i < 6; ++i)
        sim::add_memory_device(t, {.size = 0x4000, .device_locator = "DIMM" + std::to_string(i), .bank_locator = "Bank"});
    // Devices that are not working memory do not count.
    sim::add_memory_device(t, {.size = 0x4000, .device_locator = "ROM", .bank_locator = "Bank", .memory_type = 9});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetMemoryTotalSize(), 98304);

    // 1 TB of 2^13 MB modules, and so many that the count saturates rather than wraps.
    qtest::ResetLibrary();
    machine = std::make_shared<sim::Machine>();
    sim::use(machine);
    sim::SmbiosTable modules;
    for (int i = 0; i < 128; ++i) sim::add_memory_module(modules, {.installed_size = 13});
    modules.end();
    Publish(modules);
    SmBios big;
    EXPECT_EQ(big.GetMemoryTotalSize(), 1048576);

    qtest::ResetLibrary();
    machine = std::make_shared<sim::Machine>();
    sim::use(machine);
    sim::SmbiosTable huge;
    for (int i = 0; i < 3; ++i) sim::add_memory_module(huge, {.installed_size = 30});  // 2^30 MB each
    huge.end();
    Publish(huge);
    SmBios biggest;
    EXPECT_EQ(biggest.GetMemoryTotalSize(), 2147483647);
}

TEST_F(Memory, MappedAddressesAreTheLastSourceAndCountKilobytes) {
    sim::SmbiosTable t;
    // Sizes the devices do not tell: the mapped ranges of these devices give the total.
    sim::add_memory_device(t, {.handle = 0x40, .size = 0xFFFF, .device_locator = "DIMM0", .bank_locator = "Bank"});
    sim::add_memory_device(t, {.handle = 0x41, .size = 0xFFFF, .device_locator = "DIMM1", .bank_locator = "Bank"});
    // 4 GB and 92 GB, the last kilobyte inclusive: 96 GB in all.
    sim::add_memory_device_mapped_address(t, {.start = 0, .end = 0x3FFFFF, .device = 0x40});
    sim::add_memory_device_mapped_address(t, {.start = 0x400000, .end = 0x5FFFFFF, .device = 0x41});
    // A range of a device that is not listed, one running backwards, and the 2.7 marker
    // that sends readers to the 64-bit addresses.
    sim::add_memory_device_mapped_address(t, {.start = 0, .end = 0xFFFFF, .device = 0x77});
    sim::add_memory_device_mapped_address(t, {.start = 0x200000, .end = 0x100000, .device = 0x40});
    sim::add_memory_device_mapped_address(t, {.start = 0xFFFFFFFF, .end = 0xFFFFFFFF, .device = 0x41});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetMemoryTotalSize(), 98304);
}

TEST_F(Memory, ShortDevicesAndModulesReadTheirMissingFieldsAsAbsent) {
    sim::SmbiosTable t;
    // SMBIOS 2.1/2.2: 21 bytes, no speed and no manufacturer.
    sim::add_memory_device(t, {.length = 0x15, .size = 2048, .device_locator = "DIMM_A1", .bank_locator = "BANK 0",
                               .memory_type = 0x12, .type_detail = 0x0080, .speed = 400, .manufacturer = "never"});
    // Cut before the size.
    sim::add_memory_device(t, {.length = 0x0C, .size = 2048});
    sim::add_memory_module(t, {.length = 9, .handle = 0x30, .designation = "SIMM1", .speed = 70, .installed_size = 5});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(1, b); }), "2048 MB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSpeed(1, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevManufacturer(1, b, 32); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevTypeDetail(1, b); }), "Synchronous");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevLocator(1, b, 64); }), "DIMM_A1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(2, b); }), "No Mem Device");
    // The module ends before its size: not installed.
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSize(0x30, b); }), "");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleSpeed(0x30, b); }), "70 ns");
    EXPECT_EQ(reader.GetMemoryTotalSize(), 2048);
}

TEST_F(Memory, LocatorsAreReadOnlyFromStringOne) {
    sim::SmbiosTable t;
    sim::Structure& device = sim::add_memory_device(t, {.size = 512, .bank_locator = "Bank 0"});
    device.string(16, "DIMM0");  // the device locator is string 2
    sim::Structure& module = sim::add_memory_module(t, {.handle = 0x10, .installed_size = 7});
    module.add_string("unused");
    module.string(4, "DIMM0");
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevLocator(1, b, 64); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemModuleLocate(0x10, b, 64); }), "|-1");
    char wanted[] = "DIMM0";
    EXPECT_EQ(reader.GetProperMemDev(wanted), 0);
}

TEST_F(Memory, ModuleHandlesAreValidFrom1To127) {
    sim::SmbiosTable t;
    sim::add_memory_controller(t, {.modules = {0x7F, 0x80, 0x10}});
    sim::add_memory_module(t, {.handle = 0x7F, .installed_size = 8});
    sim::add_memory_module(t, {.handle = 0x80, .installed_size = 8});
    sim::add_memory_module(t, {.handle = 0x10, .installed_size = 8});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetValidMemModuleHandle(0), 0x7F);
    EXPECT_EQ(reader.GetValidMemModuleHandle(1), 0);
    EXPECT_EQ(reader.GetValidMemModuleHandle(2), 0x10);
    EXPECT_EQ(reader.GetValidMemModuleHandle(3), 0);
    EXPECT_EQ(reader.GetValidMemModuleHandle(-1), 0);
    EXPECT_EQ(reader.GetMemModuleQuantity(), 1);  // the count stops at the first invalid handle
    LocalMemInfo info;
    ASSERT_EQ(reader.GetMemoryInformation(&info), 0);
    EXPECT_EQ(info.quantity, 1);
    EXPECT_EQ(info.TotalSize, 768);
}

TEST_F(Memory, SeventeenPopulatedSlotsFillSixteenBanks) {
    sim::SmbiosTable t;
    for (int i = 0; i < 17; ++i)
        sim::add_memory_device(t, {.size = 1024, .device_locator = "DIMM" + std::to_string(i % 10),
                                   .bank_locator = "Bank", .memory_type = 0x12});
    t.end();
    Publish(t);
    SmBios reader;
    struct {
        LocalMemInfo info;
        unsigned char after[64];
    } guarded;
    std::memset(guarded.after, 0xC5, sizeof guarded.after);
    ASSERT_EQ(reader.GetMemoryInformation(&guarded.info), 0);
    EXPECT_EQ(guarded.info.quantity, 16);
    EXPECT_EQ(guarded.info.TotalSize, 17 * 1024);
    for (unsigned char c : guarded.after) EXPECT_EQ(c, 0xC5);
}

}  // namespace
