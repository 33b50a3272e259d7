// Sensor thresholds: reading them from the BMC (IPMI 2.0 35.9), writing them (35.8), and
// handing out the copies taken at discovery.
#include <cstring>

#include "IPMI/Sensor.h"

namespace {

constexpr unsigned char kSensorResponder = 0xFF;
constexpr unsigned char kNoSensor = 0xFF;

}  // namespace

int Sensor::GetSensorThreshold(unsigned char number, SensorFormulaParameter sfp, SensorThresholdInfoRaw& stir,
                               SensorThresholdInfoConverted& stic) {
    if (number == kNoSensor) return -1;
    std::memset(&stir, 0, sizeof stir);
    std::memset(&stic, 0, sizeof stic);
    // No readiness check of our own: a device that is not ready answers with a failure code.
    const IpmiAnswer answer = AskBmc(*this, SENSER_EVENT_CMD, get_sensor_threshold, kSensorResponder, &number, 1);
    if (!answer.ok() || answer.length < 7) return -1;

    const unsigned char* r = answer.bytes;
    stir.readableFlag = stic.readableFlag = r[0] & 0x3F;
    // Response order: lower non-critical, lower critical, lower non-recoverable, upper
    // non-critical, upper critical, upper non-recoverable. Every one is kept, readable or not.
    struct Slot {
        unsigned char SensorThresholdInfoRaw::*raw;
        double SensorThresholdInfoConverted::*value;
    };
    const Slot slots[6] = {
        {&SensorThresholdInfoRaw::LowerNonCriticalThreshold, &SensorThresholdInfoConverted::LowerNonCriticalThreshold},
        {&SensorThresholdInfoRaw::LowerCriticalThreshold, &SensorThresholdInfoConverted::LowerCriticalThreshold},
        {&SensorThresholdInfoRaw::LowerNonRecoverThreshold, &SensorThresholdInfoConverted::LowerNonRecoverThreshold},
        {&SensorThresholdInfoRaw::UpperNonCriticalThresholdValue,
         &SensorThresholdInfoConverted::UpperNonCriticalThresholdValue},
        {&SensorThresholdInfoRaw::UpperCriticalThresholdValue,
         &SensorThresholdInfoConverted::UpperCriticalThresholdValue},
        {&SensorThresholdInfoRaw::UpperNonRecoverThresholdValue,
         &SensorThresholdInfoConverted::UpperNonRecoverThresholdValue},
    };
    for (int i = 0; i < 6; ++i) {
        stir.*slots[i].raw = r[1 + i];
        stic.*slots[i].value = ValueOf(number, sfp, r[1 + i]);
    }
    return 0;
}

int Sensor::SetSensorThreshold(unsigned char number, SensorThresholdInfoRaw stir) {
    if (number == kNoSensor) return -1;
    const unsigned char data[8] = {
        number,
        stir.settableFlag,
        stir.LowerNonCriticalThreshold,
        stir.LowerCriticalThreshold,
        stir.LowerNonRecoverThreshold,
        stir.UpperNonCriticalThresholdValue,
        stir.UpperCriticalThresholdValue,
        stir.UpperNonRecoverThresholdValue,
    };
    return AskBmc(*this, SENSER_EVENT_CMD, set_sensor_threshold, kSensorResponder, data, 8).ok() ? 0 : -1;
}

int Sensor::CopyThresholds(const SensorDescription* entry, SensorThresholdInfoRaw& stir,
                           SensorThresholdInfoConverted& stic) {
    if (!entry) return -1;
    stir = entry->stir;
    stic = entry->stic;
    return 0;
}

int Sensor::GetThreshold(int sensorOrder, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic) {
    return CopyThresholds(Discovered(sensorOrder), stir, stic);
}

int Sensor::GetSensorFormulaParameter(unsigned char sensorOrder, SensorFormulaParameter& sfp) {
    const SensorDescription* entry = Discovered(sensorOrder);
    if (!entry) return -1;
    sfp = entry->sfp;
    return 0;
}

int Sensor::GetFanSensorThreshold(int sensorOrder, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic) {
    return CopyThresholds(Entry(FSInfo.sd, sensorOrder), stir, stic);
}

int Sensor::GetVoltageSensorThreshold(int sensorOrder, SensorThresholdInfoRaw& stir,
                                      SensorThresholdInfoConverted& stic) {
    return CopyThresholds(Entry(VSInfo.sd, sensorOrder), stir, stic);
}

int Sensor::GetTemperatureSensorThreshold(int sensorOrder, SensorThresholdInfoRaw& stir,
                                          SensorThresholdInfoConverted& stic) {
    return CopyThresholds(Entry(TSInfo.sd, sensorOrder), stir, stic);
}
