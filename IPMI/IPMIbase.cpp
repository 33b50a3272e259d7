// The IPMI transport: the shared device, the choice between the classic and the mainline
// driver, the system-interface probe and each driver's way of sending a request.
#include "IPMI/IPMIbase.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/platform.h"

int hDevice = 0;
int InitOK = 0;

namespace {

// Status registers of the system interfaces (IPMI 2.0 9.4, 14.2 at their usual I/O
// addresses): a bus with nothing behind them reads all ones.
constexpr unsigned short kKcsStatusPort = 0xCA3;
constexpr unsigned short kSmicStatusPort = 0xCAA;

constexpr int kWaitLimit = 3000;
// IPMI 2.0 5.2: "Unspecified error", reported when no answer came from the BMC.
constexpr unsigned char kNoAnswer = 0xFF;

// The family shares one descriptor; it belongs to the family only once our own open
// succeeded, and it is closed when the last object goes.
int LiveObjects = 0;
bool FamilyOwnsDevice = false;

// How requests reach the BMC. Chosen when a device first proves ready and kept for the
// process: a machine does not change its IPMI driver while we run, so a later family goes
// straight back to it.
enum class Method { None, Classic, Mainline };
Method Chosen = Method::None;
// The node the mainline driver answered on, and the method that answered the last request.
const char* MainlinePath = nullptr;
const char* Answered = nullptr;
long LastMessageId = 0;

constexpr const char* kClassicPath = "/dev/ipmi";
// Where udev and the older device scripts put the mainline driver's first interface.
constexpr const char* kMainlinePaths[] = {"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"};
// Answers of others (events, late answers to a request we gave up on) skipped while waiting
// for ours, before we give up.
constexpr int kMostForeignMessages = 16;

// The mainline driver answers this ioctl on any of its nodes; the classic one does not.
bool IsMainlineDriver(int fd) {
    unsigned int address = 0;
    return platform::ioctl(fd, IPMICTL_GET_MY_ADDRESS_CMD, &address) == 0;
}

void AdoptDevice(int fd) {
    if (FamilyOwnsDevice && fd != hDevice) platform::close(hDevice);
    hDevice = fd;
    FamilyOwnsDevice = true;
}

// With the mainline driver the kernel has found the system interface (KCS, SMIC, BT or
// SSIF) itself: an open node is a BMC we can reach, without port privilege.
bool OpenMainline() {
    for (const char* path : kMainlinePaths) {
        // The driver checks no access mode on its ioctls: read-only is enough, as for /dev/ipmi.
        int fd = platform::open(path, O_RDONLY);
        if (fd < 0) continue;
        AdoptDevice(fd);
        MainlinePath = path;
        Chosen = Method::Mainline;
        InitOK = 1;
        return true;
    }
    return false;
}

}  // namespace

const char* IpmiSourceName() { return Answered; }

IPMIbase::IPMIbase()
    : IsSupportKCS(0), IsSupportSMIC(0), request(), ResponseBuffer(new (std::nothrow) unsigned char[IMB_RESPONSE_SIZE]()) {
    __atomic_add_fetch(&LiveObjects, 1, __ATOMIC_ACQ_REL);
}

IPMIbase::~IPMIbase() {
    if (__atomic_sub_fetch(&LiveObjects, 1, __ATOMIC_ACQ_REL) == 0) {
        if (FamilyOwnsDevice) platform::close(hDevice);
        FamilyOwnsDevice = false;
        hDevice = 0;
        InitOK = 0;
    }
    delete[] ResponseBuffer;
}

int IPMIbase::IsInitOK() { return InitOK; }

int IPMIbase::InitIpmiBase() {
    if (InitOK) return 0;
    // The driver that answered before is asked first; only when its node is gone is the
    // choice made again.
    if (Chosen == Method::Mainline && OpenMainline()) return 0;
    const int classic = InitClassic();
    if (InitOK) return classic;
    // No classic interface answered: the mainline driver, when the kernel has one.
    return OpenMainline() ? 0 : classic;
}

int IPMIbase::InitClassic() {
    // A descriptor left from a probe that found no interface is reused, not opened twice.
    if (!FamilyOwnsDevice) {
        int fd = platform::open(kClassicPath, O_RDONLY);
        if (fd < 0) return -1;
        hDevice = fd;
        FamilyOwnsDevice = true;
        // Some systems name the mainline driver's node /dev/ipmi: it takes its own ioctls.
        if (IsMainlineDriver(fd)) {
            MainlinePath = kClassicPath;
            Chosen = Method::Mainline;
            InitOK = 1;
            return 0;
        }
    }
    if (platform::iopl(3) != 0) return -1;
    IsSupportKCS = platform::inb(kKcsStatusPort) != 0xFF ? 1 : 0;
    IsSupportSMIC = platform::inb(kSmicStatusPort) != 0xFF ? 1 : 0;
    platform::iopl(0);
    InitOK = IsSupportKCS || IsSupportSMIC ? 1 : 0;
    if (InitOK) Chosen = Method::Classic;
    return 0;
}

int IPMIbase::SendTimedImbpRequest(IMBPREQUESTDATA* request, int MAX_WAIT_TIME, unsigned char* ResponseBuffer,
                                   int* ResponseDataLength, unsigned char* CompleteCode) {
    if (CompleteCode) *CompleteCode = kNoAnswer;
    if (ResponseDataLength) *ResponseDataLength = 0;
    if (!InitOK || !request || !ResponseBuffer) return -1;
    unsigned char code = kNoAnswer;
    int stored = 0;
    const bool answered = Chosen == Method::Mainline
                              ? SendMainline(*request, MAX_WAIT_TIME, ResponseBuffer, stored, code)
                              : SendClassic(*request, MAX_WAIT_TIME, ResponseBuffer, stored, code);
    if (!answered) return -1;
    Answered = Chosen == Method::Mainline ? MainlinePath : kClassicPath;
    if (CompleteCode) *CompleteCode = code;
    if (ResponseDataLength) *ResponseDataLength = stored;
    return 0;
}

bool IPMIbase::SendClassic(const IMBPREQUESTDATA& request, int wait, unsigned char* response, int& stored,
                           unsigned char& code) {
    ipmi_send_message message{};
    message.req.cmd_type = request.cmdType;
    message.req.resp_slave_addr = 0xFF;
    message.req.bus_type = request.busType;
    message.req.net_func = request.netFn;
    message.req.resp_lun = request.rsLun;
    message.req.data = request.data;
    message.req.data_length = request.dataLength > 0 ? static_cast<unsigned int>(request.dataLength) : 0u;
    message.timeout = static_cast<unsigned int>(wait);
    message.resp_data_ptr = response;
    message.resp_data_len = IMB_RESPONSE_SIZE;
    if (platform::ioctl(hDevice, IMB_SEND_MESSAGE, &message) < 0) return false;
    code = message.completion_code;
    // The driver cannot have stored more than the room it was given.
    stored = static_cast<int>(message.resp_data_len < IMB_RESPONSE_SIZE ? message.resp_data_len : IMB_RESPONSE_SIZE);
    return true;
}

bool IPMIbase::SendMainline(const IMBPREQUESTDATA& request, int wait, unsigned char* response, int& stored,
                            unsigned char& code) {
    if (request.dataLength < 0 || request.dataLength > 0xFFFF) return false;
    ipmi_system_interface_addr bmc{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, request.rsLun};
    ipmi_req out{};
    out.addr = reinterpret_cast<unsigned char*>(&bmc);
    out.addr_len = sizeof bmc;
    // Never 0, so that a zeroed answer cannot pass for ours.
    LastMessageId = LastMessageId == 0x7FFFFFFF ? 1 : LastMessageId + 1;
    out.msgid = LastMessageId;
    out.msg.netfn = request.netFn;
    out.msg.cmd = request.cmdType;
    out.msg.data_len = static_cast<unsigned short>(request.dataLength);
    out.msg.data = request.data;
    if (platform::ioctl(hDevice, IPMICTL_SEND_COMMAND, &out) < 0) return false;

    // The completion code comes first, then up to a response buffer's worth of data.
    unsigned char answer[IMB_RESPONSE_SIZE + 1];
    for (int foreign = 0; foreign <= kMostForeignMessages; ++foreign) {
        short ready = 0;
        if (platform::poll(hDevice, POLLIN, wait > 0 ? wait : 0, &ready) <= 0) return false;  // timed out
        unsigned char from[IPMI_ADDR_ROOM];
        ipmi_recv in{};
        in.addr = from;
        in.addr_len = sizeof from;
        in.msg.data = answer;
        in.msg.data_len = sizeof answer;
        // A longer answer than we have room for arrives cut, with EMSGSIZE.
        if (platform::ioctl(hDevice, IPMICTL_RECEIVE_MSG_TRUNC, &in) < 0 && errno != EMSGSIZE) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        if (in.recv_type != IPMI_RESPONSE_RECV_TYPE || in.msgid != out.msgid) continue;
        if (in.msg.data_len < 1) return false;
        code = answer[0];
        const unsigned int held = in.msg.data_len < sizeof answer ? in.msg.data_len : sizeof answer;
        stored = static_cast<int>(held - 1);
        std::memcpy(response, answer + 1, held - 1);
        return true;
    }
    return false;
}

int IPMIbase::SendRequest(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                          int dataLength, int* responseLength) {
    unsigned char code = 0;
    return Exchange(netFn, cmd, rsSa, data, dataLength, responseLength, &code);
}

int IPMIbase::Exchange(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                       int dataLength, int* responseLength, unsigned char* completion) {
    request.cmdType = cmd;
    request.rsSa = rsSa;
    request.busType = PUBLIC_BUS;
    request.netFn = netFn;
    request.rsLun = BMC_LUN;
    request.data = nullptr;
    request.dataLength = 0;
    if (responseLength) *responseLength = 0;
    if (completion) *completion = kNoAnswer;
    if (!ResponseBuffer) return -1;
    if (dataLength > 0) {
        request.data = new (std::nothrow) unsigned char[dataLength];
        if (!request.data) return -1;
        std::memcpy(request.data, data, static_cast<std::size_t>(dataLength));
        request.dataLength = dataLength;
    }
    std::memset(ResponseBuffer, 0, IMB_RESPONSE_SIZE);
    unsigned char CompleteCode = 0;
    int ResponseDataLength = 0;
    SendTimedImbpRequest(&request, kWaitLimit, ResponseBuffer, &ResponseDataLength, &CompleteCode);
    delete[] request.data;
    request.data = nullptr;
    if (completion) *completion = CompleteCode;
    if (CompleteCode != 0) return -1;
    if (responseLength) *responseLength = ResponseDataLength;
    return 0;
}

int IPMIbase::IpmiSrtringCopy(char* des, char* source, int desLen, int sourceLen) {
    if (!des || !source || desLen <= 0) return -1;
    if (sourceLen < 0) sourceLen = 0;
    if (desLen <= sourceLen) {
        std::strncpy(des, source, static_cast<std::size_t>(desLen - 1));
        des[desLen - 1] = '\0';
    } else {
        std::strncpy(des, source, static_cast<std::size_t>(sourceLen));
        des[sourceLen] = '\0';
    }
    return 0;
}
