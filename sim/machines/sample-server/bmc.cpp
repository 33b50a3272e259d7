// The sample server's BMC: its SDR repository, the sensors' present readings and states,
// its device ID and channels, and the baseboard's FRU inventory, written as ipmi/sdr.bin,
// ipmi/bmc.conf and ipmi/fru0.bin.
#include "sim/Bmc.h"
#include "sim/Fru.h"
#include "sim/machines/sample-server/parts.h"

namespace sample_server {

namespace {

// Entity IDs (IPMI 2.0 43.14) and units (43.17).
constexpr std::uint8_t kProcessor = 3, kManagementModule = 6, kSystemBoard = 7, kPowerSupply = 10,
                       kSystemChassis = 23, kFanDevice = 29, kMemoryDevice = 32, kExternalEnvironment = 39;
constexpr std::uint8_t kDegreesC = 1, kVolts = 4, kRpm = 18;
// Sensor types (IPMI 2.0 42.2) and event/reading types (42.1).
constexpr std::uint8_t kTemperature = 1, kVoltage = 2, kFan = 4, kIntrusion = 5, kCpu = 7, kPsu = 8,
                       kWatchdog2 = 0x23;
constexpr std::uint8_t kThreshold = 0x01, kSeverity = 0x07, kRedundancy = 0x0B, kSensorSpecific = 0x6F;
// Units 1: analog data formats, and the percentage bit.
constexpr std::uint8_t kUnsigned = 0x00, kTwosComplement = 0x80, kNoReading = 0xC0, kPercentage = 0x01;
// Threshold masks: lower non-critical 0 ... upper non-recoverable 5.
constexpr std::uint8_t kUpper3 = 0x38, kAll6 = 0x3F, kCritical4 = 0x1B, kLower3 = 0x07, kLower2 = 0x03;

struct Sensor {
    sim::FullSensor record;
    std::uint8_t reading;
    std::uint16_t state;
};

// The full sensor records, in repository order, with what each reads now.
const Sensor kSensors[] = {
    // Temperatures. The CPU sensors are signed; the inlet sensor reads raw - 50 degrees.
    {{.number = 0x01, .entity = kProcessor, .instance = 1, .type = kTemperature, .event_type = kThreshold,
      .readable = kUpper3, .settable = kUpper3, .unit1 = kTwosComplement, .base_unit = kDegreesC,
      .nominal = 45, .max = 0x7F, .min = 0x80, .unr = 100, .uc = 95, .unc = 90, .name = "CPU1 Temp"},
     45, 0x0000},
    {{.number = 0x02, .entity = kProcessor, .instance = 2, .type = kTemperature, .event_type = kThreshold,
      .readable = kUpper3, .settable = kUpper3, .unit1 = kTwosComplement, .base_unit = kDegreesC,
      .nominal = 45, .max = 0x7F, .min = 0x80, .unr = 100, .uc = 95, .unc = 90, .name = "CPU2 Temp"},
     48, 0x0000},
    {{.number = 0x03, .entity = kSystemBoard, .instance = 1, .type = kTemperature, .event_type = kThreshold,
      .readable = kAll6, .settable = kAll6, .unit1 = kUnsigned, .base_unit = kDegreesC, .nominal = 30,
      .max = 127, .min = 0, .unr = 80, .uc = 75, .unc = 70, .lnr = 2, .lc = 5, .lnc = 10, .name = "System Temp"},
     31, 0x0000},
    {{.number = 0x04, .entity = kExternalEnvironment, .instance = 1, .type = kTemperature, .event_type = kThreshold,
      .readable = kAll6, .settable = kAll6, .unit1 = kUnsigned, .base_unit = kDegreesC, .b = -5, .k1 = 1,
      .nominal = 75, .max = 175, .min = 0, .unr = 95, .uc = 92, .unc = 88, .lnr = 50, .lc = 52, .lnc = 55,
      .name = "Inlet Temp"},
     73, 0x0000},
    {{.number = 0x05, .entity = kMemoryDevice, .instance = 1, .type = kTemperature, .event_type = kThreshold,
      .readable = kUpper3, .settable = kUpper3, .unit1 = kUnsigned, .base_unit = kDegreesC, .nominal = 40,
      .max = 127, .min = 0, .unr = 90, .uc = 85, .unc = 80, .name = "DIMM Temp"},
     38, 0x0000},
    // A discrete temperature sensor: it has no numeric reading, only a severity state (OK).
    {{.number = 0x06, .entity = kSystemBoard, .instance = 1, .type = kTemperature, .event_type = kSeverity,
      .readable = 0x7F, .unit1 = kNoReading, .base_unit = 0, .name = "Thermal Status"},
     0, 0x0001},

    // Voltages, 10^-2 or 10^-3 volts per count.
    {{.number = 0x10, .entity = kSystemBoard, .instance = 1, .type = kVoltage, .event_type = kThreshold,
      .readable = kCritical4, .settable = kCritical4, .base_unit = kVolts, .m = 6, .k2 = -2, .nominal = 200,
      .max = 0xFF, .min = 0, .uc = 225, .unc = 220, .lc = 175, .lnc = 180, .name = "12V"},
     200, 0x0000},
    {{.number = 0x11, .entity = kSystemBoard, .instance = 1, .type = kVoltage, .event_type = kThreshold,
      .readable = kCritical4, .settable = kCritical4, .base_unit = kVolts, .m = 3, .k2 = -2, .nominal = 167,
      .max = 0xFF, .min = 0, .uc = 188, .unc = 183, .lc = 145, .lnc = 150, .name = "5V"},
     167, 0x0000},
    {{.number = 0x12, .entity = kSystemBoard, .instance = 1, .type = kVoltage, .event_type = kThreshold,
      .readable = kCritical4, .settable = kCritical4, .base_unit = kVolts, .m = 2, .k2 = -2, .nominal = 165,
      .max = 0xFF, .min = 0, .uc = 186, .unc = 182, .lc = 145, .lnc = 149, .name = "3.3V"},
     166, 0x0000},
    {{.number = 0x13, .entity = kSystemBoard, .instance = 1, .type = kVoltage, .event_type = kThreshold,
      .readable = kLower2, .settable = kLower2, .base_unit = kVolts, .m = 16, .k2 = -3, .nominal = 190,
      .max = 0xFF, .min = 0, .lc = 156, .lnc = 169, .name = "VBAT"},
     190, 0x0000},
    {{.number = 0x14, .entity = kProcessor, .instance = 1, .type = kVoltage, .event_type = kThreshold,
      .readable = kCritical4, .settable = kCritical4, .base_unit = kVolts, .m = 8, .k2 = -3, .nominal = 225,
      .max = 0xFF, .min = 0, .uc = 240, .unc = 235, .lc = 140, .lnc = 150, .name = "CPU1 Vcore"},
     225, 0x0000},
    {{.number = 0x15, .entity = kProcessor, .instance = 2, .type = kVoltage, .event_type = kThreshold,
      .readable = kCritical4, .settable = kCritical4, .base_unit = kVolts, .m = 8, .k2 = -3, .nominal = 225,
      .max = 0xFF, .min = 0, .uc = 240, .unc = 235, .lc = 140, .lnc = 150, .name = "CPU2 Vcore"},
     223, 0x0000},
    {{.number = 0x16, .entity = kPowerSupply, .instance = 1, .type = kVoltage, .event_type = kThreshold,
      .readable = kCritical4, .settable = kCritical4, .base_unit = kVolts, .m = 3, .k2 = -2, .nominal = 167,
      .max = 0xFF, .min = 0, .uc = 188, .unc = 183, .lc = 145, .lnc = 150, .name = "5VSB"},
     168, 0x0000},

    // Fans, 100 RPM per count. FAN4 has stopped: its reading is below every lower threshold.
    {{.number = 0x30, .entity = kFanDevice, .instance = 1, .type = kFan, .event_type = kThreshold,
      .readable = kLower3, .settable = kLower3, .base_unit = kRpm, .m = 100, .nominal = 54, .max = 150, .min = 0,
      .lnr = 5, .lc = 8, .lnc = 10, .name = "FAN1"},
     54, 0x0000},
    {{.number = 0x31, .entity = kFanDevice, .instance = 2, .type = kFan, .event_type = kThreshold,
      .readable = kLower3, .settable = kLower3, .base_unit = kRpm, .m = 100, .nominal = 54, .max = 150, .min = 0,
      .lnr = 5, .lc = 8, .lnc = 10, .name = "FAN2"},
     52, 0x0000},
    {{.number = 0x32, .entity = kFanDevice, .instance = 3, .type = kFan, .event_type = kThreshold,
      .readable = kLower3, .settable = kLower3, .base_unit = kRpm, .m = 100, .nominal = 54, .max = 150, .min = 0,
      .lnr = 5, .lc = 8, .lnc = 10, .name = "FAN3"},
     55, 0x0000},
    {{.number = 0x33, .entity = kFanDevice, .instance = 4, .type = kFan, .event_type = kThreshold,
      .readable = kLower3, .settable = kLower3, .base_unit = kRpm, .m = 100, .nominal = 54, .max = 150, .min = 0,
      .lnr = 5, .lc = 8, .lnc = 10, .name = "FAN4"},
     0, 0x0007},
    // The fan controller's duty cycle, a share of its 100 % maximum.
    {{.number = 0x34, .entity = kFanDevice, .instance = 5, .type = kFan, .event_type = kThreshold,
      .unit1 = kUnsigned | kPercentage, .base_unit = 0, .nominal = 40, .max = 100, .min = 0, .name = "FAN Duty"},
     45, 0x0000},

    // Processor status: offset 7, "presence detected", in both sockets.
    {{.number = 0x40, .entity = kProcessor, .instance = 1, .type = kCpu, .event_type = kSensorSpecific,
      .assertions = 0x0083, .readable = 0x83, .unit1 = kNoReading, .base_unit = 0, .name = "CPU1 Status"},
     0, 0x0080},
    {{.number = 0x41, .entity = kProcessor, .instance = 2, .type = kCpu, .event_type = kSensorSpecific,
      .assertions = 0x0083, .readable = 0x83, .unit1 = kNoReading, .base_unit = 0, .name = "CPU2 Status"},
     0, 0x0080},
};

struct Discrete {
    sim::CompactSensor record;
    std::uint16_t state;
};

const Discrete kCompactSensors[] = {
    {{.number = 0x60, .entity = kPowerSupply, .instance = 1, .type = kPsu, .event_type = kSensorSpecific,
      .assertions = 0x000F, .readings = 0x000F, .name = "PS1 Status"},
     0x0001},
    {{.number = 0x61, .entity = kPowerSupply, .instance = 2, .type = kPsu, .event_type = kSensorSpecific,
      .assertions = 0x000F, .readings = 0x000F, .name = "PS2 Status"},
     0x0001},
    {{.number = 0x62, .entity = kFanDevice, .instance = 0x60, .type = kFan, .event_type = kRedundancy,
      .assertions = 0x0007, .readings = 0x00FF, .name = "Fan Redundancy"},
     0x0001},
    {{.number = 0x63, .entity = kSystemChassis, .instance = 1, .type = kIntrusion, .event_type = kSensorSpecific,
      .assertions = 0x0001, .readings = 0x0001, .name = "Chassis Intru"},
     0x0000},
    {{.number = 0x64, .entity = kSystemBoard, .instance = 1, .type = kWatchdog2, .event_type = kSensorSpecific,
      .assertions = 0x000F, .readings = 0x000F, .name = "Watchdog2"},
     0x0000},
};

// Channel media (IPMI 2.0 table 6-3) and protocols (table 6-4).
constexpr std::uint8_t kMediumIpmb = 0x01, kMediumLan = 0x04;
constexpr std::uint8_t kProtocolIpmb = 0x01;
// Chassis type (SMBIOS 7.4.1): rack mount chassis.
constexpr std::uint8_t kRackMount = 0x17;
constexpr std::uint8_t kEnglish = 0x00;

// The baseboard's inventory; the board was made on 2025-02-03 at 08:00 (minutes since 1996).
std::vector<std::uint8_t> Inventory() {
    return sim::FruImage()
        .chassis(kRackMount, {sim::fru_text("HG-CH2U-R2200"), sim::fru_text("HGC2504-00731")})
        .board(kEnglish, 15301920,
               {sim::fru_text("Harrowgate Computing"), sim::fru_text("HG-S2D220"), sim::fru_text("S2D220-38811"),
                sim::fru_text("S2D220-100-B")})
        .product(kEnglish, {sim::fru_text("Harrowgate Computing"), sim::fru_text("HG-R2200 Rack Server"),
                            sim::fru_text("R2200-2S-8D"), sim::fru_text("Rev B"), sim::fru_text("HGR2200-5519027"),
                            sim::fru_text("IT-ASSET-0042")})
        .bytes();
}

}  // namespace

bool write_bmc(const std::string& dir) {
    sim::Bmc bmc;
    bmc.device.device_id = 0x20;
    bmc.device.revision = 0x01;
    bmc.device.firmware1 = 0x02;  // firmware 2.14
    bmc.device.firmware2 = 0x14;
    bmc.device.ipmi_version = 0x02;
    bmc.device.manufacturer = 0x00A1C3;
    bmc.device.product = 0x2200;
    bmc.kcs_present = true;
    bmc.smic_present = false;
    // The primary IPMB and the dedicated management LAN port.
    bmc.channels[1] = {kMediumIpmb, kProtocolIpmb};
    bmc.channels[2] = {kMediumLan, kProtocolIpmb};
    bmc.users[2].name = "ADMIN";
    bmc.fru0 = Inventory();

    bmc.add_record(sim::mc_locator(0x20, kManagementModule, 1, "BMC"));
    for (const Sensor& s : kSensors) {
        bmc.add_record(s.record.record());
        bmc.sensors[s.record.number].reading = s.reading;
        bmc.sensors[s.record.number].state = s.state;
    }
    for (const Discrete& s : kCompactSensors) {
        bmc.add_record(s.record.record());
        bmc.sensors[s.record.number].state = s.state;
    }
    bmc.add_record(sim::fru_locator(0, kSystemBoard, 1, "Baseboard FRU"));
    bmc.add_record(sim::oem_record(bmc.device.manufacturer, {0x01, 0x22, 0x00, 0x5A}));
    return sim::write_ipmi(dir, bmc);
}

}  // namespace sample_server
