// The watchdog exports and the BMC firmware version. Each asks whether there is IPMI at
// all before it looks at its busy flag.
#include "IPMI/IPMIsupport.h"
#include "api/exports.h"

namespace {

// Marks a watchdog set or read in progress for as long as it lives; GetIpmiInfo answers
// busy meanwhile. Taken only while NoEnterIPMI is held, and let go before it.
class WatchDogWork {
public:
    WatchDogWork() { __atomic_store_n(&NoEnterWatchDogTimer, 1, __ATOMIC_RELEASE); }
    ~WatchDogWork() { __atomic_store_n(&NoEnterWatchDogTimer, 0, __ATOMIC_RELEASE); }
    WatchDogWork(const WatchDogWork&) = delete;
    WatchDogWork& operator=(const WatchDogWork&) = delete;
};

// Stopping loads the timer with no timeout action and does not reset it.
constexpr unsigned char kNoAction = 0;
constexpr int kStopTimeout = 180000;

}  // namespace

extern "C" int SetWatchDogTimer(int timerAction, int timeOutValue) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(NoEnterIPMI);
    if (!busy) return 1;
    WatchDogWork work;
    if (pIPMI->SetWatchDogTimer(static_cast<unsigned char>(timerAction), timeOutValue) != 0) return -1;
    return pIPMI->ResetWatchDogTimer() == 0 ? 0 : -1;
}

extern "C" int ResetWatchDogTimer(void) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(NoEnterIPMI);
    if (!busy) return 1;
    return pIPMI->ResetWatchDogTimer() == 0 ? 0 : -1;
}

extern "C" int StopWatchDogTimer(void) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(NoEnterIPMI);
    if (!busy) return 1;
    return pIPMI->SetWatchDogTimer(kNoAction, kStopTimeout) == 0 ? 0 : -1;
}

extern "C" int GetWatchDogTimer(unsigned char* timerAcion, int* timeOutValue, int* presentTimerOutValue) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(NoEnterIPMI);
    if (!busy) return 1;
    WatchDogWork work;
    if (!timerAcion || !timeOutValue || !presentTimerOutValue) return -1;
    int action = 0, initial = 0, present = 0;
    if (pIPMI->GetWatchDogTimer(action, initial, present) != 0) return -1;
    *timerAcion = static_cast<unsigned char>(action);
    *timeOutValue = initial;
    *presentTimerOutValue = present;
    return 0;
}

extern "C" int GetBMCVersion(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision) {
    if (!IsIpmiSupport()) return -1;
    BusyFlag busy(NoEnterIPMI);
    if (!busy) return 1;
    if (!majorFirmwareRevision || !minorFirmwareRevision) return -1;
    return pIPMI->GetDeviceID(majorFirmwareRevision, minorFirmwareRevision) == 0 ? 0 : -1;
}
