// Unit and state texts of a sensor.
#include <cstdarg>
#include <cstdio>

#include "IPMI/EventCodeTable.h"
#include "IPMI/Sensor.h"

namespace {

// Rate units 1..6 of the units 1 byte (IPMI 2.0 43.1); 0xB5 is the micro sign.
const char* const kRateUnit[] = {nullptr, "per \xB5" "S", "per ms", "per s", "per minute", "per hour", "per day"};
constexpr unsigned int kUnitCodes = sizeof SensorsUnit / sizeof SensorsUnit[0];

// Writes a text cut to length - 1 characters and NUL-terminated; nothing when there is no room.
void Put(char* result, int length, const char* text) {
    if (length > 0) std::snprintf(result, static_cast<std::size_t>(length), "%s", text);
}

bool IsUnitCode(unsigned char code) { return code < kUnitCodes; }

}  // namespace

int Sensor::GetSensorUnit(char* result, int length) {
    if (!result) return -1;
    const unsigned char u = sdr.GetUnit1();
    if (u == 0xFF) {
        Put(result, length, "");
        return 0;
    }
    const unsigned int rate = (u >> 3) & 0x07u;
    if (rate >= 1 && rate <= 6) {
        Put(result, length, kRateUnit[rate]);
        return 0;
    }
    if (u & 0x01) {
        Put(result, length, "%");
        return 0;
    }
    const unsigned char base = sdr.GetBaseUnit(), modifier = sdr.GetModifierUnit();
    switch ((u >> 1) & 0x03) {
        case 0:
            Put(result, length, IsUnitCode(base) ? SensorsUnit[base] : "");
            break;
        case 1:
        case 2:
            if (base == 0 || !IsUnitCode(base) || modifier == 0 || !IsUnitCode(modifier)) {
                Put(result, length, "");
            } else if (length > 0) {
                std::snprintf(result, static_cast<std::size_t>(length), (u & 0x02) ? "%s/%s" : "%s*%s",
                              SensorsUnit[base], SensorsUnit[modifier]);
            }
            break;
        default:
            break;  // relation 3 is reserved: the unit is left as it was
    }
    return 0;
}

int Sensor::GetDeviceStatus(unsigned char type, unsigned char offset, char* status) {
    if (offset == 0xFF) return -1;
    if (!status) return -1;
    const char* text = "";
    if (offset != 0) {
        int bit = 0;
        while (!(offset & (1u << bit))) ++bit;
        if (type == 0)
            text = "Unspecified";
        else if (type <= 12)  // the generic codes (IPMI 2.0 42.1)
            text = EventDesc[type - 1][bit];
        else if (type == 0x6F)
            text = "Sensor-specific";
        else if (type >= 0x7F)
            text = "OEM";
    }
    WriteResult(status, "%s", text);
    return 0;
}

void Sensor::WriteResult(char* result, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(result, 64, format, arguments);
    va_end(arguments);
}
