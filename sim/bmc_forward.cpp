// Forwarding the simulated BMC's requests to an external BMC simulator over the "VM"
// protocol that QEMU's ipmi-bmc-extern device and OpenIPMI's ipmi_sim speak on a TCP
// stream. A message is its bytes, each of the three marker bytes escaped, then A0h:
//
//   request:  seq, netfn << 2 | lun, cmd, data..., checksum
//   answer:   seq, netfn << 2 | lun, cmd, completion code, data..., checksum
//
// where the checksum makes all the bytes of the message add up to zero (modulo 256).
// Control commands (version, attention, power...) end with A1h instead; the BMC side's
// are read and ignored.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "sim/Bmc.h"

namespace sim {

namespace {

constexpr std::uint8_t kMessageEnd = 0xA0, kCommandEnd = 0xA1, kEscape = 0xAA;
// The escaped byte follows kEscape with bit 4 set.
constexpr std::uint8_t kEscapeBit = 0x10;
// Sent first on a new connection, as QEMU does: the protocol version.
constexpr std::uint8_t kVersionCommand = 0xFF, kProtocolVersion = 1;
// How long an answer may take before the request counts as unanswered.
constexpr int kAnswerTimeoutMs = 5000;

void Put(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    if (byte == kMessageEnd || byte == kCommandEnd || byte == kEscape) {
        out.push_back(kEscape);
        byte |= kEscapeBit;
    }
    out.push_back(byte);
}

}  // namespace

// The connection to the external BMC: made at the first request, kept until the BMC goes.
class VmLink {
public:
    VmLink(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}
    ~VmLink() {
        if (fd_ >= 0) ::close(fd_);
    }
    VmLink(const VmLink&) = delete;
    VmLink& operator=(const VmLink&) = delete;

    BmcResponse exchange(const BmcRequest& request) {
        std::lock_guard<std::mutex> lock(mutex_);
        BmcResponse response;
        response.completion = completion::kUnspecified;
        if (fd_ < 0 && !connect()) return response;

        const std::uint8_t seq = ++seq_;
        std::vector<std::uint8_t> message = {seq, static_cast<std::uint8_t>(request.netfn << 2 | (request.lun & 3)),
                                             request.cmd};
        message.insert(message.end(), request.data.begin(), request.data.end());
        std::uint8_t sum = 0;
        for (std::uint8_t b : message) sum = static_cast<std::uint8_t>(sum + b);
        message.push_back(static_cast<std::uint8_t>(-sum));
        std::vector<std::uint8_t> wire;
        for (std::uint8_t b : message) Put(wire, b);
        wire.push_back(kMessageEnd);
        if (!write_all(wire)) return drop(response);

        // Answers to requests we gave up on, and anything damaged, are passed over.
        std::vector<std::uint8_t> answer;
        while (next_message(answer)) {
            std::uint8_t check = 0;
            for (std::uint8_t b : answer) check = static_cast<std::uint8_t>(check + b);
            if (answer.size() < 5 || check != 0 || answer[0] != seq) continue;
            response.completion = answer[3];
            response.data.assign(answer.begin() + 4, answer.end() - 1);
            return response;
        }
        return drop(response);
    }

private:
    bool connect() {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found) != 0) return false;
        for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
            fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
            if (fd_ >= 0 && ::connect(fd_, a->ai_addr, a->ai_addrlen) != 0) {
                ::close(fd_);
                fd_ = -1;
            }
        }
        ::freeaddrinfo(found);
        if (fd_ < 0) return false;
        std::vector<std::uint8_t> hello;
        Put(hello, kVersionCommand);
        Put(hello, kProtocolVersion);
        hello.push_back(kCommandEnd);
        return write_all(hello) || (::close(fd_), fd_ = -1, false);
    }

    BmcResponse& drop(BmcResponse& response) {
        ::close(fd_);
        fd_ = -1;
        input_.clear();
        return response;
    }

    bool write_all(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next whole message from the stream, unescaped; false when the stream ends or
    // nothing comes in time.
    bool next_message(std::vector<std::uint8_t>& message) {
        message.clear();
        bool escaped = false;
        for (;;) {
            if (input_.empty()) {
                pollfd one{fd_, POLLIN, 0};
                if (::poll(&one, 1, kAnswerTimeoutMs) <= 0) return false;
                std::uint8_t buffer[512];
                ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
                if (n <= 0) return false;
                input_.insert(input_.end(), buffer, buffer + n);
            }
            const std::uint8_t byte = input_.front();
            input_.erase(input_.begin());
            if (byte == kMessageEnd) return true;
            if (byte == kCommandEnd) {  // a control command of the BMC side: not ours to act on
                message.clear();
                escaped = false;
            } else if (byte == kEscape) {
                escaped = true;
            } else {
                message.push_back(escaped ? static_cast<std::uint8_t>(byte & ~kEscapeBit) : byte);
                escaped = false;
            }
        }
    }

    std::string host_;
    std::uint16_t port_;
    std::mutex mutex_;
    int fd_ = -1;
    std::uint8_t seq_ = 0;
    std::vector<std::uint8_t> input_;
};

BmcResponse Bmc::forward(const BmcRequest& request) { return link_->exchange(request); }

void Bmc::forward_to(const std::string& host, std::uint16_t port) {
    link_ = std::make_shared<VmLink>(host, port);
}

}  // namespace sim
