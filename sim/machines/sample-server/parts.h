// The sample server, one part of the machine per file; each writes its share of the
// capture directory.
#ifndef QARVEL_SIM_MACHINES_SAMPLE_SERVER_PARTS_H
#define QARVEL_SIM_MACHINES_SAMPLE_SERVER_PARTS_H

#include <string>

namespace sample_server {

bool write_smbios(const std::string& dir);
bool write_pci(const std::string& dir);
bool write_disks(const std::string& dir);
bool write_load(const std::string& dir);
bool write_bmc(const std::string& dir);

}  // namespace sample_server

#endif
