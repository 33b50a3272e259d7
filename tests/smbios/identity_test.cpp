// BIOS, system and base-board identity getters.
#include <cstring>
#include <string>

#include "SmBios/SmBios.h"
#include "tests/support/fixture.h"

namespace {

using Identity = qtest::MachineTest;

// Runs a getter into a 64-byte buffer; "<-1>" when it reports the string missing.
template <typename Getter>
std::string Read(SmBios& reader, Getter getter, unsigned int length = 64) {
    char text[65] = {};
    if ((reader.*getter)(text, length) != 0) return "<-1>";
    return text;
}

TEST_F(Identity, EveryGetterReadsItsField) {
    Publish(qtest::IdentityTable());
    SmBios reader;
    EXPECT_EQ(Read(reader, &SmBios::GetBiosVendor), "Acme BIOS Works");
    EXPECT_EQ(Read(reader, &SmBios::GetBiosVersion), "V1.02");
    EXPECT_EQ(Read(reader, &SmBios::GetBiosReleaseDate), "01/02/2024");
    EXPECT_EQ(Read(reader, &SmBios::GetSysManufacturer), "Acme Systems");
    EXPECT_EQ(Read(reader, &SmBios::GetSysProductname), "Acme Server 9");
    EXPECT_EQ(Read(reader, &SmBios::GetSysVersion), "A1");
    EXPECT_EQ(Read(reader, &SmBios::GetSystemSerialNumber), "SYS-001");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardManufacturer), "Acme Boards");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardProduct), "MB-9");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardVersion), "1.0");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardSerialNo), "BRD-001");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardAssetTag), "TAG-1");
}

TEST_F(Identity, LongStringIsCutToTheBufferAndNothingIsWrittenAfterIt) {
    sim::SmbiosTable t;
    std::string version(40, 'v');
    version[30] = 'X';  // the last character that fits in 32 bytes
    version[31] = 'Y';
    t.add(0, 0x18).string(4, "Vendor").string(5, version);
    t.end();
    Publish(t);
    SmBios reader;

    char field[48];
    std::memset(field, '#', sizeof field);
    ASSERT_EQ(reader.GetBiosVersion(field, 32), 0);
    EXPECT_EQ(std::string(field, 31), version.substr(0, 31));
    EXPECT_EQ(field[30], 'X');
    for (int i = 31; i < 48; ++i) EXPECT_EQ(field[i], '#') << "byte " << i;
}

TEST_F(Identity, MissingStringsAndFieldsGiveMinusOneAndWriteNothing) {
    sim::SmbiosTable t;
    t.add(0, 0x18).byte(4, 0).string(5, "1.0").byte(8, 7);  // no vendor; date points past the set
    t.add(1, 6).string(4, "Short System Maker").byte(5, 0);  // formatted area ends before `version`
    t.end();
    Publish(t);
    SmBios reader;

    char field[16];
    std::memset(field, '#', sizeof field);
    EXPECT_EQ(reader.GetBiosVendor(field, sizeof field), -1);
    EXPECT_EQ(reader.GetBiosReleaseDate(field, sizeof field), -1);
    EXPECT_EQ(reader.GetSysProductname(field, sizeof field), -1);
    EXPECT_EQ(reader.GetSysVersion(field, sizeof field), -1);
    EXPECT_EQ(reader.GetSysManufacturer(nullptr, sizeof field), -1);
    EXPECT_EQ(reader.GetBoardManufacturer(field, sizeof field), -1);  // no base board at all
    for (char c : field) EXPECT_EQ(c, '#');
    EXPECT_EQ(Read(reader, &SmBios::GetSysManufacturer), "Short System Maker");
}

sim::Structure& AddBoard(sim::SmbiosTable& t, const std::string& maker, int contained) {
    auto& board = t.add(2, static_cast<std::uint8_t>(0x0F + 2 * contained));
    board.string(4, maker).string(5, maker + " product").string(7, maker + " serial");
    board.byte(14, static_cast<std::uint8_t>(contained));
    for (int i = 0; i < contained; ++i) board.word(15 + 2 * i, static_cast<std::uint16_t>(0x40 + i));
    return board;
}

TEST_F(Identity, OfSeveralBoardsTheFirstWithoutContainedObjectsIsDescribed) {
    sim::SmbiosTable t;
    AddBoard(t, "Chassis backplane", 2);
    AddBoard(t, "Main board", 0);
    AddBoard(t, "Riser", 0);
    t.end();
    Publish(t);
    SmBios reader;

    EXPECT_EQ(Read(reader, &SmBios::GetBoardManufacturer), "Main board");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardProduct), "Main board product");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardSerialNo, 8), "Main bo");
}

TEST_F(Identity, SeveralBoardsThatAllContainObjectsDescribeNone) {
    sim::SmbiosTable t;
    AddBoard(t, "First", 1);
    AddBoard(t, "Second", 3);
    t.end();
    Publish(t);
    SmBios reader;

    EXPECT_EQ(Read(reader, &SmBios::GetBoardManufacturer), "<-1>");
    EXPECT_EQ(Read(reader, &SmBios::GetBoardSerialNo), "<-1>");
}

TEST_F(Identity, ASingleBoardIsUsedWhateverItContains) {
    sim::SmbiosTable t;
    AddBoard(t, "Only board", 4);
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Read(reader, &SmBios::GetBoardManufacturer), "Only board");
}

TEST_F(Identity, ABoardTooShortToCountContainedObjectsIsChosen) {
    sim::SmbiosTable t;
    AddBoard(t, "Container", 1);
    t.add(2, 8).string(4, "Old short board");  // SMBIOS 2.0 boards stop after the serial number
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Read(reader, &SmBios::GetBoardManufacturer), "Old short board");
}

}  // namespace
