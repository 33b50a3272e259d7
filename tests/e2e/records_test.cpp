// The processor, memory, port, power, fan and probe records and the usage functions
// through dlopen of the simulated library, records guarded by canaries. The expected values
// are read off the sample server's source (sim/machines/sample-server/).
#include "tests/e2e/library.h"

namespace {

using SampleServerInventory = e2e::SampleServerTest;

TEST_F(SampleServerInventory, Processors) {
    e2e::Guarded<ProcessorInformation> cpus;
    ASSERT_EQ(get_info(INFO_PROCESSOR, &cpus.record), 0);
    EXPECT_TRUE(cpus.canaries_intact());
    ASSERT_EQ(cpus.record.quantity, 2);
    for (const CPU& cpu : {cpus.record.cpu[0], cpus.record.cpu[1]}) {
        EXPECT_STREQ(cpu.family, "Intel Xeon");
        EXPECT_STREQ(cpu.manufacturer, "Intel");
        EXPECT_STREQ(cpu.MaxSpeed, "3000 MHZ");
        EXPECT_STREQ(cpu.CurrentSpeed, "2600 MHZ");
        EXPECT_STREQ(cpu.ExternalClock, "100 MHZ");
        EXPECT_EQ(cpu.IsUHT, 0);
        EXPECT_EQ(cpu.IsDisabled, 0);
        EXPECT_STREQ(cpu.cache[0].designation, "L1-Cache");
        EXPECT_STREQ(cpu.cache[0].InstalledSize, "256 KB");
        EXPECT_STREQ(cpu.cache[0].speed, "1ns");
        EXPECT_STREQ(cpu.cache[1].MaxSize, "4096 KB");
        EXPECT_STREQ(cpu.cache[2].MaxSize, "8448 KB");  // 0x8084: 132 units of 64 KB
        EXPECT_STREQ(cpu.cache[2].speed, "Unknown");
    }
}

TEST_F(SampleServerInventory, Memory) {
    e2e::Guarded<MemoryInformation> memory;
    ASSERT_EQ(get_info(INFO_MEMORY, &memory.record), 0);
    EXPECT_TRUE(memory.canaries_intact());
    EXPECT_EQ(memory.record.TotalSize, 8 * 16384);
    ASSERT_EQ(memory.record.quantity, 8);
    const int slots[] = {1, 2, 5, 9, 1, 2, 5, 9};  // P<s>-DIMM0A, 0B, 1A, 2A
    for (int i = 0; i < 8; ++i) {
        const BANK& bank = memory.record.bank[i];
        EXPECT_STREQ(bank.size, "16384 MB");
        EXPECT_STREQ(bank.speed, "2400 MHZ");
        EXPECT_STREQ(bank.type, "DDR4");
        EXPECT_STREQ(bank.TypeDetail, "Synchronous");
        EXPECT_STREQ(bank.manufacturer, "Kestrel Memory");
        EXPECT_EQ(bank.SlotNumber, slots[i]) << i;
    }
    EXPECT_EQ(memory.record.bank[8].size[0], '\0');
}

TEST_F(SampleServerInventory, PortsAndPowerSupplies) {
    e2e::Guarded<IOInformation> ports;
    ASSERT_EQ(get_info(INFO_IO_PORT, &ports.record), 0);
    EXPECT_TRUE(ports.canaries_intact());
    ASSERT_EQ(ports.record.quantity, 9);
    EXPECT_STREQ(ports.record.port[0].type, "Serial Port 16550A Compatible");
    EXPECT_STREQ(ports.record.port[0].description, "COM1");
    EXPECT_STREQ(ports.record.port[6].type, "Network Port");
    EXPECT_STREQ(ports.record.port[6].description, "Dedicated management Etherne...");
    EXPECT_STREQ(ports.record.port[7].description, "");

    e2e::Guarded<SystemPowerInformation> power;
    ASSERT_EQ(get_info(INFO_POWER_SUPPLY, &power.record), 0);
    EXPECT_TRUE(power.canaries_intact());
    EXPECT_EQ(power.record.TotalNumber, 2);
    EXPECT_EQ(power.record.RedundantNumber, 2);
    EXPECT_STREQ(power.record.PowerSupply[0].DeviceName, "HG-PSU-800");
    EXPECT_STREQ(power.record.PowerSupply[0].manufacturer, "Harrowgate Power");
    EXPECT_STREQ(power.record.PowerSupply[1].SerialNo, "PS8-001202");
    EXPECT_STREQ(power.record.PowerSupply[0].status, "Other");  // present and hot replaceable
    EXPECT_STREQ(power.record.PowerSupply[1].status, "present");

    e2e::Guarded<SystemPowerInformation> ups;
    ups.record.RedundantNumber = -5;
    ASSERT_EQ(get_info(INFO_UPS, &ups.record), 0);
    EXPECT_TRUE(ups.canaries_intact());
    EXPECT_EQ(ups.record.TotalNumber, 2);  // switching supplies pass the UPS selector too
    EXPECT_EQ(ups.record.RedundantNumber, -5);
}

TEST_F(SampleServerInventory, FansAndProbes) {
    e2e::Guarded<FanInformation> fans;
    ASSERT_EQ(get_info(INFO_FAN, &fans.record), 0);
    EXPECT_TRUE(fans.canaries_intact());
    ASSERT_EQ(fans.record.quantity, 5);
    EXPECT_STREQ(fans.record.fan[0].speed, "8200 rpm");
    EXPECT_STREQ(fans.record.fan[3].speed, "8800 rpm");
    EXPECT_STREQ(fans.record.fan[4].speed, "Unknown or the ");

    e2e::Guarded<VoltageInformation> volts;
    ASSERT_EQ(get_info(INFO_VOLTAGE, &volts.record), 0);
    EXPECT_TRUE(volts.canaries_intact());
    EXPECT_EQ(volts.record.quantity, 3);
    EXPECT_STREQ(volts.record.voltage[0].CurrentVoltage, "1050 mv");
    EXPECT_STREQ(volts.record.voltage[0].max, "1800 mv");
    EXPECT_STREQ(volts.record.voltage[0].min, "600 mv");

    e2e::Guarded<TemperatureInformation> temps;
    ASSERT_EQ(get_info(INFO_TEMPERATURE, &temps.record), 0);
    EXPECT_TRUE(temps.canaries_intact());
    EXPECT_EQ(temps.record.quantity, 3);
    EXPECT_STREQ(temps.record.temperature[0].CurrentTemperature, "45 C");
}

TEST_F(SampleServerInventory, ProcessorAndMemoryUsage) {
    auto* cpu_usage = lib.function<int(int, LPVOID)>("GetCpuUsageRate");
    auto* mem_usage = lib.function<int()>("GetMemUsageRate");
    auto* first_time = static_cast<int*>(lib.symbol("ExecuteFirstTime"));
    ASSERT_NE(cpu_usage, nullptr);
    ASSERT_NE(mem_usage, nullptr);
    ASSERT_NE(first_time, nullptr);
    EXPECT_EQ(*first_time, 0);

    e2e::Guarded<CpuUsageRageInformation> usage;
    ASSERT_EQ(cpu_usage(1, &usage.record), 0);
    EXPECT_TRUE(usage.canaries_intact());
    EXPECT_EQ(*first_time, 1);
    ASSERT_EQ(usage.record.quantity, 8);
    // 100 ticks per processor in the second: the busy share is 100 minus the idle ticks.
    const int expected[] = {37, 15, 65, 3, 78, 11, 45, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(usage.record.UsageRate[i], expected[i]) << "processor " << i;

    // 40802668 of 131621512 KiB: 30.9999995 %, 31 in single precision.
    EXPECT_EQ(mem_usage(), 31);
    EXPECT_EQ(cpu_usage(-1, &usage.record), -1);
}

TEST(CapturedMachine, RecordsOfARealServerStayInsideTheirArrays) {
    e2e::Library lib(QARVEL_SIM_LIBRARY, QARVEL_TEST_DATA "/realdata/smbios/SuperMicro-X9DBL");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto* get_info = lib.function<e2e::GetInfoFunction>("GetInfo");
    e2e::Guarded<ProcessorInformation> cpus;
    ASSERT_EQ(get_info(INFO_PROCESSOR, &cpus.record), 0);
    EXPECT_TRUE(cpus.canaries_intact());
    EXPECT_EQ(cpus.record.quantity, 2);
    EXPECT_STREQ(cpus.record.cpu[1].cache[2].InstalledSize, "10240 KB");
    e2e::Guarded<IOInformation> ports;
    ASSERT_EQ(get_info(INFO_IO_PORT, &ports.record), 0);
    EXPECT_TRUE(ports.canaries_intact());
    EXPECT_EQ(ports.record.quantity, 24);
    e2e::Guarded<MemoryInformation> memory;
    ASSERT_EQ(get_info(INFO_MEMORY, &memory.record), 0);
    EXPECT_TRUE(memory.canaries_intact());
    EXPECT_EQ(memory.record.TotalSize, 4 * 4096 + 2 * 16384);  // 48 GB
    e2e::Guarded<FanInformation> fans;
    ASSERT_EQ(get_info(INFO_FAN, &fans.record), 0);
    EXPECT_TRUE(fans.canaries_intact());
    EXPECT_EQ(fans.record.quantity, 5);
}

}  // namespace
