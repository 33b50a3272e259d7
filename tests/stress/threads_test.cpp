// The library called from several threads at once: calls of different families that share
// the IPMI facade, release beside running calls, the first calls of a process arriving
// together, and eight threads calling every export.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "api/exports.h"
#include "process/state.h"
#include "sim/Bmc.h"
#include "tests/stress/exports.h"
#include "tests/support/fixture.h"

namespace {

using namespace stress;
using Threads = SampleServer;

// Runs each body on its own thread, all released at the same moment.
void Together(const std::vector<std::function<void()>>& bodies) {
    std::atomic<int> ready{0};
    const int n = static_cast<int>(bodies.size());
    std::vector<std::thread> threads;
    for (const auto& body : bodies) {
        threads.emplace_back([&ready, n, &body] {
            ++ready;
            while (ready.load() < n) std::this_thread::yield();
            body();
        });
    }
    for (auto& t : threads) t.join();
}

template <typename Record>
bool Same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof(Record)) == 0;
}

// The voltage record as one call alone gives it: every later answer must be this one.
VoltageInformation Voltages() {
    VoltageInformation record = {};
    EXPECT_EQ(GetIpmiInfo(INFO_VOLTAGE, &record), 0);
    return record;
}

SensorThresholdInformation AllThresholds() {
    SensorThresholdInformation record = {};
    EXPECT_EQ(GetAllThresholdInfo(&record), 0);
    return record;
}

// Reads the voltages `calls` times; counts answers other than 0 with the reference record
// (1, busy, is allowed only when `busy_allowed`).
struct VoltageReader {
    const VoltageInformation& reference;
    int calls;
    bool busy_allowed = false;
    std::atomic<int> wrong{0}, torn{0};
    void operator()() {
        for (int i = 0; i < calls; ++i) {
            VoltageInformation record = {};
            const int result = GetIpmiInfo(INFO_VOLTAGE, &record);
            if (result == 1 && busy_allowed) continue;
            if (result != 0)
                ++wrong;
            else if (!Same(record, reference))
                ++torn;
        }
    }
};

constexpr int kRounds = 200;

// A BMC that takes a little while over each answer, as a real one does: two calls that
// shared the facade's request and response buffers would overlap inside it.
void AnswerSlowly(sim::Bmc& bmc) {
    bmc.tamper = [](const sim::BmcRequest&, sim::BmcResponse&) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    };
}

TEST_F(Threads, SensorReadsBesideEveryThresholdRead) {
    AnswerSlowly(*machine->bmc);
    const VoltageInformation voltages = Voltages();
    const SensorThresholdInformation thresholds = AllThresholds();
    ASSERT_GT(thresholds.quantity, 0);
    VoltageReader reader{voltages, kRounds};
    std::atomic<int> wrong{0}, torn{0};
    Together({std::ref(reader), [&] {
                  for (int i = 0; i < kRounds; ++i) {
                      SensorThresholdInformation record = {};
                      if (GetAllThresholdInfo(&record) != 0)
                          ++wrong;
                      else if (!Same(record, thresholds))
                          ++torn;
                  }
              }});
    EXPECT_EQ(reader.wrong + wrong, 0);
    EXPECT_EQ(reader.torn + torn, 0);
}

TEST_F(Threads, SensorReadsBesideThresholdWrites) {
    AnswerSlowly(*machine->bmc);
    // Once alone first: the value written is the one the BMC holds, so nothing changes.
    const int alone = SetThresholdInfo(kWriteEntity, kWriteType, kUpperNonCritical, kWriteValue);
    ASSERT_EQ(alone, 0);
    const VoltageInformation voltages = Voltages();
    VoltageReader reader{voltages, kRounds};
    std::atomic<int> wrong{0};
    Together({std::ref(reader), [&] {
                  for (int i = 0; i < kRounds; ++i)
                      if (SetThresholdInfo(kWriteEntity, kWriteType, kUpperNonCritical, kWriteValue) != 0)
                          ++wrong;
              }});
    EXPECT_EQ(reader.wrong + wrong, 0);
    EXPECT_EQ(reader.torn, 0);
}

TEST_F(Threads, SensorReadsBesideRelease) {
    AnswerSlowly(*machine->bmc);
    const VoltageInformation voltages = Voltages();
    VoltageReader reader{voltages, kRounds};
    std::atomic<int> refused{0};
    Together({std::ref(reader), [&] {
                  for (int i = 0; i < kRounds; ++i) refused += release() != 0;
              }});
    EXPECT_EQ(reader.wrong, 0);
    EXPECT_EQ(reader.torn, 0);
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(release(), 0);
    EXPECT_TRUE(machine->still_open().empty());
}

// The first IPMI calls of a process, arriving together, build one facade; afterwards the
// sensors answer, alone or not.
TEST_F(Threads, FirstCallsArrivingTogetherBuildOneFacade) {
    for (int round = 0; round < 20; ++round) {
        qtest::ResetLibrary();
        const std::size_t opened = machine->count(sim::Access::Open, "/dev/ipmi");
        int sensors = 99, watchdog = 99;
        Together({[&] {
                      VoltageInformation record = {};
                      sensors = GetIpmiInfo(INFO_VOLTAGE, &record);
                  },
                  [&] {
                      unsigned char action = 0;
                      int initial = 0, present = 0;
                      watchdog = GetWatchDogTimer(&action, &initial, &present);
                  }});
        // Either ran first, or one found the other's flag: never a failure.
        EXPECT_TRUE(sensors == 0 || sensors == 1) << "round " << round << ": " << sensors;
        EXPECT_TRUE(watchdog == 0 || watchdog == 1) << "round " << round << ": " << watchdog;
        EXPECT_EQ(machine->count(sim::Access::Open, "/dev/ipmi") - opened, 1u) << "round " << round;
        VoltageInformation record = {};
        ASSERT_EQ(GetIpmiInfo(INFO_VOLTAGE, &record), 0) << "round " << round;
        EXPECT_EQ(machine->still_open().size(), 1u) << "round " << round;
    }
}

// Holds the BMC inside one request until let go.
class Gate {
public:
    // Blocks the next request that reaches the BMC, once.
    void Install(sim::Bmc& bmc) {
        bmc.tamper = [this](const sim::BmcRequest&, sim::BmcResponse&) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (used_) return;
            used_ = true;
            inside_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        };
    }
    bool WaitUntilInside() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return inside_; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool used_ = false, inside_ = false, open_ = false;
};

// A call of another family waits for the facade rather than answering busy; a call of the
// same family answers busy at once; release waits for the running call.
TEST_F(Threads, OtherFamiliesWaitSameFamilyIsBusyReleaseWaits) {
    ASSERT_EQ(IsIpmiSupport(), 1);
    struct Case {
        const char* name;
        std::function<int()> running;  // held inside its first request
        std::function<int()> arriving;
        int answer_while_held;  // -2: must still be waiting when the held call is let go
    };
    const Case cases[] = {
        {"StopWatchDogTimer beside GetAllThresholdInfo",
         [] {
             SensorThresholdInformation r = {};
             return GetAllThresholdInfo(&r);
         },
         [] { return StopWatchDogTimer(); }, -2},
        {"GetIpmiInfo beside GetThresholdInfo",
         [] {
             SensorThresholdInformation r = {};
             return GetThresholdInfo(kFanEntity, kFanType, &r);
         },
         [] {
             FanInformation r = {};
             return GetIpmiInfo(INFO_FAN, &r);
         },
         -2},
        {"StopWatchDogTimer beside GetIpmiInfo",
         [] {
             FanInformation r = {};
             return GetIpmiInfo(INFO_FAN, &r);
         },
         [] { return StopWatchDogTimer(); }, 1},
        {"release beside GetIpmiInfo",
         [] {
             FanInformation r = {};
             return GetIpmiInfo(INFO_FAN, &r);
         },
         [] { return release(); }, -2},
    };
    for (const Case& c : cases) {
        auto bmc = machine->bmc;
        Gate gate;
        gate.Install(*bmc);
        int running = 99;
        std::atomic<int> arriving{99};
        std::thread holder([&] { running = c.running(); });
        if (!gate.WaitUntilInside()) {
            ADD_FAILURE() << c.name << ": the running call sent nothing";
            gate.Open();
            holder.join();
            continue;
        }
        std::thread second([&] { arriving = c.arriving(); });
        if (c.answer_while_held != -2) {
            second.join();
            EXPECT_EQ(arriving.load(), c.answer_while_held) << c.name;
        } else {
            // However long it is given, it cannot have finished while the facade is held.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(arriving.load(), 99) << c.name;
        }
        gate.Open();
        holder.join();
        if (second.joinable()) second.join();
        bmc->tamper = nullptr;
        EXPECT_EQ(running, 0) << c.name;
        if (c.answer_while_held == -2) {
            EXPECT_EQ(arriving.load(), 0) << c.name;
        }
    }
}

// Release from inside a running call (a hook of the simulated BMC calling back on the same
// thread) must not free what that call is using.
TEST_F(Threads, ReleaseFromInsideACallIsRefused) {
    ASSERT_EQ(IsIpmiSupport(), 1);
    int inner = 99;
    machine->bmc->tamper = [&inner](const sim::BmcRequest&, sim::BmcResponse&) {
        if (inner == 99) inner = release();
    };
    FanInformation fans = {};
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans), 0);
    machine->bmc->tamper = nullptr;
    EXPECT_EQ(inner, -1);
    EXPECT_EQ(fans.quantity, 5);
    EXPECT_EQ(release(), 0);
}

// Eight threads call every export, release included, each a bounded number of times. Every
// answer is one a healthy machine gives; afterwards every export works alone.
TEST_F(Threads, EightThreadsCallEveryExport) {
    const std::vector<Export> exports = AllExports();
    const int kThreads = 8;
#ifdef QARVEL_THREAD_SANITIZER
    const int kCallsPerThread = 60;
#else
    const int kCallsPerThread = 150;
#endif
    std::vector<std::function<void()>> bodies;
    std::mutex failures_mutex;
    std::vector<std::string> failures;
    for (int t = 0; t < kThreads; ++t) {
        bodies.push_back([&, t] {
            for (int i = 0; i < kCallsPerThread; ++i) {
                const Export& e = exports[(static_cast<std::size_t>(t) * 5 + i) % exports.size()];
                const int result = e.call();
                if (result == 0 || (result == 1 && e.may_be_busy)) continue;
                std::lock_guard<std::mutex> lock(failures_mutex);
                failures.push_back(e.name + " = " + std::to_string(result));
            }
        });
    }
    Together(bodies);
    EXPECT_TRUE(failures.empty()) << failures.size() << " unexpected answers, the first: " << failures.front();
    const auto& busy = qarvel::State().busy;
    EXPECT_EQ(busy.NoEntersmBIOS + busy.NoEnterIPMI + busy.NoEnterWatchDogTimer + busy.NoEnterGetThreshold + busy.NoEnterSetThreshold, 0);
    for (const Export& e : exports) EXPECT_EQ(e.call(), 0) << e.name << " alone, after the hammer";
    EXPECT_TRUE(machine->still_open().empty());
}

}  // namespace
