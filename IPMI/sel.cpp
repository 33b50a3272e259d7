// Reading and clearing the System Event Log (IPMI 2.0 31) along its record chain.
#include "IPMI/sel.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "process/state.h"

namespace {

constexpr unsigned char kStorageNetFn = 0x0A;
// Completion codes (IPMI 2.0 5.2) the walk acts on.
constexpr unsigned char kReservationCancelled = 0xC5, kNotPresent = 0xCB;
constexpr unsigned char kWholeRecord = 0xFF;
// Get SEL Info byte 14: bit 7 overflow, bit 1 Reserve SEL supported.
constexpr unsigned char kOverflow = 0x80, kReserveSupported = 0x02;
// Clear SEL: "CLR", then AAh to start the erase or 00h to ask how far it got.
constexpr unsigned char kInitiateErase = 0xAA, kEraseStatus = 0x00, kEraseCompleted = 0x01;

unsigned int Word32(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
           static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24;
}

// Reserve SEL: the reservation ID, or 0 when the BMC gives none (it may not support the
// command, or want more privilege than we hold): reads then go on without one.
unsigned short Reserve(const SelBmc& bmc, bool& held) {
    const IpmiAnswer a = bmc(kReserveSel, nullptr, 0);
    held = a.ok() && a.length >= 2;
    return held ? static_cast<unsigned short>(a.bytes[0] | a.bytes[1] << 8) : 0;
}

// One whole record. The answer carries the next record ID, then the 16 bytes.
IpmiAnswer GetEntry(const SelBmc& bmc, unsigned short reservation, unsigned short id) {
    const unsigned char data[6] = {static_cast<unsigned char>(reservation), static_cast<unsigned char>(reservation >> 8),
                                   static_cast<unsigned char>(id), static_cast<unsigned char>(id >> 8), 0,
                                   kWholeRecord};
    return bmc(kGetSelEntry, data, sizeof data);
}

bool WholeEntry(const IpmiAnswer& a) { return a.ok() && a.length >= static_cast<int>(2 + kSelRecordSize); }
unsigned short NextId(const IpmiAnswer& a) { return static_cast<unsigned short>(a.bytes[0] | a.bytes[1] << 8); }
// The ID the record itself holds, in its first two bytes.
unsigned short OwnId(const IpmiAnswer& a) { return static_cast<unsigned short>(a.bytes[2] | a.bytes[3] << 8); }

}  // namespace

SelBmc SelThroughTransport(unsigned int& requests) {
    return [&requests](unsigned char cmd, const unsigned char* data, int length) {
        ++requests;
        return qarvel::State().ipmi.Exchange(kStorageNetFn, cmd, data, length);
    };
}

bool ReadSelInfo(const SelBmc& bmc, SelInfoAnswer& info) {
    const IpmiAnswer a = bmc(kGetSelInfo, nullptr, 0);
    if (!a.ok() || a.length < 14) return false;
    info.version = a.bytes[0];
    info.entries = static_cast<unsigned int>(a.bytes[1] | a.bytes[2] << 8);
    info.freeBytes = static_cast<unsigned int>(a.bytes[3] | a.bytes[4] << 8);
    info.added = Word32(a.bytes + 5);
    info.erased = Word32(a.bytes + 9);
    info.overflow = (a.bytes[13] & kOverflow) != 0;
    info.operations = a.bytes[13] & 0x0F;
    return true;
}

bool ReadSelTime(const SelBmc& bmc, unsigned int& time) {
    const IpmiAnswer a = bmc(kGetSelTime, nullptr, 0);
    if (!a.ok() || a.length < 4) return false;
    time = Word32(a.bytes);
    return true;
}

bool PollSel(const SelBmc& bmc, const SelFrom& from, SelPoll& poll) {
    poll = SelPoll{};
    if (!ReadSelInfo(bmc, poll.info)) return false;
    const SelInfoAnswer& info = poll.info;
    if (from.known && info.added == from.added && info.erased == from.erased) {
        poll.unchanged = true;
        return true;
    }
    // A changed erase timestamp means the entries the cursor knew are gone.
    const bool resume = from.known && info.erased == from.erased;
    poll.cleared = from.known && !resume;
    if (info.entries == 0) return true;
    // Where the BMC offers it; refused (C1h, D4h for want of privilege, or anything else) the
    // walk goes on without one.
    const bool reserving = (info.operations & kReserveSupported) != 0;
    unsigned short reservation = reserving ? Reserve(bmc, poll.reserved) : 0;

    // The last record read well: a walk whose reservation was cancelled starts again from it,
    // re-reading it to learn its successor, since the chain behind it may have changed. A
    // cursor that holds no record yet reads from the first entry.
    bool haveLast = resume && from.holdsRecord;
    unsigned short last = from.lastId;
    unsigned short next = kSelFirst;
    std::set<unsigned short> seen;
    if (!haveLast && ReadSelTime(bmc, poll.bmcTime)) poll.timeGiven = true;

    // Each request reads one record: those Get SEL Info counted, plus the cursor's own.
    const unsigned int bound = info.entries + 1;
    for (unsigned int asked = 0; asked < bound + kSelMostRestarts;) {
        bool reread = haveLast && (asked == 0 || next == kSelFirst);
        const unsigned short id = reread ? last : next;
        const IpmiAnswer a = GetEntry(bmc, reservation, id);
        ++asked;
        if (a.completion == kReservationCancelled && poll.restarts < kSelMostRestarts) {
            ++poll.restarts;
            reservation = reserving ? Reserve(bmc, poll.reserved) : 0;
            next = kSelFirst;  // from the last good record again, or from the start
            continue;
        }
        if (a.completion == kNotPresent && reread && asked == 1) {
            // The cursor's record is gone: the log was cleared (or trimmed) under it.
            poll.cleared = true;
            haveLast = false;
            next = kSelFirst;
            continue;
        }
        if (!WholeEntry(a)) break;  // what was read stays
        if (reread && id == kSelFirst && OwnId(a) != kSelFirst) {
            // The cursor held an entry numbered 0000h, and asking for it by that number gave
            // the first entry: one of another number, so the cursor's is gone.
            poll.cleared = true;
            reread = haveLast = false;
        }
        const unsigned short following = NextId(a);
        if (!reread) {
            SelRawRecord record;
            // The ID we asked for, whatever the BMC wrote into the record; the first entry
            // (asked as 0000h) is known by its own.
            record.id = id == kSelFirst ? OwnId(a) : id;
            std::memcpy(record.bytes, a.bytes + 2, kSelRecordSize);
            if (!seen.insert(record.id).second) break;  // the chain came round again
            poll.records.push_back(record);
            last = record.id;
            haveLast = true;
            if (poll.records.size() >= info.entries) break;
        }
        if (following == kSelLast || following == id) break;
        next = following;
        if (reread && next == kSelFirst) break;  // a successor named 0000h leads nowhere
    }
    return true;
}

int ClearSelLog(const SelBmc& bmc, int polls) {
    bool held = false;
    const unsigned short reservation = Reserve(bmc, held);
    if (!held) return -1;  // a clear never goes ahead without one
    unsigned char data[6] = {static_cast<unsigned char>(reservation), static_cast<unsigned char>(reservation >> 8),
                             'C', 'L', 'R', kInitiateErase};
    IpmiAnswer a = bmc(kClearSel, data, sizeof data);
    if (!a.ok()) return -1;
    data[5] = kEraseStatus;
    for (int i = 0; i <= polls; ++i) {
        if (a.length >= 1 && (a.bytes[0] & 0x0F) == kEraseCompleted) return 0;
        if (i == polls) break;
        a = bmc(kClearSel, data, sizeof data);
        if (!a.ok()) return -1;
    }
    return -1;
}

void NoteSelSensor(std::vector<SelSensor>& index, const unsigned char* record, int size) {
    // Offsets of the ID string's type/length byte by record type (IPMI 2.0 43.1-43.3).
    if (!record || size < 8) return;
    const unsigned char type = record[3];
    int idAt = 0;
    if (type == 0x01)
        idAt = 47;
    else if (type == 0x02)
        idAt = 31;
    else if (type == 0x03)
        idAt = 16;
    else
        return;
    SelSensor s;
    s.owner = record[5];
    s.lun = record[6] & 0x03;
    s.number = record[7];
    const int typeAt = type == 0x03 ? 10 : 12;
    if (size > typeAt + 1) {
        s.type = record[typeAt];
        s.eventType = record[typeAt + 1];
    }
    if (type == 0x01 && size >= 30) {
        s.hasFactors = true;
        s.sfp.Unit1 = record[20];
        s.sfp.SensorLinearization = record[23] & 0x7F;
        s.sfp.M = static_cast<short>(SignedField(static_cast<unsigned>(record[24] | (record[25] & 0xC0) << 2), 10));
        s.sfp.B = static_cast<short>(SignedField(static_cast<unsigned>(record[26] | (record[27] & 0xC0) << 2), 10));
        s.sfp.RExp = static_cast<signed char>(SignedField(record[29] >> 4, 4));
        s.sfp.BExp = static_cast<signed char>(SignedField(record[29] & 0x0F, 4));
    }
    if (size > idAt) {
        const int length = std::min({record[idAt] & 0x1F, 16, size - idAt - 1});
        for (int i = 0; i < length; ++i) {
            const unsigned char c = record[idAt + 1 + i];
            if (c == 0) break;
            s.name[i] = static_cast<char>(c);
        }
    }
    for (SelSensor& known : index)
        if (known.owner == s.owner && known.lun == s.lun && known.number == s.number) {
            known = s;
            return;
        }
    index.push_back(s);
}

const SelSensor* FindSelSensor(const std::vector<SelSensor>& index, unsigned char owner, unsigned char lun,
                               unsigned char number) {
    for (const SelSensor& s : index)
        if (s.owner == owner && s.lun == lun && s.number == number) return &s;
    return nullptr;
}
