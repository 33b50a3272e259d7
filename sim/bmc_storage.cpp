// The simulated BMC's SDR repository and its storage commands (IPMI 2.0 33).
#include <algorithm>

#include "IPMI/ImbDriver.h"
#include "sim/Bmc.h"

namespace sim {

namespace {

constexpr std::uint8_t kGetSdrRepositoryInfo = 0x20, kReserveSdrRepository = 0x22, kGetSdr = 0x23;
constexpr std::uint16_t kFirstRecord = 0x0000, kLastRecord = 0xFFFF;
constexpr std::uint8_t kWholeRecord = 0xFF;
// Record bytes that fit one response after the next-record ID.
constexpr std::size_t kMaxRecordBytes = IMB_RESPONSE_SIZE - 2;

std::uint16_t RecordId(const std::vector<std::uint8_t>& record) {
    return record.size() >= 2 ? static_cast<std::uint16_t>(record[0] | record[1] << 8) : kLastRecord;
}

}  // namespace

std::uint16_t Bmc::add_record(const SdrRecord& record) {
    std::uint16_t id = next_record_id_;
    add_record_bytes(record.bytes(id));
    return id;
}

void Bmc::add_record_bytes(std::vector<std::uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint16_t id = RecordId(bytes);
    // IDs 0000h and FFFFh name the first and the last record; they are never given out.
    if (id >= next_record_id_ && id < kLastRecord - 1) next_record_id_ = static_cast<std::uint16_t>(id + 1);
    add_sensor_of(bytes);
    records_.push_back(std::move(bytes));
}

std::vector<std::uint8_t> Bmc::sdr_bin() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> out;
    for (const auto& record : records_) out.insert(out.end(), record.begin(), record.end());
    return out;
}

void Bmc::register_storage_commands() {
    add_command(netfn::kStorage, kGetSdrRepositoryInfo, 0,
                [this](const BmcRequest& q, BmcResponse& r) { get_sdr_repository_info(q, r); });
    add_command(netfn::kStorage, kReserveSdrRepository, 0,
                [this](const BmcRequest& q, BmcResponse& r) { reserve_sdr_repository(q, r); });
    add_command(netfn::kStorage, kGetSdr, 6, [this](const BmcRequest& q, BmcResponse& r) { get_sdr(q, r); });
}

// IPMI 2.0 33.9
void Bmc::get_sdr_repository_info(const BmcRequest&, BmcResponse& r) {
    std::size_t count = std::min<std::size_t>(records_.size(), 0xFFFF);
    r.data = {0x51,                                        // SDR version
              static_cast<std::uint8_t>(count & 0xFF),
              static_cast<std::uint8_t>(count >> 8),
              0xFF, 0xFF,                                  // free space: unspecified
              0, 0, 0, 0,                                  // most recent addition
              0, 0, 0, 0,                                  // most recent erase
              0x02};                                       // Reserve SDR Repository supported
    for (int i = 0; i < 4; ++i) {
        r.data[5 + i] = static_cast<std::uint8_t>(sdr_added >> (8 * i));
        r.data[9 + i] = static_cast<std::uint8_t>(sdr_erased >> (8 * i));
    }
}

// IPMI 2.0 33.11
void Bmc::reserve_sdr_repository(const BmcRequest&, BmcResponse& r) {
    if (++reservation == 0) reservation = 1;
    since_reservation_ = 0;
    reservation_cancelled_ = false;
    r.data = {static_cast<std::uint8_t>(reservation & 0xFF), static_cast<std::uint8_t>(reservation >> 8)};
}

// IPMI 2.0 33.12: a reservation (never 0) is needed to read a record from an offset other
// than 0; a reservation given with any read must still be the current one.
void Bmc::get_sdr(const BmcRequest& q, BmcResponse& r) {
    const std::uint16_t reservation_id = static_cast<std::uint16_t>(q.data[0] | q.data[1] << 8);
    const std::uint16_t id = static_cast<std::uint16_t>(q.data[2] | q.data[3] << 8);
    const std::size_t offset = q.data[4];
    const std::uint8_t asked = q.data[5];
    if (records_.empty()) {
        r.completion = completion::kNotPresent;
        return;
    }
    std::size_t index = 0;
    if (id == kLastRecord) {
        index = records_.size() - 1;
    } else if (id != kFirstRecord) {
        auto it = std::find_if(records_.begin(), records_.end(), [&](const auto& rec) { return RecordId(rec) == id; });
        if (it == records_.end()) {
            r.completion = completion::kNotPresent;
            return;
        }
        index = static_cast<std::size_t>(it - records_.begin());
    }
    if ((offset != 0 || reservation_id != 0) && (reservation_id == 0 || reservation_id != reservation)) {
        r.completion = completion::kReservationInvalid;
        return;
    }
    const auto& record = records_[index];
    if (offset > record.size()) {
        r.completion = completion::kOutOfRange;
        return;
    }
    if (asked == kWholeRecord && refuse_whole_records) {
        r.completion = completion::kCannotReturn;
        return;
    }
    std::size_t count = record.size() - offset;
    if (asked != kWholeRecord) count = std::min<std::size_t>(count, asked);
    if (count > kMaxRecordBytes) {
        r.completion = completion::kCannotReturn;
        return;
    }
    const std::uint16_t next = index + 1 < records_.size() ? RecordId(records_[index + 1]) : kLastRecord;
    r.data = {static_cast<std::uint8_t>(next & 0xFF), static_cast<std::uint8_t>(next >> 8)};
    r.data.insert(r.data.end(), record.begin() + static_cast<long>(offset),
                  record.begin() + static_cast<long>(offset + count));
}

}  // namespace sim
