// The load of the machine: processor busy percentages from the kernel's cumulative times in
// /proc/stat, and the share of memory in use as `free` reports it (its "used" column over its
// "total", as the installed procps computes them).
#include <fcntl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "api/paging.h"
#include "process/state.h"
#include "platform/platform.h"

extern "C" {
int ExecuteFirstTime = 0;
}

namespace {

constexpr int kMaxCpus = 8;
// The processor lines sit at the start of /proc/stat; this much of it is read.
constexpr long kStatBytes = 1024;

// The time tables hold four times per processor in one run of 32 longs: processor i at
// positions 4i .. 4i+3 (user, nice, system, idle).
long& At(long (&times)[4][8], int position) { return times[position / 8][position % 8]; }

// `free` prints its memory line as "Mem: total used ...". It is run by its absolute path,
// without a shell: a `free` earlier in the caller's PATH must never run, as the agent runs as
// root. /usr/bin is where procps installs it; /bin on systems that keep the two apart.
constexpr const char* kFreePrograms[] = {"/usr/bin/free", "/bin/free"};

// Reads the number that starts `line` (after blanks); false when the line holds none.
bool ReadNumber(const char* line, long long& value) {
    while (*line == ' ' || *line == '\t') ++line;
    // strtoll would skip a newline too and take the next line's number.
    if (!std::isdigit(static_cast<unsigned char>(*line)) && *line != '-' && *line != '+') return false;
    char* end = nullptr;
    value = std::strtoll(line, &end, 10);
    return end != line;
}

// 100 less the idle share, truncated, for any four differences: the sums and products are
// checked, and all four are halved together until they fit, which keeps the ratio.
int BusyPercent(unsigned long long idle, unsigned long long user, unsigned long long nice, unsigned long long sys) {
    for (;;) {
        unsigned long long total = 0, idle100 = 0;
        bool fits = !__builtin_add_overflow(idle, user, &total) && !__builtin_add_overflow(total, nice, &total) &&
                    !__builtin_add_overflow(total, sys, &total) && !__builtin_mul_overflow(idle, 100ULL, &idle100);
        if (fits) return total == 0 ? 0 : static_cast<int>(100 - idle100 / total);
        idle >>= 1, user >>= 1, nice >>= 1, sys >>= 1;
    }
}

// Every processor's four times (user, nice, system, idle) from one reading of /proc/stat, by
// processor number; a processor without a line has none. False when the file cannot be read.
constexpr std::size_t kMostStatBytes = 4 << 20;  // far more than 4096 processors' lines
struct Times {
    bool present = false;
    unsigned long long t[4] = {};
};

bool ReadAllCpuTimes(std::vector<Times>& cpus) {
    cpus.clear();
    int fd = platform::open("/proc/stat", O_RDONLY);
    if (fd < 0) return false;
    std::string text;
    char chunk[8192];
    int error = 0;
    for (std::size_t got; text.size() < kMostStatBytes && (got = platform::read_all(fd, chunk, sizeof chunk, error)) > 0;)
        text.append(chunk, got);
    platform::close(fd);
    if (error) return false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        // "cpuN" lines only; the "cpu " line is the sum of them.
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || !std::isdigit(static_cast<unsigned char>(line[3])))
            continue;
        unsigned int number = 0;
        unsigned long long v[4] = {};
        if (std::sscanf(line.c_str() + 3, "%u %llu %llu %llu %llu", &number, &v[0], &v[1], &v[2], &v[3]) < 3 ||
            number >= 65536)
            continue;
        if (cpus.size() <= number) cpus.resize(number + 1);
        cpus[number].present = true;
        for (int k = 0; k < 4; ++k) cpus[number].t[k] = v[k];
    }
    return true;
}

using UsageReading = qarvel::Reading<CpuUsageRageInformation, int>;

}  // namespace

int RetrieveCpuTime(int nr_cpu) {
    if (nr_cpu < 0 || nr_cpu >= kMaxCpus) return -1;
    int fd = platform::open("/proc/stat", O_RDONLY);
    if (fd < 0) {
        std::printf("File open failed!\n");
        return -1;
    }
    char text[kStatBytes + 1] = {};
    long got = platform::read(fd, text, kStatBytes);
    if (got < 0) {
        std::perror("/proc/stat");
        platform::close(fd);
        return -1;
    }
    text[got] = '\0';

    char name[16];
    std::snprintf(name, sizeof name, "cpu%d", nr_cpu);
    const char* line = std::strstr(text, name);
    if (!line) {
        platform::close(fd);
        return -1;
    }
    char format[48];
    std::snprintf(format, sizeof format, "%s %%lu %%lu %%lu %%lu", name);
    unsigned long values[4];
    int converted = std::sscanf(line, format, &values[0], &values[1], &values[2], &values[3]);
    if (converted < 2) {
        platform::close(fd);
        return -1;
    }
    qarvel::ProcessState& state = qarvel::State();
    long (&cp_time)[4][8] = state.cp_time;
    long (&cp_old)[4][8] = state.cp_old;
    const int first = 4 * nr_cpu;
    for (int k = 0; k < converted; ++k) At(cp_time, first + k) = static_cast<long>(values[k]);

    if (ExecuteFirstTime == 0) {
        ExecuteFirstTime = 1;
    } else {
        // The kernel's counters are unsigned and may wrap: differences are taken modulo.
        auto since = [&](int k) {
            return static_cast<long>(static_cast<unsigned long>(At(cp_time, first + k)) -
                                     static_cast<unsigned long>(At(cp_old, first + k)));
        };
        state.UserTime[nr_cpu] = since(0);
        state.NiceTime[nr_cpu] = since(1);
        state.SysTime[nr_cpu] = since(2);
        state.IdleTime[nr_cpu] = since(3);
    }
    for (int k = 0; k < 4; ++k) At(cp_old, first + k) = At(cp_time, first + k);
    platform::close(fd);
    return 0;
}

int GetCpuQuantity(void) {
    qarvel::SmBiosSession session;
    SmBios* reader = session.Reader();
    if (!reader || !reader->IsInitOK()) return 0;
    return reader->GetProcessorQuantity();
}

extern "C" int GetCpuUsageRate(int interval, LPVOID buffer) {
    if (!buffer) return -1;
    auto& record = *static_cast<CpuUsageRageInformation*>(buffer);
    record.quantity = 0;
    std::memset(record.UsageRate, 0, sizeof record.UsageRate);
    if (interval < 0) return -1;

    // Two calls at once would take each other's samples: the second waits.
    qarvel::ProcessState& state = qarvel::State();
    std::lock_guard<std::mutex> lock(state.usageLock);
    int& quantity = state.quantity;
    // The processors are counted once per process.
    if (state.retrieve_all_cpus == 1) {
        for (int i = 0; i < kMaxCpus && RetrieveCpuTime(i) != -1; ++i) ++quantity;
        state.retrieve_all_cpus = 0;
    }
    // Two fresh samples around the sleep, so the rates cover exactly the caller's interval.
    for (int i = 0; i < quantity; ++i)
        if (RetrieveCpuTime(i) == -1) return -1;
    platform::sleep(static_cast<unsigned int>(interval));
    for (int i = 0; i < quantity; ++i)
        if (RetrieveCpuTime(i) == -1) return -1;

    for (int i = 0; i < quantity; ++i) {
        const long idle = state.IdleTime[i], user = state.UserTime[i], nice = state.NiceTime[i],
                   sys = state.SysTime[i];
        // A processor whose times did not advance, or ran backwards, was not measurably busy.
        if (idle < 0 || user < 0 || nice < 0 || sys < 0) continue;
        record.UsageRate[i] = BusyPercent(static_cast<unsigned long>(idle), static_cast<unsigned long>(user),
                                          static_cast<unsigned long>(nice), static_cast<unsigned long>(sys));
    }
    record.quantity = quantity;
    return 0;
}

extern "C" int GetCpuUsageRatePage(int interval, int first, LPVOID buffer, int* total) {
    if (!buffer || first < 0 || (first == 0 && interval < 0)) return -1;
    static const qarvel::PageShape<CpuUsageRageInformation, int, 8> shape = {
        &CpuUsageRageInformation::UsageRate,
        qarvel::CountIn<CpuUsageRageInformation, &CpuUsageRageInformation::quantity>};
    try {
        qarvel::ProcessState& state = qarvel::State();
        std::lock_guard<std::mutex> lock(state.usageLock);
        // One measurement of every processor over the interval; the later pages are cut from
        // it without sleeping again (their interval is not looked at).
        const UsageReading& reading =
            qarvel::ReadingFor<UsageReading>(state.usagePages, "GetCpuUsageRate", first, [&](UsageReading& r) {
                std::vector<Times> before, after;
                if (!ReadAllCpuTimes(before)) return void(r.result = -1);
                platform::sleep(static_cast<unsigned int>(interval < 0 ? 0 : interval));
                if (!ReadAllCpuTimes(after)) return void(r.result = -1);
                r.entries.assign(std::min(before.size(), after.size()), 0);
                for (std::size_t i = 0; i < r.entries.size(); ++i) {
                    if (!before[i].present || !after[i].present) continue;
                    unsigned long long d[4];
                    bool forward = true;
                    for (int k = 0; k < 4; ++k) {
                        // A counter that ran backwards: the processor was not measurably busy.
                        forward = forward && after[i].t[k] >= before[i].t[k];
                        d[k] = after[i].t[k] - before[i].t[k];
                    }
                    if (forward) r.entries[i] = BusyPercent(d[3], d[0], d[1], d[2]);
                }
            });
        return qarvel::ServePage(reading, shape, first, buffer, total);
    } catch (...) {
        return -1;
    }
}

int MemUsageFromFree(const char* output) {
    if (!output) return 0;
    // The first line whose label (the text before its colon) holds "Mem" gives the total and
    // the used amount, the first two numbers after the colon; any other line is skipped.
    for (const char* line = output; *line; ) {
        const char* end = std::strchr(line, '\n');
        if (!end) end = line + std::strlen(line);
        const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(end - line)));
        if (colon && std::string(line, colon).find("Mem") != std::string::npos) {
            const std::string numbers(colon + 1, end);
            long long total = 0, used = 0;
            const char* first = numbers.c_str();
            while (*first == ' ' || *first == '\t') ++first;
            const char* second = first;
            while (*second && *second != ' ' && *second != '\t') ++second;
            if (!ReadNumber(first, total) || !ReadNumber(second, used) || total <= 0) return 0;
            float rate = static_cast<float>(static_cast<double>(used) * 100.0 / static_cast<double>(total));
            if (!(rate > 0)) return 0;
            if (rate > 100) return 100;
            return static_cast<int>(rate);
        }
        line = *end ? end + 1 : end;
    }
    return 0;
}

long RunFree(char* output, std::size_t size) {
    long printed = -1;
    for (const char* program : kFreePrograms)
        if ((printed = platform::run_program(program, output, size)) >= 0) break;
    return printed;
}

extern "C" int GetMemUsageRate(void) {
    // What `free` prints comes back through a pipe: no file is written anywhere.
    char output[4096] = {};
    if (RunFree(output, sizeof output) <= 0) {
        std::printf("File is not exist!\n");
        return 0;
    }
    return MemUsageFromFree(output);
}
