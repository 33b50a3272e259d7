// Where the table comes from: the kernel's sysfs copy, /dev/mem read, or /dev/mem mapped, on
// classic and current kernels, under lockdown and above the end of RAM; SMBIOS 3 entry points.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

// Everything the ten SMBIOS commands and the support query give, as bytes.
struct Sweep {
    int supported = -2;
    std::vector<int> results;
    std::string records;
    std::string source;  // "(none)" when no method answered
};

template <typename Record>
void Run(Sweep& sweep, unsigned long command) {
    Record record;
    std::memset(&record, 0, sizeof record);
    sweep.results.push_back(GetInfo(command, &record));
    sweep.records.append(reinterpret_cast<const char*>(&record), sizeof record);
}

Sweep SweepAll() {
    qtest::ResetLibrary();
    Sweep s;
    s.supported = IsSmBiosSupport();
    Run<BaseBoardInformation>(s, INFO_BASE_BOARD);
    Run<SysInformation>(s, INFO_SYSTEM);
    Run<ProcessorInformation>(s, INFO_PROCESSOR);
    Run<MemoryInformation>(s, INFO_MEMORY);
    Run<IOInformation>(s, INFO_IO_PORT);
    Run<SystemPowerInformation>(s, INFO_POWER_SUPPLY);
    Run<SystemPowerInformation>(s, INFO_UPS);
    Run<FanInformation>(s, INFO_FAN);
    Run<VoltageInformation>(s, INFO_VOLTAGE);
    Run<TemperatureInformation>(s, INFO_TEMPERATURE);
    const char* name = SmBiosSourceName();
    s.source = name ? name : "(none)";
    return s;
}

const std::vector<int> kAllFailed(10, -1);

sim::SmbiosTable TableWithVendorOnly(const std::string& vendor) {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, vendor);
    t.end();
    return t;
}
const std::vector<int> kAllAnswered(10, 0);

// The machine a test builds; each variant gets a fresh one.
std::shared_ptr<sim::Machine> Fresh(sim::Kernel kernel) {
    auto m = std::make_shared<sim::Machine>();
    m->kernel = kernel;
    sim::use(m);
    return m;
}

// --- method parity on captured tables ----------------------------------------------------------

std::vector<std::uint8_t> ReadDump(const std::string& path) {
    auto bytes = sim::read_file(path);
    EXPECT_TRUE(bytes.has_value()) << path;
    return bytes ? std::vector<std::uint8_t>(bytes->begin(), bytes->end()) : std::vector<std::uint8_t>{};
}

class MethodParity : public qtest::MachineTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(MethodParity, SysfsReadAndMappedMemoryGiveTheSameRecords) {
    const auto dump = ReadDump(GetParam());
    ASSERT_FALSE(dump.empty());
    std::string error;

    // A current kernel: its sysfs copy answers and /dev/mem is never opened.
    auto current = Fresh(sim::Kernel::Current);
    ASSERT_TRUE(sim::place_dump(*current, dump, error)) << error;
    Sweep sysfs = SweepAll();
    EXPECT_EQ(sysfs.source, "sysfs");
    EXPECT_EQ(current->count(sim::Access::Open, "/dev/mem"), 0u);

    // A classic kernel: the BIOS area is scanned and the table read.
    auto classic = Fresh(sim::Kernel::Classic);
    ASSERT_TRUE(sim::place_dump(*classic, dump, error)) << error;
    Sweep read = SweepAll();
    EXPECT_EQ(read.source, "/dev/mem");
    EXPECT_EQ(classic->count(sim::Access::Map, "/dev/mem"), 0u);

    // The table above the end of RAM (896 MB, where an i386 kernel's direct map ends): read()
    // fails there with EFAULT, and a mapping reaches it.
    auto high = Fresh(sim::Kernel::Classic);
    high->memory.limit = 0x38000000;
    sim::EntryPoint where;
    where.table_address = 0xBFF7B010;
    ASSERT_TRUE(sim::place_dump(*high, dump, error, where)) << error;
    Sweep mapped = SweepAll();
    EXPECT_EQ(mapped.source, "/dev/mem mmap");
    EXPECT_EQ(high->count(sim::Access::Map, "/dev/mem"), 1u);

    EXPECT_EQ(sysfs.supported, 1);
    EXPECT_EQ(sysfs.results, kAllAnswered);
    for (const Sweep* other : {&read, &mapped}) {
        EXPECT_EQ(other->supported, sysfs.supported);
        EXPECT_EQ(other->results, sysfs.results);
        EXPECT_TRUE(other->records == sysfs.records) << other->source << " differs from sysfs";
    }
    // The records hold something: the board's manufacturer or the system's.
    EXPECT_NE(sysfs.records.find_first_not_of('\0'), std::string::npos);
}

template <typename Record>
void Append(std::string& out, void (*fill)(SmBios&, Record&), SmBios& reader) {
    Record record;
    std::memset(&record, 0, sizeof record);
    fill(reader, record);
    out.append(reinterpret_cast<const char*>(&record), sizeof record);
}

// The records of the ten SMBIOS commands, as the sweep holds them, filled straight from a reader.
std::string Records(SmBios& reader) {
    std::string out;
    Append(out, FillBaseBoardInformation, reader);
    Append(out, FillSysInformation, reader);
    Append(out, FillProcessorInformation, reader);
    Append(out, FillMemoryInformation, reader);
    Append(out, FillIOInformation, reader);
    Append(out, FillPowerSupplyInformation, reader);
    Append(out, FillUpsInformation, reader);
    Append(out, FillFanInformation, reader);
    Append(out, FillVoltageInformation, reader);
    Append(out, FillTemperatureInformation, reader);
    return out;
}

TEST_P(MethodParity, AnImageOfTheDumpHeldInMemoryGivesTheSameRecordsAndTable) {
    const auto dump = ReadDump(GetParam());
    SmBiosImage image;
    ASSERT_TRUE(SmBiosImageFromDump(dump.data(), dump.size(), image));
    EXPECT_EQ(image.method, nullptr);
    // From the bytes alone, on a machine that holds nothing and must not be asked.
    auto empty = Fresh(sim::Kernel::Classic);
    SmBios reader(image);
    ASSERT_EQ(reader.IsInitOK(), 1);
    const std::string records = Records(reader);
    EXPECT_TRUE(empty->accesses().empty());

    // The same dump served by a current kernel, through the exports and through a reader.
    std::string error;
    ASSERT_TRUE(sim::place_dump(*Fresh(sim::Kernel::Current), dump, error)) << error;
    EXPECT_TRUE(records == SweepAll().records) << "the image decodes otherwise than the machine's table";
    SmBios probed;
    ASSERT_EQ(probed.IsInitOK(), 1);
    EXPECT_EQ(reader.IsMatchSmBios(), probed.IsMatchSmBios());
    EXPECT_EQ(reader.IsMatchSmBios3(), probed.IsMatchSmBios3());
    EXPECT_EQ(reader.IsMatchDMI(), probed.IsMatchDMI());
    EXPECT_EQ(reader.SmBiosEntry.MajorVersion, probed.SmBiosEntry.MajorVersion);
    EXPECT_EQ(reader.SmBiosEntry.HowManyStructures, probed.SmBiosEntry.HowManyStructures);
    EXPECT_EQ(reader.SmBios3Entry.MajorVersion, probed.SmBios3Entry.MajorVersion);
    EXPECT_EQ(reader.GetStructureCount(), probed.GetStructureCount());
    ASSERT_EQ(reader.BiosDataLength, probed.BiosDataLength);
    EXPECT_EQ(std::memcmp(reader.BiosData, probed.BiosData, reader.BiosDataLength), 0);
}

std::vector<std::string> Dumps() {
    std::vector<std::string> paths;
    for (const char* name : {"Asus-UX307LA", "Gigabyte-GA-MA74GMT-S2", "SuperMicro-X9DBL", "Synology-RS3614xsp",
                             "satellite_pro_l70_testdata"})
        paths.push_back(qtest::DataPath(std::string("realdata/smbios/") + name + "/smbios.bin"));
    paths.push_back(std::string(QARVEL_SAMPLE_MACHINE) + "/smbios.bin");
    paths.push_back(std::string(QARVEL_CURRENT_MACHINE) + "/smbios.bin");
    return paths;
}

INSTANTIATE_TEST_SUITE_P(Captured, MethodParity, ::testing::ValuesIn(Dumps()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string path = info.param.substr(0, info.param.rfind('/'));
                             std::string name = path.substr(path.rfind('/') + 1);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// --- SMBIOS 3 --------------------------------------------------------------------------------

// A table behind a 64-bit entry point, longer than 16 bits can say, with bytes after its
// end-of-table structure that are not structures at all.
std::vector<std::uint8_t> LongSmBios3Table() {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, "Vendor of 3.x");
    auto& oem = t.add(0xDE, 0x08);
    for (int i = 0; i < 200; ++i) oem.add_string(std::string(400, static_cast<char>('a' + i % 26)));
    t.add(1, 0x1B).string(4, "Maker past 64 KB");
    t.add(2, 0x0F).string(4, "Board past 64 KB").byte(14, 0);
    t.end();
    auto bytes = t.bytes();
    // Not a structure: a walk that went on past the end-of-table would take it for one.
    const std::uint8_t trailing[] = {2, 0x0F, 0x55, 0x55, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'X', 0, 0};
    bytes.insert(bytes.end(), std::begin(trailing), std::end(trailing));
    return bytes;
}

using SmBios3 = qtest::MachineTest;

TEST_F(SmBios3, OnlyA64BitEntryPointWorksThroughSysfsAndThroughMemory) {
    const auto table = LongSmBios3Table();
    ASSERT_GT(table.size(), 0x10000u);
    sim::EntryPoint entry;
    entry.kind = sim::EntryPoint::SMBIOS3;
    entry.major = 3;
    entry.minor = 4;
    entry.table_address = 0x1'2345'6000ULL;  // above 4 GB, and above the end of RAM

    for (sim::Kernel kernel : {sim::Kernel::Current, sim::Kernel::Classic}) {
        auto m = Fresh(kernel);
        m->memory.limit = 0x80000000;
        sim::place_smbios(*m, table, entry, 0);
        Sweep s = SweepAll();
        EXPECT_EQ(s.source, kernel == sim::Kernel::Current ? "sysfs" : "/dev/mem mmap");
        EXPECT_EQ(s.supported, 1);
        EXPECT_EQ(s.results, kAllAnswered);

        SmBios reader;
        ASSERT_EQ(reader.IsInitOK(), 1);
        EXPECT_EQ(reader.IsMatchSmBios(), 1);
        EXPECT_EQ(reader.IsMatchSmBios3(), 1);
        EXPECT_EQ(reader.IsMatchDMI(), 0);
        EXPECT_EQ(reader.SmBios3Entry.MajorVersion, 3);
        EXPECT_EQ(reader.BiosDataLength, table.size());
        char text[64] = {};
        EXPECT_EQ(reader.GetSysManufacturer(text, sizeof text), 0);
        EXPECT_STREQ(text, "Maker past 64 KB");
        std::memset(text, 0, sizeof text);
        EXPECT_EQ(reader.GetBoardManufacturer(text, sizeof text), 0);
        EXPECT_STREQ(text, "Board past 64 KB");  // the bytes after the end-of-table are no second board
        EXPECT_EQ(reader.GetStructureCount(), 5u);
    }
}

// Firmware may declare a maximum size of gigabytes: the table is read all the same, without
// claiming that much memory for it.
TEST_F(SmBios3, AWildMaximumSizeIsBoundedNotAllocated) {
    sim::SmbiosTable t = qtest::IdentityTable();
    sim::EntryPoint exact;
    exact.kind = sim::EntryPoint::SMBIOS3;
    exact.major = 3;
    exact.table_address = 0x100000;
    sim::EntryPoint wild = exact;
    wild.length_override = 0x7FFFFFF0;

    for (sim::Kernel kernel : {sim::Kernel::Current, sim::Kernel::Classic}) {
        auto m = Fresh(kernel);
        sim::place_smbios(*m, t.bytes(), exact, 0);
        Sweep expected = SweepAll();
        ASSERT_EQ(expected.supported, 1);

        m = Fresh(kernel);
        sim::place_smbios(*m, t.bytes(), wild, 0);
        Sweep s = SweepAll();
        EXPECT_EQ(s.supported, 1);
        EXPECT_EQ(s.results, expected.results);
        EXPECT_EQ(s.records, expected.records);
        qtest::ResetLibrary();
        SmBios reader;
        ASSERT_EQ(reader.IsInitOK(), 1);
        EXPECT_LE(reader.BiosDataLength, 0x100000u);
    }
}

TEST_F(SmBios3, AStrayAnchorWithABadChecksumDoesNotHideThe2xEntryPoint) {
    Publish(qtest::IdentityTable());
    // "_SM3_" on the grid below the real entry point, as a string in a BIOS image can be.
    std::uint8_t stray[24] = {'_', 'S', 'M', '3', '_', 0x00, 24, 3, 0};
    machine->memory.write(0xF0100, stray, sizeof stray);
    SmBios reader;
    EXPECT_EQ(reader.IsMatchSmBios3(), 0);
    EXPECT_EQ(reader.IsMatchSmBios(), 1);
    char text[32] = {};
    EXPECT_EQ(reader.GetBiosVendor(text, sizeof text), 0);
    EXPECT_STREQ(text, "Acme BIOS Works");
}

// --- lockdown, the end of RAM, unreadable tables ----------------------------------------------

using Sources = qtest::MachineTest;

TEST_F(Sources, LockdownWithSysfsReadsTheKernelsCopyAndPrintsNothing) {
    machine->kernel = sim::Kernel::Current;
    machine->lockdown = true;
    Publish(qtest::IdentityTable());
    testing::internal::CaptureStderr();
    Sweep s = SweepAll();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(s.source, "sysfs");
    EXPECT_EQ(s.supported, 1);
    EXPECT_EQ(s.results, kAllAnswered);
    EXPECT_STREQ(reinterpret_cast<const BaseBoardInformation*>(s.records.data())->Manufacturer, "Acme Boards");
}

TEST_F(Sources, ThirtyByteEntryPointOfSmBios21FirmwareIsReadFromSysfs) {
    // Firmware following SMBIOS 2.1 declares the entry point 30 bytes long, and the kernel
    // publishes just those 30; under lockdown sysfs is the only way to the table.
    machine->kernel = sim::Kernel::Current;
    machine->lockdown = true;
    Publish(qtest::IdentityTable());
    std::string entry = *machine->files.content(sim::kSysfsEntryPoint, 0);
    ASSERT_EQ(entry.size(), 31u);
    entry.resize(30);
    entry[5] = 30;
    entry[4] = 0;
    unsigned char sum = 0;
    for (char c : entry) sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
    entry[4] = static_cast<char>(-sum);
    machine->files.add(sim::kSysfsEntryPoint, entry);
    testing::internal::CaptureStderr();
    Sweep s = SweepAll();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(s.source, "sysfs");
    EXPECT_EQ(s.results, kAllAnswered);
    EXPECT_STREQ(reinterpret_cast<const BaseBoardInformation*>(s.records.data())->Manufacturer, "Acme Boards");
}

TEST_F(Sources, LockdownWithoutSysfsPrintsTheOpenErrorAndHasNoTable) {
    machine->lockdown = true;
    Publish(qtest::IdentityTable());
    testing::internal::CaptureStderr();
    Sweep s = SweepAll();
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, std::string("open /dev/mem\n: ") + std::strerror(EPERM) + "\n");
    EXPECT_EQ(s.supported, 0);
    EXPECT_EQ(s.results, kAllFailed);
    EXPECT_EQ(s.source, "(none)");
}

TEST_F(Sources, TableAboveTheEndOfRamIsMappedNotReportedEmpty) {
    machine->memory.limit = 0x38000000;
    sim::EntryPoint entry;
    entry.table_address = 0xBFF7B7F0;  // the table runs over a page boundary
    Publish(qtest::IdentityTable(), entry);
    Sweep s = SweepAll();
    EXPECT_EQ(s.source, "/dev/mem mmap");
    EXPECT_EQ(s.results, kAllAnswered);
    EXPECT_STREQ(reinterpret_cast<const BaseBoardInformation*>(s.records.data())->ProductName, "MB-9");
    EXPECT_TRUE(machine->still_open().empty());
}

// /dev/mem that serves the BIOS area but neither reads nor maps anything else.
class BiosAreaOnly : public sim::Node {
public:
    explicit BiosAreaOnly(const sim::PhysicalMemory& memory) : memory_(memory) {}
    long read(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (offset < 0xF0000 || offset >= 0x100000) return -EFAULT;
        std::size_t n = std::min<std::uint64_t>(count, 0x100000 - offset);
        memory_.read(offset, buffer, n);
        return static_cast<long>(n);
    }
    int map(std::uint64_t, void*, std::size_t) override { return -EPERM; }

private:
    const sim::PhysicalMemory& memory_;
};

TEST_F(Sources, ATableThatCannotBeReadIsNoTable) {
    Publish(qtest::IdentityTable());
    auto& memory = machine->memory;
    machine->add_device("/dev/mem", [&memory] { return std::make_shared<BiosAreaOnly>(memory); });
    Sweep s = SweepAll();
    EXPECT_EQ(s.supported, 0);
    EXPECT_EQ(s.results, kAllFailed);
    EXPECT_EQ(s.source, "(none)");
    SmBios reader;
    EXPECT_EQ(reader.IsInitOK(), 0);
    EXPECT_EQ(reader.IsMatchSmBios(), 0);
    EXPECT_EQ(reader.SmBiosEntry.StructureTableLength, 0);
    EXPECT_EQ(reader.GetItem(0, 1), nullptr);
}

TEST_F(Sources, SysfsThatCannotBeReadFallsBackToMemory) {
    machine->kernel = sim::Kernel::Current;
    Publish(qtest::IdentityTable());
    machine->files.deny(sim::kSysfsTable);  // the table file is root's only
    Sweep s = SweepAll();
    EXPECT_EQ(s.source, "/dev/mem");
    EXPECT_EQ(s.results, kAllAnswered);

    // An entry point file that holds no entry point is passed over the same way.
    auto other = Fresh(sim::Kernel::Classic);
    sim::place_smbios(*other, qtest::IdentityTable());
    other->files.add(sim::kSysfsEntryPoint, "garbage");
    other->files.add(sim::kSysfsTable, "");
    EXPECT_EQ(SweepAll().source, "/dev/mem");
}

// UEFI firmware: a 3.x entry point in boot-services memory and, elsewhere, a 2.x one for an
// older table; nothing in 0xF0000-0xFFFFF.
constexpr std::uint32_t kUefiSmBios3Entry = 0x7F6E5000;
sim::EntryPoint UefiSmBios3() {
    sim::EntryPoint e;
    e.kind = sim::EntryPoint::SMBIOS3;
    e.major = 3;
    e.address = kUefiSmBios3Entry;
    e.table_address = 0x7F6E6000;
    return e;
}
sim::EntryPoint UefiSmBios2() {
    sim::EntryPoint e;
    e.address = 0x7F6E4000;
    e.table_address = 0x7F6E7000;
    return e;
}

TEST_F(Sources, AnEntryPointOutsideTheBiosAreaIsFoundWhereTheEfiSystemTableSays) {
    Publish(qtest::IdentityTable(), UefiSmBios3());
    Publish(TableWithVendorOnly("older table"), UefiSmBios2());

    Sweep without = SweepAll();
    EXPECT_EQ(without.supported, 0);
    EXPECT_EQ(without.results, kAllFailed);

    machine->files.add("/sys/firmware/efi/systab",
                       "ACPI20=0x7f6fd014\nACPI=0x7f6fd000\nSMBIOS=0x7f6e4000\nSMBIOS3=0x7f6e5000\n");
    machine->memory.limit = 0x40000000;  // and above the end of RAM
    Sweep with = SweepAll();
    EXPECT_EQ(with.supported, 1);
    EXPECT_EQ(with.results, kAllAnswered);
    EXPECT_EQ(with.source, "/dev/mem mmap");
    EXPECT_STREQ(reinterpret_cast<const BaseBoardInformation*>(with.records.data())->RomVendor, "Acme BIOS Works");
}

TEST_F(Sources, WhenTheEfiSmBios3AddressHoldsNoEntryPointTheOlderOneIsRead) {
    Publish(TableWithVendorOnly("older table"), UefiSmBios2());
    Publish(qtest::IdentityTable(), UefiSmBios3());
    // The 3.x entry point's checksum (byte 5) is broken after it was placed.
    unsigned char checksum = 0;
    machine->memory.read(kUefiSmBios3Entry + 5, &checksum, 1);
    checksum = static_cast<unsigned char>(checksum + 1);
    machine->memory.write(kUefiSmBios3Entry + 5, &checksum, 1);
    machine->files.add("/sys/firmware/efi/systab", "SMBIOS3=0x7f6e5000\nSMBIOS=0x7f6e4000\n");

    Sweep s = SweepAll();
    EXPECT_EQ(s.supported, 1);
    EXPECT_EQ(s.results, kAllAnswered);
    EXPECT_STREQ(reinterpret_cast<const BaseBoardInformation*>(s.records.data())->RomVendor, "older table");

    // Nothing readable at the 3.x address at all: the same.
    machine->files.add("/sys/firmware/efi/systab", "SMBIOS3=0xfffffffff000\nSMBIOS=0x7f6e4000\n");
    s = SweepAll();
    EXPECT_EQ(s.supported, 1);
    EXPECT_STREQ(reinterpret_cast<const BaseBoardInformation*>(s.records.data())->RomVendor, "older table");
}

TEST_F(Sources, SourceNameIsNullAfterATableWasNotFound) {
    Publish(qtest::IdentityTable());
    { SmBios reader; }
    EXPECT_STREQ(SmBiosSourceName(), "/dev/mem");
    Fresh(sim::Kernel::Classic);  // no table at all
    { SmBios reader; }
    EXPECT_EQ(SmBiosSourceName(), nullptr);
}

}  // namespace
