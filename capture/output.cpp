#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

namespace {

// The parts of a relative name inside the capture; false for an absolute name, an empty part,
// "." or "..".
bool Parts(const std::string& name, std::vector<std::string>& parts, std::string& error) {
    parts.clear();
    bool inside = !name.empty() && name[0] != '/';
    for (std::size_t start = 0; inside && start <= name.size();) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        parts.push_back(name.substr(start, end - start));
        inside = parts.back() != "" && parts.back() != "." && parts.back() != "..";
        start = end + 1;
    }
    if (!inside) error = "refused to write " + name + " outside the capture directory";
    return inside;
}

std::string Joined(const std::vector<std::string>& parts, std::size_t depth) {
    std::string path;
    for (std::size_t i = 0; i < depth; ++i) path += (i ? "/" : "") + parts[i];
    return path;
}

}  // namespace

Output::Output(std::string root) : root_(std::move(root)) {
    if (::mkdir(root_.c_str(), 0700) != 0) {
        failure_ = errno == EEXIST ? root_ + " exists: a capture makes a new directory of its own"
                                   : "cannot create " + root_ + ": " + std::strerror(errno);
        return;
    }
    int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        failure_ = "cannot open " + root_ + ": " + (fd < 0 ? std::strerror(errno) : "not the directory made");
        if (fd >= 0) ::close(fd);
        return;
    }
    made_.insert({st.st_dev, st.st_ino});
    root_fd_ = fd;
}

Output::~Output() {
    if (root_fd_ >= 0) ::close(root_fd_);
}

bool Output::ready(std::string& error) const {
    if (root_fd_ < 0) error = failure_;
    return root_fd_ >= 0;
}

int Output::directory(const std::vector<std::string>& parts, std::size_t depth, std::string& error) {
    if (root_fd_ < 0) {
        error = failure_;
        return -1;
    }
    int fd = ::fcntl(root_fd_, F_DUPFD_CLOEXEC, 0);
    for (std::size_t i = 0; fd >= 0 && i < depth; ++i) {
        const char* part = parts[i].c_str();
        const bool made = ::mkdirat(fd, part, 0755) == 0;
        // O_NOFOLLOW: a link in the place of the directory fails here instead of leading out.
        int next = made || errno == EEXIST ? ::openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
        const int saved = errno;
        ::close(fd);
        fd = next;
        errno = saved;
        if (fd < 0) break;
        struct stat st;
        const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
        const std::pair<std::uint64_t, std::uint64_t> key{st.st_dev, st.st_ino};
        if (ours && made) made_.insert(key);
        // Only a directory this capture made is entered, even when one of the same name is there.
        if (!ours || !made_.count(key)) {
            ::close(fd);
            fd = -1;
            errno = EEXIST;
        }
    }
    if (fd < 0) error = "cannot create " + root_ + "/" + Joined(parts, depth) + ": " + std::strerror(errno);
    return fd;
}

int Output::create(const std::string& name, std::string& error) {
    std::vector<std::string> parts;
    if (!Parts(name, parts, error)) return -1;
    int parent = directory(parts, parts.size() - 1, error);
    if (parent < 0) return -1;
    // O_EXCL with O_NOFOLLOW: a file or link already in the place is never written through.
    int fd = ::openat64(parent, parts.back().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) error = "cannot write " + root_ + "/" + name + ": " + std::strerror(errno);
    ::close(parent);
    return fd;
}

bool Output::write(const std::string& name, const std::string& bytes, std::string& error) {
    return write_sparse(name, bytes.size(), {{0, std::vector<std::uint8_t>(bytes.begin(), bytes.end())}}, error);
}

bool Output::write_sparse(const std::string& name, std::uint64_t size,
                          const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& pieces,
                          std::string& error) {
    int fd = create(name, error);
    if (fd < 0) return false;
    bool good = ::ftruncate64(fd, static_cast<off64_t>(size)) == 0;
    for (const auto& [offset, bytes] : pieces)
        good = good && ::pwrite64(fd, bytes.data(), bytes.size(), static_cast<off64_t>(offset)) ==
                           static_cast<ssize_t>(bytes.size());
    if (!good) error = "cannot write " + root_ + "/" + name + ": " + std::strerror(errno);
    ::close(fd);
    return good;
}

bool Output::write_directory(const std::string& name, std::string& error) {
    std::vector<std::string> parts;
    if (!Parts(name, parts, error)) return false;
    int fd = directory(parts, parts.size(), error);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool Output::write_link(const std::string& name, const std::string& target, std::string& error) {
    std::vector<std::string> parts;
    if (!Parts(name, parts, error)) return false;
    int parent = directory(parts, parts.size() - 1, error);
    if (parent < 0) return false;
    bool good = ::symlinkat(target.c_str(), parent, parts.back().c_str()) == 0;
    if (!good) {
        const int saved = errno;
        // Met again on another path: the same link is already there.
        char held[4096];
        ssize_t n = saved == EEXIST ? ::readlinkat(parent, parts.back().c_str(), held, sizeof held) : -1;
        good = n >= 0 && std::string(held, static_cast<std::size_t>(n)) == target;
        if (!good) error = "cannot link " + root_ + "/" + name + ": " + std::strerror(saved);
    }
    ::close(parent);
    return good;
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
