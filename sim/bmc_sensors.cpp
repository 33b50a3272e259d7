// The simulated BMC's sensors and the sensor commands (IPMI 2.0 35).
#include "sim/Bmc.h"

#include <algorithm>
#include <iterator>

namespace sim {

namespace {

constexpr std::uint8_t kGetReadingFactors = 0x23, kSetSensorThresholds = 0x26, kGetSensorThresholds = 0x27, kGetSensorReading = 0x2D;
constexpr std::uint8_t kThresholdBased = 0x01;

// Full sensor record offsets (IPMI 2.0 43.1).
constexpr std::size_t kNumber = 7, kEventType = 13, kFactors = 24, kReadableMask = 18, kSettableMask = 19, kNominal = 31,
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
        sensor.has_factors = true;
        std::copy_n(record.begin() + kFactors, sensor.factors.size(), sensor.factors.begin());
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
    add_command(netfn::kSensor, kGetReadingFactors, 2,
                [this](const BmcRequest& q, BmcResponse& r) { get_reading_factors(q, r); });
    add_command(netfn::kSensor, kGetSensorThresholds, 1,
                [this](const BmcRequest& q, BmcResponse& r) { get_sensor_thresholds(q, r); });
    add_command(netfn::kSensor, kSetSensorThresholds, 8,
                [this](const BmcRequest& q, BmcResponse& r) { set_sensor_thresholds(q, r); });
}

BmcSensor* Bmc::sensor_asked(const BmcRequest& q, BmcResponse& r) {
    auto it = sensors.find(q.data[0]);
    if (it != sensors.end()) return &it->second;
    r.completion = completion::kNotPresent;
    return nullptr;
}

// IPMI 2.0 35.14
void Bmc::get_sensor_reading(const BmcRequest& q, BmcResponse& r) {
    const BmcSensor* found = sensor_asked(q, r);
    if (!found) return;
    const BmcSensor& s = *found;
    if (s.reading_refused) {
        r.completion = s.reading_refused;
        return;
    }
    r.data = {s.reading, s.reading_flags, static_cast<std::uint8_t>(s.state & 0xFF),
              static_cast<std::uint8_t>(((s.state >> 8) & 0x7F) | 0x80)};
    if (s.reading_bytes < r.data.size()) r.data.resize(s.reading_bytes);
}

// IPMI 2.0 35.5: the next raw value whose factors differ (FFh after the last segment), then
// the factors that hold for the one asked about.
void Bmc::get_reading_factors(const BmcRequest& q, BmcResponse& r) {
    const BmcSensor* found = sensor_asked(q, r);
    if (!found) return;
    const BmcSensor& s = *found;
    if (!s.has_factors) {
        r.completion = completion::kIllegalForSensor;
        return;
    }
    const std::uint8_t raw = q.data[1];
    std::uint8_t next = 0xFF;
    const std::array<std::uint8_t, 6>* factors = &s.factors;
    auto after = s.factor_segments.upper_bound(raw);
    if (after != s.factor_segments.end()) next = after->first;
    if (after != s.factor_segments.begin() && !s.factor_segments.empty()) factors = &std::prev(after)->second;
    r.data = {next};
    r.data.insert(r.data.end(), factors->begin(), factors->end());
}

// IPMI 2.0 35.9
void Bmc::get_sensor_thresholds(const BmcRequest& q, BmcResponse& r) {
    const BmcSensor* found = sensor_asked(q, r);
    if (!found) return;
    const BmcSensor& s = *found;
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
    BmcSensor* found = sensor_asked(q, r);
    if (!found) return;
    BmcSensor& s = *found;
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
