// The BMC watchdog timer (IPMI 2.0 27.5 to 27.7), driven for the operating system.
#include "IPMI/IPMIsupport.h"

namespace {

// Countdowns travel in 100 ms units; we accept 10 s to 999 s.
constexpr int kShortest = 10000, kLongest = 999000, kUnitMs = 100;
// Timer use 4: SMS/OS. "Don't log" and "don't stop" (bits 7 and 6) are clear, so loading
// the timer also stops it until it is reset.
constexpr unsigned char kTimerUseSmsOs = 0x04;

}  // namespace

int IPMIsupport::SetWatchDogTimer(unsigned char timerAction, int timeOutValue) {
    if (!IsInitOK() || timeOutValue < kShortest || timeOutValue > kLongest) return -1;
    const int countdown = timeOutValue / kUnitMs;
    const unsigned char data[6] = {
        kTimerUseSmsOs,
        static_cast<unsigned char>(timerAction & 0x07),  // timeout action; no pre-timeout interrupt
        0x00,                                             // pre-timeout interval
        0x00,                                             // no expiration flags to clear
        static_cast<unsigned char>(countdown & 0xFF),
        static_cast<unsigned char>((countdown >> 8) & 0xFF),
    };
    return Send(APP_CMD, set_watchdog_timer, data, 6).ok() ? 0 : -1;
}

int IPMIsupport::GetWatchDogTimer(int& timerAcion, int& timeOutValue, int& presentTimeOutValue) {
    const IpmiAnswer answer = Send(APP_CMD, get_watchdog_timer, nullptr, 0);
    // Some BMCs (OpenIPMI's ipmi_sim among them) stop after the initial countdown: the
    // action and the countdown are still good, and the present one is not given.
    if (!answer.ok() || answer.length < 6) return -1;
    const unsigned char* r = answer.bytes;
    timerAcion = r[1] & 0x07;
    timeOutValue = (r[5] << 8 | r[4]) * kUnitMs;
    presentTimeOutValue = answer.length >= 8 ? (r[7] << 8 | r[6]) * kUnitMs : kCountdownNotGiven;
    return 0;
}

int IPMIsupport::ResetWatchDogTimer() {
    return Send(APP_CMD, reset_watchdog_timer, nullptr, 0).ok() ? 0 : -1;
}
