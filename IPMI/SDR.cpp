// Full sensor record: holding the bytes and decoding the packed fields (IPMI 2.0 43.1).
#include "IPMI/SDR.h"

#include <cstring>

#include "IPMI/conversion.h"

SDR::SDR() : header(), key(), body(), InitOK(0) {}

SDR::SDR(unsigned char* buffer) : SDR() { *this = buffer; }

SDR& SDR::operator=(unsigned char* target) {
    if (!target) {
        InitOK = 0;
        return *this;
    }
    std::memcpy(&header, target, sizeof header);
    std::memcpy(&key, target + sizeof header, sizeof key);
    std::memcpy(&body, target + sizeof header + sizeof key, sizeof body);
    InitOK = 1;
    return *this;
}

unsigned char SDR::GetSensorRecordType() { return Field(header.type); }
unsigned char SDR::GetSensorOwnerID() { return Field(key.OwnerID); }
unsigned char SDR::GetSensorOwnerLUN() { return Field(key.OwnerLUN); }
unsigned char SDR::GetSensorNumber() { return Field(key.SensorNumber); }
unsigned char SDR::GetEntityID() { return Field(body.EntityID); }
unsigned char SDR::GetEntityInstance() { return Field(body.EntityInstance); }
unsigned char SDR::GetSensorType() { return Field(body.SensorType); }
unsigned char SDR::GetEventType() { return Field(body.EventType); }
unsigned short SDR::GetThresholdInfo() { return InitOK ? body.DiscreteReadingMask : 0xFFFF; }
unsigned char SDR::GetUnit1() { return Field(body.unit1); }
unsigned char SDR::GetBaseUnit() { return Field(body.BaseUnit); }
unsigned char SDR::GetModifierUnit() { return Field(body.ModifierUnit); }
unsigned char SDR::GetLinearization() { return Field(body.linearization); }
unsigned char SDR::GetM() { return Field(body.M); }
unsigned char SDR::Gettolerance() { return Field(body.tolerance); }
unsigned char SDR::GetB() { return Field(body.B); }
unsigned char SDR::Getaccuracy() { return Field(body.accuracy); }
unsigned char SDR::GetRExp() { return Field(body.RExp); }
unsigned char SDR::GetSensorReadingMax() { return Field(body.SensorMaximumReading); }
unsigned char SDR::GetSensorReadingMin() { return Field(body.SensorMinimumReading); }
unsigned char SDR::IsInitOK() { return InitOK; }

char SDR::IsAnalog() { return (body.unit1 & 0xC0) != 0xC0 ? 1 : 0; }

short SDR::GetValueM() {
    return static_cast<short>(SignedField(GetM() | (Gettolerance() & 0xC0u) << 2, 10));
}

short SDR::GetValueB() {
    return static_cast<short>(SignedField(GetB() | (Getaccuracy() & 0xC0u) << 2, 10));
}

char SDR::GetBExpValue() { return static_cast<char>(SignedField(GetRExp() & 0x0Fu, 4)); }

char SDR::GetRExpValue() { return static_cast<char>(SignedField(GetRExp() >> 4, 4)); }

int SDR::GetIDstring(char* IDstring) {
    if (!IDstring) return -1;
    unsigned int length = body.IDStringTypeLength & 0x1Fu;
    if (length > 15) length = 15;
    std::memcpy(IDstring, body.IDString, length);
    IDstring[15] = '\0';
    return 0;
}
