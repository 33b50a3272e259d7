// A whole simulated machine: the test bench of the library and the engine of the demo.
//
// The simulated platform (sim/platform_sim.cpp) serves every platform call of the library
// from the Machine returned by sim::current(): /dev/mem from `memory`, files and
// directories from `files`, devices from the device table, port I/O from `ports`,
// commands from `programs`, and sleeping from `clock`. Every access is logged so that a
// test can assert what the library did and what it did not do.
#ifndef QARVEL_SIM_MACHINE_H
#define QARVEL_SIM_MACHINE_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/Pci.h"

namespace sim {

class Bmc;

// Something the library can open: a device or a file. Offsets are absolute.
class Node {
public:
    virtual ~Node() = default;
    // Reads up to `count` bytes at `offset`; the number read, or -errno.
    virtual long read(std::uint64_t offset, void* buffer, std::size_t count) = 0;
    // Size in bytes for SEEK_END, or -1 when the node has no end.
    virtual long long size() const { return -1; }
    // 0 / -errno.
    virtual int ioctl(unsigned long request, void* argument);
    // The poll events (POLLIN...) among `events` that are ready now; a file always is.
    virtual short poll(short events) { return events; }
    // Fills a mapping of `count` bytes from `offset` (0 / -errno); only memory maps.
    virtual int map(std::uint64_t offset, void* buffer, std::size_t count);
};

// Bytes served as a read-only file.
class BytesNode : public Node {
public:
    explicit BytesNode(std::string bytes) : bytes_(std::move(bytes)) {}
    long read(std::uint64_t offset, void* buffer, std::size_t count) override;
    long long size() const override { return static_cast<long long>(bytes_.size()); }

private:
    std::string bytes_;
};

// Physical memory: sparse, zero where nothing was written, served as /dev/mem.
class PhysicalMemory {
public:
    void write(std::uint64_t address, const void* data, std::size_t count);
    void read(std::uint64_t address, void* out, std::size_t count) const;
    // Reads at or beyond this address fail with EFAULT, as past the end of a real machine's
    // RAM; mmap of /dev/mem still reaches them, as the kernel maps firmware areas there.
    std::uint64_t limit = 0x100000000ULL;

private:
    static constexpr std::uint64_t kPage = 4096;
    std::map<std::uint64_t, std::vector<std::uint8_t>> pages_;
};

// Regular files and directories. A file may hold several snapshots, each valid from a
// point of simulated time on (how /proc/stat advances while the library sleeps).
class FileTree {
public:
    void add(const std::string& path, std::string content) { add_snapshot(path, 0, std::move(content)); }
    void add_snapshot(const std::string& path, std::uint64_t from_microseconds, std::string content);
    void add_directory(const std::string& path);
    // A symbolic link, as sysfs is made of: `target` is absolute or relative to the link's
    // directory. Every path given to the tree is resolved through its links component by
    // component, ".." included, as the kernel resolves a path.
    void add_link(const std::string& path, const std::string& target);
    // Makes an existing or future file fail to open with EACCES.
    void deny(const std::string& path) { denied_.insert(path); }
    void remove(const std::string& path);

    bool is_directory(const std::string& path) const;
    // Names of the files and directories directly inside a directory, sorted.
    std::vector<std::string> list(const std::string& path) const;
    bool is_denied(const std::string& path) const {
        return denied_.count(path) != 0 || (!links_.empty() && denied_.count(resolve(path)) != 0);
    }
    // The path with its links followed and "." and ".." taken away.
    std::string resolve(const std::string& path) const;
    // The target of the link that `path` itself names (its directories resolved first).
    bool link_target(const std::string& path, std::string& target) const;
    // Whether a directory on the way to `path` is a file ("virtio1/device/uevent" where
    // "device" is the virtio device id): opening it fails with ENOTDIR, as on the kernel.
    bool through_file(const std::string& path) const;
    // Content at the given time, or null when there is no such file.
    const std::string* content(const std::string& path, std::uint64_t now_microseconds) const;

private:
    std::map<std::string, std::map<std::uint64_t, std::string>> files_;
    std::set<std::string> directories_;
    std::set<std::string> denied_;
    std::map<std::string, std::string> links_;
};

// x86 I/O ports. Unmapped ports read as all ones, as on a real bus.
class Ports {
public:
    using Reader = std::function<std::uint32_t(std::uint16_t port, int width)>;
    using Writer = std::function<void(std::uint16_t port, int width, std::uint32_t value)>;

    // Whether iopl(3) is granted.
    bool grant_iopl = true;
    std::atomic<int> level{0};
    // Port accesses made without the I/O privilege (a real process would be killed).
    std::atomic<int> violations{0};

    void map(std::uint16_t first, std::uint16_t count, Reader reader, Writer writer = nullptr);
    std::uint32_t in(std::uint16_t port, int width);
    void out(std::uint16_t port, int width, std::uint32_t value);

private:
    struct Range {
        std::uint16_t first, count;
        Reader reader;
        Writer writer;
    };
    const Range* find(std::uint16_t port) const;
    std::vector<Range> ranges_;
};

// Simulated time: sleeping advances it at once and is recorded. Threads may sleep at once;
// only the latest kMaxSleeps sleeps are kept, so a long replay does not grow.
struct Clock {
    static constexpr std::size_t kMaxSleeps = 1024;
    std::atomic<std::uint64_t> now_us{0};
    std::vector<std::uint64_t> sleeps_us;
    void sleep_us(std::uint64_t microseconds) {
        now_us += microseconds;
        std::lock_guard<std::mutex> lock(sleeps_mutex_);
        // Dropped in halves, so the copy happens once per kMaxSleeps sleeps.
        if (sleeps_us.size() >= 2 * kMaxSleeps) sleeps_us.erase(sleeps_us.begin(), sleeps_us.end() - kMaxSleeps);
        sleeps_us.push_back(microseconds);
    }

private:
    std::mutex sleeps_mutex_;
};

// One platform call, as the log keeps it.
struct Access {
    enum Kind { Open, Close, Read, Seek, Ioctl, Map, Poll };
    Kind kind;
    std::string path;
    int fd;                    // for an open, the descriptor it gave (-1 when it failed)
    std::uint64_t offset = 0;  // where a read or a mapping started
};

// Which kernel the machine imitates. Classic kernels offer /proc/ide and the /dev/ipmi
// ioctl; current ones /sys/block and the mainline /dev/ipmi0 instead.
enum class Kernel { Classic, Current };

class Machine {
public:
    Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    PhysicalMemory memory;
    FileTree files;
    Ports ports;
    // PCI configuration mechanism 1 on ports 0xCF8/0xCFC.
    PciBus pci{ports};
    Clock clock;
    Kernel kernel = Kernel::Classic;
    // Kernel lockdown (integrity): opening /dev/mem and raising the I/O privilege level
    // fail with EPERM; the kernel's own interfaces keep working.
    bool lockdown = false;
    // What a program prints: the standard output of `free`, keyed by program name (the last
    // part of the path it is run by).
    std::map<std::string, std::string> programs;
    // The BMC behind /dev/ipmi, when the machine has one (sim/Bmc.h, install_bmc).
    std::shared_ptr<Bmc> bmc;

    // Devices that are not plain files; /dev/mem is there from the start.
    using DeviceFactory = std::function<std::shared_ptr<Node>()>;
    void add_device(const std::string& path, DeviceFactory factory) { devices_[path] = std::move(factory); }
    void remove_device(const std::string& path) { devices_.erase(path); }

    // Opens a device or file; null with `error` set to an errno value when there is none.
    std::shared_ptr<Node> open(const std::string& path, int& error);
    bool directory_exists(const std::string& path) const;
    // The names in a directory, sorted: the file tree's, and the kernel's PCI functions
    // under /sys/bus/pci/devices.
    std::vector<std::string> list_directory(const std::string& path) const;

    // Called before every read, with the path read; a test's way to act in the middle of a
    // library call (for instance to call the library again from "inside" it).
    std::function<void(const std::string& path)> on_read;

    // The access log: the latest `log_limit` accesses, so that a long replay does not grow
    // (0 logs none; open descriptors are followed all the same).
    void record(Access::Kind kind, const std::string& path, int fd, std::uint64_t offset = 0);
    std::vector<Access> accesses() const;
    std::size_t count(Access::Kind kind, const std::string& path) const;
    // Paths opened and not closed again, however long ago they were opened.
    std::vector<std::string> still_open() const;
    std::size_t log_limit = 65536;

private:
    bool hidden_by_kernel(const std::string& path) const;
    std::map<std::string, DeviceFactory> devices_;
    mutable std::mutex log_mutex_;
    std::deque<Access> log_;
    std::map<int, std::string> open_;  // by descriptor
};

// The machine that the simulated platform serves. Loaded on first use from the capture
// directory named by QARVEL_MACHINE, or from the built-in sample server.
Machine& current();
// Replaces the machine that is served (tests build their own).
void use(std::shared_ptr<Machine> machine);

}  // namespace sim

#endif
