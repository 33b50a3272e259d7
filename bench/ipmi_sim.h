// OpenIPMI's ipmi_sim for the benchmarks: started with a LAN port for ipmitool and a "VM"
// listener for the library (through a capture's ipmi/forward), and a UDP proxy between
// ipmitool and the LAN port that counts the IPMI 1.5 requests it forwards, by network
// function and command: what the benchmarks set beside the library's own counts.
#ifndef QARVEL_BENCH_IPMI_SIM_H
#define QARVEL_BENCH_IPMI_SIM_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>

namespace bench {

// Requests counted: all of them but the session's, and two commands of the caller's choice.
struct Counts {
    std::size_t all = 0, first = 0, second = 0;
};

constexpr std::uint8_t kApp = 0x06;

inline void StopIpmiSim(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

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

// ipmitool over IPMI 1.5 LAN without authentication, up to the port number.
constexpr const char* kIpmitool = "timeout 300 ipmitool -I lan -A NONE -H 127.0.0.1 -U admin -P bench -p ";

// Writes DIR/lan.conf (the LAN on port `lan`, the VM listener on `vm`) and
// DIR/capture/ipmi/forward, starts ipmi_sim on DIR/bmc.emu with its state in DIR/state, and
// waits until ipmitool reaches it: the process, or -1 when it never answered (then stopped).
inline pid_t StartIpmiSim(const std::filesystem::path& dir, int lan, int vm) {
    std::ofstream(dir / "lan.conf") << "name \"bench\"\nset_working_mc 0x20\n  startlan 1\n    addr 127.0.0.1 " << lan
                                    << "\n    priv_limit admin\n    allowed_auths_admin none md2 md5 straight\n"
                                    << "    guid a123456789abcdefa123456789abcdef\n  endlan\n"
                                    << "  serial 15 127.0.0.1 " << vm << " codec VM\n"
                                    << "  user 2 true \"admin\" \"bench\" admin 10 none md2 md5 straight\n";
    std::filesystem::create_directories(dir / "capture/ipmi");
    std::ofstream(dir / "capture/ipmi/forward") << "127.0.0.1:" << vm << "\n";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int none = ::open("/dev/null", O_RDWR);
        ::dup2(none, 0), ::dup2(none, 1), ::dup2(none, 2);
        ::execlp("ipmi_sim", "ipmi_sim", "-n", "-c", (dir / "lan.conf").c_str(), "-f", (dir / "bmc.emu").c_str(), "-s",
                 (dir / "state").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string probe = kIpmitool + std::to_string(lan) + " mc info >/dev/null 2>&1";
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (std::system(probe.c_str()) == 0) return pid;
    }
    StopIpmiSim(pid);
    return -1;
}

}  // namespace bench

#endif
