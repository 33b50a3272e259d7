// The sample server: a two-socket 2U rack server, written out as a capture directory.
//
//   make-sample-server DIR
//
// These sources are the machine's source: every byte of the capture comes from the tables in
// the files beside this one, so the demo and the golden report never depend on a binary of
// unknown origin.
#include <cstdio>
#include <string>

#include "sim/machines/sample-server/parts.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample-server DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    struct Part {
        const char* name;
        bool (*write)(const std::string&);
    };
    const Part parts[] = {
        {"SMBIOS table", sample_server::write_smbios},
        {"PCI functions", sample_server::write_pci},
        {"IDE drives", sample_server::write_disks},
        {"processor times and memory use", sample_server::write_load},
        {"BMC", sample_server::write_bmc},
    };
    for (const Part& part : parts) {
        if (!part.write(dir)) {
            std::fprintf(stderr, "make-sample-server: cannot write the %s into %s\n", part.name, dir.c_str());
            return 1;
        }
    }
    return 0;
}
