#include "exporter/exposition.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace exporter {

std::string Escape(const std::string& text, bool label_value) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && label_value)
            out += "\\\"";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\\\x%02X", c);  // a literal backslash, escaped
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

std::string LabelText(const Labels& labels) {
    if (labels.empty()) return "";
    std::string out = "{";
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i) out += ',';
        out += labels[i].first + "=\"" + Escape(labels[i].second, true) + "\"";
    }
    return out + "}";
}

std::string Number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[40];
    // Integers (counts, bytes, hertz) exactly; the rest with the precision of a double.
    if (value == std::floor(value) && std::fabs(value) < 1e17)
        std::snprintf(text, sizeof text, "%.0f", value);
    else {
        // The shortest of 15 to 17 digits that reads back as the same double.
        for (int digits = 15; digits <= 17; ++digits) {
            std::snprintf(text, sizeof text, "%.*g", digits, value);
            if (std::strtod(text, nullptr) == value) break;
        }
    }
    return text;
}

}  // namespace

Exposition::Family* Exposition::find(const std::string& name) {
    for (Family& f : families_)
        if (f.name == name) return &f;
    return nullptr;
}

void Exposition::family(const std::string& name, const std::string& type, const std::string& help) {
    if (!find(name)) families_.push_back({name, type, help, {}});
}

void Exposition::sample(const std::string& name, const Labels& labels, double value) {
    Family* f = find(name);
    if (!f) {
        families_.push_back({name, "untyped", "", {}});
        f = &families_.back();
    }
    std::string key = LabelText(labels);
    for (const auto& s : f->samples)
        if (s.first == key) return;
    f->samples.emplace_back(std::move(key), value);
}

bool Exposition::has(const std::string& name, const Labels& labels) const {
    std::string key = LabelText(labels);
    for (const Family& f : families_)
        if (f.name == name)
            for (const auto& s : f.samples)
                if (s.first == key) return true;
    return false;
}

void Exposition::merge(const Exposition& other) {
    for (const Family& f : other.families_) {
        family(f.name, f.type, f.help);
        Family* mine = find(f.name);
        for (const auto& s : f.samples) {
            bool seen = false;
            for (const auto& m : mine->samples) seen = seen || m.first == s.first;
            if (!seen) mine->samples.push_back(s);
        }
    }
}

std::string Exposition::text() const {
    std::string out;
    for (const Family& f : families_) {
        if (f.samples.empty()) continue;  // a family with nothing to say is left out whole
        if (!f.help.empty()) out += "# HELP " + f.name + " " + Escape(f.help, false) + "\n";
        out += "# TYPE " + f.name + " " + f.type + "\n";
        for (const auto& s : f.samples) out += f.name + s.first + " " + Number(s.second) + "\n";
    }
    return out;
}

bool LeadingNumber(const char* text, std::size_t size, double& value, std::string& unit) {
    std::size_t length = strnlen(text, size);
    std::string held(text, length);  // a field need not be terminated: bounded by its size
    const char* start = held.c_str();
    while (*start == ' ') ++start;
    if (!std::isdigit(static_cast<unsigned char>(*start)) && *start != '-') return false;
    // A raw byte shown in hexadecimal says the value is unknown.
    if (start[0] == '0' && (start[1] == 'x' || start[1] == 'X')) return false;
    char* end = nullptr;
    value = std::strtod(start, &end);
    if (end == start || !std::isfinite(value)) return false;
    while (*end == ' ') ++end;
    unit = end;
    return true;
}

}  // namespace exporter
