// The export layer's exported data and busy flags (zero at load), and the steps its exports
// share. The readers and the usage counters live in the process state (api/state.h).
#ifndef QARVEL_API_EXPORTS_H
#define QARVEL_API_EXPORTS_H

#include <atomic>
#include <cstddef>

#include "api/Qarvel.h"
#include "process/entries.h"

class SmBios;
class IPMIsupport;
struct BankInfo;
struct SensorThresholdInfoRaw;
struct SensorThresholdInfoConverted;

extern "C" int ExecuteFirstTime;  // 0 until the first reading: that one only primes cp_old

// One reading of processor nr_cpu from /proc/stat: 0, or -1. The caller holds the usage
// lock, or is alone.
int RetrieveCpuTime(int nr_cpu);
// The used-memory percentage from what `free` printed (the total and the used amount on its
// "Mem:" line): 0 to 100, 0 when there is no such line with two numbers.
int MemUsageFromFree(const char* output);
// Runs `free` by its absolute path, without a shell, into `output` (as platform::run_program):
// the number of bytes stored, -1 with errno set when no `free` could be started.
long RunFree(char* output, std::size_t size);
// Populated processors of the SMBIOS table; 0 without a table.
int GetCpuQuantity(void);

// Holds a busy flag for the life of one export call. The flag is tested and set in one
// atomic step, so two threads can never both find it free; it is cleared on every exit.
// The flags live in the process state (qarvel::State().busy).
class BusyFlag {
public:
    explicit BusyFlag(std::atomic<int>& flag) : flag_(flag), held_(Take(flag)) {}
    ~BusyFlag() {
        if (held_) flag_.store(0, std::memory_order_release);
    }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

    // False when another call holds the flag: the export answers 1 and does nothing.
    explicit operator bool() const { return held_; }

    static bool IsSet(const std::atomic<int>& flag) { return flag.load(std::memory_order_acquire) != 0; }

private:
    static bool Take(std::atomic<int>& flag) {
        int expected = 0;
        return flag.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed);
    }
    std::atomic<int>& flag_;
    bool held_;
};

// Copies a sensor's raw and converted thresholds into the exchange record: the entity,
// the sensor type and the eight values (the two flags are left as they are). 0.
int GetSensorThreshold(SensorThresholdInfoRaw stir, SensorThresholdInfoConverted stic, SensorThresholdInfo& sti);

// Runs the facade's sensor discovery unless it has already succeeded (IPMIGetSensorInfoOK)
// and the repository has not changed since (asked at most once a minute): 0 when the sensor
// tables are built, -1 (to be tried again) otherwise. The caller holds the IPMI session.
int EnsureSensorInfo(IPMIsupport& ipmi);

namespace qarvel {
class SmBiosSession;
}
// One GetInfo command into its record, the caller holding the SMBIOS session.
int DispatchInfo(qarvel::SmBiosSession& session, unsigned long command, LPVOID buffer);

// The steps of the SMBIOS commands of GetInfo; `buffer` is the command's record.
void FillBaseBoardInformation(SmBios& reader, BaseBoardInformation& record);
void FillSysInformation(SmBios& reader, SysInformation& record);
void FillProcessorInformation(SmBios& reader, ProcessorInformation& record);
void FillMemoryInformation(SmBios& reader, MemoryInformation& record);
void FillIOInformation(SmBios& reader, IOInformation& record);
void FillPowerSupplyInformation(SmBios& reader, SystemPowerInformation& record);
void FillUpsInformation(SmBios& reader, SystemPowerInformation& record);
void FillFanInformation(SmBios& reader, FanInformation& record);
void FillVoltageInformation(SmBios& reader, VoltageInformation& record);
void FillTemperatureInformation(SmBios& reader, TemperatureInformation& record);

// The entries of those commands, into the caller's array (GetInfo) or a paged walk's list:
// processors 1 to `count`, the banks described in [begin, end) that have a type, and every
// port, supply of `kind` (kEveryPowerSupply, SmBios::PS_UPS) and cooling device.
void ListProcessors(SmBios& reader, int count, qarvel::Entries<CPU>& cpus);
void ListBanks(const BankInfo* begin, const BankInfo* end, qarvel::Entries<BANK>& banks);
void ListPorts(SmBios& reader, qarvel::Entries<PORT>& ports);
void ListPowerSupplies(SmBios& reader, int kind, qarvel::Entries<SYS_POWER>& supplies);
void ListFans(SmBios& reader, qarvel::Entries<FAN_DEVICE>& fans);
// Every kind of supply: no bit of the kind field outside the selector.
constexpr int kEveryPowerSupply = 15;

// Copies at most TargetBufLen - 1 bytes of `source` and writes no terminator: the target
// must already be zeroed.
void CopyString(char* target, const char* source, unsigned int TargetBufLen);

// Base class texts of PCI functions, indexed by class code (0x00 to 0x13).
extern const char MainDev[20][64];

#endif
