// The sample server: a two-socket 2U rack server, written out as a capture directory.
//
//   make-sample-server DIR
//
// These sources are the machine's source: every byte of the capture comes from the tables in
// the files beside this one, so the demo and the golden report never depend on a binary of
// unknown origin.
#include "sim/loader.h"
#include "sim/machines/sample-server/parts.h"

int main(int argc, char** argv) {
    return sim::generate_machine(argc, argv, "make-sample-server",
                                 {
                                     {"SMBIOS table", sample_server::write_smbios},
                                     {"PCI functions", sample_server::write_pci},
                                     {"IDE drives", sample_server::write_disks},
                                     {"processor times and memory use", sample_server::write_load},
                                     {"BMC", sample_server::write_bmc},
                                 });
}
