// The hardware-monitoring chips of the kernel (/sys/class/hwmon) and the memory controllers'
// error counts (/sys/devices/system/edac/mc): the two sources of GetHealthInfo's
// HEALTH_HWMON and HEALTH_EDAC records.
//
// Listing the chips (their names, device links, attribute files and labels) is the costly
// part and is done once per process, and again after release or when a chip vanished; a
// poll then opens each input, limit, alarm and fault file of the list once.
#ifndef QARVEL_HEALTH_HWMON_H
#define QARVEL_HEALTH_HWMON_H

#include <string>
#include <vector>

#include "health/parse.h"


namespace qarvel {

struct HwmonInput {
    HwmonKind kind;
    unsigned index;
    std::string name;   // "temp1"
    std::string label;  // the label file's text, or the name
    unsigned items = 0; // bit per HwmonItem whose file the chip has
    bool Has(HwmonItem item) const { return items & 1u << static_cast<int>(item); }
};

struct HwmonChip {
    std::string name;       // the chip's name file
    std::string device;     // the resolved device link, empty when there is none
    std::string directory;  // where the attribute files are: the chip's, or its device/ (older drivers)
    std::vector<HwmonInput> inputs;  // by kind, then index
};

// The chips as listed, in the process state.
struct HwmonChips {
    bool listed = false;
    // A file of a listed chip was gone at the last poll: list again at the next one.
    bool stale = false;
    std::vector<HwmonChip> chips;  // by device path, then name: never by hwmonN
    void Clear() {
        listed = stale = false;
        chips.clear();
    }
};

// The rows of GetHealthInfo (api/health.cpp): 0, or -1 when the source is not there.
int FillHwmon(void* record);
int FillEdac(void* record);

}  // namespace qarvel

#endif
