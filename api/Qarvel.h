/*
 * Qarvel: the exported functions. Every function returns 0 on success, -1 on failure and,
 * where it takes a busy flag, 1 when another call of its family is running (try again).
 */
#ifndef QARVEL_API_QARVEL_H
#define QARVEL_API_QARVEL_H

#include "types.h"
#include "health_types.h"
#include "sel_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Inventory */
int GetInfo(unsigned long command, LPVOID buffer);
int IsSmBiosSupport(void);

/* Sensors */
int GetIpmiInfo(unsigned long command, LPVOID buffer);
int IsIpmiSupport(void);
int release(void);

/* Health: what the kernel itself knows of the machine's health, without a BMC. `command` is
 * one of HEALTH_HWMON, HEALTH_EDAC, HEALTH_DISK; `buffer` is that command's record, zeroed by
 * the caller. 0, -1 (unknown command, or the source is not available), or 1 while another
 * GetHealthInfo call runs.
 *   HEALTH_HWMON  HWMON_INFO: the kernel's hardware-monitoring inputs (/sys/class/hwmon) in
 *                 base units with their limits, alarm and fault bits, each named by its chip
 *                 and the chip's device path; -1 when the kernel has no chip with an input.
 *   HEALTH_EDAC   EDAC_INFO: corrected and uncorrected memory errors per controller and per
 *                 DIMM (/sys/devices/system/edac/mc), each DIMM joined to its SMBIOS memory
 *                 device; -1 when no EDAC driver is loaded (not the same as no errors). */
int GetHealthInfo(unsigned long command, LPVOID buffer);
/* HEALTH_DISK (DiskHealthInformation, api/health_types.h): one entry per disk INFO_STORAGE
 * lists from /sys/block, in its order. A disk in standby is asked CHECK POWER MODE and nothing
 * else, and reported as DISK_HEALTH_STANDBY; to read it all the same (which spins it up), set
 * HEALTH_DISK_WAKE in the record's Flags before the call. */

/* The BMC's System Event Log. Each returns 0, -1 (no IPMI, no log, or the BMC refused), or 1
 * while another call of the three runs.
 * GetSelInfo fills a SelInformation: entries, free space, timestamps, overflow, the BMC's time.
 * GetSelEntries fills a SelPage with the entries after its Cursor (zeroed: from the first),
 * and leaves the cursor for the next call in it: with SEL_CURSOR_MORE call again at once;
 * SEL_CURSOR_END means the log was read to its end, and the next call with it asks the BMC
 * one question when nothing was added. Cleared says the log was cleared since the cursor.
 * ClearSel erases the log under a reservation; no other call ever clears it. */
int GetSelInfo(LPVOID buffer);
int GetSelEntries(LPVOID buffer);
int ClearSel(void);

/* Thresholds */
int GetAllThresholdInfo(LPVOID buffer);
int GetThresholdInfo(int deviceID, int sensorType, LPVOID buffer);
int SetThresholdInfo(int deviceID, int sensorType, int thresholdFlag, double thresholdValue);

/* Watchdog and BMC version */
int SetWatchDogTimer(int timerAction, int timeOutValue);
int ResetWatchDogTimer(void);
int StopWatchDogTimer(void);
/* The timeout action, and the initial and present countdowns in ms. A BMC may answer without
 * the present countdown: *presentTimerOutValue is then -1 ("not given"), and the call still
 * returns 0 with the action and the initial countdown. */
int GetWatchDogTimer(unsigned char* timerAcion, int* timeOutValue, int* presentTimerOutValue);
int GetBMCVersion(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision);

/* Which method answered the last read of a subsystem (SOURCE_SMBIOS...): its short name,
 * such as "sysfs", "/dev/mem" or "/dev/ipmi0", copied into name (size bytes, always
 * NUL-terminated). -1 for an unknown subsystem, a name that does not fit, or when nothing has
 * answered yet. The records never depend on it. */
int GetSourceName(int subsystem, char* name, int size);

/* Load */
int GetCpuUsageRate(int interval, LPVOID buffer);
int GetMemUsageRate(void);

/* Every entry, in pages. A record holds a fixed number of entries (8 processors, 16 banks,
 * 64 PCI functions, 24 drives, 26 partitions, 16 fans, 32 voltages or temperatures, 64
 * thresholds, 8 processors' usage); the exports above fill it with the first ones. These fill
 * the same record with the entries starting at index `first` (0, then first plus the page's
 * count...), set its count field (quantity; TotalNumber for supplies; quantityIDE and
 * quantitySCSI, IDE disks first, for drives) to the entries of this page, and store the
 * number of all entries in *total (when total is not null). The record's other fields
 * (TotalSize, RedundantNumber) describe all entries.
 *
 * The page at first == 0 reads the machine (and blocks `interval` seconds for the usage);
 * the later pages of the walk are cut from that one reading, kept until the next first == 0
 * of the same command (release keeps it), so a walk sees every entry exactly once even if
 * the machine is read again between two pages. A page with first > 0 and no reading kept
 * takes one. One walk of a command at a time: a new first page starts a new walk.
 *
 * 0 on success: a page at or past the end has no entry (count 0) and still gives *total.
 * -1 for a negative first, a null buffer, an unknown command, or the failures of the export
 * above; 1 when that export's family is busy (the same busy flags). Records of one thing
 * (INFO_BASE_BOARD, INFO_SYSTEM, and the SMBIOS probe records INFO_VOLTAGE and
 * INFO_TEMPERATURE, which describe one probe) are one page: total 1, and a page past it
 * leaves the record as it was. */
int GetInfoPage(unsigned long command, int first, LPVOID buffer, int* total);
int GetIpmiInfoPage(unsigned long command, int first, LPVOID buffer, int* total);
int GetAllThresholdInfoPage(int first, LPVOID buffer, int* total);
int GetThresholdInfoPage(int deviceID, int sensorType, int first, LPVOID buffer, int* total);
int GetCpuUsageRatePage(int interval, int first, LPVOID buffer, int* total);

#ifdef __cplusplus
}
#endif

#endif /* QARVEL_API_QARVEL_H */
