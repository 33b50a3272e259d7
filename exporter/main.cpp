// qarvel-exporter: loads a Qarvel library with dlopen, as the agent and qarvel do, and serves
// what it reads in the Prometheus text format, collected when scraped; or writes it once into
// a file for node_exporter's textfile collector.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/loading.h"
#include "exporter/collection.h"
#include "exporter/http.h"

namespace {

const char kDefaultListen[] = "127.0.0.1:9842";

void usage(std::FILE* out) {
    std::size_t count = 0;
    const exporter::Collector* collectors = exporter::Collectors(count);
    std::string names;
    for (std::size_t i = 0; i < count; ++i) names += std::string(i ? "," : "") + collectors[i].name;
    std::fprintf(out,
                 "usage: qarvel-exporter [--library PATH] [--machine DIR] [--listen ADDR:PORT]\n"
                 "                       [--textfile FILE] [--collectors LIST] [--collector-timeout SECONDS]\n"
                 "  Serves the machine's inventory, IPMI sensors and watchdog state for Prometheus at\n"
                 "  http://ADDR:PORT/metrics, read from the library when scraped.\n"
                 "  --library PATH    the library to load (default: %s)\n"
                 "  --machine DIR     the captured machine a simulated library serves (sets QARVEL_MACHINE;\n"
                 "                    the library defaults to %s)\n"
                 "  --listen ADDR:PORT  where to listen (default %s, the loopback only; [ADDR6]:PORT\n"
                 "                    for IPv6; port 0 takes a free one, printed at start)\n"
                 "  --textfile FILE   collect once and write FILE (through a temporary name in its\n"
                 "                    directory, renamed into place) for node_exporter's textfile collector\n"
                 "  --collectors LIST the collectors to run, comma-separated (default: %s)\n"
                 "  --collector-timeout SECONDS  time limit of each collector (default 10)\n"
                 "SIGHUP releases the library's readers: the next scrape discovers the sensors again.\n",
                 QARVEL_DEFAULT_LIBRARY, QARVEL_SIM_LIBRARY, kDefaultListen, names.c_str());
}

bool ChooseCollectors(const std::string& list, std::vector<exporter::Collector>& chosen) {
    std::size_t count = 0;
    const exporter::Collector* collectors = exporter::Collectors(count);
    if (list.empty()) {
        chosen.assign(collectors, collectors + count);
        return true;
    }
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool found = false;
        for (std::size_t i = 0; i < count; ++i)
            if (name == collectors[i].name) {
                chosen.push_back(collectors[i]);
                found = true;
            }
        if (!found) {
            std::fprintf(stderr, "qarvel-exporter: no collector %s\n", name.c_str());
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

// The whole file or nothing: written under a temporary name in the same directory (which
// node_exporter passes over, as it reads *.prom only), then renamed over FILE.
int WriteTextfile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        std::fprintf(stderr, "qarvel-exporter: cannot create %s: %s\n", temporary.c_str(), std::strerror(errno));
        return 1;
    }
    const char* at = text.data();
    std::size_t left = text.size();
    bool ok = ::fchmod(fd, 0644) == 0;
    while (ok && left > 0) {
        ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) at += n, left -= static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "qarvel-exporter: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        ::unlink(temporary.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library_path, listen = kDefaultListen, textfile, collectors;
    const char* machine = nullptr;
    double timeout = 10;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        const bool takes_value = arg == "--library" || arg == "--machine" || arg == "--listen" ||
                                 arg == "--textfile" || arg == "--collectors" || arg == "--collector-timeout";
        if (!takes_value) {
            std::fprintf(stderr, "qarvel-exporter: unknown argument %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            std::fprintf(stderr, "qarvel-exporter: %s needs a value\n", arg.c_str());
            return 2;
        }
        const char* value = argv[++i];
        if (arg == "--library") library_path = value;
        if (arg == "--machine") machine = value;
        if (arg == "--listen") listen = value;
        if (arg == "--textfile") textfile = value;
        if (arg == "--collectors") collectors = value;
        if (arg == "--collector-timeout") {
            char* end = nullptr;
            timeout = std::strtod(value, &end);
            if (*end != '\0' || !(timeout > 0 && timeout <= 3600)) {
                std::fprintf(stderr, "qarvel-exporter: --collector-timeout %s: expected 0 to 3600 seconds\n", value);
                return 2;
            }
        }
    }
    std::vector<exporter::Collector> chosen;
    if (!ChooseCollectors(collectors, chosen)) return 2;

    if (machine && !cli::UseMachine("qarvel-exporter", machine, library_path, QARVEL_SIM_LIBRARY)) return 1;
    if (library_path.empty()) library_path = QARVEL_DEFAULT_LIBRARY;
    void* handle = dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "qarvel-exporter: cannot load %s: %s\n", library_path.c_str(), dlerror());
        return 1;
    }
    exporter::Library library(handle);
    // Standard output carries the exporter's own line ("listening on") alone: whatever the
    // library prints there itself goes to standard error.
    std::FILE* announce = cli::SetStandardOutputAside("qarvel-exporter");
    if (!announce) return 1;
    exporter::Collection collection(library, chosen,
                                    std::chrono::milliseconds(static_cast<long long>(timeout * 1000)));
    if (!textfile.empty()) {
        int status = WriteTextfile(textfile, *collection.Scrape());
        std::fflush(stdout);
        // Not released: a collector still past its time limit may hold the readers.
        std::_Exit(status);
    }
    int status = exporter::Serve(collection, library, listen, announce);
    std::fflush(announce);
    // Collectors still past their limit may be inside the library: leave without unloading it.
    std::_Exit(status);
}
