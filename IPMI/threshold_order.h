// Placing one new raw threshold among a sensor's six, as a pure function of the record:
// no request, no facade object.
#ifndef QARVEL_IPMI_THRESHOLD_ORDER_H
#define QARVEL_IPMI_THRESHOLD_ORDER_H

#include "IPMI/Sensor.h"

// Puts `newThreshold` in place of the threshold `thresholdFlag` names (the facade's
// THRESHOLD_* numbering, 0..5) and moves the settable neighbours it passes so that the
// settable ones stay ascending, each one step past its neighbour and never past the raw range
// (MinThreshold..MaxThreshold, or what the byte holds when both are 0). The bytes are compared
// as numbers of the analog data format in bits 7..6 of `unit1`. A threshold that is not
// settable is never moved, nor written when it is the one named.
void OrderThresholds(SensorThresholdInfoRaw& stir, int thresholdFlag, unsigned char newThreshold,
                     unsigned char unit1 = 0);

#endif
