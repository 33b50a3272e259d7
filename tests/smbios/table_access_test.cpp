// Finding the entry point, copying the table, walking structures and reading strings.
#include <cstring>
#include <memory>
#include <string>

#include "SmBios/SmBios.h"
#include "tests/support/fixture.h"

namespace {

using qtest::MachineTest;

std::string Vendor(SmBios& reader) {
    char text[64] = {};
    if (reader.GetBiosVendor(text, sizeof text) != 0) return "<none>";
    return text;
}

sim::SmbiosTable TableWithVendor(const std::string& vendor) {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, vendor);
    t.end();
    return t;
}

using EntryPointSearch = MachineTest;

TEST_F(EntryPointSearch, SmbiosAnchorWinsOverALowerStandAloneDmiAnchor) {
    sim::EntryPoint dmi;
    dmi.kind = sim::EntryPoint::DMI;
    dmi.address = 0xF0000;
    dmi.table_address = 0x80000;
    Publish(TableWithVendor("legacy table"), dmi);
    sim::EntryPoint sm;
    sm.address = 0xF5430;
    sm.table_address = 0x90000;
    Publish(TableWithVendor("smbios table"), sm);

    SmBios reader;
    EXPECT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(reader.IsMatchSmBios(), 1);
    EXPECT_EQ(reader.IsMatchDMI(), 0);
    EXPECT_EQ(Vendor(reader), "smbios table");
}

TEST_F(EntryPointSearch, DmiAnchorAloneIsUsedButIsNotSmbios) {
    sim::EntryPoint dmi;
    dmi.kind = sim::EntryPoint::DMI;
    dmi.address = 0xFFFE0;  // the last position searched
    Publish(TableWithVendor("legacy table"), dmi);

    SmBios reader;
    EXPECT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(reader.IsMatchSmBios(), 0);
    EXPECT_EQ(reader.IsMatchDMI(), 1);
    EXPECT_EQ(Vendor(reader), "legacy table");
}

TEST_F(EntryPointSearch, AnchorsOffThe16ByteGridOrOutsideTheBiosAreaAreNotFound) {
    // 0xF0804: neither `_SM_` nor the `_DMI_` inside it (at +16) sits on the grid.
    sim::EntryPoint off_grid;
    off_grid.address = 0xF0804;
    Publish(TableWithVendor("hidden"), off_grid);
    sim::EntryPoint below;
    below.address = 0xEFF00;
    Publish(TableWithVendor("hidden"), below);

    SmBios reader;
    EXPECT_EQ(reader.IsInitOK(), 0);
    EXPECT_EQ(reader.IsMatchSmBios(), 0);
    EXPECT_EQ(reader.IsMatchDMI(), 0);
    EXPECT_EQ(reader.GetItem(0, 1), nullptr);
    EXPECT_EQ(reader.GetItem(1, 1), nullptr);
}

TEST_F(EntryPointSearch, EntryPointAtTheLastPositionIsCopiedWhole) {
    sim::EntryPoint last;
    last.address = 0xFFFE0;  // its 31 bytes run to 0xFFFFE, past the 0xFFF0 bytes scanned
    last.table_address = 0x7FFF8;
    Publish(TableWithVendor("at the edge"), last);

    SmBios reader;
    ASSERT_EQ(reader.IsMatchSmBios(), 1);
    // The scanned area ends at 0xFFFF0: the count and version bytes beyond it read as zero,
    // so no structure can be walked, but nothing is read outside the scan buffer.
    EXPECT_EQ(reader.SmBiosEntry.HowManyStructures, 0);
    EXPECT_EQ(reader.GetItem(0, 1), nullptr);
}

TEST_F(EntryPointSearch, TableIsReadFromAnyAddressIncludingAcrossA64KBoundary) {
    sim::EntryPoint entry;
    entry.table_address = 0x8FFF9;  // starts 7 bytes before a 64 KB boundary
    Publish(qtest::IdentityTable(), entry);

    SmBios reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(reader.BiosDataLength, qtest::IdentityTable().bytes().size());
    EXPECT_EQ(std::memcmp(reader.BiosData, qtest::IdentityTable().bytes().data(), reader.BiosDataLength), 0);
    EXPECT_EQ(reader.BiosData[reader.BiosDataLength], 0);
    EXPECT_EQ(reader.BiosData[reader.BiosDataLength + 1], 0);
    EXPECT_EQ(Vendor(reader), "Acme BIOS Works");
}

using StructureWalk = MachineTest;

TEST_F(StructureWalk, OccurrencesAreCountedPerType) {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, "bios");
    t.add(4, 0x23).string(4, "CPU1");
    t.add(7, 0x13).string(4, "L1");
    t.add(4, 0x23).string(4, "CPU2");
    t.end();
    Publish(t);
    SmBios reader;

    std::unique_ptr<BiosDataItem> second(reader.GetItem(4, 2));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetHandle(), 3);
    EXPECT_STREQ(second->GetString(1), "CPU2");
    EXPECT_EQ(reader.GetItem(4, 3), nullptr);
    EXPECT_EQ(reader.GetItem(4, 0), nullptr);
    EXPECT_EQ(reader.GetItem(9, 1), nullptr);
}

TEST_F(StructureWalk, BiosStructureIsFoundByTypeEvenBehindOemStructuresAndWhateverN) {
    sim::SmbiosTable t;
    t.add(218, 0x0B).string(4, "OEM first string");
    t.add(222, 0x10).string(4, "more OEM data");
    t.add(0, 0x18).string(4, "Real BIOS Vendor").string(5, "9.9");
    t.end();
    Publish(t);
    SmBios reader;

    std::unique_ptr<BiosDataItem> bios(reader.GetItem(0, 5));
    ASSERT_NE(bios, nullptr);
    EXPECT_EQ(bios->GetType(), 0);
    EXPECT_EQ(Vendor(reader), "Real BIOS Vendor");
}

TEST_F(StructureWalk, StructureCountLargerThanTheTableEndsAtTheTableEnd) {
    sim::EntryPoint entry;
    entry.count_override = 500;
    Publish(qtest::IdentityTable(), entry);
    SmBios reader;

    EXPECT_EQ(reader.GetItem(17, 1), nullptr);
    std::unique_ptr<BiosDataItem> board(reader.GetItem(2, 1));
    ASSERT_NE(board, nullptr);
    EXPECT_STREQ(board->GetString(2), "MB-9");
}

TEST_F(StructureWalk, StructureCountSmallerThanTheTableHidesTheRest) {
    sim::EntryPoint entry;
    entry.count_override = 2;
    Publish(qtest::IdentityTable(), entry);
    SmBios reader;

    std::unique_ptr<BiosDataItem> system(reader.GetItem(1, 1));
    EXPECT_NE(system, nullptr);
    EXPECT_EQ(reader.GetItem(2, 1), nullptr);
}

TEST_F(StructureWalk, ItemKeepsFormattedAreaAndStringSet) {
    sim::SmbiosTable t;
    t.add(1, 0x1B).string(4, "Maker").string(5, "Model").byte(0x18, 6);
    t.end();
    Publish(t);
    SmBios reader;

    std::unique_ptr<BiosDataItem> item(reader.GetItem(1, 1));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetFormatedDataLength(), 0x1B);
    EXPECT_EQ(item->GetFormatedData()[0x18], 6);
    EXPECT_EQ(item->GetFormatedData(), reader.BiosData);  // a view of the table, not a copy
    // The structure ends at the second NUL after its last string.
    EXPECT_EQ(item->GetEndAddress(), reader.BiosData + 0x1B + sizeof("Maker") + sizeof("Model"));
    unsigned short word;
    EXPECT_FALSE(item->GetWord(0x1A, word));  // runs one byte past the formatted area
    unsigned char byte;
    EXPECT_TRUE(item->GetByte(0x1A, byte));
}

using Strings = MachineTest;

TEST_F(Strings, StructureWithoutStrings) {
    sim::SmbiosTable t;
    t.add(32, 0x0B);
    t.end();
    Publish(t);
    SmBios reader;

    std::unique_ptr<BiosDataItem> item(reader.GetItem(32, 1));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetEndAddress(), reader.BiosData + 0x0B + 1);
    ASSERT_NE(item->GetString(1), nullptr);
    EXPECT_STREQ(item->GetString(1), "");
    EXPECT_EQ(item->GetString(3), nullptr);
    EXPECT_EQ(item->GetString(0), nullptr);
}

TEST_F(Strings, OnlyTheFirstTwentyStringsAreReachable) {
    sim::SmbiosTable t;
    auto& s = t.add(11, 5);
    s.byte(4, 21);
    for (int i = 1; i <= 21; ++i) s.add_string("string " + std::to_string(i));
    t.end();
    Publish(t);
    SmBios reader;

    std::unique_ptr<BiosDataItem> item(reader.GetItem(11, 1));
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->GetString(1), "string 1");
    EXPECT_STREQ(item->GetString(20), "string 20");
    EXPECT_EQ(item->GetString(21), nullptr);
    EXPECT_EQ(item->GetString(255), nullptr);
}

TEST_F(Strings, OnePastTheLastStringIsEmptyAndTwoPastIsNull) {
    sim::SmbiosTable t;
    auto& s = t.add(11, 5);
    s.add_string("one");
    s.add_string("two");
    t.end();
    Publish(t);
    SmBios reader;

    std::unique_ptr<BiosDataItem> item(reader.GetItem(11, 1));
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->GetString(2), "two");
    ASSERT_NE(item->GetString(3), nullptr);
    EXPECT_STREQ(item->GetString(3), "");
    EXPECT_EQ(item->GetString(4), nullptr);
}

using Trim = MachineTest;

TEST_F(Trim, DropsEverythingOutsideDigitsAndLetters) {
    char text[] = "DIMM 1A\t(#2)";
    SmBios reader;
    reader.trim(text);
    EXPECT_STREQ(text, "DIMM1A2");
    char plain[] = "Bank_0";
    reader.trim(plain);
    EXPECT_STREQ(plain, "Bank_0");  // '_' lies between '0' and 'z'
}

TEST(Itoa, WritesDecimalWhateverTheRadix) {
    char text[16];
    EXPECT_STREQ(itoa(-1234, text, 16), "-1234");
    EXPECT_STREQ(itoa(0, text, 2), "0");
}

}  // namespace
