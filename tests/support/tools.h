// Independent tools the tests check the library against (sfdisk, lspci), installed by
// tools/setup. A missing tool fails the test that needs it: it never skips silently.
#ifndef QARVEL_TESTS_SUPPORT_TOOLS_H
#define QARVEL_TESTS_SUPPORT_TOOLS_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/compact_image.h"

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

// A compact disk image (sim/compact_image.h) written out as the raw disk, a sparse file of the
// disk's size, for tools that read disks. False with `error` set when `image` is no compact
// image or cannot be read or written.
inline bool ExpandImage(const std::string& image, const std::string& raw, std::string& error) {
    int in = ::open64(image.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat64 st;
    if (in < 0 || ::fstat64(in, &st) != 0) {
        error = "cannot read " + image;
        if (in >= 0) ::close(in);
        return false;
    }
    auto read = [in](std::uint64_t offset, void* buffer, std::size_t count) {
        return static_cast<long>(::pread64(in, buffer, count, static_cast<off64_t>(offset)));
    };
    sim::CompactLayout layout;
    int out = -1;
    bool good = sim::read_compact_layout(read, static_cast<std::uint64_t>(st.st_size), layout, error) &&
                (out = ::open64(raw.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) >= 0 &&
                ::ftruncate64(out, static_cast<off64_t>(layout.disk_size)) == 0;
    std::vector<char> bytes;
    for (const sim::CompactRun& run : layout.runs) {
        bytes.resize(static_cast<std::size_t>(run.count) * layout.sector_size);
        good = good && read(run.data_offset, bytes.data(), bytes.size()) == static_cast<long>(bytes.size()) &&
               ::pwrite64(out, bytes.data(), bytes.size(), static_cast<off64_t>(run.first * layout.sector_size)) ==
                   static_cast<ssize_t>(bytes.size());
    }
    if (!good && error.empty()) error = "cannot write " + raw + ": " + std::strerror(errno);
    ::close(in);
    if (out >= 0) ::close(out);
    return good;
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
// A compact image is handed to sfdisk as the raw disk it describes.
inline std::vector<SfdiskPartition> SfdiskDump(const std::string& given) {
    std::vector<SfdiskPartition> result;
    std::string sfdisk = FindTool("sfdisk");
    if (sfdisk.empty()) return result;
    std::string image = given, error;
    char start[sizeof sim::kCompactMagic] = {};
    if (FILE* f = std::fopen(given.c_str(), "rb")) {
        const std::size_t got = std::fread(start, 1, sizeof start, f);
        std::fclose(f);
        const std::string name = given.substr(given.rfind('/') + 1);
        if (sim::is_compact(start, got))
            image = (std::filesystem::temp_directory_path() / ("qarvel-" + std::to_string(::getpid()) + "-" + name)).string();
    }
    if (image != given && !ExpandImage(given, image, error)) {
        ADD_FAILURE() << error;
        return result;
    }
    int status = -1;
    std::string dump = RunCommand(sfdisk + " --dump '" + image + "' 2>&1", status);
    if (image != given) ::unlink(image.c_str());
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
