// The process state of the export layer and its one reset.
#include "process/state.h"

#include <cstring>
#include <new>

#include "IPMI/IPMIsupport.h"
#include "SmBios/SmBios.h"
#include "api/exports.h"

namespace qarvel {

namespace {

// How many reader sessions this thread holds: release from inside a call (a simulator hook
// calling back) would free the objects that call is using.
thread_local int sessionsHeld = 0;

void Clear(int& flag) { __atomic_store_n(&flag, 0, __ATOMIC_RELEASE); }

}  // namespace

ProcessState& State() {
    // Built in the library's own static storage rather than on the heap: it is never
    // destroyed, and once the library is unloaded no leak is left behind in the caller.
    alignas(ProcessState) static unsigned char storage[sizeof(ProcessState)];
    static ProcessState* const state = new (storage) ProcessState;
    return *state;
}

namespace {

// The state is never destroyed (see State()), so what it keeps on the heap is given back when
// the library is unloaded: a caller that dlcloses the library is left with no leak. This runs
// at exit too, when a thread may still be inside a call (an exporter's collector stuck on a
// BMC past its time limit), so nothing is taken from under a lock someone holds.
__attribute__((destructor)) void GiveBackAtUnload() { GiveBackUnlessBusy(); }

}  // namespace

int GiveBackUnlessBusy() {
    ProcessState& s = State();
    int left = 0;
    // The same parts, under the same locks, as ResetProcessState frees.
    if (std::try_lock(s.smbiosLock, s.ipmiLock) == -1) {
        s.readingFactors.clear();
        s.sel.Clear();
        s.inventoryPages.clear();
        s.sensorPages.clear();
        s.ipmiLock.unlock();
        s.smbiosLock.unlock();
    } else {
        ++left;
    }
    if (s.healthLock.try_lock()) {
        s.hwmon = HwmonChips{};
        s.healthLock.unlock();
    } else {
        ++left;
    }
    if (s.usageLock.try_lock()) {
        s.usagePages.clear();
        s.usageLock.unlock();
    } else {
        ++left;
    }
    return left;
}

int ResetProcessState(Reset what) {
    if (sessionsHeld > 0) return -1;
    ProcessState& s = State();
    {
        std::scoped_lock lock(s.smbiosLock, s.ipmiLock);
        delete s.bios;
        s.bios = nullptr;
        delete s.pIPMI;
        s.pIPMI = nullptr;
        s.ipmiReady = -1;
        // The sensor tables went with the facade: the next one must discover its own.
        s.IPMIGetSensorInfoOK = 0;
        if (what == Reset::Everything) {
            s.ipmi.Forget();
            s.ipmiMemory.Clear();
            s.readingFactors.clear();
            s.sel.Clear();
            s.sources[SOURCE_IPMI].Clear();
            s.inventoryPages.clear();
            s.sensorPages.clear();
        }
    }
    {
        std::lock_guard<std::mutex> lock(s.healthLock);
        s.hwmon.Clear();
    }
    if (what == Reset::Everything) {
        std::lock_guard<std::mutex> lock(s.usageLock);
        std::memset(s.cp_time, 0, sizeof s.cp_time);
        std::memset(s.cp_old, 0, sizeof s.cp_old);
        std::memset(s.UserTime, 0, sizeof s.UserTime);
        std::memset(s.NiceTime, 0, sizeof s.NiceTime);
        std::memset(s.SysTime, 0, sizeof s.SysTime);
        std::memset(s.IdleTime, 0, sizeof s.IdleTime);
        s.retrieve_all_cpus = 1;
        s.quantity = 0;
        s.usagePages.clear();
        Clear(ExecuteFirstTime);
        s.busy.Clear();
    }
    return 0;
}

SmBiosSession::SmBiosSession() : lock_(State().smbiosLock) { ++sessionsHeld; }

SmBiosSession::~SmBiosSession() { --sessionsHeld; }

SmBios* SmBiosSession::Reader() {
    ProcessState& s = State();
    if (!s.bios) s.bios = new (std::nothrow) SmBios;
    return s.bios;
}

IpmiSession::IpmiSession() : lock_(State().ipmiLock) { ++sessionsHeld; }

IpmiSession::~IpmiSession() { --sessionsHeld; }

IPMIsupport* IpmiSession::Facade() {
    ProcessState& s = State();
    if (!s.pIPMI) {
        s.pIPMI = new (std::nothrow) IPMIsupport;
        // The device is opened and probed once, by the constructor: the answer holds for the
        // life of the facade.
        s.ipmiReady = s.pIPMI && s.pIPMI->IsInitOK() ? 1 : 0;
    }
    return s.pIPMI;
}

int IpmiSupported() {
    const int known = State().ipmiReady.load();
    if (known >= 0) return known;
    IpmiSession session;
    return session.Ready() ? 1 : 0;
}

IPMIsupport* IpmiSession::Ready() {
    IPMIsupport* facade = Facade();
    return facade && facade->IsInitOK() ? facade : nullptr;
}

}  // namespace qarvel
