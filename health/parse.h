// The texts the kernel's hardware-monitoring (hwmon) and memory-error (EDAC) attributes hold,
// turned into numbers and names. Pure functions of the bytes given: every attribute is text
// from a driver and untrusted, so each parse is bounded by the bytes held and says whether
// the text was what the interface promises.
#ifndef QARVEL_HEALTH_PARSE_H
#define QARVEL_HEALTH_PARSE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarvel {

// A decimal integer as sysfs writes one: an optional sign, digits, an optional line end.
// False for anything else (empty, blanks inside, a number beyond 64 bits).
bool ParseSysfsInteger(const char* text, std::size_t length, long long& value);
// An unsigned decimal counter (EDAC's counts, sizes): false for a sign, no digits, or more
// than 2^64 - 1.
bool ParseSysfsCounter(const char* text, std::size_t length, std::uint64_t& value);
// The text of an attribute with the line end and the blanks around it taken away; bytes
// outside printable ASCII become '?', so the text is fit for a record's field.
std::string SysfsText(const char* text, std::size_t length);

// The kinds of hwmon input, in the order a chip's sensors are listed.
enum class HwmonKind { Temperature, Voltage, Fan, Current, Power, Energy, Humidity, Count };
// The name a kind's attributes start with ("temp", "in"...), and what its raw numbers are
// divided by to give base units (millidegrees, millivolts, RPM, milliamperes, microwatts,
// microjoules, milli-percent).
const char* HwmonKindPrefix(HwmonKind kind);
double HwmonKindScale(HwmonKind kind);

// The attributes of one input that the library reads, by the suffix after "temp1_".
enum class HwmonItem {
    Input, Min, Max, LowCrit, Crit, Emergency, MinHyst, MaxHyst, LowCritHyst, CritHyst, EmergencyHyst,
    Average, Label, Alarm, MinAlarm, MaxAlarm, LowCritAlarm, CritAlarm, EmergencyAlarm, Fault, Count
};
constexpr int kHwmonValueItems = static_cast<int>(HwmonItem::Average);  // Input ... EmergencyHyst
const char* HwmonItemSuffix(HwmonItem item);
inline bool IsHwmonAlarm(HwmonItem item) { return item >= HwmonItem::Alarm && item <= HwmonItem::EmergencyAlarm; }

// One attribute file's name taken apart: "temp12_crit_hyst" is a temperature, index 12, the
// critical hysteresis. False for names that are no input attribute we read ("name",
// "uevent", "pwm1", "temp1_offset", "in0input").
struct HwmonAttribute {
    HwmonKind kind;
    unsigned index;
    HwmonItem item;
};
bool ParseHwmonAttribute(const std::string& name, HwmonAttribute& attribute);

// A path with a symbolic link's target put in place of the link: `link` is the absolute path
// of the link, `target` what it holds (relative to the link's directory, or absolute); "."
// and ".." are taken away. "/sys/class/hwmon/hwmon0" + "../../devices/x/hwmon/hwmon0" gives
// "/sys/devices/x/hwmon/hwmon0".
std::string ResolveLink(const std::string& link, const std::string& target);

// EDAC's older per-row layout: "ch3_ce_count" is channel 3's corrected count, "ch3_dimm_label"
// its label. False for other names.
bool ParseCsrowChannelAttribute(const std::string& name, unsigned& channel, bool& label);

// A memory device of the SMBIOS table (type 17), as the join needs it.
struct MemoryDeviceTexts {
    std::string locator, bank, part, serial;
};
// Which memory device an EDAC DIMM label names: its index in `devices`, or -1 when none or
// more than one does. A label names a device when it equals its device locator, or "BANK
// DEVICE" (bank locator, a blank, device locator) as the kernel builds labels from the same
// SMBIOS strings on firmware-first machines; blanks at either end do not count. A label of
// 31 characters, where the kernel cuts longer ones, names a text it begins.
int MatchDimmLabel(const std::string& label, const std::vector<MemoryDeviceTexts>& devices);

}  // namespace qarvel

#endif
