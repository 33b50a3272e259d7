// The SMBIOS reader: takes the entry point and the structure table from an image (image.h)
// that the first source to give them produced (the kernel's sysfs copy, else physical memory),
// indexes the table in one walk, and hands out structures by type and occurrence or by
// handle. Reading the bytes lives in sources.cpp, the index in SmBios.cpp; the getters that
// turn structures into texts live in the files of their concern (identity.cpp, ...).
#ifndef QARVEL_SMBIOS_SMBIOS_H
#define QARVEL_SMBIOS_SMBIOS_H

#include <cstddef>
#include <vector>

#include "SmBios/BiosDataItem.h"
#include "SmBios/image.h"
#include "api/field.h"
#include "api/types.h"
#include "process/entries.h"

// The method that gave the table last probed: "sysfs", "/dev/mem" or "/dev/mem mmap"; null
// when no probe has found a table yet (or the last one found none).
const char* SmBiosSourceName();

// Writes the decimal text of `number`; `radix` is ignored.
char* itoa(int number, char* result, int radix);

// One memory bank as the memory getters describe it: the exchange record BANK itself, so
// that its fields, their order and sizes cannot drift apart from it.
struct BankInfo : BANK {};
static_assert(sizeof(BankInfo) == sizeof(BANK), "a bank copies field by field");

// The memory description: the same layout as the exchange record MemoryInformation.
struct LocalMemInfo {
    int TotalSize;  // megabytes
    int quantity;   // banks filled
    BankInfo bank[16];
};

// A structure found through the index: a view of the table's bytes, or nothing.
class FoundItem {
public:
    FoundItem() = default;
    explicit FoundItem(const BiosDataItem& item) : item_(item), found_(true) {}
    explicit operator bool() const { return found_; }
    const BiosDataItem* operator->() const { return &item_; }
    const BiosDataItem& operator*() const { return item_; }
    const BiosDataItem* get() const { return found_ ? &item_ : nullptr; }

private:
    BiosDataItem item_;
    bool found_ = false;
};

class SmBios {
public:
    // Probe locations of voltage and temperature probes (SMBIOS 7.27.2).
    enum TnVLocation {
        TnV_OTHER = 1, TnV_UNKNOWN = 2, TnV_PROCESSOR = 3, TnV_DISK = 4, TnV_PERIPHERAL_BAY = 5,
        TnV_SYSTEM_MANAGEMENT_MODULE = 6, TnV_MOTHER_BOARD = 7, TnV_MEMORY = 8, TnV_PROCESSOR_MODULE = 9,
        TnV_POWER_UNIT = 10, TnV_ADDIN_CARD = 11, TnV_FRONT_PANEL_BOARD = 12, TnV_BACK_PANEL_BOARD = 13,
        TnV_POWER_SYSTEM_BOARD = 14, TnV_DRIVE_BACK_PLANE = 15
    };
    // Power supply types (SMBIOS 7.40.1).
    enum PowerSupplyType {
        PS_OTHER = 1, PS_UNKNOWN = 2, PS_LINEAR = 3, PS_SWITCHING = 4, PS_BATTERY = 5, PS_UPS = 6,
        PS_CONVERTER = 7, PS_REGULATOR = 8
    };
    // Structure types.
    enum StructureType {
        TYPE_BIOS_INFO = 0, TYPE_SYSTEM_INFO = 1, TYPE_BASE_BOARD = 2, TYPE_SYSTEM_ENCLOSURE = 3,
        TYPE_PROCESSOR_INFO = 4, TYPE_MEMORY_CONTROLLER = 5, TYPE_MEMORY_MODULE = 6, TYPE_CACHE_INFO = 7,
        TYPE_PORT_CONNECTOR_INFO = 8, TYPE_SYSTEM_SLOTS = 9, TYPE_ON_BOARD_DEVICE_INFO = 10,
        TYPE_OEM_STRINGS = 11, TYPE_SYSTEM_CONFIGURE_OPTION = 12, TYPE_BIOS_LANGUAGE_INFO = 13,
        TYPE_GROUP_ASSOCIATIONS = 14, TYPE_SYSTEM_EVENT_LOG = 15, TYPE_PHSICAL_MEMORY_ARRAY = 16,
        TYPE_MEMORY_DEVICE = 17, TYPE_MEMEORY_ARRAY_MAPPED_ADDR = 19, TYPE_MEMEORY_DEVICE_MAPPED_ADDR = 20,
        TYPE_BUILDING_IN_POINTING_DEVICE = 21, TYPE_PORTABLE_BATTERY = 22, TYPE_SYSTEM_RESET = 23,
        TYPE_HARDWARE_SEQURITY = 24, TYPE_SYSTEM_POWER_CONTROL = 25, TYPE_VOLTAGE_PROBE = 26,
        TYPE_COOLING_DEVICE = 27, TYPE_TEMPERATURE_PROBE = 28, TYPE_ELECTRICAL_CURRENT_PROBE = 29,
        TYPE_OUT_OF_BAND_REMOTE_ACCESS = 30, TYPE_BIS_ENTRY_POINT = 31, TYPE_SYSTEM_BOOT_INFO = 32,
        TYPE_BIT64_MEMORY_ERROR_INFO = 33, TYPE_MANAGEMENT_DEVICE = 34, TYPE_MANAGEMENT_DEVICE_COMPONENT = 35,
        TYPE_MANAGEMENT_DEVICE_THRESHOLD = 36, TYPE_MEMORY_CHANNEL = 37, TYPE_IPMI_DEVICE_INFO = 38,
        TYPE_SYSTEM_POWER_SUPPLY = 39, TYPE_INACTIVE = 126, TYPE_END_OF_TABLE = 127
    };

    // Probes the sources for the machine's table and builds from what the first one gave.
    SmBios();
    // Built from the bytes held, whatever gave them; nothing is read from the machine.
    explicit SmBios(const SmBiosImage& image);
    ~SmBios();
    SmBios(const SmBios&) = delete;
    SmBios& operator=(const SmBios&) = delete;

    int IsInitOK() const { return InitOK; }
    int IsMatchSmBios() const { return MatchSMBIOS; }
    int IsMatchDMI() const { return MatchDMI; }
    int IsMatchSmBios3() const { return MatchSMBIOS3; }

    // The n-th (1-based) structure of `type`, or null. The caller deletes it; the item
    // points into the table and is valid as long as this reader.
    BiosDataItem* GetItem(unsigned char type, unsigned char n);
    // Number of structures the index holds.
    unsigned int GetStructureCount() const { return StructureCount; }
    // Prepares a locator text for comparison: drops every character outside '0'..'z'.
    void trim(char* p);

    // BIOS, system and base-board identity (identity.cpp).
    int GetBiosVendor(char* result, unsigned int length);
    int GetBiosVersion(char* result, unsigned int length);
    int GetBiosReleaseDate(char* result, unsigned int length);
    int GetSysManufacturer(char* result, unsigned int length);
    int GetSysProductname(char* result, unsigned int length);
    int GetSysVersion(char* result, unsigned int length);
    int GetSystemSerialNumber(char* result, unsigned int length);
    int GetBoardManufacturer(char* result, unsigned int length);
    int GetBoardProduct(char* result, unsigned int length);
    int GetBoardVersion(char* result, unsigned int length);
    int GetBoardSerialNo(char* result, unsigned int length);
    int GetBoardAssetTag(char* result, unsigned int length);

    // Processors (type 4) and their caches (type 7) (processors.cpp). Processors are
    // numbered from 1 in table order; at most 16 are seen. Getters without a length write
    // NUL-terminated texts of at most 54 bytes (the family), 17 otherwise ("Bios Not Provide").
    int GetProcessorQuantity();         // populated and with a known status
    int GetProcessorVirtualQuantity();  // every processor structure, at most 16
    int GetProcessorStructureCount();   // every processor structure, as many as the index holds
    int GetProcessorFamily(int n, char* result);
    int GetProcessorManufacturer(int n, char* result, unsigned int length);
    int GetProcessorVersion(int n, char* result, unsigned int length);
    int GetProcessorSerialNo(int n, char* result, unsigned int length);
    int GetProcessorVoltage(int n, char* result);
    int GetProcessorExternalClock(int n, char* result);
    int GetProcessorMaxSpeed(int n, char* result);
    int GetProcessorCurrentSpeed(int n, char* result);
    int GetProcessorStatus(int n, char* result);  // one byte: the raw status
    // Cacheindex 0, 1, 2 is the level 1, 2, 3 cache of processor CpuIndex.
    int GetCacheDesignation(int CpuIndex, int Cacheindex, char* result, unsigned int length);
    int GetCacheMaxSize(int CpuIndex, int Cacheindex, char* result);
    int GetCacheInstalledSize(int CpuIndex, int Cacheindex, char* result);
    int GetCacheSpeed(int CpuIndex, int Cacheindex, char* result);
    // The same for the cache structure with the given handle.
    int GetCacheDesignationPrivate(int handle, char* result, unsigned int length);
    int GetCacheMaxSizePrivate(int handle, char* result);
    int GetCacheInstalledSizePrivate(int handle, char* result);
    int GetCacheSpeedPrivate(int handle, char* result);

    // Memory: controller (type 5) and modules (type 6), or memory devices (type 17)
    // (memory.cpp). Texts without a length are at most 16 bytes with their NUL.
    int ExistMemCtl();
    int ExistMemModule();
    int ExistMemDev();
    int GetValidMemModuleHandle(int n);
    int GetMemModuleQuantity();
    int GetMemModuleSize(int handle, char* result);
    int GetMemModuleSpeed(int handle, char* result);
    int GetMemModuleType(int handle, char* result);
    int GetMemBankConnector(int handle);
    int GetMemModuleLocate(int handle, char* result, unsigned int length);
    int GetMemDevSize(int n, char* result);  // 1 for an empty slot
    int GetMemDevSize(int n);                // megabytes
    int GetMemDevSpeed(int n, char* result);
    int GetMemDevType(int n, char* result);
    // Appends to what `result` holds; the whole text stays within `length` bytes with its
    // NUL (the bank's TypeDetail field by default).
    int GetMemDevTypeDetail(int n, char* result, unsigned int length = sizeof(BankInfo::TypeDetail));
    int GetMemDevManufacturer(int n, char* result, unsigned int length);
    int GetMemDevLocator(int n, char* result, unsigned int length);
    int GetProperMemDev(char* DeviceLocator);
    // Memory device n's (1-based) device locator, bank locator, serial and part number, for
    // joining another source to it; each null where the device lacks it. False when there is
    // no device n. The texts are views of the table, valid as long as the reader.
    bool GetMemDevStrings(int n, const char* (&texts)[4]);
    int GetMemoryTotalSize();  // megabytes, saturating at the largest int
    int GetMemoryInformation(LocalMemInfo* buffer);
    // Every bank GetMemoryInformation would describe, past the 16 its record holds: 0, or -1
    // (none) when the table has neither modules with a controller nor memory devices.
    int GetMemoryBanks(std::vector<BankInfo>& banks);

    // Ports (type 8), on-board devices (type 10), power supplies (type 39), cooling devices
    // (type 27), voltage (type 26) and temperature (type 28) probes (devices.cpp). Texts
    // from the tables are NUL-terminated and at most 39 bytes long.
    int GetPortQuantity();
    int GetPortType(int n, char* result);
    int GetPortDecription(int n, char* result, unsigned int length);
    int GetOnBoardDevQuantity();
    int GetOnBoardDevBiosEnable(int n, int& result);
    int GetOnBoardDevType(int n, char* result);
    // The description, at most length - 1 characters and a NUL.
    int GetOnBoardDevDescription(int n, char* result, unsigned int length = 64);
    // `type` selects supplies by kind: 15 every kind, PS_UPS every kind but regulators.
    int GetPSQuantity(int type);
    int GetPSRedundantQuantity();
    int GetPSDeviceName(int type, int n, char* result, unsigned int length);
    int GetPSManufacturer(int type, int n, char* result, unsigned int length);
    int GetPSSerialNo(int type, int n, char* result, unsigned int length);
    int GetPSStatus(int type, int n, char* result);
    int GetPSBiosEnable();
    int GetFanQuantity();
    int GetFanStatus(int n, char* result);
    int GetFanDescription(int n, char* result);
    int GetFanSpeed(int n, char* result);
    // `type` selects the first probe whose location byte has all of its bits set.
    int GetVoltageProbeQuantity();
    int GetVoltageDescription(int type, char* result, unsigned int length);
    int GetVoltageStatus(int type, char* result);
    int GetVoltageCurrent(int type, char* result);
    int GetVoltageMax(int type, char* result);
    int GetVoltageMin(int type, char* result);
    int GetTemperatureProbeQuantity();
    int GetTemperatureDescription(int type, char* result, unsigned int length);
    int GetTemperatureStatus(int type, char* result);
    int GetTemperatureCurrent(int type, char* result);

    int InitOK;
    char* BiosData;               // the table, BiosDataLength bytes and two zero bytes
    unsigned int BiosDataLength;  // SMBIOS 3 tables may exceed 64 KB
    unsigned char MatchSMBIOS;    // a 2.x or a 3.x entry point
    unsigned char MatchDMI;
    SmBiosTableEntryPoint SmBiosEntry;
    DMITableEntryPoint DmiEntry;
    TnVLocation temperature;
    PowerSupplyType ps;
    StructureType type;
    unsigned char MatchSMBIOS3;   // the entry point is a 3.x one (MatchSMBIOS is set too)
    SmBios3TableEntryPoint SmBios3Entry;
    // Structures looked at since construction: one per structure while indexing, one per
    // structure a lookup hands out. Shows that a sweep stays linear in the table.
    unsigned long long Visits;

private:
    // One structure of the table, in table order.
    struct IndexEntry {
        unsigned int offset;      // from the start of BiosData
        unsigned int size;        // formatted area, strings and the closing double NUL
        unsigned int occurrence;  // 1-based among the structures of its type
    };

    // Takes the entry point at `bytes` (`length` bytes held). False, with every entry point
    // member cleared, when it is no entry point we know.
    bool AdoptEntryPoint(const unsigned char* bytes, unsigned int length);
    void ForgetEntryPoint();
    // Allocates BiosData for `length` bytes and the two closing zeros.
    bool AllocateTable(unsigned int length);
    void ForgetTable();

    // Bytes taken by the structure at `offset` (formatted area, strings and the closing
    // double NUL), or 0 when it does not lie whole inside the table.
    unsigned int StructureSize(unsigned int offset) const;
    // Walks the table once and records every structure by type and by handle.
    bool BuildIndex();
    FoundItem MakeItem(unsigned int entry);
    // Copies the string whose number is stored at `offset` of the item: at most length - 1
    // bytes and no terminator. 0, or -1 when the field or the string is missing.
    static int CopyItemString(const BiosDataItem* item, int offset, char* result, unsigned int length);
    int CopyString(unsigned char structureType, int offset, char* result, unsigned int length);
    // The base board the board getters read: the first one without contained objects when
    // the table has several, else the only one.
    FoundItem GetChosenBaseBoard();
    int CopyBoardString(int offset, char* result, unsigned int length);

    // Structures of `type` counted from occurrence 1 up to `limit`, stopping at the first
    // missing one.
    int CountStructures(unsigned char structureType, int limit);
    // The n-th structure of `type`, for n in 1..255 (the BIOS structure whatever n); nothing
    // otherwise.
    FoundItem GetOccurrence(unsigned char structureType, int n);
    // The first structure of `type` whose handle is `handle`, among the first 255 of its type.
    FoundItem GetByHandle(unsigned char structureType, int handle);

    // processors.cpp
    int GetCacheHandle(int CpuIndex, int Cacheindex, unsigned short& handle);
    void WriteNoCacheText(char* result, unsigned int length);
    int WriteCacheSize(int handle, int offset, char* result);
    int WriteProcessorSpeed(int n, int offset, char* result);

    // memory.cpp
    FoundItem GetMemModule(int handle);
    int AddBanks(qarvel::Entries<BankInfo>& banks);
    void AddModuleBanks(qarvel::Entries<BankInfo>& banks);
    void AddDeviceBanks(qarvel::Entries<BankInfo>& banks);

    // devices.cpp
    FoundItem GetOnBoardDev(int n, int& entry);
    FoundItem GetPowerSupply(int type, int n);
    FoundItem GetProbe(unsigned char structureType, int type);

    // The index: entries in table order; the entries of each type in table order
    // (ByType[TypeFirst[t] .. TypeFirst[t + 1])); and (handle << 32 | entry) keys, sorted.
    IndexEntry* Entries;
    unsigned int StructureCount;
    unsigned int* ByType;
    unsigned int TypeFirst[257];
    unsigned long long* ByHandle;
};

#endif
