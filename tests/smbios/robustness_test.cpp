// Damaged tables: every read stays inside the copied table, whatever the firmware says.
// These run under AddressSanitizer in the x86-64 build, where a stray read fails the test.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SmBios/SmBios.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

using Damage = qtest::MachineTest;

// Every getter of the reader, plus a walk over every type; returns how many succeeded so
// the work cannot be optimised away.
int ExerciseEverything(SmBios& reader) {
    using Getter = int (SmBios::*)(char*, unsigned int);
    const Getter getters[] = {
        &SmBios::GetBiosVendor,         &SmBios::GetBiosVersion,       &SmBios::GetBiosReleaseDate,
        &SmBios::GetSysManufacturer,    &SmBios::GetSysProductname,    &SmBios::GetSysVersion,
        &SmBios::GetSystemSerialNumber, &SmBios::GetBoardManufacturer, &SmBios::GetBoardProduct,
        &SmBios::GetBoardVersion,       &SmBios::GetBoardSerialNo,     &SmBios::GetBoardAssetTag,
    };
    int found = 0;
    char text[33];
    for (Getter g : getters) {
        std::memset(text, 0, sizeof text);
        if ((reader.*g)(text, 32) == 0) ++found;
        EXPECT_EQ(text[32], 0);
    }
    for (int type : {0, 1, 2, 4, 7, 17, 127}) {
        std::unique_ptr<BiosDataItem> item(reader.GetItem(static_cast<unsigned char>(type), 1));
        if (!item) continue;
        for (int i = 1; i <= 21; ++i)
            if (const char* s = item->GetString(i)) found += s[0] != 0;
    }
    return found;
}

std::vector<std::uint8_t> RealTable(const std::string& machine) {
    auto dump = sim::read_file(qtest::DataPath("realdata/smbios/" + machine + "/smbios.bin"));
    EXPECT_TRUE(dump.has_value());
    if (!dump) return {};
    return std::vector<std::uint8_t>(dump->begin() + 0x20, dump->end());
}

std::uint16_t RealCount(const std::string& machine) {
    auto dump = sim::read_file(qtest::DataPath("realdata/smbios/" + machine + "/smbios.bin"));
    return dump ? static_cast<std::uint16_t>(static_cast<unsigned char>((*dump)[28]) |
                                             static_cast<unsigned char>((*dump)[29]) << 8)
                : 0;
}

TEST_F(Damage, TableCutShortAtEveryLengthIsReadSafely) {
    const auto table = RealTable("SuperMicro-X9DBL");
    const auto count = RealCount("SuperMicro-X9DBL");
    ASSERT_GT(table.size(), 1000u);
    int answers_from_whole_table = 0;
    // Behind a 3.x entry point the walk has no count to stop it, only the end-of-table
    // structure and the bytes held; read from sysfs, the table is exactly the bytes served.
    sim::EntryPoint smbios3;
    smbios3.kind = sim::EntryPoint::SMBIOS3;
    smbios3.major = 3;
    int answers_as_smbios3 = 0;
    for (std::size_t length = 0; length <= table.size(); ++length) {
        std::vector<std::uint8_t> cut(table.begin(), table.begin() + static_cast<long>(length));
        for (const sim::EntryPoint& entry : {sim::EntryPoint{}, smbios3}) {
            sim::Machine m;
            m.kernel = entry.kind == sim::EntryPoint::SMBIOS3 ? sim::Kernel::Current : sim::Kernel::Classic;
            sim::place_smbios(m, cut, entry, count);
            sim::use(std::shared_ptr<sim::Machine>(&m, [](sim::Machine*) {}));
            SmBios reader;
            int found = ExerciseEverything(reader);
            if (length < table.size()) continue;
            (entry.kind == sim::EntryPoint::SMBIOS3 ? answers_as_smbios3 : answers_from_whole_table) = found;
        }
    }
    EXPECT_GE(answers_from_whole_table, 12);
    EXPECT_EQ(answers_as_smbios3, answers_from_whole_table);
}

TEST_F(Damage, EveryByteOverwrittenIsReadSafely) {
    const auto table = RealTable("Synology-RS3614xsp");
    const auto count = RealCount("Synology-RS3614xsp");
    ASSERT_GT(table.size(), 1000u);
    // Zero ends strings early and fakes double NULs; 0xFF makes lengths and string numbers
    // as large as they come; 0x04 makes a header claim a formatted area of only itself.
    for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x04}}) {
        for (std::size_t at = 0; at < table.size(); ++at) {
            sim::Machine m;
            auto damaged = table;
            damaged[at] = value;
            sim::place_smbios(m, damaged, sim::EntryPoint{}, count);
            sim::use(std::shared_ptr<sim::Machine>(&m, [](sim::Machine*) {}));
            SmBios reader;
            ExerciseEverything(reader);
        }
    }
}

TEST_F(Damage, StringSetWithoutDoubleNulEndsTheWalk) {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, "vendor");
    t.add(1, 0x1B).string(4, "maker");
    auto bytes = t.bytes();
    bytes.pop_back();  // the system structure's closing NUL goes; the table ends in "maker\0"
    sim::place_smbios(*machine, bytes, sim::EntryPoint{}, 2);
    SmBios reader;

    std::unique_ptr<BiosDataItem> bios(reader.GetItem(0, 1));
    EXPECT_NE(bios, nullptr);
    EXPECT_EQ(reader.GetItem(1, 1), nullptr);
}

TEST_F(Damage, FormattedLengthPastTheTableOrShorterThanAHeaderEndsTheWalk) {
    for (std::uint8_t length : {std::uint8_t{0xFF}, std::uint8_t{0}, std::uint8_t{3}}) {
        sim::SmbiosTable t;
        t.add(0, 0x18).string(4, "vendor");
        t.add(1, 0x1B).string(4, "maker");
        auto bytes = t.bytes();
        bytes[t.structures[0].bytes().size() + 1] = length;
        sim::Machine m;
        sim::place_smbios(m, bytes, sim::EntryPoint{}, 2);
        sim::use(std::shared_ptr<sim::Machine>(&m, [](sim::Machine*) {}));
        SmBios reader;
        EXPECT_EQ(reader.GetItem(1, 1), nullptr) << "length " << int(length);
        std::unique_ptr<BiosDataItem> bios(reader.GetItem(0, 1));
        EXPECT_NE(bios, nullptr);
    }
}

}  // namespace
