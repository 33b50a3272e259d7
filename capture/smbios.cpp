// smbios.bin: the table the SMBIOS reader found, in the dump format (the SMBIOS 5.2.1, DMI or
// SMBIOS 3 entry point at offset 0 with its table address rewritten to 0x20 and its checksum
// fixed, the table from 0x20 on).
#include <fcntl.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "SmBios/image.h"
#include "capture/capture.h"
#include "platform/platform.h"

namespace capture {

namespace {

constexpr std::uint32_t kTableOffset = 0x20;

std::uint8_t Checksum(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = from; i < from + count && i < bytes.size(); ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(-sum & 0xFF);
}

template <typename Entry>
std::vector<std::uint8_t> Bytes(const Entry& entry) {
    std::vector<std::uint8_t> bytes(sizeof entry);
    std::memcpy(bytes.data(), &entry, sizeof entry);
    return bytes;
}

}  // namespace

// Through the reader's own sources (sysfs, then /dev/mem read, then mapped), so the dump is
// the table the library itself sees, and the MANIFEST names the source that gave it.
void capture_smbios(Capture& c) {
    SmBiosImage image;
    SmBiosEntryPoint entry;
    if (!ProbeSmBios(image) || !ParseSmBiosEntryPoint(image.entryPoint, image.entryPointLength, entry)) {
        int fd = platform::open("/dev/mem", O_RDONLY);
        const int why = errno;
        if (fd >= 0) platform::close(fd);
        c.manifest.missing("smbios.bin", fd < 0 ? std::string("/dev/mem: ") + std::strerror(why)
                                                : "no SMBIOS or DMI entry point in sysfs or 0xF0000-0xFFFFF of /dev/mem");
        return;
    }
    std::vector<std::uint8_t> dump;
    if (entry.MatchSMBIOS3) {
        // SMBIOS 5.2.2: 64-bit address at 0x10, checksum over the entry point's length.
        dump = Bytes(entry.SmBios3Entry);
        const std::uint64_t offset = kTableOffset;
        std::memcpy(&dump[0x10], &offset, 8);
        std::size_t length = std::min<std::size_t>(entry.SmBios3Entry.length, dump.size());
        dump[5] = 0;
        dump[5] = Checksum(dump, 0, length);
    } else if (entry.MatchSMBIOS) {
        dump = Bytes(entry.SmBiosEntry);
        std::memcpy(&dump[0x18], &kTableOffset, 4);  // little-endian on x86
        dump[0x15] = 0;
        dump[0x15] = Checksum(dump, 0x10, 0x0F);
        std::size_t length = std::min<std::size_t>(entry.SmBiosEntry.length, dump.size());
        dump[4] = 0;
        dump[4] = Checksum(dump, 0, length);
    } else {
        dump = Bytes(entry.DmiEntry);
        std::memcpy(&dump[8], &kTableOffset, 4);
        dump[5] = 0;
        dump[5] = Checksum(dump, 0, dump.size());
    }
    dump.resize(kTableOffset, 0);
    dump.insert(dump.end(), image.table.get(), image.table.get() + image.tableLength);
    c.write("smbios.bin", dump);
    c.manifest.source("smbios", image.method);
}

}  // namespace capture
