// A long replay in one process: every export, release included, called cycle after cycle.
// The heap in use, the resident set and the open descriptors (the process's own and the
// simulated machine's) must stay where they were once the first cycles have warmed up.
#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>

#include "tests/stress/exports.h"

#ifdef __SANITIZE_ADDRESS__
// The address sanitizer's count of bytes allocated and not freed (its allocator interface).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace stress;
using Cycles = SampleServer;

struct Footprint {
    long long heap;  // bytes allocated and not freed
    long long rss;   // bytes resident
    int descriptors;
};

Footprint Measure() {
    Footprint f{};
#ifdef __SANITIZE_ADDRESS__
    f.heap = static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    f.heap = static_cast<long long>(info.uordblks + info.hblkhd);
#endif
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    f.rss = static_cast<long long>(resident) * sysconf(_SC_PAGESIZE);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++f.descriptors;
    }
    return f;
}

#ifdef __SANITIZE_ADDRESS__
// Under the address sanitizer a cycle costs some fifteen times more; this build's part is the
// leak check at exit and the descriptors, over fewer cycles: too few to fill the simulator's
// log rings, so the heap still grows here. The i386 build runs all the cycles and checks the
// heap and the resident set.
constexpr int kWarmUp = 200, kCycles = 1200;
#else
constexpr int kWarmUp = 2000, kCycles = 10000;
#endif
// What the process may drift by: far less than the half kilobyte per call the simulator's
// logs once kept (about 15 MB over these cycles).
constexpr long long kHeapSlack = 256 * 1024, kRssSlack = 1024 * 1024;

TEST_F(Cycles, TenThousandCyclesOfEveryExportStayFlat) {
    const std::vector<Export> exports = AllExports();
    auto cycle = [&] {
        for (const Export& e : exports)
            if (e.call() != 0) return e.name;
        return std::string();
    };
    for (int i = 0; i < kWarmUp; ++i) ASSERT_EQ(cycle(), "") << "cycle " << i;
    const Footprint warm = Measure();
    for (int i = kWarmUp; i < kCycles; ++i) ASSERT_EQ(cycle(), "") << "cycle " << i;
    const Footprint after = Measure();

    std::printf("after %d cycles: heap %lld B, rss %lld B, %d descriptors; after %d: heap %lld B, rss %lld B, %d\n",
                kWarmUp, warm.heap, warm.rss, warm.descriptors, kCycles, after.heap, after.rss, after.descriptors);
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LE(after.heap - warm.heap, kHeapSlack);
    EXPECT_LE(after.rss - warm.rss, kRssSlack);
#endif
    EXPECT_EQ(after.descriptors, warm.descriptors);
    EXPECT_TRUE(machine->still_open().empty());
}

}  // namespace
