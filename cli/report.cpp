#include "cli/report.h"

#include "cli/report_typed.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <nlohmann/json.hpp>

namespace cli {

void* Library::symbol(const char* name) const { return dlsym(handle_, name); }

void Printer::section(const std::string& title) {
    prefix_.clear();
    add({Entry::Section, title, "", 0, 0});
}

void Printer::result(const std::string& call, int value) { add({Entry::Result, call, "", value}); }

void Printer::missing(const char* symbol) {
    ++missed_;
    add({Entry::Missing, symbol, "", 0, 0});
}

void Printer::text_field(const std::string& name, const char* text, std::size_t size) {
    std::string value;
    for (std::size_t i = 0; i < size && text[i] != '\0'; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            value += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            value += hex;
        }
    }
    add({Entry::Text, prefix_ + name, value, 0, 0});
}

void Printer::field(const std::string& name, long value) { add({Entry::Integer, prefix_ + name, "", value, 0}); }

void Printer::field(const std::string& name, double value) { add({Entry::Real, prefix_ + name, "", 0, value}); }

void Printer::count(const std::string& name, unsigned long long value) {
    add({Entry::Count, prefix_ + name, "", 0, 0, value});
}

void Printer::add(Entry entry) {
    entries_.push_back(entry);
    if (format_ != Format::Text) return;
    const Entry& e = entries_.back();
    switch (e.kind) {
        case Entry::Section: std::fprintf(out_, "\n[%s]\n", e.name.c_str()); break;
        case Entry::Result: std::fprintf(out_, "%s=%ld\n", e.name.c_str(), e.integer); break;
        case Entry::Missing: std::fprintf(out_, "%s: not exported by this library\n", e.name.c_str()); break;
        case Entry::Text: std::fprintf(out_, "%s=%s\n", e.name.c_str(), e.text.c_str()); break;
        case Entry::Integer: std::fprintf(out_, "%s=%ld\n", e.name.c_str(), e.integer); break;
        case Entry::Real: std::fprintf(out_, "%s=%.2f\n", e.name.c_str(), e.real); break;
        case Entry::Count: std::fprintf(out_, "%s=%llu\n", e.name.c_str(), e.count); break;
    }
}

namespace {

using Json = nlohmann::ordered_json;

// The place a field path names inside a record: "cpu[0].cache[1].speed" is
// record["cpu"][0]["cache"][1]["speed"], arrays growing to the index they are given.
Json& Place(Json& record, const std::string& path) {
    Json* at = &record;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t dot = path.find('.', from);
        std::string part = path.substr(from, dot == std::string::npos ? std::string::npos : dot - from);
        std::size_t bracket = part.find('[');
        std::string key = part.substr(0, bracket);
        if (!at->is_object()) *at = Json::object();
        at = &(*at)[key];
        while (bracket != std::string::npos) {
            std::size_t close = part.find(']', bracket);
            std::size_t index = std::stoul(part.substr(bracket + 1, close - bracket - 1));
            if (!at->is_array()) *at = Json::array();
            while (at->size() <= index) at->push_back(Json::object());
            at = &(*at)[index];
            bracket = part.find('[', close);
        }
        if (dot == std::string::npos) break;
        from = dot + 1;
    }
    return *at;
}

// A whole number stays a JSON integer (sizes in bytes, frequencies in hertz); others are reals.
Json TypedValue(std::optional<double> value) {
    if (!value) return nullptr;
    if (*value == std::floor(*value) && std::fabs(*value) < 9007199254740992.0)  // 2^53
        return static_cast<std::int64_t>(*value);
    return *value;
}

// The typed values of a field beside it: "MaxSpeed" gives "MaxSpeed_hz".
void PlaceTyped(Json& record, const std::string& path, const std::string& text) {
    for (const Conversion* conversion : ConversionsOf(path))
        Place(record, path + "_" + conversion->unit) = TypedValue(conversion->parse(text));
}

}  // namespace

void Printer::finish() {
    if (format_ != Format::Json) return;
    // A section: its title, the calls made with their results, the exports missing, and one
    // record of the fields that came back.
    Json sections = Json::array();
    Json* current = nullptr;
    for (const Entry& e : entries_) {
        if (e.kind == Entry::Section || !current) {
            sections.push_back({{"section", e.kind == Entry::Section ? e.name : ""},
                                {"calls", Json::array()},
                                {"missing", Json::array()},
                                {"record", Json::object()}});
            current = &sections.back();
            if (e.kind == Entry::Section) continue;
        }
        switch (e.kind) {
            case Entry::Result: (*current)["calls"].push_back({{"call", e.name}, {"result", e.integer}}); break;
            case Entry::Missing: (*current)["missing"].push_back(e.name); break;
            case Entry::Text:
                Place((*current)["record"], e.name) = e.text;
                PlaceTyped((*current)["record"], e.name, e.text);
                break;
            case Entry::Integer:
                Place((*current)["record"], e.name) = e.integer;
                PlaceTyped((*current)["record"], e.name, std::to_string(e.integer));
                break;
            // As the text shows it: two decimals.
            case Entry::Real: Place((*current)["record"], e.name) = std::round(e.real * 100) / 100; break;
            case Entry::Count: Place((*current)["record"], e.name) = e.count; break;
            default: break;
        }
    }
    std::string text =
        Json{{"report", "qarvel"}, {"schema_version", kJsonSchemaVersion}, {"sections", sections}}.dump(2);
    std::fprintf(out_, "%s\n", text.c_str());
}

}  // namespace cli
