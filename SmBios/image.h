// The bytes an SMBIOS reader is built from: the entry point and the structure table, as one
// of the sources found them (sources.cpp) or as a dump holds them. Whatever reads the machine
// produces an image; the reader itself only takes one, so a table held in memory decodes
// exactly as one read from the machine.
#ifndef QARVEL_SMBIOS_IMAGE_H
#define QARVEL_SMBIOS_IMAGE_H

#include <cstddef>
#include <memory>

// SMBIOS 2.x entry point, byte image (SMBIOS 5.2.1).
struct __attribute__((packed)) SmBiosTableEntryPoint {
    char anchor[4];  // "_SM_"
    unsigned char checksum;
    unsigned char length;
    unsigned char MajorVersion;
    unsigned char MinorVersion;
    unsigned short MaxStructureSize;
    unsigned char revission;
    unsigned char NoneSense[5];
    char IntermediateAnchorString[5];  // "_DMI_"
    unsigned char IntermediateCheckSum;
    unsigned short StructureTableLength;
    unsigned int StructureTableAddress;
    unsigned short HowManyStructures;
    unsigned char BCD;
};
static_assert(sizeof(SmBiosTableEntryPoint) == 31, "SMBIOS entry point is 31 bytes");

// Legacy DMI entry point, byte image.
struct __attribute__((packed)) DMITableEntryPoint {
    char anchor[5];  // "_DMI_"
    unsigned char checksum;
    unsigned short StructureTableLength;
    unsigned int biosStructureTableAddress;
    unsigned short HowManyStructures;
    unsigned char dmiBiosRevision;
};
static_assert(sizeof(DMITableEntryPoint) == 15, "DMI entry point is 15 bytes");

// SMBIOS 3.x (64-bit) entry point, byte image (SMBIOS 5.2.2). It gives no structure count:
// the table ends at the end-of-table structure (type 127).
struct __attribute__((packed)) SmBios3TableEntryPoint {
    char anchor[5];  // "_SM3_"
    unsigned char checksum;
    unsigned char length;
    unsigned char MajorVersion;
    unsigned char MinorVersion;
    unsigned char DocRevision;
    unsigned char EntryPointRevision;
    unsigned char reserved;
    unsigned int StructureTableMaximumSize;
    unsigned long long StructureTableAddress;
};
static_assert(sizeof(SmBios3TableEntryPoint) == 24, "SMBIOS 3 entry point is 24 bytes");

// What an entry point says, by the rules the reader has always applied: the kind (a 3.x
// entry point counts as SMBIOS too), its byte image, and where its table is and how long.
struct SmBiosEntryPoint {
    unsigned char MatchSMBIOS = 0;
    unsigned char MatchDMI = 0;
    unsigned char MatchSMBIOS3 = 0;
    SmBiosTableEntryPoint SmBiosEntry = {};
    DMITableEntryPoint DmiEntry = {};
    SmBios3TableEntryPoint SmBios3Entry = {};
    unsigned long long tableAddress = 0;
    unsigned int tableLength = 0;  // for SMBIOS 3 the maximum size, bounded
};

// Reads the entry point at `bytes` (`length` bytes held). False, with `out` all zeros, when
// it is no entry point we know.
bool ParseSmBiosEntryPoint(const unsigned char* bytes, unsigned int length, SmBiosEntryPoint& out);

// The entry point and the table, and the source that gave them.
struct SmBiosImage {
    // A 3.x entry point's length is one byte, and its checksum covers that many bytes.
    static constexpr unsigned int kEntryPointMost = 255;

    unsigned char entryPoint[kEntryPointMost] = {};
    unsigned int entryPointLength = 0;  // bytes held from the anchor on
    std::unique_ptr<char[]> table;      // tableLength bytes
    unsigned int tableLength = 0;
    const char* method = nullptr;       // "sysfs", "/dev/mem", "/dev/mem mmap"; null for bytes from elsewhere

    // Keeps up to kEntryPointMost bytes from `bytes`.
    void HoldEntryPoint(const unsigned char* bytes, unsigned int length);
    // A table of `length` bytes, not cleared: whoever fills it writes every byte it keeps.
    bool AllocateTable(unsigned int length);
    // Takes the table the held entry point names from a memory that holds `size` bytes of
    // `memory` at address `base` and zeros everywhere else. False when there is no entry
    // point or no room for the table.
    bool TakeTable(const unsigned char* memory, std::size_t size, unsigned long long base);
};

// A `dmidecode --dump-bin` file: the entry point at offset 0 and the table at the offset its
// address field gives; a file cut short reads as zeros past its end. False when the bytes
// are no such dump.
bool SmBiosImageFromDump(const unsigned char* bytes, std::size_t size, SmBiosImage& image);

// The BIOS area as the memory scan holds it: this many bytes read from 0xF0000, followed by
// zeros so that an entry point copied from the last anchor position stays inside the buffer.
constexpr long long kBiosAreaBase = 0xF0000;
constexpr unsigned int kBiosAreaRead = 0xFFF0;
constexpr unsigned int kBiosAreaHeld = kBiosAreaRead + sizeof(SmBiosTableEntryPoint);

// Looks for an entry point on the 16-byte grid of a BIOS area (kBiosAreaHeld bytes) and
// keeps the one found in `image`. False when there is none.
bool FindBiosAreaEntryPoint(const unsigned char* area, SmBiosImage& image);

// Tries the SMBIOS sources in order; the process state's probe record for SOURCE_SMBIOS
// says which answered and why the others did not. False, with `image` empty, when none did.
bool ProbeSmBios(SmBiosImage& image);

#endif
