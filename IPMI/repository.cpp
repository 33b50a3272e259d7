// Sensor data record repository requests (IPMI 2.0 33.9, 33.11, 33.12).
#include <cstring>

#include "IPMI/Sensor.h"

namespace {

// The storage requests name the BMC by the "any responder" address.
constexpr unsigned char kStorageResponder = 0xFF;

}  // namespace

int Sensor::GetSDRRepositoryInfo(int& RecordCount, int& version) {
    if (!IsInitOK()) return -1;
    int received = 0;
    if (SendRequest(STORAGE_CMD, Get_SDR_RepositoryInfo, kStorageResponder, nullptr, 0, &received) != 0) return -1;
    if (received < 3) return -1;
    version = ResponseBuffer[0];
    RecordCount = ResponseBuffer[1] | ResponseBuffer[2] << 8;
    return 0;
}

int Sensor::ReserveSDRRepository(unsigned short& reservationID) {
    if (!IsInitOK()) return -1;
    int received = 0;
    if (SendRequest(STORAGE_CMD, Reserve_SDR_Repository, kStorageResponder, nullptr, 0, &received) != 0) return -1;
    if (received < 2) return -1;
    reservationID = static_cast<unsigned short>(ResponseBuffer[0] | ResponseBuffer[1] << 8);
    return 0;
}

int Sensor::GetSDR(unsigned short reserveID, int RecordID, unsigned char* RecordData, int length) {
    if (!IsInitOK() || RecordID < 0) return -1;
    const unsigned char data[6] = {
        static_cast<unsigned char>(reserveID & 0xFF), static_cast<unsigned char>(reserveID >> 8),
        static_cast<unsigned char>(RecordID & 0xFF),  static_cast<unsigned char>((RecordID >> 8) & 0xFF),
        0,                                            static_cast<unsigned char>(length & 0xFF),
    };
    int received = 0;
    if (SendRequest(STORAGE_CMD, Get_SDR, kStorageResponder, data, 6, &received) != 0) return -1;
    if (received < 2) return -1;  // not even the next record ID

    // The record bytes the BMC sent, bounded by the response buffer and by the caller's
    // buffer. A response without record bytes gives a record of zeros (no type, skipped).
    const int room = static_cast<int>(IMB_RESPONSE_SIZE) - 2;
    int count = received > 2 ? received - 2 : length;
    if (count > room) count = room;
    if (count > length) count = length;
    if (RecordData && count > 0) std::memcpy(RecordData, ResponseBuffer + 2, static_cast<std::size_t>(count));
    return ResponseBuffer[0] | ResponseBuffer[1] << 8;
}
