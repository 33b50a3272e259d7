// The qarvel report of every machine we ship or keep as test data, against its committed
// golden file. Set QARVEL_UPDATE_GOLDEN=1 to rewrite the golden files after a deliberate
// change, then read the diff.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/library.h"

namespace {

std::string Run(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    status = pclose(pipe);
    return output;
}

// `options` "--json " for the JSON document, whose golden file is report.json.
void CheckReport(const std::string& machine, const std::string& golden, const std::string& options = "") {
    int status = -1;
    std::string report = Run(std::string(QARVEL_CLI) + " " + options + "--machine '" + machine + "'", status);
    ASSERT_EQ(status, 0);
    if (const char* update = std::getenv("QARVEL_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(golden) << report;
        return;
    }
    std::ifstream in(golden);
    ASSERT_TRUE(in) << "no golden file " << golden << " (run with QARVEL_UPDATE_GOLDEN=1)";
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(report, expected.str()) << "report of " << machine << " differs from " << golden;
}

TEST(Report, SampleServer) {
    CheckReport(QARVEL_SAMPLE_MACHINE, QARVEL_SOURCE_DIR "/sim/machines/sample-server/report.txt");
}

TEST(Report, CurrentServer) {
    CheckReport(QARVEL_CURRENT_MACHINE, QARVEL_SOURCE_DIR "/sim/machines/current-server/report.txt");
}

TEST(Report, SampleServerJson) {
    CheckReport(QARVEL_SAMPLE_MACHINE, QARVEL_SOURCE_DIR "/sim/machines/sample-server/report.json", "--json ");
}

TEST(Report, CurrentServerJson) {
    CheckReport(QARVEL_CURRENT_MACHINE, QARVEL_SOURCE_DIR "/sim/machines/current-server/report.json", "--json ");
}

class CapturedReport : public ::testing::TestWithParam<const char*> {};

TEST_P(CapturedReport, MatchesGolden) {
    std::string dir = std::string(QARVEL_TEST_DATA) + "/realdata/smbios/" + GetParam();
    CheckReport(dir, dir + "/report.txt");
}

TEST_P(CapturedReport, JsonMatchesGolden) {
    std::string dir = std::string(QARVEL_TEST_DATA) + "/realdata/smbios/" + GetParam();
    CheckReport(dir, dir + "/report.json", "--json ");
}

INSTANTIATE_TEST_SUITE_P(RealMachines, CapturedReport,
                         ::testing::Values("Asus-UX307LA", "Gigabyte-GA-MA74GMT-S2", "SuperMicro-X9DBL",
                                           "Synology-RS3614xsp", "satellite_pro_l70_testdata"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
