// FRU device 0: Get FRU Inventory Area Info and Read FRU Data (IPMI 2.0 34.1, 34.2), the
// common header and the board, chassis and product areas (FRU Information Storage
// Definition 1.0, sections 8 to 11), and the field decoders (section 13).
#include "IPMI/FRU.h"

#include <cstring>

#include "process/state.h"

namespace {

// FRU requests name the BMC by the "any responder" address; device 0 is the baseboard.
constexpr unsigned char kFruResponder = 0xFF;
constexpr unsigned char kFruDevice = 0;
constexpr int kMostPerRead = IpmiReaderMemory::kFruMostPerRead;
// Area lengths are one byte of 8-byte multiples.
constexpr int kLargestArea = 255 * 8;
constexpr int kTextSize = 64;
constexpr unsigned char kFormatVersion = 1;
// Type/length byte C1h marks the end of an area's fields (FRU 13).
constexpr unsigned char kEndOfFields = 0xC1;
// Language codes that mean English (FRU 15).
constexpr unsigned char kEnglish = 0, kEnglishToo = 25;
// Read FRU Data refusals of a count too large for the BMC (IPMI 2.0 34.2, 5.2).
constexpr unsigned char kFruCountTooLarge = 0xC8, kCannotReturn = 0xCA;

}  // namespace

FRU::FRU() : FRUInfo(), CommomHeaderInfo(), BoardInfo(), ChassisInfo(), ProductInfo() { InitIpmiBase(); }

FRU::~FRU() = default;

int FRU::ReadFRUData(int offset, int count, unsigned char* out) {
    if (!IsInitOK() || offset < 0 || offset > 0xFFFF || count <= 0 || count > kMostPerRead) return -1;
    // The largest count the BMC of this inventory read takes: learnt from its refusals, so
    // that every later read of the same walk asks for no more.
    int& mostPerRead = qarvel::State().ipmiMemory.fruMostPerRead;
    IpmiAnswer answer;
    for (;;) {
        if (count > mostPerRead) count = mostPerRead;
        const unsigned char data[4] = {kFruDevice, static_cast<unsigned char>(offset & 0xFF),
                                       static_cast<unsigned char>(offset >> 8), static_cast<unsigned char>(count)};
        answer = AskBmc(*this, STORAGE_CMD, Read_FRU_info, kFruResponder, data, 4);
        // A BMC with a small buffer refuses the count: ask it for less, down to one byte.
        const unsigned char code = answer.completion;
        if (answer.ok() || (code != kFruCountTooLarge && code != kCannotReturn) || count == 1) break;
        mostPerRead = count / 2;
    }
    std::memset(&request, 0, sizeof request);
    if (!answer.ok() || answer.length < 1) return -1;
    // The count byte says how many came; believe it only as far as the bytes we hold and
    // the bytes we asked for.
    int held = answer.bytes[0];
    if (held > answer.length - 1) held = answer.length - 1;
    if (held > count) held = count;
    std::memcpy(out, answer.bytes + 1, static_cast<std::size_t>(held));
    return held;
}

int FRU::GetFRU() {
    if (!IsInitOK()) return -1;
    const unsigned char device = kFruDevice;
    const IpmiAnswer answer = AskBmc(*this, STORAGE_CMD, Get_FRU_info, kFruResponder, &device, 1);
    std::memset(&request, 0, sizeof request);
    if (!answer.ok() || answer.length < 3) return -1;
    FRUInfo.FRUInfoSize = static_cast<unsigned short>(answer.bytes[1] << 8 | answer.bytes[0]);
    FRUInfo.accessMode = answer.bytes[2] & 1;
    return 0;
}

int FRU::GetCommonHeaderInfo() {
    unsigned char header[8] = {};
    // Version and the five offsets are all we use: a shorter answer is no header.
    if (ReadFRUData(0, 8, header) < 6) return -1;
    CommomHeaderInfo.version = header[0];
    CommomHeaderInfo.internalUseAreaStartOffset = static_cast<unsigned short>(header[1] * 8);
    CommomHeaderInfo.chassisInfoAreaStartOffset = static_cast<unsigned short>(header[2] * 8);
    CommomHeaderInfo.boardAreaStartOffset = static_cast<unsigned short>(header[3] * 8);
    CommomHeaderInfo.productInfoAreaStartOffset = static_cast<unsigned short>(header[4] * 8);
    CommomHeaderInfo.multiRecordAreaStartOffset = static_cast<unsigned short>(header[5] * 8);
    return 0;
}

int FRU::ReadArea(unsigned short offset, unsigned char* area, unsigned char& version) {
    if (offset == 0) return -1;  // the header marks the area absent
    unsigned char head[2] = {};
    if (ReadFRUData(offset, 2, head) != 2) return -1;
    version = head[0];
    // An area of another format cannot be walked: its length byte means nothing to us.
    if (version != kFormatVersion) return -1;
    const int length = head[1] * 8;
    if (length == 0) return -1;

    // A BMC may return fewer bytes than asked: carry on from where it stopped. When it
    // cannot go on, the walk makes do with the bytes it has.
    int held = 0;
    while (held < length && offset + held <= 0xFFFF) {
        int asked = length - held < kMostPerRead ? length - held : kMostPerRead;
        int got = ReadFRUData(offset + held, asked, area + held);
        if (got < 0 && held == 0) return -1;
        if (got <= 0) break;
        held += got;
    }
    return held;
}

int FRU::WalkFields(const unsigned char* area, int held, int first, const Field* fields, int count) {
    for (int i = 0; i < count; ++i) {
        std::memset(fields[i].text, 0, kTextSize);
        *fields[i].typeCode = 0;
        *fields[i].length = 0;
    }
    int at = first;
    for (int i = 0; i < count; ++i) {
        if (at >= held) return -1;  // the area ends before its fields do
        const unsigned char typeLength = area[at];
        if (typeLength == kEndOfFields) return 0;
        const int length = typeLength & 0x3F;
        if (at + 1 + length > held) return -1;
        *fields[i].typeCode = static_cast<unsigned char>(typeLength >> 6);
        *fields[i].length = length;
        if (DecodeByte(fields[i].language, *fields[i].typeCode, const_cast<unsigned char*>(area + at + 1), length,
                       fields[i].text, kTextSize) != 0)
            return -1;
        at += 1 + length;
    }
    return 0;
}

// Board area (FRU 11): version, length, language, 3 bytes of manufacturing date and time,
// then manufacturer, product name, serial number, part number.
int FRU::GetBoardInfo() {
    unsigned char area[kLargestArea];
    int held = ReadArea(CommomHeaderInfo.boardAreaStartOffset, area, BoardInfo.version);
    if (held < 3) return -1;
    _BoardInfo& b = BoardInfo;
    b.boardInfoAreaLength = area[1] * 8;
    b.languageCode = area[2];
    const Field fields[] = {
        {&b.ManufacturerInfo.typeCode, &b.ManufacturerInfo.manufacturerBytesLen, b.ManufacturerInfo.manufacturer,
         b.languageCode},
        {&b.ProductNameInfo.typeCode, &b.ProductNameInfo.productNameBytesLen, b.ProductNameInfo.productName,
         b.languageCode},
        {&b.SerialNumberInfo.typeCode, &b.SerialNumberInfo.serialNumberBytesLen, b.SerialNumberInfo.serialNumber,
         kEnglish},
        {&b.PartNumberInfo.typeCode, &b.PartNumberInfo.PartNumberBytesLen, b.PartNumberInfo.PartNumber,
         b.languageCode},
    };
    return WalkFields(area, held, 6, fields, 4);
}

// Chassis area (FRU 10): version, length, chassis type, part number, serial number.
int FRU::GetChassisInfo() {
    unsigned char area[kLargestArea];
    int held = ReadArea(CommomHeaderInfo.chassisInfoAreaStartOffset, area, ChassisInfo.version);
    if (held < 3) return -1;
    _ChassisInfo& c = ChassisInfo;
    c.chassisInfoAreaLength = area[1] * 8;
    c.chassisType = area[2];
    const Field fields[] = {
        {&c.PartNumberInfo.typeCode, &c.PartNumberInfo.PartNumberBytesLen, c.PartNumberInfo.PartNumber, kEnglish},
        {&c.SerialNumberInfo.typeCode, &c.SerialNumberInfo.serialNumberBytesLen, c.SerialNumberInfo.serialNumber,
         kEnglish},
    };
    return WalkFields(area, held, 3, fields, 2);
}

// Product area (FRU 12): version, length, language, then manufacturer, product name,
// part/model number, version, serial number, asset tag.
int FRU::GetProductInfo() {
    unsigned char area[kLargestArea];
    int held = ReadArea(CommomHeaderInfo.productInfoAreaStartOffset, area, ProductInfo.version);
    if (held < 3) return -1;
    _ProductInfo& p = ProductInfo;
    p.productInfoAreaLength = area[1] * 8;
    p.languageCode = area[2];
    const Field fields[] = {
        {&p.ManufacturerNameInfo.typeCode, &p.ManufacturerNameInfo.manufacturerNameBytesLen,
         p.ManufacturerNameInfo.manufacturerName, p.languageCode},
        {&p.ProductNameInfo.typeCode, &p.ProductNameInfo.productNameBytesLen, p.ProductNameInfo.productName,
         p.languageCode},
        {&p.PartModuleInfo.typeCode, &p.PartModuleInfo.PartModuleBytesLen, p.PartModuleInfo.PartModule,
         p.languageCode},
        {&p.ProductVersionInfo.typeCode, &p.ProductVersionInfo.ProductVersionBytesLen,
         p.ProductVersionInfo.ProductVersion, p.languageCode},
        {&p.SerialNumberInfo.typeCode, &p.SerialNumberInfo.serialNumberBytesLen, p.SerialNumberInfo.serialNumber,
         kEnglish},
        {&p.AssetTagInfo.typeCode, &p.AssetTagInfo.AssetTagInfoBytesLen, p.AssetTagInfo.AssetTag, p.languageCode},
    };
    return WalkFields(area, held, 3, fields, 6);
}

int FRU::GetFRUInfo() {
    qarvel::State().ipmiMemory.fruMostPerRead = kMostPerRead;
    if (GetFRU() != 0) return -1;
    if (GetCommonHeaderInfo() != 0) return -1;
    // An area that cannot be read keeps what it held; the others are still read.
    GetBoardInfo();
    GetChassisInfo();
    GetProductInfo();
    return 0;
}

// --- decoders ------------------------------------------------------------------------------

int FRU::DecodeByte(unsigned char language, unsigned char type, unsigned char* encodedBytes, int encodedBytesLen,
                    unsigned char* decodedBytes, int decodedBytesLen) {
    int result = 0;
    switch (type) {
        case 0: result = CopyBinaryByte(encodedBytes, encodedBytesLen, decodedBytes, decodedBytesLen); break;
        case 1: result = DecodeBCDPLUS(encodedBytes, encodedBytesLen, decodedBytes, decodedBytesLen); break;
        case 2: result = Decode6BitASC(encodedBytes, encodedBytesLen, decodedBytes, decodedBytesLen); break;
        case 3: result = DecodeASCLatin(language, encodedBytes, encodedBytesLen, decodedBytes, decodedBytesLen); break;
        default: return 0;
    }
    return result != 0 ? -1 : 0;
}

int FRU::CopyBinaryByte(unsigned char* encodedBytes, int encodedBytesLen, unsigned char* decodedBytes,
                        int decodedBytesLen) {
    if (!encodedBytes || !decodedBytes) return -1;
    int n = encodedBytesLen < decodedBytesLen ? encodedBytesLen : decodedBytesLen;
    if (n > 0) std::memcpy(decodedBytes, encodedBytes, static_cast<std::size_t>(n));
    return 0;
}

int FRU::DecodeASCLatin(unsigned char language, unsigned char* encodedBytes, int encodedBytesLen,
                        unsigned char* decodedBytes, int decodedBytesLen) {
    if (!encodedBytes || !decodedBytes) return -1;
    int n = encodedBytesLen < decodedBytesLen ? encodedBytesLen : decodedBytesLen;
    // Other languages are 16-bit Unicode: whole characters only.
    if (language != kEnglish && language != kEnglishToo) n &= ~1;
    if (n > 0) std::memcpy(decodedBytes, encodedBytes, static_cast<std::size_t>(n));
    return 0;
}

// Four 6-bit characters (offset from the space) packed into each three bytes, least
// significant bits first (FRU 13.2).
int FRU::Decode6BitASC(unsigned char* encodedBytes, int encodedBytesLen, unsigned char* decodedBytes,
                       int decodedBytesLen) {
    if (!encodedBytes || !decodedBytes || encodedBytesLen < 0) return -1;
    if (decodedBytesLen < (encodedBytesLen / 3) * 4 + 1) return -1;
    int out = 0;
    for (int at = 0; at + 3 <= encodedBytesLen; at += 3) {
        const unsigned b0 = encodedBytes[at], b1 = encodedBytes[at + 1], b2 = encodedBytes[at + 2];
        const unsigned c[4] = {b0 & 0x3F, (b0 >> 6) | ((b1 & 0x0F) << 2), (b1 >> 4) | ((b2 & 0x03) << 4), b2 >> 2};
        for (unsigned v : c) decodedBytes[out++] = static_cast<unsigned char>(v + 0x20);
    }
    return 0;
}

// One character per byte, from its low four bits: 0-9, space, dash, period (FRU 13.1), as
// FreeIPMI's ipmi-fru reads it; the reserved codes show as '?'.
int FRU::DecodeBCDPLUS(unsigned char* encodedBytes, int encodedBytesLen, unsigned char* decodedBytes,
                       int decodedBytesLen) {
    if (!encodedBytes || !decodedBytes) return -1;
    static const char kCharacters[] = "0123456789 -.???";
    const int n = encodedBytesLen < decodedBytesLen ? encodedBytesLen : decodedBytesLen;
    for (int i = 0; i < n; ++i) decodedBytes[i] = static_cast<unsigned char>(kCharacters[encodedBytes[i] & 0x0F]);
    return 0;
}

// --- texts -----------------------------------------------------------------------------------

int FRU::CopyText(const unsigned char* text, char* result) {
    if (!result) return -1;
    char* source = reinterpret_cast<char*>(const_cast<unsigned char*>(text));
    IpmiSrtringCopy(result, source, kTextSize, static_cast<int>(strnlen(source, kTextSize - 1)));
    return 0;
}

int FRU::GetBoardManufacturer(char* result) { return CopyText(BoardInfo.ManufacturerInfo.manufacturer, result); }
int FRU::GetBoardProductName(char* result) { return CopyText(BoardInfo.ProductNameInfo.productName, result); }
int FRU::GetBoardSerialNumber(char* result) { return CopyText(BoardInfo.SerialNumberInfo.serialNumber, result); }
int FRU::GetBoardPartNumber(char* result) { return CopyText(BoardInfo.PartNumberInfo.PartNumber, result); }
int FRU::GetChassisPartNumber(char* result) { return CopyText(ChassisInfo.PartNumberInfo.PartNumber, result); }
int FRU::GetChassisSerialNumber(char* result) {
    return CopyText(ChassisInfo.SerialNumberInfo.serialNumber, result);
}
int FRU::GetProductManufacturerName(char* result) {
    return CopyText(ProductInfo.ManufacturerNameInfo.manufacturerName, result);
}
int FRU::GetProductName(char* result) { return CopyText(ProductInfo.ProductNameInfo.productName, result); }
int FRU::GetProductPartName(char* result) { return CopyText(ProductInfo.PartModuleInfo.PartModule, result); }
int FRU::GetProductVersion(char* result) { return CopyText(ProductInfo.ProductVersionInfo.ProductVersion, result); }
int FRU::GetProductSerialNumber(char* result) {
    return CopyText(ProductInfo.SerialNumberInfo.serialNumber, result);
}
int FRU::GetProductAssetTag(char* result) { return CopyText(ProductInfo.AssetTagInfo.AssetTag, result); }
