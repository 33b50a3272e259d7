// qarvel on a capture with bad files, and on command lines it cannot use: the problems on
// standard error, the rest of the machine in the report, and a non-zero exit.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/e2e/library.h"
#include "tests/e2e/qarvel_run.h"

namespace fs = std::filesystem;

namespace {

using e2e::Outcome;

Outcome Qarvel(const std::string& arguments, const std::string& prefix = "") {
    return e2e::RunQarvel(arguments, prefix);
}

bool Has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

std::string Copy(const std::string& name) { return e2e::CopyMachine(QARVEL_SAMPLE_MACHINE, name); }

void Append(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::app) << text; }

TEST(CaptureErrors, ABadBmcConfLineFailsTheRunButNotTheMachine) {
    std::string dir = Copy("bad-line");
    ASSERT_NE(dir, "");
    Append(dir + "/ipmi/bmc.conf", "sensor 0x30 state 0x8080\n");
    fs::copy_file(dir + "/pci/00:00.0", dir + "/pci/00:00.0.bak");
    Outcome run = Qarvel("--machine " + dir);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("ipmi/bmc.conf:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("state 0x8080 is out of range (0 to 0x7FFF)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: " + dir + ": pci/00:00.0.bak: skipped"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("qarvel: 1 problem in the capture"), std::string::npos) << run.err;

    // Everything else is served: the report is the sample server's, line for line.
    Outcome good = Qarvel("--machine " QARVEL_SAMPLE_MACHINE);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_EQ(run.out, good.out);
    fs::remove_all(dir);
}

TEST(CaptureErrors, FilesTheUserCannotReadAreReported) {
    if (::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root without setpriv";
    // As root, the capture is read by an unprivileged user instead.
    const std::string as_user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    // A checkout under a private directory (mktemp -d makes one) keeps that user from the
    // program itself; then there is nothing this test can tell.
    Outcome reachable = Qarvel("--machine " QARVEL_SAMPLE_MACHINE, as_user);
    if (reachable.status != 0) GTEST_SKIP() << "the unprivileged user cannot run qarvel here: " << reachable.err;
    std::string dir = Copy("unreadable");
    ASSERT_NE(dir, "");
    fs::permissions(dir, fs::perms::all);
    for (auto& entry : fs::recursive_directory_iterator(dir))
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms::all : fs::perms::owner_read |
                                                                                   fs::perms::group_read |
                                                                                   fs::perms::others_read);
    fs::permissions(dir + "/smbios.bin", fs::perms::none);
    fs::permissions(dir + "/pci", fs::perms::none);
    Outcome run = Qarvel("--machine " + dir, as_user);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("smbios.bin: Permission denied"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("pci/: Permission denied"), std::string::npos) << run.err;
    EXPECT_TRUE(Has(run.out, "GetBMCVersion()=0")) << run.out;  // the BMC is still there

    fs::permissions(dir, fs::perms::none);
    run = Qarvel("--machine " + dir, as_user);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
    fs::permissions(dir, fs::perms::all);
    fs::remove_all(dir);
}

TEST(CaptureErrors, CommandLinesThatNameNoMachineOrLibraryAreRefused) {
    Outcome run = Qarvel("--machine");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--machine needs a machine directory"), std::string::npos) << run.err;
    run = Qarvel("--library");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--library needs a library path"), std::string::npos) << run.err;
    run = Qarvel("--machine ''");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");  // never the sample server instead
    run = Qarvel("--machine /nonexistent/machine");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("/nonexistent/machine: No such file or directory"), std::string::npos) << run.err;
    run = Qarvel("--machine " QARVEL_SAMPLE_MACHINE "/smbios.bin");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not a directory"), std::string::npos) << run.err;
}

TEST(CaptureErrors, ALibraryWithoutTheExportsFailsTheReport) {
    Outcome run = Qarvel("--library libm.so.6");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Has(run.out, "GetInfo: not exported by this library")) << run.out;
    EXPECT_NE(run.err.find("lacks"), std::string::npos) << run.err;
}

}  // namespace
