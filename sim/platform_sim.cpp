// The simulated platform: every platform call served by the current sim::Machine.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "platform/platform.h"
#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/loader.h"

#ifndef QARVEL_SAMPLE_MACHINE
#define QARVEL_SAMPLE_MACHINE ""
#endif

namespace sim {

namespace {

std::mutex machine_mutex;
std::shared_ptr<Machine> the_machine;

// Every problem of the capture on standard error; the number of errors also on the
// descriptor named by QARVEL_SIM_STATUS_FD, where qarvel learns that its capture was refused.
void report_load_problems(const std::string& dir, const LoadProblems& problems) {
    for (const std::string& warning : problems.warnings)
        std::fprintf(stderr, "qarvel-sim: warning: %s: %s\n", dir.c_str(), warning.c_str());
    for (const std::string& error : problems.errors)
        std::fprintf(stderr, "qarvel-sim: %s: %s\n", dir.c_str(), error.c_str());
    const char* fd_text = std::getenv("QARVEL_SIM_STATUS_FD");
    if (!fd_text || !*fd_text) return;
    char* end = nullptr;
    long fd = std::strtol(fd_text, &end, 10);
    if (*end != '\0' || fd < 0 || fd > 1 << 20) return;
    char line[48];
    int n = std::snprintf(line, sizeof line, "errors %zu\n", problems.errors.size());
    if (::write(static_cast<int>(fd), line, static_cast<std::size_t>(n)) < 0) return;
}

std::shared_ptr<Machine> current_shared() {
    std::lock_guard<std::mutex> lock(machine_mutex);
    if (!the_machine) {
        const char* env = std::getenv("QARVEL_MACHINE");
        std::string dir = env && *env ? env : QARVEL_SAMPLE_MACHINE;
        LoadProblems problems;
        std::shared_ptr<Machine> loaded = load_machine(dir, problems);
        report_load_problems(dir, problems);
        if (!loaded) {
            std::fprintf(stderr, "qarvel-sim: serving an empty machine\n");
            loaded = std::make_shared<Machine>();
        }
        // The access log is for tests that link the simulator and read it; nothing outside can
        // read it here, and kept for a long-running process (an exporter polling the hwmon
        // files every scrape) it would only grow to its limit.
        loaded->log_limit = 0;
        // What a process did to the BMC, kept for whoever looks after it has ended.
        const char* transcript = std::getenv("QARVEL_BMC_TRANSCRIPT");
        if (transcript && *transcript && loaded->bmc) loaded->bmc->transcript = transcript;
        the_machine = loaded;
    }
    return the_machine;
}

struct OpenFile {
    std::shared_ptr<Machine> machine;  // keeps the machine alive while the file is open
    std::shared_ptr<Node> node;
    std::string path;
    long long position = 0;
};

std::mutex files_mutex;
std::map<int, OpenFile> open_files;
int next_fd = 3;
// Mappings made by mmap: their bytes, and the length they were asked for.
std::map<void*, std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t>> mappings;

// A copy of the open file's entry (the node is shared), so no lock is held while the
// node works or a hook runs: a hook may well call the library again.
bool find(int fd, OpenFile& file) {
    std::lock_guard<std::mutex> lock(files_mutex);
    auto it = open_files.find(fd);
    if (it == open_files.end()) return false;
    file = it->second;
    return true;
}

void set_position(int fd, long long position) {
    std::lock_guard<std::mutex> lock(files_mutex);
    auto it = open_files.find(fd);
    if (it != open_files.end()) it->second.position = position;
}

long long seek(int fd, long long offset, int whence) {
    OpenFile file;
    if (!find(fd, file)) {
        errno = EBADF;
        return -1;
    }
    file.machine->record(Access::Seek, file.path, fd);
    long long base;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = file.position; break;
        case SEEK_END:
            base = file.node->size();
            if (base < 0) {
                errno = EINVAL;
                return -1;
            }
            break;
        default: errno = EINVAL; return -1;
    }
    long long position = base + offset;
    if (position < 0) {
        errno = EINVAL;
        return -1;
    }
    set_position(fd, position);
    return position;
}

}  // namespace

Machine& current() { return *current_shared(); }

void use(std::shared_ptr<Machine> machine) {
    std::lock_guard<std::mutex> lock(machine_mutex);
    the_machine = std::move(machine);
}

}  // namespace sim

namespace platform {

using sim::Access;

int open(const char* path, int flags) {
    auto machine = sim::current_shared();
    // Logged with the descriptor it gave, -1 for an open that failed.
    if ((flags & O_ACCMODE) != O_RDONLY) {
        machine->record(Access::Open, path, -1);
        errno = EACCES;  // the simulated machine is read-only to the library
        return -1;
    }
    int error = 0;
    auto node = machine->open(path, error);
    if (!node) {
        machine->record(Access::Open, path, -1);
        errno = error;
        return -1;
    }
    int fd;
    {
        std::lock_guard<std::mutex> lock(sim::files_mutex);
        fd = sim::next_fd++;
        sim::open_files[fd] = sim::OpenFile{machine, node, path, 0};
    }
    machine->record(Access::Open, path, fd);
    return fd;
}

long read(int fd, void* buffer, unsigned long count) {
    sim::OpenFile file;
    if (!sim::find(fd, file)) {
        errno = EBADF;
        return -1;
    }
    file.machine->record(Access::Read, file.path, fd, static_cast<std::uint64_t>(file.position));
    if (file.machine->on_read) file.machine->on_read(file.path);
    long n = file.node->read(static_cast<std::uint64_t>(file.position), buffer, count);
    if (n < 0) {
        errno = static_cast<int>(-n);
        return -1;
    }
    sim::set_position(fd, file.position + n);
    return n;
}

long long lseek(int fd, long long offset, int whence) { return sim::seek(fd, offset, whence); }

int close(int fd) {
    sim::OpenFile file;
    {
        std::lock_guard<std::mutex> lock(sim::files_mutex);
        auto it = sim::open_files.find(fd);
        if (it == sim::open_files.end()) {
            sim::current_shared()->record(Access::Close, "", fd);
            errno = EBADF;
            return -1;
        }
        file = it->second;
        sim::open_files.erase(it);
    }
    file.machine->record(Access::Close, file.path, fd);
    return 0;
}

int ioctl(int fd, unsigned long request, void* argument) {
    sim::OpenFile file;
    if (!sim::find(fd, file)) {
        errno = EBADF;
        return -1;
    }
    file.machine->record(Access::Ioctl, file.path, fd);
    int result = file.node->ioctl(request, argument);
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

bool directory_exists(const char* path) {
    auto machine = sim::current_shared();
    machine->record(Access::Open, path, -1);
    return machine->directory_exists(path);
}

bool list_directory(const char* path, std::vector<std::string>& names) {
    auto machine = sim::current_shared();
    machine->record(Access::Open, path, -1);
    names.clear();
    if (!machine->directory_exists(path)) {
        errno = machine->files.is_directory(path) ? EACCES : ENOENT;
        return false;
    }
    names = machine->list_directory(path);
    return true;
}

bool read_link(const char* path, std::string& target) {
    auto machine = sim::current_shared();
    machine->record(Access::Open, path, -1);
    if (!machine->files.link_target(path, target)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// Nothing really waits: a node that is not ready lets the whole timeout pass on the clock.
int poll(int fd, short events, int timeout_ms, short* revents) {
    sim::OpenFile file;
    if (!sim::find(fd, file)) {
        errno = EBADF;
        return -1;
    }
    file.machine->record(Access::Poll, file.path, fd);
    short ready = file.node->poll(events);
    if (revents) *revents = ready;
    if (ready) return 1;
    if (timeout_ms > 0) file.machine->clock.sleep_us(static_cast<std::uint64_t>(timeout_ms) * 1000u);
    return 0;
}

void* mmap(int fd, long long offset, std::size_t length) {
    sim::OpenFile file;
    if (!sim::find(fd, file)) {
        errno = EBADF;
        return nullptr;
    }
    if (offset < 0 || offset % 4096 != 0 || length == 0) {
        errno = EINVAL;
        return nullptr;
    }
    file.machine->record(Access::Map, file.path, fd, static_cast<std::uint64_t>(offset));
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[length]);
    if (!bytes) {
        errno = ENOMEM;
        return nullptr;
    }
    int result = file.node->map(static_cast<std::uint64_t>(offset), bytes.get(), length);
    if (result < 0) {
        errno = -result;
        return nullptr;
    }
    void* address = bytes.get();
    std::lock_guard<std::mutex> lock(sim::files_mutex);
    sim::mappings[address] = {std::move(bytes), length};
    return address;
}

int munmap(void* address, std::size_t length) {
    std::lock_guard<std::mutex> lock(sim::files_mutex);
    auto it = sim::mappings.find(address);
    if (it == sim::mappings.end() || it->second.second != length) {
        errno = EINVAL;
        return -1;
    }
    sim::mappings.erase(it);
    return 0;
}

int llseek(unsigned int fd, unsigned long offset_high, unsigned long offset_low, long long* result,
           unsigned int origin) {
    long long offset = static_cast<long long>((static_cast<unsigned long long>(offset_high) << 32) |
                                              (offset_low & 0xFFFFFFFFUL));
    long long position = sim::seek(static_cast<int>(fd), offset, static_cast<int>(origin));
    if (position < 0) return -1;
    *result = position;
    return 0;
}

int iopl(int level) {
    auto machine = sim::current_shared();
    if (level < 0 || level > 3) {
        errno = EINVAL;
        return -1;
    }
    if (level > 0 && (!machine->ports.grant_iopl || machine->lockdown)) {
        errno = EPERM;
        return -1;
    }
    machine->ports.level = level;
    return 0;
}

unsigned char inb(unsigned short port) {
    return static_cast<unsigned char>(sim::current_shared()->ports.in(port, 1));
}

unsigned int inl(unsigned short port) { return sim::current_shared()->ports.in(port, 4); }

void outl(unsigned short port, unsigned int value) { sim::current_shared()->ports.out(port, 4, value); }

// A program of the machine is found by its name, wherever the library looks for it: what it
// prints is the machine's `programs` entry. A program the machine lacks cannot be started,
// as exec would fail.
long run_program(const char* path, char* output, std::size_t size) {
    if (!path || path[0] != '/' || !output || size == 0) {
        errno = EINVAL;
        return -1;
    }
    output[0] = '\0';
    auto machine = sim::current_shared();
    machine->record(Access::Open, std::string("exec:") + path, -1);
    const std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
    auto known = machine->programs.find(name);
    if (known == machine->programs.end()) {
        errno = ENOENT;
        return -1;
    }
    std::size_t stored = std::min(known->second.size(), size - 1);
    std::memcpy(output, known->second.data(), stored);
    output[stored] = '\0';
    return static_cast<long>(stored);
}

unsigned int sleep(unsigned int seconds) {
    sim::current_shared()->clock.sleep_us(static_cast<std::uint64_t>(seconds) * 1000000u);
    return 0;
}

int usleep(unsigned int microseconds) {
    sim::current_shared()->clock.sleep_us(microseconds);
    return 0;
}

unsigned long long monotonic_ms() { return sim::current_shared()->clock.now_us / 1000u; }

}  // namespace platform
