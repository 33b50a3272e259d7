// The facade: construction, sensor discovery, and the members that forward to the two
// readers.
#include "IPMI/IPMIsupport.h"

namespace {

// Application and transport requests name the BMC by its slave address.
constexpr unsigned char kBmcAddress = 0x20;

}  // namespace

// The readers' constructors each try the device too; the first success serves the family.
IPMIsupport::IPMIsupport() : sensor(), fru() { InitIpmiBase(); }

IPMIsupport::~IPMIsupport() = default;

IpmiAnswer IPMIsupport::Send(unsigned char netFn, unsigned char cmd, const unsigned char* data, int dataLength) {
    if (!IsInitOK()) return IpmiAnswer{};
    return AskBmc(*this, netFn, cmd, kBmcAddress, data, dataLength);
}

int IPMIsupport::GetSensorInfo() {
    if (!IsInitOK()) return -1;
    int RecordCount = 0, version = 0;
    if (sensor.GetSDRRepositoryInfo(RecordCount, version) != 0) return -1;
    // The kind tables are appended to: start them empty, so a discovery that is run again
    // (after one that failed half-way) lists every sensor once.
    sensor.FSInfo.quantity = sensor.VSInfo.quantity = sensor.TSInfo.quantity = sensor.PSInfo.quantity = 0;
    if (sensor.GetSensorNumbers(RecordCount) != 0 || sensor.GetFanSensorsInfo(RecordCount) != 0 ||
        sensor.GetVoltSensorsInfo(RecordCount) != 0 || sensor.GetTemSensorsInfo(RecordCount) != 0 ||
        sensor.GetProcessorSensorInfo(RecordCount) != 0)
        return -1;
    return 0;
}

int IPMIsupport::GetFanSensorsNum() { return sensor.IsInitOK() ? sensor.FSInfo.quantity : 0; }
int IPMIsupport::GetVoltSensorsNum() { return sensor.IsInitOK() ? sensor.VSInfo.quantity : 0; }
int IPMIsupport::GetTemSensorsNum() { return sensor.IsInitOK() ? sensor.TSInfo.quantity : 0; }

// --- sensor reader ---------------------------------------------------------------------------

int IPMIsupport::GetSDRRepositoryInfo(int& RecordCount, int& version) {
    return sensor.GetSDRRepositoryInfo(RecordCount, version);
}
int IPMIsupport::GetSensorNumbers(int RecordCount) { return sensor.GetSensorNumbers(RecordCount); }

int IPMIsupport::GetFanEntityID(int n, unsigned char& id) { return sensor.GetFanEntityID(n, id); }
int IPMIsupport::GetFanSensorNumber(int n, unsigned char& number) { return sensor.GetFanSensorNumber(n, number); }
int IPMIsupport::GetFanSensorType(int n, unsigned char& type) { return sensor.GetFanSensorType(n, type); }
int IPMIsupport::GetFanIDString(int n, char* result) { return sensor.GetFanIDString(n, result); }
int IPMIsupport::GetFanSpeed(int n, char* result) { return sensor.GetFanSpeed(n, result); }
int IPMIsupport::GetFanStatusDescription(int n, char* result) { return sensor.GetFanStatusDescription(n, result); }
int IPMIsupport::GetFanSensorThreshold(int n, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic) {
    return sensor.GetFanSensorThreshold(n, stir, stic);
}

int IPMIsupport::GetVoltageEntityID(int n, unsigned char& id) { return sensor.GetVoltageEntityID(n, id); }
int IPMIsupport::GetVoltageSensorNumber(int n, unsigned char& number) {
    return sensor.GetVoltageSensorNumber(n, number);
}
int IPMIsupport::GetVoltageSensorType(int n, unsigned char& type) { return sensor.GetVoltageSensorType(n, type); }
int IPMIsupport::GetVoltageIDString(int n, char* result) { return sensor.GetVoltageIDString(n, result); }
int IPMIsupport::GetVoltageCurrent(int n, char* result) { return sensor.GetVoltageCurrent(n, result); }
int IPMIsupport::GetVoltageMax(int n, char* result) { return sensor.GetVoltageMax(n, result); }
int IPMIsupport::GetVoltageMin(int n, char* result) { return sensor.GetVoltageMin(n, result); }
int IPMIsupport::GetVoltageStatusDescription(int n, char* result) {
    return sensor.GetVoltageStatusDescription(n, result);
}
int IPMIsupport::GetVoltageSensorThreshold(int n, SensorThresholdInfoRaw& stir,
                                           SensorThresholdInfoConverted& stic) {
    return sensor.GetVoltageSensorThreshold(n, stir, stic);
}

int IPMIsupport::GetTemperatureEntityID(int n, unsigned char& id) { return sensor.GetTemperatureEntityID(n, id); }
int IPMIsupport::GetTemperatureSensorNumber(int n, unsigned char& number) {
    return sensor.GetTemperatureSensorNumber(n, number);
}
int IPMIsupport::GetTemperatureSensorType(int n, unsigned char& type) {
    return sensor.GetTemperatureSensorType(n, type);
}
int IPMIsupport::GetTemperatureIDString(int n, char* result) { return sensor.GetTemperatureIDString(n, result); }
int IPMIsupport::GetTemperatureCurrent(int n, char* result) { return sensor.GetTemperatureCurrent(n, result); }
int IPMIsupport::GetTemperatureStatusDescription(int n, char* result) {
    return sensor.GetTemperatureStatusDescription(n, result);
}
int IPMIsupport::GetTemperatureSensorThreshold(int n, SensorThresholdInfoRaw& stir,
                                               SensorThresholdInfoConverted& stic) {
    return sensor.GetTemperatureSensorThreshold(n, stir, stic);
}

int IPMIsupport::GetDeviceID(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision) {
    return sensor.GetDeviceID(majorFirmwareRevision, minorFirmwareRevision);
}

int IPMIsupport::GetSensorNumberInfo(unsigned char deviceID, unsigned char sensorType, int recordNumber,
                                     SensorNumberInfo& sni) {
    return sensor.GetSensorNumberInfo(deviceID, sensorType, recordNumber, sni);
}
int IPMIsupport::GetThreshold(int sensorOrder, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic) {
    return sensor.GetThreshold(sensorOrder, stir, stic) == 0 ? 0 : -1;
}
int IPMIsupport::GetSensorFormulaParameter(unsigned char sensorOrder, SensorFormulaParameter& sfp) {
    return sensor.GetSensorFormulaParameter(sensorOrder, sfp);
}
int IPMIsupport::GetValueConversion(SensorFormulaParameter sfp, unsigned char& RawReadingValue,
                                    double ConvertedReadingValue) {
    return RawReadingValue = RawForValue(sfp, ConvertedReadingValue), 0;
}
int IPMIsupport::SetSensorThreshold(unsigned char number, SensorThresholdInfoRaw stir) {
    return sensor.SetSensorThreshold(number, stir);
}

// --- FRU reader ------------------------------------------------------------------------------

int IPMIsupport::GetFRUInfo() { return fru.GetFRUInfo(); }
int IPMIsupport::GetBoardManufacturer(char* result) { return fru.GetBoardManufacturer(result); }
int IPMIsupport::GetBoardProductName(char* result) { return fru.GetBoardProductName(result); }
int IPMIsupport::GetBoardSerialNumber(char* result) { return fru.GetBoardSerialNumber(result); }
int IPMIsupport::GetBoardPartNumber(char* result) { return fru.GetBoardPartNumber(result); }
int IPMIsupport::GetChassisPartNumber(char* result) { return fru.GetChassisPartNumber(result); }
int IPMIsupport::GetChassisSerialNumber(char* result) { return fru.GetChassisSerialNumber(result); }
int IPMIsupport::GetProductManufacturerName(char* result) { return fru.GetProductManufacturerName(result); }
int IPMIsupport::GetProductPartName(char* result) { return fru.GetProductPartName(result); }
int IPMIsupport::GetProductSerialNumber(char* result) { return fru.GetProductSerialNumber(result); }
int IPMIsupport::GetProductVersion(char* result) { return fru.GetProductVersion(result); }
int IPMIsupport::GetProductAssertTag(char* result) { return fru.GetProductAssetTag(result); }
