// The simulated BMC's sensors and the sensor commands (IPMI 2.0 35).
#include "sim/Bmc.h"

namespace sim {

namespace {

constexpr std::uint8_t kSetSensorThresholds = 0x26, kGetSensorThresholds = 0x27, kGetSensorReading = 0x2D;
// Get Sensor Reading byte 2: event messages and scanning enabled.
constexpr std::uint8_t kScanningEnabled = 0xC0;
constexpr std::uint8_t kThresholdBased = 0x01;

// Full sensor record offsets (IPMI 2.0 43.1).
constexpr std::size_t kNumber = 7, kEventType = 13, kReadableMask = 18, kSettableMask = 19, kNominal = 31,
                      kUpperNonRecoverable = 36, kLowerNonCritical = 41;

}  // namespace

void Bmc::add_sensor_of(const std::vector<std::uint8_t>& record) {
    if (record.size() <= kNumber) return;
    const std::uint8_t type = record[3];
    if (type != kFullSensorRecord && type != kCompactSensorRecord) return;
    BmcSensor sensor;
    if (type == kFullSensorRecord && record.size() > kLowerNonCritical) {
        sensor.threshold_based = record[kEventType] == kThresholdBased;
        sensor.reading = record[kNominal];
        if (sensor.threshold_based) {
            sensor.readable = record[kReadableMask] & 0x3F;
            sensor.settable = record[kSettableMask] & 0x3F;
            // The record lists them from upper non-recoverable down to lower non-critical.
            for (std::size_t i = 0; i < 6; ++i) sensor.thresholds[i] = record[kLowerNonCritical - i];
        }
    }
    static_assert(kLowerNonCritical - 5 == kUpperNonRecoverable, "six thresholds");
    sensors[record[kNumber]] = sensor;
}

void Bmc::register_sensor_commands() {
    add_command(netfn::kSensor, kGetSensorReading, 1,
                [this](const BmcRequest& q, BmcResponse& r) { get_sensor_reading(q, r); });
    add_command(netfn::kSensor, kGetSensorThresholds, 1,
                [this](const BmcRequest& q, BmcResponse& r) { get_sensor_thresholds(q, r); });
    add_command(netfn::kSensor, kSetSensorThresholds, 8,
                [this](const BmcRequest& q, BmcResponse& r) { set_sensor_thresholds(q, r); });
}

// IPMI 2.0 35.14
void Bmc::get_sensor_reading(const BmcRequest& q, BmcResponse& r) {
    auto it = sensors.find(q.data[0]);
    if (it == sensors.end()) {
        r.completion = completion::kNotPresent;
        return;
    }
    const BmcSensor& s = it->second;
    if (s.reading_refused) {
        r.completion = s.reading_refused;
        return;
    }
    r.data = {s.reading, kScanningEnabled, static_cast<std::uint8_t>(s.state & 0xFF),
              static_cast<std::uint8_t>(((s.state >> 8) & 0x7F) | 0x80)};
}

// IPMI 2.0 35.9
void Bmc::get_sensor_thresholds(const BmcRequest& q, BmcResponse& r) {
    auto it = sensors.find(q.data[0]);
    if (it == sensors.end()) {
        r.completion = completion::kNotPresent;
        return;
    }
    const BmcSensor& s = it->second;
    if (s.thresholds_refused) {
        r.completion = s.thresholds_refused;
        return;
    }
    if (!s.threshold_based) {
        r.completion = completion::kIllegalForSensor;
        return;
    }
    r.data = {s.readable};
    r.data.insert(r.data.end(), s.thresholds.begin(), s.thresholds.end());
}

// IPMI 2.0 35.8: only the thresholds the mask names change; naming one that is not
// settable refuses the whole request.
void Bmc::set_sensor_thresholds(const BmcRequest& q, BmcResponse& r) {
    auto it = sensors.find(q.data[0]);
    if (it == sensors.end()) {
        r.completion = completion::kNotPresent;
        return;
    }
    BmcSensor& s = it->second;
    if (!s.threshold_based) {
        r.completion = completion::kIllegalForSensor;
        return;
    }
    const std::uint8_t mask = q.data[1] & 0x3F;
    if (mask & ~s.settable) {
        r.completion = completion::kInvalidField;
        return;
    }
    for (std::size_t i = 0; i < 6; ++i)
        if (mask & (1u << i)) s.thresholds[i] = q.data[2 + i];
}

}  // namespace sim
