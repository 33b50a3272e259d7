// proc/stat twice, one second apart, and what free prints: the processor and memory load.
#include <cerrno>
#include <cstring>

#include "api/exports.h"
#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

void capture_load(Capture& c) {
    std::string first, second, error;
    if (!read_platform_file("/proc/stat", first, error)) {
        c.manifest.missing("proc/stat", error);
    } else {
        c.write("proc/stat", first);
        platform::sleep(1);
        if (read_platform_file("/proc/stat", second, error))
            c.write("proc/stat@1", second);
        else
            c.manifest.missing("proc/stat@1", error);
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
