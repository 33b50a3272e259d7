// The simulated BMC's System Event Log and its storage commands (IPMI 2.0 31): events logged
// when a threshold sensor's reading crosses a threshold and when the watchdog expires, Add
// SEL Entry, Clear SEL, overflow, and the quirks of real logs as switches (BmcSel).
#include <algorithm>
#include <cstdio>

#include "sim/Bmc.h"

namespace sim {

namespace {

constexpr std::uint8_t kGetSelInfo = 0x40, kReserveSel = 0x42, kGetSelEntry = 0x43, kAddSelEntry = 0x44,
                       kClearSel = 0x47, kGetSelTime = 0x48;
constexpr std::uint16_t kFirst = 0x0000, kLast = 0xFFFF;
constexpr std::uint8_t kOutOfSpace = 0xC4, kEraseInProgress = 0x00, kEraseDone = 0x01;
constexpr std::uint8_t kSystemEvent = 0x02, kFirstPlainOem = 0xE0;
constexpr std::uint8_t kBmcAddress = 0x20, kEventRevision = 0x04;
constexpr std::uint8_t kThreshold = 0x01, kSensorSpecific = 0x6F, kDeassertion = 0x80;
constexpr std::uint8_t kWatchdog2 = 0x23;
constexpr std::uint8_t kReserveSupported = 0x02, kOverflowBit = 0x80;

std::uint16_t IdOf(const std::array<std::uint8_t, 16>& e) { return static_cast<std::uint16_t>(e[0] | e[1] << 8); }

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The threshold event offset (generic type 01h) of state bit `bit` (mask-bit order): the
// lower thresholds going low (0, 2, 4), the upper ones going high (7, 9, 11).
std::uint8_t CrossingOffset(unsigned bit) {
    return static_cast<std::uint8_t>(bit < 3 ? bit * 2 : (bit - 3) * 2 + 7);
}

}  // namespace

void Bmc::register_sel_commands() {
    add_command(netfn::kStorage, kGetSelInfo, 0, [this](const BmcRequest& q, BmcResponse& r) { get_sel_info(q, r); });
    add_command(netfn::kStorage, kReserveSel, 0, [this](const BmcRequest& q, BmcResponse& r) { reserve_sel(q, r); });
    add_command(netfn::kStorage, kGetSelEntry, 6,
                [this](const BmcRequest& q, BmcResponse& r) { get_sel_entry(q, r); });
    add_command(netfn::kStorage, kAddSelEntry, 16,
                [this](const BmcRequest& q, BmcResponse& r) { add_sel_entry(q, r); });
    add_command(netfn::kStorage, kClearSel, 6, [this](const BmcRequest& q, BmcResponse& r) { clear_sel(q, r); });
    add_command(netfn::kStorage, kGetSelTime, 0, [this](const BmcRequest& q, BmcResponse& r) { get_sel_time(q, r); });
}

std::uint32_t Bmc::sel_time() const { return sel.time_base + static_cast<std::uint32_t>(now_us() / 1000000); }

std::uint16_t Bmc::add_sel(const std::array<std::uint8_t, 16>& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    return append_sel(record);
}

std::uint16_t Bmc::append_sel(std::array<std::uint8_t, 16> record) {
    if (sel.entries.size() >= sel.capacity) {
        sel.overflow = true;
        return kLast;
    }
    const std::uint16_t id = sel.next_id;
    sel.next_id = static_cast<std::uint16_t>(id + 1 >= kLast ? 1 : id + 1);
    record[0] = static_cast<std::uint8_t>(id);
    record[1] = static_cast<std::uint8_t>(id >> 8);
    // The BMC stamps the timestamped types itself (IPMI 2.0 31.6).
    if (record[2] < kFirstPlainOem) Put32(&record[3], sel_time());
    sel.entries.push_back(record);
    sel.added = sel_time();
    return id;
}

void Bmc::run_sel() {
    if (!sel.present) return;
    for (; sel.expiries_logged < watchdog.expiries.size(); ++sel.expiries_logged) {
        const BmcWatchdog::Expiry& e = watchdog.expiries[sel.expiries_logged];
        // Event data 1 bits 7..6 = 11b: byte 2 holds the timer use (IPMI 2.0 42.2, sensor type 23h).
        std::array<std::uint8_t, 16> r{0, 0, kSystemEvent, 0, 0, 0, 0, kBmcAddress, 0, kEventRevision, kWatchdog2,
                                       sel.watchdog_sensor, kSensorSpecific,
                                       static_cast<std::uint8_t>(0xC0 | (e.action & 0x03)), e.timer_use, 0xFF};
        if (append_sel(r) != kLast)
            Put32(&sel.entries.back()[3], sel.time_base + static_cast<std::uint32_t>(e.at_us / 1000000));
    }
    for (auto& [number, s] : sensors) {
        if (!s.threshold_based || s.reading_refused) continue;
        std::uint8_t now = 0;
        for (unsigned bit = 0; bit < 6; ++bit) {
            if (!(s.readable & (1u << bit))) continue;
            const bool beyond = bit < 3 ? s.reading <= s.thresholds[bit] : s.reading >= s.thresholds[bit];
            if (beyond) now = static_cast<std::uint8_t>(now | (1u << bit));
        }
        // A reading beyond a threshold when first looked at has crossed nothing: the log of a
        // capture already holds what happened before.
        auto seen = sel.beyond.find(number);
        if (seen == sel.beyond.end()) {
            sel.beyond[number] = now;
            continue;
        }
        std::uint8_t& before = seen->second;
        for (unsigned bit = 0; bit < 6; ++bit) {
            const std::uint8_t mask = static_cast<std::uint8_t>(1u << bit);
            if ((now & mask) == (before & mask)) continue;
            // Event data 1 = 0101b: bytes 2 and 3 hold the trigger reading and the threshold.
            const std::uint8_t direction = (now & mask) ? 0 : kDeassertion;
            std::array<std::uint8_t, 16> r{0, 0, kSystemEvent, 0, 0, 0, 0, kBmcAddress, 0, kEventRevision,
                                           sel_sensor_type(number), number,
                                           static_cast<std::uint8_t>(direction | kThreshold),
                                           static_cast<std::uint8_t>(0x50 | CrossingOffset(bit)), s.reading,
                                           s.thresholds[bit]};
            append_sel(r);
        }
        before = now;
    }
}

std::uint8_t Bmc::sel_sensor_type(std::uint8_t number) const {
    // Full and compact records both hold the sensor type at offset 12 (IPMI 2.0 43.1, 43.2).
    for (const auto& record : records_)
        if (record.size() > 12 && (record[3] == kFullSensorRecord || record[3] == kCompactSensorRecord) &&
            record[7] == number)
            return record[12];
    return 0;
}

// IPMI 2.0 31.2
void Bmc::get_sel_info(const BmcRequest&, BmcResponse& r) {
    if (!sel.present) {
        r.completion = completion::kInvalidCommand;
        return;
    }
    const std::size_t count = sel.entries.size();
    const std::size_t free = std::min<std::size_t>((sel.capacity - std::min(count, sel.capacity)) * 16, 0xFFFF);
    r.data = {0x51, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
              static_cast<std::uint8_t>(free), static_cast<std::uint8_t>(free >> 8), 0, 0, 0, 0, 0, 0, 0, 0,
              static_cast<std::uint8_t>((sel.overflow ? kOverflowBit : 0) | kReserveSupported)};
    Put32(&r.data[5], sel.added);
    Put32(&r.data[9], sel.erased);
}

// IPMI 2.0 31.4
void Bmc::reserve_sel(const BmcRequest&, BmcResponse& r) {
    if (!sel.present) {
        r.completion = completion::kInvalidCommand;
        return;
    }
    if (sel.reserve_refused) {
        r.completion = sel.reserve_refused;
        return;
    }
    if (++sel.reservation == 0) sel.reservation = 1;
    sel.entries_since_reserve = 0;
    r.data = {static_cast<std::uint8_t>(sel.reservation), static_cast<std::uint8_t>(sel.reservation >> 8)};
}

// IPMI 2.0 31.5: a reservation is needed only to read from an offset other than 0; one given
// must be the current one.
void Bmc::get_sel_entry(const BmcRequest& q, BmcResponse& r) {
    if (!sel.present) {
        r.completion = completion::kInvalidCommand;
        return;
    }
    const std::uint16_t reservation = static_cast<std::uint16_t>(q.data[0] | q.data[1] << 8);
    const std::uint16_t id = static_cast<std::uint16_t>(q.data[2] | q.data[3] << 8);
    const std::size_t offset = q.data[4];
    const std::size_t asked = q.data[5];
    if (sel.cancel_after != 0 && ++sel.entries_since_reserve > sel.cancel_after) {
        ++sel.reservation;  // the one handed out no longer matches, once
        sel.cancel_after = 0;
    }
    if ((offset != 0 || reservation != 0) && (reservation == 0 || reservation != sel.reservation)) {
        r.completion = completion::kReservationInvalid;
        return;
    }
    if (sel.entries.empty()) {
        r.completion = completion::kNotPresent;
        return;
    }
    std::size_t index = 0;
    if (id == kLast) {
        index = sel.entries.size() - 1;
    } else if (id != kFirst) {
        auto it = std::find_if(sel.entries.begin(), sel.entries.end(), [id](const auto& e) { return IdOf(e) == id; });
        if (it == sel.entries.end()) {
            r.completion = completion::kNotPresent;
            return;
        }
        index = static_cast<std::size_t>(it - sel.entries.begin());
    }
    if (offset >= 16) {
        r.completion = completion::kOutOfRange;
        return;
    }
    std::uint16_t next = kLast;
    if (index + 1 < sel.entries.size())
        next = IdOf(sel.entries[index + 1]);
    else if (sel.endless_chain)
        next = IdOf(sel.entries.front());
    const auto& e = sel.entries[index];
    const std::size_t count = asked == 0xFF ? 16 - offset : std::min<std::size_t>(asked, 16 - offset);
    r.data = {static_cast<std::uint8_t>(next), static_cast<std::uint8_t>(next >> 8)};
    r.data.insert(r.data.end(), e.begin() + static_cast<long>(offset), e.begin() + static_cast<long>(offset + count));
}

// IPMI 2.0 31.6: the record ID the BMC gives it.
void Bmc::add_sel_entry(const BmcRequest& q, BmcResponse& r) {
    if (!sel.present) {
        r.completion = completion::kInvalidCommand;
        return;
    }
    std::array<std::uint8_t, 16> record{};
    std::copy_n(q.data.begin(), 16, record.begin());
    const std::uint16_t id = append_sel(record);
    if (id == kLast) {
        r.completion = kOutOfSpace;
        return;
    }
    r.data = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)};
}

// IPMI 2.0 31.9: "CLR", then AAh to erase or 00h for the progress; a reservation is required.
void Bmc::clear_sel(const BmcRequest& q, BmcResponse& r) {
    if (!sel.present) {
        r.completion = completion::kInvalidCommand;
        return;
    }
    const std::uint16_t reservation = static_cast<std::uint16_t>(q.data[0] | q.data[1] << 8);
    if (reservation == 0 || reservation != sel.reservation) {
        r.completion = completion::kReservationInvalid;
        return;
    }
    if (q.data[2] != 'C' || q.data[3] != 'L' || q.data[4] != 'R' || (q.data[5] != 0xAA && q.data[5] != 0x00)) {
        r.completion = completion::kInvalidField;
        return;
    }
    if (q.data[5] == 0xAA) {
        sel.entries.clear();
        sel.overflow = false;
        sel.erased = sel_time();
        sel.erase_asks_left = sel.erase_polls;
    } else if (sel.erase_asks_left > 0) {
        --sel.erase_asks_left;
    }
    r.data = {sel.erase_asks_left > 0 ? kEraseInProgress : kEraseDone};
}

// IPMI 2.0 31.10
void Bmc::get_sel_time(const BmcRequest&, BmcResponse& r) {
    if (!sel.present) {
        r.completion = completion::kInvalidCommand;
        return;
    }
    r.data.assign(4, 0);
    Put32(r.data.data(), sel_time());
}

// --- the capture files ---------------------------------------------------------------------

std::vector<std::uint8_t> sel_bin(const Bmc& bmc) {
    std::vector<std::uint8_t> out;
    for (const auto& e : bmc.sel.entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

bool load_sel_bin(const std::string& bytes, Bmc& bmc, std::string& error) {
    bmc.sel.present = true;
    const std::size_t whole = bytes.size() / 16;
    for (std::size_t i = 0; i < whole; ++i) {
        std::array<std::uint8_t, 16> e{};
        std::copy_n(bytes.begin() + static_cast<long>(16 * i), 16, e.begin());
        const std::uint16_t id = IdOf(e);
        // FFFFh names the last entry and can be no entry's own; 0000h can (see BmcSel::next_id).
        if (id == kLast) {
            error = "ipmi/sel.bin: the record at offset " + std::to_string(16 * i) + " has the reserved ID " +
                    std::to_string(id);
            return false;
        }
        // IDs as captured; new ones go after the highest.
        bmc.sel.entries.push_back(e);
        if (id >= bmc.sel.next_id) bmc.sel.next_id = static_cast<std::uint16_t>(id + 1 >= kLast ? 1 : id + 1);
    }
    bmc.sel.capacity = std::max(bmc.sel.capacity, bmc.sel.entries.size());
    if (bytes.size() % 16 != 0) {
        error = "ipmi/sel.bin: " + std::to_string(bytes.size() % 16) + " bytes after the last whole record";
        return false;
    }
    return true;
}

bool read_sel_setting(const std::string& key, const std::string& value, Bmc& bmc, bool& good,
                      const std::function<bool(const std::string&, unsigned long, unsigned long&)>& number) {
    BmcSel& s = bmc.sel;
    // The words, each "yes" or "no" in its own terms.
    const struct {
        const char* key;
        const char *yes, *no;
        bool& flag;
    } words[] = {{"sel", "present", "absent", s.present},
                 {"sel-overflow", "yes", "no", s.overflow},
                 {"sel-chain", "endless", "ends", s.endless_chain}};
    for (const auto& w : words) {
        if (key != w.key) continue;
        good = value == w.yes || value == w.no;
        if (good) w.flag = value == w.yes;
        return true;
    }
    unsigned long v = 0;
    const struct {
        const char* key;
        unsigned long max;
        std::function<void(unsigned long)> set;
    } numbers[] = {
        {"sel-capacity", 0xFFFE, [&s](unsigned long n) { s.capacity = n; }},
        {"sel-added", 0xFFFFFFFF, [&s](unsigned long n) { s.added = static_cast<std::uint32_t>(n); }},
        {"sel-erased", 0xFFFFFFFF, [&s](unsigned long n) { s.erased = static_cast<std::uint32_t>(n); }},
        {"sel-time", 0xFFFFFFFF, [&s](unsigned long n) { s.time_base = static_cast<std::uint32_t>(n); }},
        {"sel-reserve-refused", 0xFF, [&s](unsigned long n) { s.reserve_refused = static_cast<std::uint8_t>(n); }},
        {"sel-cancel-after", 0xFFFF, [&s](unsigned long n) { s.cancel_after = n; }},
        {"sel-erase-polls", 0xFF, [&s](unsigned long n) { s.erase_polls = n; }},
        {"sel-next-id", 0xFFFE, [&s](unsigned long n) { s.next_id = static_cast<std::uint16_t>(n); }},
    };
    for (const auto& n : numbers) {
        if (key != n.key) continue;
        good = number(value, n.max, v);
        if (good) n.set(v);
        return true;
    }
    return false;
}

std::string sel_conf(const Bmc& bmc) {
    const BmcSel& s = bmc.sel;
    if (!s.present) return "";
    char line[160];
    std::snprintf(line, sizeof line,
                  "sel present\nsel-capacity %zu\nsel-overflow %s\nsel-added 0x%08X\nsel-erased 0x%08X\n"
                  "sel-time 0x%08X\n",
                  s.capacity, s.overflow ? "yes" : "no", s.added, s.erased, bmc.sel_time());
    std::string out = line;
    // The quirks, only where set.
    if (s.reserve_refused) out += "sel-reserve-refused " + std::to_string(s.reserve_refused) + "\n";
    if (s.cancel_after) out += "sel-cancel-after " + std::to_string(s.cancel_after) + "\n";
    if (s.endless_chain) out += "sel-chain endless\n";
    if (s.erase_polls) out += "sel-erase-polls " + std::to_string(s.erase_polls) + "\n";
    // Loading the entries sets it after the highest; an empty log keeps what it was given.
    if (s.entries.empty() && s.next_id != 1) out += "sel-next-id " + std::to_string(s.next_id) + "\n";
    return out;
}

}  // namespace sim
