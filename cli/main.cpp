// qarvel: loads a Qarvel library with dlopen, as the management agent does, calls its
// exports by name and prints every record they fill.
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/loading.h"
#include "cli/report.h"

#ifndef QARVEL_CAPTURE
#define QARVEL_CAPTURE "qarvel-capture"
#endif
#ifndef QARVEL_SIM_CAPTURE
#define QARVEL_SIM_CAPTURE ""
#endif

namespace {

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: qarvel [--library PATH] [--machine DIR] [--json] [COMMAND...]\n"
                 "  Without a command, prints every record the library fills.\n"
                 "  --library PATH  the library to load (default: %s)\n"
                 "  --machine DIR   the captured machine a simulated library serves (sets QARVEL_MACHINE;\n"
                 "                  the library defaults to %s)\n"
                 "  --json          the report, or what the commands printed, as one JSON document\n"
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
                 "  hwmon           one poll of the hwmon sensors (GetHealthInfo HEALTH_HWMON); given again,\n"
                 "                  a later poll of the same process\n"
                 "  sel             every entry of the BMC's System Event Log, decoded (GetSelEntries), with\n"
                 "                  the requests it took; given again, the entries logged since the last\n"
                 "  pause SECONDS   waits before the next command\n"
                 "  capture DIR     writes a capture of the machine into the new directory DIR (as root on a\n"
                 "                  real machine; replay it with --machine DIR); only read requests reach\n"
                 "                  the BMC, and DIR/MANIFEST lists what could not be read\n"
                 "The exit status is 1 when a call failed, the library lacks an export the report calls,\n"
                 "or the capture directory has a file the simulated library refused; 2 when the command\n"
                 "line cannot be read.\n",
                 QARVEL_DEFAULT_LIBRARY, QARVEL_SIM_LIBRARY);
}

// The capture problems the simulated library reports on a descriptor it is given.
class LoadStatus {
public:
    LoadStatus() : fd_(::memfd_create("qarvel-sim-status", MFD_CLOEXEC)) {
        if (fd_ >= 0) setenv("QARVEL_SIM_STATUS_FD", std::to_string(fd_).c_str(), 1);
    }
    ~LoadStatus() {
        if (fd_ >= 0) ::close(fd_);
    }
    // The number of capture files the library refused.
    long errors() const {
        char text[256] = {};
        if (fd_ < 0 || ::pread(fd_, text, sizeof text - 1, 0) <= 0) return 0;
        long total = 0;
        for (const char* at = text; (at = std::strstr(at, "errors ")) != nullptr; at += 7)
            total += std::strtol(at + 7, nullptr, 10);
        return total;
    }

private:
    int fd_;
};

// capture DIR: runs the capture program that reads the same machine as the library would: the
// simulated one for the simulated library (with --machine, that capture), the real one else.
int capture(int count, char** words, const char* machine, const std::string& library_path) {
    if (count != 1 || words[0][0] == '\0') {
        std::fprintf(stderr, "qarvel: expected: capture DIR\n");
        return 2;
    }
    const bool simulated = machine || (library_path.empty() ? std::string(QARVEL_DEFAULT_LIBRARY)
                                                            : library_path) == QARVEL_SIM_LIBRARY;
    std::string program = simulated ? QARVEL_SIM_CAPTURE : QARVEL_CAPTURE;
    if (program.empty()) {
        std::fprintf(stderr, "qarvel: this installation captures real machines only\n");
        return 2;
    }
    if (!simulated) {
        // The capture program beside the library, else beside qarvel, else where it was built.
        char self[4096] = {};
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string own = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
        for (const std::string& beside : {library_path, own}) {
            std::size_t slash = beside.rfind('/');
            std::string candidate = (slash == std::string::npos ? "." : beside.substr(0, slash)) + "/qarvel-capture";
            if (!beside.empty() && ::access(candidate.c_str(), X_OK) == 0) {
                program = candidate;
                break;
            }
        }
    }
    if (machine) setenv("QARVEL_MACHINE", machine, 1);
    char* arguments[] = {const_cast<char*>(program.c_str()), words[0], nullptr};
    ::execv(program.c_str(), arguments);
    std::fprintf(stderr, "qarvel: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library_path;
    const char* machine = nullptr;
    bool json = false;
    int first_command = argc;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.empty() || arg[0] != '-') {
            first_command = i;  // the rest of the line is commands
            break;
        }
        if (arg == "--library" || arg == "--machine") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "qarvel: %s needs a %s\n", arg.c_str(),
                             arg == "--library" ? "library path" : "machine directory");
                return 2;
            }
            const char* value = argv[++i];
            if (arg == "--library")
                library_path = value;
            else
                machine = value;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "qarvel: unknown argument %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    if (first_command < argc && std::strcmp(argv[first_command], "capture") == 0)
        return capture(argc - first_command - 1, argv + first_command + 1, machine, library_path);

    if (machine && !cli::UseMachine("qarvel", machine, library_path, QARVEL_SIM_LIBRARY)) return 1;
    if (library_path.empty()) library_path = QARVEL_DEFAULT_LIBRARY;

    LoadStatus load_status;
    void* handle = dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "qarvel: cannot load %s: %s\n", library_path.c_str(), dlerror());
        return 1;
    }
    cli::Library library(handle);
    // The JSON document alone goes to standard output: whatever the library prints there
    // itself goes to standard error instead.
    std::FILE* document = json ? cli::SetStandardOutputAside("qarvel") : stdout;
    if (!document) return 1;
    cli::Printer out(document, json ? cli::Printer::Format::Json : cli::Printer::Format::Text);
    int status = 0;
    if (first_command < argc) {
        status = cli::run_commands(library, out, argc - first_command, argv + first_command);
    } else {
        if (!json) std::printf("# qarvel report\n");
        cli::report_inventory(library, out);
        cli::report_devices(library, out);
        cli::report_usage(library, out);
        cli::report_ipmi(library, out);
        cli::report_fru(library, out);
        cli::report_health(library, out);
        cli::report_disk_health(library, out);
        cli::report_sel(library, out, json);
        cli::report_sources(library, out);
        if (out.missed() > 0) {
            std::fprintf(stderr, "qarvel: %s lacks %d of the exports the report calls\n", library_path.c_str(),
                         out.missed());
            status = 1;
        }
    }
    out.finish();
    std::fflush(document);
    std::fflush(stdout);
    if (long rejected = load_status.errors(); rejected > 0) {
        std::fprintf(stderr, "qarvel: %ld problem%s in the capture %s (listed above)\n", rejected,
                     rejected == 1 ? "" : "s", machine ? machine : "");
        if (status == 0) status = 1;
    }
    return status;
}
