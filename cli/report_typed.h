// The typed values of the JSON report: a field whose text holds a number ("3000 MHZ",
// "12.00V", "16384 MB") is also given, beside the text, as a JSON number in base units under
// the field's name and the unit's ("MaxSpeed_hz": 3000000000). A text that says the value is
// not known ("Unknown", "Bios Not Provide", the raw byte "FFV", an empty field) gives null;
// the text itself is always kept as it is.
#ifndef QARVEL_CLI_REPORT_TYPED_H
#define QARVEL_CLI_REPORT_TYPED_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The version of the JSON document's shape. Keys added beside the existing ones (a new
// section, a new typed value) keep it; a key renamed, removed or given another meaning
// raises it.
constexpr int kJsonSchemaVersion = 1;

// Text-to-number parsers: the number in base units, or nothing when the text is not a
// number followed by one of the units the parser knows. Pure functions of the text.
namespace typed {
std::optional<double> Hertz(std::string_view text);    // "3000 MHZ"
std::optional<double> Bytes(std::string_view text);    // "256 KB", "16384 MB", "1200243695616"
std::optional<double> MegabyteCount(std::string_view text);  // "131072" megabytes
std::optional<double> Seconds(std::string_view text);  // "1ns", "42 ns"
std::optional<double> Volts(std::string_view text);    // "12.00V", "1050 mv"
std::optional<double> Celsius(std::string_view text);  // "45 C", "23.00degree C", degrees F and K
std::optional<double> Rpm(std::string_view text);      // "8200 rpm", "5200RPM"
std::optional<double> Ratio(std::string_view text);    // "45%" is 0.45
}  // namespace typed

// One typed value: the field it is read from (its path without indices, "cpu[].MaxSpeed"),
// the unit added to the field's name for its key, and its parser.
struct Conversion {
    const char* field;
    const char* unit;
    std::optional<double> (*parse)(std::string_view text);
};

// The conversions of a field, by its path ("cpu[1].cache[0].MaxSize"); none for most.
std::vector<const Conversion*> ConversionsOf(const std::string& path);

// Every conversion, for the schema and its tests.
const std::vector<Conversion>& Conversions();

}  // namespace cli

#endif
