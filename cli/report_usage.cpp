// The load of the machine: processor and memory usage.
#include <cstdio>
#include <cstring>

#include "cli/report.h"

namespace cli {

void report_usage(const Library& library, Printer& out) {
    auto* cpu_usage = library.function<int(int, LPVOID)>("GetCpuUsageRate");
    auto* mem_usage = library.function<int()>("GetMemUsageRate");
    out.section("usage");
    if (!cpu_usage || !mem_usage) {
        out.missing(!cpu_usage ? "GetCpuUsageRate" : "GetMemUsageRate");
        return;
    }
    // The library prints its own diagnostics to standard output: keep them in order with ours.
    std::fflush(stdout);
    CpuUsageRageInformation cpus;
    std::memset(&cpus, 0, sizeof cpus);
    // One second: on a simulated machine the clock jumps, on a real one the call waits.
    int result = cpu_usage(1, &cpus);
    out.result("GetCpuUsageRate(1)", result);
    if (result == 0) {
        out.field("quantity", static_cast<long>(cpus.quantity));
        int shown = cpus.quantity < 0 ? 0 : cpus.quantity > 8 ? 8 : cpus.quantity;
        for (int i = 0; i < shown; ++i) out.field("UsageRate[" + std::to_string(i) + "]", static_cast<long>(cpus.UsageRate[i]));
    }
    out.result("GetMemUsageRate()", mem_usage());
}

}  // namespace cli
