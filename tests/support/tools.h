// Independent tools the tests check the library against (sfdisk, lspci), installed by
// tools/setup. A missing tool fails the test that needs it: it never skips silently.
#ifndef QARVEL_TESTS_SUPPORT_TOOLS_H
#define QARVEL_TESTS_SUPPORT_TOOLS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qtest {

// The tool's path, from PATH or the sbin directories a non-root PATH may lack; empty and a
// test failure when it is not installed.
inline std::string FindTool(const std::string& name) {
    std::string candidates[] = {"/usr/sbin/" + name, "/sbin/" + name, "/usr/bin/" + name, "/bin/" + name};
    for (const std::string& path : candidates)
        if (::access(path.c_str(), X_OK) == 0) return path;
    ADD_FAILURE() << name << " is not installed: run tools/setup";
    return "";
}

// Runs a shell command; its standard output, with `status` its exit status (-1 when it
// could not run).
inline std::string RunCommand(const std::string& command, int& status) {
    std::string output;
    status = -1;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

// One partition as `sfdisk --dump` lists it.
struct SfdiskPartition {
    int number;
    std::uint64_t start, size;  // sectors
    unsigned type;
    std::string type_text;  // as printed: "83", or a GPT type GUID
};

// The partitions of a disk image as sfdisk reads it (it follows the links of the extended
// boot records, not the cylinder arithmetic).
inline std::vector<SfdiskPartition> SfdiskDump(const std::string& image) {
    std::vector<SfdiskPartition> result;
    std::string sfdisk = FindTool("sfdisk");
    if (sfdisk.empty()) return result;
    int status = -1;
    std::string dump = RunCommand(sfdisk + " --dump '" + image + "' 2>&1", status);
    EXPECT_EQ(status, 0) << dump;
    std::size_t line_start = 0;
    while (line_start < dump.size()) {
        std::size_t line_end = dump.find('\n', line_start);
        if (line_end == std::string::npos) line_end = dump.size();
        std::string line = dump.substr(line_start, line_end - line_start);
        line_start = line_end + 1;
        // "<image><number> : start=  63, size=  2056257, type=83"
        if (line.compare(0, image.size(), image) != 0) continue;
        SfdiskPartition p{};
        unsigned long long start = 0, size = 0;
        if (std::sscanf(line.c_str() + image.size(), "%d : start= %llu, size= %llu, type=%x", &p.number, &start,
                        &size, &p.type) == 4) {
            p.start = start;
            p.size = size;
            std::size_t type = line.find("type=");
            p.type_text = line.substr(type + 5, line.find(',', type) == std::string::npos
                                                    ? std::string::npos
                                                    : line.find(',', type) - type - 5);
            result.push_back(p);
        }
    }
    return result;
}

}  // namespace qtest

#endif
