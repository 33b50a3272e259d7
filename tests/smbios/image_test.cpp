// The reader built from an image held in memory, with no machine behind it: the BIOS-area
// scan, a dump's table bounds, an image without an entry point. (Real tables decoded from
// images are checked beside the sources, in sources_test.cpp.)
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SmBios/SmBios.h"
#include "tests/support/fixture.h"

namespace {

using Image = qtest::MachineTest;

TEST_F(Image, NoEntryPointIsNoTableButATableOfNoBytesIsOne) {
    SmBios none{SmBiosImage()};
    EXPECT_EQ(none.IsInitOK(), 0);
    EXPECT_EQ(none.IsMatchSmBios(), 0);
    EXPECT_EQ(none.IsMatchDMI(), 0);

    // A 2.x entry point that declares an empty table: the reader works and finds nothing.
    sim::EntryPoint where;
    const auto entry = sim::entry_point_bytes(where, 0, 0, 0);
    SmBiosImage image;
    image.HoldEntryPoint(entry.data(), static_cast<unsigned int>(entry.size()));
    ASSERT_TRUE(image.AllocateTable(0));
    SmBios empty(image);
    EXPECT_EQ(empty.IsInitOK(), 1);
    EXPECT_EQ(empty.IsMatchSmBios(), 1);
    EXPECT_EQ(empty.GetStructureCount(), 0u);
    EXPECT_EQ(empty.GetItem(0, 1), nullptr);
}

TEST_F(Image, ADumpCutShortKeepsItsWholeStructuresAndReadsZerosAfter) {
    const sim::SmbiosTable table = qtest::IdentityTable();
    auto dump = sim::dump_bin(table);
    const std::size_t whole = dump.size();
    // Cut inside the base board's formatted area, after its string numbers: the BIOS and
    // system structures stay whole, the board's strings are gone.
    const auto bytes = table.bytes();
    const std::size_t boardAt = 0x20 + table.structures[0].bytes().size() + table.structures[1].bytes().size();
    dump.resize(boardAt + 0x08);

    SmBiosImage image;
    ASSERT_TRUE(SmBiosImageFromDump(dump.data(), dump.size(), image));
    ASSERT_EQ(image.tableLength, whole - 0x20);  // the length the entry point declares
    EXPECT_EQ(std::memcmp(image.table.get(), bytes.data(), dump.size() - 0x20), 0);
    for (std::size_t i = dump.size() - 0x20; i < image.tableLength; ++i)
        ASSERT_EQ(image.table[i], 0) << "byte " << i << " past the end of the file";

    SmBios reader(image);
    ASSERT_EQ(reader.IsInitOK(), 1);
    char text[32] = {};
    EXPECT_EQ(reader.GetSysManufacturer(text, sizeof text), 0);
    EXPECT_STREQ(text, "Acme Systems");
    // The zeros end the board's formatted area and its empty string set.
    EXPECT_EQ(reader.GetStructureCount(), 3u);
    std::memset(text, 0, sizeof text);
    reader.GetBoardManufacturer(text, sizeof text);
    EXPECT_STREQ(text, "");

    // A table that would start past the end of the file: no dump.
    dump.resize(0x1F);
    SmBiosImage none;
    EXPECT_FALSE(SmBiosImageFromDump(dump.data(), dump.size(), none));
}

// A BIOS area as the memory source holds it, with entry points written at the given offsets.
std::vector<unsigned char> Area() { return std::vector<unsigned char>(kBiosAreaHeld, 0); }
void Put(std::vector<unsigned char>& area, std::size_t at, const std::vector<std::uint8_t>& bytes) {
    std::memcpy(area.data() + at, bytes.data(), bytes.size());
}

TEST_F(Image, TheBiosAreaScanTakesA3xThenA2xThenALegacyEntryPoint) {
    sim::EntryPoint legacy, v2, v3;
    legacy.kind = sim::EntryPoint::DMI;
    v3.kind = sim::EntryPoint::SMBIOS3;
    v3.major = 3;
    const sim::SmbiosTable table = qtest::IdentityTable();
    const auto bytes = table.bytes();
    // The table inside the area, for the 2.x entry point; the others point at nothing held.
    v2.table_address = 0xF8000;
    auto area = Area();
    Put(area, 0x100, sim::entry_point_bytes(legacy, 0x40, 1, 0));
    Put(area, 0x8000, bytes);

    SmBiosImage image;
    ASSERT_TRUE(FindBiosAreaEntryPoint(area.data(), image));
    EXPECT_EQ(std::memcmp(image.entryPoint, "_DMI_", 5), 0);

    Put(area, 0x200, sim::entry_point_bytes(v2, static_cast<std::uint32_t>(bytes.size()), table.count(), 0));
    ASSERT_TRUE(FindBiosAreaEntryPoint(area.data(), image));
    EXPECT_EQ(std::memcmp(image.entryPoint, "_SM_", 4), 0);
    ASSERT_TRUE(image.TakeTable(area.data(), kBiosAreaRead, kBiosAreaBase));
    ASSERT_EQ(image.tableLength, bytes.size());
    EXPECT_EQ(std::memcmp(image.table.get(), bytes.data(), bytes.size()), 0);
    SmBios reader(image);
    char text[32] = {};
    EXPECT_EQ(reader.GetBoardProduct(text, sizeof text), 0);
    EXPECT_STREQ(text, "MB-9");

    // A 3.x anchor whose checksum is off hides nothing; a good one is taken first.
    auto three = sim::entry_point_bytes(v3, 0x40, 0, 0);
    three[5] = static_cast<std::uint8_t>(three[5] + 1);
    Put(area, 0x300, three);
    ASSERT_TRUE(FindBiosAreaEntryPoint(area.data(), image));
    EXPECT_EQ(std::memcmp(image.entryPoint, "_SM_", 4), 0);
    Put(area, 0x400, sim::entry_point_bytes(v3, 0x40, 0, 0));
    ASSERT_TRUE(FindBiosAreaEntryPoint(area.data(), image));
    EXPECT_EQ(std::memcmp(image.entryPoint, "_SM3_", 5), 0);
    // Its table lies outside the area: zeros, and the reader finds no structure in them.
    ASSERT_TRUE(image.TakeTable(area.data(), kBiosAreaRead, kBiosAreaBase));
    ASSERT_EQ(image.tableLength, 0x40u);
    EXPECT_EQ(std::string(image.table.get(), image.tableLength), std::string(0x40, '\0'));

    EXPECT_FALSE(FindBiosAreaEntryPoint(Area().data(), image));
}

}  // namespace
