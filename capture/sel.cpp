// The BMC's System Event Log for a capture: read with the library's own walk (Get SEL Info,
// Reserve SEL, Get SEL Entry, Get SEL Time), never cleared. The entries go to ipmi/sel.bin
// and what Get SEL Info said to bmc.conf, so that the replay serves the same log.
#include <cstdio>

#include "IPMI/sel.h"
#include "capture/capture.h"

namespace capture {

std::string capture_sel(Capture& c) {
    unsigned int requests = 0;
    SelPoll poll;
    // A BMC without a log refuses Get SEL Info: the capture then has none either.
    if (!PollSel(SelThroughTransport(requests), SelFrom{}, poll)) return "";
    std::string bin;
    for (const SelRawRecord& r : poll.records) {
        // Each under the ID the chain gave it, which is the ID the replay serves it by.
        bin += static_cast<char>(r.id & 0xFF);
        bin += static_cast<char>(r.id >> 8);
        bin.append(reinterpret_cast<const char*>(r.bytes) + 2, kSelRecordSize - 2);
    }
    if (poll.records.size() < poll.info.entries)
        c.manifest.missing("ipmi/sel.bin", "the walk ended after " + std::to_string(poll.records.size()) + " of " +
                                               std::to_string(poll.info.entries) + " entries");
    c.write("ipmi/sel.bin", bin);
    char conf[200];
    std::snprintf(conf, sizeof conf,
                  "sel present\nsel-capacity %u\nsel-overflow %s\nsel-added 0x%08X\nsel-erased 0x%08X\n",
                  static_cast<unsigned>(poll.records.size() + poll.info.freeBytes / kSelRecordSize),
                  poll.info.overflow ? "yes" : "no", poll.info.added, poll.info.erased);
    std::string lines = conf;
    if (poll.timeGiven) {
        std::snprintf(conf, sizeof conf, "sel-time 0x%08X\n", poll.bmcTime);
        lines += conf;
    }
    return lines;
}

}  // namespace capture
