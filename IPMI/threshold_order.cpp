// Placing one new raw threshold among a sensor's six so that they stay in ascending order
// (IPMI 2.0 36.1: lower non-recoverable <= lower critical <= lower non-critical <= upper
// non-critical <= upper critical <= upper non-recoverable).
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

int IPMIsupport::SetThresholdOrder(SensorThresholdInfoRaw& stir, int thresholdFlag, unsigned char newThreshold) {
    // Only the settable thresholds take part; the new value takes its own threshold's place.
    unsigned char threshold[6] = {};
    int order = 0, newThresholdOrder = 0;
    for (const Slot& s : kAscending) {
        if (!(stir.settableFlag & s.settableBit)) continue;
        if (s.flag == thresholdFlag) {
            threshold[order] = newThreshold;
            newThresholdOrder = order;
        } else {
            threshold[order] = stir.*s.field;
        }
        ++order;
    }
    const int last = order - 1;

    // The neighbours moved never pass the sensor's raw range. A record without an upper
    // bound (0, as thresholds read back from the BMC arrive) is bounded by the byte itself:
    // a cap of 0 would drop every upper neighbour that moves to 0.
    const int floor = stir.MinThreshold;
    const int cap = stir.MaxThreshold == 0 ? 255 : stir.MaxThreshold;

    if (newThresholdOrder > 0 && newThresholdOrder <= last &&
        threshold[newThresholdOrder] < threshold[newThresholdOrder - 1]) {
        for (int i = newThresholdOrder - 1; i >= 0; --i) {
            if (threshold[i + 1] < threshold[i]) {
                const int below = threshold[i + 1] - 1;
                threshold[i] = static_cast<unsigned char>(below > floor ? below : floor);
            }
        }
    }
    if (newThresholdOrder >= 0 && newThresholdOrder < last &&
        threshold[newThresholdOrder] > threshold[newThresholdOrder + 1]) {
        for (int j = newThresholdOrder + 1; j <= last; ++j) {
            if (threshold[j - 1] > threshold[j]) {
                const int above = threshold[j - 1] + 1;
                threshold[j] = static_cast<unsigned char>(above < cap ? above : cap);
            }
        }
    }

    int position = 0;
    for (const Slot& s : kAscending)
        if (stir.settableFlag & s.settableBit) stir.*s.field = threshold[position++];
    return 0;
}
