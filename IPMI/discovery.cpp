// The repository walk, the description of each full sensor record, and the per-kind tables.
#include <cstdio>
#include <cstring>
#include <vector>
#include <new>

#include "IPMI/Sensor.h"
#include "process/state.h"

namespace {

constexpr int kKindCapacity = 64;
constexpr unsigned short kLastRecord = 0xFFFF;
// IPMI 2.0 33.1: entity instances 60h-7Fh are relative to their device.
constexpr unsigned char kDeviceRelativeFirst = 0x60, kDeviceRelativeLast = 0x7F;

bool IsTemperature(const SensorDescription& d) {
    return d.SensorType == Sensor::SENSOR_TYPE_TEMPERATURE && d.isAnalogReading == 0;
}
bool IsVoltage(const SensorDescription& d) { return d.SensorType == Sensor::SENSOR_TYPE_VOLTAGE; }
bool IsFan(const SensorDescription& d) { return d.SensorType == Sensor::SENSOR_TYPE_FAN; }
bool IsProcessor(const SensorDescription& d) { return d.SensorType == Sensor::SENSOR_TYPE_PROCESSOR; }

}  // namespace

Sensor::Sensor() : sdr(), TSInfo(), VSInfo(), FSInfo(), PSInfo(), SensorsInformation(nullptr), SensorsInformationCount(0) {
    InitIpmiBase();
}

Sensor::~Sensor() {
    ForgetReading();
    delete[] SensorsInformation;
}

int Sensor::GetSensorNumbers(int RecordCount) {
    if (!IsInitOK() || RecordCount <= 0) return -1;
    ForgetReading();
    // A repository read again may describe other sensors, or the same ones anew.
    qarvel::State().readingFactors.clear();
    qarvel::State().sel.sensors.clear();
    auto* entries = new (std::nothrow) SensorDescription[RecordCount]();
    if (!entries) return -1;
    delete[] SensorsInformation;
    SensorsInformation = entries;
    // Counts the entries filled, not the room: a record that is no full sensor record
    // leaves no entry behind for the threshold and selection getters to find.
    SensorsInformationCount = 0;

    // At most one read per counted record, so a repository whose chain never reaches the
    // last-record marker still ends.
    unsigned char record[256];
    int next = 0, stored = 0;
    SdrWalk walk;
    for (int i = 0; i < RecordCount; ++i) {
        // Cleared for every record: bytes a short record does not send read as zero, never
        // as the previous record's.
        std::memset(record, 0, sizeof record);
        int result = ReadRecord(walk, next, record, sizeof record);
        if (result < 0) return -1;
        next = result;
        NoteSelSensor(qarvel::State().sel.sensors, record, sizeof record);
        sdr = record;
        if (sdr.GetSensorRecordType() == FULL_SENSOR_RECORD && sdr.GetSensorNumber() != 0xFF) {
            SensorsInformationCount = stored + 1;
            FillSensorDescription(SensorsInformation[stored], stored);
            ++stored;
        }
        if (next == kLastRecord) break;
    }
    return 0;
}

void Sensor::FillSensorDescription(SensorDescription& entry, int n) {
    entry.SensorNumbers = sdr.GetSensorNumber();

    entry.sfp.Unit1 = sdr.GetUnit1();
    entry.sfp.SensorLinearization = sdr.GetLinearization();
    entry.sfp.M = sdr.GetValueM();
    entry.sfp.B = sdr.GetValueB();
    entry.sfp.BExp = static_cast<signed char>(sdr.GetBExpValue());
    entry.sfp.RExp = static_cast<signed char>(sdr.GetRExpValue());

    entry.SensorEventReadingCode = sdr.GetEventType();
    if (entry.SensorEventReadingCode == 0x6F &&
        GetSensorStatus(entry.SensorNumbers, 0x6F, entry.SensorCodeOffset) != 0)
        entry.SensorCodeOffset = 0xFF;

    entry.isAnalogReading = sdr.IsAnalog() ? 0 : 1;
    entry.SensorType = sdr.GetSensorType();
    GetSensorUnit(entry.SensorUnit, sizeof entry.SensorUnit);

    if (!entry.isAnalogReading) {
        entry.SensorReadingMaxD = ValueOf(entry.SensorNumbers, entry.sfp, sdr.GetSensorReadingMax());
        ReadSensorMax(n, entry.SensorReadingMax);
        ReadSensorMin(n, entry.SensorReadingMin);
    }

    unsigned char entity = sdr.GetEntityID();
    entry.SensorEntityID = entity == 0xFF ? 0 : entity;
    unsigned char instance = sdr.GetEntityInstance();
    entry.SensorEntityInstance = instance >= kDeviceRelativeFirst && instance <= kDeviceRelativeLast
                                     ? static_cast<unsigned char>(instance - kDeviceRelativeFirst)
                                     : instance;

    // A sensor without thresholds (every discrete one) keeps them all zero.
    GetSensorThreshold(entry.SensorNumbers, entry.sfp, entry.stir, entry.stic);
    const unsigned char settable = static_cast<unsigned char>((sdr.GetThresholdInfo() >> 8) & 0x3F);
    entry.stir.deviceID = entry.stic.deviceID = entry.SensorEntityID;
    entry.stir.sensorType = entry.stic.sensorType = entry.SensorType;
    entry.stir.settableFlag = entry.stic.settableFlag = settable;

    char name[16] = {};
    if (sdr.GetIDstring(name) == 0) std::memcpy(entry.IDString, name, sizeof name);
}

int Sensor::ReadSensorMax(int n, char* result) {
    if (!result) return -1;
    return ReadRangeText(n, sdr.GetSensorReadingMax(), result);
}

int Sensor::ReadSensorMin(int n, char* result) {
    if (!result) return -1;
    return ReadRangeText(n, sdr.GetSensorReadingMin(), result);
}

int Sensor::ReadRangeText(int n, unsigned char raw, char* result) {
    const SensorDescription* entry = Discovered(n);
    if (!entry) return -1;
    const int format = entry->sfp.Unit1 >> 6;
    // The "no limit" bytes of the unsigned and two's complement formats are shown raw.
    if ((format == 0 && raw == 0xFF) || (format == 2 && raw == 0x7F)) {
        WriteResult(result, "%X%s", raw, entry->SensorUnit);
        return 0;
    }
    const double v = ValueOf(entry->SensorNumbers, entry->sfp, raw);
    if (sdr.GetSensorType() == SENSOR_TYPE_FAN) {
        WriteResult(result, "%d%s", TruncatedInt(v), entry->SensorUnit);
    } else {
        WriteResult(result, "%.2f%s", v, entry->SensorUnit);
    }
    return 0;
}

int Sensor::CopyKind(int RecordCount, int& quantity, SensorDescription* sd,
                     bool (*matches)(const SensorDescription&)) {
    if (RecordCount <= 0 || !SensorsInformation) return -1;
    const int scanned = RecordCount < SensorsInformationCount ? RecordCount : SensorsInformationCount;
    for (int i = 0; i < scanned && quantity < kKindCapacity; ++i)
        if (matches(SensorsInformation[i])) sd[quantity++] = SensorsInformation[i];
    return 0;
}

int Sensor::GetTemSensorsInfo(int RecordCount) {
    return CopyKind(RecordCount, TSInfo.quantity, TSInfo.sd, IsTemperature);
}

int Sensor::GetVoltSensorsInfo(int RecordCount) {
    return CopyKind(RecordCount, VSInfo.quantity, VSInfo.sd, IsVoltage);
}

int Sensor::GetFanSensorsInfo(int RecordCount) { return CopyKind(RecordCount, FSInfo.quantity, FSInfo.sd, IsFan); }

int Sensor::GetProcessorSensorInfo(int RecordCount) {
    return CopyKind(RecordCount, PSInfo.quantity, PSInfo.sd, IsProcessor);
}

int Sensor::GetSensorNumberInfo(unsigned char deviceID, unsigned char sensorType, int recordNumber,
                                SensorNumberInfo& sni) {
    std::memset(&sni, 0, sizeof sni);
    std::vector<int> orders;
    SensorOrders(deviceID, sensorType, recordNumber, orders);
    for (int order : orders) {
        if (sni.quantity == kKindCapacity) break;
        sni.sensorOrder[sni.quantity] = order;
        sni.sensorNumber[sni.quantity] = SensorsInformation[order].SensorNumbers;
        ++sni.quantity;
    }
    return 0;
}

void Sensor::SensorOrders(unsigned char deviceID, unsigned char sensorType, int recordNumber,
                          std::vector<int>& orders) {
    orders.clear();
    const int scanned = recordNumber < SensorsInformationCount ? recordNumber : SensorsInformationCount;
    for (int i = 0; SensorsInformation && i < scanned; ++i) {
        const SensorDescription& d = SensorsInformation[i];
        if (d.SensorEntityID == deviceID && d.SensorType == sensorType) orders.push_back(i);
    }
}

int Sensor::ShowKindFrom(int sensorType, int first) {
    SensorDescription* table = nullptr;
    int* quantity = nullptr;
    bool (*matches)(const SensorDescription&) = nullptr;
    switch (sensorType) {
        case SENSOR_TYPE_TEMPERATURE: table = TSInfo.sd, quantity = &TSInfo.quantity, matches = IsTemperature; break;
        case SENSOR_TYPE_VOLTAGE: table = VSInfo.sd, quantity = &VSInfo.quantity, matches = IsVoltage; break;
        case SENSOR_TYPE_FAN: table = FSInfo.sd, quantity = &FSInfo.quantity, matches = IsFan; break;
        default: return -1;
    }
    // The same walk as CopyKind's over every stored entry (never more than the records
    // counted), so the window at 0 is the table discovery built.
    *quantity = 0;
    int seen = 0;
    for (int i = 0; SensorsInformation && i < SensorsInformationCount; ++i) {
        if (!matches(SensorsInformation[i])) continue;
        if (seen++ >= first && *quantity < kKindCapacity) table[(*quantity)++] = SensorsInformation[i];
    }
    return seen;
}

const SensorDescription* Sensor::Discovered(int order) const {
    return SensorsInformation && order >= 0 && order < SensorsInformationCount ? &SensorsInformation[order] : nullptr;
}
