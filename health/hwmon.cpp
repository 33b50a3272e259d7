// HEALTH_HWMON: the kernel's hardware-monitoring chips, listed once and polled file by file.
#include "health/hwmon.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "api/field.h"
#include "api/health_types.h"
#include "health/sysfs.h"
#include "platform/platform.h"
#include "process/state.h"

namespace qarvel {

bool ReadAttribute(const std::string& path, std::string& text, int& error) {
    // Attributes are one number or one short name; a page is the most sysfs gives.
    char buffer[256];
    text.clear();
    const int fd = platform::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const std::size_t used = platform::read_all(fd, buffer, sizeof buffer, error);
    platform::close(fd);
    if (error) return false;
    text.assign(buffer, used);
    return true;
}

namespace {

constexpr const char* kHwmonClass = "/sys/class/hwmon";

// The inputs of a chip whose attribute files are in `chip.directory`, with their labels.
void ListInputs(HwmonChip& chip) {
    std::vector<std::string> names;
    if (!platform::list_directory(chip.directory.c_str(), names)) return;
    std::map<std::pair<int, unsigned>, HwmonInput> inputs;
    for (const std::string& name : names) {
        HwmonAttribute a;
        if (!ParseHwmonAttribute(name, a)) continue;
        HwmonInput& input = inputs[{static_cast<int>(a.kind), a.index}];
        input.kind = a.kind;
        input.index = a.index;
        input.items |= 1u << static_cast<int>(a.item);
    }
    for (auto& [key, input] : inputs) {
        // A limit without its input (drivers that write limits only) is no sensor; a power
        // meter that only averages gives its average as the value.
        if (!input.Has(HwmonItem::Input) && !(input.kind == HwmonKind::Power && input.Has(HwmonItem::Average))) continue;
        input.name = HwmonKindPrefix(input.kind) + std::to_string(input.index);
        std::string text;
        int error = 0;
        if (input.Has(HwmonItem::Label) && ReadAttribute(chip.directory + "/" + input.name + "_label", text, error))
            input.label = SysfsText(text.data(), text.size());
        if (input.label.empty()) input.label = input.name;
        chip.inputs.push_back(input);
    }
}

bool ListChips(HwmonChips& out, const char*&, char* why, std::size_t size) {
    std::vector<std::string> names;
    if (!platform::list_directory(kHwmonClass, names)) return Refuse(why, size, "cannot list", kHwmonClass, errno);
    std::vector<HwmonChip> chips;
    for (const std::string& name : names) {
        if (name.compare(0, 5, "hwmon") != 0) continue;
        const std::string link = std::string(kHwmonClass) + "/" + name;
        std::string target, text;
        const std::string dir = platform::read_link(link.c_str(), target) ? ResolveLink(link, target) : link;
        HwmonChip chip;
        if (platform::read_link((dir + "/device").c_str(), target)) chip.device = ResolveLink(dir + "/device", target);
        // Drivers of the older interface put the name and every attribute on the device
        // itself; the hwmon directory then holds little more than the link.
        int error = 0;
        chip.directory = dir;
        if (!ReadAttribute(dir + "/name", text, error)) {
            chip.directory = dir + "/device";
            if (chip.device.empty() || !ReadAttribute(chip.directory + "/name", text, error)) continue;
        }
        chip.name = SysfsText(text.data(), text.size());
        ListInputs(chip);
        if (!chip.inputs.empty()) chips.push_back(std::move(chip));
    }
    if (chips.empty()) return Refuse(why, size, "no chip with inputs under", kHwmonClass);
    std::stable_sort(chips.begin(), chips.end(), [](const HwmonChip& a, const HwmonChip& b) {
        return a.device != b.device ? a.device < b.device : a.name < b.name;
    });
    out.chips = std::move(chips);
    return true;
}

const Source<HwmonChips> kHwmonSources[] = {
    {kHwmonClass, nullptr, ListChips},
};

constexpr unsigned kValueFlags[kHwmonValueItems] = {
    HWMON_HAS_VALUE, HWMON_HAS_MIN, HWMON_HAS_MAX, HWMON_HAS_LOW_CRIT, HWMON_HAS_CRIT, HWMON_HAS_EMERGENCY,
    HWMON_HAS_MIN_HYST, HWMON_HAS_MAX_HYST, HWMON_HAS_LOW_CRIT_HYST, HWMON_HAS_CRIT_HYST, HWMON_HAS_EMERGENCY_HYST,
};

double* ValueField(HWMON_SENSOR& out, int item) {
    double* const fields[kHwmonValueItems] = {&out.Value,   &out.Min,     &out.Max,         &out.LowCrit,
                                              &out.Crit,    &out.Emergency, &out.MinHyst, &out.MaxHyst,
                                              &out.LowCritHyst, &out.CritHyst, &out.EmergencyHyst};
    return fields[item];
}

// Reads one attribute of `input` as a number: false (and why in `error`) when it cannot be
// read or holds no number. A file that is gone marks the list stale.
bool ReadNumber(HwmonChips& state, const HwmonChip& chip, const HwmonInput& input, HwmonItem item, long long& value,
                int& error) {
    std::string text;
    error = 0;
    if (!ReadAttribute(chip.directory + "/" + input.name + "_" + HwmonItemSuffix(item), text, error)) {
        if (error == ENOENT || error == ENODEV) state.stale = true;
        return false;
    }
    if (ParseSysfsInteger(text.data(), text.size(), value)) return true;
    error = text.empty() ? ENODATA : EINVAL;
    return false;
}

void PollInput(HwmonChips& state, const HwmonChip& chip, const HwmonInput& input, HWMON_SENSOR& out) {
    CopyField(out.Chip, sizeof out.Chip, chip.name.c_str(), sizeof out.Chip, FieldEnd::Cleared);
    CopyField(out.Device, sizeof out.Device, chip.device.c_str(), sizeof out.Device, FieldEnd::Cleared);
    CopyField(out.Label, sizeof out.Label, input.label.c_str(), sizeof out.Label, FieldEnd::Cleared);
    CopyField(out.Input, sizeof out.Input, input.name.c_str(), sizeof out.Input, FieldEnd::Cleared);
    out.Kind = static_cast<unsigned>(input.kind) + HWMON_TEMPERATURE;
    const double scale = HwmonKindScale(input.kind);
    long long raw = 0;
    int error = 0;
    for (int item = 0; item < kHwmonValueItems; ++item) {
        HwmonItem which = static_cast<HwmonItem>(item);
        if (which == HwmonItem::Input && !input.Has(HwmonItem::Input)) which = HwmonItem::Average;
        if (!input.Has(which)) continue;
        if (ReadNumber(state, chip, input, which, raw, error)) {
            *ValueField(out, item) = static_cast<double>(raw) / scale;
            out.Flags |= kValueFlags[item];
        } else if (item == 0) {
            out.Flags |= HWMON_UNREADABLE;
            out.Error = error;
        }
    }
    for (int item = static_cast<int>(HwmonItem::Alarm); item <= static_cast<int>(HwmonItem::Fault); ++item) {
        const HwmonItem which = static_cast<HwmonItem>(item);
        if (!input.Has(which) || !ReadNumber(state, chip, input, which, raw, error)) continue;
        if (which == HwmonItem::Fault) {
            if (raw != 0) out.Flags |= HWMON_FAULT;
            continue;
        }
        out.Flags |= HWMON_ALARM_KNOWN | (raw != 0 ? HWMON_ALARM : 0u);
    }
    // A faulty input's number is whatever the chip left in its register: no reading.
    if (out.Flags & HWMON_FAULT) {
        out.Flags &= ~HWMON_HAS_VALUE;
        out.Value = 0;
    }
}

}  // namespace

int FillHwmon(void* record) {
    HWMON_INFO* info = static_cast<HWMON_INFO*>(record);
    ProcessState& s = State();
    std::lock_guard<std::mutex> lock(s.healthLock);
    if (!s.hwmon.listed || s.hwmon.stale) {
        s.hwmon.Clear();
        if (!Probe(kHwmonSources, s.hwmon, s.sources[SOURCE_HWMON])) return -1;
        s.hwmon.listed = true;
    }
    unsigned n = 0, total = 0;
    for (const HwmonChip& chip : s.hwmon.chips)
        for (const HwmonInput& input : chip.inputs) {
            ++total;
            if (n < HWMON_MOST_SENSORS) PollInput(s.hwmon, chip, input, info->sensor[n++]);
        }
    info->quantity = n;
    info->total = total;
    return 0;
}

}  // namespace qarvel
