// Live reads: sensor readings and states (IPMI 2.0 35.14), their texts, and the BMC's
// firmware revision (IPMI 2.0 20.1).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "IPMI/EventCodeTable.h"
#include "IPMI/Sensor.h"
#include "process/state.h"

namespace {

constexpr unsigned char kSensorResponder = 0xFF;
// Get Sensor Reading Factors (IPMI 2.0 35.5), the sensor/event command with Get SDR's code.
constexpr unsigned char kGetReadingFactors = 0x23;
constexpr unsigned char kBmcAddress = 0x20;
// Reading byte that means "no reading" for every format we show.
constexpr unsigned char kNoReading = 0xFF;

// Event/reading type codes whose state bits mean something (IPMI 2.0 42.1).
bool HasStateBits(unsigned char eventType) { return (eventType >= 0x02 && eventType <= 0x0B) || eventType == 0x6F; }

// IPMI 2.0 42.2, processor sensor offset 7: "Processor Presence detected".
constexpr unsigned char kProcessorPresent = 0x80;
// Availability states (event/reading type 0Ah): offset 0 "running", offset 3 "on line".
constexpr unsigned char kAvailabilityCode = 0x0A, kRunningOrOnLine = 0x09;

// Get Sensor Reading byte 1 (IPMI 2.0 35.14): bit 6 clear, the sensor is not scanned; bit 5
// set, the reading and state are unavailable. Either way byte 0 and the state bits are
// whatever the BMC left there, not a measurement.
constexpr unsigned char kScanningEnabled = 0x40, kReadingUnavailable = 0x20;

// An answer without byte 1 says nothing of either, and is taken at its word.
bool Unreadable(const IpmiAnswer& answer) {
    if (answer.length < 2) return false;
    const unsigned char flags = answer.bytes[1];
    return !(flags & kScanningEnabled) || (flags & kReadingUnavailable);
}

int Unknown(char* result) {
    std::memcpy(result, "Unknown", sizeof "Unknown");
    return 0;
}

}  // namespace

// One Get Sensor Reading answer carries both the reading (byte 0) and the state bits (byte
// 2), and a caller asks for a sensor's reading and then its state. The answer taken for
// the reading is kept (in the process state) for the state that follows, so each sensor
// costs one request per poll: it serves the next state question of the same reader about
// the same sensor, and any other reading replaces it. A reading itself is always asked
// afresh.
void Sensor::ForgetReading() {
    IpmiReaderMemory& memory = qarvel::State().ipmiMemory;
    if (memory.keptBy == this) memory.keptBy = nullptr;
}

IpmiAnswer Sensor::GetReading(unsigned char number, ReadingUse use) {
    IpmiReaderMemory& memory = qarvel::State().ipmiMemory;
    if (use == ReadingUse::State && memory.keptBy == this && memory.keptNumber == number) {
        memory.keptBy = nullptr;
        return memory.kept;
    }
    memory.keptBy = nullptr;
    if (!IsInitOK()) return IpmiAnswer{};
    const IpmiAnswer answer = AskBmc(*this, SENSER_EVENT_CMD, Get_sensor_reading, kSensorResponder, &number, 1);
    if (use == ReadingUse::KeepForState && answer.ok()) {
        memory.keptBy = this;
        memory.keptNumber = number;
        memory.kept = answer;
    }
    return answer;
}

int Sensor::ReadSensor(unsigned char number, unsigned char& value) {
    const IpmiAnswer answer = GetReading(number, ReadingUse::Fresh);
    if (!answer.ok() || answer.length < 1 || Unreadable(answer)) return -1;
    value = answer.bytes[0];
    return 0;
}

int Sensor::GetSensorStatus(unsigned char number, unsigned char eventType, unsigned char& offset) {
    const IpmiAnswer answer = GetReading(number, ReadingUse::State);
    if (!answer.ok() || Unreadable(answer)) return -1;
    if (!HasStateBits(eventType)) {
        offset = 0;
        return 0;
    }
    if (answer.length < 3) return -1;
    offset = answer.bytes[2];
    return 0;
}

int Sensor::GetDeviceID(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision) {
    if (!IsInitOK() || !majorFirmwareRevision || !minorFirmwareRevision) return -1;
    const IpmiAnswer answer = AskBmc(*this, APP_CMD, get_device_id, kBmcAddress, nullptr, 0);
    if (!answer.ok() || answer.length < 4) return -1;
    // Firmware revision 1 carries "device available" in bit 7; revision 2 is BCD.
    const unsigned char* r = answer.bytes;
    *majorFirmwareRevision = r[2] & 0x7F;
    *minorFirmwareRevision = static_cast<unsigned char>(10 * (r[3] >> 4) + (r[3] & 0x0F));
    return 0;
}

const SensorDescription* Sensor::Entry(const SensorDescription* table, int n) {
    return n >= 0 && n < 64 ? &table[n] : nullptr;
}

int Sensor::CurrentReading(const SensorDescription* table, int n, char* result, bool fan) {
    if (!result) return -1;
    const SensorDescription* e = Entry(table, n);
    if (!e || e->SensorNumbers == 0xFF || e->isAnalogReading == 1) return Unknown(result);
    // Kept for the state asked next (the availability check below, or the caller's).
    const IpmiAnswer answer = GetReading(e->SensorNumbers, ReadingUse::KeepForState);
    if (!answer.ok() || answer.length < 1 || Unreadable(answer)) return Unknown(result);
    const unsigned char raw = answer.bytes[0];

    // A sensor of an empty processor socket reads whatever the bus floats to.
    if (e->SensorEntityID == ENTITY_PROCESSOR) {
        for (int i = 0; i < PSInfo.quantity && i < 64; ++i) {
            const SensorDescription& p = PSInfo.sd[i];
            if (p.SensorEntityInstance == e->SensorEntityInstance && p.SensorEventReadingCode == 0x6F &&
                !(p.SensorCodeOffset & kProcessorPresent))
                return Unknown(result);
        }
    }
    if (e->SensorEventReadingCode == kAvailabilityCode) {
        const unsigned char state = answer.length >= 3 ? answer.bytes[2] : 0;
        if (!(state & kRunningOrOnLine)) return Unknown(result);
    }
    if (raw == kNoReading) return Unknown(result);

    SensorFormulaParameter sfp = e->sfp;
    if (IsNonLinear(sfp) && !ReadingFactors(e->SensorNumbers, raw, sfp)) return Unknown(result);
    const double v = ReadingValue(sfp, raw);
    if (!fan) {
        WriteResult(result, "%.2f%s", v, e->SensorUnit);
    } else if (std::strcmp(e->SensorUnit, SensorsUnit[0]) == 0 || std::strcmp(e->SensorUnit, "%") == 0) {
        // A fan without a speed unit is shown as a share of its maximum reading.
        if (e->SensorReadingMaxD == 0.0) return Unknown(result);
        WriteResult(result, "%d%%", TruncatedInt(v / e->SensorReadingMaxD * 100));
    } else {
        WriteResult(result, "%d%s", TruncatedInt(v), e->SensorUnit);
    }
    return 0;
}

// A non-linear sensor's factors hold for some raw values only, so they are asked for the one
// read. The answer is the next raw value whose factors differ, then the six factor bytes: the
// factors are kept for every raw value up to that one, so that converting all 256 bytes (a
// threshold write) costs one request per run of equal factors.
bool Sensor::ReadingFactors(unsigned char number, unsigned char raw, SensorFormulaParameter& sfp) {
    std::map<unsigned int, SensorFormulaParameter>& cache = qarvel::State().readingFactors;
    const unsigned int key = static_cast<unsigned int>(number) << 8 | raw;
    const auto kept = cache.find(key);
    if (kept != cache.end()) return sfp = kept->second, true;
    const unsigned char data[2] = {number, raw};
    const IpmiAnswer answer = AskBmc(*this, SENSER_EVENT_CMD, kGetReadingFactors, kSensorResponder, data, 2);
    if (!answer.ok() || answer.length < 7) return false;
    sfp = WithFactors(sfp, answer.bytes + 1);
    // A next value at or below this one (00h at the top, or a BMC that does not say) covers
    // this raw value alone.
    const unsigned int next = answer.bytes[0] > raw ? answer.bytes[0] : raw + 1u;
    for (unsigned int r = raw; r < next; ++r) cache[static_cast<unsigned int>(number) << 8 | r] = sfp;
    return true;
}

double Sensor::ValueOf(unsigned char number, const SensorFormulaParameter& sfp, unsigned char raw) {
    SensorFormulaParameter factors = sfp;
    if (IsNonLinear(sfp)) ReadingFactors(number, raw, factors);
    return ReadingValue(factors, raw);
}

bool Sensor::ThresholdRaw(int order, double value, unsigned char& raw) {
    const SensorDescription* entry = Discovered(order);
    if (!entry) return false;
    if (!IsNonLinear(entry->sfp)) return RepresentableRaw(entry->sfp, value, raw);
    if (!std::isfinite(value) || (entry->sfp.Unit1 >> 6) == 3) return false;  // 3: no numeric reading
    // No formula to invert: every byte the BMC gives factors for is a candidate, and a value
    // outside the range they span is no threshold of this sensor.
    double lowest = HUGE_VAL, highest = -HUGE_VAL, nearest = HUGE_VAL;
    bool any = false;
    for (unsigned int r = 0; r <= 0xFF; ++r) {
        SensorFormulaParameter factors = entry->sfp;
        if (!ReadingFactors(entry->SensorNumbers, static_cast<unsigned char>(r), factors)) continue;
        const double v = ReadingValue(factors, static_cast<unsigned char>(r));
        if (!std::isfinite(v)) continue;
        any = true;
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
        if (std::fabs(v - value) < nearest) nearest = std::fabs(v - value), raw = static_cast<unsigned char>(r);
    }
    return any && value >= lowest && value <= highest;
}

int Sensor::GetFanSpeed(int n, char* result) { return CurrentReading(FSInfo.sd, n, result, true); }

int Sensor::GetVoltageCurrent(int n, char* result) { return CurrentReading(VSInfo.sd, n, result, false); }

int Sensor::GetTemperatureCurrent(int n, char* result) { return CurrentReading(TSInfo.sd, n, result, false); }

int Sensor::GetFanStatus(int n, char& status) {
    const SensorDescription* e = Entry(FSInfo.sd, n);
    if (!e) return -1;
    unsigned char raw = 0;
    status = ReadSensor(e->SensorNumbers, raw) == 0 && raw != 0 ? STATUS_NORMAL : STATUS_ERROR;
    return 0;
}

int Sensor::StateDescription(const SensorDescription* table, int n, char* result) {
    const SensorDescription* e = Entry(table, n);
    if (!result || !e) return -1;
    unsigned char state = 0;
    if (GetSensorStatus(e->SensorNumbers, e->SensorEventReadingCode, state) != 0) state = 0;
    if (GetDeviceStatus(e->SensorEventReadingCode, state, result) != 0) result[0] = '\0';
    return 0;
}

int Sensor::GetFanStatusDescription(int n, char* result) { return StateDescription(FSInfo.sd, n, result); }

int Sensor::GetVoltageStatusDescription(int n, char* result) { return StateDescription(VSInfo.sd, n, result); }

int Sensor::GetTemperatureStatusDescription(int n, char* result) { return StateDescription(TSInfo.sd, n, result); }
