// The BMC's System Event Log: every entry, page by page. The text report shows the last
// entries only (a long log would drown the rest); the JSON document holds them all. A BMC
// without a log, or a library without the exports, adds nothing: no section at all.
#include <cstdio>
#include <ctime>
#include <vector>

#include "api/sel_types.h"
#include "cli/report.h"

namespace cli {

namespace {

using InfoCall = int(LPVOID);
using PageCall = int(LPVOID);

// Entries the text report shows, the last ones of the log.
constexpr std::size_t kTextEntries = 10;
// Pages read at most: a log holds 65534 entries at the very most.
constexpr int kMostPages = 0xFFFF / SEL_PAGE_ENTRIES + 1;

void PrintTime(Printer& out, const SelEntry& e) {
    char text[48] = {};
    if (e.TimeKind == SEL_TIME_DATE) {
        const std::time_t t = static_cast<std::time_t>(e.Timestamp);
        std::tm utc{};
        gmtime_r(&t, &utc);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    } else if (e.TimeKind == SEL_TIME_SINCE_START) {
        std::snprintf(text, sizeof text, "%u s after the BMC started", e.Timestamp);
    } else {
        std::snprintf(text, sizeof text, "none");
    }
    out.field("Time", text);
}

void PrintEntry(Printer& out, const SelEntry& e) {
    out.field("RecordId", static_cast<long>(e.RecordId));
    out.field("RecordType", static_cast<long>(e.RecordType));
    PrintTime(out, e);
    if (!e.Decoded) {
        if (e.RecordType >= 0xC0 && e.RecordType < 0xE0) out.field("ManufacturerId", static_cast<long>(e.ManufacturerId));
        char raw[16 * 3] = {};
        for (std::size_t i = 0, at = 0; i < 16; ++i)
            at += static_cast<std::size_t>(std::snprintf(raw + at, sizeof raw - at, "%s%02X", i ? " " : "", e.Raw[i]));
        out.field("Raw", raw);
        out.field("EventText", e.EventText);
        return;
    }
    out.field("SensorName", e.SensorName);
    out.field("SensorType", e.SensorTypeName);
    out.field("SensorNumber", static_cast<long>(e.SensorNumber));
    out.field("EventType", static_cast<long>(e.EventType));
    char direction[12] = {};
    std::snprintf(direction, sizeof direction, "%s", e.Deasserted ? "Deasserted" : "Asserted");
    out.field("Direction", direction);
    out.field("EventText", e.EventText);
    if (e.Trigger & SEL_TRIGGER_READING) out.field("TriggerReading", e.TriggerReading);
    if (e.Trigger & SEL_TRIGGER_THRESHOLD) out.field("TriggerThreshold", e.TriggerThreshold);
}

// Every entry after `cursor`, page by page, the cursor moved on past them.
struct SelRead {
    std::vector<SelEntry> entries;
    int result = 0;
    SelPage last{};          // the last page's answer: the log's size, room and overflow
    unsigned requests = 0;   // sent to the BMC by all the pages
    bool cleared = false;
};

SelRead ReadAfter(PageCall* call, SelCursor& cursor) {
    SelRead read;
    for (int pages = 0; pages < kMostPages; ++pages) {
        SelPage& page = read.last;
        page = SelPage{};
        page.Cursor = cursor;
        read.result = call(&page);
        if (read.result != 0) break;
        read.entries.insert(read.entries.end(), page.Entry, page.Entry + page.Count);
        read.requests += page.Requests;
        read.cleared = read.cleared || page.Cleared;
        cursor = page.Cursor;
        if (cursor.Position != SEL_CURSOR_MORE) break;
    }
    return read;
}

void PrintEntries(Printer& out, const std::vector<SelEntry>& read, std::size_t first) {
    out.field("Shown", static_cast<long>(read.size() - first));
    for (std::size_t i = first; i < read.size(); ++i) {
        out.prefix("sel[" + std::to_string(i) + "].");
        PrintEntry(out, read[i]);
    }
    out.prefix("");
}

}  // namespace

int report_sel(const Library& library, Printer& out, bool all) {
    auto* info = library.function<InfoCall>("GetSelInfo");
    auto* entries = library.function<PageCall>("GetSelEntries");
    if (!info || !entries) return -1;
    SelInformation about{};
    const int answered = info(&about);
    if (answered != 0) return answered;
    out.section("SEL");
    out.field("Entries", static_cast<long>(about.Entries));
    out.field("FreeBytes", static_cast<long>(about.FreeBytes));
    out.field("Overflow", static_cast<long>(about.Overflow));
    SelCursor cursor{};
    const SelRead read = ReadAfter(entries, cursor);
    out.result("GetSelEntries", read.result);
    PrintEntries(out, read.entries, all || read.entries.size() <= kTextEntries ? 0 : read.entries.size() - kTextEntries);
    return read.result;
}

int poll_sel(const Library& library, Printer& out, SelCursor& cursor) {
    auto* entries = library.function<PageCall>("GetSelEntries");
    if (!entries) return -1;
    const SelRead read = ReadAfter(entries, cursor);
    out.section("SEL");
    out.result("GetSelEntries", read.result);
    if (read.result != 0) return read.result;
    out.field("Entries", static_cast<long>(read.last.Entries));
    out.field("FreeBytes", static_cast<long>(read.last.FreeBytes));
    out.field("Overflow", static_cast<long>(read.last.Overflow));
    out.field("Cleared", static_cast<long>(read.cleared));
    out.field("Requests", static_cast<long>(read.requests));
    PrintEntries(out, read.entries, 0);
    return 0;
}

}  // namespace cli
