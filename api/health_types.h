/*
 * Qarvel: the records of GetHealthInfo. Each command of the health family fills one record
 * type below, caller-zeroed and of fixed layout. Numbers are numbers, in base units (degrees
 * Celsius, volts, RPM, amperes, watts, joules, bytes); a value the source did not give is
 * said so by a flag of its own, never by a magic number.
 */
#ifndef QARVEL_API_HEALTH_TYPES_H
#define QARVEL_API_HEALTH_TYPES_H

/* HEALTH_HWMON and HEALTH_EDAC records. */

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
