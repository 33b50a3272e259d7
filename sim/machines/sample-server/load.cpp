// The sample server's load: /proc/stat now and one second later, and what `free` prints.
#include <string>

#include "sim/loader.h"
#include "sim/machines/sample-server/parts.h"

namespace sample_server {

namespace {

// Eight processors (two sockets, four cores each). Cumulative ticks at boot + uptime, and
// what each processor did in the next second (100 ticks: user, nice, system, idle).
struct Cpu {
    unsigned long user, nice, system, idle, iowait, irq, softirq;
    unsigned long d_user, d_nice, d_system, d_idle;
};
const Cpu kCpus[] = {
    {1843211, 1204, 402311, 48811602, 20331, 0, 11873, 31, 0, 6, 63},
    {1201873, 933, 311542, 49630199, 18842, 0, 4411, 12, 0, 3, 85},
    {2764310, 1710, 522671, 47702213, 25002, 0, 9930, 50, 5, 10, 35},
    {402118, 204, 120773, 50421877, 9120, 0, 1203, 2, 0, 1, 97},
    {3321950, 2044, 601237, 47031145, 30112, 0, 14022, 70, 0, 8, 22},
    {880412, 512, 203118, 49867321, 11540, 0, 3320, 9, 0, 2, 89},
    {2210098, 1399, 455120, 48320110, 21009, 0, 8800, 40, 0, 5, 55},
    {120455, 88, 60231, 50810322, 3011, 0, 402, 0, 0, 0, 100},
};

std::string stat_at(int second) {
    std::string lines;
    unsigned long all[7] = {};
    for (int i = 0; i < 8; ++i) {
        const Cpu& c = kCpus[i];
        unsigned long v[7] = {c.user + second * c.d_user, c.nice + second * c.d_nice,
                              c.system + second * c.d_system, c.idle + second * c.d_idle,
                              c.iowait, c.irq, c.softirq};
        lines += "cpu" + std::to_string(i);
        for (unsigned long x : v) lines += " " + std::to_string(x);
        lines += " 0 0 0\n";
        for (int k = 0; k < 7; ++k) all[k] += v[k];
    }
    std::string text = "cpu ";
    for (unsigned long x : all) text += " " + std::to_string(x);
    text += " 0 0 0\n" + lines;
    text += "intr 1480663212 38 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0\n"
            "ctxt 2914371605\n"
            "btime 1741939200\n"
            "processes " + std::to_string(1830055 + second * 12) + "\n"
            "procs_running 3\n"
            "procs_blocked 0\n"
            "softirq 950113244 2 301115402 11 40812203 1820334 0 2914 310551102 0 294811276\n";
    return text;
}

// procps-ng `free`, in kibibytes: 40802668 of 131621512 used, just under 31 %.
const char kFree[] =
    "               total        used        free      shared  buff/cache   available\n"
    "Mem:       131621512    40802668    62433012      219304    28385832    89614940\n"
    "Swap:        8388604           0     8388604\n";

}  // namespace

bool write_load(const std::string& dir) {
    return sim::write_file(dir + "/proc/stat", stat_at(0)) && sim::write_file(dir + "/proc/stat@1", stat_at(1)) &&
           sim::write_file(dir + "/free.txt", std::string(kFree));
}

}  // namespace sample_server
