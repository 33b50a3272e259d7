// The Prometheus text exposition format (version 0.0.4): metric families with their help
// and type, and samples with labels, written in one piece once a collection is complete.
#ifndef QARVEL_EXPORTER_EXPOSITION_H
#define QARVEL_EXPORTER_EXPOSITION_H

#include <string>
#include <utility>
#include <vector>

namespace exporter {

using Labels = std::vector<std::pair<std::string, std::string>>;

class Exposition {
public:
    // Declares a family before its first sample (type "gauge", "counter" or "info"-style
    // gauges); declaring one again keeps the first help and type.
    void family(const std::string& name, const std::string& type, const std::string& help);
    // One sample of a declared family. A series already given in this exposition (same name
    // and labels) is dropped: the format allows each series once.
    void sample(const std::string& name, const Labels& labels, double value);
    // Everything of another exposition, family by family.
    void merge(const Exposition& other);
    // The text: families in the order they were first declared, each sample under its family.
    std::string text() const;
    bool has(const std::string& name, const Labels& labels) const;

private:
    struct Family {
        std::string name, type, help;
        std::vector<std::pair<std::string, double>> samples;  // label text ("{a=\"b\"}") and value
    };
    Family* find(const std::string& name);
    std::vector<Family> families_;
};

// A label value or help text as the format wants it: backslash, double quote (label values
// only) and line feed escaped, and bytes that are not printable ASCII shown as \xNN, as the
// report shows them, so that firmware bytes never make the exposition invalid UTF-8.
std::string Escape(const std::string& text, bool label_value);

// The number at the start of a record's text ("45.00degree C", "5400RPM", "65536 MB") and
// what follows it (the unit), or false when the text does not start with one ("Unknown").
bool LeadingNumber(const char* text, std::size_t size, double& value, std::string& unit);

}  // namespace exporter

#endif
