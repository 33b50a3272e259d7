// The index: the table is walked once, and a sweep of every command looks at a bounded
// number of structures however long the table is.
#include <cstring>
#include <memory>
#include <string>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "process/state.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

using Index = qtest::MachineTest;

struct Visits {
    unsigned int structures = 0;
    unsigned long long reading = 0;   // while the table was read and indexed
    unsigned long long sweeping = 0;  // by the ten commands after that
};

template <typename Record>
void Command(unsigned long command) {
    Record record;
    std::memset(&record, 0, sizeof record);
    EXPECT_EQ(GetInfo(command, &record), 0);
}

Visits Sweep(int structures) {
    auto m = std::make_shared<sim::Machine>();
    sim::use(m);
    qtest::ResetLibrary();
    sim::EntryPoint entry;
    entry.kind = sim::EntryPoint::SMBIOS3;  // 1700 structures need more than 16 bits of length
    entry.major = 3;
    entry.table_address = 0x100000;  // above the BIOS area, which a table this long would reach
    sim::place_smbios(*m, sim::inventory_table(structures), entry);
    Visits v;
    EXPECT_EQ(IsSmBiosSupport(), 1);
    if (!qarvel::State().bios) return v;
    v.structures = qarvel::State().bios->GetStructureCount();
    v.reading = qarvel::State().bios->Visits;
    Command<BaseBoardInformation>(INFO_BASE_BOARD);
    Command<SysInformation>(INFO_SYSTEM);
    Command<ProcessorInformation>(INFO_PROCESSOR);
    Command<MemoryInformation>(INFO_MEMORY);
    Command<IOInformation>(INFO_IO_PORT);
    Command<SystemPowerInformation>(INFO_POWER_SUPPLY);
    Command<SystemPowerInformation>(INFO_UPS);
    Command<FanInformation>(INFO_FAN);
    Command<VoltageInformation>(INFO_VOLTAGE);
    Command<TemperatureInformation>(INFO_TEMPERATURE);
    v.sweeping = qarvel::State().bios->Visits - v.reading;
    return v;
}

TEST_F(Index, ASweepOfSeventeenHundredStructuresVisitsEachABoundedNumberOfTimes) {
    Visits large = Sweep(1700);
    Visits double_size = Sweep(3400);
    ASSERT_EQ(large.structures, 1700u);
    ASSERT_EQ(double_size.structures, 3400u);
    // Reading looks at each structure once.
    EXPECT_EQ(large.reading, 1700u);
    EXPECT_EQ(double_size.reading, 3400u);
    // The commands look structures up through the index: what they look at is bounded by the
    // records they fill and the occurrences the getters count, not by the table, so twice
    // the table costs them nothing more.
    EXPECT_GT(large.sweeping, 0u);
    EXPECT_EQ(double_size.sweeping, large.sweeping);
    EXPECT_LE(large.reading + large.sweeping, 2u * large.structures)
        << "visits: " << large.reading << " reading, " << large.sweeping << " sweeping";
}

TEST_F(Index, HandlesFindTheirTypeAndOccurrencesStopAt255) {
    sim::SmbiosTable t;
    // A processor whose L1 handle is also the handle of a structure of another type, first in
    // the table; its L2 is the 256th cache, beyond the occurrences a lookup counts.
    t.add(0xC0, 0x06, 0x0100);
    sim::add_processor(t, {.handle = 0x0001, .l1 = 0x0100, .l2 = 0x0400});
    sim::add_cache(t, {.handle = 0x0100, .max_size = 32});
    for (int i = 0; i < 254; ++i) sim::add_cache(t, {.handle = 0x0200 + i, .max_size = 1});
    sim::add_cache(t, {.handle = 0x0400, .max_size = 512});
    t.end();
    sim::EntryPoint entry;
    entry.kind = sim::EntryPoint::SMBIOS3;
    entry.major = 3;
    Publish(t, entry);
    SmBios reader;
    ASSERT_EQ(reader.GetStructureCount(), 259u);
    char text[32] = {};
    EXPECT_EQ(reader.GetCacheMaxSize(1, 0, text), 0);
    EXPECT_STREQ(text, "32 KB");
    std::memset(text, 0, sizeof text);
    EXPECT_EQ(reader.GetCacheMaxSize(1, 1, text), -1);
    EXPECT_STREQ(text, "");
    std::unique_ptr<BiosDataItem> last(reader.GetItem(7, 255));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->GetHandle(), 0x0200 + 253);
}

}  // namespace
