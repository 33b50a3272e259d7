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
 * GetHealthInfo call runs. */
int GetHealthInfo(unsigned long command, LPVOID buffer);

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

#ifdef __cplusplus
}
#endif

#endif /* QARVEL_API_QARVEL_H */
