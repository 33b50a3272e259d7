// BIOS (type 0), system (type 1) and base board (type 2) identity strings.

#include "SmBios/SmBios.h"

namespace {

// SMBIOS 7.1: BIOS Information
constexpr int kBiosVendor = 4, kBiosVersion = 5, kBiosReleaseDate = 8;
// SMBIOS 7.2: System Information
constexpr int kSysManufacturer = 4, kSysProductName = 5, kSysVersion = 6, kSysSerialNumber = 7;
// SMBIOS 7.3: Baseboard Information
constexpr int kBoardManufacturer = 4, kBoardProduct = 5, kBoardVersion = 6, kBoardSerialNumber = 7,
              kBoardAssetTag = 8, kBoardContainedObjects = 14;

}  // namespace

int SmBios::GetBiosVendor(char* result, unsigned int length) {
    return CopyString(TYPE_BIOS_INFO, kBiosVendor, result, length);
}

int SmBios::GetBiosVersion(char* result, unsigned int length) {
    return CopyString(TYPE_BIOS_INFO, kBiosVersion, result, length);
}

int SmBios::GetBiosReleaseDate(char* result, unsigned int length) {
    return CopyString(TYPE_BIOS_INFO, kBiosReleaseDate, result, length);
}

int SmBios::GetSysManufacturer(char* result, unsigned int length) {
    return CopyString(TYPE_SYSTEM_INFO, kSysManufacturer, result, length);
}

int SmBios::GetSysProductname(char* result, unsigned int length) {
    return CopyString(TYPE_SYSTEM_INFO, kSysProductName, result, length);
}

int SmBios::GetSysVersion(char* result, unsigned int length) {
    return CopyString(TYPE_SYSTEM_INFO, kSysVersion, result, length);
}

int SmBios::GetSystemSerialNumber(char* result, unsigned int length) {
    return CopyString(TYPE_SYSTEM_INFO, kSysSerialNumber, result, length);
}

FoundItem SmBios::GetChosenBaseBoard() {
    FoundItem second = GetOccurrence(TYPE_BASE_BOARD, 2);
    if (!second) return GetOccurrence(TYPE_BASE_BOARD, 1);
    // Several boards: the one we describe is the first that contains no other board.
    for (int k = 1; k <= 255; ++k) {
        FoundItem board = GetOccurrence(TYPE_BASE_BOARD, k);
        if (!board) return FoundItem();
        unsigned char contained;
        if (!board->GetByte(kBoardContainedObjects, contained) || contained == 0) return board;
    }
    return FoundItem();
}

int SmBios::CopyBoardString(int offset, char* result, unsigned int length) {
    FoundItem board = GetChosenBaseBoard();
    return CopyItemString(board.get(), offset, result, length);
}

int SmBios::GetBoardManufacturer(char* result, unsigned int length) {
    return CopyBoardString(kBoardManufacturer, result, length);
}

int SmBios::GetBoardProduct(char* result, unsigned int length) {
    return CopyBoardString(kBoardProduct, result, length);
}

int SmBios::GetBoardVersion(char* result, unsigned int length) {
    return CopyBoardString(kBoardVersion, result, length);
}

int SmBios::GetBoardSerialNo(char* result, unsigned int length) {
    return CopyBoardString(kBoardSerialNumber, result, length);
}

int SmBios::GetBoardAssetTag(char* result, unsigned int length) {
    return CopyBoardString(kBoardAssetTag, result, length);
}
