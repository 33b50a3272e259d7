// The GetInfo commands of processors, memory, ports, power supplies, fans and probes.
#include <cstring>
#include <string>

#include "api/exports.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

using InventoryCommands = qtest::MachineTest;

// A record followed by bytes that must survive the call.
template <typename Record>
struct Guarded {
    Record record;
    unsigned char after[256];
    explicit Guarded(unsigned char fill = 0) {
        std::memset(&record, fill, sizeof record);
        std::memset(after, 0xC5, sizeof after);
    }
    bool intact() const {
        for (unsigned char c : after)
            if (c != 0xC5) return false;
        return true;
    }
};

template <std::size_t N>
bool AllBytes(const char (&field)[N], char value) {
    for (char c : field)
        if (c != value) return false;
    return true;
}

TEST_F(InventoryCommands, ProcessorRecord) {
    sim::SmbiosTable t;
    sim::add_cache(t, {.handle = 0x50, .designation = "L1 Cache", .max_size = 0x8004, .installed_size = 0x0200,
                       .speed = 7});
    sim::add_processor(t, {.family = 177, .manufacturer = "Acme Silicon", .external_clock = 100, .max_speed = 3600,
                           .current_speed = 2400, .status = 0x41, .l1 = 0x50});
    sim::add_processor(t, {.family = 0xB3, .status = 0x43});  // disabled by the BIOS
    sim::add_processor(t, {.status = 0x40});                   // status unknown
    t.end();
    Publish(t, [] {
        sim::EntryPoint e;
        e.minor = 3;
        return e;
    }());
    Guarded<ProcessorInformation> g;
    // Fields no step writes, and the flags the steps only ever set, keep what was there.
    for (CPU& cpu : g.record.cpu) {
        std::memset(cpu.stepping, '#', sizeof cpu.stepping);
        std::memset(cpu.UsageRate, '#', sizeof cpu.UsageRate);
        cpu.IsUHT = 7;
        cpu.IsDisabled = 7;
    }
    ASSERT_EQ(GetInfo(INFO_PROCESSOR, &g.record), 0);
    EXPECT_TRUE(g.intact());
    ASSERT_EQ(g.record.quantity, 3);
    const CPU& first = g.record.cpu[0];
    // The 53-character family text is cut to the 48-byte field.
    EXPECT_EQ(std::string(first.family), std::string("Pentium III Processor with Intel SpeedStep Technology").substr(0, 47));
    EXPECT_STREQ(first.MaxSpeed, "3600 MHZ");
    EXPECT_STREQ(first.CurrentSpeed, "2400 MHZ");
    EXPECT_STREQ(first.ExternalClock, "100 MHZ");
    EXPECT_STREQ(first.manufacturer, "Acme Silicon");
    EXPECT_STREQ(first.cache[0].designation, "L1 Cache");
    EXPECT_STREQ(first.cache[0].MaxSize, "256 KB");
    EXPECT_STREQ(first.cache[0].InstalledSize, "512 KB");
    EXPECT_STREQ(first.cache[0].speed, "7ns");
    // No L2: "Bios Not Provide" with its NUL is 17 bytes; the 16-byte fields get 15 and a NUL.
    EXPECT_STREQ(first.cache[1].designation, "Bios Not Provide");
    EXPECT_STREQ(first.cache[1].MaxSize, "Bios Not Provid");
    EXPECT_STREQ(first.cache[1].speed, "Bios Not Provid");
    EXPECT_EQ(first.IsUHT, 7);  // status 1, enabled: neither flag is written
    EXPECT_EQ(first.IsDisabled, 7);
    EXPECT_TRUE(AllBytes(first.stepping, '#'));
    EXPECT_TRUE(AllBytes(first.UsageRate, '#'));

    EXPECT_STREQ(g.record.cpu[1].family, "Intel Xeon");
    EXPECT_STREQ(g.record.cpu[1].MaxSpeed, "Unknown");
    EXPECT_EQ(g.record.cpu[1].IsDisabled, 1);
    EXPECT_EQ(g.record.cpu[1].IsUHT, 7);
    EXPECT_EQ(g.record.cpu[2].IsUHT, 1);
    EXPECT_EQ(g.record.cpu[2].IsDisabled, 7);
}

TEST_F(InventoryCommands, MoreProcessorsThanTheRecordHoldsFillIt) {
    sim::SmbiosTable t;
    for (int i = 0; i < 12; ++i) sim::add_processor(t, {.max_speed = static_cast<std::uint16_t>(1000 + i)});
    t.end();
    Publish(t);
    Guarded<ProcessorInformation> g;
    ASSERT_EQ(GetInfo(INFO_PROCESSOR, &g.record), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(g.record.quantity, 8);
    EXPECT_STREQ(g.record.cpu[7].MaxSpeed, "1007 MHZ");
}

TEST_F(InventoryCommands, MemoryRecordCopiesBanksThatHaveAType) {
    sim::SmbiosTable t;
    sim::add_memory_controller(t, {.modules = {0x10, 0x11, 0x12}});
    sim::add_memory_module(t, {.handle = 0x10, .designation = "DIMM0", .speed = 60, .type = 0x0100, .installed_size = 8});
    sim::add_memory_module(t, {.handle = 0x11, .designation = "DIMM1", .type = 0, .installed_size = 8});  // no type
    sim::add_memory_module(t, {.handle = 0x12, .designation = "DIMM2", .type = 0x0010, .installed_size = 9});
    sim::add_memory_device(t, {.size = 512, .device_locator = "DIMM2", .bank_locator = "Bank 2",
                               .type_detail = 0x0180, .manufacturer = "A maker whose name is longer than 31"});
    t.end();
    Publish(t);
    Guarded<MemoryInformation> g;
    ASSERT_EQ(GetInfo(INFO_MEMORY, &g.record), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(g.record.TotalSize, 256 + 256 + 512);
    EXPECT_EQ(g.record.quantity, 3);  // three banks were taken; the one without a type is not shown
    EXPECT_STREQ(g.record.bank[0].size, "256 MB");
    EXPECT_STREQ(g.record.bank[0].type, "DIMM");
    EXPECT_STREQ(g.record.bank[0].speed, "60 ns");
    EXPECT_EQ(g.record.bank[0].SlotNumber, 0);
    EXPECT_STREQ(g.record.bank[1].size, "512 MB");
    EXPECT_STREQ(g.record.bank[1].type, "EDO");
    EXPECT_STREQ(g.record.bank[1].TypeDetail, "SynchronousCMOS");
    EXPECT_STREQ(g.record.bank[1].manufacturer, "A maker whose name is longer th");
    EXPECT_EQ(g.record.bank[1].SlotNumber, 2);
    EXPECT_EQ(g.record.bank[2].size[0], '\0');
}

TEST_F(InventoryCommands, MemoryRecordWhereNoBankHasAType) {
    sim::SmbiosTable t;
    sim::add_memory_controller(t, {.modules = {0x10, 0x11, 0x12}});
    for (std::uint16_t h : {0x10, 0x11, 0x12}) sim::add_memory_module(t, {.handle = h, .type = 0, .installed_size = 7});
    t.end();
    Publish(t);
    Guarded<MemoryInformation> g(0x3C);
    ASSERT_EQ(GetInfo(INFO_MEMORY, &g.record), 0);
    EXPECT_EQ(g.record.TotalSize, 3 * 128);
    EXPECT_EQ(g.record.quantity, 3);
    EXPECT_TRUE(AllBytes(g.record.bank[0].size, 0x3C));  // no entry written
    EXPECT_TRUE(g.intact());
}

TEST_F(InventoryCommands, MemoryRecordWithoutAMemoryDescriptionGivesTheTotalAndNoBank) {
    Publish(qtest::IdentityTable());
    Guarded<MemoryInformation> g(0x3C);
    ASSERT_EQ(GetInfo(INFO_MEMORY, &g.record), 0);
    EXPECT_EQ(g.record.TotalSize, 0);
    EXPECT_EQ(g.record.quantity, 0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&g.record.bank);
    for (std::size_t i = 0; i < sizeof g.record.bank; ++i) ASSERT_EQ(bytes[i], 0x3C) << "byte " << i;
    EXPECT_TRUE(g.intact());
}

TEST_F(InventoryCommands, NinetySixGigabytesReportTheirRealTotal) {
    sim::SmbiosTable t;
    for (int i = 0; i < 6; ++i)
        sim::add_memory_device(t, {.size = 0x4000, .device_locator = "DIMM" + std::to_string(i) + "A",
                                   .bank_locator = "BANK " + std::to_string(i), .memory_type = 0x12});
    t.end();
    Publish(t);
    Guarded<MemoryInformation> g;
    ASSERT_EQ(GetInfo(INFO_MEMORY, &g.record), 0);
    EXPECT_EQ(g.record.TotalSize, 98304);
    EXPECT_EQ(g.record.quantity, 6);
    EXPECT_EQ(g.record.bank[5].SlotNumber, 21);
}

TEST_F(InventoryCommands, PortRecordHoldsThirtyTwoPorts) {
    sim::SmbiosTable t;
    for (int i = 0; i < 40; ++i)
        sim::add_port(t, {.external_designator = "Port " + std::to_string(i) + " with a designator of forty chars",
                          .port_type = static_cast<std::uint8_t>(0x10 + i % 4)});
    t.end();
    Publish(t);
    Guarded<IOInformation> g;
    ASSERT_EQ(GetInfo(INFO_IO_PORT, &g.record), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(g.record.quantity, 32);
    EXPECT_STREQ(g.record.port[0].type, "USB");
    EXPECT_STREQ(g.record.port[2].type, "PCMCIA Type II");
    EXPECT_STREQ(g.record.port[3].type, "PCMCIA Type II");
    EXPECT_STREQ(g.record.port[31].description, "Port 31 with a designator of...");
}

TEST_F(InventoryCommands, PowerSupplyAndUpsRecords) {
    sim::SmbiosTable t;
    sim::add_power_supply(t, {.group = 1, .name = "PSU A", .manufacturer = "Volt Co", .serial = "SERIAL-NUMBER-0001",
                              .characteristics = 4 << 10 | 2});
    sim::add_power_supply(t, {.group = 1, .name = "VRM", .characteristics = 8 << 10 | 4});
    sim::add_power_supply(t, {.name = "UPS", .characteristics = 6 << 10 | 3});
    t.end();
    Publish(t);
    Guarded<SystemPowerInformation> all;
    ASSERT_EQ(GetInfo(INFO_POWER_SUPPLY, &all.record), 0);
    EXPECT_TRUE(all.intact());
    EXPECT_EQ(all.record.TotalNumber, 3);
    EXPECT_EQ(all.record.RedundantNumber, 2);
    EXPECT_STREQ(all.record.PowerSupply[0].DeviceName, "PSU A");
    EXPECT_STREQ(all.record.PowerSupply[0].manufacturer, "Volt Co");
    EXPECT_STREQ(all.record.PowerSupply[0].SerialNo, "SERIAL-NUMBER-0");
    EXPECT_STREQ(all.record.PowerSupply[0].status, "present");
    // "unplugged from the wall" is 23 characters: the 16-byte field gets 15.
    EXPECT_STREQ(all.record.PowerSupply[1].status, "unplugged from ");
    EXPECT_STREQ(all.record.PowerSupply[2].status, "Other");

    Guarded<SystemPowerInformation> ups;
    ups.record.RedundantNumber = 77;
    ASSERT_EQ(GetInfo(INFO_UPS, &ups.record), 0);
    EXPECT_EQ(ups.record.TotalNumber, 2);  // the regulator is left out
    EXPECT_EQ(ups.record.RedundantNumber, 77);
    EXPECT_STREQ(ups.record.PowerSupply[0].DeviceName, "PSU A");
    EXPECT_STREQ(ups.record.PowerSupply[1].DeviceName, "UPS");
}

TEST_F(InventoryCommands, MorePowerSuppliesThanTheRecordHoldsFillIt) {
    sim::SmbiosTable t;
    for (int i = 0; i < 10; ++i) sim::add_power_supply(t, {.name = "PSU" + std::to_string(i)});
    t.end();
    Publish(t);
    Guarded<SystemPowerInformation> g;
    ASSERT_EQ(GetInfo(INFO_POWER_SUPPLY, &g.record), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(g.record.TotalNumber, 8);
    EXPECT_STREQ(g.record.PowerSupply[7].DeviceName, "PSU7");
}

TEST_F(InventoryCommands, FanRecordHoldsSixteenSpeeds) {
    sim::SmbiosTable t;
    sim::add_cooling_device(t, {.length = 12});
    sim::add_cooling_device(t, {.nominal_speed = 0x8000});
    for (int i = 2; i < 20; ++i) sim::add_cooling_device(t, {.nominal_speed = static_cast<std::uint16_t>(1000 * i)});
    t.end();
    Publish(t);
    Guarded<FanInformation> g;
    ASSERT_EQ(GetInfo(INFO_FAN, &g.record), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(g.record.quantity, 16);
    EXPECT_STREQ(g.record.fan[0].speed, "SmBios can not ");
    EXPECT_STREQ(g.record.fan[1].speed, "Unknown or the ");
    EXPECT_STREQ(g.record.fan[15].speed, "15000 rpm");
    EXPECT_STREQ(g.record.fan[15].desc, "");  // only the speed is written
}

TEST_F(InventoryCommands, ProbeRecordsCountEveryProbeAndDescribeOne) {
    sim::SmbiosTable t;
    sim::add_voltage_probe(t, {.location_and_status = 0x64, .maximum = 5500, .minimum = 4500, .nominal = 5000});
    sim::add_voltage_probe(t, {.location_and_status = 0x63, .maximum = 1400, .minimum = 0x8000, .nominal = 1100});
    for (int i = 0; i < 38; ++i) sim::add_voltage_probe(t, {.location_and_status = 0x63, .nominal = 900});
    sim::add_temperature_probe(t, {.location_and_status = 0x67, .nominal = 455});
    sim::add_temperature_probe(t, {.location_and_status = 0x63, .nominal = 700});
    t.end();
    Publish(t);
    Guarded<VoltageInformation> volts;
    for (int i = 1; i < 32; ++i) std::memset(volts.record.voltage[i].CurrentVoltage, '#', 16);
    ASSERT_EQ(GetInfo(INFO_VOLTAGE, &volts.record), 0);
    EXPECT_TRUE(volts.intact());
    EXPECT_EQ(volts.record.quantity, 40);  // the count, beyond the 32 entries
    EXPECT_STREQ(volts.record.voltage[0].CurrentVoltage, "1100 mv");
    EXPECT_STREQ(volts.record.voltage[0].max, "1400 mv");
    EXPECT_STREQ(volts.record.voltage[0].min, "Unknown");
    for (int i = 1; i < 32; ++i) EXPECT_TRUE(AllBytes(volts.record.voltage[i].CurrentVoltage, '#')) << i;

    Guarded<TemperatureInformation> temps;
    ASSERT_EQ(GetInfo(INFO_TEMPERATURE, &temps.record), 0);
    EXPECT_TRUE(temps.intact());
    EXPECT_EQ(temps.record.quantity, 2);
    EXPECT_STREQ(temps.record.temperature[0].CurrentTemperature, "45 C");  // location 7 comes first
    EXPECT_STREQ(temps.record.temperature[1].CurrentTemperature, "");
}

TEST_F(InventoryCommands, TablesWithoutTheseStructuresGiveEmptyRecords) {
    Publish(qtest::IdentityTable());
    Guarded<ProcessorInformation> cpus;
    Guarded<IOInformation> ports;
    Guarded<SystemPowerInformation> power;
    Guarded<FanInformation> fans;
    Guarded<VoltageInformation> volts;
    Guarded<TemperatureInformation> temps;
    EXPECT_EQ(GetInfo(INFO_PROCESSOR, &cpus.record), 0);
    EXPECT_EQ(GetInfo(INFO_IO_PORT, &ports.record), 0);
    EXPECT_EQ(GetInfo(INFO_POWER_SUPPLY, &power.record), 0);
    EXPECT_EQ(GetInfo(INFO_FAN, &fans.record), 0);
    EXPECT_EQ(GetInfo(INFO_VOLTAGE, &volts.record), 0);
    EXPECT_EQ(GetInfo(INFO_TEMPERATURE, &temps.record), 0);
    EXPECT_EQ(cpus.record.quantity, 0);
    EXPECT_EQ(ports.record.quantity, 0);
    EXPECT_EQ(power.record.TotalNumber, 0);
    EXPECT_EQ(fans.record.quantity, 0);
    EXPECT_EQ(volts.record.quantity, 0);
    EXPECT_STREQ(volts.record.voltage[0].CurrentVoltage, "");
    EXPECT_EQ(temps.record.quantity, 0);
}

}  // namespace
