// One disk-health poll of every disk, timed, beside `smartctl -H -A` of each disk in the same
// run: what an agent pays for the health of a machine's disks either way.
//
//   disk-health-bench [--library PATH] [--smartctl PATH]
//
// The library (default: Qarvel.so beside this program) is loaded as the agent loads it; its
// GetHealthInfo(HEALTH_DISK) is called once and timed; each disk it lists is printed with
// what it reported. With --smartctl, `smartctl -H -A DEVICE` is then run once per disk
// (ATA and NVMe: the NVMe controller's namespace device) and timed from spawn to exit. Count
// the commands each sends with `strace -f -e trace=ioctl` (tests/data/disks/README.md).
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "api/health_types.h"
#include "api/types.h"

extern char** environ;

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs `program device` with its output thrown away; the wall time, or -1 when it did not run.
double Run(const char* program, const char* device) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>("-H"), const_cast<char*>("-A"),
                    const_cast<char*>(device), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    std::string library, smartctl;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--library")) library = argv[i + 1];
        if (!std::strcmp(argv[i], "--smartctl")) smartctl = argv[i + 1];
    }
    if (library.empty()) {
        std::string self = argv[0];
        library = self.substr(0, self.rfind('/') + 1) + "Qarvel.so";
    }
    void* handle = dlopen(library.c_str(), RTLD_NOW);
    auto* health = handle ? reinterpret_cast<int (*)(unsigned long, LPVOID)>(dlsym(handle, "GetHealthInfo")) : nullptr;
    if (!health) {
        std::fprintf(stderr, "disk-health-bench: no GetHealthInfo in %s: %s\n", library.c_str(), dlerror());
        return 1;
    }
    auto record = std::make_unique<DiskHealthInformation>();
    std::memset(record.get(), 0, sizeof *record);
    const auto start = std::chrono::steady_clock::now();
    const int result = health(HEALTH_DISK, record.get());
    const double poll = Seconds(start);
    std::printf("GetHealthInfo(HEALTH_DISK)=%d: %u disks in %.3f s\n", result, record->quantity, poll);
    double total = 0;
    for (unsigned i = 0; i < record->quantity && i < HEALTH_DISK_MOST; ++i) {
        const DiskHealth& d = record->disk[i];
        std::printf("  %-14s kind %u status %u", d.DeviceName, d.Kind, d.Status);
        if (!smartctl.empty() && d.Kind != DISK_HEALTH_NONE) {
            const double seconds = Run(smartctl.c_str(), d.DeviceName);
            total += seconds;
            std::printf("   smartctl -H -A: %.3f s", seconds);
        }
        std::printf("\n");
    }
    if (!smartctl.empty()) std::printf("one poll %.3f s; smartctl -H -A of each disk %.3f s\n", poll, total);
    return result == 0 ? 0 : 1;
}
