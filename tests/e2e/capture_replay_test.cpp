// qarvel capture DIR, then qarvel --machine DIR: the replay gives the report of the machine
// that was captured.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/qarvel_run.h"

namespace fs = std::filesystem;

namespace {

using e2e::TempName;

std::string Read(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// `manifest`, when given, receives the capture's MANIFEST.
void ExpectRoundTrip(const std::string& machine, std::string* manifest_out = nullptr) {
    std::string dir = TempName("replay");
    e2e::Outcome capture = e2e::RunQarvel("--machine " + machine + " capture " + dir);
    ASSERT_EQ(capture.status, 0) << capture.err;
    e2e::Outcome original = e2e::RunQarvel("--machine " + machine);
    e2e::Outcome replay = e2e::RunQarvel("--machine " + dir);
    EXPECT_EQ(replay.status, original.status) << replay.err;
    EXPECT_EQ(replay.err, "");
    EXPECT_EQ(replay.out, original.out) << Read(dir + "/MANIFEST");
    std::string manifest = Read(dir + "/MANIFEST");
    EXPECT_NE(manifest.find("version 1.0\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\ntime 20"), std::string::npos) << manifest;
    fs::remove_all(dir);
    if (manifest_out) *manifest_out = manifest;
}

TEST(CaptureReplay, TheSampleServerComesBackIdentical) { ExpectRoundTrip(QARVEL_SAMPLE_MACHINE); }

TEST(CaptureReplay, TheCurrentServerComesBackIdentical) {
    std::string manifest;
    ExpectRoundTrip(QARVEL_CURRENT_MACHINE, &manifest);
    for (const char* line : {"source kernel current\n", "source smbios sysfs\n", "source pci sysfs\n",
                             "source disks /sys/block\n", "source ipmi /dev/ipmi0\n"})
        EXPECT_NE(manifest.find(line), std::string::npos) << line << manifest;
    EXPECT_EQ(manifest.find("\nmissing "), std::string::npos) << manifest;
}

TEST(CaptureReplay, ALockedDownCurrentServerComesBackIdentical) {
    // The current server under kernel lockdown: /dev/mem and port I/O refused.
    // Its parts are linked, not copied: the disk images are sparse and large.
    std::string machine = TempName("locked");
    fs::create_directories(machine);
    for (const auto& entry : fs::directory_iterator(QARVEL_CURRENT_MACHINE))
        if (entry.path().filename() != "kernel")
            fs::create_symlink(fs::absolute(entry.path()), machine + "/" + entry.path().filename().string());
    std::ofstream(machine + "/kernel") << "current lockdown\n";
    std::string manifest;
    ExpectRoundTrip(machine, &manifest);
    for (const char* line : {"source kernel current lockdown\n", "source smbios sysfs\n", "source pci sysfs\n",
                             "source disks /sys/block\n", "source ipmi /dev/ipmi0\n"})
        EXPECT_NE(manifest.find(line), std::string::npos) << line << manifest;
    fs::remove_all(machine);
}

TEST(CaptureReplay, TheBmcTranscriptHoldsReadRequestsOnly) {
    std::string dir = TempName("transcript");
    std::string transcript = dir + ".log";
    e2e::Outcome capture =
        e2e::RunQarvel("--machine " QARVEL_SAMPLE_MACHINE " capture " + dir, "QARVEL_BMC_TRANSCRIPT=" + transcript);
    ASSERT_EQ(capture.status, 0) << capture.err;
    std::istringstream lines(Read(transcript));
    int requests = 0;
    for (std::string line; std::getline(lines, line); ++requests) {
        const std::string request = line.substr(0, 5);  // "NF CC"
        EXPECT_TRUE(request == "06 01" || request == "06 25" || request == "06 42" || request == "06 46" || request == "04 2D" ||
                    request == "04 27" || request == "0A 10" || request == "0A 11" || request == "0A 22" ||
                    request == "0A 23" ||
                    // The System Event Log, read only: Get SEL Info, Reserve SEL, Get SEL Entry,
                    // Get SEL Time; never Add (44h) or Clear (47h).
                    request == "0A 40" || request == "0A 42" || request == "0A 43" || request == "0A 48")
            << line;
    }
    EXPECT_GT(requests, 50);
    fs::remove_all(dir);
    fs::remove(transcript);
}

TEST(CaptureReplay, ADirectoryInUseOrNoneIsRefused) {
    e2e::Outcome run = e2e::RunQarvel("capture " QARVEL_SAMPLE_MACHINE);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("exists: a capture makes a new directory of its own"), std::string::npos) << run.err;
    run = e2e::RunQarvel("capture");
    EXPECT_EQ(run.status, 2);
    run = e2e::RunQarvel("capture ''");
    EXPECT_EQ(run.status, 2);
}

// A directory someone else made under /tmp, empty and waiting: root does not capture into it.
TEST(CaptureReplay, ADirectoryOfAnotherUserIsRefused) {
    std::string dir = TempName("foreign");
    fs::create_directories(dir);
    if (::chown(dir.c_str(), 65534, 65534) != 0) {
        fs::remove_all(dir);
        GTEST_SKIP() << "cannot give a directory to user 65534 here: " << std::strerror(errno);
    }
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    e2e::Outcome run = e2e::RunQarvel("--machine " QARVEL_SAMPLE_MACHINE " capture " + dir);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.err.find(dir + " exists"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_empty(dir));
    fs::remove_all(dir);

    // A new one is made for the capture alone.
    run = e2e::RunQarvel("--machine " QARVEL_SAMPLE_MACHINE " capture " + dir + "/");
    ASSERT_EQ(run.status, 0) << run.err;
    struct stat st;
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    fs::remove_all(dir);
}

}  // namespace
