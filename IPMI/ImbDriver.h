// The message that /dev/ipmi takes with its send ioctl. The library builds it
// (IPMIbase::SendTimedImbpRequest) and the simulated BMC reads it (sim/Bmc.cpp), so both
// sides share this one definition.
#ifndef QARVEL_IPMI_IMBDRIVER_H
#define QARVEL_IPMI_IMBDRIVER_H

#include <cstddef>

// The request as the driver forwards it to the BMC.
struct ipmi_request_data {
    unsigned char cmd_type;
    unsigned char resp_slave_addr;  // we always send 0xFF
    unsigned char bus_type;
    unsigned char net_func;
    unsigned char resp_lun;
    unsigned char* data;
    unsigned int data_length;
};

struct ipmi_send_message {
    ipmi_request_data req;
    unsigned int timeout;          // wait limit handed through to the driver
    unsigned char* resp_data_ptr;  // receives the response bytes after the completion code
    // In: room at resp_data_ptr (IMB_RESPONSE_SIZE). Out: response bytes stored there.
    unsigned int resp_data_len;
    unsigned char completion_code;  // out: the IPMI completion code
};

// _IOWR('S', 1, int): read/write, argument size 4, type 'S', number 1.
constexpr unsigned long IMB_SEND_MESSAGE =
    (3UL << 30) | (4UL << 16) | (static_cast<unsigned long>('S') << 8) | 1UL;
static_assert(IMB_SEND_MESSAGE == 0xC0045301UL, "send ioctl request code");

// Every response buffer of the IPMI family holds this many bytes.
constexpr unsigned int IMB_RESPONSE_SIZE = 256;

#if defined(__i386__)
// The driver's i386 layout: 32 bytes, pointers 4 bytes, little-endian.
static_assert(sizeof(ipmi_request_data) == 16, "ipmi_request_data is 16 bytes");
static_assert(offsetof(ipmi_request_data, cmd_type) == 0, "cmd_type at 0");
static_assert(offsetof(ipmi_request_data, resp_slave_addr) == 1, "resp_slave_addr at 1");
static_assert(offsetof(ipmi_request_data, bus_type) == 2, "bus_type at 2");
static_assert(offsetof(ipmi_request_data, net_func) == 3, "net_func at 3");
static_assert(offsetof(ipmi_request_data, resp_lun) == 4, "resp_lun at 4");
static_assert(offsetof(ipmi_request_data, data) == 8, "data at 8");
static_assert(offsetof(ipmi_request_data, data_length) == 12, "data_length at 12");
static_assert(sizeof(ipmi_send_message) == 32, "ipmi_send_message is 32 bytes");
static_assert(offsetof(ipmi_send_message, timeout) == 16, "timeout at 16");
static_assert(offsetof(ipmi_send_message, resp_data_ptr) == 20, "resp_data_ptr at 20");
static_assert(offsetof(ipmi_send_message, resp_data_len) == 24, "resp_data_len at 24");
static_assert(offsetof(ipmi_send_message, completion_code) == 28, "completion_code at 28");
#endif

#endif
