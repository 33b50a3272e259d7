// The System Event Log: the chain walk against a BMC whose every answer comes from the
// input (completion code, length, next record ID, record bytes), then the decoder over each
// record it kept, joined to a repository index made of the input too. A poll from a cursor
// and a clear follow on the same answers.
#include <vector>

#include "IPMI/sel.h"
#include "fuzz/fuzz.h"

namespace {

// Hands out the input's bytes in turn; zeros once they run out.
class Stream {
public:
    Stream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    bool done() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    Stream in(data, size);
    // A repository record of 64 bytes first: full, compact or event-only, as the input says.
    std::vector<SelSensor> index;
    unsigned char record[64];
    for (unsigned char& b : record) b = in.next();
    NoteSelSensor(index, record, static_cast<int>(in.next() % (sizeof record + 1)));

    int answers = 0;
    const SelBmc bmc = [&in, &answers](unsigned char, const unsigned char*, int) {
        IpmiAnswer a;
        // A walk is bounded by itself; this only ends inputs that keep answering for ever.
        if (in.done() || ++answers > 4096) return a;
        a.answered = true;
        a.completion = in.next() % 4 == 0 ? in.next() : 0;
        a.length = in.next() % (sizeof a.bytes + 1);
        for (int i = 0; i < a.length; ++i) a.bytes[i] = in.next();
        return a;
    };
    SelPoll poll;
    PollSel(bmc, SelFrom{}, poll);
    for (const SelRawRecord& r : poll.records) {
        SelEntry entry;
        DecodeSelRecord(r.bytes, kSelRecordSize, r.id, index, entry);
        if (entry.EventText[sizeof entry.EventText - 1] != 0 || entry.SensorName[sizeof entry.SensorName - 1] != 0)
            __builtin_trap();
    }
    SelFrom from;
    from.known = true;
    from.holdsRecord = !poll.records.empty();
    from.lastId = poll.records.empty() ? 0 : poll.records.back().id;
    PollSel(bmc, from, poll);
    ClearSelLog(bmc, 3);
}
