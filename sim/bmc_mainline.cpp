// The mainline Linux IPMI driver in front of the simulated BMC (drivers/char/ipmi/
// ipmi_devintf.c): a request goes in with IPMICTL_SEND_COMMAND addressed to the system
// interface, its answer waits in the open file's queue until poll reports it and
// IPMICTL_RECEIVE_MSG_TRUNC takes it out, completion code first.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "IPMI/ImbDriver.h"
#include "sim/Bmc.h"
#include "sim/Machine.h"

namespace sim {

namespace {

// IPMI_MAX_MSG_LENGTH: the largest message the driver passes either way.
constexpr std::size_t kMaxMessage = 272;
// The BMC's own slave address, which the driver puts on every system-interface request.
constexpr std::uint8_t kBmcAddress = 0x20;

class MainlineDevice : public Node {
public:
    explicit MainlineDevice(std::shared_ptr<Bmc> bmc) : bmc_(std::move(bmc)) {}

    long read(std::uint64_t, void*, std::size_t) override { return -EINVAL; }

    short poll(short events) override { return answers_.empty() ? 0 : static_cast<short>(events & POLLIN); }

    int ioctl(unsigned long request, void* argument) override {
        if (!argument) return -EFAULT;
        if (request == IPMICTL_SEND_COMMAND) return send(*static_cast<ipmi_req*>(argument));
        if (request == IPMICTL_RECEIVE_MSG_TRUNC) return receive(*static_cast<ipmi_recv*>(argument));
        if (request == IPMICTL_GET_MY_ADDRESS_CMD) {
            *static_cast<unsigned int*>(argument) = kBmcAddress;
            return 0;
        }
        return -ENOTTY;  // the classic driver's ioctl among them
    }

private:
    struct Answer {
        long msgid;
        std::uint8_t netfn, cmd, lun;
        std::vector<std::uint8_t> data;  // completion code first
    };

    int send(const ipmi_req& req) {
        if (!req.addr || req.addr_len < sizeof(ipmi_system_interface_addr)) return -EINVAL;
        ipmi_system_interface_addr to{};
        std::memcpy(&to, req.addr, sizeof to);
        // Only the BMC itself is served here; IPMB bridging is another address type.
        if (to.addr_type != IPMI_SYSTEM_INTERFACE_ADDR_TYPE || to.channel != IPMI_BMC_CHANNEL || to.lun > 3)
            return -EINVAL;
        if (req.msg.data_len > kMaxMessage) return -EMSGSIZE;
        if (req.msg.data_len > 0 && !req.msg.data) return -EFAULT;
        if (bmc_->fail_ioctl) return -EIO;

        BmcRequest in;
        in.netfn = req.msg.netfn;
        in.cmd = req.msg.cmd;
        in.responder = kBmcAddress;
        in.lun = to.lun;
        in.data.assign(req.msg.data, req.msg.data + req.msg.data_len);
        BmcResponse out = bmc_->handle(in);

        if (bmc_->lose_answers > 0) {
            --bmc_->lose_answers;
            return 0;
        }
        if (bmc_->foreign_answers > 0) {
            --bmc_->foreign_answers;
            answers_.push_back({req.msgid + 1000, in.netfn, in.cmd, in.lun, {completion::kUnspecified}});
        }
        Answer answer{req.msgid, in.netfn, in.cmd, in.lun, {out.completion}};
        answer.data.insert(answer.data.end(), out.data.begin(), out.data.end());
        if (answer.data.size() > kMaxMessage) answer.data.resize(kMaxMessage);
        answers_.push_back(std::move(answer));
        return 0;
    }

    int receive(ipmi_recv& recv) {
        if (answers_.empty()) return -EAGAIN;
        if (recv.msg.data_len > 0 && !recv.msg.data) return -EFAULT;
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        recv.recv_type = IPMI_RESPONSE_RECV_TYPE;
        const ipmi_system_interface_addr from{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, answer.lun};
        if (recv.addr && recv.addr_len >= sizeof from) std::memcpy(recv.addr, &from, sizeof from);
        recv.addr_len = sizeof from;
        recv.msgid = answer.msgid;
        recv.msg.netfn = static_cast<unsigned char>(answer.netfn | 1);  // the response's network function
        recv.msg.cmd = answer.cmd;
        const std::size_t stored = std::min<std::size_t>(answer.data.size(), recv.msg.data_len);
        if (stored > 0) std::memcpy(recv.msg.data, answer.data.data(), stored);
        recv.msg.data_len = static_cast<unsigned short>(stored);
        // The answer is taken out all the same; the caller learns it was cut.
        return stored < answer.data.size() ? -EMSGSIZE : 0;
    }

    std::shared_ptr<Bmc> bmc_;
    std::deque<Answer> answers_;
};

}  // namespace

std::shared_ptr<Node> mainline_device(std::shared_ptr<Bmc> bmc) { return std::make_shared<MainlineDevice>(std::move(bmc)); }

}  // namespace sim
