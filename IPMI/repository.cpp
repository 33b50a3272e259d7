// Sensor data record repository requests (IPMI 2.0 33.9, 33.11, 33.12).
#include <cstring>

#include "IPMI/Sensor.h"
#include "platform/platform.h"
#include "process/state.h"

namespace {

// The storage requests name the BMC by the "any responder" address.
constexpr unsigned char kStorageResponder = 0xFF;

// Get SDR's "whole record" byte count, and the record header that says how long the rest is.
constexpr int kWholeRecord = 0xFF;
constexpr int kHeader = 5;
// How often a poll asks whether the repository changed: a BMC's repository changes with its
// firmware or its hardware, not from one poll to the next, and one request a minute costs
// the BMC nothing.
constexpr unsigned long long kRepositoryCheckMs = 60000;
// Where Get SDR Repository Info holds the two timestamps (after the version, the record
// count and the free space), each 4 bytes, least significant first.
constexpr int kAdditionStamp = 5, kEraseStamp = 9, kStampsEnd = 13;

unsigned long Stamp(const IpmiAnswer& answer, int at) {
    return static_cast<unsigned long>(answer.bytes[at]) | static_cast<unsigned long>(answer.bytes[at + 1]) << 8 |
           static_cast<unsigned long>(answer.bytes[at + 2]) << 16 | static_cast<unsigned long>(answer.bytes[at + 3]) << 24;
}

// A record is started again at most this many times when the reservation is lost.
constexpr int kMostRestarts = 8;

// Completion codes (IPMI 2.0 5.2) a BMC answers a read it cannot give whole with.
constexpr unsigned char kReservationCancelled = 0xC5, kLengthInvalid = 0xC7, kCannotReturn = 0xCA,
                        kUnspecified = 0xFF;

// The record bytes of a Get SDR answer, or -1 when it was refused.
int RecordBytes(const IpmiAnswer& answer) { return answer.ok() ? answer.length - 2 : -1; }

// The next record ID a Get SDR answer names.
int NextRecord(const IpmiAnswer& answer) { return answer.bytes[0] | answer.bytes[1] << 8; }

}  // namespace

int Sensor::GetSDRRepositoryInfo(int& RecordCount, int& version) {
    if (!IsInitOK()) return -1;
    const IpmiAnswer answer = AskBmc(*this, STORAGE_CMD, Get_SDR_RepositoryInfo, kStorageResponder, nullptr, 0);
    if (!answer.ok() || answer.length < 3) return -1;
    version = answer.bytes[0];
    RecordCount = answer.bytes[1] | answer.bytes[2] << 8;
    IpmiReaderMemory::RepositoryStamps& seen = qarvel::State().ipmiMemory.sdrSeen;
    seen.known = answer.length >= kStampsEnd;
    seen.added = seen.known ? Stamp(answer, kAdditionStamp) : 0;
    seen.erased = seen.known ? Stamp(answer, kEraseStamp) : 0;
    return 0;
}

void Sensor::NoteDiscovered() {
    IpmiReaderMemory& memory = qarvel::State().ipmiMemory;
    memory.sdrDiscovered = memory.sdrSeen;
    memory.sdrCheckedMs = platform::monotonic_ms();
}

bool Sensor::RepositoryChanged() {
    IpmiReaderMemory& memory = qarvel::State().ipmiMemory;
    const unsigned long long now = platform::monotonic_ms();
    if (now - memory.sdrCheckedMs < kRepositoryCheckMs) return false;
    memory.sdrCheckedMs = now;
    int count = 0, version = 0;
    if (GetSDRRepositoryInfo(count, version) != 0) return false;
    return memory.sdrSeen.known && !(memory.sdrSeen == memory.sdrDiscovered);
}

int Sensor::ReserveSDRRepository(unsigned short& reservationID) {
    if (!IsInitOK()) return -1;
    const IpmiAnswer answer = AskBmc(*this, STORAGE_CMD, Reserve_SDR_Repository, kStorageResponder, nullptr, 0);
    if (!answer.ok() || answer.length < 2) return -1;
    reservationID = static_cast<unsigned short>(answer.bytes[0] | answer.bytes[1] << 8);
    return 0;
}

IpmiAnswer Sensor::GetSDRPiece(unsigned short reservation, int RecordID, int offset, int count) {
    const unsigned char data[6] = {
        static_cast<unsigned char>(reservation & 0xFF), static_cast<unsigned char>(reservation >> 8),
        static_cast<unsigned char>(RecordID & 0xFF),    static_cast<unsigned char>((RecordID >> 8) & 0xFF),
        static_cast<unsigned char>(offset),             static_cast<unsigned char>(count & 0xFF),
    };
    IpmiAnswer answer = AskBmc(*this, STORAGE_CMD, Get_SDR, kStorageResponder, data, 6);
    if (answer.ok() && answer.length < 2) answer.completion = kUnspecified;  // not even the next record ID
    return answer;
}

int Sensor::GetSDR(unsigned short reserveID, int RecordID, unsigned char* RecordData, int length) {
    if (!IsInitOK() || RecordID < 0) return -1;
    const IpmiAnswer answer = GetSDRPiece(reserveID, RecordID, 0, length);
    const int received = RecordBytes(answer);
    if (received < 0) return -1;

    // The record bytes the BMC sent, bounded by the response buffer and by the caller's
    // buffer. A response without record bytes gives a record of zeros (no type, skipped).
    const int room = static_cast<int>(IMB_RESPONSE_SIZE) - 2;
    int count = received > 0 ? received : length;
    if (count > room) count = room;
    if (count > length) count = length;
    if (RecordData && count > 0) std::memcpy(RecordData, answer.bytes + 2, static_cast<std::size_t>(count));
    return NextRecord(answer);
}

int Sensor::ReadRecord(SdrWalk& walk, int RecordID, unsigned char* record, int room) {
    if (!IsInitOK() || RecordID < 0) return -1;
    if (walk.whole) {
        const IpmiAnswer answer = GetSDRPiece(0, RecordID, 0, kWholeRecord);
        const int received = RecordBytes(answer);
        const unsigned char code = answer.completion;
        // Whole when the header came and as many bytes as it announces.
        if (received >= kHeader && received >= kHeader + answer.bytes[2 + 4]) {
            const int count = received < room ? received : room;
            std::memcpy(record, answer.bytes + 2, static_cast<std::size_t>(count));
            return NextRecord(answer);
        }
        // A BMC that does not give a whole record: too long for its buffer, a count it does
        // not take, an unspecified refusal, or fewer bytes than the header announces. The
        // rest of the walk goes in pieces at once.
        const bool shortAnswer = received >= 0;
        if (!shortAnswer && code != kCannotReturn && code != kLengthInvalid && code != kUnspecified) return -1;
        walk.whole = false;
    }
    return ReadRecordInPieces(walk, RecordID, record, room);
}

int Sensor::ReadRecordInPieces(SdrWalk& walk, int RecordID, unsigned char* record, int room) {
    for (int attempt = 0; attempt <= kMostRestarts; ++attempt) {
        if (!walk.reserved) {
            if (ReserveSDRRepository(walk.reservation) != 0) return -1;
            walk.reserved = true;
        }
        const IpmiAnswer header = GetSDRPiece(walk.reservation, RecordID, 0, kHeader);
        if (!header.ok() && header.completion == kReservationCancelled) {
            walk.reserved = false;
            continue;
        }
        if (RecordBytes(header) < kHeader) return -1;
        const int next = NextRecord(header);
        const int total = kHeader + header.bytes[2 + 4];
        // Only what the caller has room for is read; the rest of a long record is not ours to keep.
        const int wanted = total < room ? total : room;
        std::memcpy(record, header.bytes + 2, static_cast<std::size_t>(kHeader < wanted ? kHeader : wanted));

        // The first piece asks for the rest of the record, up to the largest the interface
        // carries; a BMC that cannot give that much refuses (0xCA) or answers short. Then the
        // size is halved from that largest one until it is below what was refused (254, 127,
        // 63, 31...: each refused size is asked for once, and pieces stay as large as the
        // halving allows, as ipmitool's do), or cut to what a short answer gave. The size
        // that fits is kept, so every later record, and every later walk, asks for it at once.
        int& most = qarvel::State().ipmiMemory.sdrMostPerRead;
        if (most < 1 || most > IpmiReaderMemory::kSdrMostPerRead) most = IpmiReaderMemory::kSdrMostPerRead;
        int held = kHeader;
        bool cancelled = false;
        while (held < wanted) {
            const int asked = wanted - held < most ? wanted - held : most;
            const IpmiAnswer piece = GetSDRPiece(walk.reservation, RecordID, held, asked);
            const int received = RecordBytes(piece);
            if (received < 0 && piece.completion == kCannotReturn && asked > 1) {
                while (most >= asked) most /= 2;  // still too long for this BMC
                continue;
            }
            if (received < 0 && piece.completion == kReservationCancelled) {
                cancelled = true;
                break;
            }
            if (received <= 0) return -1;
            const int got = received < asked ? received : asked;
            if (got < asked) most = got;  // all it gives at once
            std::memcpy(record + held, piece.bytes + 2, static_cast<std::size_t>(got));
            held += got;
        }
        if (!cancelled) return next;
        // Someone changed the repository under us: a new reservation, and the record anew.
        walk.reserved = false;
    }
    return -1;
}
