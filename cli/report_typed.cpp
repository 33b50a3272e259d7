#include "cli/report_typed.h"

#include <cctype>
#include <charconv>
#include <initializer_list>

namespace cli {

namespace typed {

namespace {

// A unit a parser accepts after the number: value = (number * multiplier + offset) / divisor.
// Dividing, rather than multiplying by 0.001, keeps "1050 mv" exactly the double 1.05.
struct Unit {
    std::string_view text;
    double multiplier = 1, offset = 0, divisor = 1;
};

// A decimal number ("-12", "3.04"): digits, at most one point with digits after it. Nothing
// else (no exponent, no hexadecimal, no "inf"): a raw byte shown in hexadecimal is no number.
std::optional<double> Number(std::string_view text, std::size_t& used) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    const std::size_t digits = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == digits) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fraction = ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i == fraction) return std::nullopt;
    }
    used = i;
    double value = 0;
    std::from_chars(text.data(), text.data() + i, value);  // the C locale's point, whatever the process's
    return value;
}

// The number of `text`, then at most one blank, then exactly one of `units` to the end.
std::optional<double> Measure(std::string_view text, std::initializer_list<Unit> units) {
    std::size_t used = 0;
    std::optional<double> number = Number(text, used);
    if (!number) return std::nullopt;
    std::string_view rest = text.substr(used);
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    for (const Unit& unit : units)
        if (rest == unit.text) return (*number * unit.multiplier + unit.offset) / unit.divisor;
    return std::nullopt;
}

}  // namespace

std::optional<double> Hertz(std::string_view text) { return Measure(text, {{"MHZ", 1e6}}); }

std::optional<double> Bytes(std::string_view text) {
    return Measure(text, {{"", 1}, {"KB", 1024}, {"MB", 1024.0 * 1024}});
}

std::optional<double> MegabyteCount(std::string_view text) { return Measure(text, {{"", 1024.0 * 1024}}); }

std::optional<double> Seconds(std::string_view text) { return Measure(text, {{"ns", 1, 0, 1e9}}); }

std::optional<double> Volts(std::string_view text) { return Measure(text, {{"V"}, {"mv", 1, 0, 1000}}); }

// SMBIOS probes give whole degrees Celsius ("45 C"); a BMC gives the unit of its sensor's
// record, which may be Fahrenheit or Kelvin.
std::optional<double> Celsius(std::string_view text) {
    return Measure(text, {{"C"}, {"degree C"}, {"degree F", 5, -160, 9}, {"degree K", 1, -273.15}});
}

std::optional<double> Rpm(std::string_view text) { return Measure(text, {{"rpm"}, {"RPM"}}); }

std::optional<double> Ratio(std::string_view text) { return Measure(text, {{"%", 1, 0, 100}}); }

}  // namespace typed

const std::vector<Conversion>& Conversions() {
    // Where one field's text can be in either of two kinds of unit (a module's speed in MHz
    // or as an access time; a fan in rpm or as a share of its maximum), each has its key,
    // and the one the text is not in is null.
    static const std::vector<Conversion> kConversions = {
        {"cpu[].MaxSpeed", "hz", typed::Hertz},
        {"cpu[].CurrentSpeed", "hz", typed::Hertz},
        {"cpu[].ExternalClock", "hz", typed::Hertz},
        {"cpu[].cache[].InstalledSize", "bytes", typed::Bytes},
        {"cpu[].cache[].MaxSize", "bytes", typed::Bytes},
        {"cpu[].cache[].speed", "seconds", typed::Seconds},
        {"TotalSize", "bytes", typed::MegabyteCount},
        {"bank[].size", "bytes", typed::Bytes},
        {"bank[].speed", "hz", typed::Hertz},
        {"bank[].speed", "seconds", typed::Seconds},
        {"fan[].speed", "rpm", typed::Rpm},
        {"fan[].speed", "ratio", typed::Ratio},
        {"voltage[].CurrentVoltage", "volts", typed::Volts},
        {"voltage[].min", "volts", typed::Volts},
        {"voltage[].max", "volts", typed::Volts},
        {"temperature[].CurrentTemperature", "celsius", typed::Celsius},
        {"temperature[].min", "celsius", typed::Celsius},
        {"temperature[].max", "celsius", typed::Celsius},
        {"driveArray[].size", "bytes", typed::Bytes},
        {"partition[].size", "bytes", typed::Bytes},
        {"partition[].used", "bytes", typed::Bytes},
    };
    return kConversions;
}

std::vector<const Conversion*> ConversionsOf(const std::string& path) {
    // "cpu[1].cache[0].MaxSize" is "cpu[].cache[].MaxSize".
    std::string field;
    for (std::size_t i = 0; i < path.size(); ++i) {
        field += path[i];
        if (path[i] == '[')
            while (i + 1 < path.size() && path[i + 1] != ']') ++i;
    }
    std::vector<const Conversion*> found;
    for (const Conversion& conversion : Conversions())
        if (field == conversion.field) found.push_back(&conversion);
    return found;
}

}  // namespace cli
