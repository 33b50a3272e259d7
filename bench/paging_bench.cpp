// How long a full paged walk of each command takes on a large machine, beside the classic
// export that gives its first page, and how many entries each command has.
//
//   paging-bench [--runs N] [MACHINE]
//
// The simulated library is loaded as the agent loads a library (dlopen) on MACHINE (the large
// server by default). After one warm-up call of each family (the SMBIOS reader built, the
// sensors discovered), each figure is the median of N runs: the classic export (GetInfo,
// GetIpmiInfo, GetAllThresholdInfo, GetCpuUsageRate over 0 s), the walk from first = 0 to
// the end, and one page past the first alone, which is served from the walk's reading and
// shows that a page costs no reading of the machine.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/types.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double MillisecondsOf(const std::function<void()>& work, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return Median(times);
}

// One command: its classic call, and a page of its paged export (first, record, total).
struct Command {
    const char* name;
    std::size_t record_size;
    std::function<int(void*)> classic;
    std::function<int(int, void*, int*)> page;
    int (*count)(const void*);
};

template <typename Record, int Record::*Field>
int CountOf(const void* record) {
    return static_cast<const Record*>(record)->*Field;
}

int DriveCount(const void* record) {
    auto* r = static_cast<const StorageInformation*>(record);
    return r->quantityIDE + r->quantitySCSI;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string machine = QARVEL_LARGE_MACHINE;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            machine = argv[i];
    }
    setenv("QARVEL_MACHINE", machine.c_str(), 1);
    void* lib = dlopen(QARVEL_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "paging-bench: %s\n", dlerror());
        return 1;
    }
    auto sym = [&](const char* name) { return dlsym(lib, name); };
    auto get_info = reinterpret_cast<int (*)(unsigned long, void*)>(sym("GetInfo"));
    auto info_page = reinterpret_cast<int (*)(unsigned long, int, void*, int*)>(sym("GetInfoPage"));
    auto get_ipmi = reinterpret_cast<int (*)(unsigned long, void*)>(sym("GetIpmiInfo"));
    auto ipmi_page = reinterpret_cast<int (*)(unsigned long, int, void*, int*)>(sym("GetIpmiInfoPage"));
    auto all_thresholds = reinterpret_cast<int (*)(void*)>(sym("GetAllThresholdInfo"));
    auto thresholds_page = reinterpret_cast<int (*)(int, void*, int*)>(sym("GetAllThresholdInfoPage"));
    auto usage = reinterpret_cast<int (*)(int, void*)>(sym("GetCpuUsageRate"));
    auto usage_page = reinterpret_cast<int (*)(int, int, void*, int*)>(sym("GetCpuUsageRatePage"));
    if (!get_info || !info_page || !get_ipmi || !ipmi_page || !all_thresholds || !thresholds_page || !usage ||
        !usage_page) {
        std::fprintf(stderr, "paging-bench: the library lacks an export\n");
        return 1;
    }

    auto inventory = [&](const char* name, unsigned long command, std::size_t size, int (*count)(const void*)) {
        return Command{name, size, [=](void* r) { return get_info(command, r); },
                       [=](int first, void* r, int* total) { return info_page(command, first, r, total); }, count};
    };
    auto sensors = [&](const char* name, unsigned long command, std::size_t size, int (*count)(const void*)) {
        return Command{name, size, [=](void* r) { return get_ipmi(command, r); },
                       [=](int first, void* r, int* total) { return ipmi_page(command, first, r, total); }, count};
    };
    const std::vector<Command> commands = {
        inventory("INFO_PROCESSOR", INFO_PROCESSOR, sizeof(ProcessorInformation),
                  CountOf<ProcessorInformation, &ProcessorInformation::quantity>),
        inventory("INFO_MEMORY", INFO_MEMORY, sizeof(MemoryInformation),
                  CountOf<MemoryInformation, &MemoryInformation::quantity>),
        inventory("INFO_PCI_DEVICE", INFO_PCI_DEVICE, sizeof(DeviceInformation),
                  CountOf<DeviceInformation, &DeviceInformation::quantity>),
        inventory("INFO_STORAGE", INFO_STORAGE, sizeof(StorageInformation), DriveCount),
        inventory("INFO_PARTITION", INFO_PARTITION, sizeof(PartitionInformation),
                  CountOf<PartitionInformation, &PartitionInformation::quantity>),
        sensors("IPMI INFO_FAN", INFO_FAN, sizeof(FanInformation), CountOf<FanInformation, &FanInformation::quantity>),
        sensors("IPMI INFO_VOLTAGE", INFO_VOLTAGE, sizeof(VoltageInformation),
                CountOf<VoltageInformation, &VoltageInformation::quantity>),
        sensors("IPMI INFO_TEMPERATURE", INFO_TEMPERATURE, sizeof(TemperatureInformation),
                CountOf<TemperatureInformation, &TemperatureInformation::quantity>),
        Command{"thresholds", sizeof(SensorThresholdInformation), [=](void* r) { return all_thresholds(r); },
                [=](int first, void* r, int* total) { return thresholds_page(first, r, total); },
                CountOf<SensorThresholdInformation, &SensorThresholdInformation::quantity>},
        Command{"CPU usage (0 s)", sizeof(CpuUsageRageInformation), [=](void* r) { return usage(0, r); },
                [=](int first, void* r, int* total) { return usage_page(0, first, r, total); },
                CountOf<CpuUsageRageInformation, &CpuUsageRageInformation::quantity>},
    };

    std::vector<unsigned char> record(sizeof(DeviceInformation) + sizeof(StorageInformation));
    std::printf("%s, median of %d runs\n\n", machine.c_str(), runs);
    std::printf("%-22s %8s %6s %14s %14s %16s\n", "command", "entries", "pages", "first page ms", "full walk ms",
                "later page ms");
    for (const Command& c : commands) {
        std::memset(record.data(), 0, c.record_size);
        if (c.classic(record.data()) != 0) {
            std::printf("%-22s the classic call failed\n", c.name);
            continue;
        }
        int total = 0, pages = 0;
        const double classic = MillisecondsOf(
            [&] {
                std::memset(record.data(), 0, c.record_size);
                c.classic(record.data());
            },
            runs);
        const double walk = MillisecondsOf(
            [&] {
                pages = 0;
                for (int first = 0;; ++pages) {
                    std::memset(record.data(), 0, c.record_size);
                    if (c.page(first, record.data(), &total) != 0 || c.count(record.data()) <= 0) break;
                    first += c.count(record.data());
                    if (first >= total) {
                        ++pages;
                        break;
                    }
                }
            },
            runs);
        const double later = MillisecondsOf(
            [&] {
                std::memset(record.data(), 0, c.record_size);
                c.page(1, record.data(), &total);
            },
            runs);
        std::printf("%-22s %8d %6d %14.3f %14.3f %16.3f\n", c.name, total, pages, classic, walk, later);
    }
    reinterpret_cast<int (*)()>(sym("release"))();
    dlclose(lib);
    return 0;
}
