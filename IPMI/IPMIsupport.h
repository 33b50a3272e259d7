// The one object through which the library talks to the BMC. It is a transport endpoint
// itself and owns the sensor reader and the FRU reader, each with its own request record
// and response buffer; most members forward to one of them. What it sends itself: the
// watchdog timer (watchdog.cpp), and channel, user and LAN configuration (lan.cpp).
// Threshold ordering is in threshold_order.cpp.
//
// There is no virtual destructor (the family has none), so the class is final: deleting
// it through its own type is always right.
#ifndef QARVEL_IPMI_IPMISUPPORT_H
#define QARVEL_IPMI_IPMISUPPORT_H

#include "IPMI/FRU.h"
#include "IPMI/IPMIbase.h"
#include "IPMI/Sensor.h"

// One channel as Get Channel Info describes it (IPMI 2.0 22.24).
struct ChannelInfo {
    unsigned char channelNumber;
    unsigned char channelProtocoltype;  // 1: IPMB-1.0
    unsigned char channelMediatype;     // 4: 802.3 LAN
};

// What SetLANParameter writes to a LAN channel; every address first octet first.
struct LANParameter {
    unsigned char channelNumber;
    unsigned char IPAddress[4];
    unsigned char MACAddress[6];
    unsigned char SubnetMask[4];
};

class IPMIsupport final : public IPMIbase {
public:
    enum thresholdFlag {
        THRESHOLD_LOWER_WARNING = 0,
        THRESHOLD_LOWER_CRITICAL = 1,
        THRESHOLD_LOWER_NON_RECOVERABLE = 2,
        THRESHOLD_UPPER_WARNING = 3,
        THRESHOLD_UPPER_CRITICAL = 4,
        THRESHOLD_UPPER_NON_RECOVERABLE = 5
    };

    // Opens the device (through the family) but sends no request.
    IPMIsupport();
    ~IPMIsupport();

    // Builds every sensor table: repository information, the walk, then the fan, voltage,
    // temperature and processor tables.
    int GetSensorInfo();
    // Sizes of the tables; 0 before GetSensorInfo or without a device. No request.
    int GetFanSensorsNum();
    int GetVoltSensorsNum();
    int GetTemSensorsNum();

    // --- forwarded to the sensor reader ---
    int GetSDRRepositoryInfo(int& RecordCount, int& version);
    int GetSensorNumbers(int RecordCount);
    int GetFanEntityID(int n, unsigned char& id);
    int GetFanSensorNumber(int n, unsigned char& number);
    int GetFanSensorType(int n, unsigned char& type);
    int GetFanIDString(int n, char* result);
    int GetFanSpeed(int n, char* result);
    int GetFanStatusDescription(int n, char* result);
    int GetFanSensorThreshold(int n, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic);
    int GetVoltageEntityID(int n, unsigned char& id);
    int GetVoltageSensorNumber(int n, unsigned char& number);
    int GetVoltageSensorType(int n, unsigned char& type);
    int GetVoltageIDString(int n, char* result);
    int GetVoltageCurrent(int n, char* result);
    int GetVoltageMax(int n, char* result);
    int GetVoltageMin(int n, char* result);
    int GetVoltageStatusDescription(int n, char* result);
    int GetVoltageSensorThreshold(int n, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic);
    int GetTemperatureEntityID(int n, unsigned char& id);
    int GetTemperatureSensorNumber(int n, unsigned char& number);
    int GetTemperatureSensorType(int n, unsigned char& type);
    int GetTemperatureIDString(int n, char* result);
    int GetTemperatureCurrent(int n, char* result);
    int GetTemperatureStatusDescription(int n, char* result);
    int GetTemperatureSensorThreshold(int n, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic);
    int GetDeviceID(unsigned char* majorFirmwareRevision, unsigned char* minorFirmwareRevision);

    // The threshold write path: find the sensors of an entity and type, read one's
    // thresholds and factors, convert a value, order it among the others, write them.
    int GetSensorNumberInfo(unsigned char deviceID, unsigned char sensorType, int recordNumber,
                            SensorNumberInfo& sni);
    // 0 when the reader has the sensor's thresholds, else -1.
    int GetThreshold(int sensorOrder, SensorThresholdInfoRaw& stir, SensorThresholdInfoConverted& stic);
    int GetSensorFormulaParameter(unsigned char sensorOrder, SensorFormulaParameter& sfp);
    int GetValueConversion(SensorFormulaParameter sfp, unsigned char& RawReadingValue, double ConvertedReadingValue);
    // Puts `newThreshold` in place of the threshold `thresholdFlag` names and moves the
    // settable neighbours that it passes, keeping their ascending order. Always 0.
    int SetThresholdOrder(SensorThresholdInfoRaw& stir, int thresholdFlag, unsigned char newThreshold);
    int SetSensorThreshold(unsigned char number, SensorThresholdInfoRaw stir);

    // --- forwarded to the FRU reader ---
    int GetFRUInfo();
    int GetBoardManufacturer(char* result);
    int GetBoardProductName(char* result);
    int GetBoardSerialNumber(char* result);
    int GetBoardPartNumber(char* result);
    int GetChassisPartNumber(char* result);
    int GetChassisSerialNumber(char* result);
    int GetProductManufacturerName(char* result);
    int GetProductPartName(char* result);
    int GetProductSerialNumber(char* result);
    int GetProductVersion(char* result);
    int GetProductAssertTag(char* result);  // the product area's asset tag

    // --- watchdog timer (IPMI 2.0 27) ---
    // Loads the timer with a timeout action (0 none, 1 hard reset, 2 power down, 3 power
    // cycle) and a countdown of 10000 to 999000 ms. Loading stops a running timer.
    int SetWatchDogTimer(unsigned char timerAction, int timeOutValue);
    // Action, initial and present countdown, both in ms; the present one is
    // kCountdownNotGiven when the BMC's answer stops before it.
    static constexpr int kCountdownNotGiven = -1;
    int GetWatchDogTimer(int& timerAcion, int& timeOutValue, int& presentTimeOutValue);
    // Starts, or restarts, the countdown from its initial value.
    int ResetWatchDogTimer();

    // --- channels, users and LAN configuration ---
    int GetChannelInfo(unsigned char channelNum, ChannelInfo* pCI);
    // The first 802.3 LAN channel among 1 to 7; when there is none, channel 7's answer (a
    // caller tells by channelMediatype not being LAN_802_3).
    int GetLANChannelInfo(ChannelInfo* pCI);
    // Sets a user's name and password (16 characters each at most).
    int SetUserInfo(unsigned char userID, const char* userName, const char* passward);
    // Writes address, mask, MAC, IP header, RMCP ports and ARP settings under the
    // set-in-progress lock.
    int SetLANParameter(LANParameter lp);

    Sensor sensor;
    FRU fru;

private:
    // One request on this object's own base to the BMC (rsSa 20h), and its answer; nothing
    // is sent without a device.
    IpmiAnswer Send(unsigned char netFn, unsigned char cmd, const unsigned char* data, int dataLength);
};

// Sets threshold `thresholdFlag` (0 to 5) of each sensor in `sni` to `value`, keeping each
// sensor's thresholds in order in its own value order. -1, with nothing sent, for a flag
// outside 0 to 5. Every sensor is tried: one that cannot be written (discovery holds none of
// its thresholds, or it cannot hold the value) is skipped with nothing sent to it, and a
// write the BMC refuses does not stop the others. -1 when any sensor was skipped or refused,
// after all the others were written; else 0.
int WriteThreshold(IPMIsupport& ipmi, const SensorNumberInfo& sni, int thresholdFlag, double value);

#endif
