/*
 * Qarvel: the records of GetHealthInfo. Each command of the health family fills one record
 * type below, caller-zeroed and of fixed layout. Numbers are numbers, in base units (degrees
 * Celsius, volts, RPM, amperes, watts, joules, bytes); a value the source did not give is
 * said so by a flag of its own, never by a magic number.
 */
#ifndef QARVEL_API_HEALTH_TYPES_H
#define QARVEL_API_HEALTH_TYPES_H

/* HEALTH_HWMON and HEALTH_EDAC records. */

/*
 * HEALTH_HWMON: every input of the kernel's hardware-monitoring chips (/sys/class/hwmon).
 * A sensor is named by its chip's name and device path, which survive a reboot; the chip's
 * hwmonN number does not and is never given.
 */
#define HWMON_MOST_SENSORS 128

/* HWMON_SENSOR.Kind */
#define HWMON_TEMPERATURE 1 /* degrees Celsius */
#define HWMON_VOLTAGE     2 /* volts */
#define HWMON_FAN         3 /* revolutions per minute */
#define HWMON_CURRENT     4 /* amperes */
#define HWMON_POWER       5 /* watts */
#define HWMON_ENERGY      6 /* joules */
#define HWMON_HUMIDITY    7 /* percent relative humidity */

/* HWMON_SENSOR.Flags: which values were read in this call, and the chip's bits. */
#define HWMON_HAS_VALUE           0x00000001u
#define HWMON_HAS_MIN             0x00000002u
#define HWMON_HAS_MAX             0x00000004u
#define HWMON_HAS_LOW_CRIT        0x00000008u
#define HWMON_HAS_CRIT            0x00000010u
#define HWMON_HAS_EMERGENCY       0x00000020u
#define HWMON_HAS_MIN_HYST        0x00000040u
#define HWMON_HAS_MAX_HYST        0x00000080u
#define HWMON_HAS_LOW_CRIT_HYST   0x00000100u
#define HWMON_HAS_CRIT_HYST       0x00000200u
#define HWMON_HAS_EMERGENCY_HYST  0x00000400u
#define HWMON_ALARM_KNOWN         0x00010000u /* the chip has an alarm bit for this input */
#define HWMON_ALARM               0x00020000u /* one of its alarm bits is set */
#define HWMON_FAULT               0x00040000u /* the chip says the input is faulty (open diode, stopped fan) */
#define HWMON_UNREADABLE          0x00080000u /* the input could not be read now; Error says why */

typedef struct {
    char Chip[32];    /* the chip's name: "coretemp", "nvme", "nct6775" */
    char Device[128]; /* the chip's device under /sys/devices; empty for a chip without one */
    char Label[32];   /* the input's label file, else its name ("temp1") */
    char Input[16];   /* the input's name at the chip: "temp1", "in0", "fan2" */
    unsigned int Kind;  /* HWMON_TEMPERATURE... */
    unsigned int Flags; /* HWMON_HAS_..., HWMON_ALARM... */
    int Error;          /* with HWMON_UNREADABLE: the errno of the failed read (EIO, ENODATA, EAGAIN...) */
    unsigned int Reserved;
    /* In the kind's base unit; each valid only with its HWMON_HAS_ flag. Hysteresis values
       are where the alarm clears again, in the same unit (not a difference). */
    double Value;
    double Min, Max, LowCrit, Crit, Emergency;
    double MinHyst, MaxHyst, LowCritHyst, CritHyst, EmergencyHyst;
} HWMON_SENSOR;

typedef struct {
    unsigned int quantity; /* sensors filled, at most HWMON_MOST_SENSORS */
    unsigned int total;    /* inputs the chips have; more than fit are left out */
    HWMON_SENSOR sensor[HWMON_MOST_SENSORS];
} HWMON_INFO;

/*
 * HEALTH_EDAC: the memory controllers' error counts (/sys/devices/system/edac/mc), and each
 * DIMM's, joined to the SMBIOS memory device (type 17) its label names.
 */
#define EDAC_MOST_CONTROLLERS 8
#define EDAC_MOST_DIMMS       64

/* EDAC_CONTROLLER.Flags and EDAC_DIMM.Flags: which numbers were read. */
#define EDAC_HAS_SIZE                 0x0001u
#define EDAC_HAS_CORRECTED            0x0002u
#define EDAC_HAS_UNCORRECTED          0x0004u
#define EDAC_HAS_CORRECTED_NO_INFO    0x0008u /* controller only */
#define EDAC_HAS_UNCORRECTED_NO_INFO  0x0010u /* controller only */
/* EDAC_DIMM.Flags: the join to SMBIOS. Neither bit: the table has no device the label names. */
#define EDAC_DIMM_MATCHED             0x0100u /* Locator...SerialNumber are the device's */
#define EDAC_DIMM_NO_SMBIOS           0x0200u /* no SMBIOS table to join to */

typedef struct {
    char Name[32];       /* the driver's name for it: "Skylake Socket#0 IMC#0" */
    unsigned int Number; /* N of mcN */
    unsigned int Flags;
    unsigned long long SizeBytes;
    unsigned long long Corrected, Uncorrected;             /* every error counted */
    unsigned long long CorrectedNoInfo, UncorrectedNoInfo; /* those the driver could not place on a DIMM */
} EDAC_CONTROLLER;

typedef struct {
    char Label[32];        /* the kernel's label for it (dimm_label, chN_dimm_label) */
    char Location[48];     /* where the controller places it: "csrow 0 channel 1" */
    char MemoryType[32];   /* "Registered-DDR4"; empty where the layout does not say */
    char Locator[32];      /* with EDAC_DIMM_MATCHED: the SMBIOS device locator */
    char BankLocator[32];  /* ... its bank locator */
    char PartNumber[32];   /* ... its part number */
    char SerialNumber[32]; /* ... its serial number */
    unsigned int Controller; /* N of the mcN it is under */
    unsigned int Flags;      /* EDAC_HAS_..., EDAC_DIMM_... */
    unsigned long long SizeBytes;
    unsigned long long Corrected, Uncorrected;
} EDAC_DIMM;

typedef struct {
    unsigned int ControllerQuantity; /* at most EDAC_MOST_CONTROLLERS */
    unsigned int DimmQuantity;       /* at most EDAC_MOST_DIMMS */
    EDAC_CONTROLLER controller[EDAC_MOST_CONTROLLERS];
    EDAC_DIMM dimm[EDAC_MOST_DIMMS];
} EDAC_INFO;

/* Every 8-byte number sits at a multiple of 8, so i386 and x86-64 lay these out alike. */
#if defined(__i386__) || defined(__x86_64__)
#include <stddef.h>
#ifdef __cplusplus
#define QARVEL_HEALTH_LAYOUT(cond) static_assert(cond, #cond)
#else
#define QARVEL_HEALTH_LAYOUT(cond) _Static_assert(cond, #cond)
#endif
QARVEL_HEALTH_LAYOUT(sizeof(HWMON_SENSOR) == 312);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, Device) == 32);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, Label) == 160);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, Input) == 192);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, Kind) == 208);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, Error) == 216);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, Value) == 224);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_SENSOR, EmergencyHyst) == 304);
QARVEL_HEALTH_LAYOUT(sizeof(HWMON_INFO) == 8 + 128 * 312);
QARVEL_HEALTH_LAYOUT(offsetof(HWMON_INFO, sensor) == 8);

QARVEL_HEALTH_LAYOUT(sizeof(EDAC_CONTROLLER) == 80);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_CONTROLLER, Number) == 32);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_CONTROLLER, SizeBytes) == 40);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_CONTROLLER, UncorrectedNoInfo) == 72);
QARVEL_HEALTH_LAYOUT(sizeof(EDAC_DIMM) == 272);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, Location) == 32);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, MemoryType) == 80);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, Locator) == 112);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, SerialNumber) == 208);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, Controller) == 240);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, SizeBytes) == 248);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_DIMM, Uncorrected) == 264);
QARVEL_HEALTH_LAYOUT(sizeof(EDAC_INFO) == 8 + 8 * 80 + 64 * 272);
QARVEL_HEALTH_LAYOUT(offsetof(EDAC_INFO, dimm) == 8 + 8 * 80);
#endif

/* HEALTH_DISK records. */

/* One disk's health, as the disk itself reports it: ATA SMART (SATA and PATA disks), the NVMe
 * SMART / Health Information log, or nothing (SCSI, SAS, USB and virtio disks: Status
 * DISK_HEALTH_NOT_AVAILABLE). An entry names its disk as INFO_STORAGE does: DriveIndex is the
 * disk's place in StorageInformation.driveArray (-1 when INFO_STORAGE does not list it), and
 * SerialNo is the same text as that entry's. Every 64-bit field sits at a multiple of 8, so the
 * layout is the same on i386 and x86-64. */
#define HEALTH_DISK_MOST        24 /* as many as INFO_STORAGE lists */
#define HEALTH_DISK_ATTRIBUTES  30 /* the SMART data page holds 30 attribute slots */

/* DiskHealthInformation.Flags, set by the caller: read a disk that is in standby as well,
 * which spins it up. Without it such a disk gets CHECK POWER MODE and nothing else. (A disk in
 * sleep mode cannot be asked anything without a reset that wakes it: libata does that for any
 * command, so no poll can leave it asleep.) */
#define HEALTH_DISK_WAKE 0x1u

/* DiskHealth.Kind */
#define DISK_HEALTH_NONE 0 /* a disk of no kind the library reads: SCSI, SAS, USB, virtio */
#define DISK_HEALTH_ATA  1
#define DISK_HEALTH_NVME 2

/* DiskHealth.Status */
#define DISK_HEALTH_READ            0 /* read: the fields below hold what the disk said */
#define DISK_HEALTH_NOT_AVAILABLE   1 /* the library reads no health from this kind of disk */
#define DISK_HEALTH_STANDBY         2 /* spun down (CHECK POWER MODE), left so: nothing else sent */
#define DISK_HEALTH_NO_SMART        3 /* IDENTIFY: the disk has no SMART */
#define DISK_HEALTH_SMART_DISABLED  4 /* IDENTIFY: SMART is there but switched off */
#define DISK_HEALTH_FAILED          5 /* the device or a command failed; Errno tells why */

/* DiskHealth.Overall: SMART RETURN STATUS, or the NVMe critical warning byte */
#define DISK_OVERALL_UNKNOWN 0
#define DISK_OVERALL_PASSED  1
#define DISK_OVERALL_FAILING 2 /* ATA: a threshold exceeded; NVMe: a critical warning bit set */

/* DiskHealth.Given: which of the named fields the disk gave */
#define DISK_GIVEN_TEMPERATURE      0x001u
#define DISK_GIVEN_POWER_ON_HOURS   0x002u
#define DISK_GIVEN_REALLOCATED      0x004u /* ATA 5 */
#define DISK_GIVEN_PENDING          0x008u /* ATA 197 */
#define DISK_GIVEN_UNCORRECTABLE    0x010u /* ATA 198 */
#define DISK_GIVEN_CRC_ERRORS       0x020u /* ATA 199 */
#define DISK_GIVEN_POWER_MODE       0x040u /* ATA: PowerMode holds CHECK POWER MODE's answer */
#define DISK_GIVEN_THRESHOLDS       0x080u /* ATA: READ THRESHOLDS answered */

/* DiskSmartAttribute.State */
#define DISK_ATTRIBUTE_FAILING_NOW 0x1u /* current value at or below a non-zero threshold */
#define DISK_ATTRIBUTE_FAILED_PAST 0x2u /* worst value at or below a non-zero threshold */

/* DiskNvmeHealth.CriticalWarning bits (NVMe 1.4 log page 02h byte 0) */
#define NVME_WARNING_SPARE        0x01u /* available spare below its threshold */
#define NVME_WARNING_TEMPERATURE  0x02u /* a temperature beyond a threshold */
#define NVME_WARNING_RELIABILITY  0x04u /* reliability degraded by media or internal errors */
#define NVME_WARNING_READ_ONLY    0x08u /* media placed in read-only mode */
#define NVME_WARNING_VOLATILE     0x10u /* volatile memory backup failed */
#define NVME_WARNING_PMR_READ_ONLY 0x20u /* persistent memory region read-only */

typedef struct {
    unsigned char id;          /* 1-255 */
    unsigned char current;     /* normalised value */
    unsigned char worst;
    unsigned char threshold;   /* 0 when READ THRESHOLDS gave none for this id */
    unsigned short flags;      /* bit 0: pre-failure, bit 1: updated online */
    unsigned char state;       /* DISK_ATTRIBUTE_... */
    unsigned char reserved;
    unsigned long long raw;    /* the 48-bit raw value */
} DiskSmartAttribute;

typedef struct {
    unsigned int powerMode;            /* CHECK POWER MODE's count: 0xFF active or idle, 0x80 idle, 0 standby */
    unsigned int dataChecksumGood;     /* 1 when the SMART data page's checksum byte is right */
    unsigned int thresholdChecksumGood;
    unsigned int attributeCount;       /* entries used in attribute[] */
    DiskSmartAttribute attribute[HEALTH_DISK_ATTRIBUTES];
} DiskAtaHealth;

typedef struct {
    unsigned int criticalWarning;      /* NVME_WARNING_... */
    unsigned int availableSpare;       /* percent */
    unsigned int spareThreshold;       /* percent */
    unsigned int percentageUsed;       /* percent, may exceed 100 */
    /* The log's 128-bit counters, saturated at 2^64-1 rather than wrapped. */
    unsigned long long dataUnitsRead;  /* thousands of 512-byte units */
    unsigned long long dataUnitsWritten;
    unsigned long long powerCycles;
    unsigned long long unsafeShutdowns;
    unsigned long long mediaErrors;
    unsigned long long errorLogEntries;
    unsigned int warningTemperatureMinutes;
    unsigned int criticalTemperatureMinutes;
} DiskNvmeHealth;

typedef struct {
    char DeviceName[32];       /* the block device: "/dev/sda", "/dev/nvme0n1", "/dev/hda" */
    char SerialNo[64];         /* as INFO_STORAGE's driveArray[].SerialNo */
    int DriveIndex;            /* place in INFO_STORAGE's driveArray, -1 when not listed */
    unsigned int Kind;         /* DISK_HEALTH_ATA, _NVME, _NONE */
    unsigned int Status;       /* DISK_HEALTH_... */
    int Errno;                 /* DISK_HEALTH_FAILED: the errno of what failed (ETIMEDOUT, EIO...) */
    unsigned int Overall;      /* DISK_OVERALL_... */
    unsigned int Given;        /* DISK_GIVEN_... */
    int Temperature;           /* degrees Celsius: ATA 194 (else 190), NVMe composite */
    unsigned int reserved;
    unsigned long long PowerOnHours;          /* ATA 9, NVMe (saturated) */
    unsigned long long Reallocated;           /* ATA 5 raw */
    unsigned long long Pending;               /* ATA 197 raw */
    unsigned long long OfflineUncorrectable;  /* ATA 198 raw */
    unsigned long long CrcErrors;             /* ATA 199 raw */
    DiskAtaHealth ata;         /* Kind DISK_HEALTH_ATA */
    DiskNvmeHealth nvme;       /* Kind DISK_HEALTH_NVME */
} DiskHealth;

typedef struct {
    unsigned int Flags;        /* in: HEALTH_DISK_WAKE */
    unsigned int quantity;     /* out: entries in disk[] */
    DiskHealth disk[HEALTH_DISK_MOST];
} DiskHealthInformation;

/* The same numbers on i386 and x86-64: worked out by hand from both System V rules. */
#if defined(__i386__) || defined(__x86_64__)
#include <stddef.h>
#ifdef __cplusplus
#define QARVEL_DISK_LAYOUT(cond) static_assert(cond, #cond)
#else
#define QARVEL_DISK_LAYOUT(cond) _Static_assert(cond, #cond)
#endif
QARVEL_DISK_LAYOUT(sizeof(DiskSmartAttribute) == 16);
QARVEL_DISK_LAYOUT(offsetof(DiskSmartAttribute, raw) == 8);
QARVEL_DISK_LAYOUT(sizeof(DiskAtaHealth) == 496);
QARVEL_DISK_LAYOUT(offsetof(DiskAtaHealth, attribute) == 16);
QARVEL_DISK_LAYOUT(sizeof(DiskNvmeHealth) == 72);
QARVEL_DISK_LAYOUT(offsetof(DiskNvmeHealth, dataUnitsRead) == 16);
QARVEL_DISK_LAYOUT(offsetof(DiskNvmeHealth, warningTemperatureMinutes) == 64);
QARVEL_DISK_LAYOUT(sizeof(DiskHealth) == 736);
QARVEL_DISK_LAYOUT(offsetof(DiskHealth, SerialNo) == 32);
QARVEL_DISK_LAYOUT(offsetof(DiskHealth, DriveIndex) == 96);
QARVEL_DISK_LAYOUT(offsetof(DiskHealth, Temperature) == 120);
QARVEL_DISK_LAYOUT(offsetof(DiskHealth, PowerOnHours) == 128);
QARVEL_DISK_LAYOUT(offsetof(DiskHealth, ata) == 168);
QARVEL_DISK_LAYOUT(offsetof(DiskHealth, nvme) == 664);
QARVEL_DISK_LAYOUT(sizeof(DiskHealthInformation) == 17672);
QARVEL_DISK_LAYOUT(offsetof(DiskHealthInformation, disk) == 8);
#undef QARVEL_DISK_LAYOUT
#endif

#endif /* QARVEL_API_HEALTH_TYPES_H */
