// GetMemUsageRate of the real library on this machine: the share `free` prints, and never a
// program of the caller's PATH.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/e2e/library.h"

namespace fs = std::filesystem;

namespace {

// The used share of the "Mem:" line of /usr/bin/free, read here on its own; -1 without one.
double FreeUsedPercent() {
    FILE* pipe = ::popen("/usr/bin/free", "r");
    if (!pipe) return -1;
    char line[512];
    double percent = -1;
    while (std::fgets(line, sizeof line, pipe)) {
        double total = 0, used = 0;
        if (std::sscanf(line, "Mem: %lf %lf", &total, &used) == 2 && total > 0) percent = used * 100 / total;
    }
    ::pclose(pipe);
    return percent;
}

class RealMemoryUsage : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/free", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/free on this machine";
        ASSERT_TRUE(library.loaded()) << dlerror();
        rate = library.function<int()>("GetMemUsageRate");
        ASSERT_NE(rate, nullptr);
    }
    e2e::Library library{QARVEL_LIBRARY, nullptr};
    int (*rate)() = nullptr;
};

// Memory moves between the two runs of free: the library's figure lies between the figures
// from just before and just after it, give or take a point.
TEST_F(RealMemoryUsage, IsTheShareThatFreePrints) {
    const double before = FreeUsedPercent();
    const int reported = rate();
    const double after = FreeUsedPercent();
    ASSERT_GT(before, 0);
    ASSERT_GT(after, 0);
    EXPECT_GE(reported, static_cast<int>(std::min(before, after)) - 1) << before << " " << after;
    EXPECT_LE(reported, static_cast<int>(std::max(before, after)) + 1) << before << " " << after;
}

TEST_F(RealMemoryUsage, AFreeEarlierInThePathNeverRuns) {
    const fs::path dir = fs::temp_directory_path() / ("qarvel-path-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path mark = dir / "ran";
    // A `free` that leaves a mark and claims the memory is 99 % used.
    std::ofstream(dir / "free") << "#!/bin/sh\ntouch " << mark.string()
                                << "\necho '        total used'\necho 'Mem:   100   99'\n";
    fs::permissions(dir / "free", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    ::setenv("PATH", (dir.string() + ":" + path).c_str(), 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);  // a translated label would not read "Mem:"

    // The planted program is the one a shell finds: the test can tell.
    ASSERT_EQ(std::system("free > /dev/null"), 0);
    ASSERT_TRUE(fs::exists(mark));
    fs::remove(mark);

    const double before = FreeUsedPercent();
    const int reported = rate();
    const double after = FreeUsedPercent();
    ::setenv("PATH", path.c_str(), 1);
    ::unsetenv("LC_ALL");
    EXPECT_FALSE(fs::exists(mark)) << "the library ran the caller's free";
    EXPECT_GE(reported, static_cast<int>(std::min(before, after)) - 1) << before << " " << after;
    EXPECT_LE(reported, static_cast<int>(std::max(before, after)) + 1) << before << " " << after;
    fs::remove_all(dir);
}

}  // namespace
