/*
 * Qarvel: the records of the System Event Log exports (GetSelInfo, GetSelEntries, ClearSel).
 * Caller-zeroed, of fixed layout: only fixed-width fields, the same on i386 and x86-64.
 * Numbers are numbers; a value the BMC did not give is said so by a flag of its own.
 */
#ifndef QARVEL_API_SEL_TYPES_H
#define QARVEL_API_SEL_TYPES_H

/* SelEntry.TimeKind: what Timestamp counts. */
#define SEL_TIME_NONE 0        /* the record carries none (E0h-FFh), or FFFFFFFFh "unspecified" */
#define SEL_TIME_DATE 1        /* seconds since 1970-01-01 00:00 UTC */
#define SEL_TIME_SINCE_START 2 /* below 20000000h: seconds since the BMC started, not a date */

/* SelEntry.Trigger bits: event data 2 and 3 held the trigger reading and threshold. */
#define SEL_TRIGGER_READING 1
#define SEL_TRIGGER_THRESHOLD 2

/* One record of the log, decoded as far as it goes. */
typedef struct {
    unsigned int RecordId;       /* the ID asked for along the chain */
    unsigned int Timestamp;      /* see TimeKind */
    unsigned int ManufacturerId; /* OEM records C0h-DFh: IANA enterprise number */
    unsigned char RecordType;    /* 02h system event, C0h-DFh OEM timestamped, E0h-FFh OEM */
    unsigned char TimeKind;      /* SEL_TIME_... */
    unsigned char Decoded;       /* 1: a system event record whose fields below are filled */
    unsigned char GeneratorId;   /* bits 7..1 IPMB address or software ID, bit 0 set: software */
    unsigned char GeneratorLun;
    unsigned char GeneratorChannel;
    unsigned char SensorType;
    unsigned char SensorNumber;
    unsigned char EventType;  /* event/reading type code: 01h threshold, 02h-0Ch generic, 6Fh specific */
    unsigned char Deasserted; /* 1: the event went away */
    unsigned char Offset;     /* event offset, event data 1 bits 3..0 */
    unsigned char SensorKnown; /* 1: the repository names the sensor (SensorName) */
    unsigned char EventData[3];
    unsigned char Trigger;  /* SEL_TRIGGER_... */
    unsigned char Raw[16];  /* the record as the BMC holds it */
    unsigned int Reserved;
    double TriggerReading;   /* converted with the sensor's factors, when SEL_TRIGGER_READING */
    double TriggerThreshold; /* likewise, when SEL_TRIGGER_THRESHOLD */
    char SensorName[32];
    char SensorTypeName[32];
    char EventText[96]; /* "Upper Critical going high", "Correctable ECC"... */
} SelEntry;

/* Where a read stopped, handed back by the caller to the next GetSelEntries. */
#define SEL_CURSOR_START 0 /* zeroed: read from the first entry */
#define SEL_CURSOR_MORE 1  /* entries beyond this page are waiting: call again */
#define SEL_CURSOR_END 2   /* the log was read to its end */
#define SEL_CURSOR_NO_RECORD 0xFFFF /* RecordId while no entry has been handed out */
typedef struct {
    unsigned int RecordId;     /* the last entry handed out, or SEL_CURSOR_NO_RECORD */
    unsigned int LastAddition; /* the log's addition and erase timestamps as last read */
    unsigned int LastErase;
    unsigned int Position; /* SEL_CURSOR_... */
} SelCursor;

#define SEL_PAGE_ENTRIES 16
typedef struct {
    SelCursor Cursor;      /* in: the previous page's cursor (zeroed: from the first); out: this one's */
    unsigned int Count;    /* entries filled */
    unsigned int Cleared;  /* 1: the log was cleared since the cursor; reading began again at the first entry */
    unsigned int Overflow; /* 1: the log is full and events were dropped */
    unsigned int FreeBytes;
    unsigned int Entries; /* entries the log holds */
    unsigned int BmcTime; /* the BMC's clock when this read began, when BmcTimeGiven */
    unsigned int BmcTimeGiven;
    unsigned int Requests; /* requests this call sent to the BMC */
    SelEntry Entry[SEL_PAGE_ENTRIES];
} SelPage;

/* What Get SEL Info says of the log. */
typedef struct {
    unsigned int Version; /* BCD: 51h for IPMI 1.5 and 2.0 */
    unsigned int Entries;
    unsigned int FreeBytes;
    unsigned int LastAddition; /* timestamps, FFFFFFFFh when none */
    unsigned int LastErase;
    unsigned int Overflow;
    unsigned int Operations; /* bit 3 delete, bit 2 partial add, bit 1 reserve, bit 0 allocation info */
    unsigned int BmcTime;
    unsigned int BmcTimeGiven;
} SelInformation;

/* The same numbers on i386 and x86-64: every field is of fixed width, and each double sits
 * on an offset divisible by 8 in a record whose size is too. */
#if defined(__i386__) || defined(__x86_64__)
#include <stddef.h>
#ifdef __cplusplus
#define QARVEL_SEL_LAYOUT(cond) static_assert(cond, #cond)
#else
#define QARVEL_SEL_LAYOUT(cond) _Static_assert(cond, #cond)
#endif
QARVEL_SEL_LAYOUT(sizeof(SelEntry) == 224);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, RecordType) == 12);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, EventData) == 24);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, Raw) == 28);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, TriggerReading) == 48);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, TriggerThreshold) == 56);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, SensorName) == 64);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, SensorTypeName) == 96);
QARVEL_SEL_LAYOUT(offsetof(SelEntry, EventText) == 128);
QARVEL_SEL_LAYOUT(sizeof(SelCursor) == 16);
QARVEL_SEL_LAYOUT(offsetof(SelPage, Count) == 16);
QARVEL_SEL_LAYOUT(offsetof(SelPage, Requests) == 44);
QARVEL_SEL_LAYOUT(offsetof(SelPage, Entry) == 48);
QARVEL_SEL_LAYOUT(sizeof(SelPage) == 48 + 16 * 224);
QARVEL_SEL_LAYOUT(sizeof(SelInformation) == 36);
#endif

#endif /* QARVEL_API_SEL_TYPES_H */
