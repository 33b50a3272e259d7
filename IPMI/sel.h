// The BMC's System Event Log (IPMI 2.0 31): reading it along its record chain, a poll that
// costs one request when nothing changed, clearing it, and decoding its 16-byte records.
// The walk sends its requests through a SelBmc, which the library points at the process's
// transport and a test or fuzz target at anything else; the decoder takes bytes only.
#ifndef QARVEL_IPMI_SEL_H
#define QARVEL_IPMI_SEL_H

#include <functional>
#include <vector>

#include "IPMI/conversion.h"
#include "IPMI/transport.h"
#include "api/sel_types.h"

// Storage commands of the log (IPMI 2.0 31.2 to 31.10, network function 0Ah).
constexpr unsigned char kGetSelInfo = 0x40, kReserveSel = 0x42, kGetSelEntry = 0x43, kAddSelEntry = 0x44,
                        kClearSel = 0x47, kGetSelTime = 0x48;
constexpr unsigned int kSelRecordSize = 16;
constexpr unsigned short kSelFirst = 0x0000, kSelLast = 0xFFFF;

// One storage-network request and its answer.
using SelBmc = std::function<IpmiAnswer(unsigned char cmd, const unsigned char* data, int length)>;
// The process's transport (State().ipmi), counting into `requests`.
SelBmc SelThroughTransport(unsigned int& requests);

// Get SEL Info, decoded.
struct SelInfoAnswer {
    unsigned char version = 0;
    unsigned int entries = 0, freeBytes = 0;
    unsigned int added = 0, erased = 0;  // FFFFFFFFh: none yet
    bool overflow = false;
    unsigned char operations = 0;  // bits 3..0 of byte 14
};
bool ReadSelInfo(const SelBmc& bmc, SelInfoAnswer& info);
bool ReadSelTime(const SelBmc& bmc, unsigned int& time);

// One record as it came along the chain, under the ID asked for.
struct SelRawRecord {
    unsigned short id = 0;
    unsigned char bytes[kSelRecordSize] = {};
};

// Where the previous poll stopped; `known` false reads from the first entry.
struct SelFrom {
    bool known = false;
    // Whether the cursor holds an entry, and its ID; 0000h may be one (BmcSel::next_id).
    bool holdsRecord = false;
    unsigned short lastId = 0;
    unsigned int added = 0, erased = 0;
};

// What a poll found.
struct SelPoll {
    SelInfoAnswer info;
    bool unchanged = false;  // the timestamps matched the cursor's: nothing else was asked
    bool cleared = false;    // erased since the cursor, or the cursor's record is gone
    bool reserved = false;   // a reservation was held (a BMC may refuse one: C1h, D4h)
    unsigned int restarts = 0;  // reservations cancelled under the walk (C5h)
    bool timeGiven = false;
    unsigned int bmcTime = 0;
    std::vector<SelRawRecord> records;  // the entries after the cursor, in chain order
};

// Reservations cancelled under a walk that it recovers from before giving up on the rest.
constexpr unsigned int kSelMostRestarts = 4;

// Get SEL Info; then, unless the log's timestamps match `from`, Reserve SEL and Get SEL Entry
// along the chain from the record after `from` (re-read to learn its successor), or from the
// first entry. The walk ends at FFFFh, at an ID already read, or once as many entries as Get
// SEL Info counted are read, whichever comes first. Reading from the first entry also asks
// Get SEL Time. False only when Get SEL Info got no answer; a walk cut short keeps what it read.
bool PollSel(const SelBmc& bmc, const SelFrom& from, SelPoll& poll);

// Reserve SEL, Clear SEL with AAh (initiate erase), then asks its progress (00h) until it is
// done, at most `polls` times. -1 when the BMC refuses the reservation or the erase, or the
// erase is still going after the last ask.
int ClearSelLog(const SelBmc& bmc, int polls = 20);

// A sensor the repository names, as the log's records point to it: by owner and number.
struct SelSensor {
    unsigned char owner = 0, lun = 0, number = 0;
    unsigned char type = 0, eventType = 0;
    bool hasFactors = false;  // a full record: trigger values convert with `sfp`
    SensorFormulaParameter sfp{};
    char name[17] = {};
};

// Notes the sensor one repository record names (full, compact and event-only records).
void NoteSelSensor(std::vector<SelSensor>& index, const unsigned char* record, int size);
const SelSensor* FindSelSensor(const std::vector<SelSensor>& index, unsigned char owner, unsigned char lun,
                               unsigned char number);

// Decodes `length` bytes of one record (only 16 are ever looked at) into `entry`, filled with
// the record ID asked for. A record it cannot decode is given raw, with Decoded 0.
void DecodeSelRecord(const unsigned char* bytes, int length, unsigned short id, const std::vector<SelSensor>& index,
                     SelEntry& entry);
// The text of an event: the threshold states, the generic states (event/reading types 02h
// to 0Ch) and the sensor-specific states of `sensorType` (type 6Fh); null when none is known.
const char* SelEventText(unsigned char eventType, unsigned char sensorType, unsigned char offset);
// The name of a sensor type code; null for a code without one.
const char* SelSensorTypeName(unsigned char sensorType);

// What the log's readers carry from one call to the next (State().sel).
struct SelMemory {
    // The sensors of the last discovery, for names and factors.
    std::vector<SelSensor> sensors;
    // Entries a poll read beyond the page it filled, handed out by the calls that follow
    // without asking the BMC again; with the answer they came with.
    std::vector<SelRawRecord> waiting;
    SelPoll waitingPoll;
    unsigned int waitingAfter = 0;  // the record ID the next page continues from

    void Clear() { *this = SelMemory{}; }
};

#endif
