// Fields and codes of current firmware: extended memory sizes and mapped addresses, devices
// without bank locators, Processor Family 2, and the texts of codes added to SMBIOS since.
#include <cstring>
#include <functional>
#include <string>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

using CurrentFirmware = qtest::MachineTest;

std::string Text(const std::function<int(char*)>& getter) {
    char buffer[96] = {};
    getter(buffer);
    return buffer;
}

MemoryInformation Memory() {
    MemoryInformation record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(GetInfo(INFO_MEMORY, &record), 0);
    return record;
}

// A 2.7 memory device whose size word says "see the Extended Size".
sim::Structure& AddLargeDimm(sim::SmbiosTable& t, int slot, std::uint32_t megabytes) {
    return sim::add_memory_device(t, {.length = 0x28, .size = 0x7FFF,
                                      .device_locator = "DIMM" + std::to_string(slot % 10) + "A",
                                      .bank_locator = "BANK " + std::to_string(slot), .memory_type = 0x22,
                                      .speed = 4800})
        .dword(0x1C, megabytes);
}

TEST_F(CurrentFirmware, ExtendedSizesCountInBanksAndInTheTotalBeyondATerabyte) {
    sim::SmbiosTable t;
    for (int slot = 0; slot < 15; ++slot) AddLargeDimm(t, slot, 65536);  // 64 GB
    AddLargeDimm(t, 15, 131072 | 0x80000000u);  // 128 GB; bit 31 is reserved and not part of it
    // Firmware before 2.7 had no Extended Size: 0x7FFF is then 32767 MB, as it says.
    sim::add_memory_device(t, {.length = 0x1B, .size = 0x7FFF, .device_locator = "DIMM9B", .bank_locator = "BANK 16"});
    t.end();
    Publish(t);

    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(1, b); }), "65536 MB");
    EXPECT_EQ(reader.GetMemDevSize(16), 131072);
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevSize(17, b); }), "32767 MB");
    EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevType(1, b); }), "DDR5");

    MemoryInformation memory = Memory();
    EXPECT_EQ(memory.TotalSize, 15 * 65536 + 131072 + 32767);  // more than 1 TiB in MB
    EXPECT_EQ(memory.quantity, 16);                            // the record holds 16 banks
    EXPECT_STREQ(memory.bank[0].size, "65536 MB");
    EXPECT_STREQ(memory.bank[15].size, "131072 MB");
    EXPECT_STREQ(memory.bank[0].type, "DDR5");
}

TEST_F(CurrentFirmware, ExtendedMappedAddressesCountInTheTotal) {
    sim::SmbiosTable t;
    // Devices of unknown size: the total comes from their mapped ranges.
    std::uint16_t first = sim::add_memory_device(t, {.size = 0xFFFF, .device_locator = "DIMM0", .bank_locator = "BANK 0"})
                              .handle();
    std::uint16_t second = sim::add_memory_device(t, {.size = 0xFFFF, .device_locator = "DIMM1", .bank_locator = "BANK 1"})
                               .handle();
    const std::uint64_t tib = 1ULL << 40;
    auto extended = [&](std::uint16_t device, std::uint64_t start, std::uint64_t end, std::uint8_t length) {
        auto& range = sim::add_memory_device_mapped_address(
            t, {.length = length, .start = 0xFFFFFFFF, .end = 0xFFFFFFFF, .device = device});
        if (length >= 0x23) range.qword(0x13, start).qword(0x1B, end);
    };
    extended(first, 0, tib - 1, 0x23);            // 1 TiB
    extended(second, 5 * tib, 6 * tib - 1, 0x23);  // 1 TiB above 4 TiB, out of reach of 32-bit kilobytes
    extended(second, 8 * tib, 7 * tib, 0x23);      // ends before it starts: not counted
    extended(second, 0, tib - 1, 0x13);            // marked, but too short to hold the addresses
    sim::add_memory_device_mapped_address(t, {.start = 0, .end = 1024 * 1024 - 1, .device = second});  // 1 GB
    t.end();
    Publish(t);

    MemoryInformation memory = Memory();
    EXPECT_EQ(memory.TotalSize, 2 * 1024 * 1024 + 1024);
    EXPECT_EQ(memory.quantity, 2);
}

TEST_F(CurrentFirmware, DevicesWithoutBankLocatorsStillGiveTheTotal) {
    // QEMU's table: "DIMM 0" and no bank locator, no mapped range per device.
    sim::SmbiosTable t;
    t.add(16, 0x17, 0x1000).byte(5, 3).dword(7, 8 * 1024 * 1024).word(13, 2);
    sim::add_memory_device(t, {.length = 0x28, .size = 4096, .device_locator = "DIMM 0", .memory_type = 0x07});
    sim::add_memory_device(t, {.length = 0x28, .size = 2048, .device_locator = "DIMM 1", .memory_type = 0x07});
    t.add(19, 0x1F).dword(4, 0).dword(8, 6 * 1024 * 1024 - 1).word(12, 0x1000).byte(14, 2);
    t.end();
    Publish(t);

    SmBios reader;
    LocalMemInfo local;
    EXPECT_EQ(reader.GetMemoryInformation(&local), -1);  // no bank source
    EXPECT_EQ(local.TotalSize, 6144);

    MemoryInformation memory = Memory();
    EXPECT_EQ(memory.TotalSize, 6144);
    EXPECT_EQ(memory.quantity, 0);
    for (unsigned char byte : std::string(reinterpret_cast<const char*>(&memory.bank), sizeof memory.bank))
        ASSERT_EQ(byte, 0x5A);  // no bank is written
}

TEST_F(CurrentFirmware, ProcessorFamiliesOfTheByteAndOfProcessorFamily2) {
    sim::SmbiosTable t;
    auto cpu = [&](std::uint8_t family, int family2, std::uint8_t length) {
        auto& s = sim::add_processor(t, {.length = length, .family = family});
        if (family2 >= 0) s.word(0x28, static_cast<std::uint16_t>(family2));
    };
    cpu(0xFE, 0x0101, 0x2A);  // ARMv8: only Processor Family 2 can hold it
    cpu(0xFE, 0x006B, 0x30);  // the word may also repeat a code the byte could hold
    cpu(0x6B, -1, 0x23);      // Zen in the byte
    cpu(0xFE, -1, 0x23);      // 0xFE in a structure too short for the word
    cpu(0xB3, 0x0101, 0x2A);  // the byte rules when it is not 0xFE: the old text
    cpu(0x30, -1, 0x23);
    cpu(0xC6, -1, 0x23);
    cpu(0xFE, 0x0202, 0x2A);
    cpu(0xFE, 0x0300, 0x2A);  // no family has that code yet
    t.end();
    Publish(t);
    SmBios reader;
    const char* expected[] = {"ARMv8", "Zen", "Zen", "Unknown", "Intel Xeon", "Alpha Family3", "Core i7", "RV128",
                              "Unknown"};
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(Text([&](char* b) { return reader.GetProcessorFamily(n, b); }), expected[n - 1]) << "processor " << n;
}

TEST_F(CurrentFirmware, MemoryPortAndOnBoardDeviceTextsOfCurrentCodes) {
    sim::SmbiosTable t;
    for (std::uint8_t type : {0x12, 0x13, 0x18, 0x1A, 0x1F, 0x23, 0x24, 0x25, 0x15, 0x09})
        sim::add_memory_device(t, {.size = 1024, .memory_type = type});
    for (std::uint8_t type : {0x12, 0x13, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0xA0})
        sim::add_port(t, {.port_type = type});
    sim::add_on_board_devices(t, {{0x85}, {0x09}, {0x0F}, {0x90}, {0x11}, {0x02}});
    t.end();
    Publish(t);
    SmBios reader;

    const char* memory[] = {"DDR", "DDR2", "DDR3", "DDR4", "Logical non-volatile device", "LPDDR5", "HBM3",
                            "Unknown", "Unknown", "FLASH"};
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(Text([&](char* b) { return reader.GetMemDevType(n, b); }), memory[n - 1]) << "device " << n;

    const char* ports[] = {"PCMCIA Type II", "PCMCIA Type II", "Network Port", "SATA", "SAS",
                           "MFDP (Multi-Function Display Port)", "Thunderbolt", "Unknown", "8251 Compatible"};
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(Text([&](char* b) { return reader.GetPortType(n, b); }), ports[n - 1]) << "port " << n;

    const char* devices[] = {"EtherNet", "SATA Controller", "NVMe Controller", "UFS Controller", "Unknown", "Unknown"};
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevType(n, b); }), devices[n - 1]) << "device " << n;

    // The bank's type field is 24 bytes: the longest name is cut there.
    MemoryInformation record;
    std::memset(&record, 0, sizeof record);
    sim::SmbiosTable banks;
    sim::add_memory_device(banks, {.size = 1024, .device_locator = "DIMM0", .bank_locator = "BANK 0",
                                   .memory_type = 0x1F});
    banks.end();
    auto fresh = std::make_shared<sim::Machine>();
    sim::place_smbios(*fresh, banks);
    sim::use(fresh);
    qtest::ResetLibrary();
    ASSERT_EQ(GetInfo(INFO_MEMORY, &record), 0);
    EXPECT_STREQ(record.bank[0].type, "Logical non-volatile de");
}

TEST_F(CurrentFirmware, BaseBoardAssetTagAndRevisionAreFilledAndCut) {
    sim::SmbiosTable t;
    t.add(2, 0x0F)
        .string(4, "Board maker")
        .string(5, "Board")
        .string(6, "Revision 1.23 of 2026")
        .string(7, "S-1")
        .string(8, "An asset tag that runs well past thirty-two characters");
    t.end();
    Publish(t);
    BaseBoardInformation board;
    std::memset(&board, 0, sizeof board);
    ASSERT_EQ(GetInfo(INFO_BASE_BOARD, &board), 0);
    EXPECT_EQ(std::string(board.AssetTag, sizeof board.AssetTag), std::string("An asset tag that runs well pas") + '\0');
    EXPECT_EQ(std::string(board.RevisionLevel, sizeof board.RevisionLevel), std::string("Revision 1.23 o") + '\0');
    EXPECT_STREQ(board.Manufacturer, "Board maker");
}

}  // namespace
