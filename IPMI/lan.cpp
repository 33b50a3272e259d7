// Preparing the BMC for remote management: finding its LAN channel (IPMI 2.0 22.24),
// naming a user and setting its password (22.28, 22.30), and writing the LAN
// configuration (23.1, parameters of table 23-4).
#include <cstring>

#include "IPMI/IPMIsupport.h"
#include "api/field.h"

namespace {

constexpr unsigned char kFirstChannel = 1, kLastChannel = 7;
constexpr int kUserFieldLength = 16;
// Set User Password operation (IPMI 2.0 22.30): set password.
constexpr unsigned char kSetPassword = 0x02;

// Copies the first at most 16 characters of `text` into a field already cleared.
void CopyUserField(unsigned char* field, const char* text) {
    CopyField(reinterpret_cast<char*>(field), kUserFieldLength + 1, text, kUserFieldLength, FieldEnd::Open);
}

}  // namespace

int IPMIsupport::GetChannelInfo(unsigned char channelNum, ChannelInfo* pCI) {
    if (!pCI || !IsInitOK()) return -1;
    const IpmiAnswer answer = Send(APP_CMD, Get_channel_info, &channelNum, 1);
    if (!answer.ok() || answer.length < 3) return -1;
    pCI->channelNumber = channelNum;
    pCI->channelMediatype = answer.bytes[1];
    pCI->channelProtocoltype = answer.bytes[2];
    return 0;
}

int IPMIsupport::GetLANChannelInfo(ChannelInfo* pCI) {
    if (!pCI) return -1;
    ChannelInfo found = {};
    for (unsigned char channel = kFirstChannel; channel <= kLastChannel; ++channel) {
        if (GetChannelInfo(channel, &found) != 0) return -1;
        if (found.channelMediatype == LAN_802_3) break;
    }
    *pCI = found;
    return 0;
}

int IPMIsupport::SetUserInfo(unsigned char userID, const char* userName, const char* passward) {
    if (!userName || !passward || !IsInitOK()) return -1;
    unsigned char name[1 + kUserFieldLength] = {userID};
    CopyUserField(name + 1, userName);
    if (!Send(APP_CMD, Set_user_name, name, sizeof name).ok()) return -1;

    unsigned char password[2 + kUserFieldLength] = {userID, kSetPassword};
    CopyUserField(password + 2, passward);
    return Send(APP_CMD, Set_user_passwd, password, sizeof password).ok() ? 0 : -1;
}

int IPMIsupport::SetLANParameter(LANParameter lp) {
    if (!IsInitOK()) return -1;
    const unsigned char* ip = lp.IPAddress;
    const unsigned char* mac = lp.MACAddress;
    const unsigned char* mask = lp.SubnetMask;
    struct Step {
        unsigned char selector;
        unsigned char length;  // parameter data bytes
        unsigned char data[6];
    };
    // Taken under the set-in-progress lock, committed, then released.
    const Step steps[] = {
        {0x00, 1, {0x01}},                                       // set in progress
        {0x03, 4, {ip[0], ip[1], ip[2], ip[3]}},                 // IP address
        {0x04, 1, {0x03}},                                       // source: BIOS or system software
        {0x05, 6, {mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]}},  // MAC address
        {0x06, 4, {mask[0], mask[1], mask[2], mask[3]}},         // subnet mask
        {0x07, 3, {0x40, 0x40, 0x10}},                           // TTL 64, don't fragment, low delay
        {0x08, 2, {0x6F, 0x02}},                                 // primary RMCP port 623
        {0x09, 2, {0x98, 0x02}},                                 // secondary RMCP port 664
        {0x0A, 1, {0x01}},                                       // BMC-generated gratuitous ARPs on
        {0x0B, 1, {0x04}},                                       // gratuitous ARP every 2 s
        {0x00, 1, {0x02}},                                       // commit write
        {0x00, 1, {0x00}},                                       // set complete
    };
    for (const Step& step : steps) {
        unsigned char data[2 + 6] = {lp.channelNumber, step.selector};
        std::memcpy(data + 2, step.data, step.length);
        // A refused step ends the sequence where it stands; once the set-in-progress lock is
        // ours it is given back, or every later write would be refused (IPMI 2.0 23.1).
        if (!Send(TRASPORT_CMD, Set_LAN_parameter, data, 2 + step.length).ok()) {
            if (&step != &steps[0]) {
                const unsigned char complete[3] = {lp.channelNumber, 0x00, 0x00};
                Send(TRASPORT_CMD, Set_LAN_parameter, complete, 3);
            }
            return -1;
        }
    }
    return 0;
}
