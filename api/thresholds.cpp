// The threshold exports: every sensor's thresholds, one entity's, and writing one threshold
// of every sensor of an entity and type.
#include <cstring>

#include "IPMI/IPMIsupport.h"
#include "api/exports.h"
#include "process/state.h"


namespace {

constexpr int kMostEntries = 64;

// The sensors must be known before any can be chosen: the same full discovery that
// GetIpmiInfo runs, once per facade. `RecordCount` bounds the selection.
int PrepareSensorNumbers(IPMIsupport& ipmi, int& RecordCount) {
    if (!ipmi.IsInitOK()) return -1;
    int version = 0;
    RecordCount = 0;
    if (ipmi.GetSDRRepositoryInfo(RecordCount, version) != 0) return -1;
    return EnsureSensorInfo(ipmi);
}

// The discovered sensors of one entity and sensor type, both narrowed to a byte.
int MatchingSensors(IPMIsupport& ipmi, int deviceID, int sensorType, SensorNumberInfo& sni) {
    int RecordCount = 0;
    if (PrepareSensorNumbers(ipmi, RecordCount) != 0) return -1;
    return ipmi.GetSensorNumberInfo(static_cast<unsigned char>(deviceID), static_cast<unsigned char>(sensorType),
                                      RecordCount, sni) == 0
               ? 0
               : -1;
}

SensorThresholdInfo& NextEntry(SensorThresholdInformation& record) { return record.SensorThreshold[record.quantity++]; }

}  // namespace

extern "C" int GetAllThresholdInfo(LPVOID buffer) {
    qarvel::IpmiSession session;
    IPMIsupport* ipmi = session.Ready();
    if (!ipmi || !buffer) return -1;
    auto& record = *static_cast<SensorThresholdInformation*>(buffer);
    std::memset(&record, 0, sizeof record);
    int RecordCount = 0;
    if (PrepareSensorNumbers(*ipmi, RecordCount) != 0) return -1;
    const int tried = RecordCount < kMostEntries ? RecordCount : kMostEntries;
    for (int i = 0; i < tried; ++i) {
        SensorThresholdInfoRaw stir = {};
        SensorThresholdInfoConverted stic = {};
        if (ipmi->GetThreshold(i, stir, stic) != 0) continue;
        GetSensorThreshold(stir, stic, NextEntry(record));
    }
    return 0;
}

extern "C" int GetThresholdInfo(int deviceID, int sensorType, LPVOID buffer) {
    BusyFlag busy(qarvel::State().busy.NoEnterGetThreshold);
    if (!busy) return 1;
    qarvel::IpmiSession session;
    IPMIsupport* ipmi = session.Ready();
    if (!ipmi || !buffer) return -1;
    auto& record = *static_cast<SensorThresholdInformation*>(buffer);
    std::memset(&record, 0, sizeof record);
    SensorNumberInfo sni = {};
    if (MatchingSensors(*ipmi, deviceID, sensorType, sni) != 0) return -1;
    const int tried = sni.quantity < kMostEntries ? sni.quantity : kMostEntries;
    for (int i = 0; i < tried; ++i) {
        SensorThresholdInfoRaw stir = {};
        SensorThresholdInfoConverted stic = {};
        if (ipmi->GetThreshold(sni.sensorOrder[i], stir, stic) != 0) continue;
        SensorThresholdInfo& entry = NextEntry(record);
        GetSensorThreshold(stir, stic, entry);
        // The caller's own numbers, as asked.
        entry.DeviceID = deviceID;
        entry.SensorType = sensorType;
    }
    return 0;
}

extern "C" int SetThresholdInfo(int deviceID, int sensorType, int thresholdFlag, double thresholdValue) {
    BusyFlag busy(qarvel::State().busy.NoEnterSetThreshold);
    if (!busy) return 1;
    // A threshold that does not exist: nothing is asked of the BMC.
    if (thresholdFlag < IPMIsupport::THRESHOLD_LOWER_WARNING ||
        thresholdFlag > IPMIsupport::THRESHOLD_UPPER_NON_RECOVERABLE)
        return -1;
    qarvel::IpmiSession session;
    IPMIsupport* ipmi = session.Ready();
    if (!ipmi) return -1;
    SensorNumberInfo sni = {};
    if (MatchingSensors(*ipmi, deviceID, sensorType, sni) != 0) return -1;
    return WriteThreshold(*ipmi, sni, thresholdFlag, thresholdValue);
}
