#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "capture/capture.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace capture {

bool Output::path_of(const std::string& name, std::string& path, std::string& error) const {
    fs::path relative(name);
    bool inside = !name.empty() && relative.is_relative();
    for (const auto& part : relative) inside = inside && part != ".." && part != ".";
    if (!inside) {
        error = "refused to write " + name + " outside the capture directory";
        return false;
    }
    path = (fs::path(root_) / relative).string();
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec) error = ec.message();
    return !ec;
}

bool Output::write(const std::string& name, const std::string& bytes, std::string& error) {
    std::string path;
    if (!path_of(name, path, error)) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) error = "cannot write " + path + ": " + std::strerror(errno);
    return static_cast<bool>(file);
}

bool Output::write_sparse(const std::string& name, std::uint64_t size,
                          const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& pieces,
                          std::string& error) {
    std::string path;
    if (!path_of(name, path, error)) return false;
    int fd = ::open64(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool good = fd >= 0 && ::ftruncate64(fd, static_cast<off64_t>(size)) == 0;
    for (const auto& [offset, bytes] : pieces)
        good = good && ::pwrite64(fd, bytes.data(), bytes.size(), static_cast<off64_t>(offset)) ==
                           static_cast<ssize_t>(bytes.size());
    if (!good) error = "cannot write " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return good;
}

bool Output::write_directory(const std::string& name, std::string& error) {
    std::string path;
    if (!path_of(name, path, error)) return false;
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) error = "cannot create " + path + ": " + ec.message();
    return !ec;
}

bool Output::write_link(const std::string& name, const std::string& target, std::string& error) {
    std::string path;
    if (!path_of(name, path, error)) return false;
    std::error_code ec;
    if (fs::is_symlink(path, ec)) return true;  // met again on another path
    fs::create_symlink(target, path, ec);
    if (ec) error = "cannot link " + path + ": " + ec.message();
    return !ec;
}

std::string Manifest::text(const std::string& version, const std::string& time) const {
    std::string text = "# qarvel capture (sim/README.md describes this directory)\n";
    text += "version " + version + "\n";
    text += "time " + time + "\n";
    for (const auto& [subsystem, method] : sources_) text += "source " + subsystem + " " + method + "\n";
    for (const auto& [part, reason] : missing_) text += "missing " + part + ": " + reason + "\n";
    return text;
}

void Capture::write(const std::string& name, const std::string& bytes) {
    std::string error;
    if (!out.write(name, bytes, error)) manifest.missing(name, error);
}

bool read_platform_file(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    int fd = platform::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    char chunk[4096];
    for (;;) {
        long n = platform::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            platform::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    platform::close(fd);
    return true;
}

}  // namespace capture
