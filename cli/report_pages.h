// The entries past a record's first page: the report asks the paged export for the pages
// after the one GetInfo or GetIpmiInfo gave, and prints their entries numbered on from it
// ("dev[64]." follows "dev[63]."), each page's call beside them. Nothing is printed when the
// first page held every entry, so a machine that fits its records reports as before.
#ifndef QARVEL_CLI_REPORT_PAGES_H
#define QARVEL_CLI_REPORT_PAGES_H

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "cli/report.h"

namespace cli {

using PageFunction = int(unsigned long, int, LPVOID, int*);

// Entries of a record's page, as the paged exports count them.
inline int page_count(const ProcessorInformation& r) { return r.quantity; }
inline int page_count(const MemoryInformation& r) { return r.quantity; }
inline int page_count(const IOInformation& r) { return r.quantity; }
inline int page_count(const SystemPowerInformation& r) { return r.TotalNumber; }
inline int page_count(const FanInformation& r) { return r.quantity; }
inline int page_count(const VoltageInformation& r) { return r.quantity; }
inline int page_count(const TemperatureInformation& r) { return r.quantity; }
inline int page_count(const DeviceInformation& r) { return r.quantity; }
inline int page_count(const StorageInformation& r) { return r.quantityIDE + r.quantitySCSI; }
inline int page_count(const PartitionInformation& r) { return r.quantity; }

// Prints the field entries of `page` (a printer that only collected them) into `out`, every
// array index moved on by `first`; the record's own fields (its counts) are left out.
void print_page_entries(Printer& out, const Printer& page, int first);

// The pages after the entries the first page showed (its count, at most the `capacity` of the
// record's array; GetInfo's partitions are those of the drives its record holds, so even a
// first page that is not full may have more after it); `print_record` prints one record.
// An empty first page is taken at its word: no second reading (a machine without disks would
// print the library's "No ide devices." twice).
template <typename Record, typename Print>
void print_more_pages(Printer& out, PageFunction* page_function, const char* export_name,
                      const char* command_name, unsigned long command, const Record& first_page, int capacity,
                      Print print_record) {
    if (!page_function || page_count(first_page) <= 0) return;
    int total = 0;
    for (int first = std::clamp(page_count(first_page), 0, capacity);;) {
        auto page = std::make_unique<Record>();
        std::memset(page.get(), 0, sizeof *page);
        const int result = page_function(command, first, page.get(), &total);
        const int count = result == 0 ? page_count(*page) : 0;
        if (count <= 0) break;
        out.result(std::string(export_name) + "(" + command_name + ", " + std::to_string(first) + ")", result);
        Printer collected(nullptr, Printer::Format::Json);
        print_record(collected, *page);
        print_page_entries(out, collected, first);
        first += count;
        if (first >= total) {
            out.prefix("");
            out.field("total", static_cast<long>(total));
            break;
        }
    }
}

}  // namespace cli

#endif
