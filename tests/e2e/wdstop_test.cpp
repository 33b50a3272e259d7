// wdstop run as a real process: against stand-ins for the library (busy three times, then
// stopped; refusing; lacking StopWatchDogTimer; absent) and against the simulated library.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/library.h"

namespace {

struct Outcome {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string output;  // standard output and standard error together
};

Outcome RunProgram(const std::string& program) {
    Outcome run;
    FILE* pipe = popen((program + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, n);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

std::string TempFile(const std::string& name) {
    std::string path = "/tmp/qarvel-wdstop-" + name + "-" + std::to_string(getpid());
    std::remove(path.c_str());
    return path;
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The calls a stand-in library noted: the time of each in microseconds, and its answer.
struct Call {
    long long at_us;
    int answer;
};
std::vector<Call> Calls(const std::string& log) {
    std::vector<Call> calls;
    for (const std::string& line : Lines(log)) {
        Call c{};
        std::istringstream(line) >> c.at_us >> c.answer;
        calls.push_back(c);
    }
    return calls;
}

TEST(Wdstop, RetriesEveryTenMillisecondsWhileBusy) {
    const std::string log = TempFile("busy");
    setenv("WDSTOP_FAKE_LOG", log.c_str(), 1);
    Outcome run = RunProgram(WDSTOP_BUSY);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
    const std::vector<Call> calls = Calls(log);
    ASSERT_EQ(calls.size(), 4u);
    const int answers[] = {1, 1, 1, 0};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].answer, answers[i]);
        // At least the 10 ms sleep between two calls (a lower bound only: it never flakes).
        if (i > 0) {
            EXPECT_GE(calls[i].at_us - calls[i - 1].at_us, 10000) << "call " << i;
        }
    }
    std::remove(log.c_str());
}

TEST(Wdstop, ARefusalIsNotRetriedAndStillEndsWell) {
    const std::string log = TempFile("refused");
    setenv("WDSTOP_FAKE_LOG", log.c_str(), 1);
    Outcome run = RunProgram(WDSTOP_REFUSED);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
    const std::vector<Call> calls = Calls(log);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].answer, -1);
    std::remove(log.c_str());
}

TEST(Wdstop, MissingLibraryOrFunctionEndsWith255Silently) {
    const std::string log = TempFile("nostop");
    setenv("WDSTOP_FAKE_LOG", log.c_str(), 1);
    Outcome absent = RunProgram(WDSTOP_ABSENT);
    EXPECT_EQ(absent.status, 255);
    EXPECT_EQ(absent.output, "");
    Outcome nostop = RunProgram(WDSTOP_NOSTOP);
    EXPECT_EQ(nostop.status, 255);
    EXPECT_EQ(nostop.output, "");
    EXPECT_TRUE(Lines(log).empty());  // nothing else of the library was called
    std::remove(log.c_str());
}

TEST(Wdstop, StopsTheSimulatedWatchdog) {
    const std::string transcript = TempFile("transcript");
    setenv("QARVEL_MACHINE", QARVEL_SAMPLE_MACHINE, 1);
    setenv("QARVEL_BMC_TRANSCRIPT", transcript.c_str(), 1);
    Outcome run = RunProgram(WDSTOP_SIM);
    unsetenv("QARVEL_BMC_TRANSCRIPT");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
    // One request reached the BMC: Set Watchdog Timer, SMS/OS use, no action, no
    // pre-timeout, 1800 x 100 ms; accepted. No reset follows, so the timer stays stopped.
    const std::vector<std::string> lines = Lines(transcript);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "06 24 04 00 00 00 08 07 -> 00");
    std::remove(transcript.c_str());
}

// The installed wdstop: it needs the dynamic loader and the C library, nothing else (a
// sanitized build adds the sanitizers' runtimes), and it looks for the installed library.
TEST(Wdstop, LinksOnlyTheLoaderAndTheCLibrary) {
    Outcome readelf = RunProgram(std::string("readelf -d '") + WDSTOP + "'");
    ASSERT_EQ(readelf.status, 0) << readelf.output;
    std::set<std::string> needed;
    std::istringstream lines(readelf.output);
    for (std::string line; std::getline(lines, line);) {
        auto open = line.find("Shared library: ["), close = line.rfind(']');
        if (line.find("(NEEDED)") != std::string::npos && open != std::string::npos && close != std::string::npos)
            needed.insert(line.substr(open + 17, close - open - 17));
    }
    EXPECT_TRUE(needed.count("libc.so.6")) << readelf.output;
    for (const std::string& library : needed) {
        bool allowed = library == "libc.so.6" || library == "libdl.so.2";
#ifdef QARVEL_SANITIZE
        allowed = allowed || library.rfind("libasan", 0) == 0 || library.rfind("libubsan", 0) == 0;
#endif
        EXPECT_TRUE(allowed) << library;
    }

    std::ifstream program(WDSTOP, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(program)), std::istreambuf_iterator<char>());
    EXPECT_NE(bytes.find(std::string(WDSTOP_LIBRARY) + '\0'), std::string::npos);
}

}  // namespace
