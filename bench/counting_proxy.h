// A UDP proxy between one IPMI LAN client (ipmitool) and a BMC's LAN port that counts the
// IPMI 1.5 requests it forwards, by network function and command: what the benchmarks set
// beside the library's own counts.
#ifndef QARVEL_BENCH_COUNTING_PROXY_H
#define QARVEL_BENCH_COUNTING_PROXY_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <thread>
#include <utility>

namespace bench {

// Requests counted: all of them but the session's, and two commands of the caller's choice.
struct Counts {
    std::size_t all = 0, first = 0, second = 0;
};

constexpr std::uint8_t kApp = 0x06;

inline sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

// Forwards UDP datagrams between one client and the BMC's LAN port, counting the IPMI 1.5
// requests the client sends by network function and command.
class CountingProxy {
public:
    // `first` and `second` are the (network function, command) pairs counted apart.
    using Command = std::pair<std::uint8_t, std::uint8_t>;
    CountingProxy(int listen, int bmc, Command first, Command second)
        : bmc_(Loopback(bmc)), first_(first), second_(second) {
        front_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        back_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = Loopback(listen);
        ::bind(front_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        thread_ = std::thread([this] { Run(); });
    }
    ~CountingProxy() {
        stop_ = true;
        thread_.join();
        ::close(front_);
        ::close(back_);
    }
    // Requests other than the session's own (authentication capabilities, challenge,
    // activation, privilege, close).
    Counts Requests() {
        Counts c;
        for (const auto& [key, n] : counts_) {
            const bool session = key.first == kApp && key.second >= 0x38 && key.second <= 0x3C;
            if (session) continue;
            c.all += n;
            if (key == first_) c.first = n;
            if (key == second_) c.second = n;
        }
        return c;
    }

private:
    void Count(const unsigned char* p, ssize_t n) {
        // RMCP header (4), then the IPMI 1.5 session header: auth type, sequence, session
        // ID, a 16-byte authentication code unless the type is none, the message length;
        // then the message: rsSA, netFn/LUN, checksum, rqSA, rqSeq/LUN, command.
        if (n < 5 || p[0] != 0x06 || (p[3] & 0x1F) != 0x07) return;
        const ssize_t message = p[4] == 0 ? 14 : 30;
        if (n < message + 6) return;
        ++counts_[{static_cast<std::uint8_t>(p[message + 1] >> 2), p[message + 5]}];
    }
    void Run() {
        sockaddr_in client{};
        socklen_t clientLength = 0;
        unsigned char buffer[2048];
        while (!stop_) {
            pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
            if (::poll(fds, 2, 100) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                clientLength = sizeof client;
                ssize_t n = ::recvfrom(front_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&client), &clientLength);
                if (n > 0) {
                    Count(buffer, n);
                    ::sendto(back_, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<const sockaddr*>(&bmc_), sizeof bmc_);
                }
            }
            if ((fds[1].revents & POLLIN) && clientLength > 0) {
                ssize_t n = ::recv(back_, buffer, sizeof buffer, 0);
                if (n > 0) ::sendto(front_, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&client), clientLength);
            }
        }
    }

    sockaddr_in bmc_;
    Command first_, second_;
    int front_ = -1, back_ = -1;
    std::atomic<bool> stop_{false};
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::size_t> counts_;
    std::thread thread_;
};

}  // namespace bench

#endif
