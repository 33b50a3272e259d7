// One sensor data record: the bytes as Get SDR returns them (header first) in the 256-byte
// buffer the discovery reads records into, decoded by every getter of the record.
#include "IPMI/SDR.h"
#include "fuzz/fuzz.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    unsigned char buffer[256] = {};
    std::memcpy(buffer, data, size < sizeof buffer ? size : sizeof buffer);
    SDR sdr(buffer);
    // Kept, so that no getter is optimised away.
    volatile int sink = sdr.GetSensorRecordType() + sdr.GetSensorOwnerID() + sdr.GetSensorOwnerLUN() +
            sdr.GetSensorNumber() + sdr.GetEntityID() + sdr.GetEntityInstance() + sdr.GetSensorType() + sdr.GetEventType() +
            sdr.GetThresholdInfo() + sdr.IsInitOK() + sdr.GetUnit1() + sdr.GetBaseUnit() + sdr.GetModifierUnit() +
            sdr.GetLinearization() + sdr.GetM() + sdr.Gettolerance() + sdr.GetB() + sdr.Getaccuracy() +
            sdr.GetRExp() + sdr.GetSensorReadingMax() + sdr.GetSensorReadingMin() + sdr.IsAnalog() +
            sdr.GetValueM() + sdr.GetValueB() + sdr.GetBExpValue() + sdr.GetRExpValue();
    (void)sink;
    char name[16] = {};
    sdr.GetIDstring(name);
}

