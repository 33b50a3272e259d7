// The simulated BMC's watchdog timer (IPMI 2.0 27.5 to 27.7). Its countdown runs on the
// machine's clock, which moves only when the library sleeps; it is brought up to date
// whenever a request arrives.
#include "sim/Bmc.h"
#include "sim/Machine.h"

namespace sim {

namespace {

constexpr std::uint8_t kResetWatchdogTimer = 0x22, kSetWatchdogTimer = 0x24, kGetWatchdogTimer = 0x25;
constexpr std::uint64_t kUnitUs = 100000;  // countdowns are in 100 ms units
// Timer use byte: bits 2..0 the use, bit 6 "don't stop" in a Set and "running" in a Get.
constexpr std::uint8_t kUseMask = 0x07, kDontStop = 0x40, kRunning = 0x40, kDontLog = 0x80;

}  // namespace

void Bmc::register_watchdog_commands() {
    add_command(netfn::kApp, kResetWatchdogTimer, 0,
                [this](const BmcRequest& q, BmcResponse& r) { reset_watchdog_timer(q, r); });
    add_command(netfn::kApp, kSetWatchdogTimer, 6,
                [this](const BmcRequest& q, BmcResponse& r) { set_watchdog_timer(q, r); });
    add_command(netfn::kApp, kGetWatchdogTimer, 0,
                [this](const BmcRequest& q, BmcResponse& r) { get_watchdog_timer(q, r); });
}

std::uint64_t Bmc::now_us() const { return clock ? clock->now_us.load() : 0; }

void Bmc::run_watchdog() {
    BmcWatchdog& w = watchdog;
    if (!w.running) return;
    const std::uint64_t end = w.started_us + w.initial * kUnitUs;
    if (now_us() < end) return;
    w.running = false;
    w.present = 0;
    const std::uint8_t use = w.timer_use & kUseMask;
    w.expiration_flags = static_cast<std::uint8_t>(w.expiration_flags | (1u << use));
    w.expiries.push_back({end, static_cast<std::uint8_t>(w.actions & 0x07), use});
}

// IPMI 2.0 27.5: starts the countdown from its initial value, once the timer was loaded.
void Bmc::reset_watchdog_timer(const BmcRequest&, BmcResponse& r) {
    if (!watchdog.loaded) {
        r.completion = completion::kWatchdogNotLoaded;
        return;
    }
    watchdog.running = true;
    watchdog.started_us = now_us();
}

// IPMI 2.0 27.6: loads use, actions, pre-timeout interval and countdown; stops the timer
// unless "don't stop" is set, in which case a running timer goes on from the new countdown.
void Bmc::set_watchdog_timer(const BmcRequest& q, BmcResponse& r) {
    const std::uint8_t use = q.data[0] & kUseMask;
    if (use == 0 || use > 5) {  // 1 BIOS FRB2, 2 BIOS/POST, 3 OS load, 4 SMS/OS, 5 OEM
        r.completion = completion::kInvalidField;
        return;
    }
    BmcWatchdog& w = watchdog;
    w.timer_use = static_cast<std::uint8_t>(q.data[0] & (kUseMask | kDontLog));
    w.actions = q.data[1] & 0x77;
    w.pretimeout = q.data[2];
    w.expiration_flags = static_cast<std::uint8_t>(w.expiration_flags & ~q.data[3]);
    w.initial = static_cast<std::uint16_t>(q.data[4] | q.data[5] << 8);
    w.present = w.initial;
    w.loaded = true;
    if (!(q.data[0] & kDontStop))
        w.running = false;
    else if (w.running)
        w.started_us = now_us();
}

// IPMI 2.0 27.7
void Bmc::get_watchdog_timer(const BmcRequest&, BmcResponse& r) {
    if (watchdog_refused) {
        r.completion = watchdog_refused;
        return;
    }
    const BmcWatchdog& w = watchdog;
    std::uint16_t present = w.present;
    if (w.running) {
        // Whole units left, rounded up: the timer reads 0 only once it has expired.
        const std::uint64_t left = w.started_us + w.initial * kUnitUs - now_us();
        present = static_cast<std::uint16_t>((left + kUnitUs - 1) / kUnitUs);
    }
    r.data = {static_cast<std::uint8_t>(w.timer_use | (w.running ? kRunning : 0)),
              w.actions,
              w.pretimeout,
              w.expiration_flags,
              static_cast<std::uint8_t>(w.initial & 0xFF),
              static_cast<std::uint8_t>(w.initial >> 8),
              static_cast<std::uint8_t>(present & 0xFF),
              static_cast<std::uint8_t>(present >> 8)};
    if (watchdog_answer_bytes < r.data.size()) r.data.resize(watchdog_answer_bytes);
}

}  // namespace sim
