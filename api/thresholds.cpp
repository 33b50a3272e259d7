// The threshold exports: every sensor's thresholds, one entity's, and writing one threshold
// of every sensor of an entity and type.
#include <cstring>

#include "IPMI/IPMIsupport.h"
#include "api/exports.h"
#include "api/paging.h"
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

using ThresholdReading = qarvel::Reading<SensorThresholdInformation, SensorThresholdInfo>;

// The thresholds of every discovered sensor, or of those of one entity and sensor type (when
// deviceID and sensorType are given), in pages.
int ThresholdPage(IPMIsupport& ipmi, const std::string& key, const int* deviceID, const int* sensorType, int first,
                  void* buffer, int* total) {
    static const qarvel::PageShape<SensorThresholdInformation, SensorThresholdInfo, kMostEntries> shape = {
        &SensorThresholdInformation::SensorThreshold,
        qarvel::CountIn<SensorThresholdInformation, &SensorThresholdInformation::quantity>};
    const ThresholdReading& reading =
        qarvel::ReadingFor<ThresholdReading>(qarvel::State().sensorPages, key, first, [&](ThresholdReading& r) {
            int RecordCount = 0;
            if (PrepareSensorNumbers(ipmi, RecordCount) != 0) {
                r.result = -1;
                return;
            }
            std::vector<int> orders;
            if (deviceID) {
                ipmi.sensor.SensorOrders(static_cast<unsigned char>(*deviceID),
                                         static_cast<unsigned char>(*sensorType), RecordCount, orders);
            } else {
                for (int i = 0; i < RecordCount; ++i) orders.push_back(i);
            }
            for (int order : orders) {
                SensorThresholdInfoRaw stir = {};
                SensorThresholdInfoConverted stic = {};
                if (ipmi.GetThreshold(order, stir, stic) != 0) continue;
                r.entries.emplace_back();
                GetSensorThreshold(stir, stic, r.entries.back());
                // The caller's own numbers, as asked.
                if (deviceID) r.entries.back().DeviceID = *deviceID, r.entries.back().SensorType = *sensorType;
            }
        });
    return qarvel::ServePage(reading, shape, first, buffer, total);
}

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

extern "C" int GetAllThresholdInfoPage(int first, LPVOID buffer, int* total) {
    if (!buffer || first < 0) return -1;
    try {
        qarvel::IpmiSession session;
        IPMIsupport* ipmi = session.Ready();
        if (!ipmi) return -1;
        return ThresholdPage(*ipmi, "GetAllThresholdInfo", nullptr, nullptr, first, buffer, total);
    } catch (...) {
        return -1;
    }
}

extern "C" int GetThresholdInfoPage(int deviceID, int sensorType, int first, LPVOID buffer, int* total) {
    BusyFlag busy(qarvel::State().busy.NoEnterGetThreshold);
    if (!busy) return 1;
    if (!buffer || first < 0) return -1;
    try {
        qarvel::IpmiSession session;
        IPMIsupport* ipmi = session.Ready();
        if (!ipmi) return -1;
        const std::string key = "GetThresholdInfo " + std::to_string(deviceID) + " " + std::to_string(sensorType);
        return ThresholdPage(*ipmi, key, &deviceID, &sensorType, first, buffer, total);
    } catch (...) {
        return -1;
    }
}
