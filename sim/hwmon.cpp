#include "sim/hwmon.h"

namespace sim {

void describe_hwmon_chip(SysfsTree& tree, const HwmonChipDesc& chip) {
    const std::string number = "hwmon" + std::to_string(chip.number);
    const std::string dir = (chip.device.empty() ? std::string("/sys/devices/virtual") : chip.device) + "/hwmon/" + number;
    tree.directories.push_back(dir);
    tree.links["/sys/class/hwmon/" + number] = dir;
    if (!chip.device.empty()) tree.links[dir + "/device"] = chip.device;
    tree.files[dir + "/name"] = chip.name + "\n";
    for (const auto& [name, value] : chip.attributes) tree.files[dir + "/" + name] = value + "\n";
}

void describe_edac_controller(SysfsTree& tree, int number, const std::map<std::string, std::string>& attributes) {
    const std::string dir = "/sys/devices/system/edac/mc/mc" + std::to_string(number);
    tree.directories.push_back(dir);
    // The kernel writes an empty label as no text at all, not as a line end.
    for (const auto& [name, value] : attributes) tree.files[dir + "/" + name] = value.empty() ? value : value + "\n";
}

}  // namespace sim
