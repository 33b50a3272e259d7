// Choosing the library and keeping standard output for the program's own text: shared by
// qarvel and qarvel-exporter, which load the library as the agent does.
#ifndef QARVEL_CLI_LOADING_H
#define QARVEL_CLI_LOADING_H

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The library loaded by default, and the simulated one that --machine defaults to: set by the
// build for the build tree or the installation.
#ifndef QARVEL_DEFAULT_LIBRARY
#define QARVEL_DEFAULT_LIBRARY "Qarvel-sim.so"
#endif
#ifndef QARVEL_SIM_LIBRARY
#define QARVEL_SIM_LIBRARY "Qarvel-sim.so"
#endif

namespace cli {

// --machine DIR: the captured machine the simulated library serves (QARVEL_MACHINE), which
// also becomes the default library. False, with the reason printed, when DIR is no directory.
inline bool UseMachine(const char* program, const char* machine, std::string& library_path,
                       const char* sim_library) {
    struct stat st;
    const char* why = ::stat(machine, &st) != 0 ? std::strerror(errno)
                      : !S_ISDIR(st.st_mode)    ? "not a directory"
                                                : nullptr;
    if (why) {
        std::fprintf(stderr, "%s: --machine %s: %s\n", program, machine, why);
        return false;
    }
    setenv("QARVEL_MACHINE", machine, 1);
    if (library_path.empty()) library_path = sim_library;
    return true;
}

// Whatever the library prints on standard output goes to standard error from now on; the
// returned stream writes to the standard output the program was given (null, with the reason
// printed, when it cannot be set aside).
inline std::FILE* SetStandardOutputAside(const char* program) {
    std::fflush(stdout);
    int fd = ::dup(STDOUT_FILENO);
    std::FILE* own = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!own || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "%s: cannot set standard output aside: %s\n", program, std::strerror(errno));
        return nullptr;
    }
    return own;
}

}  // namespace cli

#endif
