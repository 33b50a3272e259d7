// GetIpmiInfo, the sensor dispatcher, and the IPMI support query.
#include <cstring>

#include "IPMI/IPMIsupport.h"
#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "api/paging.h"
#include "process/state.h"


int EnsureSensorInfo(IPMIsupport& ipmi) {
    int& done = qarvel::State().IPMIGetSensorInfoOK;
    // A repository changed since (a firmware update, a part added) is discovered again.
    if (done && !ipmi.sensor.RepositoryChanged()) return 0;
    done = 0;
    if (ipmi.GetSensorInfo() != 0) return -1;  // tried again on the next call
    ipmi.sensor.NoteDiscovered();
    done = 1;
    return 0;
}

int GetSensorThreshold(SensorThresholdInfoRaw stir, SensorThresholdInfoConverted stic, SensorThresholdInfo& sti) {
    sti.DeviceID = stir.deviceID;
    sti.SensorType = stir.sensorType;
    sti.UpperNonRecoverThresholdValue = stic.UpperNonRecoverThresholdValue;
    sti.UpperCriticalThresholdValue = stic.UpperCriticalThresholdValue;
    sti.UpperNonCriticalThresholdValue = stic.UpperNonCriticalThresholdValue;
    sti.LowerNonRecoverThreshold = stic.LowerNonRecoverThreshold;
    sti.LowerCriticalThreshold = stic.LowerCriticalThreshold;
    sti.LowerNonCriticalThreshold = stic.LowerNonCriticalThreshold;
    sti.MaxThreshold = stic.MaxThreshold;
    sti.MinThreshold = stic.MinThreshold;
    return 0;
}

namespace {

using ByteGetter = int (IPMIsupport::*)(int, unsigned char&);
using TextGetter = int (IPMIsupport::*)(int, char*);
using ThresholdGetter = int (IPMIsupport::*)(int, SensorThresholdInfoRaw&, SensorThresholdInfoConverted&);

// The facade's getters for one kind of sensor, and the record field its reading goes to.
template <typename Entry>
struct Kind {
    int sensorType;  // Sensor::SENSOR_TYPE_...: the kind's table
    int (IPMIsupport::*count)();
    TextGetter reading;
    char (Entry::*readingField)[16];
    ByteGetter number, entity;
    TextGetter max, min;  // voltages only
    TextGetter status;
    ThresholdGetter thresholds;
    ByteGetter type;
    TextGetter idString;
};

const Kind<FAN_DEVICE> kFans = {
    Sensor::SENSOR_TYPE_FAN,
    &IPMIsupport::GetFanSensorsNum,        &IPMIsupport::GetFanSpeed,    &FAN_DEVICE::speed,
    &IPMIsupport::GetFanSensorNumber,      &IPMIsupport::GetFanEntityID, nullptr,
    nullptr,                               &IPMIsupport::GetFanStatusDescription,
    &IPMIsupport::GetFanSensorThreshold,   &IPMIsupport::GetFanSensorType,
    &IPMIsupport::GetFanIDString,
};

const Kind<VOLTAGE_PROBE> kVoltages = {
    Sensor::SENSOR_TYPE_VOLTAGE,
    &IPMIsupport::GetVoltSensorsNum,         &IPMIsupport::GetVoltageCurrent,    &VOLTAGE_PROBE::CurrentVoltage,
    &IPMIsupport::GetVoltageSensorNumber,    &IPMIsupport::GetVoltageEntityID,   &IPMIsupport::GetVoltageMax,
    &IPMIsupport::GetVoltageMin,             &IPMIsupport::GetVoltageStatusDescription,
    &IPMIsupport::GetVoltageSensorThreshold, &IPMIsupport::GetVoltageSensorType,
    &IPMIsupport::GetVoltageIDString,
};

const Kind<TEMPERATURE_PROBE> kTemperatures = {
    Sensor::SENSOR_TYPE_TEMPERATURE,
    &IPMIsupport::GetTemSensorsNum,              &IPMIsupport::GetTemperatureCurrent,
    &TEMPERATURE_PROBE::CurrentTemperature,      &IPMIsupport::GetTemperatureSensorNumber,
    &IPMIsupport::GetTemperatureEntityID,        nullptr,
    nullptr,                                     &IPMIsupport::GetTemperatureStatusDescription,
    &IPMIsupport::GetTemperatureSensorThreshold, &IPMIsupport::GetTemperatureSensorType,
    &IPMIsupport::GetTemperatureIDString,
};

// The getters write up to 64 bytes; the record's fields are smaller. A getter that fails
// leaves its field as it was.
template <std::size_t N>
void PutText(IPMIsupport& ipmi, TextGetter getter, int n, char (&field)[N]) {
    char text[64] = {};
    if ((ipmi.*getter)(n, text) == 0) CopyToField(field, text);
}

template <typename Entry>
void FillEntry(IPMIsupport& ipmi, const Kind<Entry>& kind, int n, Entry& e) {
    PutText(ipmi, kind.reading, n, e.*kind.readingField);
    (ipmi.*kind.number)(n, e.sensorNumber);
    unsigned char scratch = 0;
    (ipmi.*kind.entity)(n, scratch);
    e.DeviceID = scratch;
    if (kind.max) PutText(ipmi, kind.max, n, e.max);
    if (kind.min) PutText(ipmi, kind.min, n, e.min);
    PutText(ipmi, kind.status, n, e.desc);
    SensorThresholdInfoRaw stir = {};
    SensorThresholdInfoConverted stic = {};
    (ipmi.*kind.thresholds)(n, stir, stic);
    GetSensorThreshold(stir, stic, e.sti);
    scratch = 0;
    (ipmi.*kind.type)(n, scratch);
    e.SensorType = scratch;
    char id[64] = {};
    if ((ipmi.*kind.idString)(n, id) != 0) id[0] = '\0';
    CopyToField(e.IdString, id);
}

// `quantity` says how many sensors the BMC has, even beyond the entries the record holds.
template <typename Record, typename Entry, std::size_t N>
int Fill(IPMIsupport& ipmi, const Kind<Entry>& kind, Record& record, Entry (&entries)[N]) {
    const int q = (ipmi.*kind.count)();
    if (q <= 0) return -1;
    record.quantity = q;
    const int shown = q < static_cast<int>(N) ? q : static_cast<int>(N);
    for (int n = 0; n < shown; ++n) FillEntry(ipmi, kind, n, entries[n]);
    return 0;
}

int Dispatch(IPMIsupport& ipmi, unsigned long command, LPVOID buffer) {
    switch (command) {
        case INFO_FAN: {
            auto& r = *static_cast<FanInformation*>(buffer);
            return Fill(ipmi, kFans, r, r.fan);
        }
        case INFO_VOLTAGE: {
            auto& r = *static_cast<VoltageInformation*>(buffer);
            return Fill(ipmi, kVoltages, r, r.voltage);
        }
        case INFO_TEMPERATURE: {
            auto& r = *static_cast<TemperatureInformation*>(buffer);
            return Fill(ipmi, kTemperatures, r, r.temperature);
        }
        default:
            return 0;  // not a sensor command: nothing to do
    }
}

// Every sensor of a kind, read through the kind's table shown a window of 64 at a time, which
// is then put back as discovery built it.
template <typename Record, typename Entry, std::size_t N>
int SensorPage(IPMIsupport& ipmi, const Kind<Entry>& kind, Entry (Record::*array)[N], int first, void* buffer,
               int* total) {
    static const qarvel::PageShape<Record, Entry, N> shape = {array, qarvel::CountIn<Record, &Record::quantity>};
    using R = qarvel::Reading<Record, Entry>;
    const R& reading = qarvel::ReadingFor<R>(
        qarvel::State().sensorPages, "GetIpmiInfo " + std::to_string(kind.sensorType), first, [&](R& r) {
            // The table is put back however the reading ends (an allocation may fail).
            struct PutBack {
                Sensor& sensor;
                int type;
                ~PutBack() { sensor.ShowKindFrom(type, 0); }
            } putBack{ipmi.sensor, kind.sensorType};
            const int count = ipmi.sensor.ShowKindFrom(kind.sensorType, 0);
            for (int window = 0; window < count; window += 64) {
                const int shown = ipmi.sensor.ShowKindFrom(kind.sensorType, window) - window;
                for (int n = 0; n < shown && n < 64; ++n) {
                    r.entries.emplace_back();
                    FillEntry(ipmi, kind, n, r.entries.back());
                }
            }
            if (count <= 0) r.result = -1;  // as GetIpmiInfo: no sensor of the kind
        });
    return qarvel::ServePage(reading, shape, first, buffer, total);
}

int DispatchPage(IPMIsupport& ipmi, unsigned long command, int first, LPVOID buffer, int* total) {
    switch (command) {
        case INFO_FAN: return SensorPage(ipmi, kFans, &FanInformation::fan, first, buffer, total);
        case INFO_VOLTAGE: return SensorPage(ipmi, kVoltages, &VoltageInformation::voltage, first, buffer, total);
        case INFO_TEMPERATURE:
            return SensorPage(ipmi, kTemperatures, &TemperatureInformation::temperature, first, buffer, total);
        default: return -1;  // not a sensor command
    }
}

}  // namespace

extern "C" int IsIpmiSupport(void) { return qarvel::IpmiSupported(); }

extern "C" int GetIpmiInfo(unsigned long command, LPVOID buffer) {
    BusyFlag busy(qarvel::State().busy.NoEnterIPMI);
    // A watchdog set or read holds both flags; either one means busy.
    if (!busy || BusyFlag::IsSet(qarvel::State().busy.NoEnterWatchDogTimer)) return 1;
    if (!buffer) return -1;
    qarvel::IpmiSession session;  // waits while a threshold export has the facade
    IPMIsupport* ipmi = session.Ready();
    if (!ipmi) return -1;
    if (EnsureSensorInfo(*ipmi) != 0) return -1;
    return Dispatch(*ipmi, command, buffer);
}

extern "C" int GetIpmiInfoPage(unsigned long command, int first, LPVOID buffer, int* total) {
    BusyFlag busy(qarvel::State().busy.NoEnterIPMI);
    if (!busy || BusyFlag::IsSet(qarvel::State().busy.NoEnterWatchDogTimer)) return 1;
    if (!buffer || first < 0) return -1;
    try {
        qarvel::IpmiSession session;
        IPMIsupport* ipmi = session.Ready();
        if (!ipmi) return -1;
        if (EnsureSensorInfo(*ipmi) != 0) return -1;
        return DispatchPage(*ipmi, command, first, buffer, total);
    } catch (...) {
        return -1;
    }
}
