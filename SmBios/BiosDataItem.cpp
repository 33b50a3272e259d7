#include "SmBios/BiosDataItem.h"

#include <cstring>

namespace {
// SMBIOS allows up to 255 strings per structure; like every reader of this family we reach
// the first 20 only.
constexpr int kMaxStrings = 20;
}  // namespace

BiosDataItem::BiosDataItem()
    : header(), FormatedData(nullptr), StringBuffer(nullptr), EndAddress(nullptr), StringBufferLength(0) {}

namespace {

// The string set ends at the first double NUL; a structure without strings is just that.
unsigned int SizeOf(const char* start) {
    const char* p = start + static_cast<unsigned char>(start[1]);
    while (p[0] != 0 || p[1] != 0) ++p;
    return static_cast<unsigned int>(p + 2 - start);
}

}  // namespace

BiosDataItem::BiosDataItem(char* StartAddress) : BiosDataItem(StartAddress, SizeOf(StartAddress)) {}

BiosDataItem::BiosDataItem(char* StartAddress, unsigned int size) {
    std::memcpy(&header, StartAddress, sizeof header);
    FormatedData = StartAddress;
    StringBuffer = StartAddress + header.length;
    EndAddress = StartAddress + size - 1;
    // The set's last byte is the second NUL of the double NUL, so every string in it ends
    // inside it.
    StringBufferLength = size - header.length;
}

char* BiosDataItem::GetString(int index) const {
    if (index <= 0 || index > kMaxStrings) return nullptr;
    char* p = StringBuffer;
    char* end = StringBuffer + StringBufferLength;
    for (int skip = 1; skip < index; ++skip) {
        if (p >= end) return nullptr;
        p += std::strlen(p) + 1;  // the set's last byte is zero, so strlen stays inside
    }
    return p < end ? p : nullptr;
}

bool BiosDataItem::GetByte(int offset, unsigned char& value) const {
    if (offset < 0 || offset + 1 > header.length) return false;
    value = static_cast<unsigned char>(FormatedData[offset]);
    return true;
}

bool BiosDataItem::GetWord(int offset, unsigned short& value) const {
    if (offset < 0 || offset + 2 > header.length) return false;
    const auto* b = reinterpret_cast<const unsigned char*>(FormatedData + offset);
    value = static_cast<unsigned short>(b[0] | b[1] << 8);
    return true;
}

bool BiosDataItem::GetDword(int offset, unsigned int& value) const {
    if (offset < 0 || offset + 4 > header.length) return false;
    const auto* b = reinterpret_cast<const unsigned char*>(FormatedData + offset);
    value = static_cast<unsigned int>(b[0]) | static_cast<unsigned int>(b[1]) << 8 |
            static_cast<unsigned int>(b[2]) << 16 | static_cast<unsigned int>(b[3]) << 24;
    return true;
}

char* BiosDataItem::GetFieldString(int offset) const {
    unsigned char number;
    if (!GetByte(offset, number)) return nullptr;
    return GetString(number);
}
