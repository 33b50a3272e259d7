// Where the entry point and the structure table come from, tried in order: the kernel's copy
// in sysfs, then physical memory through /dev/mem (read, or mapped where read() refuses), the
// entry point found in the BIOS area or where the EFI system table says.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "SmBios/SmBios.h"
#include "platform/platform.h"

namespace {

const char* answered = nullptr;

// SMBIOS 5.2: the entry point lives on a 16-byte boundary in 0xF0000-0xFFFFF.
constexpr long long kScanBase = 0xF0000;
constexpr unsigned int kScanLength = 0xFFF0;
constexpr unsigned int kLastAnchor = 0xFFE0;
// The scan buffer is padded so that copying a full entry point from the last anchor
// position stays inside it.
constexpr unsigned int kScanPadding = sizeof(SmBiosTableEntryPoint);
constexpr unsigned int kPage = 4096;
// The 2.x entry point's bytes up to its table's structure count (offset 28, two bytes).
constexpr unsigned int kShortestSmBiosEntry = 30;
// A 3.x entry point gives only the table's maximum size, and the walk ends at the end-of-table
// structure, so firmware may declare far more than it holds. No more than this is read or
// allocated: sixteen times the largest 2.x table, and well past any table seen on a server.
constexpr unsigned int kLargestTable = 0x100000;

const char* const kSysfsEntryPoint = "/sys/firmware/dmi/tables/smbios_entry_point";
const char* const kSysfsTable = "/sys/firmware/dmi/tables/DMI";
const char* const kEfiSystemTable = "/sys/firmware/efi/systab";

// An SMBIOS 3 anchor is only taken with a valid checksum: it is preferred to the 2.x one, so
// five stray bytes in the BIOS image must not hide a good 2.x table.
bool IsSmBios3EntryPoint(const unsigned char* bytes, unsigned int length) {
    if (length < sizeof(SmBios3TableEntryPoint) || std::memcmp(bytes, "_SM3_", 5) != 0) return false;
    unsigned int declared = bytes[6];
    if (declared < sizeof(SmBios3TableEntryPoint) || declared > length) return false;
    unsigned char sum = 0;
    for (unsigned int i = 0; i < declared; ++i) sum = static_cast<unsigned char>(sum + bytes[i]);
    return sum == 0;
}

// Reads up to `count` bytes; the number read, or -1 when the first read fails.
long ReadFully(int fd, char* buffer, unsigned int count) {
    unsigned int done = 0;
    while (done < count) {
        long n = platform::read(fd, buffer + done, count - done);
        if (n < 0) return done ? static_cast<long>(done) : -1;
        if (n == 0) break;
        done += static_cast<unsigned int>(n);
    }
    return static_cast<long>(done);
}

// Copies `count` bytes of physical memory at `address` into `out`: read() where it works,
// else a mapping, as above the end of RAM where read() of /dev/mem fails with EFAULT.
const char* ReadPhysical(int fd, unsigned long long address, char* out, unsigned int count) {
    if (platform::lseek(fd, static_cast<long long>(address), SEEK_SET) >= 0 &&
        ReadFully(fd, out, count) == static_cast<long>(count))
        return "/dev/mem";
    unsigned long long base = address & ~static_cast<unsigned long long>(kPage - 1);
    unsigned long long span = address - base + count;
    if (count == 0 || span > static_cast<std::size_t>(-1)) return nullptr;
    void* mapped = platform::mmap(fd, static_cast<long long>(base), static_cast<std::size_t>(span));
    if (!mapped) return nullptr;
    std::memcpy(out, static_cast<const char*>(mapped) + (address - base), count);
    platform::munmap(mapped, static_cast<std::size_t>(span));
    return "/dev/mem mmap";
}

// UEFI firmware need not put an entry point in the BIOS area; the kernel names where it is
// in the EFI system table's file ("SMBIOS3=0x..." and "SMBIOS=0x..." lines). Both are
// returned, 3.x first, since firmware that publishes both may leave either one invalid.
unsigned int EfiEntryPointAddresses(unsigned long long (&addresses)[2]) {
    int fd = platform::open(kEfiSystemTable, O_RDONLY);
    if (fd < 0) return 0;
    char text[1024] = {};
    long n = ReadFully(fd, text, sizeof text - 1);
    platform::close(fd);
    if (n <= 0) return 0;
    unsigned int count = 0;
    for (const char* key : {"SMBIOS3=", "SMBIOS="}) {
        const std::size_t keyLength = std::strlen(key);
        for (const char* line = text; *line;) {
            if (std::strncmp(line, key, keyLength) == 0) {
                char* end = nullptr;
                const unsigned long long address = std::strtoull(line + keyLength, &end, 0);
                if (end != line + keyLength) {
                    addresses[count++] = address;
                    break;
                }
            }
            const char* next = std::strchr(line, '\n');
            if (!next) break;
            line = next + 1;
        }
    }
    return count;
}

}  // namespace

const char* SmBiosSourceName() { return answered; }

void SmBios::ForgetEntryPoint() {
    MatchSMBIOS = MatchDMI = MatchSMBIOS3 = 0;
    std::memset(&SmBiosEntry, 0, sizeof SmBiosEntry);
    std::memset(&DmiEntry, 0, sizeof DmiEntry);
    std::memset(&SmBios3Entry, 0, sizeof SmBios3Entry);
}

bool SmBios::AdoptEntryPoint(const unsigned char* bytes, unsigned int length, unsigned long long& address,
                             unsigned int& tableLength) {
    ForgetEntryPoint();
    if (IsSmBios3EntryPoint(bytes, length)) {
        MatchSMBIOS = MatchSMBIOS3 = 1;
        std::memcpy(&SmBios3Entry, bytes, sizeof SmBios3Entry);
        address = SmBios3Entry.StructureTableAddress;
        const unsigned int maximum = SmBios3Entry.StructureTableMaximumSize;
        tableLength = maximum < kLargestTable ? maximum : kLargestTable;
        return true;
    }
    // Neither checksums nor lengths of the older entry points are examined: tables that
    // get them wrong have always been read.
    // SMBIOS 2.1 itself gave the entry point a length of 30 (0x1E) where it is 31, so
    // firmware of that time writes 30, and the kernel's sysfs copy then holds only 30
    // bytes. Nothing past byte 29 is read; the BCD revision stays 0.
    if (length >= kShortestSmBiosEntry && std::memcmp(bytes, "_SM_", 4) == 0) {
        MatchSMBIOS = 1;
        std::memcpy(&SmBiosEntry, bytes, length < sizeof SmBiosEntry ? length : sizeof SmBiosEntry);
        address = SmBiosEntry.StructureTableAddress;
        tableLength = SmBiosEntry.StructureTableLength;
        return true;
    }
    if (length >= sizeof DmiEntry && std::memcmp(bytes, "_DMI", 4) == 0) {
        MatchDMI = 1;
        std::memcpy(&DmiEntry, bytes, sizeof DmiEntry);
        address = DmiEntry.biosStructureTableAddress;
        tableLength = DmiEntry.StructureTableLength;
        return true;
    }
    return false;
}

bool SmBios::ReadFromSysfs() {
    answered = nullptr;
    unsigned char entry[64] = {};
    int fd = platform::open(kSysfsEntryPoint, O_RDONLY);
    if (fd < 0) return false;
    long got = ReadFully(fd, reinterpret_cast<char*>(entry), sizeof entry);
    platform::close(fd);
    unsigned long long address = 0;
    unsigned int declared = 0;
    if (got <= 0 || !AdoptEntryPoint(entry, static_cast<unsigned int>(got), address, declared)) {
        ForgetEntryPoint();
        return false;
    }

    fd = platform::open(kSysfsTable, O_RDONLY);
    if (fd < 0) {
        ForgetEntryPoint();
        return false;
    }
    // The kernel trims the table to the structures it walked, so the file may be shorter
    // than the entry point says; the walk is bounded by the bytes held.
    long long size = platform::lseek(fd, 0, SEEK_END);
    unsigned int length = declared;
    if (size >= 0 && static_cast<unsigned long long>(size) < declared) length = static_cast<unsigned int>(size);
    bool read = platform::lseek(fd, 0, SEEK_SET) == 0 && AllocateTable(length);
    long n = read ? ReadFully(fd, BiosData, length) : -1;
    platform::close(fd);
    if (n >= 0 && (length == 0 || n > 0)) {
        std::memset(BiosData + n, 0, length - static_cast<unsigned int>(n));
        BiosDataLength = static_cast<unsigned int>(n);
        if (BuildIndex()) {
            answered = "sysfs";
            return true;
        }
    }
    ForgetTable();
    ForgetEntryPoint();
    return false;
}

bool SmBios::ReadFromMemory() {
    answered = nullptr;
    ForgetEntryPoint();
    std::unique_ptr<unsigned char[]> scan(new (std::nothrow) unsigned char[kScanLength + kScanPadding]());
    if (!scan) return false;

    int fd = platform::open("/dev/mem", O_RDONLY);
    if (fd < 0) {
        std::perror("open /dev/mem\n");
        return false;
    }
    if (platform::lseek(fd, kScanBase, SEEK_SET) < 0) {
        std::perror("lseek /dev/mem\n");
        platform::close(fd);
        return false;
    }
    // A short read leaves zeros, which hold no anchor.
    ReadFully(fd, reinterpret_cast<char*>(scan.get()), kScanLength);

    // The 3.x entry point first, as the kernel takes it, so that sysfs and memory give the
    // same table; then the 2.x one; the legacy one only when neither is there. One pass
    // notes the first of each; every anchor begins with an underscore.
    const unsigned char* first[3] = {};
    for (unsigned int at = 0; at <= kLastAnchor; at += 16) {
        const unsigned char* p = scan.get() + at;
        if (*p != '_') continue;
        if (!first[0] && IsSmBios3EntryPoint(p, kScanLength + kScanPadding - at)) first[0] = p;
        else if (!first[1] && std::memcmp(p, "_SM_", 4) == 0) first[1] = p;
        else if (!first[2] && std::memcmp(p, "_DMI", 4) == 0) first[2] = p;
    }
    const unsigned char* found = first[0] ? first[0] : first[1] ? first[1] : first[2];

    const unsigned int held = found ? kScanLength + kScanPadding - static_cast<unsigned int>(found - scan.get()) : 0;
    unsigned long long address = 0;
    unsigned int length = 0;
    bool adopted = found && AdoptEntryPoint(found, held, address, length);
    unsigned long long efiAddresses[2] = {};
    const unsigned int efiCount = found ? 0 : EfiEntryPointAddresses(efiAddresses);
    for (unsigned int i = 0; i < efiCount && !adopted; ++i) {
        unsigned char efiEntry[sizeof(SmBiosTableEntryPoint) + 1] = {};
        adopted = ReadPhysical(fd, efiAddresses[i], reinterpret_cast<char*>(efiEntry), sizeof efiEntry) &&
                  AdoptEntryPoint(efiEntry, sizeof efiEntry, address, length);
    }

    bool ok = adopted && AllocateTable(length);
    const char* method = ok ? ReadPhysical(fd, address, BiosData, length) : nullptr;
    // A table of no bytes needs no read.
    if (ok && length == 0) method = "/dev/mem";
    platform::close(fd);
    if (!method || !BuildIndex()) {
        // A table that cannot be read is no table: nothing is claimed for it.
        ForgetTable();
        ForgetEntryPoint();
        return false;
    }
    answered = method;
    return true;
}
