// Forwarding to an external BMC over the "VM" protocol: a peer of our own on the loopback
// checks the framing, the escapes and the checksums byte by byte, and answers with the
// same, with control commands and damaged messages mixed in. Also the ipmi/forward file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/Bmc.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A listening socket on 127.0.0.1 and the one peer it accepts.
class Peer {
public:
    Peer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
    }
    ~Peer() {
        if (fd_ >= 0) ::close(fd_);
        ::close(listener_);
    }

    // Bytes received until `count` message ends (A0h) have come, or two seconds pass.
    Bytes Receive(int count) {
        if (fd_ < 0) fd_ = ::accept(listener_, nullptr, nullptr);
        Bytes in;
        int ends = 0;
        while (ends < count) {
            pollfd one{fd_, POLLIN, 0};
            if (::poll(&one, 1, 2000) <= 0) break;
            std::uint8_t b = 0;
            if (::recv(fd_, &b, 1, 0) != 1) break;
            in.push_back(b);
            ends += b == 0xA0;
        }
        return in;
    }
    void Send(const Bytes& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    std::uint16_t port = 0;

private:
    int listener_ = -1, fd_ = -1;
};

// A message as it goes on the wire: the bytes, their checksum, escapes, A0h.
Bytes Framed(Bytes message) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : message) sum = static_cast<std::uint8_t>(sum + b);
    message.push_back(static_cast<std::uint8_t>(-sum));
    Bytes out;
    for (std::uint8_t b : message) {
        if (b == 0xA0 || b == 0xA1 || b == 0xAA) {
            out.push_back(0xAA);
            out.push_back(static_cast<std::uint8_t>(b | 0x10));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0xA0);
    return out;
}

TEST(VmLink, FramesEscapesAndChecksumsBothWays) {
    Peer peer;
    sim::Bmc bmc;
    bmc.forward_to("127.0.0.1", peer.port);
    ASSERT_TRUE(bmc.forwarding());

    sim::BmcRequest request;
    request.netfn = 0x0A;
    request.cmd = 0x23;
    request.data = {0xA0, 0xA1, 0xAA, 0x00, 0x05, 0xFF};  // every byte that needs an escape
    sim::BmcResponse response;
    std::thread bmc_side([&] { response = bmc.handle(request); });

    // The version command first, as QEMU sends it, then our request with sequence 1.
    const Bytes got = peer.Receive(1);
    Bytes expected = {0xFF, 0x01, 0xA1};
    const Bytes message = Framed({0x01, 0x0A << 2, 0x23, 0xA0, 0xA1, 0xAA, 0x00, 0x05, 0xFF});
    expected.insert(expected.end(), message.begin(), message.end());
    EXPECT_EQ(got, expected);
    // On the wire the marker bytes only ever end something.
    EXPECT_EQ(std::count(message.begin(), message.end() - 1, 0xA0), 0);

    // The answer, behind a control command, an answer with a bad checksum and one to another
    // sequence number: only ours is taken.
    Bytes answer = {0x00, 0xA1};  // "no attention"
    Bytes bad = Framed({0x01, 0x0B << 2, 0x23, 0x00, 0x11});
    bad[bad.size() - 2] ^= 0x01;
    const Bytes other = Framed({0x07, 0x0B << 2, 0x23, 0x00, 0x22});
    const Bytes ours = Framed({0x01, 0x0B << 2, 0x23, 0x00, 0xFF, 0xFF, 0xA0, 0xAA, 0x01});
    for (const Bytes& part : {bad, other, ours}) answer.insert(answer.end(), part.begin(), part.end());
    peer.Send(answer);
    bmc_side.join();
    EXPECT_EQ(response.completion, 0x00);
    EXPECT_EQ(response.data, (Bytes{0xFF, 0xFF, 0xA0, 0xAA, 0x01}));

    // The next request goes on the same connection with the next sequence number, and a
    // refusal comes back as its completion code.
    std::thread again([&] { response = bmc.handle(request); });
    const Bytes second = peer.Receive(1);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second[0], 0x02);
    peer.Send(Framed({0x02, 0x0B << 2, 0x23, 0xCA}));
    again.join();
    EXPECT_EQ(response.completion, 0xCA);
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(bmc.log().size(), 2u);  // logged as any other request
}

TEST(VmLink, NoPeerIsAnUnansweredRequest) {
    std::uint16_t port = 0;
    {
        Peer gone;
        port = gone.port;
    }
    sim::Bmc bmc;
    bmc.forward_to("127.0.0.1", port);
    sim::BmcRequest request;
    request.netfn = 0x06;
    request.cmd = 0x01;
    EXPECT_EQ(bmc.handle(request).completion, 0xFF);
}

TEST(VmLink, TheForwardFile) {
    const fs::path dir = fs::temp_directory_path() / ("qarvel-forward-" + std::to_string(::getpid()));
    fs::create_directories(dir / "ipmi");
    auto load = [&](const std::string& text, std::string& error) {
        std::ofstream(dir / "ipmi/forward") << text;
        return sim::load_machine(dir.string(), error);
    };
    std::string error;
    auto machine = load("127.0.0.1:9002\n", error);
    ASSERT_NE(machine, nullptr) << error;
    ASSERT_NE(machine->bmc, nullptr);
    EXPECT_TRUE(machine->bmc->forwarding());
    EXPECT_NE(load("[::1]:623", error), nullptr) << error;
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":623", "127.0.0.1:0", "127.0.0.1:70000", "a b:623",
                            "127.0.0.1:-5"}) {
        error.clear();
        EXPECT_EQ(load(bad, error), nullptr) << bad;
        EXPECT_EQ(error, "ipmi/forward:1: expected HOST:PORT") << bad;
    }
    fs::remove_all(dir);
}

}  // namespace
