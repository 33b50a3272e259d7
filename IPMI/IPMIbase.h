// The base of every object that talks to the BMC. The objects form one family over the
// process's one transport (IPMI/transport.h): the device, its descriptor and the readiness
// flag are the transport's; each object has its own request record and its own response
// buffer, which keep the last request it sent and the bytes of its answer.
#ifndef QARVEL_IPMI_IPMIBASE_H
#define QARVEL_IPMI_IPMIBASE_H

#include "IPMI/transport.h"

// Descriptor of the IPMI device; 0 while the family holds none. Kept in step with the
// transport.
extern int hDevice;
// 1 once the device is open and a request can reach the BMC through it. Kept in step with
// the transport.
extern int InitOK;

// The device that answered the last request ("/dev/ipmi" for the classic driver, the
// mainline driver's node such as "/dev/ipmi0"), or null while none has answered.
const char* IpmiSourceName();

class IPMIbase {
public:
    // Command codes; equal values belong to different network functions.
    enum command {
        get_device_id = 1, Set_LAN_parameter = 1, Get_FRU_info = 16, Read_FRU_info = 17, Get_SDR_RepositoryInfo = 32,
        Reserve_SDR_Repository = 34, reset_watchdog_timer = 34, Get_SDR = 35, set_watchdog_timer = 36,
        get_watchdog_timer = 37, set_sensor_threshold = 38, get_sensor_threshold = 39, Get_sensor_reading = 45,
        Get_channel_auth_capability = 56, Get_session_challenge = 57, Activate_session = 58,
        Set_session_priviledge_level = 59, close_session = 60, Get_session_info = 61, Get_auth_code = 63,
        Set_channel_access = 64, get_SEL_info = 64, Get_channel_access = 65, get_SEL_alloc_info = 65,
        Get_channel_info = 66, reserve_SEL = 66, Set_user_access = 67, get_SEL_entry = 67, Get_user_access = 68,
        add_SEL_entry = 68, Set_user_name = 69, partial_add_SEL_entry = 69, Get_user_name = 70,
        delete_SEL_entry = 70, Set_user_passwd = 71, clear_SEL = 71, get_SEL_time = 72, set_SEL_time = 73,
        get_aux_log_status = 90, set_aux_log_status = 91
    };
    enum BusTypeCode { PUBLIC_BUS = 0 };
    enum LUNs { BMC_LUN = 0, OEM_LUN1 = 1, SMS_LUN = 2, OEM_LUN2 = 3 };
    enum NetFunCode {
        CHASSIS_CMD = 0, CHASSIS_REP = 1, BRIDGE_CMD = 2, BRIDGE_REP = 3, SENSER_EVENT_CMD = 4,
        SENSER_EVENT_REP = 5, APP_CMD = 6, APP_REP = 7, FIRMWARE_CMD = 8, FIRMWARE_REP = 9, STORAGE_CMD = 10,
        STORAGE_REP = 11, TRASPORT_CMD = 12, TRANPORT_REP = 13, OEM_CMD = 48
    };
    enum DeviceStatus { STATUS_NORMAL = 1, STATUS_ERROR = 2 };
    enum ChannelProtocolType { IPMB_10 = 1 };
    enum channelMediaType { LAN_802_3 = 4 };

    // Allocates the response buffer and joins the family; does not open the device (the
    // concrete classes call InitIpmiBase at the end of their constructors).
    IPMIbase();
    // Frees the response buffer. The last object of the family closes the device it
    // opened and clears InitOK, so a family built afterwards opens it again.
    ~IPMIbase();
    IPMIbase(const IPMIbase&) = delete;
    IPMIbase& operator=(const IPMIbase&) = delete;

    virtual int IsInitOK();
    // Opens the device once per family, by the transport's source table: /dev/ipmi with a
    // KCS or SMIC interface on the status ports, else the mainline driver's node. 0, or -1
    // when no device opens or the classic one's port I/O is refused and no mainline node
    // exists. The probe that reads the status ports sets IsSupportKCS and IsSupportSMIC.
    virtual int InitIpmiBase();

    // Sends one request and waits for its response; `ResponseBuffer` holds
    // IMB_RESPONSE_SIZE bytes. The ioctl's result (0 or -1). When nothing reaches the BMC
    // (device not ready, ioctl failed) the completion code reads 0xFF, so a caller that
    // judges by the completion code never mistakes it for success.
    int SendTimedImbpRequest(IMBPREQUESTDATA* request, int MAX_WAIT_TIME, unsigned char* ResponseBuffer,
                             int* ResponseDataLength, unsigned char* CompleteCode);

    // Bounded copy: at most desLen - 1 characters and a NUL when the destination is not
    // larger than the source, else at most sourceLen characters and a NUL after them.
    int IpmiSrtringCopy(char* des, char* source, int desLen, int sourceLen);

    int IsSupportKCS;
    int IsSupportSMIC;
    IMBPREQUESTDATA request;
    unsigned char* ResponseBuffer;  // IMB_RESPONSE_SIZE bytes

protected:
    // One request as AskBmc sends it. 0 when the BMC answered with completion code 0, else
    // -1. `responseLength` receives the number of response bytes, never more than the
    // buffer holds; bytes the BMC did not send read 0.
    int SendRequest(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                    int dataLength, int* responseLength);
    // The same, with the completion code given back (0xFF when nothing answered):
    // for callers that act on a refusal (a shorter read, a new reservation).
    int Exchange(unsigned char netFn, unsigned char cmd, unsigned char rsSa, const unsigned char* data,
                 int dataLength, int* responseLength, unsigned char* completion);
};

// One request of `object` in the order every request of the family follows: its request
// record filled (the data pointer only while the request is out), sent through the
// transport with the wait limit 3000, its response buffer then holding the answer's bytes
// (zeros past them). The answer, as a value; nothing is sent by an object without a
// response buffer.
IpmiAnswer AskBmc(IPMIbase& object, unsigned char netFn, unsigned char cmd, unsigned char rsSa,
                  const unsigned char* data, int dataLength);

#endif
