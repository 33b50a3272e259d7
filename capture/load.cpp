// proc/stat twice (three times on a machine of more than eight processors), one second
// apart, and what free prints: the processor and memory load.
#include <cerrno>
#include <cstring>

#include "api/exports.h"
#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

namespace {

constexpr int kUsageRecordProcessors = 8;

// The "cpuN" lines of a /proc/stat text.
int ProcessorLines(const std::string& stat) {
    int count = 0;
    for (std::size_t at = stat.find("\ncpu"); at != std::string::npos; at = stat.find("\ncpu", at + 1))
        if (at + 4 < stat.size() && stat[at + 4] >= '0' && stat[at + 4] <= '9') ++count;
    return count;
}

}  // namespace

void capture_load(Capture& c) {
    std::string first, second, error;
    if (!read_platform_file("/proc/stat", first, error)) {
        c.manifest.missing("proc/stat", error);
    } else {
        c.write("proc/stat", first);
        // A machine with more processors than a usage record holds is measured a second
        // time for the walk of all of them (the report's pages after GetCpuUsageRate's first
        // eight): a third snapshot a second later lets its replay see that measurement move.
        const int snapshots = ProcessorLines(first) > kUsageRecordProcessors ? 2 : 1;
        for (int at = 1; at <= snapshots; ++at) {
            const std::string name = "proc/stat@" + std::to_string(at);
            platform::sleep(1);
            if (read_platform_file("/proc/stat", second, error))
                c.write(name, second);
            else
                c.manifest.missing(name, error);
        }
        c.manifest.source("load", "/proc/stat");
    }
    char output[8192];
    long n = RunFree(output, sizeof output);
    if (n < 0)
        c.manifest.missing("free.txt", std::string("free could not be run: ") + std::strerror(errno));
    else
        c.write("free.txt", std::string(output, static_cast<std::size_t>(n)));
}

}  // namespace capture
