#include "sim/Machine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

int Node::ioctl(unsigned long, void*) { return -ENOTTY; }

int Node::map(std::uint64_t, void*, std::size_t) { return -ENODEV; }

long BytesNode::read(std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset >= bytes_.size()) return 0;
    std::size_t n = std::min<std::size_t>(count, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return static_cast<long>(n);
}

// --- physical memory ---------------------------------------------------------------------

void PhysicalMemory::write(std::uint64_t address, const void* data, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    while (count > 0) {
        std::uint64_t page = address / kPage, offset = address % kPage;
        std::size_t n = std::min<std::size_t>(count, kPage - offset);
        auto& bytes = pages_[page];
        if (bytes.empty()) bytes.assign(kPage, 0);
        std::memcpy(bytes.data() + offset, in, n);
        address += n;
        in += n;
        count -= n;
    }
}

void PhysicalMemory::read(std::uint64_t address, void* out, std::size_t count) const {
    auto* dst = static_cast<std::uint8_t*>(out);
    while (count > 0) {
        std::uint64_t page = address / kPage, offset = address % kPage;
        std::size_t n = std::min<std::size_t>(count, kPage - offset);
        auto it = pages_.find(page);
        if (it == pages_.end())
            std::memset(dst, 0, n);
        else
            std::memcpy(dst, it->second.data() + offset, n);
        address += n;
        dst += n;
        count -= n;
    }
}

namespace {

class MemoryNode : public Node {
public:
    explicit MemoryNode(const PhysicalMemory& memory) : memory_(memory) {}
    long read(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (offset >= memory_.limit) return -EFAULT;
        std::size_t n = std::min<std::uint64_t>(count, memory_.limit - offset);
        memory_.read(offset, buffer, n);
        return static_cast<long>(n);
    }
    long long size() const override { return static_cast<long long>(memory_.limit); }
    int map(std::uint64_t offset, void* buffer, std::size_t count) override {
        memory_.read(offset, buffer, count);
        return 0;
    }

private:
    const PhysicalMemory& memory_;
};

// Where the kernel lists the PCI functions it found; served from the machine's PCI bus.
constexpr char kPciDevices[] = "/sys/bus/pci/devices";

std::string parent_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

std::string without_trailing_slash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

// --- files -------------------------------------------------------------------------------

void FileTree::add_link(const std::string& path, const std::string& target) {
    std::string link = without_trailing_slash(path);
    links_[link] = target;
    add_directory(parent_of(link));
}

bool FileTree::link_target(const std::string& path, std::string& target) const {
    std::string link = without_trailing_slash(path);
    auto slash = link.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == link.size()) return false;
    std::string name = link.substr(slash + 1);
    if (name == "." || name == "..") return false;
    std::string directory = resolve(parent_of(link));
    auto it = links_.find((directory == "/" ? "" : directory) + "/" + name);
    if (it == links_.end()) return false;
    target = it->second;
    return true;
}

std::string FileTree::resolve(const std::string& path) const {
    std::vector<std::string> resolved;
    std::vector<std::string> pending;  // components still to walk, the next one last
    auto push_components = [&pending](const std::string& text) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t slash = text.find('/', start);
            if (slash == std::string::npos) slash = text.size();
            if (slash > start) parts.push_back(text.substr(start, slash - start));
            start = slash + 1;
        }
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    auto joined = [&resolved] {
        std::string out;
        for (const std::string& part : resolved) out += "/" + part;
        return out.empty() ? std::string("/") : out;
    };
    push_components(path);
    int links_followed = 0;
    while (!pending.empty()) {
        std::string part = pending.back();
        pending.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            if (!resolved.empty()) resolved.pop_back();
            continue;
        }
        resolved.push_back(part);
        auto link = links_.find(joined());
        if (link == links_.end()) continue;
        if (++links_followed > 40) return "/:too-many-links";  // ELOOP: a path nothing answers to
        resolved.pop_back();
        if (!link->second.empty() && link->second[0] == '/') resolved.clear();
        push_components(link->second);
    }
    return joined();
}

void FileTree::add_snapshot(const std::string& path, std::uint64_t from_microseconds, std::string content) {
    files_[path][from_microseconds] = std::move(content);
    add_directory(parent_of(path));
}

void FileTree::add_directory(const std::string& raw) {
    std::string path = without_trailing_slash(raw);
    while (directories_.insert(path).second && path != "/") path = parent_of(path);
}

void FileTree::remove(const std::string& path) { files_.erase(path); }

bool FileTree::is_directory(const std::string& path) const {
    return directories_.count(links_.empty() ? without_trailing_slash(path) : resolve(path)) != 0;
}

std::vector<std::string> FileTree::list(const std::string& raw) const {
    std::string dir = links_.empty() ? without_trailing_slash(raw) : resolve(raw);
    std::string prefix = dir == "/" ? "/" : dir + "/";
    std::set<std::string> names;
    auto child = [&](const std::string& path) {
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.find('/', prefix.size()) == std::string::npos)
            names.insert(path.substr(prefix.size()));
    };
    for (const auto& file : files_) child(file.first);
    for (const auto& directory : directories_) child(directory);
    for (const auto& link : links_) child(link.first);
    return {names.begin(), names.end()};
}

bool FileTree::through_file(const std::string& path) const {
    const std::string resolved = links_.empty() ? path : resolve(path);
    for (std::size_t slash = resolved.find('/', 1); slash != std::string::npos; slash = resolved.find('/', slash + 1))
        if (files_.count(resolved.substr(0, slash))) return true;
    return false;
}

const std::string* FileTree::content(const std::string& path, std::uint64_t now) const {
    auto file = files_.find(links_.empty() ? path : resolve(path));
    if (file == files_.end() || file->second.empty()) return nullptr;
    // The latest snapshot that has begun; before the first one the first is shown.
    auto it = file->second.upper_bound(now);
    if (it != file->second.begin()) --it;
    return &it->second;
}

// --- ports -------------------------------------------------------------------------------

void Ports::map(std::uint16_t first, std::uint16_t count, Reader reader, Writer writer) {
    ranges_.push_back({first, count, std::move(reader), std::move(writer)});
}

const Ports::Range* Ports::find(std::uint16_t port) const {
    // Later mappings win, so a test can shadow a port of the machine it was given.
    for (auto it = ranges_.rbegin(); it != ranges_.rend(); ++it)
        if (port >= it->first && port - it->first < it->count) return &*it;
    return nullptr;
}

std::uint32_t Ports::in(std::uint16_t port, int width) {
    std::uint32_t all_ones = width == 1 ? 0xFFu : width == 2 ? 0xFFFFu : 0xFFFFFFFFu;
    if (level < 3) {
        ++violations;
        return all_ones;
    }
    const Range* range = find(port);
    if (!range || !range->reader) return all_ones;
    return range->reader(port, width) & all_ones;
}

void Ports::out(std::uint16_t port, int width, std::uint32_t value) {
    if (level < 3) {
        ++violations;
        return;
    }
    const Range* range = find(port);
    if (range && range->writer) range->writer(port, width, value);
}

// --- machine -----------------------------------------------------------------------------

Machine::Machine() {
    add_device("/dev/mem", [this] { return std::make_shared<MemoryNode>(memory); });
}

std::shared_ptr<Node> Machine::open(const std::string& path, int& error) {
    if (lockdown && path == "/dev/mem") {
        error = EPERM;
        return nullptr;
    }
    if (files.is_denied(path)) {
        error = EACCES;
        return nullptr;
    }
    if (hidden_by_kernel(path)) {
        error = ENOENT;
        return nullptr;
    }
    auto device = devices_.find(path);
    if (device != devices_.end()) {
        auto node = device->second();
        if (!node) error = ENXIO;
        return node;
    }
    if (const std::string* content = files.content(path, clock.now_us))
        return std::make_shared<BytesNode>(*content);
    if (path.compare(0, sizeof kPciDevices - 1, kPciDevices) == 0 && path.size() == sizeof kPciDevices + 19 &&
        path.compare(path.size() - 7, 7, "/config") == 0) {
        if (const ConfigSpace* config = pci.sysfs_config(path.substr(sizeof kPciDevices, 12))) {
            const auto& bytes = config->bytes();
            return std::make_shared<BytesNode>(std::string(bytes.begin(), bytes.end()));
        }
    }
    error = files.is_directory(path) ? EISDIR : files.through_file(path) ? ENOTDIR : ENOENT;
    return nullptr;
}

// A classic kernel has no /sys/block to offer, a current one no /proc/ide (gone since
// 5.14), whatever files a capture holds.
bool Machine::hidden_by_kernel(const std::string& path) const {
    auto under = [&path](const std::string& root) {
        return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
    };
    return kernel == Kernel::Current ? under("/proc/ide") : under("/sys/block");
}

bool Machine::directory_exists(const std::string& path) const {
    std::string dir = without_trailing_slash(path);
    if (files.is_denied(dir) || hidden_by_kernel(dir)) return false;
    if (files.is_directory(path)) return true;
    if (dir == kPciDevices) return true;
    if (dir.compare(0, sizeof kPciDevices - 1, kPciDevices) == 0 && dir.size() == sizeof kPciDevices + 12)
        return pci.sysfs_config(dir.substr(sizeof kPciDevices)) != nullptr;
    return false;
}

std::vector<std::string> Machine::list_directory(const std::string& path) const {
    std::vector<std::string> names = files.list(path);
    std::string dir = without_trailing_slash(path);
    std::vector<std::string> extra;
    if (dir == kPciDevices) extra = pci.sysfs_names();
    else if (dir.compare(0, sizeof kPciDevices - 1, kPciDevices) == 0 && directory_exists(dir)) extra = {"config"};
    std::set<std::string> all(names.begin(), names.end());
    all.insert(extra.begin(), extra.end());
    return {all.begin(), all.end()};
}

void Machine::record(Access::Kind kind, const std::string& path, int fd, std::uint64_t offset) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    if (kind == Access::Open && fd >= 0) open_[fd] = path;
    if (kind == Access::Close) open_.erase(fd);
    if (log_limit == 0) return;
    log_.push_back({kind, path, fd, offset});
    while (log_.size() > log_limit) log_.pop_front();
}

std::vector<Access> Machine::accesses() const {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return {log_.begin(), log_.end()};
}

std::size_t Machine::count(Access::Kind kind, const std::string& path) const {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return static_cast<std::size_t>(std::count_if(
        log_.begin(), log_.end(), [&](const Access& a) { return a.kind == kind && a.path == path; }));
}

std::vector<std::string> Machine::still_open() const {
    std::lock_guard<std::mutex> lock(log_mutex_);
    std::vector<std::string> paths;
    for (const auto& entry : open_) paths.push_back(entry.second);
    return paths;
}

}  // namespace sim
