// Which source of each subsystem answered: asked by callers who want to know how the records
// were found (the qarvel report prints it); the records themselves never say. Each
// subsystem's probe leaves its record in the process state (process/source.h).
#include <cstring>

#include "api/exports.h"
#include "process/state.h"

extern "C" int GetSourceName(int subsystem, char* name, int size) {
    if (subsystem < SOURCE_SMBIOS || subsystem > SOURCE_DISK_HEALTH || !name || size <= 0) return -1;
    qarvel::ProcessState& s = qarvel::State();
    // A BMC device that opens is not yet a source: IPMI names the device that answered the
    // last request, which the transport keeps beside the probe's record.
    const char* source = subsystem == SOURCE_IPMI ? s.ipmi.Answered() : s.sources[subsystem].answered;
    if (!source || std::strlen(source) >= static_cast<std::size_t>(size)) return -1;
    std::memcpy(name, source, std::strlen(source) + 1);
    return 0;
}
