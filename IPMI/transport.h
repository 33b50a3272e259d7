// The one way to the BMC: the device the IPMI family shares, the choice of it from a table of
// sources, and one request at a time through its driver, the answer coming back as a value.
// Two drivers are spoken: the classic /dev/ipmi (one ioctl per request, KCS/SMIC probed on
// the status ports) and the mainline driver (/dev/ipmi0 and its other names: send, poll,
// receive). Exactly one transport exists, in the process state (process/state.h); the IPMI
// objects (IPMI/IPMIbase.h) all use it. Beside it there, what the readers carry from one
// request to the next.
#ifndef QARVEL_IPMI_TRANSPORT_H
#define QARVEL_IPMI_TRANSPORT_H

#include "IPMI/ImbDriver.h"
#include "process/source.h"

// A request as the classic driver takes it, and as callers of the IPMI objects fill it.
struct IMBPREQUESTDATA {
    unsigned char cmdType;
    unsigned char rsSa;  // kept for the caller's record only: the wire always carries 0xFF
    unsigned char busType;
    unsigned char netFn;
    unsigned char rsLun;
    unsigned char* data;  // the request's data bytes, only while it is sent
    int dataLength;
};

// IPMI 2.0 5.2: "Unspecified error", reported when no answer came from the BMC, so that a
// caller judging by the completion code never mistakes silence for success.
constexpr unsigned char kIpmiNoAnswer = 0xFF;

// What one request brought back.
struct IpmiAnswer {
    bool answered = false;  // the driver handed back an answer to this request
    unsigned char completion = kIpmiNoAnswer;
    int length = 0;  // response bytes after the completion code, never more than `bytes` holds
    unsigned char bytes[IMB_RESPONSE_SIZE] = {};  // bytes the BMC did not send read 0

    bool ok() const { return answered && completion == 0; }
};

// The device the source probe settles on; each row of the source table fills it in.
struct IpmiDevice {
    int fd = 0;              // 0 while the family holds none
    bool owned = false;      // opened by us, so ours to close
    bool ready = false;      // a request can reach the BMC through it
    bool mainline = false;   // spoken to with the mainline driver's ioctls
    const char* path = nullptr;  // the node requests go to
    // The classic row's look at the status ports: whether it ran this probe (port privilege
    // granted), and what it saw.
    bool portsProbed = false;
    int kcs = 0, smic = 0;
};

class IpmiTransport {
public:
    // Every IPMI object joins the family when it is built and leaves it when it goes; the
    // last one to leave closes the device the family opened, so a later family opens it again.
    void Join();
    void Leave();

    // Opens the device once per family, probing the source table into `record` (the row that
    // answered before is tried first: a machine does not change its IPMI driver while we
    // run). 0 when ready, or when the classic device opened and its status ports were read
    // but showed no interface; else -1. When this call read the status ports, `kcs` and
    // `smic` receive what they showed.
    int Open(qarvel::ProbeRecord& record, int& kcs, int& smic);
    bool Ready() const { return device_.ready; }

    // One request through the device's driver, waiting at most `wait` ms, and its answer.
    // Nothing is sent while the device is not ready. A BMC that answers busy, or a request
    // that times out, is asked again within a bound (IPMI/transport.cpp says which and how
    // often); the answer is the last one.
    IpmiAnswer Send(const IMBPREQUESTDATA& request, int wait);
    // The same for the plain case: LUN 0, bus 0, the family's wait limit.
    IpmiAnswer Exchange(unsigned char netFn, unsigned char cmd, const unsigned char* data, int length);

    // The device that answered the last request, or null while none has.
    const char* Answered() const { return answered_; }
    // Back to a just-loaded library: no driver chosen, nothing answered, message ids anew.
    // The device itself stays with the family that holds it.
    void Forget();

private:
    // How one try went: answered, no answer within the wait, or refused by the driver.
    enum class Delivery { Answered, TimedOut, Failed };
    void Publish() const;
    IpmiAnswer SendOnce(const IMBPREQUESTDATA& request, int wait, Delivery& delivery);
    Delivery SendClassic(const IMBPREQUESTDATA& request, int wait, IpmiAnswer& answer) const;
    Delivery SendMainline(const IMBPREQUESTDATA& request, int wait, IpmiAnswer& answer);

    IpmiDevice device_;
    int liveObjects_ = 0;
    // The row of the source table that last made the device ready, or -1.
    int chosen_ = -1;
    const char* answered_ = nullptr;
    long lastMessageId_ = 0;
    // A request used up its tries on a BMC that stayed busy or silent: until one is answered
    // otherwise, requests get one try each, so a BMC that is always busy costs a call one
    // bound of waiting, not one per request.
    bool stillBusy_ = false;
};

// What the IPMI readers carry from one request to the next.
struct IpmiReaderMemory {
    // A Get Sensor Reading answer a sensor reader kept for the state question that follows
    // it (IPMI/readings.cpp); `keptBy` is null when none is kept.
    const void* keptBy = nullptr;
    unsigned char keptNumber = 0;
    IpmiAnswer kept;
    // A Read FRU Data response holds the count byte and at most this many data bytes.
    static constexpr int kFruMostPerRead = static_cast<int>(IMB_RESPONSE_SIZE) - 1;
    // The largest count the BMC of the inventory read under way takes, learnt from its
    // refusals (IPMI/FRU.cpp).
    int fruMostPerRead = kFruMostPerRead;
    // A Get SDR response holds the next record ID and at most this many record bytes (FFh
    // would mean "the whole record").
    static constexpr int kSdrMostPerRead = static_cast<int>(IMB_RESPONSE_SIZE) - 2;
    // The largest piece of a record the BMC gives at once, learnt from its refusals and short
    // answers (IPMI/repository.cpp). Kept for the process: a BMC's buffers do not grow.
    int sdrMostPerRead = kSdrMostPerRead;
    // The repository's most recent addition and erase timestamps (Get SDR Repository Info
    // bytes 6-13): as the latest answer gave them, and as they were when the sensor tables
    // were built; and when the BMC was last asked whether they changed (platform::monotonic_ms).
    struct RepositoryStamps {
        unsigned long added = 0, erased = 0;
        bool known = false;  // the answer was long enough to hold them
        bool operator==(const RepositoryStamps& o) const {
            return known == o.known && added == o.added && erased == o.erased;
        }
    };
    RepositoryStamps sdrSeen, sdrDiscovered;
    unsigned long long sdrCheckedMs = 0;

    void Clear() { *this = IpmiReaderMemory{}; }
};

#endif
