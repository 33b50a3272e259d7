// qarvel: loads a Qarvel library with dlopen, as the management agent does, calls its
// exports by name and prints every record they fill.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/report.h"

#ifndef QARVEL_DEFAULT_LIBRARY
#define QARVEL_DEFAULT_LIBRARY "Qarvel-sim.so"
#endif

namespace {

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: qarvel [--library PATH] [--machine DIR]\n"
                 "  Prints every record the library fills.\n"
                 "  --library PATH  the library to load (default: %s)\n"
                 "  --machine DIR   the captured machine a simulated library serves (sets QARVEL_MACHINE)\n",
                 QARVEL_DEFAULT_LIBRARY);
}

}  // namespace

int main(int argc, char** argv) {
    std::string library_path = QARVEL_DEFAULT_LIBRARY;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--library" || arg == "--machine") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--library")
                library_path = value;
            else
                setenv("QARVEL_MACHINE", value, 1);
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "qarvel: unknown argument %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    void* handle = dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "qarvel: cannot load %s: %s\n", library_path.c_str(), dlerror());
        return 1;
    }
    cli::Library library(handle);
    cli::Printer out(stdout);
    std::printf("# qarvel report\n");
    cli::report_inventory(library, out);
    cli::report_devices(library, out);
    cli::report_usage(library, out);
    return 0;
}
