// The System Event Log exports: GetSelInfo, GetSelEntries (pages, with a cursor the caller
// hands back) and ClearSel. They share one busy flag; each holds the IPMI facade for its
// whole length, as the sensor exports do.
#include <algorithm>

#include "IPMI/IPMIsupport.h"
#include "IPMI/sel.h"
#include "api/exports.h"
#include "process/state.h"

namespace {

// Runs `work` with the facade ready and the family's flag held: 1 while another call of the
// family runs, -1 without IPMI.
template <typename Work>
int WithSel(Work work) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(qarvel::State().busy.NoEnterSel);
    if (!busy) return 1;
    qarvel::IpmiSession session;
    IPMIsupport* ipmi = session.Ready();
    return ipmi ? work(*ipmi) : -1;
}

void PutAnswer(const SelPoll& poll, SelPage& page) {
    page.Overflow = poll.info.overflow ? 1 : 0;
    page.FreeBytes = poll.info.freeBytes;
    page.Entries = poll.info.entries;
    page.BmcTime = poll.bmcTime;
    page.BmcTimeGiven = poll.timeGiven ? 1 : 0;
}

// Hands out the first page's worth of `records`, keeping the rest for the calls that follow.
void FillPage(const std::vector<SelRawRecord>& records, const SelPoll& poll, SelPage& page) {
    SelMemory& memory = qarvel::State().sel;
    const std::size_t n = std::min<std::size_t>(records.size(), SEL_PAGE_ENTRIES);
    for (std::size_t i = 0; i < n; ++i)
        DecodeSelRecord(records[i].bytes, kSelRecordSize, records[i].id, memory.sensors, page.Entry[i]);
    page.Count = static_cast<unsigned int>(n);
    // 0000h is an entry's ID on some BMCs, so "none yet" is said with FFFFh, which no entry has.
    if (n > 0)
        page.Cursor.RecordId = records[n - 1].id;
    else if (page.Cursor.Position == SEL_CURSOR_START)
        page.Cursor.RecordId = SEL_CURSOR_NO_RECORD;
    if (n < records.size()) {
        memory.waiting.assign(records.begin() + static_cast<long>(n), records.end());
        memory.waitingPoll = poll;
        memory.waitingAfter = page.Cursor.RecordId;
        page.Cursor.Position = SEL_CURSOR_MORE;
    } else {
        memory.waiting.clear();
        page.Cursor.Position = SEL_CURSOR_END;
    }
    // The answer's timestamps even part-way: a MORE cursor whose rest was not kept reads on
    // whatever they say (GetSelEntries).
    page.Cursor.LastAddition = poll.info.added;
    page.Cursor.LastErase = poll.info.erased;
    PutAnswer(poll, page);
}

}  // namespace

extern "C" int GetSelInfo(LPVOID buffer) {
    if (!buffer) return -1;
    return WithSel([buffer](IPMIsupport&) {
        unsigned int requests = 0;
        const SelBmc bmc = SelThroughTransport(requests);
        SelInfoAnswer info;
        if (!ReadSelInfo(bmc, info)) return -1;
        auto& r = *static_cast<SelInformation*>(buffer);
        r.Version = info.version;
        r.Entries = info.entries;
        r.FreeBytes = info.freeBytes;
        r.LastAddition = info.added;
        r.LastErase = info.erased;
        r.Overflow = info.overflow ? 1 : 0;
        r.Operations = info.operations;
        r.BmcTimeGiven = ReadSelTime(bmc, r.BmcTime) ? 1 : 0;
        return 0;
    });
}

extern "C" int GetSelEntries(LPVOID buffer) {
    if (!buffer) return -1;
    return WithSel([buffer](IPMIsupport& ipmi) {
        auto& page = *static_cast<SelPage*>(buffer);
        const SelCursor cursor = page.Cursor;
        page.Count = page.Cleared = 0;
        SelMemory& memory = qarvel::State().sel;
        // The rest of a read already made: no request.
        if (cursor.Position == SEL_CURSOR_MORE && !memory.waiting.empty() && memory.waitingAfter == cursor.RecordId) {
            const std::vector<SelRawRecord> rest = std::move(memory.waiting);
            FillPage(rest, memory.waitingPoll, page);
            page.Requests = 0;
            return 0;
        }
        memory.waiting.clear();
        SelFrom from;
        from.known = cursor.Position != SEL_CURSOR_START;
        from.holdsRecord = from.known && cursor.RecordId < SEL_CURSOR_NO_RECORD;
        from.lastId = static_cast<unsigned short>(cursor.RecordId);
        from.added = cursor.LastAddition;
        from.erased = cursor.LastErase;
        // A cursor part-way (whose rest was not kept) must read on whatever the timestamps say.
        if (cursor.Position == SEL_CURSOR_MORE) from.added = ~cursor.LastAddition;
        unsigned int requests = 0;
        SelPoll poll;
        const bool answered = PollSel(SelThroughTransport(requests), from, poll);
        page.Requests = requests;
        if (!answered) return -1;
        page.Cleared = poll.cleared ? 1 : 0;
        if (poll.cleared) page.Cursor = SelCursor{};
        // Names and factors come from the repository; only asked for when there is
        // something to name, so that a poll with nothing new stays one request.
        if (!poll.records.empty()) {
            if (EnsureSensorInfo(ipmi) != 0) memory.sensors.clear();
        }
        FillPage(poll.records, poll, page);
        return 0;
    });
}

extern "C" int ClearSel(void) {
    return WithSel([](IPMIsupport&) {
        unsigned int requests = 0;
        qarvel::State().sel.waiting.clear();
        return ClearSelLog(SelThroughTransport(requests));
    });
}
