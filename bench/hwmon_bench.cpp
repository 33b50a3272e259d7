// The time of one hwmon poll, beside node_exporter's hwmon collector on the same machine.
//
//   hwmon-bench [LIBRARY [NODE_EXPORTER]]
//
// Loads LIBRARY (Qarvel.so by default, as the agent does) and asks HEALTH_HWMON: once (the
// chips are listed), then 20 more times (each a poll of the files listed), and prints the
// sensors found and the times. Then starts NODE_EXPORTER (/usr/bin/prometheus-node-exporter)
// with only its hwmon collector on the loopback, scrapes it once, and prints the time of the
// scrape and the collector's own duration as it reports it. Prints figures, checks nothing.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "api/health_types.h"
#include "api/types.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// One HTTP GET of /metrics on the loopback; empty when nothing answered.
std::string Scrape(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::write(fd, request, sizeof request - 1) == static_cast<ssize_t>(sizeof request - 1)) {
            char buffer[65536];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return reply;
}

void NodeExporter(const char* program) {
    const int port = 19100 + ::getpid() % 1000;
    const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(program, program, "--collector.disable-defaults", "--collector.hwmon", listen.c_str(),
                static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child < 0) {
        std::printf("node_exporter: cannot start %s\n", program);
        return;
    }
    // Up when a scrape answers; that first scrape is left out of the figures.
    std::string reply;
    for (int tries = 0; tries < 300 && reply.empty(); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (::waitpid(child, nullptr, WNOHANG) == child) {
            std::printf("node_exporter: %s ended before it answered\n", program);
            return;
        }
        reply = Scrape(port);
    }
    if (reply.empty()) {
        std::printf("node_exporter: no answer on port %d\n", port);
    } else {
        const Clock::time_point start = Clock::now();
        reply = Scrape(port);
        const double took = Milliseconds(start);
        int series = 0;
        std::string duration = "?";
        for (std::size_t at = 0, end; at < reply.size(); at = end + 1) {
            end = reply.find('\n', at);
            if (end == std::string::npos) end = reply.size();
            const std::string line = reply.substr(at, end - at);
            if (line.compare(0, 11, "node_hwmon_") == 0) ++series;
            const std::string own = "node_scrape_collector_duration_seconds{collector=\"hwmon\"} ";
            if (line.compare(0, own.size(), own) == 0)
                duration = line.substr(line.rfind(' ') + 1);
        }
        std::printf("node_exporter hwmon: one scrape %.3f ms, %d node_hwmon_ series, collector duration %s s\n",
                    took, series, duration.c_str());
    }
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* library = argc > 1 ? argv[1] : "Qarvel.so";
    const char* exporter = argc > 2 ? argv[2] : "/usr/bin/prometheus-node-exporter";
    void* handle = ::dlopen(library, RTLD_NOW);
    auto* get = handle ? reinterpret_cast<int (*)(unsigned long, void*)>(::dlsym(handle, "GetHealthInfo")) : nullptr;
    if (!get) {
        std::fprintf(stderr, "hwmon-bench: %s: %s\n", library, handle ? "no GetHealthInfo" : ::dlerror());
        return 1;
    }
    auto info = std::make_unique<HWMON_INFO>();
    Clock::time_point start = Clock::now();
    const int rc = get(HEALTH_HWMON, info.get());
    const double first = Milliseconds(start);
    std::printf("library: HEALTH_HWMON %d, %u sensors (%u inputs)\n", rc, info->quantity, info->total);
    for (unsigned i = 0; i < info->quantity; ++i) {
        const HWMON_SENSOR& s = info->sensor[i];
        std::printf("  %s %s %s (%s) flags 0x%x value %.3f\n", s.Chip, s.Device, s.Input, s.Label, s.Flags, s.Value);
    }
    constexpr int kPolls = 20;
    start = Clock::now();
    for (int n = 0; n < kPolls; ++n) {
        std::memset(info.get(), 0, sizeof *info);
        get(HEALTH_HWMON, info.get());
    }
    std::printf("library: first call (listing and poll) %.3f ms, later poll %.3f ms (mean of %d)\n", first,
                Milliseconds(start) / kPolls, kPolls);
    NodeExporter(exporter);
    return 0;
}
