// Placing one new raw threshold among a sensor's six so that they stay in ascending order
// (IPMI 2.0 36.1: lower non-recoverable <= lower critical <= lower non-critical <= upper
// non-critical <= upper critical <= upper non-recoverable).
#include "IPMI/threshold_order.h"

#include "IPMI/IPMIsupport.h"

namespace {

struct Slot {
    unsigned char SensorThresholdInfoRaw::*field;
    unsigned char settableBit;  // IPMI 2.0 35.8 threshold mask
    int flag;                   // thresholdFlag value
};

// In ascending order.
const Slot kAscending[6] = {
    {&SensorThresholdInfoRaw::LowerNonRecoverThreshold, 0x04, IPMIsupport::THRESHOLD_LOWER_NON_RECOVERABLE},
    {&SensorThresholdInfoRaw::LowerCriticalThreshold, 0x02, IPMIsupport::THRESHOLD_LOWER_CRITICAL},
    {&SensorThresholdInfoRaw::LowerNonCriticalThreshold, 0x01, IPMIsupport::THRESHOLD_LOWER_WARNING},
    {&SensorThresholdInfoRaw::UpperNonCriticalThresholdValue, 0x08, IPMIsupport::THRESHOLD_UPPER_WARNING},
    {&SensorThresholdInfoRaw::UpperCriticalThresholdValue, 0x10, IPMIsupport::THRESHOLD_UPPER_CRITICAL},
    {&SensorThresholdInfoRaw::UpperNonRecoverThresholdValue, 0x20, IPMIsupport::THRESHOLD_UPPER_NON_RECOVERABLE},
};

}  // namespace

// The ordering is done on the numbers the raw bytes stand for in the sensor's analog data
// format: a signed sensor's 0xF6 is -10, below 0x2D (45).
void OrderThresholds(SensorThresholdInfoRaw& stir, int thresholdFlag, unsigned char newThreshold, unsigned char unit1) {
    const bool isSigned = (unit1 >> 6) == 1 || (unit1 >> 6) == 2;
    // Only the settable thresholds take part; the new value takes its own threshold's place.
    int threshold[6] = {};
    int order = 0, newThresholdOrder = 0;
    for (const Slot& s : kAscending) {
        if (!(stir.settableFlag & s.settableBit)) continue;
        const unsigned char raw = s.flag == thresholdFlag ? newThreshold : stir.*s.field;
        if (s.flag == thresholdFlag) newThresholdOrder = order;
        threshold[order++] = SignedRaw(unit1, raw);
    }
    const int last = order - 1;

    // The neighbours moved never pass the sensor's raw range. A record without bounds (0, as
    // thresholds read back from the BMC arrive) is bounded by what the byte can hold: a cap
    // of 0 would drop every upper neighbour that moves to 0.
    int floor = stir.MinThreshold;
    int cap = stir.MaxThreshold == 0 ? 255 : stir.MaxThreshold;
    if (isSigned) {
        const bool unbounded = stir.MinThreshold == 0 && stir.MaxThreshold == 0;
        floor = unbounded ? ((unit1 >> 6) == 1 ? -127 : -128) : SignedRaw(unit1, stir.MinThreshold);
        cap = unbounded ? 127 : SignedRaw(unit1, stir.MaxThreshold);
    }

    if (newThresholdOrder > 0 && newThresholdOrder <= last &&
        threshold[newThresholdOrder] < threshold[newThresholdOrder - 1]) {
        for (int i = newThresholdOrder - 1; i >= 0; --i) {
            if (threshold[i + 1] < threshold[i]) {
                const int below = threshold[i + 1] - 1;
                threshold[i] = below > floor ? below : floor;
            }
        }
    }
    if (newThresholdOrder >= 0 && newThresholdOrder < last &&
        threshold[newThresholdOrder] > threshold[newThresholdOrder + 1]) {
        for (int j = newThresholdOrder + 1; j <= last; ++j) {
            if (threshold[j - 1] > threshold[j]) {
                const int above = threshold[j - 1] + 1;
                threshold[j] = above < cap ? above : cap;
            }
        }
    }

    // Back to bytes: the new value keeps its own byte (a one's complement -0 stays 0xFF).
    int position = 0;
    for (const Slot& s : kAscending) {
        if (!(stir.settableFlag & s.settableBit)) continue;
        const int v = threshold[position];
        if (s.flag == thresholdFlag && position == newThresholdOrder) {
            stir.*s.field = newThreshold;
        } else if (SignedRaw(unit1, stir.*s.field) != v) {
            const int byte = v >= 0 || !isSigned ? v : ((unit1 >> 6) == 1 ? v + 255 : v + 256);
            stir.*s.field = static_cast<unsigned char>(byte & 0xFF);
        }
        ++position;
    }
}

int IPMIsupport::SetThresholdOrder(SensorThresholdInfoRaw& stir, int thresholdFlag, unsigned char newThreshold) {
    OrderThresholds(stir, thresholdFlag, newThreshold, 0);
    return 0;
}

namespace {

// The thresholds `order` should hold after the write, or false when nothing may be sent to
// the sensor.
bool NewThresholds(IPMIsupport& ipmi, int order, int thresholdFlag, double value, SensorThresholdInfoRaw& stir) {
    SensorThresholdInfoConverted stic = {};
    if (ipmi.GetThreshold(order, stir, stic) != 0) return false;
    // A write sends all six thresholds. When discovery holds none of the sensor's own (its
    // Get Sensor Thresholds failed and left zeros, or the BMC called none readable), the
    // five not being set would be written over with bytes that are not theirs.
    if (stir.readableFlag == 0) return false;
    // The factors are asked for by a one-byte position: past it they would be another
    // sensor's, and the value would be converted wrongly.
    if (order < 0 || order > 0xFF) return false;
    SensorFormulaParameter sfp = {};
    ipmi.GetSensorFormulaParameter(static_cast<unsigned char>(order), sfp);
    unsigned char raw = 0;
    if (!ipmi.sensor.ThresholdRaw(order, value, raw)) return false;
    OrderThresholds(stir, thresholdFlag, raw, sfp.Unit1);
    return true;
}

}  // namespace

int WriteThreshold(IPMIsupport& ipmi, const SensorNumberInfo& sni, int thresholdFlag, double value) {
    if (thresholdFlag < IPMIsupport::THRESHOLD_LOWER_WARNING || thresholdFlag > IPMIsupport::THRESHOLD_UPPER_NON_RECOVERABLE) return -1;
    const int count = sni.quantity < 64 ? (sni.quantity > 0 ? sni.quantity : 0) : 64;
    // Sensor by sensor: one that cannot be written, or whose write the BMC refuses, does not
    // keep the others from theirs, and the call reports it once all have been tried.
    bool failed = false;
    for (int i = 0; i < count; ++i) {
        SensorThresholdInfoRaw stir = {};
        if (!NewThresholds(ipmi, sni.sensorOrder[i], thresholdFlag, value, stir) ||
            ipmi.SetSensorThreshold(sni.sensorNumber[i], stir) != 0)
            failed = true;
    }
    return failed ? -1 : 0;
}
