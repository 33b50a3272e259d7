// The export layer's exported data and busy flags (zero at load), and the steps its exports
// share. The readers and the usage counters live in the process state (api/state.h).
#ifndef QARVEL_API_EXPORTS_H
#define QARVEL_API_EXPORTS_H

#include "api/Qarvel.h"

class SmBios;
class IPMIsupport;
struct SensorThresholdInfoRaw;
struct SensorThresholdInfoConverted;

// Busy flags: 0 free, 1 while an export of the family runs.
extern int NoEntersmBIOS;
extern int NoEnterIPMI;           // GetIpmiInfo, the watchdog exports, GetBMCVersion
extern int NoEnterWatchDogTimer;  // also set while a watchdog set or read works
extern int NoEnterGetThreshold;
extern int NoEnterSetThreshold;

extern "C" int ExecuteFirstTime;  // 0 until the first reading: that one only primes cp_old

// One reading of processor nr_cpu from /proc/stat: 0, or -1. The caller holds the usage
// lock, or is alone.
int RetrieveCpuTime(int nr_cpu);
// The used-memory percentage from what the `free` pipeline printed (the total and the used
// amount, a line each): 0 to 100, 0 when the text is not two such numbers.
int MemUsageFromPipeline(const char* output);
// Populated processors of the SMBIOS table; 0 without a table.
int GetCpuQuantity(void);

// Holds a busy flag for the life of one export call. The flag is tested and set in one
// atomic step, so two threads can never both find it free; it is cleared on every exit.
class BusyFlag {
public:
    explicit BusyFlag(int& flag) : flag_(flag), held_(Take(flag)) {}
    ~BusyFlag() {
        if (held_) __atomic_store_n(&flag_, 0, __ATOMIC_RELEASE);
    }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

    // False when another call holds the flag: the export answers 1 and does nothing.
    explicit operator bool() const { return held_; }

    static bool IsSet(const int& flag) { return __atomic_load_n(&flag, __ATOMIC_ACQUIRE) != 0; }

private:
    static bool Take(int& flag) {
        int expected = 0;
        return __atomic_compare_exchange_n(&flag, &expected, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
    }
    int& flag_;
    bool held_;
};

// Copies a sensor's raw and converted thresholds into the exchange record: the entity,
// the sensor type and the eight values (the two flags are left as they are). 0.
int GetSensorThreshold(SensorThresholdInfoRaw stir, SensorThresholdInfoConverted stic, SensorThresholdInfo& sti);

// Runs the facade's sensor discovery unless it has already succeeded (IPMIGetSensorInfoOK):
// 0 when the sensor tables are built, -1 (to be tried again) otherwise. The caller holds the
// IPMI session.
int EnsureSensorInfo(IPMIsupport& ipmi);

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

// Copies at most TargetBufLen - 1 bytes of `source` and writes no terminator: the target
// must already be zeroed.
void CopyString(char* target, const char* source, unsigned int TargetBufLen);

// Base class texts of PCI functions, indexed by class code (0x00 to 0x13).
extern const char MainDev[20][64];

#endif
