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

#endif /* QARVEL_API_HEALTH_TYPES_H */
