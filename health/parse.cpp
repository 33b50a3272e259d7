#include "health/parse.h"

#include <cstring>

namespace qarvel {

namespace {

// The text without one line end and without blanks at either end.
void Trim(const char*& text, std::size_t& length) {
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == ' ' || text[length - 1] == '\t' ||
                          text[length - 1] == '\0'))
        --length;
    while (length > 0 && (*text == ' ' || *text == '\t')) ++text, --length;
}

struct Kind {
    const char* prefix;
    double scale;
};
constexpr Kind kKinds[] = {
    {"temp", 1000.0}, {"in", 1000.0}, {"fan", 1.0}, {"curr", 1000.0}, {"power", 1e6}, {"energy", 1e6}, {"humidity", 1000.0},
};
static_assert(sizeof kKinds / sizeof kKinds[0] == static_cast<int>(HwmonKind::Count), "a row per kind");

constexpr const char* kItems[] = {
    "input", "min", "max", "lcrit", "crit", "emergency", "min_hyst", "max_hyst", "lcrit_hyst", "crit_hyst",
    "emergency_hyst", "average", "label", "alarm", "min_alarm", "max_alarm", "lcrit_alarm", "crit_alarm",
    "emergency_alarm", "fault",
};
static_assert(sizeof kItems / sizeof kItems[0] == static_cast<int>(HwmonItem::Count), "a suffix per item");

std::string Trimmed(const std::string& text) {
    const char* p = text.data();
    std::size_t n = text.size();
    Trim(p, n);
    return std::string(p, n);
}

// The kernel keeps a DIMM label in 31 characters (EDAC_MC_LABEL_LEN) and cuts a longer one
// there, as ghes_edac's "BANK DEVICE" often is: a label of that length also names a text it
// begins.
constexpr std::size_t kKernelLabel = 31;
bool Names(const std::string& label, const std::string& text) {
    return label == text || (label.size() == kKernelLabel && text.size() > kKernelLabel && text.compare(0, kKernelLabel, label) == 0);
}

}  // namespace

bool ParseSysfsCounter(const char* text, std::size_t length, std::uint64_t& value) {
    if (!text) return false;
    Trim(text, length);
    if (length == 0) return false;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

bool ParseSysfsInteger(const char* text, std::size_t length, long long& value) {
    if (!text) return false;
    Trim(text, length);
    bool negative = length > 0 && text[0] == '-';
    if (length > 0 && (text[0] == '-' || text[0] == '+')) ++text, --length;
    std::uint64_t magnitude = 0;
    if (length == 0 || text[0] < '0' || text[0] > '9' || !ParseSysfsCounter(text, length, magnitude)) return false;
    const std::uint64_t limit = negative ? 0x8000000000000000ULL : 0x7FFFFFFFFFFFFFFFULL;
    if (magnitude > limit) return false;
    value = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
    return true;
}

std::string SysfsText(const char* text, std::size_t length) {
    if (!text) return {};
    Trim(text, length);
    std::string out(text, length);
    for (char& c : out)
        if (c < 0x20 || c > 0x7E) c = '?';
    return out;
}

const char* HwmonKindPrefix(HwmonKind kind) { return kKinds[static_cast<int>(kind)].prefix; }
double HwmonKindScale(HwmonKind kind) { return kKinds[static_cast<int>(kind)].scale; }
const char* HwmonItemSuffix(HwmonItem item) { return kItems[static_cast<int>(item)]; }

bool ParseHwmonAttribute(const std::string& name, HwmonAttribute& attribute) {
    for (int k = 0; k < static_cast<int>(HwmonKind::Count); ++k) {
        const std::size_t prefix = std::strlen(kKinds[k].prefix);
        if (name.compare(0, prefix, kKinds[k].prefix) != 0) continue;
        std::size_t at = prefix;
        unsigned index = 0;
        std::size_t digits = 0;
        // Drivers number inputs in the hundreds at most; more digits is no name of theirs.
        while (at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < 6)
            index = index * 10 + static_cast<unsigned>(name[at++] - '0'), ++digits;
        if (digits == 0 || at >= name.size() || name[at] != '_') continue;
        const std::string suffix = name.substr(at + 1);
        for (int i = 0; i < static_cast<int>(HwmonItem::Count); ++i) {
            if (suffix != kItems[i]) continue;
            attribute = {static_cast<HwmonKind>(k), index, static_cast<HwmonItem>(i)};
            return true;
        }
    }
    return false;
}

std::string ResolveLink(const std::string& link, const std::string& target) {
    std::string joined = !target.empty() && target[0] == '/' ? target : link.substr(0, link.rfind('/') + 1) + target;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string part = joined.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string path;
    for (const std::string& part : parts) path += "/" + part;
    return path.empty() ? "/" : path;
}

bool ParseCsrowChannelAttribute(const std::string& name, unsigned& channel, bool& label) {
    if (name.size() < 4 || name.compare(0, 2, "ch") != 0 || name[2] < '0' || name[2] > '9') return false;
    std::size_t at = 2;
    unsigned n = 0;
    while (at < name.size() && at < 6 && name[at] >= '0' && name[at] <= '9') n = n * 10 + static_cast<unsigned>(name[at++] - '0');
    const std::string rest = name.substr(at);
    if (rest != "_ce_count" && rest != "_dimm_label") return false;
    channel = n;
    label = rest == "_dimm_label";
    return true;
}

int MatchDimmLabel(const std::string& label, const std::vector<MemoryDeviceTexts>& devices) {
    const std::string wanted = Trimmed(label);
    if (wanted.empty()) return -1;
    int found = -1;
    for (std::size_t k = 0; k < devices.size(); ++k) {
        const std::string locator = Trimmed(devices[k].locator), bank = Trimmed(devices[k].bank);
        if (locator.empty()) continue;
        if (!Names(wanted, locator) && !Names(wanted, bank + " " + locator)) continue;
        // Two devices that both fit (the same locator in two banks) leave the DIMM unnamed:
        // a wrong DIMM is worse than none.
        if (found >= 0) return -1;
        found = static_cast<int>(k);
    }
    return found;
}

}  // namespace qarvel
