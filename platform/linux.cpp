// The real platform: thin wrappers over the system calls of an x86 Linux machine.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

int open(const char* path, int flags) { return ::open(path, flags); }

long read(int fd, void* buffer, unsigned long count) { return ::read(fd, buffer, count); }

long long lseek(int fd, long long offset, int whence) { return ::lseek64(fd, offset, whence); }

int close(int fd) { return ::close(fd); }

int ioctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }

bool directory_exists(const char* path) {
    DIR* dir = ::opendir(path);
    if (!dir) return false;
    ::closedir(dir);
    return true;
}

bool list_directory(const char* path, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(path);
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

bool read_link(const char* path, std::string& target) {
    char text[4096];
    ssize_t n = ::readlink(path, text, sizeof text);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) {
        if (n >= 0) errno = ENAMETOOLONG;
        return false;
    }
    target.assign(text, static_cast<std::size_t>(n));
    return true;
}

int poll(int fd, short events, int timeout_ms, short* revents) {
    pollfd one{fd, events, 0};
    int result = ::poll(&one, 1, timeout_ms);
    if (revents) *revents = one.revents;
    return result;
}

void* mmap(int fd, long long offset, std::size_t length) {
    // mmap64: a 32-bit caller reaches tables above 4 GiB too.
    void* address = ::mmap64(nullptr, length, PROT_READ, MAP_SHARED, fd, offset);
    return address == MAP_FAILED ? nullptr : address;
}

int munmap(void* address, std::size_t length) { return ::munmap(address, length); }

int llseek(unsigned int fd, unsigned long offset_high, unsigned long offset_low, long long* result,
           unsigned int origin) {
#if defined(__i386__)
    // syscall() already turns a kernel error into -1 with errno set.
    return static_cast<int>(::syscall(SYS__llseek, fd, offset_high, offset_low, result, origin));
#else
    // 64-bit kernels have no _llseek (number 140 is something else there): lseek is 64-bit.
    long long offset = static_cast<long long>((static_cast<unsigned long long>(offset_high) << 32) |
                                              (offset_low & 0xFFFFFFFFUL));
    long long position = ::lseek64(static_cast<int>(fd), offset, static_cast<int>(origin));
    if (position < 0) return -1;
    *result = position;
    return 0;
#endif
}

int iopl(int level) { return ::iopl(level); }

unsigned char inb(unsigned short port) { return ::inb(port); }

unsigned int inl(unsigned short port) { return ::inl(port); }

void outl(unsigned short port, unsigned int value) { ::outl(value, port); }

long run_program(const char* path, char* output, std::size_t size) {
    if (!path || path[0] != '/' || !output || size == 0) {
        errno = EINVAL;
        return -1;
    }
    output[0] = '\0';
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
    // The child's standard output is the pipe and its input /dev/null; the locale is fixed
    // so that the program's labels are never translated.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    char* const argv[] = {const_cast<char*>(path), nullptr};
    char* const envp[] = {const_cast<char*>("LC_ALL=C"), nullptr};
    pid_t child = -1;
    // posix_spawn, not posix_spawnp: the path is taken as given, never searched for.
    const int failed = ::posix_spawn(&child, path, &actions, nullptr, argv, envp);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_ends[1]);
    if (failed != 0) {
        ::close(pipe_ends[0]);
        errno = failed;
        return -1;
    }
    std::size_t stored = 0;
    char discard[256];
    for (;;) {
        // Past the buffer the rest is drained, so the child never blocks on a full pipe.
        const bool room = stored < size - 1;
        ssize_t n = room ? ::read(pipe_ends[0], output + stored, size - 1 - stored)
                         : ::read(pipe_ends[0], discard, sizeof discard);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (room) stored += static_cast<std::size_t>(n);
    }
    output[stored] = '\0';
    ::close(pipe_ends[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return static_cast<long>(stored);
}

unsigned int sleep(unsigned int seconds) { return ::sleep(seconds); }

int usleep(unsigned int microseconds) { return ::usleep(microseconds); }

unsigned long long monotonic_ms() {
    timespec now{};
    if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<unsigned long long>(now.tv_sec) * 1000u + static_cast<unsigned long long>(now.tv_nsec) / 1000000u;
}

}  // namespace platform
