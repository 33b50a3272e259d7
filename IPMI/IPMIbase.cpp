// The IPMI transport: the shared device, the system-interface probe and the driver ioctl.
#include "IPMI/IPMIbase.h"

#include <fcntl.h>

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

}  // namespace

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
    // A descriptor left from a probe that found no interface is reused, not opened twice.
    if (!FamilyOwnsDevice) {
        int fd = platform::open("/dev/ipmi", O_RDONLY);
        if (fd < 0) return -1;
        hDevice = fd;
        FamilyOwnsDevice = true;
    }
    if (platform::iopl(3) != 0) return -1;
    IsSupportKCS = platform::inb(kKcsStatusPort) != 0xFF ? 1 : 0;
    IsSupportSMIC = platform::inb(kSmicStatusPort) != 0xFF ? 1 : 0;
    platform::iopl(0);
    InitOK = IsSupportKCS || IsSupportSMIC ? 1 : 0;
    return 0;
}

int IPMIbase::SendTimedImbpRequest(IMBPREQUESTDATA* request, int MAX_WAIT_TIME, unsigned char* ResponseBuffer,
                                   int* ResponseDataLength, unsigned char* CompleteCode) {
    auto noAnswer = [&] {
        if (CompleteCode) *CompleteCode = kNoAnswer;
        if (ResponseDataLength) *ResponseDataLength = 0;
        return -1;
    };
    if (!InitOK || !request || !ResponseBuffer) return noAnswer();

    ipmi_send_message message{};
    message.req.cmd_type = request->cmdType;
    message.req.resp_slave_addr = 0xFF;
    message.req.bus_type = request->busType;
    message.req.net_func = request->netFn;
    message.req.resp_lun = request->rsLun;
    message.req.data = request->data;
    message.req.data_length = request->dataLength > 0 ? static_cast<unsigned int>(request->dataLength) : 0u;
    message.timeout = static_cast<unsigned int>(MAX_WAIT_TIME);
    message.resp_data_ptr = ResponseBuffer;
    message.resp_data_len = IMB_RESPONSE_SIZE;
    int result = platform::ioctl(hDevice, IMB_SEND_MESSAGE, &message);
    if (result < 0) return noAnswer();

    if (CompleteCode) *CompleteCode = message.completion_code;
    // The driver cannot have stored more than the room it was given.
    unsigned int stored = message.resp_data_len < IMB_RESPONSE_SIZE ? message.resp_data_len : IMB_RESPONSE_SIZE;
    if (ResponseDataLength) *ResponseDataLength = static_cast<int>(stored);
    return result;
}

int IPMIbase::SendRequest(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                          int dataLength, int* responseLength) {
    request.cmdType = cmd;
    request.rsSa = rsSa;
    request.busType = PUBLIC_BUS;
    request.netFn = netFn;
    request.rsLun = BMC_LUN;
    request.data = nullptr;
    request.dataLength = 0;
    if (responseLength) *responseLength = 0;
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
