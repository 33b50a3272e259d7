// Ports on the loopback for programs run beside the library (ipmi_sim, a proxy), shared by
// the tests and the benchmarks.
#ifndef QARVEL_TESTS_SUPPORT_LOOPBACK_H
#define QARVEL_TESTS_SUPPORT_LOOPBACK_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qtest {

// A port on 127.0.0.1 that nothing uses now, for sockets of `type` (SOCK_DGRAM...); -1 when
// none could be had.
inline int FreePort(int type) {
    int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

}  // namespace qtest

#endif
