// Which method of each subsystem answered the reads above it.
#include "cli/report.h"

#include <utility>

namespace cli {

void report_sources(const Library& library, Printer& out) {
    auto* source_name = library.function<int(int, char*, int)>("GetSourceName");
    out.section("sources");
    if (!source_name) {
        out.missing("GetSourceName");
        return;
    }
    static const struct {
        int code;
        const char* name;
    } kSubsystems[] = {{SOURCE_SMBIOS, "smbios"}, {SOURCE_IPMI, "ipmi"}, {SOURCE_PCI, "pci"}, {SOURCE_DISK, "disk"}};
    for (const auto& subsystem : kSubsystems) {
        char name[64] = {};
        if (source_name(subsystem.code, name, sizeof name) == 0)
            out.field(subsystem.name, name);
        else
            out.field(subsystem.name, "none");
    }
    // The health sources are named only where they answered: a machine without them reports
    // as it did before they existed.
    for (const auto& subsystem : {std::pair<int, const char*>{SOURCE_HWMON, "hwmon"}, {SOURCE_EDAC, "edac"}}) {
        char name[64] = {};
        if (source_name(subsystem.first, name, sizeof name) == 0) out.field(subsystem.second, name);
    }
}

}  // namespace cli
