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
        // A full record may have more processors after it: one measurement of all of them,
        // its pages printed on from the ninth (nothing when there are no more).
        auto* usage_page = library.function<int(int, int, LPVOID, int*)>("GetCpuUsageRatePage");
        int total = 0;
        for (int first = shown; usage_page && shown == 8;) {
            CpuUsageRageInformation page;
            std::memset(&page, 0, sizeof page);
            const int answer = usage_page(1, first, &page, &total);
            if (answer != 0 || page.quantity <= 0) break;
            out.result("GetCpuUsageRatePage(1, " + std::to_string(first) + ")", answer);
            for (int i = 0; i < page.quantity && i < 8; ++i)
                out.field("UsageRate[" + std::to_string(first + i) + "]", static_cast<long>(page.UsageRate[i]));
            first += page.quantity;
            if (first >= total) {
                out.field("total", static_cast<long>(total));
                break;
            }
        }
    }
    out.result("GetMemUsageRate()", mem_usage());
}

}  // namespace cli
