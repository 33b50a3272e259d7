// The family's members over the process's one transport.
#include "IPMI/IPMIbase.h"

#include <cstring>
#include <new>

#include "api/field.h"
#include "process/state.h"

namespace {

constexpr int kWaitLimit = 3000;

IpmiTransport& Transport() { return qarvel::State().ipmi; }

}  // namespace

const char* IpmiSourceName() { return Transport().Answered(); }

IPMIbase::IPMIbase()
    : IsSupportKCS(0), IsSupportSMIC(0), request(), ResponseBuffer(new (std::nothrow) unsigned char[IMB_RESPONSE_SIZE]()) {
    Transport().Join();
}

IPMIbase::~IPMIbase() {
    Transport().Leave();
    delete[] ResponseBuffer;
}

int IPMIbase::IsInitOK() { return Transport().Ready() ? 1 : 0; }

int IPMIbase::InitIpmiBase() {
    return Transport().Open(qarvel::State().sources[SOURCE_IPMI], IsSupportKCS, IsSupportSMIC);
}

int IPMIbase::SendTimedImbpRequest(IMBPREQUESTDATA* request, int MAX_WAIT_TIME, unsigned char* ResponseBuffer,
                                   int* ResponseDataLength, unsigned char* CompleteCode) {
    if (CompleteCode) *CompleteCode = kIpmiNoAnswer;
    if (ResponseDataLength) *ResponseDataLength = 0;
    if (!request || !ResponseBuffer) return -1;
    const IpmiAnswer answer = Transport().Send(*request, MAX_WAIT_TIME);
    if (!answer.answered) return -1;
    std::memcpy(ResponseBuffer, answer.bytes, static_cast<std::size_t>(answer.length));
    if (CompleteCode) *CompleteCode = answer.completion;
    if (ResponseDataLength) *ResponseDataLength = answer.length;
    return 0;
}

IpmiAnswer AskBmc(IPMIbase& object, unsigned char netFn, unsigned char cmd, unsigned char rsSa,
                  const unsigned char* data, int dataLength) {
    IMBPREQUESTDATA& request = object.request;
    request.cmdType = cmd;
    request.rsSa = rsSa;
    request.busType = IPMIbase::PUBLIC_BUS;
    request.netFn = netFn;
    request.rsLun = IPMIbase::BMC_LUN;
    request.data = nullptr;
    request.dataLength = 0;
    if (!object.ResponseBuffer) return IpmiAnswer{};
    if (dataLength > 0 && data) {
        // The drivers only read the data.
        request.data = const_cast<unsigned char*>(data);
        request.dataLength = dataLength;
    }
    const IpmiAnswer answer = Transport().Send(request, kWaitLimit);
    request.data = nullptr;
    std::memcpy(object.ResponseBuffer, answer.bytes, IMB_RESPONSE_SIZE);
    return answer;
}

int IPMIbase::SendRequest(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                          int dataLength, int* responseLength) {
    return Exchange(netFn, cmd, rsSa, data, dataLength, responseLength, nullptr);
}

int IPMIbase::Exchange(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                       int dataLength, int* responseLength, unsigned char* completion) {
    const IpmiAnswer answer = AskBmc(*this, netFn, cmd, rsSa, data, dataLength);
    if (completion) *completion = answer.completion;
    if (responseLength) *responseLength = answer.ok() ? answer.length : 0;
    return answer.ok() ? 0 : -1;
}

int IPMIbase::IpmiSrtringCopy(char* des, char* source, int desLen, int sourceLen) {
    if (!des || !source || desLen <= 0) return -1;
    if (sourceLen < 0) sourceLen = 0;
    // As strncpy leaves it: the text, zeros up to the count copied, and a NUL after them.
    const int count = desLen <= sourceLen ? desLen - 1 : sourceLen;
    CopyField(des, static_cast<std::size_t>(count) + 1, source, static_cast<std::size_t>(count), FieldEnd::Cleared);
    return 0;
}
