// Processor and memory usage.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "api/exports.h"
#include "process/state.h"
#include "sim/SmbiosStructures.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using Usage = qtest::MachineTest;

constexpr std::uint64_t kSecond = 1000000;

// A /proc/stat of the given processor lines, "user nice system idle" each.
std::string Stat(std::initializer_list<const char*> cpus) {
    std::string text = "cpu  1 2 3 4 0 0 0 0 0 0\n";
    int i = 0;
    for (const char* times : cpus) text += "cpu" + std::to_string(i++) + " " + times + " 0 0 0 0 0 0\n";
    return text + "intr 12345 0 0\nctxt 999\nbtime 1700000000\n";
}

CpuUsageRageInformation Dirty() {
    CpuUsageRageInformation record;
    std::memset(&record, 0x7B, sizeof record);
    return record;
}

TEST_F(Usage, TwoProcessorsOverOneSecond) {
    machine->files.add_snapshot("/proc/stat", 0, Stat({"1000 0 500 8000", "200 10 40 9000"}));
    // One second later: processor 0 was idle 25 ticks of 100, processor 1 99 of 100.
    machine->files.add_snapshot("/proc/stat", kSecond, Stat({"1060 5 510 8025", "201 10 40 9099"}));
    CpuUsageRageInformation record = Dirty();
    ASSERT_EQ(GetCpuUsageRate(1, &record), 0);
    EXPECT_EQ(record.quantity, 2);
    EXPECT_EQ(record.UsageRate[0], 75);
    EXPECT_EQ(record.UsageRate[1], 1);
    for (int i = 2; i < 8; ++i) EXPECT_EQ(record.UsageRate[i], 0);
    ASSERT_EQ(machine->clock.sleeps_us.size(), 1u);
    EXPECT_EQ(machine->clock.sleeps_us[0], kSecond);
    EXPECT_EQ(ExecuteFirstTime, 1);
}

TEST_F(Usage, RatesTruncateAndIdleProcessorsReportZero) {
    // 2 of 3 ticks idle: 100 - 66 = 34. A processor whose counters stood still reads 0
    // rather than dividing by zero, and so does a second call that sees no new snapshot.
    machine->files.add_snapshot("/proc/stat", 0, Stat({"0 0 0 0", "5 5 5 5"}));
    machine->files.add_snapshot("/proc/stat", kSecond, Stat({"1 0 0 2", "5 5 5 5"}));
    CpuUsageRageInformation record = Dirty();
    ASSERT_EQ(GetCpuUsageRate(1, &record), 0);
    EXPECT_EQ(record.UsageRate[0], 34);
    EXPECT_EQ(record.UsageRate[1], 0);
    record = Dirty();
    ASSERT_EQ(GetCpuUsageRate(0, &record), 0);
    EXPECT_EQ(record.quantity, 2);
    EXPECT_EQ(record.UsageRate[0], 0);
    EXPECT_EQ(record.UsageRate[1], 0);
}

TEST_F(Usage, CountersThatWrapOrRunBackwardsStayInRange) {
    std::string max = std::to_string(ULONG_MAX - 9);
    machine->files.add_snapshot("/proc/stat", 0, Stat({("0 0 0 " + max).c_str(), "100 0 0 100"}));
    // Idle wrapped round after 10 more ticks; processor 1's user time went backwards.
    machine->files.add_snapshot("/proc/stat", kSecond, Stat({"30 0 0 0", "50 0 0 110"}));
    CpuUsageRageInformation record = Dirty();
    ASSERT_EQ(GetCpuUsageRate(1, &record), 0);
    EXPECT_EQ(record.UsageRate[0], 75);  // 10 idle of 40
    EXPECT_EQ(record.UsageRate[1], 0);
}

// Counters that advanced by as much as a long holds: the sums and the idle share must not
// overflow (the sanitizer build would stop on it), and the rates stay exact where they can.
TEST_F(Usage, HugeCountersDoNotOverflow) {
    const std::string big = std::to_string(LONG_MAX);
    const std::string all = big + " " + big + " " + big + " " + big;
    const std::string half_idle = big + " 0 0 " + big;
    const std::string busy = big + " " + big + " " + big + " 0";
    machine->files.add_snapshot("/proc/stat", 0, Stat({"0 0 0 0", "0 0 0 0", "0 0 0 0", "0 0 0 0"}));
    machine->files.add_snapshot("/proc/stat", kSecond,
                                Stat({all.c_str(), half_idle.c_str(), busy.c_str(), ("0 0 0 " + big).c_str()}));
    CpuUsageRageInformation record = Dirty();
    ASSERT_EQ(GetCpuUsageRate(1, &record), 0);
    EXPECT_EQ(record.quantity, 4);
    EXPECT_EQ(record.UsageRate[0], 75);
    EXPECT_EQ(record.UsageRate[1], 50);
    EXPECT_EQ(record.UsageRate[2], 100);
    EXPECT_EQ(record.UsageRate[3], 0);
}

TEST_F(Usage, AKernelWithoutProcessorLinesHasNoProcessors) {
    machine->files.add("/proc/stat", "cpu  100 0 50 1000 0 0 0 0 0 0\nintr 1 2 3\n");
    for (int call = 0; call < 2; ++call) {
        CpuUsageRageInformation record = Dirty();
        EXPECT_EQ(GetCpuUsageRate(1, &record), 0);
        EXPECT_EQ(record.quantity, 0);
        for (int rate : record.UsageRate) EXPECT_EQ(rate, 0);
    }
}

TEST_F(Usage, ProcessorsAreCountedOncePerProcess) {
    machine->files.add("/proc/stat", Stat({"1 1 1 1", "1 1 1 1"}));
    CpuUsageRageInformation record = Dirty();
    ASSERT_EQ(GetCpuUsageRate(0, &record), 0);
    EXPECT_EQ(record.quantity, 2);
    // A processor more, and a release in between: still two.
    machine->files.add("/proc/stat", Stat({"1 1 1 1", "1 1 1 1", "1 1 1 1"}));
    release();
    ASSERT_EQ(GetCpuUsageRate(0, &record), 0);
    EXPECT_EQ(record.quantity, 2);
    // A counted processor that disappears fails the call, with the record cleared.
    machine->files.add("/proc/stat", Stat({"1 1 1 1"}));
    record = Dirty();
    EXPECT_EQ(GetCpuUsageRate(0, &record), -1);
    EXPECT_EQ(record.quantity, 0);
    for (int rate : record.UsageRate) EXPECT_EQ(rate, 0);
}

TEST_F(Usage, NineProcessorsAreMeasuredAsEight) {
    machine->files.add("/proc/stat", Stat({"1 0 0 1", "1 0 0 1", "1 0 0 1", "1 0 0 1", "1 0 0 1", "1 0 0 1",
                                           "1 0 0 1", "1 0 0 1", "1 0 0 1"}));
    struct {
        CpuUsageRageInformation record;
        int after[8];
    } guarded;
    std::memset(guarded.after, 0x55, sizeof guarded.after);
    ASSERT_EQ(GetCpuUsageRate(0, &guarded.record), 0);
    EXPECT_EQ(guarded.record.quantity, 8);
    for (int x : guarded.after) EXPECT_EQ(x, 0x55555555);
}

TEST_F(Usage, WithoutProcStatNothingIsCounted) {
    testing::internal::CaptureStdout();
    CpuUsageRageInformation record = Dirty();
    EXPECT_EQ(GetCpuUsageRate(1, &record), 0);
    EXPECT_EQ(record.quantity, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File open failed!\n");
    // Once counted, a /proc/stat that cannot be opened fails the call.
    qtest::ResetLibrary();
    machine->files.add("/proc/stat", Stat({"1 1 1 1"}));
    ASSERT_EQ(GetCpuUsageRate(0, &record), 0);
    machine->files.deny("/proc/stat");
    testing::internal::CaptureStdout();
    EXPECT_EQ(GetCpuUsageRate(0, &record), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File open failed!\n");
}

TEST_F(Usage, BadArgumentsAreRefusedBeforeAnyWait) {
    machine->files.add("/proc/stat", Stat({"1 1 1 1"}));
    CpuUsageRageInformation record = Dirty();
    EXPECT_EQ(GetCpuUsageRate(-1, &record), -1);
    EXPECT_EQ(record.quantity, 0);
    EXPECT_EQ(GetCpuUsageRate(INT_MIN, &record), -1);
    EXPECT_EQ(GetCpuUsageRate(1, nullptr), -1);
    EXPECT_TRUE(machine->clock.sleeps_us.empty());
    EXPECT_EQ(machine->count(sim::Access::Open, "/proc/stat"), 0u);
    EXPECT_EQ(RetrieveCpuTime(8), -1);
    EXPECT_EQ(RetrieveCpuTime(-1), -1);
}

TEST_F(Usage, OnlyTheFirstReadingPrimes) {
    machine->files.add("/proc/stat", Stat({"10 0 0 10", "20 0 0 20"}));
    EXPECT_EQ(RetrieveCpuTime(0), 0);
    EXPECT_EQ(ExecuteFirstTime, 1);
    EXPECT_EQ(qarvel::State().UserTime[0], 0);
    machine->files.add("/proc/stat", Stat({"15 1 2 13", "20 0 0 20"}));
    EXPECT_EQ(RetrieveCpuTime(0), 0);
    EXPECT_EQ(qarvel::State().UserTime[0], 5);
    EXPECT_EQ(qarvel::State().NiceTime[0], 1);
    EXPECT_EQ(qarvel::State().SysTime[0], 2);
    EXPECT_EQ(qarvel::State().IdleTime[0], 3);
    // Positions 4i .. 4i+3 of the one run of 32 times.
    EXPECT_EQ(qarvel::State().cp_old[0][0], 15);
    EXPECT_EQ(qarvel::State().cp_old[0][3], 13);
    EXPECT_EQ(RetrieveCpuTime(1), 0);
    EXPECT_EQ(qarvel::State().cp_old[0][4], 20);
    EXPECT_EQ(qarvel::State().cp_time[0][7], 20);
    // A line with a single counter is not a reading.
    machine->files.add("/proc/stat", "cpu0 7\n");
    EXPECT_EQ(RetrieveCpuTime(0), -1);
}

TEST_F(Usage, ProcessorCountFromTheSmbiosTable) {
    EXPECT_EQ(GetCpuQuantity(), 0);  // no table
    release();
    sim::SmbiosTable t;
    sim::add_processor(t, {.status = 0x41});
    sim::add_processor(t, {.status = 0x41});
    sim::add_processor(t, {.status = 0x00});
    t.end();
    Publish(t);
    EXPECT_EQ(GetCpuQuantity(), 2);
}

// --- memory --------------------------------------------------------------------------------

std::string Free(const char* total, const char* used) {
    return std::string("               total        used        free      shared  buff/cache   available\n") +
           "Mem:    " + total + "    " + used + "     1000      200     3000     4000\n"
           "Swap:        1024           0        1024\n";
}

class MemoryUsage : public Usage {
protected:
    void SetUp() override {
        Usage::SetUp();
        // Run from an empty directory of our own, to see that nothing is left there.
        dir_ = fs::temp_directory_path() / ("qarvel-usage-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
        Usage::TearDown();
    }
    bool DirectoryIsEmpty() const { return fs::is_empty(dir_); }

private:
    fs::path dir_, previous_;
};

TEST_F(MemoryUsage, PercentageOfTheMemoryLine) {
    machine->programs["free"] = Free("3", "1");
    EXPECT_EQ(GetMemUsageRate(), 33);
    machine->programs["free"] = Free("8", "7");
    EXPECT_EQ(GetMemUsageRate(), 87);
    // 30.9999995 %: the rate is kept in single precision, which rounds it to 31 before the
    // fraction is dropped.
    machine->programs["free"] = Free("131621512", "40802668");
    EXPECT_EQ(GetMemUsageRate(), 31);
    machine->programs["free"] = Free("131621512", "40802000");  // 30.9994 %
    EXPECT_EQ(GetMemUsageRate(), 30);
    // A machine with more than 2 TB: the numbers do not fit a 32-bit long.
    machine->programs["free"] = Free("6442450944", "3221225472");
    EXPECT_EQ(GetMemUsageRate(), 50);
    EXPECT_TRUE(DirectoryIsEmpty());
    EXPECT_EQ(machine->count(sim::Access::Open, "exec:/usr/bin/free"), 5u);
}

TEST_F(MemoryUsage, NothingToReadIsReportedAsMissing) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(GetMemUsageRate(), 0);  // no `free` on this machine
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File is not exist!\n");
    EXPECT_TRUE(DirectoryIsEmpty());
}

TEST_F(MemoryUsage, OutputThatIsNotTwoNumbersGivesZero) {
    const char* outputs[] = {
        "Mem:\n",                                           // a memory line without numbers
        "              total\nMem:    4096\n",             // only a total
        "              total        used\nMem:    0    0\n",  // a total of 0
        "Swap:    100    50\n",                            // no memory line at all
        "garbage\n",
    };
    for (const char* output : outputs) {
        machine->programs["free"] = output;
        testing::internal::CaptureStdout();
        EXPECT_EQ(GetMemUsageRate(), 0) << output;
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(printed.empty() || printed == "File is not exist!\n") << printed;
    }
    EXPECT_TRUE(DirectoryIsEmpty());
}

}  // namespace

// What free printed on real machines, in each layout procps has used: the "Mem:" line gives
// the total and the used amount, whatever the other columns and lines are.
TEST(FreeOutput, TheMemLineOfEveryProcpsLayoutGivesTheUsedShare) {
    // procps 3.2: buffers and cache apart, and a "-/+ buffers/cache:" line after.
    EXPECT_EQ(MemUsageFromFree("             total       used       free     shared    buffers     cached\n"
                               "Mem:       1034604     906860     127744          0      44604     543024\n"
                               "-/+ buffers/cache:     319232     715372\n"
                               "Swap:      2048248          0    2048248\n"),
              87);
    // procps-ng 4.0 (`free` and `free -w`): used is total less available.
    EXPECT_EQ(MemUsageFromFree("               total        used        free      shared  buff/cache   available\n"
                               "Mem:        24683716     2020604    21627980       12204     1312800    22663112\n"
                               "Swap:              0           0           0\n"),
              8);
    EXPECT_EQ(MemUsageFromFree("               total        used        free      shared     buffers       cache   available\n"
                               "Mem:        24683716    12000000    21627052       12204       10240     1302560    22662300\n"),
              48);
    // The first memory line is the one read; tabs separate as well as blanks.
    EXPECT_EQ(MemUsageFromFree("Swap: 100 90\nMem:\t200\t50\nMem: 200 150\n"), 25);
    // The numbers are the ones after the colon, never a number in the label.
    EXPECT_EQ(MemUsageFromFree("header\n 1 Mem 2: 400 100\n"), 25);
    EXPECT_EQ(MemUsageFromFree(""), 0);
    EXPECT_EQ(MemUsageFromFree(nullptr), 0);
}
