// qarvel's commands: setting a threshold and driving the watchdog of the sample server's BMC.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/library.h"

namespace {

std::string Qarvel(const std::string& arguments, int& status,
                   const std::string& machine = QARVEL_SAMPLE_MACHINE) {
    std::string output;
    std::string command = std::string(QARVEL_CLI) + " --machine '" + machine + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

bool Has(const std::string& output, const std::string& line) { return output.find(line + "\n") != std::string::npos; }

TEST(QarvelCommands, SetAThresholdAndReadItBack) {
    int status = -1;
    // Inlet temperature (entity 39), upper non-critical to 46 degrees: the two above move up.
    std::string out = Qarvel("threshold 39 1 3 46", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(Has(out, "SetThresholdInfo(39,1,3,46.00)=0")) << out;
    EXPECT_TRUE(Has(out, "GetThresholdInfo(39,1)=0")) << out;
    EXPECT_TRUE(Has(out, "SensorThreshold[0].sti.UpperNonCriticalThresholdValue=46.00")) << out;
    EXPECT_TRUE(Has(out, "SensorThreshold[0].sti.UpperCriticalThresholdValue=47.00")) << out;
    EXPECT_TRUE(Has(out, "SensorThreshold[0].sti.UpperNonRecoverThresholdValue=48.00")) << out;
    EXPECT_EQ(out.find("# qarvel report"), std::string::npos);  // commands only

    // The discrete Thermal Status refuses: the call's -1 makes the exit status 1.
    out = Qarvel("threshold 7 1 4 77", status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_TRUE(Has(out, "SetThresholdInfo(7,1,4,77.00)=-1")) << out;
}

TEST(QarvelCommands, ArmReadStopAndResetTheWatchdog) {
    int status = -1;
    std::string out = Qarvel("watchdog arm 2 30000 watchdog show watchdog stop watchdog show watchdog reset", status);
    EXPECT_EQ(status, 0) << out;
    const std::string expected =
        "\n[watchdog]\nSetWatchDogTimer(2,30000)=0\n"
        "\n[watchdog]\nGetWatchDogTimer()=0\ntimerAction=2\ntimeOutValue=30000\npresentTimerOutValue=30000\n"
        "\n[watchdog]\nStopWatchDogTimer()=0\n"
        "\n[watchdog]\nGetWatchDogTimer()=0\ntimerAction=0\ntimeOutValue=180000\npresentTimerOutValue=180000\n"
        "\n[watchdog]\nResetWatchDogTimer()=0\n";
    EXPECT_EQ(out, expected);

    out = Qarvel("watchdog arm 1 9999", status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_TRUE(Has(out, "SetWatchDogTimer(1,9999)=-1")) << out;
}

TEST(QarvelCommands, APresentCountdownNotGivenIsShownSo) {
    // The sample server with a BMC that answers Get Watchdog Timer as ipmi_sim does.
    char pattern[] = "/tmp/qarvel-short-watchdog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string machine = std::string(pattern) + "/machine";
    ASSERT_EQ(std::system(("cp -r '" QARVEL_SAMPLE_MACHINE "' '" + machine + "' && echo 'watchdog bytes 6' >> '" +
                           machine + "/ipmi/bmc.conf'")
                              .c_str()),
              0);
    int status = -1;
    std::string out = Qarvel("watchdog arm 1 60000 watchdog show", status, machine);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(Has(out, "GetWatchDogTimer()=0\ntimerAction=1\ntimeOutValue=60000\npresentTimerOutValue=not given"))
        << out;
    out = Qarvel("--json watchdog show", status, machine);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("\"not given\""), std::string::npos) << out;
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
}

TEST(QarvelCommands, TheWholeEventLogWhereTheReportShowsItsEnd) {
    int status = -1;
    // The current server's log: 8 entries, all of them printed, each once, in N + 3 requests
    // (Get SEL Info, Reserve SEL, Get SEL Time). Given again, nothing is new: one request.
    const std::string out = Qarvel("sel sel", status, QARVEL_CURRENT_MACHINE);
    EXPECT_EQ(status, 0) << out;
    const std::size_t later = out.find("[SEL]", out.find("[SEL]") + 1);
    ASSERT_NE(later, std::string::npos) << out;
    const std::string first = out.substr(0, later), second = out.substr(later);
    EXPECT_TRUE(Has(first, "Entries=8")) << out;
    EXPECT_TRUE(Has(first, "Requests=11")) << out;
    EXPECT_TRUE(Has(first, "Shown=8")) << out;
    EXPECT_TRUE(Has(first, "sel[0].EventText=Power Supply input lost (AC/DC)")) << out;
    EXPECT_TRUE(Has(first, "sel[7].ManufacturerId=41411")) << out;
    EXPECT_EQ(first.find("sel[8]."), std::string::npos) << out;
    EXPECT_TRUE(Has(second, "Entries=8")) << out;
    EXPECT_TRUE(Has(second, "Cleared=0")) << out;
    EXPECT_TRUE(Has(second, "Requests=1")) << out;
    EXPECT_TRUE(Has(second, "Shown=0")) << out;
    // The sample server's BMC keeps no log: nothing is read, and the status says so.
    const std::string none = Qarvel("sel", status);
    EXPECT_EQ(status, 1) << none;
    EXPECT_NE(none.find("the event log was not read"), std::string::npos) << none;
}

TEST(QarvelCommands, WordsItCannotReadRunNothing) {
    int status = -1;
    for (const char* bad : {"watchdog", "watchdog jump", "watchdog arm 1", "watchdog arm one 10000",
                            "threshold 7 1 9 50", "threshold 7 1 3", "reboot", "watchdog show threshold x 1 1 1"}) {
        std::string out = Qarvel(bad, status);
        EXPECT_EQ(status, 2) << bad;
        EXPECT_EQ(out.find("[watchdog]"), std::string::npos) << bad << ": " << out;
        EXPECT_NE(out.find("qarvel --help"), std::string::npos) << out;
    }
    std::string help = Qarvel("--help", status);
    EXPECT_EQ(status, 0);
    for (const char* word : {"threshold ENTITY TYPE WHICH VALUE", "watchdog arm ACTION MILLISECONDS", "watchdog stop",
                             "watchdog show", "watchdog reset"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

}  // namespace
