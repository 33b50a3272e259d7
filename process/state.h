// The one process state: everything the library changes while it runs lives here (the two
// readers, the sensor-discovery flag, which source answered each subsystem, the processor-usage
// counters) with the locks that keep threads from using them at once. Exported data symbols
// that callers may read (hDevice, InitOK, ExecuteFirstTime) are kept in step with it.
//
// Every export that touches a reader holds that reader's lock for the whole call, so one
// BMC request (or SMBIOS walk) never shares its objects with another thread's, and release
// frees nothing that a running call still uses. The busy flags stay outside: a call answers
// 1 when its own family is busy, and waits for the lock when another family has it.
#ifndef QARVEL_PROCESS_STATE_H
#define QARVEL_PROCESS_STATE_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "IPMI/conversion.h"
#include "IPMI/sel.h"
#include "IPMI/transport.h"
#include "api/types.h"
#include "health/hwmon.h"
#include "process/source.h"

class SmBios;
class IPMIsupport;

namespace qarvel {

// One reading of every entry of a command, kept for the pages of one walk (api/paging.h).
struct PagedReading {
    virtual ~PagedReading() = default;
};
using PagedReadings = std::map<std::string, std::unique_ptr<PagedReading>>;

struct ProcessState {
    SmBios* bios = nullptr;
    IPMIsupport* pIPMI = nullptr;
    // 1 once the facade's sensor discovery has succeeded; cleared with the facade.
    int IPMIGetSensorInfoOK = 0;
    // Whether the facade that exists found its device: -1 while there is none. Read without
    // the lock, so a watchdog export can answer busy at once while another call holds it.
    std::atomic<int> ipmiReady{-1};
    // The one way to the BMC that every IPMI object uses, and what its readers carry between
    // requests (IPMI/transport.h).
    IpmiTransport ipmi;
    IpmiReaderMemory ipmiMemory;
    // The factors a non-linear sensor's BMC gave (Get Sensor Reading Factors), by sensor
    // number (high byte) and raw reading (low byte): each is asked once per discovery, and a
    // discovery run again clears them (IPMI/readings.cpp).
    std::map<unsigned int, SensorFormulaParameter> readingFactors;
    // The System Event Log's readers: the repository's sensors by owner and number, and the
    // entries a read found beyond the page it filled (IPMI/sel.h).
    SelMemory sel;

    // Which source answered the last probe of each subsystem (SOURCE_SMBIOS...), and why the
    // ones before it did not. Written under that subsystem's lock; GetSourceName reads it.
    ProbeRecord sources[SOURCE_DISK_HEALTH + 1];

    // The hardware-monitoring chips as listed (health/hwmon.h), and the lock of the health
    // sources; release lists the chips again.
    HwmonChips hwmon;
    std::mutex healthLock;

    // Busy flags: 0 free, 1 while an export of the family runs (see BusyFlag in api/exports.h).
    struct BusyFlags {
        std::atomic<int> NoEntersmBIOS{0};
        std::atomic<int> NoEnterIPMI{0};           // GetIpmiInfo, the watchdog exports, GetBMCVersion
        std::atomic<int> NoEnterWatchDogTimer{0};  // also set while a watchdog set or read works
        std::atomic<int> NoEnterGetThreshold{0};
        std::atomic<int> NoEnterSetThreshold{0};
        std::atomic<int> NoEnterHealth{0};  // GetHealthInfo
        std::atomic<int> NoEnterSel{0};     // GetSelInfo, GetSelEntries, ClearSel
        void Clear() {
            for (std::atomic<int>* flag : {&NoEntersmBIOS, &NoEnterIPMI, &NoEnterWatchDogTimer, &NoEnterGetThreshold,
                                           &NoEnterSetThreshold, &NoEnterHealth, &NoEnterSel})
                flag->store(0, std::memory_order_release);
        }
    } busy;

    // Processor usage: the latest and the previous cumulative times (four per processor, in
    // one run of 32 longs), the differences between them, and the processor count, taken
    // once per process.
    long cp_time[4][8] = {};
    long cp_old[4][8] = {};
    long UserTime[8] = {};
    long NiceTime[8] = {};
    long SysTime[8] = {};
    long IdleTime[8] = {};
    int retrieve_all_cpus = 1;  // 1 until the processors have been counted
    int quantity = 0;           // processors counted, 0 to 8

    // Recursive: a BMC or file hook of the simulator may call the library again from inside
    // a call on the same thread.
    std::recursive_mutex smbiosLock;
    std::recursive_mutex ipmiLock;
    std::mutex usageLock;

    // The readings paged walks are served from, by command, each taken at a walk's first page
    // and kept until the next first page of its command (release keeps them: a walk that
    // spans a release still sees one reading). GetInfoPage's under smbiosLock, the sensor and
    // threshold ones under ipmiLock, the processor usage under usageLock.
    PagedReadings inventoryPages;
    PagedReadings sensorPages;
    PagedReadings usagePages;
};

// The one state of the process, built on first use (also when threads arrive together) and
// never destroyed, so a call still running at exit finds it intact.
ProcessState& State();

enum class Reset {
    Readers,     // what release does: both readers and the discovery flag
    Everything,  // the library as just loaded: also the usage counters, the busy flags, the
                 // IPMI driver chosen and what the IPMI readers remember
};
// Waits until no call uses a reader, then resets. Readers is refused (-1, nothing freed)
// on a thread that is itself inside a call holding a reader; otherwise 0.
int ResetProcessState(Reset what);

// Gives back what the state keeps on the heap (kept readings, the event log's sensor index,
// the hwmon chips), each part only when its lock can be taken without waiting: a part a call
// is using now stays as it is. How many parts were left; the library calls it at unload.
int GiveBackUnlessBusy();

// Holds the SMBIOS reader for one call; the reader is built on first need. A reader that
// found no table stays (its InitOK is 0) until release.
class SmBiosSession {
public:
    SmBiosSession();
    ~SmBiosSession();
    SmBiosSession(const SmBiosSession&) = delete;
    SmBiosSession& operator=(const SmBiosSession&) = delete;
    // Null only when it could not be allocated.
    SmBios* Reader();

private:
    std::lock_guard<std::recursive_mutex> lock_;
};

// 1 when there is IPMI, else 0: what IsIpmiSupport answers, without waiting for a running
// call when the facade already exists.
int IpmiSupported();

// Holds the IPMI facade for one call; the facade is built on first need. A facade whose
// device would not open stays until release: no second attempt.
class IpmiSession {
public:
    IpmiSession();
    ~IpmiSession();
    IpmiSession(const IpmiSession&) = delete;
    IpmiSession& operator=(const IpmiSession&) = delete;
    // Null only when it could not be allocated.
    IPMIsupport* Facade();
    // The facade when its device is ready, else null.
    IPMIsupport* Ready();

private:
    std::lock_guard<std::recursive_mutex> lock_;
};

}  // namespace qarvel

#endif
