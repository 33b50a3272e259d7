/*
 * Qarvel exchange records.
 *
 * Every record that crosses the library boundary, the command codes of GetInfo and
 * GetIpmiInfo, and the scalar typedefs of the exported prototypes. The records are plain
 * C structures with the natural alignment of the i386 System V ABI: callers built against
 * this header share the exact layout. The caller owns every record and passes it zeroed;
 * the library only writes into it during a call.
 */
#ifndef QARVEL_API_TYPES_H
#define QARVEL_API_TYPES_H

typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned long ULONG;
typedef void* PVOID;
typedef void* LPVOID;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef unsigned long* PULONG;

/* Command codes: one bit per record kind; a command is exactly one of them. */
#define INFO_BASE_BOARD   0x10000UL    /* BaseBoardInformation */
#define INFO_PROCESSOR    0x20000UL    /* ProcessorInformation */
#define INFO_MEMORY       0x40000UL    /* MemoryInformation */
#define INFO_IO_PORT      0x80000UL    /* IOInformation */
#define INFO_PCI_DEVICE   0x100000UL   /* DeviceInformation */
#define INFO_STORAGE      0x200000UL   /* StorageInformation */
#define INFO_PARTITION    0x400000UL   /* PartitionInformation */
#define INFO_POWER_SUPPLY 0x800000UL   /* SystemPowerInformation */
#define INFO_UPS          0x1000000UL  /* SystemPowerInformation (not UPSInformation) */
#define INFO_FAN          0x2000000UL  /* FanInformation */
#define INFO_VOLTAGE      0x4000000UL  /* VoltageInformation */
#define INFO_TEMPERATURE  0x8000000UL  /* TemperatureInformation */
#define INFO_SYSTEM       0x10000000UL /* SysInformation */

/* Subsystems whose source GetSourceName names: which of the kernel's interfaces answered. */
#define SOURCE_SMBIOS 0
#define SOURCE_IPMI   1
#define SOURCE_PCI    2
#define SOURCE_DISK   3
#define SOURCE_HWMON        4 /* hardware monitoring chips (GetHealthInfo HEALTH_HWMON) */
#define SOURCE_EDAC         5 /* memory controllers' error counts (HEALTH_EDAC) */
#define SOURCE_DISK_HEALTH  6 /* disks' own health answers (HEALTH_DISK) */

/* Commands of GetHealthInfo: each fills its own record type (api/health_types.h). */
#define HEALTH_HWMON 1UL
#define HEALTH_EDAC  2UL
#define HEALTH_DISK  3UL

/* Thresholds of one IPMI sensor in engineering units. */
typedef struct {
    int DeviceID;   /* IPMI entity ID */
    int SensorType; /* IPMI sensor type code */
    double UpperNonRecoverThresholdValue;
    double UpperCriticalThresholdValue;
    double UpperNonCriticalThresholdValue;
    double LowerNonRecoverThreshold;
    double LowerCriticalThreshold;
    double LowerNonCriticalThreshold;
    double MaxThreshold;
    double MinThreshold;
    char readableFlag; /* never written by the library */
    char settableFlag; /* never written by the library */
} SensorThresholdInfo;

typedef struct {
    char MaxSize[16];       /* "<n> KB" */
    char InstalledSize[16]; /* "<n> KB" */
    char speed[16];         /* "<n>ns" or "Unknown" */
    char designation[32];
} CACHE;

typedef struct {
    char family[48];
    char stepping[16]; /* never written */
    char MaxSpeed[16];      /* "<n> MHZ" */
    char CurrentSpeed[16];  /* "<n> MHZ" */
    char ExternalClock[16]; /* "<n> MHZ" */
    char manufacturer[48];
    char UsageRate[16]; /* never written */
    CACHE cache[3];     /* levels 1, 2, 3 */
    int IsUHT;
    int IsDisabled;
} CPU;

typedef struct {
    char size[16];
    char speed[16];
    char type[24];
    char TypeDetail[32];
    char manufacturer[32];
    int SlotNumber;
} BANK;

typedef struct {
    char type[48];
    char description[32];
} PORT;

typedef struct {
    int BiosEnable; /* never written */
    char model[64];
    char type[64];
    char desc[32]; /* "bus:%d, dev:%d, func:%d" */
    int IRQ;
    long MemBase; /* never written */
    long IOBase;
    int DMAChannel; /* never written */
    int Duplex;     /* never written */
    int revision;
    char status[256];
} DEV;

typedef struct {
    char description[64];
    char label[64]; /* never written */
    char size[64];
    char used[64]; /* never written */
    char FileSystem[64];
    int isSystem; /* never written */
} PARTITION;

typedef struct {
    char manufacturer[32];
    char ProductName[32]; /* never written */
    char DeviceName[32];
    char ProductVersion[16]; /* never written */
    char SerialNo[16];
    char status[16];
    char BiosEnable[8]; /* never written */
} SYS_POWER;

typedef struct {
    unsigned char sensorNumber;
    char status; /* never written */
    int DeviceID;
    int SensorType;
    char desc[64];
    char speed[16];
    char min[16];
    char max[16];
    char IdString[16];
    SensorThresholdInfo sti;
} FAN_DEVICE;

typedef struct {
    unsigned char sensorNumber;
    char status; /* never written */
    int DeviceID;
    int SensorType;
    char desc[64];
    char CurrentVoltage[16];
    char min[16];
    char max[16];
    char IdString[16];
    SensorThresholdInfo sti;
} VOLTAGE_PROBE;

typedef struct {
    unsigned char sensorNumber;
    char status; /* never written */
    int DeviceID;
    int SensorType;
    char desc[64];
    char CurrentTemperature[16];
    char min[16];
    char max[16];
    char IdString[16];
    SensorThresholdInfo sti;
} TEMPERATURE_PROBE;

typedef struct {
    char ProductName[32];
    char RomVersion[32];
    char RomReleaseDate[16];
    char RomVendor[32];
    char SerialNo[16];
    char AssetTag[32];
    char Manufacturer[32];
    char RevisionLevel[16];
} BaseBoardInformation;

typedef struct {
    int quantity;
    CPU cpu[8];
} ProcessorInformation;

typedef struct {
    int TotalSize; /* megabytes */
    int quantity;
    BANK bank[16];
} MemoryInformation;

typedef struct {
    int quantity;
    PORT port[32];
} IOInformation;

typedef struct {
    int quantity;
    DEV dev[64];
} DeviceInformation;

typedef struct {
    int isRaid;                 /* never written */
    unsigned long driveOrder;   /* never written */
    char type[64];
    char size[64];
    char model[64];
    char ControllerType[64];
    char ControllerNo[64];
    char SerialNo[64];
    char FirmwareVersion[64]; /* never written */
} DriveInfo;

typedef struct {
    char DeviceName[16];
    char SerialNo[32];
    char ProductName[16];
    char BiosStatus[16];
    char Remain[16];
    char current[16];
} UPSInfor;

typedef struct {
    int quantityIDE;
    int quantitySCSI; /* never written */
    DriveInfo driveArray[24];
} StorageInformation;

typedef struct {
    int quantity;
    PARTITION partition[26];
} PartitionInformation;

typedef struct {
    int TotalNumber;
    int RedundantNumber;
    SYS_POWER PowerSupply[8];
} SystemPowerInformation;

typedef struct {
    int quantity;
    UPSInfor ups[16];
} UPSInformation;

typedef struct {
    int quantity;
    FAN_DEVICE fan[16];
} FanInformation;

typedef struct {
    int quantity;
    VOLTAGE_PROBE voltage[32];
} VoltageInformation;

typedef struct {
    int quantity;
    TEMPERATURE_PROBE temperature[32];
} TemperatureInformation;

typedef struct {
    char SysProductName[32];
    char manufacturer[32];
    char version[16];
} SysInformation;

typedef struct {
    int quantity;
    SensorThresholdInfo SensorThreshold[64];
} SensorThresholdInformation;

typedef struct {
    int quantity;
    int UsageRate[8]; /* busy percentage of processors 0 to 7 */
} CpuUsageRageInformation;

/*
 * The layout callers rely on. The expected numbers are worked out by hand from the i386
 * System V rules (int/long/pointer 4, double 8 aligned on 4), not taken from the compiler.
 */
#if defined(__i386__)
#include <stddef.h>
#ifdef __cplusplus
#define QARVEL_LAYOUT(cond) static_assert(cond, #cond)
#else
#define QARVEL_LAYOUT(cond) _Static_assert(cond, #cond)
#endif
QARVEL_LAYOUT(sizeof(SensorThresholdInfo) == 76);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, UpperNonRecoverThresholdValue) == 8);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, UpperCriticalThresholdValue) == 16);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, UpperNonCriticalThresholdValue) == 24);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, LowerNonRecoverThreshold) == 32);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, LowerCriticalThreshold) == 40);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, LowerNonCriticalThreshold) == 48);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, MaxThreshold) == 56);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, MinThreshold) == 64);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, readableFlag) == 72);
QARVEL_LAYOUT(offsetof(SensorThresholdInfo, settableFlag) == 73);

QARVEL_LAYOUT(sizeof(CACHE) == 80);
QARVEL_LAYOUT(offsetof(CACHE, InstalledSize) == 16);
QARVEL_LAYOUT(offsetof(CACHE, speed) == 32);
QARVEL_LAYOUT(offsetof(CACHE, designation) == 48);

QARVEL_LAYOUT(sizeof(CPU) == 424);
QARVEL_LAYOUT(offsetof(CPU, stepping) == 48);
QARVEL_LAYOUT(offsetof(CPU, MaxSpeed) == 64);
QARVEL_LAYOUT(offsetof(CPU, CurrentSpeed) == 80);
QARVEL_LAYOUT(offsetof(CPU, ExternalClock) == 96);
QARVEL_LAYOUT(offsetof(CPU, manufacturer) == 112);
QARVEL_LAYOUT(offsetof(CPU, UsageRate) == 160);
QARVEL_LAYOUT(offsetof(CPU, cache) == 176);
QARVEL_LAYOUT(offsetof(CPU, IsUHT) == 416);
QARVEL_LAYOUT(offsetof(CPU, IsDisabled) == 420);

QARVEL_LAYOUT(sizeof(BANK) == 124);
QARVEL_LAYOUT(offsetof(BANK, speed) == 16);
QARVEL_LAYOUT(offsetof(BANK, type) == 32);
QARVEL_LAYOUT(offsetof(BANK, TypeDetail) == 56);
QARVEL_LAYOUT(offsetof(BANK, manufacturer) == 88);
QARVEL_LAYOUT(offsetof(BANK, SlotNumber) == 120);

QARVEL_LAYOUT(sizeof(PORT) == 80);
QARVEL_LAYOUT(offsetof(PORT, description) == 48);

QARVEL_LAYOUT(sizeof(DEV) == 444);
QARVEL_LAYOUT(offsetof(DEV, model) == 4);
QARVEL_LAYOUT(offsetof(DEV, type) == 68);
QARVEL_LAYOUT(offsetof(DEV, desc) == 132);
QARVEL_LAYOUT(offsetof(DEV, IRQ) == 164);
QARVEL_LAYOUT(offsetof(DEV, MemBase) == 168);
QARVEL_LAYOUT(offsetof(DEV, IOBase) == 172);
QARVEL_LAYOUT(offsetof(DEV, DMAChannel) == 176);
QARVEL_LAYOUT(offsetof(DEV, Duplex) == 180);
QARVEL_LAYOUT(offsetof(DEV, revision) == 184);
QARVEL_LAYOUT(offsetof(DEV, status) == 188);

QARVEL_LAYOUT(sizeof(PARTITION) == 324);
QARVEL_LAYOUT(offsetof(PARTITION, label) == 64);
QARVEL_LAYOUT(offsetof(PARTITION, size) == 128);
QARVEL_LAYOUT(offsetof(PARTITION, used) == 192);
QARVEL_LAYOUT(offsetof(PARTITION, FileSystem) == 256);
QARVEL_LAYOUT(offsetof(PARTITION, isSystem) == 320);

QARVEL_LAYOUT(sizeof(SYS_POWER) == 152);
QARVEL_LAYOUT(offsetof(SYS_POWER, ProductName) == 32);
QARVEL_LAYOUT(offsetof(SYS_POWER, DeviceName) == 64);
QARVEL_LAYOUT(offsetof(SYS_POWER, ProductVersion) == 96);
QARVEL_LAYOUT(offsetof(SYS_POWER, SerialNo) == 112);
QARVEL_LAYOUT(offsetof(SYS_POWER, status) == 128);
QARVEL_LAYOUT(offsetof(SYS_POWER, BiosEnable) == 144);

QARVEL_LAYOUT(sizeof(FAN_DEVICE) == 216);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, status) == 1);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, DeviceID) == 4);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, SensorType) == 8);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, desc) == 12);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, speed) == 76);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, min) == 92);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, max) == 108);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, IdString) == 124);
QARVEL_LAYOUT(offsetof(FAN_DEVICE, sti) == 140);
QARVEL_LAYOUT(sizeof(VOLTAGE_PROBE) == 216);
QARVEL_LAYOUT(offsetof(VOLTAGE_PROBE, CurrentVoltage) == 76);
QARVEL_LAYOUT(offsetof(VOLTAGE_PROBE, sti) == 140);
QARVEL_LAYOUT(sizeof(TEMPERATURE_PROBE) == 216);
QARVEL_LAYOUT(offsetof(TEMPERATURE_PROBE, CurrentTemperature) == 76);
QARVEL_LAYOUT(offsetof(TEMPERATURE_PROBE, sti) == 140);

QARVEL_LAYOUT(sizeof(BaseBoardInformation) == 208);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, RomVersion) == 32);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, RomReleaseDate) == 64);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, RomVendor) == 80);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, SerialNo) == 112);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, AssetTag) == 128);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, Manufacturer) == 160);
QARVEL_LAYOUT(offsetof(BaseBoardInformation, RevisionLevel) == 192);

QARVEL_LAYOUT(sizeof(ProcessorInformation) == 3396);
QARVEL_LAYOUT(offsetof(ProcessorInformation, cpu) == 4);
QARVEL_LAYOUT(sizeof(MemoryInformation) == 1992);
QARVEL_LAYOUT(offsetof(MemoryInformation, quantity) == 4);
QARVEL_LAYOUT(offsetof(MemoryInformation, bank) == 8);
QARVEL_LAYOUT(sizeof(IOInformation) == 2564);
QARVEL_LAYOUT(sizeof(DeviceInformation) == 28420);

QARVEL_LAYOUT(sizeof(DriveInfo) == 456);
QARVEL_LAYOUT(offsetof(DriveInfo, driveOrder) == 4);
QARVEL_LAYOUT(offsetof(DriveInfo, type) == 8);
QARVEL_LAYOUT(offsetof(DriveInfo, size) == 72);
QARVEL_LAYOUT(offsetof(DriveInfo, model) == 136);
QARVEL_LAYOUT(offsetof(DriveInfo, ControllerType) == 200);
QARVEL_LAYOUT(offsetof(DriveInfo, ControllerNo) == 264);
QARVEL_LAYOUT(offsetof(DriveInfo, SerialNo) == 328);
QARVEL_LAYOUT(offsetof(DriveInfo, FirmwareVersion) == 392);

QARVEL_LAYOUT(sizeof(UPSInfor) == 112);
QARVEL_LAYOUT(offsetof(UPSInfor, SerialNo) == 16);
QARVEL_LAYOUT(offsetof(UPSInfor, ProductName) == 48);
QARVEL_LAYOUT(offsetof(UPSInfor, current) == 96);

QARVEL_LAYOUT(sizeof(StorageInformation) == 10952);
QARVEL_LAYOUT(offsetof(StorageInformation, driveArray) == 8);
QARVEL_LAYOUT(sizeof(PartitionInformation) == 8428);
QARVEL_LAYOUT(sizeof(SystemPowerInformation) == 1224);
QARVEL_LAYOUT(offsetof(SystemPowerInformation, PowerSupply) == 8);
QARVEL_LAYOUT(sizeof(UPSInformation) == 1796);
QARVEL_LAYOUT(sizeof(FanInformation) == 3460);
QARVEL_LAYOUT(offsetof(FanInformation, fan) == 4);
QARVEL_LAYOUT(sizeof(VoltageInformation) == 6916);
QARVEL_LAYOUT(sizeof(TemperatureInformation) == 6916);
QARVEL_LAYOUT(sizeof(SysInformation) == 80);
QARVEL_LAYOUT(offsetof(SysInformation, manufacturer) == 32);
QARVEL_LAYOUT(offsetof(SysInformation, version) == 64);
QARVEL_LAYOUT(sizeof(SensorThresholdInformation) == 4868);
QARVEL_LAYOUT(offsetof(SensorThresholdInformation, SensorThreshold) == 4);
QARVEL_LAYOUT(sizeof(CpuUsageRageInformation) == 36);
#undef QARVEL_LAYOUT
#endif /* __i386__ */

#endif /* QARVEL_API_TYPES_H */
