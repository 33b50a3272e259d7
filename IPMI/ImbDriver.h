// The messages of the two IPMI drivers the library speaks to: the classic /dev/ipmi with
// its single send ioctl, and the mainline driver (/dev/ipmi0) with its send and receive
// ioctls. The library builds them (IPMI/IPMIbase.cpp) and the simulated BMC reads them
// (sim/Bmc.cpp), so both sides share this one definition.
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

// --- The mainline driver (linux/ipmi.h) ---------------------------------------------------
// Declared with the C types the kernel uses, so that a 32-bit build gets the layouts (and
// with them the ioctl numbers) of the kernel's 32-bit compat path and a 64-bit build the
// native ones.

// IPMI_SYSTEM_INTERFACE_ADDR_TYPE to IPMI_BMC_CHANNEL: the BMC itself.
struct ipmi_system_interface_addr {
    int addr_type;
    short channel;
    unsigned char lun;
};
constexpr int IPMI_SYSTEM_INTERFACE_ADDR_TYPE = 0x0C;
constexpr short IPMI_BMC_CHANNEL = 0x0F;
// struct ipmi_addr: the largest address the driver hands back.
constexpr unsigned int IPMI_ADDR_ROOM = 4 + 4 + 32;

struct ipmi_msg {
    unsigned char netfn;
    unsigned char cmd;
    unsigned short data_len;
    unsigned char* data;
};

struct ipmi_req {
    unsigned char* addr;
    unsigned int addr_len;
    long msgid;  // handed back unchanged with the answer
    ipmi_msg msg;
};

struct ipmi_recv {
    int recv_type;  // IPMI_RESPONSE_RECV_TYPE for an answer to one of our requests
    unsigned char* addr;
    unsigned int addr_len;  // in: room at addr; out: the address's length
    long msgid;
    ipmi_msg msg;  // data[0] is the completion code
};
constexpr int IPMI_RESPONSE_RECV_TYPE = 1;

// _IOR/_IOWR('i', n, type), with the size of the type as this build lays it out.
constexpr unsigned long IpmiIoctl(unsigned long direction, unsigned long number, unsigned long size) {
    return (direction << 30) | (size << 16) | (static_cast<unsigned long>('i') << 8) | number;
}
constexpr unsigned long IPMICTL_RECEIVE_MSG_TRUNC = IpmiIoctl(3, 11, sizeof(ipmi_recv));
constexpr unsigned long IPMICTL_SEND_COMMAND = IpmiIoctl(2, 13, sizeof(ipmi_req));
// Asks nothing of the BMC: answered only by the mainline driver, so it tells the drivers apart.
constexpr unsigned long IPMICTL_GET_MY_ADDRESS_CMD = IpmiIoctl(2, 18, sizeof(unsigned int));

#if defined(__i386__)
static_assert(sizeof(ipmi_req) == 20 && sizeof(ipmi_recv) == 24, "32-bit (compat) layouts");
static_assert(IPMICTL_SEND_COMMAND == 0x8014690DUL, "compat IPMICTL_SEND_COMMAND");
static_assert(IPMICTL_RECEIVE_MSG_TRUNC == 0xC018690BUL, "compat IPMICTL_RECEIVE_MSG_TRUNC");
#elif defined(__x86_64__)
static_assert(sizeof(ipmi_req) == 40 && sizeof(ipmi_recv) == 48, "native layouts");
static_assert(IPMICTL_SEND_COMMAND == 0x8028690DUL, "native IPMICTL_SEND_COMMAND");
static_assert(IPMICTL_RECEIVE_MSG_TRUNC == 0xC030690BUL, "native IPMICTL_RECEIVE_MSG_TRUNC");
#endif
static_assert(IPMICTL_GET_MY_ADDRESS_CMD == 0x80046912UL, "IPMICTL_GET_MY_ADDRESS_CMD");

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
