// kernel: the interfaces the machine's kernel offered, so that the replay takes the same
// paths: "current" without /proc/ide (or with only the mainline IPMI node), "lockdown" when
// /dev/mem is refused with EPERM (kernel lockdown, not mere file permissions).
#include <fcntl.h>

#include <cerrno>

#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

namespace {

// Present, even if this process may not open it.
bool DeviceExists(const char* path, int flags) {
    int fd = platform::open(path, flags);
    if (fd >= 0) {
        platform::close(fd);
        return true;
    }
    return errno != ENOENT && errno != ENODEV && errno != ENXIO;
}

}  // namespace

void capture_kernel(Capture& c) {
    const bool current = !platform::directory_exists("/proc/ide") ||
                         (DeviceExists("/dev/ipmi0", O_RDWR) && !DeviceExists("/dev/ipmi", O_RDWR));
    std::string words = current ? "current" : "classic";
    int fd = platform::open("/dev/mem", O_RDONLY);
    if (fd >= 0)
        platform::close(fd);
    else if (errno == EPERM)
        words += " lockdown";
    c.write("kernel", words + "\n");
    c.manifest.source("kernel", words);
}

}  // namespace capture
