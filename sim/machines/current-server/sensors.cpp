// The kernel's own health view of the current server: hwmon chips and EDAC. There is no
// capture of a real board behind these; each tree is laid out file by file as the kernel's
// drivers write it (tests/data/hwmon/README.md names the sources):
// - coretemp, one chip per socket (drivers/hwmon/coretemp.c): the package as temp1, each
//   core as temp(2 + core id), with max, crit and crit_alarm;
// - the NVMe drive's own chip (drivers/nvme/host/hwmon.c, CONFIG_NVME_HWMON): the composite
//   temperature with its min, max, crit and alarm;
// - the board's Super I/O chip (drivers/hwmon/nct6775-core.c, an NCT6796D at ISA 0x290):
//   voltages, fans and temperatures with their limits, alarms and beeps, and fan controls
//   the library does not read;
// - ghes_edac (drivers/edac/ghes_edac.c): the firmware's one memory controller, a dimmN
//   per populated slot labelled "BANK DEVICE" from the SMBIOS memory devices (cut at the
//   kernel's 31 characters), one of them counting corrected errors.
// The hwmonN numbers follow no order of the devices, as on a real boot.
#include <cstdio>
#include <string>

#include "sim/hwmon.h"
#include "sim/machines/current-server/parts.h"

namespace current_server {

namespace {

sim::HwmonChipDesc coretemp(int number, int socket, int package, int core0) {
    sim::HwmonChipDesc chip{number, "/sys/devices/platform/coretemp." + std::to_string(socket), "coretemp", {}};
    auto temp = [&chip](int n, const std::string& label, int input) {
        const std::string t = "temp" + std::to_string(n);
        chip.attributes[t + "_label"] = label;
        chip.attributes[t + "_input"] = std::to_string(input);
        chip.attributes[t + "_max"] = "90000";
        chip.attributes[t + "_crit"] = "100000";
        chip.attributes[t + "_crit_alarm"] = "0";
    };
    temp(1, "Package id " + std::to_string(socket), package);
    temp(2, "Core 0", core0);
    temp(3, "Core 1", core0 + 2000);
    return chip;
}

sim::HwmonChipDesc super_io() {
    sim::HwmonChipDesc chip{2, "/sys/devices/platform/nct6775.656", "nct6796", {}};
    auto& a = chip.attributes;
    const char* volts[][3] = {{"896", "600", "1500"}, {"1016", "900", "1100"}, {"3344", "2960", "3630"},
                              {"3328", "2960", "3630"}};
    for (int n = 0; n < 4; ++n) {
        const std::string in = "in" + std::to_string(n);
        a[in + "_input"] = volts[n][0];
        a[in + "_min"] = volts[n][1];
        a[in + "_max"] = volts[n][2];
        a[in + "_alarm"] = "0";
        a[in + "_beep"] = "0";
    }
    const char* fans[][2] = {{"1205", "300"}, {"1186", "300"}, {"2431", "600"}};
    for (int n = 0; n < 3; ++n) {
        const std::string fan = "fan" + std::to_string(n + 1);
        a[fan + "_input"] = fans[n][0];
        a[fan + "_min"] = fans[n][1];
        a[fan + "_alarm"] = "0";
        a[fan + "_beep"] = "0";
        a[fan + "_pulses"] = "2";
        a["pwm" + std::to_string(n + 1)] = "128";
        a["pwm" + std::to_string(n + 1) + "_enable"] = "5";
    }
    const char* temps[][3] = {{"SYSTIN", "34000", "80000"}, {"CPUTIN", "41500", "85000"}, {"AUXTIN0", "30000", "80000"}};
    for (int n = 0; n < 3; ++n) {
        const std::string t = "temp" + std::to_string(n + 1);
        a[t + "_label"] = temps[n][0];
        a[t + "_input"] = temps[n][1];
        a[t + "_max"] = temps[n][2];
        a[t + "_max_hyst"] = std::to_string(std::stoi(temps[n][2]) - 5000);
        a[t + "_alarm"] = "0";
        a[t + "_beep"] = "0";
        a[t + "_type"] = "4";
        a[t + "_offset"] = "0";
    }
    return chip;
}

// ghes_edac: one controller for the whole machine, the DIMMs in SMBIOS order.
std::map<std::string, std::string> ghes() {
    std::map<std::string, std::string> a = {{"mc_name", "ghes_edac"},     {"size_mb", "1048576"},
                                            {"ce_count", "17"},           {"ue_count", "0"},
                                            {"ce_noinfo_count", "0"},     {"ue_noinfo_count", "0"},
                                            {"seconds_since_reset", "86400"}};
    int n = 0;
    for (int socket = 0; socket < 2; ++socket)
        for (int channel = 0; channel < 8; ++channel, ++n) {
            const std::string dimm = "dimm" + std::to_string(n) + "/";
            const std::string s = std::to_string(socket), c = std::to_string(channel);
            // snprintf into the kernel's 32-byte label: "BANK DEVICE" cut at 31 characters.
            a[dimm + "dimm_label"] = ("P" + s + "_Node0_Channel" + std::string(1, static_cast<char>('A' + channel)) +
                                      "_Dimm0 P" + s + "-DIMM" + c + "A")
                                         .substr(0, 31);
            a[dimm + "dimm_location"] = "memory " + std::to_string(n) + " ";
            a[dimm + "size"] = "65536";
            a[dimm + "dimm_mem_type"] = "Registered-DDR5";
            a[dimm + "dimm_dev_type"] = "Unknown";
            a[dimm + "dimm_edac_mode"] = "Unknown";
            // P0-DIMM3A counts every corrected error of the controller.
            a[dimm + "dimm_ce_count"] = n == 3 ? "17" : "0";
            a[dimm + "dimm_ue_count"] = "0";
        }
    return a;
}

}  // namespace

bool write_health(const std::string& dir) {
    sim::SysfsTree tree;
    sim::describe_hwmon_chip(tree, {0, "/sys/devices/pci0000:00/0000:01:00.0/nvme/nvme0", "nvme",
                                    {{"temp1_label", "Composite"}, {"temp1_input", "36850"}, {"temp1_min", "-273150"},
                                     {"temp1_max", "74850"}, {"temp1_crit", "79850"}, {"temp1_alarm", "0"}}});
    sim::describe_hwmon_chip(tree, coretemp(1, 1, 45000, 43000));
    sim::describe_hwmon_chip(tree, super_io());
    sim::describe_hwmon_chip(tree, coretemp(3, 0, 48000, 46000));
    sim::describe_edac_controller(tree, 0, ghes());
    std::string error;
    if (!tree.save(dir, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace current_server
