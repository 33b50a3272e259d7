// Port connectors (type 8), on-board devices (type 10), system power supplies (type 39),
// cooling devices (type 27), voltage probes (type 26) and temperature probes (type 28).
#include <cstdio>
#include <cstring>

#include "SmBios/CodeTable.h"
#include "SmBios/SmBios.h"

namespace {

// SMBIOS 7.9: Port Connector Information.
constexpr int kExternalDesignator = 6, kPortType = 8;
// SMBIOS 7.11: On Board Devices Information; two bytes per device from offset 4.
constexpr int kFirstDevice = 4;
constexpr unsigned char kDeviceEnabled = 0x80;
// SMBIOS 7.40: System Power Supply.
constexpr int kPowerUnitGroup = 4, kDeviceName = 6, kPsManufacturer = 7, kPsSerialNumber = 8,
              kCharacteristics = 14;
// SMBIOS 7.28: Cooling Device. The nominal speed came with SMBIOS 2.2; older devices end at 12.
constexpr int kTypeAndStatus = 6, kNominalSpeed = 12;
// SMBIOS 7.27 and 7.29: Voltage and Temperature Probe share one layout.
constexpr int kProbeDescription = 4, kLocationAndStatus = 5, kProbeMaximum = 6, kProbeMinimum = 8,
              kProbeNominal = 20;
constexpr unsigned short kUnknownValue = 0x8000;

constexpr int kMaxPorts = 128, kMaxOnBoardStructures = 127, kMaxSupplies = 32, kMaxRedundantSupplies = 31,
              kMaxFans = 63, kMaxProbes = 127;
// The longest text a getter without a length writes, NUL included.
constexpr unsigned int kLongestText = 39;
constexpr const char* kCannotSupply = "SmBios can not supply this information";

// SMBIOS 7.9.3: port types.
constexpr CodeTable<256> kPortTypes = {
    {0, "None"},
    {1, "Parallel Port XT/AT Compatible"},
    {2, "Parallel Port PS/2"},
    {3, "Parallel Port ECP"},
    {4, "Parallel Port EPP"},
    {5, "Parallel Port ECP/EPP"},
    {6, "Serial Port XT/AT Compatible"},
    {7, "Serial Port 16450 Compatible"},
    {8, "Serial Port 16550 Compatible"},
    {9, "Serial Port 16550A Compatible"},
    {10, "SCSI Port"},
    {11, "MIDI Port"},
    {12, "Joy Stick Port"},
    {13, "Keyboard Port"},
    {14, "Mouse Port"},
    {15, "SSA SCSI"},
    {16, "USB"},
    {17, "FireWire (IEEE P1394)"},
    {18, "PCMCIA Type II"},
    {19, "PCMCIA Type II"},
    {20, "PCMCIA Type III"},
    {21, "Cardbus"},
    {22, "Access Bus Port"},
    {23, "SCSI II"},
    {24, "SCSI Wide"},
    {25, "PC-98"},
    {26, "PC-98-Hireso"},
    {27, "PC-H98"},
    {28, "Video Port"},
    {29, "Audio Port"},
    {30, "Modem Port"},
    {31, "Network Port"},
    {32, "SATA"},
    {33, "SAS"},
    {34, "MFDP (Multi-Function Display Port)"},
    {35, "Thunderbolt"},
    {160, "8251 Compatible"},
    {161, "8251 FIFO Compatible"},
    {255, "Other"},
};

// SMBIOS 7.11.1 and 7.42.2: on-board device types (bits 0-6).
constexpr CodeTable<128> kOnBoardTypes = {
    {1, "Other"}, {3, "Video"}, {4, "SCSI Controller"}, {5, "EtherNet"}, {6, "Token Ring"}, {7, "Sound"},
    {8, "PATA Controller"}, {9, "SATA Controller"}, {10, "SAS Controller"}, {11, "Wireless LAN"},
    {12, "Bluetooth"}, {13, "WWAN"}, {14, "eMMC"}, {15, "NVMe Controller"}, {16, "UFS Controller"},
};

// SMBIOS 7.40.1: the low bits of the power supply characteristics.
constexpr CodeTable<8> kSupplyStatus = {
    {1, "hot replaceable"}, {2, "present"}, {4, "unplugged from the wall"},
};

// SMBIOS 7.28.1 and 7.27.1: status of a cooling device or probe (bits 5-7).
constexpr const char* kStatusTexts[8] = {
    "error", "Other", "Unknown", "OK", "Non-critical", "Critical", "Non-recoverable", "error",
};

// SMBIOS 7.28.1: cooling device types (bits 0-4).
constexpr CodeTable<32> kCoolingTypes = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "FAN"},
    {4, "Centrifugal Blower"},
    {5, "Chip Fan"},
    {6, "Cabinet Fan"},
    {7, "Power Supply Fan"},
    {8, "Heat Pipe"},
    {9, "Integrated Refrigeration"},
    {16, "Active Cooling"},
    {17, "Passive Cooling"},
};

int DeviceCount(const BiosDataItem& item) { return (item.GetFormatedDataLength() - kFirstDevice) / 2; }

// A supply matches selector s when its kind (bits 11-13 of the characteristics; bit 10 is
// left out) adds no bit to s: 15 takes every supply, PS_UPS every one but regulators.
bool SupplyMatches(const BiosDataItem& supply, int selector) {
    int kind = (supply.WordOr(kCharacteristics, 0) >> 10) & 0x0E;
    return (kind | selector) == selector;
}

// The status bits (5-7) of a cooling device or probe.
int WriteStatus(const BiosDataItem* item, int offset, char* result) {
    if (!item || !result) return -1;
    std::strcpy(result, kStatusTexts[item->ByteOr(offset, 0) >> 5]);
    return 0;
}

// Probe values are signed (SMBIOS 7.27, 7.29), in millivolts or tenths of a degree.
int WriteProbeValue(const BiosDataItem* probe, int offset, const char* unit, int divisor, char* result) {
    if (!probe || !result) return -1;
    unsigned short raw = probe->WordOr(offset, kUnknownValue);
    if (raw == kUnknownValue) {
        std::strcpy(result, "Unknown");
        return -1;
    }
    std::snprintf(result, kLongestText, "%d %s", static_cast<short>(raw) / divisor, unit);
    return 0;
}

int WriteProbeNominal(const BiosDataItem* probe, const char* unit, int divisor, char* result) {
    if (!probe || !result) return -1;
    unsigned short raw;
    if (!probe->GetWord(kProbeNominal, raw)) {
        std::strcpy(result, kCannotSupply);
        return -1;
    }
    return WriteProbeValue(probe, kProbeNominal, unit, divisor, result);
}

}  // namespace

// --- ports ---------------------------------------------------------------------------------

int SmBios::GetPortQuantity() { return CountStructures(TYPE_PORT_CONNECTOR_INFO, kMaxPorts); }

int SmBios::GetPortType(int n, char* result) {
    FoundItem port = GetOccurrence(TYPE_PORT_CONNECTOR_INFO, n);
    if (!port || !result) return -1;
    unsigned char code;
    std::strcpy(result, port->GetByte(kPortType, code) ? kPortTypes.Find(code, "Unknown") : "Unknown");
    return 0;
}

int SmBios::GetPortDecription(int n, char* result, unsigned int length) {
    FoundItem port = GetOccurrence(TYPE_PORT_CONNECTOR_INFO, n);
    const char* text = port ? port->GetFieldString(kExternalDesignator) : nullptr;
    if (!text || !result) return -1;
    if (length == 0) return 0;
    std::size_t size = std::strlen(text);
    if (size < length) {
        std::memcpy(result, text, size);
    } else if (length < 4) {
        std::memcpy(result, text, length - 1);
    } else {
        // Too long for the field: cut, and say so with "...", length - 1 characters in all.
        std::memcpy(result, text, length - 4);
        std::memcpy(result + length - 4, "...", 3);
    }
    return 0;
}

// --- on-board devices ----------------------------------------------------------------------

int SmBios::GetOnBoardDevQuantity() {
    int total = 0;
    for (int k = 1; k <= kMaxOnBoardStructures; ++k) {
        FoundItem devices = GetOccurrence(TYPE_ON_BOARD_DEVICE_INFO, k);
        if (!devices) break;
        total += DeviceCount(*devices);
    }
    return total;
}

FoundItem SmBios::GetOnBoardDev(int n, int& entry) {
    if (n < 1) return FoundItem();
    int before = 0;
    for (int k = 1; k <= kMaxOnBoardStructures; ++k) {
        FoundItem devices = GetOccurrence(TYPE_ON_BOARD_DEVICE_INFO, k);
        if (!devices) return FoundItem();
        int count = DeviceCount(*devices);
        if (before + count >= n) {
            entry = n - before - 1;
            return devices;
        }
        before += count;
    }
    return FoundItem();
}

int SmBios::GetOnBoardDevBiosEnable(int n, int& result) {
    int entry;
    FoundItem devices = GetOnBoardDev(n, entry);
    if (!devices) {
        result = 0;
        return -1;
    }
    result = devices->ByteOr(kFirstDevice + 2 * entry, 0) & kDeviceEnabled ? 1 : 0;
    return 0;
}

int SmBios::GetOnBoardDevType(int n, char* result) {
    int entry;
    FoundItem devices = GetOnBoardDev(n, entry);
    if (!devices || !result) return -1;
    std::strcpy(result, kOnBoardTypes.Find(devices->ByteOr(kFirstDevice + 2 * entry, 0) & 0x7F, "Unknown"));
    return 0;
}

int SmBios::GetOnBoardDevDescription(int n, char* result, unsigned int length) {
    int entry;
    FoundItem devices = GetOnBoardDev(n, entry);
    const char* text = devices ? devices->GetFieldString(kFirstDevice + 2 * entry + 1) : nullptr;
    if (!text || !result) return -1;
    if (length == 0) return 0;
    std::size_t size = strnlen(text, length - 1);
    std::memcpy(result, text, size);
    result[size] = '\0';
    return 0;
}

// --- power supplies ------------------------------------------------------------------------

int SmBios::GetPSQuantity(int type) {
    int count = 0;
    for (int n = 1; n <= kMaxSupplies; ++n) {
        FoundItem supply = GetOccurrence(TYPE_SYSTEM_POWER_SUPPLY, n);
        if (!supply) break;
        if (SupplyMatches(*supply, type)) ++count;
    }
    return count;
}

int SmBios::GetPSRedundantQuantity() {
    int count = 0;
    for (int n = 1; n <= kMaxRedundantSupplies; ++n) {
        FoundItem supply = GetOccurrence(TYPE_SYSTEM_POWER_SUPPLY, n);
        if (!supply) break;
        if (supply->ByteOr(kPowerUnitGroup, 0) != 0) ++count;
    }
    return count;
}

FoundItem SmBios::GetPowerSupply(int type, int n) {
    int matched = 0;
    for (int k = 1; k <= kMaxSupplies && n >= 1; ++k) {
        FoundItem supply = GetOccurrence(TYPE_SYSTEM_POWER_SUPPLY, k);
        if (!supply) break;
        if (SupplyMatches(*supply, type) && ++matched == n) return supply;
    }
    return FoundItem();
}

int SmBios::GetPSDeviceName(int type, int n, char* result, unsigned int length) {
    FoundItem supply = GetPowerSupply(type, n);
    return CopyItemString(supply.get(), kDeviceName, result, length);
}

int SmBios::GetPSManufacturer(int type, int n, char* result, unsigned int length) {
    FoundItem supply = GetPowerSupply(type, n);
    return CopyItemString(supply.get(), kPsManufacturer, result, length);
}

int SmBios::GetPSSerialNo(int type, int n, char* result, unsigned int length) {
    FoundItem supply = GetPowerSupply(type, n);
    return CopyItemString(supply.get(), kPsSerialNumber, result, length);
}

int SmBios::GetPSStatus(int type, int n, char* result) {
    FoundItem supply = GetPowerSupply(type, n);
    if (!supply || !result) return -1;
    // Only one bit alone has a text; combinations read "Other".
    std::strcpy(result, kSupplyStatus.Find(supply->WordOr(kCharacteristics, 0) & 0x07, "Other"));
    return 0;
}

int SmBios::GetPSBiosEnable() { return -1; }

// --- cooling devices -----------------------------------------------------------------------

int SmBios::GetFanQuantity() { return CountStructures(TYPE_COOLING_DEVICE, kMaxFans); }

int SmBios::GetFanStatus(int n, char* result) {
    FoundItem fan = GetOccurrence(TYPE_COOLING_DEVICE, n);
    return WriteStatus(fan.get(), kTypeAndStatus, result);
}

int SmBios::GetFanDescription(int n, char* result) {
    FoundItem fan = GetOccurrence(TYPE_COOLING_DEVICE, n);
    if (!fan || !result) return -1;
    std::strcpy(result, kCoolingTypes.Find(fan->ByteOr(kTypeAndStatus, 0) & 0x1F, "error"));
    return 0;
}

int SmBios::GetFanSpeed(int n, char* result) {
    FoundItem fan = GetOccurrence(TYPE_COOLING_DEVICE, n);
    if (!fan || !result) return -1;
    unsigned short speed;
    if (!fan->GetWord(kNominalSpeed, speed)) {
        std::strcpy(result, kCannotSupply);
        return -1;
    }
    if (speed == kUnknownValue) {
        std::strcpy(result, "Unknown or the FAN is non-rotating");
        return 0;
    }
    std::snprintf(result, kLongestText, "%d rpm", speed);
    return 0;
}

// --- probes --------------------------------------------------------------------------------

FoundItem SmBios::GetProbe(unsigned char structureType, int type) {
    for (int n = 1; n <= kMaxProbes; ++n) {
        FoundItem probe = GetOccurrence(structureType, n);
        if (!probe) return FoundItem();
        if ((probe->ByteOr(kLocationAndStatus, 0) & type) == type) return probe;
    }
    return FoundItem();
}

int SmBios::GetVoltageProbeQuantity() { return CountStructures(TYPE_VOLTAGE_PROBE, kMaxProbes); }

int SmBios::GetVoltageDescription(int type, char* result, unsigned int length) {
    FoundItem probe = GetProbe(TYPE_VOLTAGE_PROBE, type);
    return CopyItemString(probe.get(), kProbeDescription, result, length);
}

int SmBios::GetVoltageStatus(int type, char* result) {
    FoundItem probe = GetProbe(TYPE_VOLTAGE_PROBE, type);
    return WriteStatus(probe.get(), kLocationAndStatus, result);
}

int SmBios::GetVoltageCurrent(int type, char* result) {
    FoundItem probe = GetProbe(TYPE_VOLTAGE_PROBE, type);
    return WriteProbeNominal(probe.get(), "mv", 1, result);
}

int SmBios::GetVoltageMax(int type, char* result) {
    FoundItem probe = GetProbe(TYPE_VOLTAGE_PROBE, type);
    return WriteProbeValue(probe.get(), kProbeMaximum, "mv", 1, result);
}

int SmBios::GetVoltageMin(int type, char* result) {
    FoundItem probe = GetProbe(TYPE_VOLTAGE_PROBE, type);
    return WriteProbeValue(probe.get(), kProbeMinimum, "mv", 1, result);
}

int SmBios::GetTemperatureProbeQuantity() { return CountStructures(TYPE_TEMPERATURE_PROBE, kMaxProbes); }

int SmBios::GetTemperatureDescription(int type, char* result, unsigned int length) {
    FoundItem probe = GetProbe(TYPE_TEMPERATURE_PROBE, type);
    return CopyItemString(probe.get(), kProbeDescription, result, length);
}

int SmBios::GetTemperatureStatus(int type, char* result) {
    FoundItem probe = GetProbe(TYPE_TEMPERATURE_PROBE, type);
    return WriteStatus(probe.get(), kLocationAndStatus, result);
}

int SmBios::GetTemperatureCurrent(int type, char* result) {
    FoundItem probe = GetProbe(TYPE_TEMPERATURE_PROBE, type);
    return WriteProbeNominal(probe.get(), "C", 10, result);
}
