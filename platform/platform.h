// The one door to the hardware. Everything the library does to the machine (device and
// /proc files, ioctls, I/O ports, child processes, sleeping) goes through these calls.
// platform/linux.cpp implements them with the real system calls; sim/ implements them
// against a simulated machine. Which one is used is decided at link time.
#ifndef QARVEL_PLATFORM_PLATFORM_H
#define QARVEL_PLATFORM_PLATFORM_H

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// Files and devices, with the semantics of the system calls of the same name
// (a negative result is a failure and sets errno).
int open(const char* path, int flags);
long read(int fd, void* buffer, unsigned long count);
long long lseek(int fd, long long offset, int whence);  // 64-bit offsets on every target
int close(int fd);
int ioctl(int fd, unsigned long request, void* argument);
// Reads until `count` bytes are held, the end of the file, or a failed read, and gives the
// number of bytes held: a short read is no end of file. `error` receives the errno of a read
// that failed, 0 when none did. Never reads past `count`.
inline std::size_t read_all(int fd, void* buffer, std::size_t count, int& error) {
    std::size_t done = 0;
    error = 0;
    while (done < count) {
        const long n = read(fd, static_cast<char*>(buffer) + done, count - done);
        if (n < 0) error = errno;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}
// True when the directory exists and can be opened.
bool directory_exists(const char* path);
// The entries of a directory (without "." and ".."), sorted by name. False with errno set
// when it cannot be read.
bool list_directory(const char* path, std::vector<std::string>& names);
// The target of the symbolic link at `path` (its last component), as written; false with
// errno set when `path` is no link.
bool read_link(const char* path, std::string& target);

// poll(2) on one descriptor: 1 when one of `events` (POLLIN...) is ready, with the ready
// events in *revents; 0 when timeout_ms passed first; -1 with errno set.
int poll(int fd, short events, int timeout_ms, short* revents);

// A read-only shared mapping of `length` bytes of fd from `offset` (a multiple of the page
// size), as mmap(2) makes it; null with errno set when it cannot be made. munmap undoes it.
void* mmap(int fd, long long offset, std::size_t length);
int munmap(void* address, std::size_t length);

// The Linux _llseek system call: moves fd by (offset_high << 32 | offset_low) from
// origin and stores the new position in *result. 0 or -1 with errno set.
int llseek(unsigned int fd, unsigned long offset_high, unsigned long offset_low,
           long long* result, unsigned int origin);

// x86 port I/O.
int iopl(int level);
unsigned char inb(unsigned short port);
unsigned int inl(unsigned short port);
void outl(unsigned short port, unsigned int value);

// Runs the program at the absolute `path`, with no arguments, no shell and an environment of
// its own (the C locale and nothing else: nothing of the caller's PATH or environment
// reaches it), and collects its standard output: at most size - 1 bytes are stored,
// followed by a NUL. Returns the number of bytes stored, -1 with errno set when the program
// could not be started.
long run_program(const char* path, char* output, std::size_t size);

// Time.
unsigned int sleep(unsigned int seconds);
int usleep(unsigned int microseconds);
// Milliseconds on a clock that only moves forward (not the time of day, which may be set
// back): for measuring how long ago something was done.
unsigned long long monotonic_ms();

}  // namespace platform

#endif
