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
                 "usage: qarvel [--library PATH] [--machine DIR] [COMMAND...]\n"
                 "  Without a command, prints every record the library fills.\n"
                 "  --library PATH  the library to load (default: %s)\n"
                 "  --machine DIR   the captured machine a simulated library serves (sets QARVEL_MACHINE)\n"
                 "Commands, run in the order given in one process:\n"
                 "  threshold ENTITY TYPE WHICH VALUE\n"
                 "                  sets one threshold of every sensor of an IPMI entity and sensor type\n"
                 "                  (TYPE 1 temperature, 2 voltage, 4 fan) to VALUE in the sensor's unit, then\n"
                 "                  reads their thresholds back; WHICH: 0 lower non-critical, 1 lower critical,\n"
                 "                  2 lower non-recoverable, 3 upper non-critical, 4 upper critical,\n"
                 "                  5 upper non-recoverable\n"
                 "  watchdog arm ACTION MILLISECONDS\n"
                 "                  loads the BMC watchdog and starts it; ACTION 0 none, 1 hard reset,\n"
                 "                  2 power down, 3 power cycle; 10000 to 999000 ms\n"
                 "  watchdog reset  restarts the countdown\n"
                 "  watchdog stop   stops the watchdog\n"
                 "  watchdog show   prints its action, initial and present countdown (ms)\n"
                 "The exit status is 1 when a call of a command failed.\n",
                 QARVEL_DEFAULT_LIBRARY);
}

}  // namespace

int main(int argc, char** argv) {
    std::string library_path = QARVEL_DEFAULT_LIBRARY;
    int first_command = argc;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.empty() || arg[0] != '-') {
            first_command = i;  // the rest of the line is commands
            break;
        }
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
    if (first_command < argc) return cli::run_commands(library, out, argc - first_command, argv + first_command);
    std::printf("# qarvel report\n");
    cli::report_inventory(library, out);
    cli::report_devices(library, out);
    cli::report_usage(library, out);
    cli::report_ipmi(library, out);
    return 0;
}
