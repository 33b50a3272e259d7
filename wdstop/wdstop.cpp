// wdstop: stops the BMC watchdog timer that the management agent armed. It carries no IPMI
// of its own: it loads the installed library and calls its StopWatchDogTimer, again every
// 10 ms for as long as the library answers that another IPMI call of this process is busy.
// It reads no arguments and writes nothing; the exit status is 0 once the stop was tried,
// 255 when the library or the function cannot be found.
#include <dlfcn.h>
#include <unistd.h>

// Set at build time; the installed library by default.
#ifndef WDSTOP_LIBRARY
#define WDSTOP_LIBRARY "/usr/local/brimlow/Qarvel.so"
#endif

namespace {

constexpr useconds_t kRetryUs = 10000;
constexpr int kBusy = 1;

}  // namespace

int main() {
    // The library stays loaded until the process ends.
    void* library = dlopen(WDSTOP_LIBRARY, RTLD_LAZY);
    if (!library) return -1;
    auto* stop = reinterpret_cast<int (*)()>(dlsym(library, "StopWatchDogTimer"));
    if (!stop) return -1;
    while (stop() == kBusy) usleep(kRetryUs);
    return 0;
}
