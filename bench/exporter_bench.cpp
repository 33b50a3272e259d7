// One scrape of qarvel-exporter on the current server, without its IPMI collectors and with
// them (the first scrape discovers the sensors; the BMC's requests counted), beside one scrape
// of node_exporter's hwmon and dmi collectors on this machine, in the same run. Run by hand,
// never as a test: prints figures.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "tests/exporter/support.h"

namespace {

using namespace exporter_test;

struct Scrape {
    double ms = 0;
    std::size_t bytes = 0, series = 0;
    int status = 0;
};

Scrape Time(int port) {
    HttpConnection connection(port);
    const auto start = std::chrono::steady_clock::now();
    HttpAnswer answer = connection.Get("/metrics");
    Scrape s;
    s.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    s.status = answer.status;
    s.bytes = answer.body.size();
    s.series = ParseExposition(answer.body).size();
    return s;
}

int Lines(const std::string& path) {
    int n = 0;
    for (char c : ReadFile(path)) n += c == '\n';
    return n;
}

void Print(const char* what, const Scrape& s, int requests) {
    std::printf("%-58s %9.2f ms %6zu series %8zu bytes", what, s.ms, s.series, s.bytes);
    if (requests >= 0) std::printf(" %5d BMC requests", requests);
    std::printf("%s\n", s.status == 200 ? "" : "  (no answer)");
}

}  // namespace

int main() {
    TempDir dir;
    const std::string transcript = dir.path() + "/bmc";
    const std::vector<std::string> environment = {"QARVEL_BMC_TRANSCRIPT=" + transcript};
    std::printf("current server (%s) through Qarvel-sim.so\n", QARVEL_CURRENT_MACHINE);
    {
        Process* p = nullptr;
        int port = StartExporter(p, {"--machine", QARVEL_CURRENT_MACHINE, "--collectors", "dmi,processor,memory,pci,disk"},
                                 environment, dir.path() + "/log");
        std::unique_ptr<Process> owner(p);
        if (port <= 0) return std::fprintf(stderr, "exporter_bench: the exporter did not start\n"), 1;
        Print("qarvel-exporter, no IPMI (dmi processor memory pci disk)", Time(port), Lines(transcript));
        Print("qarvel-exporter, no IPMI, second scrape", Time(port), Lines(transcript));
    }
    std::remove(transcript.c_str());
    {
        Process* p = nullptr;
        int port = StartExporter(p, {"--machine", QARVEL_CURRENT_MACHINE}, environment, dir.path() + "/log");
        std::unique_ptr<Process> owner(p);
        if (port <= 0) return std::fprintf(stderr, "exporter_bench: the exporter did not start\n"), 1;
        Scrape first = Time(port);
        int first_requests = Lines(transcript);
        Print("qarvel-exporter, all collectors, first scrape (discovery)", first, first_requests);
        Scrape second = Time(port);
        Print("qarvel-exporter, all collectors, next scrape", second, Lines(transcript) - first_requests);
    }
    const int port = FreePort();
    Process node({"/usr/bin/prometheus-node-exporter", "--collector.disable-defaults", "--collector.hwmon",
                  "--collector.dmi", "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                 {}, dir.path() + "/node.log");
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        up = HttpConnection(port).connected();
    }
    std::printf("this machine's kernel\n");
    if (!up) {
        std::printf("node_exporter did not start (prometheus-node-exporter, from tools/setup)\n");
        return 1;
    }
    Print("node_exporter, hwmon and dmi collectors", Time(port), -1);
    Print("node_exporter, hwmon and dmi collectors, second scrape", Time(port), -1);
    return 0;
}
