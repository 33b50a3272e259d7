// One full sensor record of the BMC's repository (IPMI 2.0 43.1), held byte for byte,
// with the decoders of its packed fields.
#ifndef QARVEL_IPMI_SDR_H
#define QARVEL_IPMI_SDR_H

struct __attribute__((packed)) SensorRecordHeader {
    unsigned short RecordID;
    unsigned char version;
    unsigned char type;
    unsigned char length;  // bytes after the header
};

struct __attribute__((packed)) RecordKey {
    unsigned char OwnerID;
    unsigned char OwnerLUN;
    unsigned char SensorNumber;
};

struct __attribute__((packed)) RecordBody {
    unsigned char EntityID;
    unsigned char EntityInstance;
    unsigned char SensorInitialization;
    unsigned char SensorCapabilities;
    unsigned char SensorType;
    unsigned char EventType;
    unsigned short ThresholdReadingMaskLow;
    unsigned short ThresholdReadingMaskUp;
    unsigned short DiscreteReadingMask;  // threshold sensors: readable mask low, settable mask high
    unsigned char unit1;
    unsigned char BaseUnit;
    unsigned char ModifierUnit;
    unsigned char linearization;
    unsigned char M;
    unsigned char tolerance;  // bits 7..6: M bits 9..8
    unsigned char B;
    unsigned char accuracy;  // bits 7..6: B bits 9..8
    unsigned char accuracyExp;
    unsigned char RExp;  // bits 7..4: result exponent K2, bits 3..0: B exponent K1
    unsigned char flags;
    unsigned char NominalReading;
    unsigned char NormalMaximumReading;
    unsigned char NormalMinimumReading;
    unsigned char SensorMaximumReading;
    unsigned char SensorMinimumReading;
    unsigned char UperNonRecoverableThreshold;
    unsigned char UperCriticalThreshold;
    unsigned char UperNonCriticalThreshold;
    unsigned char LowerNonRecoverableThreshold;
    unsigned char LowerCriticalrThreshold;
    unsigned char LowerNonCriticalThreshold;
    unsigned char PositiveGoing;
    unsigned char NegativeGoing;
    unsigned short reserved;
    unsigned char OEM;
    unsigned char IDStringTypeLength;  // bits 4..0: length
    unsigned char IDString[16];
};

static_assert(sizeof(SensorRecordHeader) + sizeof(RecordKey) + sizeof(RecordBody) == 64, "a full record is 64 bytes");

class SDR {
public:
    enum { RECORD_SIZE = 64 };

    // Holds no record until one is assigned.
    SDR();
    // Copies RECORD_SIZE bytes from `buffer`, which holds at least that many.
    explicit SDR(unsigned char* buffer);
    // Null: the object no longer holds a record (its bytes stay). Otherwise copies
    // RECORD_SIZE bytes from `target`.
    SDR& operator=(unsigned char* target);

    // Each returns the raw field, or all ones when no record is held.
    unsigned char GetSensorRecordType();
    unsigned char GetSensorOwnerID();
    unsigned char GetSensorOwnerLUN();
    unsigned char GetSensorNumber();
    unsigned char GetEntityID();
    unsigned char GetEntityInstance();
    unsigned char GetSensorType();
    unsigned char GetEventType();
    unsigned short GetThresholdInfo();
    unsigned char GetUnit1();
    unsigned char GetBaseUnit();
    unsigned char GetModifierUnit();
    unsigned char GetLinearization();
    unsigned char GetM();
    unsigned char Gettolerance();
    unsigned char GetB();
    unsigned char Getaccuracy();
    unsigned char GetRExp();
    unsigned char GetSensorReadingMax();
    unsigned char GetSensorReadingMin();
    unsigned char IsInitOK();

    // 1 unless the analog data format is 11 (no numeric reading); read even without a record.
    char IsAnalog();
    // The 10-bit two's complement factors M and B (-512..511).
    short GetValueM();
    short GetValueB();
    // The 4-bit two's complement exponents K1 and K2 (-8..7).
    char GetBExpValue();
    char GetRExpValue();
    // Copies up to 15 name bytes and stores a NUL at position 15: `IDstring` holds 16
    // bytes and comes cleared. -1 when it is null.
    int GetIDstring(char* IDstring);

    SensorRecordHeader header;
    RecordKey key;
    RecordBody body;
    unsigned char InitOK;

private:
    unsigned char Field(unsigned char value) const { return InitOK ? value : 0xFF; }
};

#endif
