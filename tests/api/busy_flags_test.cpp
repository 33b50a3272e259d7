// The busy flags of the IPMI exports: which export answers 1 while which flag is held, calls
// made from inside a running export (through the simulated BMC), threads arriving together,
// and the flags after failures.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/exports.h"
#include "process/state.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using BusyFlags = BmcTest;

constexpr std::uint8_t kSetWatchdog = 0x24, kGetWatchdog = 0x25;

// Every IPMI export with a busy flag, and the one without, called with good arguments.
struct Export {
    const char* name;
    std::function<int()> call;
};

std::vector<Export> Exports() {
    static FanInformation fans;
    static SensorThresholdInformation thresholds;
    static unsigned char action, major, minor;
    static int initial, present;
    return {
        {"GetIpmiInfo", [] { return GetIpmiInfo(INFO_FAN, &fans); }},
        {"SetWatchDogTimer", [] { return SetWatchDogTimer(1, 60000); }},
        {"ResetWatchDogTimer", [] { return ResetWatchDogTimer(); }},
        {"StopWatchDogTimer", [] { return StopWatchDogTimer(); }},
        {"GetWatchDogTimer", [] { return GetWatchDogTimer(&action, &initial, &present); }},
        {"GetBMCVersion", [] { return GetBMCVersion(&major, &minor); }},
        {"GetThresholdInfo", [] { return GetThresholdInfo(29, 4, &thresholds); }},
        {"SetThresholdInfo", [] { return SetThresholdInfo(29, 4, 0, 300.0); }},
        {"GetAllThresholdInfo", [] { return GetAllThresholdInfo(&thresholds); }},
    };
}

class BusyMatrix : public BusyFlags {
protected:
    void SetUp() override {
        BusyFlags::SetUp();
        sim::FullSensor fan = Fan(0x30, "FAN1");
        fan.m = 100;
        fan.readable = fan.settable = 0x07;
        fan.lnr = 2, fan.lc = 4, fan.lnc = 6;
        AddSensor(fan, 50);
        ASSERT_EQ(IsIpmiSupport(), 1);
        ASSERT_EQ(SetWatchDogTimer(1, 60000), 0);  // loaded, so a reset is accepted
    }
};

// Each flag held alone: the exports of its family answer 1 and send nothing; every other
// export runs.
TEST_F(BusyMatrix, EachFlagBlocksItsFamilyOnly) {
    struct Row {
        std::atomic<int>* flag;
        const char* name;
        std::vector<std::string> blocked;
    };
    const Row rows[] = {
        {&qarvel::State().busy.NoEnterIPMI,
         "NoEnterIPMI",
         {"GetIpmiInfo", "SetWatchDogTimer", "ResetWatchDogTimer", "StopWatchDogTimer", "GetWatchDogTimer",
          "GetBMCVersion"}},
        {&qarvel::State().busy.NoEnterWatchDogTimer, "NoEnterWatchDogTimer", {"GetIpmiInfo"}},
        {&qarvel::State().busy.NoEnterGetThreshold, "NoEnterGetThreshold", {"GetThresholdInfo"}},
        {&qarvel::State().busy.NoEnterSetThreshold, "NoEnterSetThreshold", {"SetThresholdInfo"}},
    };
    for (const Row& row : rows) {
        for (const Export& e : Exports()) {
            const bool blocked = std::find(row.blocked.begin(), row.blocked.end(), e.name) != row.blocked.end();
            *row.flag = 1;
            bmc->clear_log();
            const int result = e.call();
            if (blocked) {
                EXPECT_EQ(result, 1) << e.name << " while " << row.name << " is held";
                EXPECT_TRUE(bmc->log().empty()) << e.name << " while " << row.name << " is held";
            } else {
                EXPECT_EQ(result, 0) << e.name << " while " << row.name << " is held";
            }
            // A watchdog set or read raises NoEnterWatchDogTimer itself and lowers it after.
            const std::string name = e.name;
            const bool raises_it = row.flag == &qarvel::State().busy.NoEnterWatchDogTimer &&
                                   (name == "SetWatchDogTimer" || name == "GetWatchDogTimer");
            if (!raises_it) {
                EXPECT_EQ(*row.flag, 1) << e.name << " took " << row.name << " from its holder";
            }
            *row.flag = 0;
            const auto& busy = qarvel::State().busy;
            EXPECT_EQ(busy.NoEnterIPMI + busy.NoEnterWatchDogTimer + busy.NoEnterGetThreshold + busy.NoEnterSetThreshold, 0) << e.name;
        }
    }
}

// Calls made from inside an export, while the BMC answers its request: only its own family
// is refused. (The inner calls that do run use another object's request record than the
// outer request.)
TEST_F(BusyMatrix, CallsFromInsideARunningExport) {
    struct Inside {
        std::uint8_t netfn, cmd;  // the outer export's request during which the calls are made
        std::function<int()> outer;
        std::vector<std::pair<std::string, int>> expected;  // inner call and its answer
    };
    unsigned char action = 0;
    int initial = 0, present = 0;
    FanInformation fans;
    SensorThresholdInformation thresholds;
    const Inside cases[] = {
        {kAppNetFn, kSetWatchdog, [] { return SetWatchDogTimer(1, 60000); },
         {{"GetIpmiInfo", 1}, {"SetWatchDogTimer", 1}, {"ResetWatchDogTimer", 1}, {"StopWatchDogTimer", 1},
          {"GetWatchDogTimer", 1}, {"GetBMCVersion", 1}, {"GetThresholdInfo", 0}, {"GetAllThresholdInfo", 0}}},
        {kAppNetFn, kGetWatchdog, [&] { return GetWatchDogTimer(&action, &initial, &present); },
         {{"GetIpmiInfo", 1}, {"StopWatchDogTimer", 1}, {"SetThresholdInfo", 0}}},
        {kAppNetFn, kSetWatchdog, [] { return StopWatchDogTimer(); },
         {{"GetIpmiInfo", 1}, {"GetWatchDogTimer", 1}, {"GetThresholdInfo", 0}}},
        {kSensorNetFn, kGetSensorReading, [&] { return GetIpmiInfo(INFO_FAN, &fans); },
         {{"GetIpmiInfo", 1}, {"SetWatchDogTimer", 1}, {"ResetWatchDogTimer", 1}, {"StopWatchDogTimer", 1},
          {"GetWatchDogTimer", 1}, {"GetBMCVersion", 1}}},
        {kStorageNetFn, kGetSdrRepositoryInfo, [&] { return GetThresholdInfo(29, 4, &thresholds); },
         {{"GetThresholdInfo", 1}, {"StopWatchDogTimer", 0}, {"SetWatchDogTimer", 0}}},
        {kSensorNetFn, kSetSensorThresholds, [] { return SetThresholdInfo(29, 4, 0, 300.0); },
         {{"SetThresholdInfo", 1}, {"StopWatchDogTimer", 0}}},
    };
    const std::vector<Export> exports = Exports();
    for (const Inside& c : cases) {
        std::vector<std::pair<std::string, int>> seen;
        bool inside = false;
        bmc->intercept = [&](const sim::BmcRequest& q, sim::BmcResponse&) {
            if (inside || q.netfn != c.netfn || q.cmd != c.cmd || !seen.empty()) return false;
            inside = true;
            for (const auto& [name, answer] : c.expected)
                for (const Export& e : exports)
                    if (name == e.name) seen.push_back({name, e.call()});
            inside = false;
            return false;  // the BMC answers the outer request as usual
        };
        EXPECT_EQ(c.outer(), 0);
        bmc->intercept = nullptr;
        EXPECT_EQ(seen, c.expected);
        const auto& busy = qarvel::State().busy;
        EXPECT_EQ(busy.NoEnterIPMI + busy.NoEnterWatchDogTimer + busy.NoEnterGetThreshold + busy.NoEnterSetThreshold, 0);
    }
}

// The flag is tested and taken in one step: of threads arriving together, one works at a
// time and the others are told busy.
TEST_F(BusyMatrix, ThreadsArrivingTogetherNeverRunTogether) {
    std::atomic<int> inside{0}, most_inside{0};
    bmc->intercept = [&](const sim::BmcRequest&, sim::BmcResponse&) {
        int now = ++inside;
        int seen = most_inside.load();
        while (now > seen && !most_inside.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        --inside;
        return false;
    };
    bmc->clear_log();
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<int> results(kThreads, 99);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            results[i] = StopWatchDogTimer();
        });
    }
    for (auto& t : threads) t.join();
    bmc->intercept = nullptr;
    EXPECT_EQ(most_inside.load(), 1);
    int stopped = 0;
    for (int r : results) {
        EXPECT_TRUE(r == 0 || r == 1) << r;
        stopped += r == 0;
    }
    EXPECT_GE(stopped, 1);
    EXPECT_EQ(bmc->log().size(), static_cast<std::size_t>(stopped));
    EXPECT_EQ(qarvel::State().busy.NoEnterIPMI, 0);
}

// After a failure of any kind, the next call of the same export runs normally.
TEST_F(BusyMatrix, EveryExportRunsNormallyAfterAFailure) {
    for (const Export& e : Exports()) {
        // The export's first request fails: GetIpmiInfo's discovery, the threshold exports'
        // repository information, the watchdog and version requests.
        bool armed = true;
        bmc->intercept = [&armed](const sim::BmcRequest&, sim::BmcResponse& r) {
            if (!armed) return false;
            armed = false;
            r.completion = sim::completion::kUnspecified;
            return true;
        };
        EXPECT_EQ(e.call(), -1) << e.name;
        EXPECT_FALSE(armed) << e.name << " sent nothing";
        const auto& busy = qarvel::State().busy;
        EXPECT_EQ(busy.NoEnterIPMI + busy.NoEnterWatchDogTimer + busy.NoEnterGetThreshold + busy.NoEnterSetThreshold, 0) << e.name;
        EXPECT_EQ(e.call(), 0) << e.name;
    }
    bmc->intercept = nullptr;
}

// At unload, which is at exit too, the state gives back what it keeps on the heap, but never
// from under a call: a part whose lock another thread holds (a call still running) stays.
TEST(ProcessState, UnloadGivesBackOnlyWhatNoCallIsUsing) {
    qarvel::ProcessState& s = qarvel::State();
    s.readingFactors[7] = SensorFormulaParameter{};
    std::promise<void> holding, done;
    std::future<void> finish = done.get_future();
    std::thread call([&] {
        std::lock_guard<std::recursive_mutex> lock(s.ipmiLock);
        holding.set_value();
        finish.wait();
    });
    holding.get_future().wait();
    EXPECT_EQ(qarvel::GiveBackUnlessBusy(), 1);
    EXPECT_EQ(s.readingFactors.size(), 1u);
    done.set_value();
    call.join();
    EXPECT_EQ(qarvel::GiveBackUnlessBusy(), 0);
    EXPECT_TRUE(s.readingFactors.empty());
}

}  // namespace
