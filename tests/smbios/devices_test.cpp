// Ports, on-board devices, power supplies, cooling devices and probes.
#include <cstring>
#include <functional>
#include <string>

#include "SmBios/SmBios.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

using Devices = qtest::MachineTest;

std::string Text(const std::function<int(char*)>& getter) {
    char buffer[80] = {};
    int result = getter(buffer);
    return std::string(buffer) + (result == -1 ? "|-1" : "");
}

TEST_F(Devices, PortDesignatorsLongerThanTheFieldEndInDots) {
    const std::string forty = "Rear panel serial port for console use A";  // 40 characters
    ASSERT_EQ(forty.size(), 40u);
    sim::SmbiosTable t;
    sim::add_port(t, {.external_designator = forty, .port_type = 9});
    sim::add_port(t, {.external_designator = std::string(31, 'x')});
    sim::add_port(t, {.external_designator = std::string(32, 'y')});
    sim::add_port(t, {.internal_designator = "J9", .port_type = 0xFF});  // no external designator
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetPortQuantity(), 4);

    char field[40];
    std::memset(field, '#', sizeof field);
    ASSERT_EQ(reader.GetPortDecription(1, field, 32), 0);
    EXPECT_EQ(std::string(field, 31), forty.substr(0, 28) + "...");
    EXPECT_EQ(field[31], '#');  // no terminator is written, and nothing past the field
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortDecription(2, b, 32); }), std::string(31, 'x'));
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortDecription(3, b, 32); }), std::string(28, 'y') + "...");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortDecription(3, b, 3); }), "yy");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortDecription(4, b, 32); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortDecription(5, b, 32); }), "|-1");
}

TEST_F(Devices, PortTypesReadThroughTheTable) {
    const struct {
        std::uint8_t code;
        const char* text;
    } cases[] = {
        {0x00, "None"},           {0x09, "Serial Port 16550A Compatible"}, {0x11, "FireWire (IEEE P1394)"},
        {0x12, "PCMCIA Type II"}, {0x13, "PCMCIA Type II"},                {0x14, "PCMCIA Type III"},
        {0x1F, "Network Port"},   {0x24, "Unknown"},                       {0xA0, "8251 Compatible"},
        {0xA1, "8251 FIFO Compatible"}, {0xA2, "Unknown"},                 {0xFF, "Other"},
    };
    sim::SmbiosTable t;
    for (const auto& c : cases) sim::add_port(t, {.port_type = c.code});
    sim::add_port(t, {.length = 8, .port_type = 0x10});  // too short to hold a port type
    t.end();
    Publish(t);
    SmBios reader;
    int n = 1;
    for (const auto& c : cases) {
        EXPECT_EQ(Text([&](char* b) { return reader.GetPortType(n, b); }), c.text) << int(c.code);
        ++n;
    }
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortType(n, b); }), "Unknown");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPortType(n + 1, b); }), "|-1");
}

TEST_F(Devices, OnBoardDevicesAreNumberedAcrossStructures) {
    sim::SmbiosTable t;
    sim::add_on_board_devices(t, {{0x83, "Onboard VGA"}, {0x05, "Onboard LAN"}});
    sim::add_port(t, {});
    sim::add_on_board_devices(t, {{0x87, "Onboard Audio"}});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetOnBoardDevQuantity(), 3);
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevDescription(3, b); }), "Onboard Audio");
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevType(3, b); }), "Sound");
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevDescription(2, b); }), "Onboard LAN");
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevType(2, b); }), "EtherNet");
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevType(1, b); }), "Video");
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevDescription(1, b, 8); }), "Onboard");
    int enabled = -7;
    EXPECT_EQ(reader.GetOnBoardDevBiosEnable(1, enabled), 0);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(reader.GetOnBoardDevBiosEnable(2, enabled), 0);
    EXPECT_EQ(enabled, 0);
    enabled = -7;
    EXPECT_EQ(reader.GetOnBoardDevBiosEnable(4, enabled), -1);
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(reader.GetOnBoardDevBiosEnable(0, enabled), -1);
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevType(0, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetOnBoardDevDescription(4, b); }), "|-1");
}

// Characteristics: the supply type in bits 10-13, present (bit 1) and the status bits.
std::uint16_t Supply(int kind, int low_bits) { return static_cast<std::uint16_t>(kind << 10 | low_bits); }

TEST_F(Devices, PowerSuppliesAreSelectedByKind) {
    sim::SmbiosTable t;
    sim::add_power_supply(t, {.group = 1, .name = "Switcher", .manufacturer = "PSU Works", .serial = "SW-1",
                              .characteristics = Supply(4, 3)});  // present and hot replaceable
    sim::add_power_supply(t, {.group = 1, .name = "Regulator", .serial = "RG-1",
                              .characteristics = Supply(8, 1)});
    sim::add_power_supply(t, {.name = "Battery backup", .serial = "UPS-0123456789ABCDEF",
                              .characteristics = Supply(6, 2)});
    sim::add_power_supply(t, {.name = "Wall", .characteristics = Supply(3, 4)});
    sim::add_power_supply(t, {.name = "Dead", .characteristics = Supply(2, 0)});
    t.end();
    Publish(t);
    SmBios reader;
    // 15 takes every supply; PS_UPS (6) every kind whose bits 11-13 fit in 6: all but the
    // regulator (8).
    EXPECT_EQ(reader.GetPSQuantity(15), 5);
    EXPECT_EQ(reader.GetPSQuantity(SmBios::PS_UPS), 4);
    EXPECT_EQ(reader.GetPSRedundantQuantity(), 2);
    EXPECT_EQ(reader.GetPSBiosEnable(), -1);

    EXPECT_EQ(Text([&](char* b) { return reader.GetPSDeviceName(15, 2, b, 32); }), "Regulator");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSDeviceName(6, 2, b, 32); }), "Battery backup");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSManufacturer(6, 1, b, 32); }), "PSU Works");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSManufacturer(6, 2, b, 32); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSSerialNo(15, 3, b, 16); }), "UPS-0123456789A");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSDeviceName(6, 5, b, 32); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSDeviceName(15, 0, b, 32); }), "|-1");

    EXPECT_EQ(Text([&](char* b) { return reader.GetPSStatus(15, 1, b); }), "Other");  // 3: two bits
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSStatus(15, 2, b); }), "hot replaceable");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSStatus(15, 3, b); }), "present");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSStatus(15, 4, b); }), "unplugged from the wall");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSStatus(15, 5, b); }), "Other");
    EXPECT_EQ(Text([&](char* b) { return reader.GetPSStatus(15, 6, b); }), "|-1");
}

TEST_F(Devices, ProbesAreChosenByTheirLocationBits) {
    sim::SmbiosTable t;
    // Location in bits 0-4, status in bits 5-7.
    sim::add_voltage_probe(t, {.description = "Disk 5V", .location_and_status = 3 << 5 | 4, .nominal = 5000});
    sim::add_voltage_probe(t, {.description = "Board 3V3", .location_and_status = 5 << 5 | 7, .maximum = 3600,
                               .minimum = 3000, .nominal = 3300});
    sim::add_voltage_probe(t, {.description = "CPU Vcore", .location_and_status = 3 << 5 | 3, .nominal = 1200});
    sim::add_temperature_probe(t, {.description = "CPU", .location_and_status = 3 << 5 | 3, .nominal = 455});
    sim::add_temperature_probe(t, {.description = "Disk", .location_and_status = 2 << 5 | 4, .nominal = 0x8000});
    sim::add_temperature_probe(t, {.description = "DIMM", .location_and_status = 0 << 5 | 8, .nominal = 0xFFC9});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetVoltageProbeQuantity(), 3);
    EXPECT_EQ(reader.GetTemperatureProbeQuantity(), 3);
    // Selector 3 wants bits 0 and 1: location 7 (motherboard) has them and comes first.
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageDescription(3, b, 32); }), "Board 3V3");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageStatus(3, b); }), "Critical");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageCurrent(3, b); }), "3300 mv");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageMax(3, b); }), "3600 mv");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageMin(3, b); }), "3000 mv");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageDescription(4, b, 32); }), "Disk 5V");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageStatus(4, b); }), "OK");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageMax(4, b); }), "Unknown|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageCurrent(8, b); }), "|-1");  // no memory probe

    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureDescription(3, b, 32); }), "CPU");
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureCurrent(3, b); }), "45 C");
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureStatus(3, b); }), "OK");
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureCurrent(4, b); }), "Unknown|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureStatus(4, b); }), "Unknown");
    // -5.5 degrees: the value is signed, and whole degrees drop the tenths.
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureCurrent(8, b); }), "-5 C");
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureStatus(8, b); }), "error");
}

TEST_F(Devices, ProbesWithoutANominalValueCannotSupplyIt) {
    sim::SmbiosTable t;
    sim::add_voltage_probe(t, {.length = 20, .description = "Old", .maximum = 1500, .nominal = 1000});
    sim::add_temperature_probe(t, {.length = 21, .description = "Odd", .nominal = 400});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageCurrent(3, b); }),
              "SmBios can not supply this information|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetVoltageMax(3, b); }), "1500 mv");
    // 21 bytes hold only half of the value: it is not read.
    EXPECT_EQ(Text([&](char* b) { return reader.GetTemperatureCurrent(3, b); }),
              "SmBios can not supply this information|-1");
}

TEST_F(Devices, CoolingDevices) {
    sim::SmbiosTable t;
    sim::add_cooling_device(t, {.length = 12, .type_and_status = 3 << 5 | 3, .nominal_speed = 5000});
    sim::add_cooling_device(t, {.type_and_status = 4 << 5 | 7, .nominal_speed = 0x8000});
    sim::add_cooling_device(t, {.length = 15, .type_and_status = 5 << 5 | 0x10, .nominal_speed = 2000,
                                .description = "CPU Fan"});
    sim::add_cooling_device(t, {.length = 13, .type_and_status = 0 << 5 | 0x12, .nominal_speed = 2000});
    t.end();
    Publish(t);
    SmBios reader;
    EXPECT_EQ(reader.GetFanQuantity(), 4);
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanSpeed(1, b); }), "SmBios can not supply this information|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanSpeed(2, b); }), "Unknown or the FAN is non-rotating");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanSpeed(3, b); }), "2000 rpm");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanSpeed(4, b); }), "SmBios can not supply this information|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanSpeed(5, b); }), "|-1");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanStatus(1, b); }), "OK");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanDescription(1, b); }), "FAN");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanStatus(2, b); }), "Non-critical");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanDescription(2, b); }), "Power Supply Fan");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanStatus(3, b); }), "Critical");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanDescription(3, b); }), "Active Cooling");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanStatus(4, b); }), "error");
    EXPECT_EQ(Text([&](char* b) { return reader.GetFanDescription(4, b); }), "error");  // 18 is not listed
}

}  // namespace
