// What the exporter asks the library, one row per collector. A scrape runs the rows in
// order, each within its time limit; a row that fails or runs late is reported through
// qarvel_collector_up{collector} and leaves the others in the answer.
#ifndef QARVEL_EXPORTER_COLLECTORS_H
#define QARVEL_EXPORTER_COLLECTORS_H

#include <string>

#include "exporter/exposition.h"

namespace exporter {

// The library's exports, looked up by name as the agent looks them up. A collector whose
// export is missing fails; the others still run.
struct Library {
    explicit Library(void* handle);
    int (*GetInfo)(unsigned long, void*) = nullptr;
    int (*GetIpmiInfo)(unsigned long, void*) = nullptr;
    // The paged forms, where the library has them: every entry past the records' capacities.
    int (*GetInfoPage)(unsigned long, int, void*, int*) = nullptr;
    int (*GetIpmiInfoPage)(unsigned long, int, void*, int*) = nullptr;
    int (*GetBMCVersion)(unsigned char*, unsigned char*) = nullptr;
    int (*GetWatchDogTimer)(unsigned char*, int*, int*) = nullptr;
    int (*GetHealthInfo)(unsigned long, void*) = nullptr;
    int (*GetSelInfo)(void*) = nullptr;
    int (*release)() = nullptr;
};

struct Collector {
    const char* name;  // the collector label, and the word --collectors takes
    bool bmc;          // asks the BMC (left out by --collectors when timing without IPMI)
    // Adds the collector's samples; false (with the reason) when its source did not answer.
    bool (*collect)(const Library& library, Exposition& out, std::string& why);
};

// Every collector, in the order a scrape runs them.
const Collector* Collectors(std::size_t& count);

}  // namespace exporter

#endif
