// Callers create the IPMI objects themselves (`new IPMIsupport`), so their sizes and the
// offsets of their public members are part of the library's binary interface. The numbers
// are worked out from the i386 System V rules (int/long/pointer 4, double 8 aligned on 4):
// state added later lives outside these objects.
#include <cstddef>

#include "IPMI/IPMIsupport.h"

#if defined(__i386__)
#pragma GCC diagnostic push
// offsetof on classes with a virtual table: GCC lays them out as the rules above say.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

// IMBPREQUESTDATA: five bytes, the data pointer aligned to 4, the length.
static_assert(sizeof(IMBPREQUESTDATA) == 16, "IMBPREQUESTDATA");
static_assert(offsetof(IMBPREQUESTDATA, data) == 8 && offsetof(IMBPREQUESTDATA, dataLength) == 12,
              "IMBPREQUESTDATA members");

// The virtual table pointer, two ints, the request record, the response buffer pointer.
static_assert(sizeof(IPMIbase) == 32, "IPMIbase");
static_assert(offsetof(IPMIbase, IsSupportKCS) == 4, "IPMIbase::IsSupportKCS");
static_assert(offsetof(IPMIbase, IsSupportSMIC) == 8, "IPMIbase::IsSupportSMIC");
static_assert(offsetof(IPMIbase, request) == 12, "IPMIbase::request");
static_assert(offsetof(IPMIbase, ResponseBuffer) == 28, "IPMIbase::ResponseBuffer");

// SDR: 64 packed record bytes and its flag. SensorDescription: 7 bytes to 8, a double, an
// int, five 64-byte texts (276 to 340), the factors (8), raw (24) and converted (80)
// thresholds. A kind table: its count and 64 entries.
static_assert(sizeof(SDR) == 65, "SDR");
static_assert(sizeof(SensorFormulaParameter) == 8, "SensorFormulaParameter");
static_assert(sizeof(SensorThresholdInfoRaw) == 24, "SensorThresholdInfoRaw");
static_assert(sizeof(SensorThresholdInfoConverted) == 80, "SensorThresholdInfoConverted");
static_assert(sizeof(SensorDescription) == 452, "SensorDescription");
static_assert(sizeof(TemSensorsInfo) == 4 + 64 * 452, "TemSensorsInfo");

// The base, the record (65 bytes, to 100 for the tables' ints), four tables, the pointer
// to the discovered sensors and the private count of them.
static_assert(sizeof(Sensor) == 115836, "Sensor");
static_assert(offsetof(Sensor, sdr) == 32, "Sensor::sdr");
static_assert(offsetof(Sensor, TSInfo) == 100, "Sensor::TSInfo");
static_assert(offsetof(Sensor, VSInfo) == 100 + 28932, "Sensor::VSInfo");
static_assert(offsetof(Sensor, FSInfo) == 100 + 2 * 28932, "Sensor::FSInfo");
static_assert(offsetof(Sensor, PSInfo) == 100 + 3 * 28932, "Sensor::PSInfo");
static_assert(offsetof(Sensor, SensorsInformation) == 100 + 4 * 28932, "Sensor::SensorsInformation");

// The base and the five decoded areas.
static_assert(sizeof(FRU) == 952, "FRU");
static_assert(offsetof(FRU, FRUInfo) == 32, "FRU::FRUInfo");
static_assert(offsetof(FRU, CommomHeaderInfo) == 40, "FRU::CommomHeaderInfo");
static_assert(offsetof(FRU, BoardInfo) == 52, "FRU::BoardInfo");
static_assert(offsetof(FRU, ChassisInfo) == 352, "FRU::ChassisInfo");
static_assert(offsetof(FRU, ProductInfo) == 508, "FRU::ProductInfo");

// The base, the sensor reader, the FRU reader.
static_assert(sizeof(IPMIsupport) == 32 + 115836 + 952, "IPMIsupport");
static_assert(offsetof(IPMIsupport, sensor) == 32, "IPMIsupport::sensor");
static_assert(offsetof(IPMIsupport, fru) == 32 + 115836, "IPMIsupport::fru");

#pragma GCC diagnostic pop
#endif
