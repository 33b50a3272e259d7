// The current server, one part of the machine per file; each writes its share of the
// capture directory.
#ifndef QARVEL_SIM_MACHINES_CURRENT_SERVER_PARTS_H
#define QARVEL_SIM_MACHINES_CURRENT_SERVER_PARTS_H

#include <string>

namespace current_server {

bool write_smbios(const std::string& dir);
bool write_pci(const std::string& dir);
bool write_disks(const std::string& dir);
bool write_health(const std::string& dir);  // hwmon chips and EDAC
// The disks' answers to the health commands (dev/NAME.smart-data...); after write_disks.
bool write_disk_health(const std::string& dir);
// ipmi/sel.bin and the log's lines of ipmi/bmc.conf: after the BMC is written.
bool write_sel(const std::string& dir);

}  // namespace current_server

#endif
