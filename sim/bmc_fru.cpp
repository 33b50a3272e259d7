// The simulated BMC's FRU device 0 (IPMI 2.0 34.1, 34.2), accessed by bytes.
#include <algorithm>

#include "sim/Bmc.h"

namespace sim {

namespace {

constexpr std::uint8_t kGetFruInventoryAreaInfo = 0x10, kReadFruData = 0x11;

}  // namespace

void Bmc::register_fru_commands() {
    add_command(netfn::kStorage, kGetFruInventoryAreaInfo, 1,
                [this](const BmcRequest& q, BmcResponse& r) { get_fru_inventory_area_info(q, r); });
    add_command(netfn::kStorage, kReadFruData, 4, [this](const BmcRequest& q, BmcResponse& r) { read_fru_data(q, r); });
}

// IPMI 2.0 34.1
void Bmc::get_fru_inventory_area_info(const BmcRequest& q, BmcResponse& r) {
    if (q.data[0] != 0 || fru0.empty()) {
        r.completion = completion::kNotPresent;
        return;
    }
    const std::size_t size = std::min<std::size_t>(fru0.size(), 0xFFFF);
    r.data = {static_cast<std::uint8_t>(size & 0xFF), static_cast<std::uint8_t>(size >> 8), 0x00};
}

// IPMI 2.0 34.2: at most `fru_read_limit` bytes per request, never past the end; the count
// byte says how many came.
void Bmc::read_fru_data(const BmcRequest& q, BmcResponse& r) {
    if (q.data[0] != 0 || fru0.empty()) {
        r.completion = completion::kNotPresent;
        return;
    }
    const std::size_t offset = static_cast<std::size_t>(q.data[1] | q.data[2] << 8);
    const std::size_t asked = q.data[3];
    if (asked == 0) {
        r.completion = completion::kInvalidField;
        return;
    }
    if (offset >= fru0.size()) {
        r.completion = completion::kOutOfRange;
        return;
    }
    const std::size_t count = std::min({asked, fru_read_limit, fru0.size() - offset});
    r.data = {static_cast<std::uint8_t>(count)};
    r.data.insert(r.data.end(), fru0.begin() + static_cast<long>(offset),
                  fru0.begin() + static_cast<long>(offset + count));
}

}  // namespace sim
