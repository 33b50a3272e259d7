// Hardware-monitoring chips and EDAC memory controllers laid out as the kernel's sysfs has
// them, for machines built in code and the generated current server.
#ifndef QARVEL_SIM_HWMON_H
#define QARVEL_SIM_HWMON_H

#include <map>
#include <string>

#include "sim/Disk.h"

namespace sim {

// A chip of the hwmon class: /sys/class/hwmon/hwmonN links to DEVICE/hwmon/hwmonN, which
// holds `name`, a `device` link back to DEVICE (none when `device` is empty: the chip then
// sits under /sys/devices/virtual/hwmon) and the attributes, each given without its line end.
struct HwmonChipDesc {
    int number = 0;          // N of hwmonN: the kernel's probe order, nothing more
    std::string device;      // "/sys/devices/platform/coretemp.0"
    std::string name;        // "coretemp"
    std::map<std::string, std::string> attributes;  // "temp1_input" -> "48000"
};
void describe_hwmon_chip(SysfsTree& tree, const HwmonChipDesc& chip);

// /sys/devices/system/edac/mc/mcN and its attributes by path below it ("ce_count",
// "dimm0/dimm_label"), each given without its line end.
void describe_edac_controller(SysfsTree& tree, int number, const std::map<std::string, std::string>& attributes);

}  // namespace sim

#endif
