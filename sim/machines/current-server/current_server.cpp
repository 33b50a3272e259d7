// The current server: a machine of today on a current kernel, written out as a capture
// directory. Where the sample server shows the classic interfaces (/dev/mem, the /dev/ipmi
// ioctl, PCI ports, /proc/ide), this one shows what a 6.x kernel offers instead: sysfs, the
// mainline IPMI driver and /sys/block.
//
//   make-current-server DIR
//
// Its load and its BMC are the sample server's, the BMC with a System Event Log of its own; its firmware, PCI functions and disks are
// its own, from the files beside this one.
#include <string>

#include "sim/loader.h"
#include "sim/machines/current-server/parts.h"
#include "sim/machines/sample-server/parts.h"

namespace {

bool write_kernel(const std::string& dir) { return sim::write_file(dir + "/kernel", std::string("current\n")); }

}  // namespace

int main(int argc, char** argv) {
    return sim::generate_machine(argc, argv, "make-current-server",
                                 {
                                     {"kernel", write_kernel},
                                     {"SMBIOS table", current_server::write_smbios},
                                     {"PCI functions", current_server::write_pci},
                                     {"disks", current_server::write_disks},
                                     {"processor times and memory use", sample_server::write_load},
                                     {"BMC", sample_server::write_bmc},
                                     {"hwmon chips and EDAC", current_server::write_health},
                                     {"System Event Log", current_server::write_sel},
                                 });
}
