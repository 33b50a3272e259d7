// Where the entry point and the structure table come from, tried in order: the kernel's copy
// in sysfs, then physical memory through /dev/mem (read, or mapped where read() refuses), the
// entry point found in the BIOS area or where the EFI system table says. Each row gives an
// image or says why it could not.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "SmBios/SmBios.h"
#include "platform/platform.h"
#include "process/state.h"

namespace {

constexpr unsigned int kPage = 4096;

const char* const kSysfsEntryPoint = "/sys/firmware/dmi/tables/smbios_entry_point";
const char* const kSysfsTable = "/sys/firmware/dmi/tables/DMI";
const char* const kEfiSystemTable = "/sys/firmware/efi/systab";

// Reads up to `count` bytes; the number read, or -1 when the first read fails.
long ReadFully(int fd, char* buffer, unsigned int count) {
    int error = 0;
    const std::size_t done = platform::read_all(fd, buffer, count, error);
    return error && done == 0 ? -1 : static_cast<long>(done);
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

// The kernel's copy: it works under lockdown, above the end of RAM and for tables the BIOS
// area does not point at.
bool ReadSysfs(SmBiosImage& image, const char*&, char* why, std::size_t size) {
    unsigned char entry[64] = {};
    int fd = platform::open(kSysfsEntryPoint, O_RDONLY);
    if (fd < 0) return qarvel::Refuse(why, size, "cannot open", kSysfsEntryPoint, errno);
    long got = ReadFully(fd, reinterpret_cast<char*>(entry), sizeof entry);
    const int readError = errno;
    platform::close(fd);
    if (got < 0) return qarvel::Refuse(why, size, "cannot read", kSysfsEntryPoint, readError);
    SmBiosEntryPoint parsed;
    if (got == 0 || !ParseSmBiosEntryPoint(entry, static_cast<unsigned int>(got), parsed))
        return qarvel::Refuse(why, size, "no entry point in", kSysfsEntryPoint);

    fd = platform::open(kSysfsTable, O_RDONLY);
    if (fd < 0) return qarvel::Refuse(why, size, "cannot open", kSysfsTable, errno);
    // The kernel trims the table to the structures it walked, so the file may be shorter
    // than the entry point says; the walk is bounded by the bytes held.
    const unsigned int declared = parsed.tableLength;
    long long end = platform::lseek(fd, 0, SEEK_END);
    unsigned int length = declared;
    if (end >= 0 && static_cast<unsigned long long>(end) < declared) length = static_cast<unsigned int>(end);
    bool read = platform::lseek(fd, 0, SEEK_SET) == 0 && image.AllocateTable(length);
    long n = read ? ReadFully(fd, image.table.get(), length) : -1;
    const int tableError = errno;
    platform::close(fd);
    if (n < 0 || (length != 0 && n == 0))
        return qarvel::Refuse(why, size, read ? "cannot read" : "cannot seek or hold", kSysfsTable,
                              n < 0 && read ? tableError : 0);
    // A short read clears the rest, and only what was read is the table.
    std::memset(image.table.get() + n, 0, length - static_cast<unsigned int>(n));
    image.tableLength = static_cast<unsigned int>(n);
    image.HoldEntryPoint(entry, static_cast<unsigned int>(got));
    return true;
}

// Physical memory: the classic scan keeps old kernels working. The entry point is looked for
// in the BIOS area, else where the EFI system table says.
bool ReadMemory(SmBiosImage& image, const char*& answeredAs, char* why, std::size_t size) {
    std::unique_ptr<unsigned char[]> area(new (std::nothrow) unsigned char[kBiosAreaHeld]());
    if (!area) return qarvel::Refuse(why, size, "cannot hold", "the BIOS area");

    int fd = platform::open("/dev/mem", O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        std::perror("open /dev/mem\n");
        return qarvel::Refuse(why, size, "cannot open", "/dev/mem", error);
    }
    if (platform::lseek(fd, kBiosAreaBase, SEEK_SET) < 0) {
        const int error = errno;
        std::perror("lseek /dev/mem\n");
        platform::close(fd);
        return qarvel::Refuse(why, size, "cannot seek", "/dev/mem to 0xF0000", error);
    }
    // A short read leaves zeros, which hold no anchor.
    ReadFully(fd, reinterpret_cast<char*>(area.get()), kBiosAreaRead);

    bool found = FindBiosAreaEntryPoint(area.get(), image);
    unsigned long long efiAddresses[2] = {};
    const unsigned int efiCount = found ? 0 : EfiEntryPointAddresses(efiAddresses);
    for (unsigned int i = 0; i < efiCount && !found; ++i) {
        unsigned char efiEntry[sizeof(SmBiosTableEntryPoint) + 1] = {};
        SmBiosEntryPoint parsed;
        found = ReadPhysical(fd, efiAddresses[i], reinterpret_cast<char*>(efiEntry), sizeof efiEntry) &&
                ParseSmBiosEntryPoint(efiEntry, sizeof efiEntry, parsed);
        if (found) image.HoldEntryPoint(efiEntry, sizeof efiEntry);
    }
    if (!found) {
        platform::close(fd);
        return qarvel::Refuse(why, size, "no entry point in",
                              efiCount ? "0xF0000-0xFFFFF or at the EFI system table's addresses" : "0xF0000-0xFFFFF");
    }

    SmBiosEntryPoint parsed;
    ParseSmBiosEntryPoint(image.entryPoint, image.entryPointLength, parsed);
    const unsigned int length = parsed.tableLength;
    bool held = image.AllocateTable(length);
    const char* method = held ? ReadPhysical(fd, parsed.tableAddress, image.table.get(), length) : nullptr;
    // A table of no bytes needs no read.
    if (held && length == 0) method = "/dev/mem";
    platform::close(fd);
    if (!method) {
        // A table that cannot be read is no table: nothing is claimed for it.
        if (!held) return qarvel::Refuse(why, size, "cannot hold", "the table");
        std::snprintf(why, size, "cannot read or map %u bytes of /dev/mem at 0x%llx", length,
                      parsed.tableAddress);
        return false;
    }
    answeredAs = method;
    return true;
}

// The kernel's copy first; then physical memory.
const qarvel::Source<SmBiosImage> kSmBiosSources[] = {
    {"sysfs", nullptr, ReadSysfs},
    {"/dev/mem", nullptr, ReadMemory},
};

}  // namespace

const char* SmBiosSourceName() { return qarvel::State().sources[SOURCE_SMBIOS].answered; }

bool ProbeSmBios(SmBiosImage& image) {
    qarvel::ProbeRecord& record = qarvel::State().sources[SOURCE_SMBIOS];
    if (!qarvel::Probe(kSmBiosSources, image, record)) {
        image = SmBiosImage();
        return false;
    }
    image.method = record.answered;
    return true;
}
