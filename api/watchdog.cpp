// The watchdog exports and the BMC firmware version. Each asks whether there is IPMI at
// all before it looks at its busy flag.
#include "IPMI/IPMIsupport.h"
#include "api/exports.h"
#include "process/state.h"

namespace {

// Stopping loads the timer with no timeout action and does not reset it.
constexpr unsigned char kNoAction = 0;
constexpr int kStopTimeout = 180000;

// IPMI 2.0 27.6: timeout actions 0 none, 1 hard reset, 2 power down, 3 power cycle; the
// others are reserved. Countdowns of 10 s to 999 s.
constexpr int kLastAction = 3;
constexpr int kShortest = 10000, kLongest = 999000;

// Every export here asks whether there is IPMI at all before it looks at its busy flag, then
// takes the flag (1 while its own family works), then waits for the facade if a threshold
// export has it.
template <typename Work>
int WithFacade(bool watchdogWork, Work work) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(qarvel::State().busy.NoEnterIPMI);
    if (!busy) return 1;
    if (watchdogWork) qarvel::State().busy.NoEnterWatchDogTimer.store(1, std::memory_order_release);
    int result = -1;
    {
        qarvel::IpmiSession session;
        // A release between the support query and here leaves a new facade to be built.
        if (IPMIsupport* ipmi = session.Ready()) result = work(*ipmi);
    }
    if (watchdogWork) qarvel::State().busy.NoEnterWatchDogTimer.store(0, std::memory_order_release);
    return result;
}

}  // namespace

extern "C" int SetWatchDogTimer(int timerAction, int timeOutValue) {
    // A reserved action would reach the BMC as another one (only three bits travel).
    if (timerAction < 0 || timerAction > kLastAction || timeOutValue < kShortest || timeOutValue > kLongest)
        return -1;
    return WithFacade(true, [&](IPMIsupport& ipmi) {
        if (ipmi.SetWatchDogTimer(static_cast<unsigned char>(timerAction), timeOutValue) != 0) return -1;
        return ipmi.ResetWatchDogTimer() == 0 ? 0 : -1;
    });
}

extern "C" int ResetWatchDogTimer(void) {
    return WithFacade(false, [](IPMIsupport& ipmi) { return ipmi.ResetWatchDogTimer() == 0 ? 0 : -1; });
}

extern "C" int StopWatchDogTimer(void) {
    return WithFacade(false,
                      [](IPMIsupport& ipmi) { return ipmi.SetWatchDogTimer(kNoAction, kStopTimeout) == 0 ? 0 : -1; });
}

extern "C" int GetWatchDogTimer(unsigned char* timerAcion, int* timeOutValue, int* presentTimerOutValue) {
    return WithFacade(true, [&](IPMIsupport& ipmi) {
        if (!timerAcion || !timeOutValue || !presentTimerOutValue) return -1;
        int action = 0, initial = 0, present = 0;
        if (ipmi.GetWatchDogTimer(action, initial, present) != 0) return -1;
        *timerAcion = static_cast<unsigned char>(action);
        *timeOutValue = initial;
        *presentTimerOutValue = present;
        return 0;
    });
}

extern "C" int GetBMCVersion(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision) {
    return WithFacade(false, [&](IPMIsupport& ipmi) {
        if (!majorFirmwareRevision || !minorFirmwareRevision) return -1;
        return ipmi.GetDeviceID(majorFirmwareRevision, minorFirmwareRevision) == 0 ? 0 : -1;
    });
}
