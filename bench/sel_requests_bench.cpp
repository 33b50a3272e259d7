// What reading the System Event Log costs: the time to read a 1,000-entry log on the
// simulated BMC through GetSelEntries, and the requests of a first read, of a poll with
// nothing new and of one with 5 new entries; then the same log held by OpenIPMI's ipmi_sim,
// read by the library through a capture's ipmi/forward (requests counted in the simulated
// BMC's log) and by `ipmitool sel elist` over its IPMI 1.5 LAN interface (requests counted
// by bench/ipmi_sim.h, session set-up left out).
//
//   sel-requests-bench
//
// Needs ipmi_sim and ipmitool for the second part; prints figures, checks nothing.
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "api/Qarvel.h"
#include "process/state.h"
#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/loader.h"
#include "bench/ipmi_sim.h"
#include "tests/support/loopback.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint8_t kStorage = 0x0A, kGetSelEntry = 0x43, kGetSdr = 0x23;
constexpr int kEntries = 1000;

std::size_t SelRequests(const sim::Bmc& bmc) {
    std::size_t n = 0;
    for (const auto& r : bmc.log()) n += r.netfn == kStorage && r.cmd >= 0x40 && r.cmd <= 0x49;
    return n;
}

// Every page from `cursor` to the end of the log; the entries read.
std::size_t ReadAll(SelCursor& cursor) {
    std::size_t read = 0;
    for (int i = 0; i < 0x10000; ++i) {
        SelPage page{};
        page.Cursor = cursor;
        if (GetSelEntries(&page) != 0) break;
        read += page.Count;
        cursor = page.Cursor;
        if (cursor.Position != SEL_CURSOR_MORE) break;
    }
    return read;
}

// A threshold event of sensor 1: upper critical going high, reading and threshold given.
std::array<std::uint8_t, 16> Event(int i) {
    return {0, 0, 0x02, 0, 0, 0, 0, 0x20, 0, 0x04, 0x01, 0x01, 0x01, 0x59, static_cast<std::uint8_t>(90 + i % 10), 90};
}

void OnTheSimulator() {
    auto machine = std::make_shared<sim::Machine>();
    auto bmc = std::make_shared<sim::Bmc>();
    sim::FullSensor t;
    t.number = 1;
    t.name = "CPU Temp";
    bmc->add_record(t.record());
    bmc->sel.present = true;
    bmc->sel.capacity = 2048;
    for (int i = 0; i < kEntries; ++i) bmc->add_sel(Event(i));
    sim::install_bmc(*machine, bmc);
    sim::use(machine);
    qarvel::ResetProcessState(qarvel::Reset::Everything);
    SelInformation info{};
    GetSelInfo(&info);  // the facade and its discovery made before the clock starts
    bmc->clear_log();

    SelCursor cursor{};
    const auto start = std::chrono::steady_clock::now();
    const std::size_t read = ReadAll(cursor);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("  simulator, first read:        %4zu entries, %4zu requests (%zu Get SEL Entry), %.1f ms\n", read,
                SelRequests(*bmc), bmc->count(kStorage, kGetSelEntry), ms);
    bmc->clear_log();
    ReadAll(cursor);
    std::printf("  simulator, nothing new:               %4zu requests in all\n", bmc->log().size());
    machine->clock.now_us += 2000000;
    for (int i = 0; i < 5; ++i) bmc->add_sel(Event(i));
    bmc->clear_log();
    const std::size_t more = ReadAll(cursor);
    std::printf("  simulator, 5 new:             %4zu entries, %4zu requests\n", more, SelRequests(*bmc));
    qarvel::ResetProcessState(qarvel::Reset::Everything);
    sim::use(std::make_shared<sim::Machine>());
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Hex(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

void AgainstIpmiSim() {
    char pattern[] = "/tmp/qarvel-sel-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    const fs::path dir = pattern;
    const int lan = qtest::FreePort(SOCK_DGRAM), vm = qtest::FreePort(SOCK_STREAM);
    fs::create_directories(dir / "state");
    {
        std::ofstream emu(dir / "bmc.emu");
        emu << "mc_setbmc 0x20\nmc_add 0x20 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02\n"
            << "sel_enable 0x20 " << kEntries + 24 << " 0x0a\n";
        for (int i = 0; i < kEntries; ++i) {
            const auto e = Event(i);
            emu << "sel_add 0x20 0x02";
            for (int b = 3; b < 16; ++b) emu << " " << Hex(e[static_cast<std::size_t>(b)]);
            emu << "\n";
        }
        emu << "mc_enable 0x20\n";
    }
    const pid_t pid = bench::StartIpmiSim(dir, lan, vm);
    const std::string ipmitool = bench::kIpmitool;
    if (pid > 0) {
        std::string error;
        std::shared_ptr<sim::Machine> machine = sim::load_machine((dir / "capture").string(), error);
        if (machine && machine->bmc) {
            sim::use(machine);
            qarvel::ResetProcessState(qarvel::Reset::Everything);
            SelCursor cursor{};
            const auto start = std::chrono::steady_clock::now();
            const std::size_t read = ReadAll(cursor);
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("  library on ipmi_sim:          %4zu entries, %4zu log requests (%zu Get SEL Entry), %.1f s\n",
                        read, SelRequests(*machine->bmc), machine->bmc->count(kStorage, kGetSelEntry), s);
            qarvel::ResetProcessState(qarvel::Reset::Everything);
            sim::use(std::make_shared<sim::Machine>());
        }
        // ipmitool through the proxy, which counts what it forwards. Its elist also looks
        // for each entry's sensor in the repository (ipmi_sim here has none).
        const int front = qtest::FreePort(SOCK_DGRAM);
        const std::string out = (dir / "elist.txt").string();
        bench::Counts counted;
        const auto start = std::chrono::steady_clock::now();
        {
            bench::CountingProxy proxy(front, lan, {kStorage, kGetSelEntry}, {kStorage, kGetSdr});
            Shell(ipmitool + std::to_string(front) + " sel elist >" + out + " 2>/dev/null");
            counted = proxy.Requests();
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::ifstream in(out);
        std::size_t entries = 0;
        for (std::string line; std::getline(in, line);) entries += line.find(" | ") != std::string::npos;
        std::printf("  ipmitool sel elist:           %4zu entries, %4zu requests (%zu Get SEL Entry, %zu Get SDR), %.1f s\n",
                    entries, counted.all, counted.first, counted.second, s);
    } else {
        std::printf("  ipmi_sim did not start\n");
    }
    if (pid > 0) bench::StopIpmiSim(pid);
    fs::remove_all(dir);
}

}  // namespace

int main() {
    std::printf("System Event Log of %d entries: requests of the log's commands (40h-49h)\n\n", kEntries);
    OnTheSimulator();
    AgainstIpmiSim();
    return 0;
}
