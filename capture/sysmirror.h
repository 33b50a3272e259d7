// Copying pieces of sysfs into a capture through the platform, links kept as links.
#ifndef QARVEL_CAPTURE_SYSMIRROR_H
#define QARVEL_CAPTURE_SYSMIRROR_H

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

// Copies sysfs paths into sys/..., every link met on the way kept as a link, so that the
// replay resolves each path (".." after a link included) to the same file.
class SysMirror {
public:
    explicit SysMirror(Capture& c) : c_(c) {}

    // The real path behind `path`, with the links on the way written down.
    std::string follow(const std::string& path, int depth = 0) {
        std::string real;
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t slash = path.find('/', start);
            if (slash == std::string::npos) slash = path.size();
            const std::string part = path.substr(start, slash - start);
            start = slash + 1;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                real.erase(real.rfind('/') == std::string::npos ? 0 : real.rfind('/'));
                continue;
            }
            std::string next = real + "/" + part, target;
            if (depth < kMostLinks && platform::read_link(next.c_str(), target)) {
                link(next, target);
                next = follow(target[0] == '/' ? target : real + "/" + target, depth + 1);
            }
            real = next;
        }
        return real.empty() ? "/" : real;
    }

    // A file, when there is one (the library reads many that a given disk lacks). A path
    // through a file names none: a virtio device's `device` is its device id, not the link
    // to a parent that it is on the other buses, so its "device/uevent" is not there to miss.
    void file(const std::string& path) {
        const std::string real = follow(path);
        if (!Inside(real) || !done_.insert(real).second) return;
        std::string bytes, error;
        if (read_platform_file(real, bytes, error))
            c_.write(real.substr(1), bytes);
        else if (errno != ENOENT && errno != EISDIR && errno != ENOTDIR)
            c_.manifest.missing(real.substr(1), error);
    }

    // A directory's entries by name: links as links, directories as (empty) directories.
    void listing(const std::string& path) {
        const std::string real = follow(path);
        std::vector<std::string> names;
        if (!Inside(real) || !platform::list_directory(real.c_str(), names)) return;
        for (const std::string& name : names) {
            const std::string child = real + "/" + name;
            std::string target, error;
            if (platform::read_link(child.c_str(), target))
                link(child, target);
            else if (platform::directory_exists(child.c_str()) && !c_.out.write_directory(child.substr(1), error))
                c_.manifest.missing(child.substr(1), error);
        }
    }

private:
    static constexpr int kMostLinks = 40;  // as the kernel's own limit on nested links
    static bool Inside(const std::string& path) { return path.compare(0, 5, "/sys/") == 0; }

    void link(const std::string& path, const std::string& target) {
        std::string error;
        if (Inside(path) && done_.insert(path).second && !c_.out.write_link(path.substr(1), target, error))
            c_.manifest.missing(path.substr(1), error);
    }

    Capture& c_;
    std::set<std::string> done_;
};

}  // namespace capture

#endif
