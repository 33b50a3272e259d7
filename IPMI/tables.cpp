// Per-kind getters that answer from the tables built at discovery, without a request.
#include <cstring>

#include "IPMI/Sensor.h"

namespace {

// Copies one byte field of entry n; -1 when n is outside the table.
int CopyByte(const SensorDescription* entry, unsigned char SensorDescription::*field, unsigned char& out) {
    if (!entry) return -1;
    out = entry->*field;
    return 0;
}

// Copies one 64-byte text field of entry n into a caller's buffer of at least 64 bytes.
int CopyText(const SensorDescription* entry, const char (SensorDescription::*field)[64], char* result) {
    if (!entry || !result) return -1;
    std::memcpy(result, entry->*field, sizeof(entry->*field));
    result[sizeof(entry->*field) - 1] = '\0';
    return 0;
}

}  // namespace

int Sensor::GetFanEntityID(int n, unsigned char& id) {
    return CopyByte(Entry(FSInfo.sd, n), &SensorDescription::SensorEntityID, id);
}
int Sensor::GetVoltageEntityID(int n, unsigned char& id) {
    return CopyByte(Entry(VSInfo.sd, n), &SensorDescription::SensorEntityID, id);
}
int Sensor::GetTemperatureEntityID(int n, unsigned char& id) {
    return CopyByte(Entry(TSInfo.sd, n), &SensorDescription::SensorEntityID, id);
}

int Sensor::GetFanSensorNumber(int n, unsigned char& number) {
    return CopyByte(Entry(FSInfo.sd, n), &SensorDescription::SensorNumbers, number);
}
int Sensor::GetVoltageSensorNumber(int n, unsigned char& number) {
    return CopyByte(Entry(VSInfo.sd, n), &SensorDescription::SensorNumbers, number);
}
int Sensor::GetTemperatureSensorNumber(int n, unsigned char& number) {
    return CopyByte(Entry(TSInfo.sd, n), &SensorDescription::SensorNumbers, number);
}

int Sensor::GetFanSensorType(int n, unsigned char& type) {
    return CopyByte(Entry(FSInfo.sd, n), &SensorDescription::SensorType, type);
}
int Sensor::GetVoltageSensorType(int n, unsigned char& type) {
    return CopyByte(Entry(VSInfo.sd, n), &SensorDescription::SensorType, type);
}
int Sensor::GetTemperatureSensorType(int n, unsigned char& type) {
    return CopyByte(Entry(TSInfo.sd, n), &SensorDescription::SensorType, type);
}

int Sensor::GetFanIDString(int n, char* result) {
    return CopyText(Entry(FSInfo.sd, n), &SensorDescription::IDString, result);
}
int Sensor::GetVoltageIDString(int n, char* result) {
    return CopyText(Entry(VSInfo.sd, n), &SensorDescription::IDString, result);
}
int Sensor::GetTemperatureIDString(int n, char* result) {
    return CopyText(Entry(TSInfo.sd, n), &SensorDescription::IDString, result);
}

int Sensor::GetVoltageMax(int n, char* result) {
    return CopyText(Entry(VSInfo.sd, n), &SensorDescription::SensorReadingMax, result);
}
int Sensor::GetVoltageMin(int n, char* result) {
    return CopyText(Entry(VSInfo.sd, n), &SensorDescription::SensorReadingMin, result);
}
