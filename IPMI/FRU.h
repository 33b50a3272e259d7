// The FRU inventory reader: reads FRU device 0 from the BMC and decodes the identity
// strings of its board, chassis and product areas (IPMI Platform Management FRU
// Information Storage Definition 1.0). Checksums are not verified; every field is read
// only from the bytes the BMC actually returned.
#ifndef QARVEL_IPMI_FRU_H
#define QARVEL_IPMI_FRU_H

#include "IPMI/IPMIbase.h"

struct _FRUInfo {
    unsigned short FRUInfoSize;  // inventory area size in bytes
    int accessMode;              // 0 by bytes, 1 by words
};

struct _CommomHeaderInfo {
    unsigned char version;
    // Byte offsets (the header holds multiples of 8); 0 means the area is absent.
    unsigned short internalUseAreaStartOffset;
    unsigned short chassisInfoAreaStartOffset;
    unsigned short boardAreaStartOffset;
    unsigned short productInfoAreaStartOffset;
    unsigned short multiRecordAreaStartOffset;
};

// One field each: its type code (type/length bits 7..6), its encoded length (bits 5..0)
// and the decoded text, NUL-terminated.
struct _ManufacturerInfo {
    unsigned char typeCode;
    int manufacturerBytesLen;
    unsigned char manufacturer[64];
};
struct _ProductNameInfo {
    unsigned char typeCode;
    int productNameBytesLen;
    unsigned char productName[64];
};
struct _SerialNumberInfo {
    unsigned char typeCode;
    int serialNumberBytesLen;
    unsigned char serialNumber[64];
};
struct _PartNumberInfo {
    unsigned char typeCode;
    int PartNumberBytesLen;
    unsigned char PartNumber[64];
};
struct _ManufacturerNameInfo {
    unsigned char typeCode;
    int manufacturerNameBytesLen;
    unsigned char manufacturerName[64];
};
struct _PartModuleInfo {
    unsigned char typeCode;
    int PartModuleBytesLen;
    unsigned char PartModule[64];
};
struct _ProductVersionInfo {
    unsigned char typeCode;
    int ProductVersionBytesLen;
    unsigned char ProductVersion[64];
};
struct _AssetTagInfo {
    unsigned char typeCode;
    int AssetTagInfoBytesLen;
    unsigned char AssetTag[64];
};

struct _BoardInfo {
    unsigned char version;
    int boardInfoAreaLength;  // bytes
    unsigned char languageCode;
    _ManufacturerInfo ManufacturerInfo;
    _ProductNameInfo ProductNameInfo;
    _SerialNumberInfo SerialNumberInfo;
    _PartNumberInfo PartNumberInfo;
};

struct _ChassisInfo {
    unsigned char version;
    int chassisInfoAreaLength;  // bytes
    unsigned char chassisType;
    _PartNumberInfo PartNumberInfo;
    _SerialNumberInfo SerialNumberInfo;
};

struct _ProductInfo {
    unsigned char version;
    int productInfoAreaLength;  // bytes
    unsigned char languageCode;
    _ManufacturerNameInfo ManufacturerNameInfo;
    _ProductNameInfo ProductNameInfo;
    _PartModuleInfo PartModuleInfo;
    _ProductVersionInfo ProductVersionInfo;
    _SerialNumberInfo SerialNumberInfo;
    _AssetTagInfo AssetTagInfo;
};

class FRU : public IPMIbase {
public:
    // Opens the device (through the family) but sends no request.
    FRU();
    ~FRU();

    // Reads and decodes the whole inventory: -1 when the area information or the common
    // header cannot be read; an area that fails keeps what it held before.
    int GetFRUInfo();
    int GetFRU();
    int GetCommonHeaderInfo();
    int GetBoardInfo();
    int GetChassisInfo();
    int GetProductInfo();

    // Field decoders by type code: 0 binary, 1 BCD plus, 2 6-bit packed ASCII, 3 8-bit
    // ASCII and Latin-1. Each writes at most decodedBytesLen bytes.
    int DecodeByte(unsigned char language, unsigned char type, unsigned char* encodedBytes, int encodedBytesLen,
                   unsigned char* decodedBytes, int decodedBytesLen);
    int CopyBinaryByte(unsigned char* encodedBytes, int encodedBytesLen, unsigned char* decodedBytes,
                       int decodedBytesLen);
    int DecodeASCLatin(unsigned char language, unsigned char* encodedBytes, int encodedBytesLen,
                       unsigned char* decodedBytes, int decodedBytesLen);
    int Decode6BitASC(unsigned char* encodedBytes, int encodedBytesLen, unsigned char* decodedBytes,
                      int decodedBytesLen);
    int DecodeBCDPLUS(unsigned char* encodedBytes, int encodedBytesLen, unsigned char* decodedBytes,
                      int decodedBytesLen);

    // The decoded texts; `result` holds 64 bytes. They send nothing.
    int GetBoardManufacturer(char* result);
    int GetBoardProductName(char* result);
    int GetBoardSerialNumber(char* result);
    int GetBoardPartNumber(char* result);
    int GetChassisPartNumber(char* result);
    int GetChassisSerialNumber(char* result);
    int GetProductManufacturerName(char* result);
    int GetProductName(char* result);
    int GetProductPartName(char* result);
    int GetProductVersion(char* result);
    int GetProductSerialNumber(char* result);
    int GetProductAssetTag(char* result);

    _FRUInfo FRUInfo;
    _CommomHeaderInfo CommomHeaderInfo;
    _BoardInfo BoardInfo;
    _ChassisInfo ChassisInfo;
    _ProductInfo ProductInfo;

private:
    // One field of an area: where its type code, length and text go, and its language.
    struct Field {
        unsigned char* typeCode;
        int* length;
        unsigned char* text;  // 64 bytes
        unsigned char language;
    };
    // Reads Read FRU Data at `offset`: up to `count` bytes appended to `out` (room for
    // `count`); the number of bytes the BMC returned, or -1.
    int ReadFRUData(int offset, int count, unsigned char* out);
    // Reads the area at `offset` into `area` (room for 2048 bytes): the bytes held, or -1
    // when the area is absent, unreadable or not of format version 1 (its version is
    // stored through `version` first).
    int ReadArea(unsigned short offset, unsigned char* area, unsigned char& version);
    // Decodes the fields from area byte `first` on, never past `held`.
    int WalkFields(const unsigned char* area, int held, int first, const Field* fields, int count);
    int CopyText(const unsigned char* text, char* result);
};

#endif
