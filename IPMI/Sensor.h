// The sensor reader: reads the BMC's sensor data record repository once, keeps one
// description per full sensor record, sorts the temperature, voltage, fan and processor
// sensors into tables of at most 64 entries, and answers per-sensor questions. Readings
// and states are fetched live; everything else comes from the tables built at discovery.
//
// The work is split by concern: repository.cpp (repository requests), discovery.cpp (the
// walk and the tables), tables.cpp (per-kind getters), readings.cpp (live readings and
// states), conversion.cpp (raw bytes to values and back), thresholds.cpp, texts.cpp.
#ifndef QARVEL_IPMI_SENSOR_H
#define QARVEL_IPMI_SENSOR_H

#include <vector>

#include "IPMI/IPMIbase.h"
#include "IPMI/SDR.h"
#include "IPMI/conversion.h"

// Threshold masks (IPMI 2.0 35.8): bit 0 lower non-critical, 1 lower critical, 2 lower
// non-recoverable, 3 upper non-critical, 4 upper critical, 5 upper non-recoverable.
struct SensorThresholdInfoRaw {
    int deviceID;    // entity ID
    int sensorType;  // sensor type code
    unsigned char UpperNonRecoverThresholdValue;
    unsigned char UpperCriticalThresholdValue;
    unsigned char UpperNonCriticalThresholdValue;
    unsigned char LowerNonRecoverThreshold;
    unsigned char LowerCriticalThreshold;
    unsigned char LowerNonCriticalThreshold;
    unsigned char MaxThreshold;
    unsigned char MinThreshold;
    unsigned char readableFlag;
    unsigned char settableFlag;
    int changeTrend;
};

struct SensorThresholdInfoConverted {
    int deviceID;
    int sensorType;
    double UpperNonRecoverThresholdValue;
    double UpperCriticalThresholdValue;
    double UpperNonCriticalThresholdValue;
    double LowerNonRecoverThreshold;
    double LowerCriticalThreshold;
    double LowerNonCriticalThreshold;
    double MaxThreshold;
    double MinThreshold;
    unsigned char readableFlag;
    unsigned char settableFlag;
    int changeTrend;
};

struct SensorDescription {
    unsigned char SensorNumbers;
    unsigned char SensorEntityInstance;  // device-relative instances 0x60..0x7F stored minus 0x60
    unsigned char SensorEntityID;        // 0 when the record holds 0xFF
    unsigned char SensorType;
    unsigned char SensorEventReadingCode;
    unsigned char SensorCodeOffset;  // code 0x6F: state bits 7..0 at discovery (0xFF: unread)
    unsigned char SensorDeviceStatus;
    double SensorReadingMaxD;
    int isAnalogReading;  // 1 when the sensor gives NO numeric reading (analog format 11)
    char IDString[64];
    char SensorReadingValue[64];
    char SensorUnit[64];
    char SensorReadingMax[64];
    char SensorReadingMin[64];
    SensorFormulaParameter sfp;
    SensorThresholdInfoRaw stir;
    SensorThresholdInfoConverted stic;
};

struct TemSensorsInfo {
    int quantity;
    SensorDescription sd[64];
};
struct VoltSensorsInfo {
    int quantity;
    SensorDescription sd[64];
};
struct FanSensorsInfo {
    int quantity;
    SensorDescription sd[64];
};
struct ProcessorSensorsInfo {
    int quantity;
    SensorDescription sd[64];
};

// The discovered sensors of one entity and sensor type.
struct SensorNumberInfo {
    int quantity;
    int sensorOrder[64];  // indexes in Sensor::SensorsInformation
    unsigned char sensorNumber[64];
};

class Sensor : public IPMIbase {
public:
    enum SensorType {
        SENSOR_TYPE_TEMPERATURE = 1, SENSOR_TYPE_VOLTAGE = 2, SENSOR_TYPE_FAN = 4, SENSOR_TYPE_PROCESSOR = 7,
        SENSOR_TYPE_POWER_SUPPLY = 8, SENSOR_TYPE_POWER_UNIT = 9, SENSOR_TYPE_COOLING_DEVICE = 10
    };
    enum EntityID {
        ENTITY_PROCESSOR = 3, ENTITY_DISK = 4, ENTITY_PERIPHERAL = 5, ENTITY_SYSTEM_BOARD = 7,
        ENTITY_MEMORY_MODULE = 8, ENTITY_POWER_SUPPLY = 10, ENTITY_FAN = 29
    };
    enum RecordType { FULL_SENSOR_RECORD = 1 };

    // Opens the device (through the family) but sends no request.
    Sensor();
    ~Sensor();

    // Repository requests (repository.cpp).
    int GetSDRRepositoryInfo(int& RecordCount, int& version);
    // The sensor tables just built describe the repository as the last GetSDRRepositoryInfo
    // saw it.
    void NoteDiscovered();
    // Whether the repository changed (an addition or an erase) since NoteDiscovered. The BMC
    // is asked at most once a minute; between those times, and when it cannot say, false.
    bool RepositoryChanged();
    int ReserveSDRRepository(unsigned short& reservationID);
    // Reads record `RecordID` into `RecordData`, which takes `length` bytes (also the
    // number asked for: 0xFF reads the whole record). The next record ID (0xFFFF after the
    // last record), or -1.
    int GetSDR(unsigned short reserveID, int RecordID, unsigned char* RecordData, int length);

    // Discovery and tables (discovery.cpp).
    int GetSensorNumbers(int RecordCount);
    int GetTemSensorsInfo(int RecordCount);
    int GetVoltSensorsInfo(int RecordCount);
    int GetFanSensorsInfo(int RecordCount);
    int GetProcessorSensorInfo(int RecordCount);
    // Reading-range texts of entry n for the record in `sdr` (used by the walk).
    int ReadSensorMax(int n, char* result);
    int ReadSensorMin(int n, char* result);
    int GetSensorNumberInfo(unsigned char deviceID, unsigned char sensorType, int recordNumber,
                            SensorNumberInfo& sni);
    // Every discovered sensor of one entity and type (GetSensorNumberInfo keeps 64), as
    // indexes in SensorsInformation.
    void SensorOrders(unsigned char deviceID, unsigned char sensorType, int recordNumber, std::vector<int>& orders);
    // For paged reads: the temperature (1), voltage (2) or fan (4) table refilled with that
    // kind's sensors from the `first`-th on, as many as it holds, so that the per-kind getters
    // reach sensors past its 64. The window at 0 is the table discovery built. How many
    // sensors of the kind were discovered in all; -1 for another type.
    int ShowKindFrom(int sensorType, int first);
    // Entries of SensorsInformation, one per full sensor record discovered.
    int DiscoveredCount() const { return SensorsInformationCount; }

    // Live reads (readings.cpp).
    int ReadSensor(unsigned char number, unsigned char& value);
    int GetSensorStatus(unsigned char number, unsigned char eventType, unsigned char& offset);
    int GetDeviceID(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision);
    int GetFanStatus(int n, char& status);
    int GetFanSpeed(int n, char* result);
    int GetVoltageCurrent(int n, char* result);
    int GetTemperatureCurrent(int n, char* result);
    int GetFanStatusDescription(int n, char* result);
    int GetVoltageStatusDescription(int n, char* result);
    int GetTemperatureStatusDescription(int n, char* result);

    // Per-kind table getters (tables.cpp); n is the index in the kind's table.
    int GetFanEntityID(int n, unsigned char& id);
    int GetVoltageEntityID(int n, unsigned char& id);
    int GetTemperatureEntityID(int n, unsigned char& id);
    int GetFanSensorNumber(int n, unsigned char& number);
    int GetVoltageSensorNumber(int n, unsigned char& number);
    int GetTemperatureSensorNumber(int n, unsigned char& number);
    int GetFanSensorType(int n, unsigned char& type);
    int GetVoltageSensorType(int n, unsigned char& type);
    int GetTemperatureSensorType(int n, unsigned char& type);
    int GetFanIDString(int n, char* result);
    int GetVoltageIDString(int n, char* result);
    int GetTemperatureIDString(int n, char* result);
    int GetVoltageMax(int n, char* result);
    int GetVoltageMin(int n, char* result);

    // Conversions between raw bytes and values (conversion.cpp); no request is sent. Each
    // forwards to the free function of conversion.h that callers use directly.
    double GetFormulaInput(SensorFormulaParameter sfp, double x);
    double ReadingConversion(SensorFormulaParameter sfp, unsigned char raw);
    int GetReadingConversion(SensorFormulaParameter sfp, unsigned char raw, double& ConvertedReadingValue);
    int GetRawValue(SensorFormulaParameter sfp, double convertedValue, unsigned char& rawValue);
    int ValueConversion(SensorFormulaParameter sfp, unsigned char& RawReadingValue);
    int GetValueConversion(SensorFormulaParameter sfp, unsigned char& RawReadingValue, double ConvertedReadingValue);

    // Thresholds (thresholds.cpp).
    // The raw byte to write as threshold `value` for discovered sensor `order`, or false when
    // the sensor has none for it. A non-linear sensor's bytes are converted with the factors
    // the BMC gives for each, and the byte whose value lies nearest is chosen.
    bool ThresholdRaw(int order, double value, unsigned char& raw);
    int GetSensorThreshold(unsigned char number, SensorFormulaParameter sfp, SensorThresholdInfoRaw& stir,
                           SensorThresholdInfoConverted& stic);
    int SetSensorThreshold(unsigned char number, SensorThresholdInfoRaw stir);
    int GetThreshold(int sensorOrder, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic);
    int GetSensorFormulaParameter(unsigned char sensorOrder, SensorFormulaParameter& sfp);
    int GetFanSensorThreshold(int sensorOrder, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic);
    int GetVoltageSensorThreshold(int sensorOrder, SensorThresholdInfoRaw& stir,
                                  SensorThresholdInfoConverted& stic);
    int GetTemperatureSensorThreshold(int sensorOrder, SensorThresholdInfoRaw& stir,
                                      SensorThresholdInfoConverted& stic);

    // Texts (texts.cpp).
    int GetSensorUnit(char* result, int length);
    int GetDeviceStatus(unsigned char type, unsigned char offset, char* status);

    SDR sdr;
    TemSensorsInfo TSInfo;
    VoltSensorsInfo VSInfo;
    FanSensorsInfo FSInfo;
    ProcessorSensorsInfo PSInfo;
    SensorDescription* SensorsInformation;

private:
    // What a repository walk has learnt of the BMC: whether it gives whole records, and the
    // reservation that partial reads go under. The largest piece it answers is kept for the
    // process (IpmiReaderMemory::sdrMostPerRead).
    struct SdrWalk {
        bool whole = true;
        bool reserved = false;
        unsigned short reservation = 0;
    };
    // Reads one record into `record` (room for `room` bytes): whole, or when the BMC will not
    // give it whole, its header and then the rest in pieces. The next record ID, or -1.
    int ReadRecord(SdrWalk& walk, int RecordID, unsigned char* record, int room);
    int ReadRecordInPieces(SdrWalk& walk, int RecordID, unsigned char* record, int room);
    // One Get SDR and its answer: the next record ID in bytes 0 and 1, then the record
    // bytes. An answer too short to hold the next record ID reads as refused (FFh).
    IpmiAnswer GetSDRPiece(unsigned short reservation, int RecordID, int offset, int count);
    // One Get Sensor Reading and its answer (reading, flags, state bits). A reading kept for
    // the state is used by the state question that follows it instead of a second request.
    enum class ReadingUse { Fresh, KeepForState, State };
    IpmiAnswer GetReading(unsigned char number, ReadingUse use);
    // The factors a non-linear sensor's reading `raw` converts with, in place of those of
    // `sfp`: asked of the BMC once per discovery. False when the BMC gives none.
    bool ReadingFactors(unsigned char number, unsigned char raw, SensorFormulaParameter& sfp);
    // The value `raw` stands for on sensor `number`: under the record's factors, or for a
    // non-linear sensor under those the BMC gives for that raw value (the record's when it
    // gives none).
    double ValueOf(unsigned char number, const SensorFormulaParameter& sfp, unsigned char raw);
    void ForgetReading();
    // Entries filled in SensorsInformation (it has room for one per repository record):
    // every index into it is checked against this.
    int SensorsInformationCount;

    // Writes a formatted text into a caller's result buffer of 64 bytes, cut to fit.
    static void WriteResult(char* result, const char* format, ...) __attribute__((format(printf, 2, 3)));
    // v truncated toward zero, held to the range of int (NaN gives 0).
    static int WholePart(double v);
    void FillSensorDescription(SensorDescription& entry, int n);
    int ReadRangeText(int n, unsigned char raw, char* result);
    int CopyKind(int RecordCount, int& quantity, SensorDescription* sd, bool (*matches)(const SensorDescription&));
    // Entry n of a per-kind table, or null when n is outside it.
    static const SensorDescription* Entry(const SensorDescription* table, int n);
    const SensorDescription* Discovered(int order) const;
    int CurrentReading(const SensorDescription* table, int n, char* result, bool fan);
    int StateDescription(const SensorDescription* table, int n, char* result);
    int CopyThresholds(const SensorDescription* entry, SensorThresholdInfoRaw& stir,
                       SensorThresholdInfoConverted& stic);
};

#endif
