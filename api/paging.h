// Paged reads: every entry of a command, a record's worth at a time, from one reading of the
// machine. The reading is taken when a walk asks for its first page (first == 0) and kept in
// the process state until the next first page of the same command; the later pages are cut
// from it, so a walk never sees an entry twice or misses one, whatever is read or released
// between two pages. A page asked for with no reading kept takes one then.
#ifndef QARVEL_API_PAGING_H
#define QARVEL_API_PAGING_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "process/state.h"

namespace qarvel {

// A reading of every entry of one command: what the command answered, the record's other
// fields as the reading filled them (totals, the supplies' redundancy, the kinds of disks)
// and the entries in record order.
template <typename Record, typename Entry>
struct Reading : PagedReading {
    int result = 0;
    Record head = {};
    std::vector<Entry> entries;
};

// How a page is cut: the record's array of entries, and what sets the page's counts from the
// reading's head, the page's place (`first`) and its number of entries (`shown`).
template <typename Record, typename Entry, std::size_t N>
struct PageShape {
    Entry (Record::*array)[N];
    void (*count)(Record& page, const Record& head, int first, int shown);
};

// The reading to serve page `first` from: a new one (made by `take`) for a first page, or
// when none of this type is kept under `key`; else the one kept.
template <typename R, typename Take>
const R& ReadingFor(PagedReadings& kept, const std::string& key, int first, Take&& take) {
    std::unique_ptr<PagedReading>& slot = kept[key];
    if (first == 0 || !dynamic_cast<R*>(slot.get())) {
        slot.reset();  // the old reading goes first: two of a large machine need not coexist
        auto fresh = std::make_unique<R>();
        take(*fresh);
        slot = std::move(fresh);
    }
    return static_cast<const R&>(*slot);
}

// Writes page `first` of `reading` into the caller's record and the number of entries into
// *total (when given): 0, or the reading's own failure. A page past the end holds no entry.
template <typename Record, typename Entry, std::size_t N>
int ServePage(const Reading<Record, Entry>& reading, const PageShape<Record, Entry, N>& shape, int first,
              void* buffer, int* total) {
    if (reading.result != 0) return reading.result;
    const int all = static_cast<int>(std::min<std::size_t>(reading.entries.size(), 0x7FFFFFFF));
    const int shown = first < all ? std::min(static_cast<int>(N), all - first) : 0;
    auto page = std::make_unique<Record>(reading.head);
    std::memset(&((*page).*shape.array), 0, sizeof((*page).*shape.array));
    if (shown > 0) std::copy_n(reading.entries.begin() + first, shown, (*page).*shape.array);
    shape.count(*page, reading.head, first, shown);
    std::memcpy(buffer, page.get(), sizeof(Record));
    if (total) *total = all;
    return 0;
}

// Most records count the entries they hold in one field.
template <typename Record, int Record::*Field>
void CountIn(Record& page, const Record&, int, int shown) {
    page.*Field = shown;
}

// The IDE disks come first in a reading of drives; a page counts those it holds and the others.
inline void CountDrives(StorageInformation& page, const StorageInformation& head, int first, int shown) {
    page.quantityIDE = std::clamp(head.quantityIDE - first, 0, shown);
    page.quantitySCSI = shown - page.quantityIDE;
}

}  // namespace qarvel

#endif
