// The qarvel report: what each export returns and every field of every record it fills,
// as FIELD=value lines.
#ifndef QARVEL_CLI_REPORT_H
#define QARVEL_CLI_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "api/sel_types.h"
#include "api/types.h"

namespace cli {

// The loaded library, with its exports looked up by name as the agent does.
class Library {
public:
    explicit Library(void* handle) : handle_(handle) {}
    void* symbol(const char* name) const;
    template <typename Function>
    Function* function(const char* name) const {
        return reinterpret_cast<Function*>(symbol(name));
    }

private:
    void* handle_;
};

// The report as it is made: one list of entries (sections, calls with their results, exports
// the library lacks, fields), written as FIELD=value lines while it is made, or as one JSON
// document at the end. Whatever a report adds appears in both.
class Printer {
public:
    enum class Format { Text, Json };
    explicit Printer(std::FILE* out, Format format = Format::Text) : out_(out), format_(format) {}

    void section(const std::string& title);
    void result(const std::string& call, int value);
    void missing(const char* symbol);

    // A text field: its bytes up to the first NUL (or all of them when there is none),
    // with anything unprintable escaped.
    template <std::size_t N>
    void field(const std::string& name, const char (&text)[N]) {
        text_field(name, text, N);
    }
    void field(const std::string& name, long value);
    void field(const std::string& name, double value);
    // A 64-bit counter: exact decimal in the text, an integer in JSON (a long ends at 2^31 on
    // i386, and a double is exact only to 2^53).
    void count(const std::string& name, unsigned long long value);

    // Prefix for the fields of one array entry, e.g. "cpu[0].".
    void prefix(const std::string& p) { prefix_ = p; }

    // How many exports the library lacked.
    int missed() const { return missed_; }

    // Writes the JSON document of everything reported (nothing in text form, where each
    // entry was written as it came).
    void finish();

    // One entry of the report. A field's name is its whole path ("cpu[0].cache[1].speed").
    struct Entry {
        enum Kind { Section, Result, Missing, Text, Integer, Real, Count } kind;
        std::string name;  // title, call, symbol or field path
        std::string text;  // a text field's value, escaped
        long integer = 0;  // a result or an integer field
        double real = 0;
        unsigned long long count = 0;
    };
    const std::vector<Entry>& entries() const { return entries_; }
    // Adds another printer's field entry under a new name (a later page's entry, renumbered).
    void copy(const Entry& entry, const std::string& name) {
        Entry renamed = entry;
        renamed.name = name;
        add(renamed);
    }

private:
    void text_field(const std::string& name, const char* text, std::size_t size);
    void add(Entry entry);
    std::FILE* out_;
    Format format_;
    std::string prefix_;
    int missed_ = 0;
    std::vector<Entry> entries_;
};

// One report per family of exports.
void report_inventory(const Library& library, Printer& out);
void report_devices(const Library& library, Printer& out);
void report_usage(const Library& library, Printer& out);
void report_ipmi(const Library& library, Printer& out);
void report_fru(const Library& library, Printer& out);
// The kernel's hwmon sensors and EDAC counts, each only where its source answered.
void report_health(const Library& library, Printer& out);
// The `hwmon` command: one poll's [hwmon] section, printed whatever the call answered; 0 when
// it answered 0.
int poll_hwmon(const Library& library, Printer& out);
// The disks' health (GetHealthInfo HEALTH_DISK), only when it answered.
void report_disk_health(const Library& library, Printer& out);
// The System Event Log, when the BMC keeps one: the last entries, or `all` of them. 0 once
// read whole; -1 when the library lacks the exports; else what the failing call answered.
int report_sel(const Library& library, Printer& out, bool all);
// The `sel` command: the entries after `cursor` (zeroed: all of them), which it moves on, so
// that a later `sel` of the process shows what the BMC logged since; with the requests that
// cost and whether the log was cleared meanwhile. 0 when read; -1 without the export.
int poll_sel(const Library& library, Printer& out, SelCursor& cursor);
// Which method answered for SMBIOS, IPMI, PCI and disks: printed last, after every read.
void report_sources(const Library& library, Printer& out);

// Records printed by more than one report: every field, entries up to the count.
void print(Printer& out, const SensorThresholdInfo& t);  // as "sti." fields
// What GetWatchDogTimer gave; a present countdown of -1 is shown as "not given".
void print_watchdog(Printer& out, unsigned char action, int timeout, int present);
void print(Printer& out, const FanInformation& r);
void print(Printer& out, const VoltageInformation& r);
void print(Printer& out, const TemperatureInformation& r);

// Runs the commands given on the command line (qarvel --help lists them), each printing
// what it called and what came back. The exit status: 0 when every call succeeded, 1 when
// one did not, 2 for a command that cannot be understood.
int run_commands(const Library& library, Printer& out, int count, char** words);

}  // namespace cli

#endif
