// Decoding the log's 16-byte records (IPMI 2.0 32), and the texts of their events: the
// threshold and generic states (IPMI 2.0 42.1) and the sensor-specific ones (42.2).
#include <cstdio>
#include <cstring>

#include "IPMI/EventCodeTable.h"
#include "IPMI/sel.h"
#include "api/field.h"

namespace {

// Event/reading type 01h, by offset.
const char* const kThresholdStates[12] = {
    "Lower Non-critical going low",  "Lower Non-critical going high", "Lower Critical going low",
    "Lower Critical going high",     "Lower Non-recoverable going low", "Lower Non-recoverable going high",
    "Upper Non-critical going low",  "Upper Non-critical going high", "Upper Critical going low",
    "Upper Critical going high",     "Upper Non-recoverable going low", "Upper Non-recoverable going high",
};

// Event/reading types 02h to 0Ch, by [type - 2][offset].
const char* const kGenericStates[11][9] = {
    {"Transition to Idle", "Transition to Active", "Transition to Busy"},
    {"State Deasserted", "State Asserted"},
    {"Predictive Failure deasserted", "Predictive Failure asserted"},
    {"Limit Not Exceeded", "Limit Exceeded"},
    {"Performance Met", "Performance Lags"},
    {"Transition to OK", "Transition to Non-Critical from OK", "Transition to Critical from less severe",
     "Transition to Non-recoverable from less severe", "Transition to Non-Critical from more severe",
     "Transition to Critical from Non-recoverable", "Transition to Non-recoverable", "Monitor", "Informational"},
    {"Device Removed / Device Absent", "Device Inserted / Device Present"},
    {"Device Disabled", "Device Enabled"},
    {"Transition to Running", "Transition to In Test", "Transition to Power Off", "Transition to On Line",
     "Transition to Off Line", "Transition to Off Duty", "Transition to Degraded", "Transition to Power Save",
     "Install Error"},
    {"Fully Redundant", "Redundancy Lost", "Redundancy Degraded",
     "Non-redundant: Sufficient Resources from Redundant",
     "Non-redundant: Sufficient Resources from Insufficient Resources", "Non-redundant: Insufficient Resources",
     "Redundancy Degraded from Fully Redundant", "Redundancy Degraded from Non-redundant"},
    {"D0 Power State", "D1 Power State", "D2 Power State", "D3 Power State"},
};

// Sensor-specific states (event/reading type 6Fh): sensor type, offset, text.
struct SpecificState {
    unsigned char type, offset;
    const char* text;
};
const SpecificState kSpecificStates[] = {
    {0x05, 0, "General Chassis Intrusion"}, {0x05, 1, "Drive Bay intrusion"},
    {0x05, 2, "I/O Card area intrusion"}, {0x05, 3, "Processor area intrusion"},
    {0x05, 4, "LAN Leash Lost"}, {0x05, 5, "Unauthorized dock/undock"}, {0x05, 6, "FAN area intrusion"},
    {0x06, 0, "Secure Mode Violation attempt"}, {0x06, 1, "Pre-boot Password Violation - user password"},
    {0x06, 2, "Pre-boot Password Violation attempt - setup password"},
    {0x06, 3, "Pre-boot Password Violation - network boot password"},
    {0x06, 4, "Other pre-boot Password Violation"}, {0x06, 5, "Out-of-band Access Password Violation"},
    {0x07, 0, "IERR"}, {0x07, 1, "Thermal Trip"}, {0x07, 2, "FRB1/BIST failure"},
    {0x07, 3, "FRB2/Hang in POST failure"}, {0x07, 4, "FRB3/Processor Startup/Initialization failure"},
    {0x07, 5, "Configuration Error"}, {0x07, 6, "SM BIOS Uncorrectable CPU-complex Error"},
    {0x07, 7, "Processor Presence detected"}, {0x07, 8, "Processor disabled"},
    {0x07, 9, "Terminator Presence Detected"}, {0x07, 10, "Processor Automatically Throttled"},
    {0x07, 11, "Machine Check Exception (Uncorrectable)"}, {0x07, 12, "Correctable Machine Check Error"},
    {0x08, 0, "Presence detected"}, {0x08, 1, "Power Supply Failure detected"},
    {0x08, 2, "Predictive Failure"}, {0x08, 3, "Power Supply input lost (AC/DC)"},
    {0x08, 4, "Power Supply input lost or out-of-range"}, {0x08, 5, "Power Supply input out-of-range, but present"},
    {0x08, 6, "Configuration error"}, {0x08, 7, "Power Supply Inactive (in standby state)"},
    {0x09, 0, "Power Off / Power Down"}, {0x09, 1, "Power Cycle"}, {0x09, 2, "240VA Power Down"},
    {0x09, 3, "Interlock Power Down"}, {0x09, 4, "AC lost / Power input lost"},
    {0x09, 5, "Soft Power Control Failure"}, {0x09, 6, "Power Unit Failure detected"},
    {0x09, 7, "Predictive Failure"},
    {0x0C, 0, "Correctable ECC"}, {0x0C, 1, "Uncorrectable ECC"}, {0x0C, 2, "Parity"},
    {0x0C, 3, "Memory Scrub Failed"}, {0x0C, 4, "Memory Device Disabled"},
    {0x0C, 5, "Correctable ECC logging limit reached"}, {0x0C, 6, "Presence detected"},
    {0x0C, 7, "Configuration error"}, {0x0C, 8, "Spare"}, {0x0C, 9, "Memory Automatically Throttled"},
    {0x0C, 10, "Critical Overtemperature"},
    {0x0D, 0, "Drive Presence"}, {0x0D, 1, "Drive Fault"}, {0x0D, 2, "Predictive Failure"},
    {0x0D, 3, "Hot Spare"}, {0x0D, 4, "Consistency Check / Parity Check in progress"},
    {0x0D, 5, "In Critical Array"}, {0x0D, 6, "In Failed Array"}, {0x0D, 7, "Rebuild/Remap in progress"},
    {0x0D, 8, "Rebuild/Remap Aborted"},
    {0x0F, 0, "System Firmware Error"}, {0x0F, 1, "System Firmware Hang"}, {0x0F, 2, "System Firmware Progress"},
    {0x10, 0, "Correctable Memory Error Logging Disabled"}, {0x10, 1, "Event Type Logging Disabled"},
    {0x10, 2, "Log Area Reset/Cleared"}, {0x10, 3, "All Event Logging Disabled"}, {0x10, 4, "SEL Full"},
    {0x10, 5, "SEL Almost Full"}, {0x10, 6, "Correctable Machine Check Error Logging Disabled"},
    {0x11, 0, "BIOS Watchdog Reset"}, {0x11, 1, "OS Watchdog Reset"}, {0x11, 2, "OS Watchdog Shut Down"},
    {0x11, 3, "OS Watchdog Power Down"}, {0x11, 4, "OS Watchdog Power Cycle"},
    {0x11, 5, "OS Watchdog NMI / Diagnostic Interrupt"}, {0x11, 6, "OS Watchdog Expired, status only"},
    {0x11, 7, "OS Watchdog pre-timeout Interrupt, non-NMI"},
    {0x12, 0, "System Reconfigured"}, {0x12, 1, "OEM System Boot Event"},
    {0x12, 2, "Undetermined system hardware failure"}, {0x12, 3, "Entry added to Auxiliary Log"},
    {0x12, 4, "PEF Action"}, {0x12, 5, "Timestamp Clock Synch"},
    {0x13, 0, "Front Panel NMI / Diagnostic Interrupt"}, {0x13, 1, "Bus Timeout"},
    {0x13, 2, "I/O channel check NMI"}, {0x13, 3, "Software NMI"}, {0x13, 4, "PCI PERR"}, {0x13, 5, "PCI SERR"},
    {0x13, 6, "EISA Fail Safe Timeout"}, {0x13, 7, "Bus Correctable Error"}, {0x13, 8, "Bus Uncorrectable Error"},
    {0x13, 9, "Fatal NMI"}, {0x13, 10, "Bus Fatal Error"}, {0x13, 11, "Bus Degraded"},
    {0x14, 0, "Power Button pressed"}, {0x14, 1, "Sleep Button pressed"}, {0x14, 2, "Reset Button pressed"},
    {0x14, 3, "FRU latch open"}, {0x14, 4, "FRU service request button"},
    {0x19, 0, "Soft Power Control Failure"}, {0x19, 1, "Thermal Trip"},
    {0x1B, 0, "Cable/Interconnect is connected"}, {0x1B, 1, "Configuration Error - Incorrect cable connected"},
    {0x1D, 0, "Initiated by power up"}, {0x1D, 1, "Initiated by hard reset"}, {0x1D, 2, "Initiated by warm reset"},
    {0x1D, 3, "User requested PXE boot"}, {0x1D, 4, "Automatic boot to diagnostic"},
    {0x1D, 5, "OS / run-time software initiated hard reset"},
    {0x1D, 6, "OS / run-time software initiated warm reset"}, {0x1D, 7, "System Restart"},
    {0x1E, 0, "No bootable media"}, {0x1E, 1, "Non-bootable diskette left in drive"},
    {0x1E, 2, "PXE Server not found"}, {0x1E, 3, "Invalid boot sector"},
    {0x1E, 4, "Timeout waiting for user selection of boot source"},
    {0x1F, 0, "A: boot completed"}, {0x1F, 1, "C: boot completed"}, {0x1F, 2, "PXE boot completed"},
    {0x1F, 3, "Diagnostic boot completed"}, {0x1F, 4, "CD-ROM boot completed"}, {0x1F, 5, "ROM boot completed"},
    {0x1F, 6, "boot completed - boot device not specified"}, {0x1F, 7, "Base OS/Hypervisor Installation started"},
    {0x1F, 8, "Base OS/Hypervisor Installation completed"}, {0x1F, 9, "Base OS/Hypervisor Installation aborted"},
    {0x1F, 10, "Base OS/Hypervisor Installation failed"},
    {0x20, 0, "Critical stop during OS load / initialization"}, {0x20, 1, "Run-time Critical Stop"},
    {0x20, 2, "OS Graceful Stop"}, {0x20, 3, "OS Graceful Shutdown"}, {0x20, 4, "Soft Shutdown initiated by PEF"},
    {0x20, 5, "Agent Not Responding"},
    {0x21, 0, "Fault Status asserted"}, {0x21, 1, "Identify Status asserted"},
    {0x21, 2, "Slot / Connector Device installed/attached"}, {0x21, 3, "Slot / Connector Ready for Device Installation"},
    {0x21, 4, "Slot/Connector Ready for Device Removal"}, {0x21, 5, "Slot Power is Off"},
    {0x21, 6, "Slot / Connector Device Removal Request"}, {0x21, 7, "Interlock asserted"},
    {0x21, 8, "Slot is Disabled"}, {0x21, 9, "Slot holds spare device"},
    {0x22, 0, "S0 / G0 \"working\""}, {0x22, 1, "S1 \"sleeping with system h/w & processor context maintained\""},
    {0x22, 2, "S2 \"sleeping, processor context lost\""},
    {0x22, 3, "S3 \"sleeping, processor & h/w context lost, memory retained\""},
    {0x22, 4, "S4 \"non-volatile sleep / suspend-to disk\""}, {0x22, 5, "S5 / G2 \"soft-off\""},
    {0x22, 6, "S4 / S5 soft-off, particular S4 / S5 state cannot be determined"}, {0x22, 7, "G3 / Mechanical Off"},
    {0x22, 8, "Sleeping in an S1, S2, or S3 states"}, {0x22, 9, "G1 sleeping"}, {0x22, 10, "S5 entered by override"},
    {0x22, 11, "Legacy ON state"}, {0x22, 12, "Legacy OFF state"}, {0x22, 14, "Unknown"},
    {0x23, 0, "Timer expired, status only"}, {0x23, 1, "Hard Reset"}, {0x23, 2, "Power Down"},
    {0x23, 3, "Power Cycle"}, {0x23, 8, "Timer interrupt"},
    {0x24, 0, "platform generated page"}, {0x24, 1, "platform generated LAN alert"},
    {0x24, 2, "Platform Event Trap generated"}, {0x24, 3, "platform generated SNMP trap, OEM format"},
    {0x25, 0, "Entity Present"}, {0x25, 1, "Entity Absent"}, {0x25, 2, "Entity Disabled"},
    {0x27, 0, "LAN Heartbeat Lost"}, {0x27, 1, "LAN Heartbeat"},
    {0x28, 0, "sensor access degraded or unavailable"}, {0x28, 1, "controller access degraded or unavailable"},
    {0x28, 2, "management controller off-line"}, {0x28, 3, "management controller unavailable"},
    {0x28, 4, "Sensor failure"}, {0x28, 5, "FRU failure"},
    {0x29, 0, "battery low"}, {0x29, 1, "battery failed"}, {0x29, 2, "battery presence detected"},
    {0x2A, 0, "Session Activated"}, {0x2A, 1, "Session Deactivated"}, {0x2A, 2, "Invalid Username or Password"},
    {0x2A, 3, "Invalid password disable"},
    {0x2B, 0, "Hardware change detected"}, {0x2B, 1, "Firmware or software change detected"},
    {0x2B, 2, "Hardware incompatibility detected"}, {0x2B, 3, "Firmware or software incompatibility detected"},
    {0x2B, 4, "Entity is of an invalid or unsupported hardware version"},
    {0x2B, 5, "Entity contains an invalid or unsupported firmware or software version"},
    {0x2B, 6, "Hardware Change detected was successful"},
    {0x2B, 7, "Software or F/W Change detected was successful"},
    {0x2C, 0, "FRU Not Installed"}, {0x2C, 1, "FRU Inactive"}, {0x2C, 2, "FRU Activation Requested"},
    {0x2C, 3, "FRU Activation In Progress"}, {0x2C, 4, "FRU Active"}, {0x2C, 5, "FRU Deactivation Requested"},
    {0x2C, 6, "FRU Deactivation In Progress"}, {0x2C, 7, "FRU Communication Lost"},
};

// Sensor types past the end of SensorsType (IPMI 2.0 42.2).
const char* const kLaterSensorTypes[] = {"Session Audit", "Version Change", "FRU State"};
constexpr unsigned int kTypeNames = sizeof SensorsType / sizeof SensorsType[0];

constexpr unsigned char kSystemEvent = 0x02, kFirstTimestampedOem = 0xC0, kFirstPlainOem = 0xE0;
// Timestamps below this count seconds since the BMC started (IPMI 2.0 37.1).
constexpr unsigned int kFirstDate = 0x20000000, kNoTime = 0xFFFFFFFF;
constexpr unsigned char kThresholdType = 0x01, kSpecificType = 0x6F;

unsigned int Word32(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
           static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24;
}

void Stamp(SelEntry& e, unsigned int time) {
    e.Timestamp = time;
    e.TimeKind = time == kNoTime ? SEL_TIME_NONE : time < kFirstDate ? SEL_TIME_SINCE_START : SEL_TIME_DATE;
}

}  // namespace

const char* SelEventText(unsigned char eventType, unsigned char sensorType, unsigned char offset) {
    if (eventType == kThresholdType) return offset < 12 ? kThresholdStates[offset] : nullptr;
    if (eventType >= 0x02 && eventType <= 0x0C) return offset < 9 ? kGenericStates[eventType - 2][offset] : nullptr;
    if (eventType == kSpecificType)
        for (const SpecificState& s : kSpecificStates)
            if (s.type == sensorType && s.offset == offset) return s.text;
    return nullptr;
}

const char* SelSensorTypeName(unsigned char sensorType) {
    if (sensorType == 0) return nullptr;  // "reserved"
    if (sensorType < kTypeNames) return SensorsType[sensorType];
    const unsigned int later = sensorType - kTypeNames;
    if (later < sizeof kLaterSensorTypes / sizeof kLaterSensorTypes[0]) return kLaterSensorTypes[later];
    return sensorType >= 0xC0 ? "OEM reserved" : nullptr;
}

void DecodeSelRecord(const unsigned char* bytes, int length, unsigned short id, const std::vector<SelSensor>& index,
                     SelEntry& entry) {
    entry = SelEntry{};
    entry.RecordId = id;
    unsigned char r[kSelRecordSize] = {};
    const int held = length < 0 ? 0 : length > static_cast<int>(kSelRecordSize) ? kSelRecordSize : length;
    if (bytes && held > 0) std::memcpy(r, bytes, static_cast<std::size_t>(held));
    std::memcpy(entry.Raw, r, sizeof r);
    entry.RecordType = r[2];
    if (held < static_cast<int>(kSelRecordSize)) {
        CopyToField(entry.EventText, "record cut short");
        return;
    }
    if (r[2] >= kFirstPlainOem) {
        Stamp(entry, kNoTime);
        CopyToField(entry.EventText, "OEM record (no timestamp)");
        return;
    }
    Stamp(entry, Word32(r + 3));
    if (r[2] >= kFirstTimestampedOem) {
        entry.ManufacturerId = static_cast<unsigned int>(r[7] | r[8] << 8 | r[9] << 16);
        CopyToField(entry.EventText, "OEM record");
        return;
    }
    if (r[2] != kSystemEvent) {
        CopyToField(entry.EventText, "unknown record type");
        return;
    }
    entry.Decoded = 1;
    entry.GeneratorId = r[7];
    entry.GeneratorLun = r[8] & 0x03;
    entry.GeneratorChannel = r[8] >> 4;
    entry.SensorType = r[10];
    entry.SensorNumber = r[11];
    entry.Deasserted = (r[12] & 0x80) ? 1 : 0;
    entry.EventType = r[12] & 0x7F;
    entry.Offset = r[13] & 0x0F;
    std::memcpy(entry.EventData, r + 13, 3);

    if (const char* name = SelSensorTypeName(entry.SensorType)) CopyToField(entry.SensorTypeName, name);
    char text[sizeof entry.EventText];
    const char* state = SelEventText(entry.EventType, entry.SensorType, entry.Offset);
    if (state)
        std::snprintf(text, sizeof text, "%s", state);
    else if (entry.EventType >= 0x70 && entry.EventType <= 0x7F)
        std::snprintf(text, sizeof text, "OEM event type %02Xh, offset %u", entry.EventType, entry.Offset);
    else
        std::snprintf(text, sizeof text, "event type %02Xh, offset %u", entry.EventType, entry.Offset);
    CopyToField(entry.EventText, text);

    // A software generator has no LUN in the repository's sense: its owner byte is its ID.
    const SelSensor* sensor =
        FindSelSensor(index, entry.GeneratorId, (entry.GeneratorId & 1) ? 0 : entry.GeneratorLun, entry.SensorNumber);
    if (sensor) {
        entry.SensorKnown = 1;
        CopyToField(entry.SensorName, sensor->name);
    }
    // Event data 1 bits 7..6 = 01b: byte 2 is the trigger reading; bits 5..4 = 01b: byte 3
    // the threshold that was crossed (IPMI 2.0 29.7). Converted only with a full record's factors.
    if (entry.EventType == kThresholdType && sensor && sensor->hasFactors) {
        if ((r[13] & 0xC0) == 0x40) {
            entry.Trigger |= SEL_TRIGGER_READING;
            entry.TriggerReading = ReadingValue(sensor->sfp, r[14]);
        }
        if ((r[13] & 0x30) == 0x10) {
            entry.Trigger |= SEL_TRIGGER_THRESHOLD;
            entry.TriggerThreshold = ReadingValue(sensor->sfp, r[15]);
        }
    }
}
