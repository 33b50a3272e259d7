// How many requests sensor discovery sends, beside ipmitool's `sdr list` on the same BMC.
//
//   sdr-requests-bench [SAMPLE_MACHINE_DIR]
//
// First the sample server's repository on the simulated BMC: as it is (whole records), and
// with whole records refused and answers cut at 36 bytes as ipmi_sim does. Then OpenIPMI's
// ipmi_sim on the loopback, with the sample server's own repository (its sdr.bin, records
// added as they are) and generated repositories of 59 and 217 full sensor records:
// the library reaches it through a capture's ipmi/forward and its requests are counted in
// the simulated BMC's log; ipmitool reaches it over its IPMI 1.5 LAN interface through a
// small UDP proxy here that counts the requests it forwards (session set-up left out).
// Needs ipmi_sim, sdrcomp and ipmitool; prints figures, checks nothing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "IPMI/IPMIsupport.h"
#include "process/state.h"
#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/loader.h"
#include "bench/ipmi_sim.h"
#include "tests/support/loopback.h"

namespace fs = std::filesystem;

namespace {

using qtest::FreePort;
constexpr std::uint8_t kStorage = 0x0A, kApp = 0x06, kGetSdr = 0x23, kReserve = 0x22;

struct Counts {
    std::size_t all = 0, getSdr = 0, reserve = 0;
};

void Print(const char* who, const char* where, const Counts& c) {
    std::printf("  %-9s %-44s %6zu requests, %5zu Get SDR, %3zu Reserve\n", who, where, c.all, c.getSdr, c.reserve);
}

// Discovery from a library just loaded, on `machine`; the requests its BMC logged.
Counts Discover(const std::shared_ptr<sim::Machine>& machine) {
    qarvel::ResetProcessState(qarvel::Reset::Everything);
    sim::use(machine);
    machine->bmc->clear_log();
    {
        IPMIsupport facade;
        if (facade.GetSensorInfo() != 0) std::printf("  (discovery failed)\n");
    }
    Counts c;
    c.all = machine->bmc->log().size();
    c.getSdr = machine->bmc->count(kStorage, kGetSdr);
    c.reserve = machine->bmc->count(kStorage, kReserve);
    qarvel::ResetProcessState(qarvel::Reset::Everything);
    sim::use(std::make_shared<sim::Machine>());
    return c;
}

std::string Hex(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
    return text;
}

// A repository of `n` full threshold sensors (temperatures, voltages and fans in turn, with
// names of 4 to 16 characters) in sdrcomp's source format, and the ipmi_sim commands that
// give them readings and thresholds.
void Repository(int n, std::string& sdrs, std::string& commands) {
    std::ostringstream s, c;
    static const char* const kTypes[3] = {"Temperature", "Voltage", "Fan"};
    static const char* const kUnits[3] = {"degrees_C", "Volts", "18"};
    for (int i = 1; i <= n; ++i) {
        const int kind = i % 3;
        std::string name = std::string(kTypes[kind]).substr(0, 3) + " " + std::to_string(i);
        name += std::string(static_cast<std::size_t>(i % 9), 'x');
        s << "sdr type 1\n\tsensor_owner_id 0x20\n\tsensor_owner_lun 0\n\tchannel_number 0\n"
          << "\tsensor_number " << i << "\n\tentity_id " << (kind == 2 ? 29 : 3) << "\n\tentity_instance " << (i % 8 + 1)
          << "\n\tsensor_type " << kTypes[kind] << "\n\tevent_reading_type_code 1\n\tanalog_data_format unsigned"
          << "\n\tbase_unit " << kUnits[kind] << "\n\tlinearization linear\n\tm 1\n\tb 0\n\tr_exp 0\n\tb_exp 0"
          << "\n\tsensor_maximum 255\n\tsensor_minimum 0\n\tunc_thrsh_readable true\n\tuc_thrsh_readable true"
          << "\n\tid_string \"" << name << "\"\nendsdr\n";
        const std::string sensor = "0x20 0 " + Hex(i);
        c << "sensor_add " << sensor << " " << Hex(kind + 1) << " 0x1\n"
          << "sensor_set_event_support " << sensor << " disable scanning none 000000000000000 000000000000000 "
          << "000000000000000 000000000000000\n"
          << "sensor_set_threshold " << sensor << " settable 011000 0 0x60 0x50 0 0 0\n"
          << "sensor_set_value " << sensor << " 0x30 0\n";
    }
    sdrs = s.str();
    commands = c.str();
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

// The ipmi_sim commands that add the records of a repository file (sdr.bin: records one
// after the other, each its 5-byte header and the length byte 4 gives) as they are, and give
// each sensor of a full or compact record a reading; the number of records added.
int RepositoryFromFile(const fs::path& file, std::string& commands) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ostringstream c;
    int records = 0;
    for (std::size_t at = 0; at + 5 <= bytes.size();) {
        const std::size_t end = at + 5 + static_cast<unsigned char>(bytes[at + 4]);
        if (end > bytes.size()) break;
        c << "main_sdr_add 0x20";
        for (std::size_t i = at; i < end; ++i) c << " " << Hex(static_cast<unsigned char>(bytes[i]));
        c << "\n";
        const unsigned char kind = static_cast<unsigned char>(bytes[at + 3]);
        if ((kind == 1 || kind == 2) && end - at >= 14) {
            const std::string sensor = "0x20 0 " + Hex(static_cast<unsigned char>(bytes[at + 7]));
            c << "sensor_add " << sensor << " " << Hex(static_cast<unsigned char>(bytes[at + 12])) << " "
              << Hex(static_cast<unsigned char>(bytes[at + 13])) << "\n"
              << "sensor_set_value " << sensor << " 0x30 0\n";
        }
        ++records;
        at = end;
    }
    commands = c.str();
    return records;
}

// ipmi_sim with a repository: generated, of `n` records (compiled by sdrcomp into the
// persistent repository), or when `sdrFile` is given, that file's records added as they are.
// Our discovery through the forward, ipmitool's `sdr list` through the counting proxy.
void AgainstIpmiSim(int n, const fs::path& sdrFile = {}) {
    char pattern[] = "/tmp/qarvel-sdr-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    const fs::path dir = pattern;
    const int lan = FreePort(SOCK_DGRAM), vm = FreePort(SOCK_STREAM), front = FreePort(SOCK_DGRAM);
    std::string sdrs, commands;
    fs::create_directories(dir / "state/ipmi_sim/bench");
    std::string mc = "mc_add 0x20 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02 persist_sdr\n";
    if (!sdrFile.empty()) {
        n = RepositoryFromFile(sdrFile, commands);
        mc = "mc_add 0x20 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02\n";
    } else {
        Repository(n, sdrs, commands);
        std::ofstream(dir / "bmc.sdrs") << sdrs;
        if (Shell("sdrcomp -8 -o " + (dir / "state/ipmi_sim/bench/sdr.20.main").string() + " " +
                  (dir / "bmc.sdrs").string() + " >/dev/null 2>&1") != 0) {
            std::printf("  sdrcomp failed on %d records\n", n);
            fs::remove_all(dir);
            return;
        }
    }
    std::ofstream(dir / "bmc.emu") << "mc_setbmc 0x20\n" << mc << commands << "mc_enable 0x20\n";
    const pid_t pid = bench::StartIpmiSim(dir, lan, vm);
    const std::string ipmitool = bench::kIpmitool;
    if (pid > 0) {
        std::string error;
        std::shared_ptr<sim::Machine> machine = sim::load_machine((dir / "capture").string(), error);
        char where[96];
        std::snprintf(where, sizeof where, sdrFile.empty() ? "ipmi_sim, %d full records, 36-byte answers"
                                                           : "ipmi_sim, sample server's %d records, 36-byte", n);
        if (machine && machine->bmc) Print("library", where, Discover(machine));
        else std::printf("  cannot load the forward: %s\n", error.c_str());
        Counts theirs;
        {
            bench::CountingProxy proxy(front, lan, {kStorage, kGetSdr}, {kStorage, kReserve});
            Shell(ipmitool + std::to_string(front) + " sdr list >/dev/null 2>&1");
            const bench::Counts counted = proxy.Requests();
            theirs = {counted.all, counted.first, counted.second};
        }
        Print("ipmitool", where, theirs);
    } else {
        std::printf("  ipmi_sim did not start\n");
    }
    if (pid > 0) bench::StopIpmiSim(pid);
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string sample = argc > 1 ? argv[1] : QARVEL_SAMPLE_MACHINE;
    std::printf("Discovery requests (library: facade discovery, the repository and each sensor's thresholds\n"
                "and state; ipmitool: `sdr list`, each sensor's reading, session set-up left out)\n\n");
    std::string error;
    for (int pieces = 0; pieces < 2; ++pieces) {
        std::shared_ptr<sim::Machine> machine = sim::load_machine(sample, error);
        if (!machine || !machine->bmc) {
            std::printf("  cannot load %s: %s\n", sample.c_str(), error.c_str());
            break;
        }
        if (pieces) {
            machine->bmc->refuse_whole_records = true;
            machine->bmc->answer_limit = 35;
        }
        char where[96];
        std::snprintf(where, sizeof where, "sample server, %zu records, %s", machine->bmc->records().size(),
                      pieces ? "36-byte answers" : "whole records");
        Print("library", where, Discover(machine));
    }
    std::printf("\n");
    AgainstIpmiSim(0, fs::path(sample) / "ipmi/sdr.bin");
    for (int n : {59, 217}) AgainstIpmiSim(n);
    return 0;
}
