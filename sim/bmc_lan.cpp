// The simulated BMC's channels (IPMI 2.0 22.24), users (22.28 to 22.30) and LAN
// configuration parameters (23.1) with the set-in-progress lock.
#include <cstring>

#include "sim/Bmc.h"

namespace sim {

namespace {

constexpr std::uint8_t kGetChannelInfo = 0x42, kSetUserName = 0x45, kGetUserName = 0x46, kSetUserPassword = 0x47;
constexpr std::uint8_t kSetLanParameter = 0x01;
constexpr std::uint8_t kLan8023 = 0x04;
constexpr std::size_t kNameLength = 16;
// The IPMI enterprise number, 7154, least significant byte first.
constexpr std::uint8_t kIpmiIana[3] = {0xF2, 0x1B, 0x00};

// Data lengths of the LAN parameters we keep (IPMI 2.0 table 23-4); 0 marks one that
// cannot be written.
struct LanParameter {
    std::uint8_t selector;
    std::uint8_t length;
};
constexpr LanParameter kLanParameters[] = {
    {0x00, 1},  // set in progress
    {0x01, 0},  // authentication type support: read only
    {0x02, 5},  // authentication type enables
    {0x03, 4},  // IP address
    {0x04, 1},  // IP address source
    {0x05, 6},  // MAC address
    {0x06, 4},  // subnet mask
    {0x07, 3},  // IPv4 header parameters
    {0x08, 2},  // primary RMCP port
    {0x09, 2},  // secondary RMCP port
    {0x0A, 1},  // BMC-generated ARP control
    {0x0B, 1},  // gratuitous ARP interval
    {0x0C, 4},  // default gateway address
    {0x0D, 6},  // default gateway MAC address
    {0x0E, 4},  // backup gateway address
    {0x0F, 6},  // backup gateway MAC address
};

const LanParameter* FindLanParameter(std::uint8_t selector) {
    for (const LanParameter& p : kLanParameters)
        if (p.selector == selector) return &p;
    return nullptr;
}

}  // namespace

void Bmc::register_lan_commands() {
    add_command(netfn::kApp, kGetChannelInfo, 1, [this](const BmcRequest& q, BmcResponse& r) { get_channel_info(q, r); });
    add_command(netfn::kApp, kSetUserName, 1 + kNameLength,
                [this](const BmcRequest& q, BmcResponse& r) { set_user_name(q, r); });
    add_command(netfn::kApp, kGetUserName, 1, [this](const BmcRequest& q, BmcResponse& r) { get_user_name(q, r); });
    add_command(netfn::kApp, kSetUserPassword, 2,
                [this](const BmcRequest& q, BmcResponse& r) { set_user_password(q, r); });
    add_command(netfn::kTransport, kSetLanParameter, 3,
                [this](const BmcRequest& q, BmcResponse& r) { set_lan_parameter(q, r); });
}

// IPMI 2.0 22.24
void Bmc::get_channel_info(const BmcRequest& q, BmcResponse& r) {
    const std::uint8_t number = q.data[0] & 0x0F;
    auto it = channels.find(number);
    if (it == channels.end()) {
        r.completion = completion::kInvalidField;
        return;
    }
    const bool lan = (it->second.medium & 0x7F) == kLan8023;
    r.data = {number,
              static_cast<std::uint8_t>(it->second.medium & 0x7F),
              static_cast<std::uint8_t>(it->second.protocol & 0x1F),
              static_cast<std::uint8_t>(lan ? 0x80 : 0x00),  // multi-session for a LAN, else session-less
              kIpmiIana[0],
              kIpmiIana[1],
              kIpmiIana[2],
              0x00,
              0x00};
}

// IPMI 2.0 22.28: user IDs 1 to user_slots; the name ends at the first NUL.
void Bmc::set_user_name(const BmcRequest& q, BmcResponse& r) {
    const std::uint8_t id = q.data[0] & 0x3F;
    if (id == 0 || id > user_slots) {
        r.completion = completion::kInvalidField;
        return;
    }
    const char* name = reinterpret_cast<const char*>(q.data.data() + 1);
    users[id].name.assign(name, strnlen(name, kNameLength));
}

// IPMI 2.0 22.29
void Bmc::get_user_name(const BmcRequest& q, BmcResponse& r) {
    const std::uint8_t id = q.data[0] & 0x3F;
    if (id == 0 || id > user_slots) {
        r.completion = completion::kInvalidField;
        return;
    }
    r.data.assign(kNameLength, 0);
    if (auto it = users.find(id); it != users.end()) std::memcpy(r.data.data(), it->second.name.data(), it->second.name.size());
}

// IPMI 2.0 22.30: byte 1 bit 7 chooses a 20-byte password; the operation is in byte 2.
void Bmc::set_user_password(const BmcRequest& q, BmcResponse& r) {
    const std::uint8_t id = q.data[0] & 0x3F;
    const std::size_t size = q.data[0] & 0x80 ? 20 : 16;
    const std::uint8_t operation = q.data[1] & 0x03;
    if (id == 0 || id > user_slots) {
        r.completion = completion::kInvalidField;
        return;
    }
    BmcUser& user = users[id];
    switch (operation) {
        case 0: user.enabled = false; break;
        case 1: user.enabled = true; break;
        case 2:
        case 3: {
            if (q.data.size() != 2 + size) {
                r.completion = operation == 3 ? completion::kPasswordSize : completion::kLengthInvalid;
                return;
            }
            std::vector<std::uint8_t> password(q.data.begin() + 2, q.data.end());
            if (operation == 2)
                user.password = std::move(password);
            else if (password != user.password)
                r.completion = completion::kPasswordMismatch;
            break;
        }
    }
}

// IPMI 2.0 23.1: only LAN channels have LAN parameters. Parameter 0 is the lock: it can be
// taken (1) only from "set complete" (0).
void Bmc::set_lan_parameter(const BmcRequest& q, BmcResponse& r) {
    const std::uint8_t number = q.data[0] & 0x0F;
    auto channel = channels.find(number);
    if (channel == channels.end() || (channel->second.medium & 0x7F) != kLan8023) {
        r.completion = completion::kInvalidField;
        return;
    }
    const std::uint8_t selector = q.data[1];
    const LanParameter* parameter = FindLanParameter(selector);
    if (!parameter) {
        r.completion = completion::kParameterNotSupported;
        return;
    }
    if (parameter->length == 0) {
        r.completion = completion::kParameterReadOnly;
        return;
    }
    if (q.data.size() != 2u + parameter->length) {
        r.completion = completion::kLengthInvalid;
        return;
    }
    BmcLan& config = lan[number];
    if (selector == 0) {
        const std::uint8_t state = q.data[2] & 0x03;
        if (state == 3) {
            r.completion = completion::kInvalidField;
        } else if (state == 1 && config.set_in_progress != 0) {
            r.completion = completion::kSetInProgressHeld;
        } else {
            if (state == 2) ++config.commits;
            config.set_in_progress = state;
        }
        return;
    }
    config.parameters[selector].assign(q.data.begin() + 2, q.data.end());
}

}  // namespace sim
