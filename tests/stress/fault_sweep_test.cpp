// Fault sweeps: an operation is run once cleanly to count its requests, then once per
// request position and kind of fault, with that one request failing. Every faulted run
// gives -1, leaves no descriptor open once its objects are gone, and the next run works.
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "IPMI/IPMIsupport.h"
#include "sim/Bmc.h"
#include "tests/stress/exports.h"
#include "tests/support/fixture.h"

namespace {

using namespace stress;
using FaultSweep = SampleServer;

enum class Fault { CompletionCode, FailedIoctl, ShortAnswer, Timeout };
const char* const kFaultNames[] = {"completion code", "failed ioctl", "short answer", "timeout"};

// Fails the n-th request (1-based) that the driver is asked to send from now on.
class OneFault {
public:
    OneFault(sim::Bmc& bmc, std::size_t n, Fault kind) : bmc_(bmc) {
        bmc.ioctl_fault = [this, n, kind] {
            ++sent_;
            if (sent_ != n) return 0;
            if (kind == Fault::FailedIoctl) return EIO;
            if (kind == Fault::Timeout) return ETIMEDOUT;
            return 0;
        };
        // An error completion code means the command was not carried out.
        bmc.intercept = [this, n, kind](const sim::BmcRequest&, sim::BmcResponse& r) {
            if (sent_ != n || kind != Fault::CompletionCode) return false;
            r.completion = sim::completion::kUnspecified;
            return true;
        };
        bmc.tamper = [this, n, kind](const sim::BmcRequest&, sim::BmcResponse& r) {
            if (sent_ == n && kind == Fault::ShortAnswer) r.data.resize(1);  // never all that was asked for
        };
    }
    ~OneFault() {
        bmc_.ioctl_fault = nullptr;
        bmc_.intercept = nullptr;
        bmc_.tamper = nullptr;
    }
    std::size_t sent() const { return sent_; }

private:
    sim::Bmc& bmc_;
    std::size_t sent_ = 0;
};

struct Request {
    std::uint8_t netfn, cmd;
    bool answered_with_data;
    // Sent again by the transport when it times out: all but taking the LAN parameters'
    // "set in progress" lock.
    bool repeatable;
};

// The requests of a clean run.
std::vector<Request> CleanRun(sim::Bmc& bmc, const std::function<int()>& operation) {
    std::vector<Request> requests;
    bmc.tamper = [&](const sim::BmcRequest& q, sim::BmcResponse& r) {
        const bool set_in_progress = q.netfn == 0x0C && q.cmd == 0x01 && q.data.size() >= 2 && q.data[1] == 0;
        requests.push_back({q.netfn, q.cmd, r.data.size() > 1, !set_in_progress});
    };
    const int result = operation();
    bmc.tamper = nullptr;
    EXPECT_EQ(result, 0) << "clean run";
    return requests;
}

std::string Hex(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

struct Command {
    std::uint8_t netfn, cmd;
};

struct Operation {
    const char* name;
    // Builds what it needs, runs, and lets it all go again: the facade objects it made are
    // destroyed and the library released before it returns.
    std::function<int()> run;
    // Requests whose failure the operation survives by design, answering 0: the per-sensor
    // status and threshold reads of the discovery, the FRU area reads (an area that fails
    // keeps what it had), a whole-record Get SDR (read again in pieces). Their faults must
    // still leave everything clean.
    std::vector<Command> tolerated = {};
};

bool Tolerated(const Operation& op, const Request& r) {
    for (const Command& c : op.tolerated)
        if (c.netfn == r.netfn && c.cmd == r.cmd) return true;
    return false;
}

const Command kGetSensorThresholds{0x04, 0x27}, kGetSensorReading{0x04, 0x2D}, kReadFruData{0x0A, 0x11};
// A whole-record Get SDR that fails is read again in pieces under a reservation, as small
// BMCs need: a single fault there is survived with the whole repository.
const Command kGetSdr{0x0A, 0x23};

// Runs the sweep and returns a line per position that misbehaved.
std::vector<std::string> Sweep(sim::Machine& machine, const Operation& op) {
    sim::Bmc& bmc = *machine.bmc;
    const std::vector<Request> requests = CleanRun(bmc, op.run);
    std::vector<std::string> problems;
    if (requests.empty()) problems.push_back(std::string(op.name) + " sent nothing");
    for (std::size_t n = 1; n <= requests.size(); ++n) {
        for (Fault kind : {Fault::CompletionCode, Fault::FailedIoctl, Fault::ShortAnswer, Fault::Timeout}) {
            // A request answered without data cannot be answered shorter.
            const Request& request = requests[n - 1];
            if (kind == Fault::ShortAnswer && !request.answered_with_data) continue;
            const std::string where = std::string(op.name) + ", request " + std::to_string(n) + " of " +
                                      std::to_string(requests.size()) + " (" + Hex(request.netfn) + " " +
                                      Hex(request.cmd) + "), " +
                                      kFaultNames[static_cast<int>(kind)] + ": ";
            int result = 0;
            {
                OneFault fault(bmc, n, kind);
                result = op.run();
            }
            // A timeout is retried once, and the retry is answered.
            const bool answer_ok = kind == Fault::Timeout && request.repeatable
                                       ? result == 0
                                       : result == -1 || (result == 0 && Tolerated(op, request));
            if (!answer_ok) problems.push_back(where + "returned " + std::to_string(result));
            if (!machine.still_open().empty()) problems.push_back(where + machine.still_open().front() + " left open");
            if (op.run() != 0) problems.push_back(where + "the next run failed");
        }
    }
    return problems;
}

// The operations, each from a library just loaded.
int Discovery() {
    IPMIsupport facade;
    return facade.GetSensorInfo();
}

int ThresholdWrite() {
    qtest::ResetLibrary();
    const int result = SetThresholdInfo(kWriteEntity, kWriteType, kUpperNonCritical, kWriteValue);
    release();
    return result;
}

int WatchdogSet() {
    qtest::ResetLibrary();
    const int result = SetWatchDogTimer(1, 60000);
    release();
    return result;
}

int FruRead() {
    IPMIsupport facade;
    return facade.GetFRUInfo();
}

int LanConfiguration() {
    IPMIsupport facade;
    ChannelInfo channel = {};
    if (facade.GetLANChannelInfo(&channel) != 0) return -1;
    LANParameter lp = {channel.channelNumber, {192, 168, 1, 20}, {0x00, 0x25, 0x90, 0x12, 0x34, 0x56}, {255, 255, 255, 0}};
    return facade.SetLANParameter(lp);
}

TEST_F(FaultSweep, Discovery) {
    const auto problems = Sweep(*machine, {"discovery", Discovery, {kGetSensorThresholds, kGetSensorReading, kGetSdr}});
    for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(FaultSweep, ThresholdWrite) {
    const auto problems = Sweep(*machine, {"threshold write", ThresholdWrite, {kGetSensorThresholds, kGetSensorReading, kGetSdr}});
    for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(FaultSweep, WatchdogSet) {
    const auto problems = Sweep(*machine, {"watchdog set", WatchdogSet});
    for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(FaultSweep, FruRead) {
    const auto problems = Sweep(*machine, {"FRU read", FruRead, {kReadFruData}});
    for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(FaultSweep, LanConfiguration) {
    const auto problems = Sweep(*machine, {"LAN configuration", LanConfiguration});
    for (const auto& p : problems) ADD_FAILURE() << p;
}

}  // namespace
