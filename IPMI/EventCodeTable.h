// Text tables of IPMI codes. The unit, entity and sensor-type tables are exported data
// of the library; the state table stays inside. Texts are single-byte (ISO 8859-1).
#ifndef QARVEL_IPMI_EVENTCODETABLE_H
#define QARVEL_IPMI_EVENTCODETABLE_H

// IPMI 2.0 43.17: sensor unit type codes 0..90.
extern const char* const SensorsUnit[91];
// IPMI 2.0 43.14: entity ID codes 0..40.
extern const char* const SensorsEntityID[41];
// IPMI 2.0 42.2: sensor type codes 0..41.
extern const char* const SensorsType[42];

// State texts by [event/reading type code - 1][state bit] (IPMI 2.0 42.1, generic codes
// 1 to 12); each slot holds at most 63 characters.
extern const char EventDesc[12][16][64];

#endif
