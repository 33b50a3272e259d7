// One SMBIOS structure of the table: its formatted area and its string set. The item is a
// view of the reader's table, never a copy, so it is cheap to make and to pass by value.
#ifndef QARVEL_SMBIOS_BIOSDATAITEM_H
#define QARVEL_SMBIOS_BIOSDATAITEM_H

// SMBIOS 6.1.2: the first four bytes of every structure.
struct __attribute__((packed)) HEADER {
    unsigned char type;
    unsigned char length;  // of the formatted area, header included
    unsigned short handle;
};
static_assert(sizeof(HEADER) == 4, "SMBIOS structure header is 4 bytes");

class BiosDataItem {
public:
    // No structure.
    BiosDataItem();
    // `StartAddress` must point at a structure that lies whole inside the table, string set
    // and closing double NUL included; the reader's index checks that before it builds one.
    explicit BiosDataItem(char* StartAddress);
    // The same with the structure's size (through its double NUL) already known.
    BiosDataItem(char* StartAddress, unsigned int size);

    // String number `index` (1..20), "" just past the last string, null otherwise.
    char* GetString(int index) const;

    unsigned char GetType() const { return header.type; }
    unsigned short GetHandle() const { return header.handle; }
    unsigned char GetFormatedDataLength() const { return header.length; }
    char* GetFormatedData() const { return FormatedData; }
    char* GetEndAddress() const { return EndAddress; }

    // Fields of the formatted area by offset from the structure start. A field that lies
    // beyond the formatted length (a short structure of an older SMBIOS version) is absent:
    // false, and `value` is left alone.
    bool GetByte(int offset, unsigned char& value) const;
    bool GetWord(int offset, unsigned short& value) const;
    bool GetDword(int offset, unsigned int& value) const;
    // The same, with `absent` standing for a field the structure lacks.
    unsigned char ByteOr(int offset, unsigned char absent) const {
        unsigned char value;
        return GetByte(offset, value) ? value : absent;
    }
    unsigned short WordOr(int offset, unsigned short absent) const {
        unsigned short value;
        return GetWord(offset, value) ? value : absent;
    }
    unsigned int DwordOr(int offset, unsigned int absent) const {
        unsigned int value;
        return GetDword(offset, value) ? value : absent;
    }
    // The string whose number is stored at `offset`; null when the field is absent or the
    // string is missing.
    char* GetFieldString(int offset) const;

private:
    HEADER header;
    char* FormatedData;  // the structure's first byte inside the table
    char* StringBuffer;  // the string set through its closing double NUL
    char* EndAddress;    // the last byte of this structure inside the table
    unsigned int StringBufferLength;
};

#endif
