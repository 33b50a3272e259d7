// The IPMI transport: the source table of IPMI devices, the family's hold on the one it
// opened, and each driver's way of sending a request.
#include "IPMI/transport.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "IPMI/IPMIbase.h"
#include "platform/platform.h"

int hDevice = 0;
int InitOK = 0;

namespace {

// Status registers of the system interfaces (IPMI 2.0 9.4, 14.2 at their usual I/O
// addresses): a bus with nothing behind them reads all ones.
constexpr unsigned short kKcsStatusPort = 0xCA3;
constexpr unsigned short kSmicStatusPort = 0xCAA;

constexpr int kWaitLimit = 3000;
constexpr const char* kClassicPath = "/dev/ipmi";
// Answers of others (events, late answers to a request we gave up on) skipped while waiting
// for ours, before we give up.
constexpr int kMostForeignMessages = 16;

// Retries. A BMC answers busy while its repository is being written, its firmware updated
// or itself started (0xC0 node busy, 0xD0-0xD2 "response could not be provided"), and out of
// space (0xC4) while its message buffers are full; none of these carried the request out, so
// asking again is safe. FreeIPMI reads them the same way and retries; ipmitool retries a LAN
// request four times by default. Four more tries, 20 ms apart at first and doubling, give
// the BMC 300 ms in all, about the time a KCS BMC takes to work through a queue of
// requests, while a poll on a BMC that stays busy still returns within a third of a second.
constexpr int kMostBusyTries = 5;
constexpr unsigned int kFirstBackoffUs = 20000;
// A request that timed out (no answer within the wait, or 0xC3 "timeout while processing")
// is tried once more: each try already cost the whole wait, and a BMC silent twice in a row
// is not coming back within a call.
constexpr int kMostTimeoutTries = 2;
constexpr unsigned char kNodeBusy = 0xC0, kBmcTimeout = 0xC3, kOutOfSpace = 0xC4, kRepositoryUpdating = 0xD0,
                        kBmcInitializing = 0xD2;

bool BusyAnswer(unsigned char code) {
    return code == kNodeBusy || code == kOutOfSpace || (code >= kRepositoryUpdating && code <= kBmcInitializing);
}

// A request that timed out may have been carried out all the same. Every request this
// library sends may be repeated then (reads; writes of the same values: thresholds, the
// watchdog's settings, its reset, user names and passwords, LAN parameters; a reservation,
// which a repeat only renews) except taking the LAN parameters' "set in progress" lock: if
// the first one took it, the repeat is refused as held by someone else, and a write that
// went through would read as failed.
constexpr unsigned char kTransportNetFn = 0x0C, kSetLanParameter = 0x01, kSetInProgress = 0x00;
bool RepeatableAfterTimeout(const IMBPREQUESTDATA& request) {
    const bool setInProgress = request.netFn == kTransportNetFn && request.cmdType == kSetLanParameter &&
                               request.dataLength >= 2 && request.data && request.data[1] == kSetInProgress;
    return !setInProgress;
}

// The mainline driver answers this ioctl on any of its nodes; the classic one does not.
bool IsMainlineDriver(int fd) {
    unsigned int address = 0;
    return platform::ioctl(fd, IPMICTL_GET_MY_ADDRESS_CMD, &address) == 0;
}

// The classic device. A descriptor left from a probe that found no interface is reused, not
// opened twice.
bool ReadClassic(IpmiDevice& device, const char*&, char* why, std::size_t size) {
    if (!device.owned) {
        const int fd = platform::open(kClassicPath, O_RDONLY);
        if (fd < 0) return qarvel::Refuse(why, size, "opening", kClassicPath, errno);
        device.fd = fd;
        device.owned = true;
        // Some systems name the mainline driver's node /dev/ipmi: it takes its own ioctls.
        if (IsMainlineDriver(fd)) {
            device.mainline = true;
            device.path = kClassicPath;
            device.ready = true;
            return true;
        }
    }
    if (platform::iopl(3) != 0) return qarvel::Refuse(why, size, "port privilege refused for", kClassicPath, errno);
    device.portsProbed = true;
    device.kcs = platform::inb(kKcsStatusPort) != 0xFF ? 1 : 0;
    device.smic = platform::inb(kSmicStatusPort) != 0xFF ? 1 : 0;
    platform::iopl(0);
    if (!device.kcs && !device.smic) return qarvel::Refuse(why, size, "no KCS or SMIC interface behind", kClassicPath);
    device.mainline = false;
    device.path = kClassicPath;
    device.ready = true;
    return true;
}

// With the mainline driver the kernel has found the system interface (KCS, SMIC, BT or SSIF)
// itself: an open node is a BMC we can reach, without port privilege. Each of its rows names
// the node it opens.
bool ReadMainline(IpmiDevice& device, const char*& node, char* why, std::size_t size) {
    // The driver checks no access mode on its ioctls: read-only is enough, as for /dev/ipmi.
    const int fd = platform::open(node, O_RDONLY);
    if (fd < 0) return qarvel::Refuse(why, size, "opening", node, errno);
    if (device.owned && fd != device.fd) platform::close(device.fd);
    device.fd = fd;
    device.owned = true;
    device.mainline = true;
    device.path = node;
    device.ready = true;
    return true;
}

// In the order they are tried when none has answered before: the classic device first,
// then the mainline driver's nodes where udev and the older device scripts put its first
// interface.
const qarvel::Source<IpmiDevice> kIpmiSources[] = {
    {kClassicPath, nullptr, ReadClassic},
    {"/dev/ipmi0", nullptr, ReadMainline},
    {"/dev/ipmi/0", nullptr, ReadMainline},
    {"/dev/ipmidev/0", nullptr, ReadMainline},
};

}  // namespace

void IpmiTransport::Publish() const {
    hDevice = device_.fd;
    InitOK = device_.ready ? 1 : 0;
}

void IpmiTransport::Join() { __atomic_add_fetch(&liveObjects_, 1, __ATOMIC_ACQ_REL); }

void IpmiTransport::Leave() {
    if (__atomic_sub_fetch(&liveObjects_, 1, __ATOMIC_ACQ_REL) != 0) return;
    if (device_.owned) platform::close(device_.fd);
    device_ = IpmiDevice{};
    Publish();
}

int IpmiTransport::Open(qarvel::ProbeRecord& record, int& kcs, int& smic) {
    if (device_.ready) return 0;
    device_.portsProbed = false;
    const qarvel::Source<IpmiDevice>* row =
        qarvel::Probe(kIpmiSources, device_, record, chosen_ >= 0 ? static_cast<std::size_t>(chosen_) : 0);
    Publish();
    if (device_.portsProbed) {
        kcs = device_.kcs;
        smic = device_.smic;
    }
    if (row) {
        chosen_ = static_cast<int>(row - kIpmiSources);
        return 0;
    }
    // The classic device opened and its ports were read: only the interface is missing.
    return device_.portsProbed ? 0 : -1;
}

void IpmiTransport::Forget() {
    chosen_ = -1;
    answered_ = nullptr;
    lastMessageId_ = 0;
    stillBusy_ = false;
}

IpmiAnswer IpmiTransport::SendOnce(const IMBPREQUESTDATA& request, int wait, Delivery& delivery) {
    IpmiAnswer answer;
    delivery = device_.mainline ? SendMainline(request, wait, answer) : SendClassic(request, wait, answer);
    answer.answered = delivery == Delivery::Answered;
    if (!answer.answered) {
        answer.completion = kIpmiNoAnswer;
        answer.length = 0;
        return answer;
    }
    answered_ = device_.path;
    return answer;
}

IpmiAnswer IpmiTransport::Send(const IMBPREQUESTDATA& request, int wait) {
    if (!device_.ready) return IpmiAnswer{};
    unsigned int backoff = kFirstBackoffUs;
    for (int tries = 1;; ++tries) {
        Delivery delivery = Delivery::Failed;
        IpmiAnswer answer = SendOnce(request, wait, delivery);
        const bool timedOut =
            delivery == Delivery::TimedOut || (answer.answered && answer.completion == kBmcTimeout);
        const bool busy = answer.answered && BusyAnswer(answer.completion);
        if (!timedOut && !busy) {
            if (delivery == Delivery::Answered) stillBusy_ = false;
            return answer;
        }
        const int bound = stillBusy_ ? 1 : timedOut ? kMostTimeoutTries : kMostBusyTries;
        if (tries >= bound || (timedOut && !RepeatableAfterTimeout(request))) {
            stillBusy_ = tries >= bound;
            return answer;
        }
        // A timeout has waited already; a busy BMC is given time before the next try.
        if (busy) {
            platform::usleep(backoff);
            backoff *= 2;
        }
    }
}

IpmiAnswer IpmiTransport::Exchange(unsigned char netFn, unsigned char cmd, const unsigned char* data, int length) {
    IMBPREQUESTDATA request{};
    request.cmdType = cmd;
    request.netFn = netFn;
    // The drivers only read the data.
    request.data = length > 0 ? const_cast<unsigned char*>(data) : nullptr;
    request.dataLength = length > 0 ? length : 0;
    return Send(request, kWaitLimit);
}

IpmiTransport::Delivery IpmiTransport::SendClassic(const IMBPREQUESTDATA& request, int wait,
                                                   IpmiAnswer& answer) const {
    ipmi_send_message message{};
    message.req.cmd_type = request.cmdType;
    message.req.resp_slave_addr = 0xFF;
    message.req.bus_type = request.busType;
    message.req.net_func = request.netFn;
    message.req.resp_lun = request.rsLun;
    message.req.data = request.data;
    message.req.data_length = request.dataLength > 0 ? static_cast<unsigned int>(request.dataLength) : 0u;
    message.timeout = static_cast<unsigned int>(wait);
    message.resp_data_ptr = answer.bytes;
    message.resp_data_len = IMB_RESPONSE_SIZE;
    if (platform::ioctl(device_.fd, IMB_SEND_MESSAGE, &message) < 0)
        return errno == ETIMEDOUT ? Delivery::TimedOut : Delivery::Failed;
    answer.completion = message.completion_code;
    // The driver cannot have stored more than the room it was given.
    answer.length =
        static_cast<int>(message.resp_data_len < IMB_RESPONSE_SIZE ? message.resp_data_len : IMB_RESPONSE_SIZE);
    return Delivery::Answered;
}

IpmiTransport::Delivery IpmiTransport::SendMainline(const IMBPREQUESTDATA& request, int wait, IpmiAnswer& answer) {
    if (request.dataLength < 0 || request.dataLength > 0xFFFF) return Delivery::Failed;
    ipmi_system_interface_addr bmc{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, request.rsLun};
    ipmi_req out{};
    out.addr = reinterpret_cast<unsigned char*>(&bmc);
    out.addr_len = sizeof bmc;
    // Never 0, so that a zeroed answer cannot pass for ours.
    lastMessageId_ = lastMessageId_ == 0x7FFFFFFF ? 1 : lastMessageId_ + 1;
    out.msgid = lastMessageId_;
    out.msg.netfn = request.netFn;
    out.msg.cmd = request.cmdType;
    out.msg.data_len = static_cast<unsigned short>(request.dataLength);
    out.msg.data = request.data;
    if (platform::ioctl(device_.fd, IPMICTL_SEND_COMMAND, &out) < 0) return Delivery::Failed;

    // The completion code comes first, then up to a response buffer's worth of data.
    unsigned char received[IMB_RESPONSE_SIZE + 1];
    for (int foreign = 0; foreign <= kMostForeignMessages; ++foreign) {
        short ready = 0;
        const int polled = platform::poll(device_.fd, POLLIN, wait > 0 ? wait : 0, &ready);
        if (polled == 0) return Delivery::TimedOut;
        if (polled < 0) return Delivery::Failed;
        unsigned char from[IPMI_ADDR_ROOM];
        ipmi_recv in{};
        in.addr = from;
        in.addr_len = sizeof from;
        in.msg.data = received;
        in.msg.data_len = sizeof received;
        // A longer answer than we have room for arrives cut, with EMSGSIZE.
        if (platform::ioctl(device_.fd, IPMICTL_RECEIVE_MSG_TRUNC, &in) < 0 && errno != EMSGSIZE) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return Delivery::Failed;
        }
        if (in.recv_type != IPMI_RESPONSE_RECV_TYPE || in.msgid != out.msgid) continue;
        if (in.msg.data_len < 1) return Delivery::Failed;
        answer.completion = received[0];
        const unsigned int held = in.msg.data_len < sizeof received ? in.msg.data_len : sizeof received;
        answer.length = static_cast<int>(held - 1);
        std::memcpy(answer.bytes, received + 1, held - 1);
        return Delivery::Answered;
    }
    return Delivery::Failed;
}
