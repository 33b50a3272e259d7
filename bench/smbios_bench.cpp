// How long one sweep of the ten SMBIOS commands takes, beside `dmidecode --from-dump` on the
// same file, and how the sweep grows with the table.
//
//   smbios-bench [--runs N] DUMP...
//
// For each dump (a `dmidecode --dump-bin` file) the library reads the table from the
// simulated kernel's sysfs copy and runs the ten commands, from a fresh reader each time; the
// median of N sweeps is printed beside the median of N runs of dmidecode on the same file,
// with their ratio. Then the same sweep on generated tables of 50 to 1700 structures, and on
// larger ones to show the growth stays linear.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "process/state.h"
#include "sim/Machine.h"
#include "sim/Smbios.h"
#include "sim/SmbiosStructures.h"
#include "sim/loader.h"

extern char** environ;

namespace {

// The reader the exports made, for its structure count and visit counter.
SmBios* Reader() { return qarvel::State().bios; }

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

// Microseconds, the median of `runs` calls.
double Time(int runs, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        work();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return Median(samples);
}

template <typename Record>
int Command(unsigned long command) {
    Record record;
    std::memset(&record, 0, sizeof record);
    return GetInfo(command, &record);
}

// One sweep as an agent makes it after loading the library: the table is read, then every
// command runs. Returns how many commands failed.
int SweepOnce() {
    release();
    int failed = 0;
    failed += Command<BaseBoardInformation>(INFO_BASE_BOARD) != 0;
    failed += Command<SysInformation>(INFO_SYSTEM) != 0;
    failed += Command<ProcessorInformation>(INFO_PROCESSOR) != 0;
    failed += Command<MemoryInformation>(INFO_MEMORY) != 0;
    failed += Command<IOInformation>(INFO_IO_PORT) != 0;
    failed += Command<SystemPowerInformation>(INFO_POWER_SUPPLY) != 0;
    failed += Command<SystemPowerInformation>(INFO_UPS) != 0;
    failed += Command<FanInformation>(INFO_FAN) != 0;
    failed += Command<VoltageInformation>(INFO_VOLTAGE) != 0;
    failed += Command<TemperatureInformation>(INFO_TEMPERATURE) != 0;
    return failed;
}

std::string Dmidecode() {
    for (const char* path : {"/usr/sbin/dmidecode", "/sbin/dmidecode", "/usr/bin/dmidecode"})
        if (access(path, X_OK) == 0) return path;
    return "";
}

// One run of dmidecode on the dump, its output thrown away as a reader of it would.
bool RunDmidecode(const std::string& program, const std::string& dump) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words = {program, "--from-dump", dump};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::shared_ptr<sim::Machine> MachineWith(const std::vector<std::uint8_t>& dump, std::string& error) {
    auto machine = std::make_shared<sim::Machine>();
    machine->kernel = sim::Kernel::Current;
    if (!sim::place_dump(*machine, dump, error)) return nullptr;
    return machine;
}

void CompareWithDmidecode(const std::vector<std::string>& dumps, int runs) {
    const std::string dmidecode = Dmidecode();
    std::printf("Sweep of the ten SMBIOS commands (fresh reader each time, table from sysfs) beside\n"
                "`dmidecode --from-dump` of the same file; medians of %d runs.\n\n", runs);
    std::printf("%-30s %10s %8s %10s %11s %15s %7s\n", "dump", "structures", "bytes", "read (us)", "sweep (us)",
                "dmidecode (us)", "ratio");
    for (const std::string& path : dumps) {
        auto file = sim::read_file(path);
        std::string name = path;
        if (name.size() > 11 && name.compare(name.size() - 11, 11, "/smbios.bin") == 0) name.resize(name.size() - 11);
        name = name.substr(name.find_last_of('/') + 1);
        std::string error;
        auto machine = file ? MachineWith(std::vector<std::uint8_t>(file->begin(), file->end()), error) : nullptr;
        if (!machine) {
            std::printf("%-30s cannot be used: %s\n", name.c_str(), file ? error.c_str() : "cannot read it");
            continue;
        }
        sim::use(machine);
        int failed = SweepOnce();
        unsigned int structures = Reader() ? Reader()->GetStructureCount() : 0;
        unsigned int bytes = Reader() ? Reader()->BiosDataLength : 0;
        double read = Time(runs, [] {
            release();
            IsSmBiosSupport();
        });
        double sweep = Time(runs, [] { SweepOnce(); });
        double theirs = 0;
        bool ran = !dmidecode.empty() && RunDmidecode(dmidecode, path);
        if (ran) theirs = Time(runs, [&] { RunDmidecode(dmidecode, path); });
        std::printf("%-30s %10u %8u %10.1f %11.1f ", name.c_str(), structures, bytes, read, sweep);
        if (ran)
            std::printf("%15.1f %6.0fx", theirs, theirs / sweep);
        else
            std::printf("%15s %7s", "(no dmidecode)", "-");
        std::printf("%s\n", failed ? "  (some commands failed)" : "");
    }
}

void Scaling(int runs) {
    std::printf("\nScaling: the same sweep on generated tables (SMBIOS 3, read from sysfs).\n\n");
    std::printf("%10s %9s %12s %16s %16s %16s\n", "structures", "bytes", "sweep (us)", "us / structure",
                "visits reading", "visits sweeping");
    for (int structures : {50, 100, 200, 400, 850, 1700, 6800, 27200, 108800}) {
        if (structures == 6800) std::printf("%10s\n", "beyond:");
        sim::SmbiosTable table = sim::inventory_table(structures);
        sim::EntryPoint entry;
        entry.kind = sim::EntryPoint::SMBIOS3;
        entry.major = 3;
        auto machine = std::make_shared<sim::Machine>();
        machine->kernel = sim::Kernel::Current;
        sim::place_smbios(*machine, table, entry);
        sim::use(machine);
        SweepOnce();
        // Reading visits each structure once; the rest are the commands' lookups.
        unsigned long long reading = Reader() ? Reader()->GetStructureCount() : 0;
        unsigned long long total = Reader() ? Reader()->Visits : 0;
        unsigned int bytes = Reader() ? Reader()->BiosDataLength : 0;
        int n = structures > 10000 ? std::max(3, runs / 10) : runs;
        double sweep = Time(n, [] { SweepOnce(); });
        std::printf("%10d %9u %12.1f %16.3f %16llu %16llu\n", structures, bytes, sweep, sweep / structures, reading,
                    total - reading);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 51;
    std::vector<std::string> dumps;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (word == "--help" || word == "-h") {
            std::printf("usage: smbios-bench [--runs N] DUMP...\n");
            return 0;
        } else {
            dumps.push_back(word);
        }
    }
    if (!dumps.empty()) CompareWithDmidecode(dumps, runs);
    Scaling(runs);
    release();
    return 0;
}
