// smbios.bin: the table the SMBIOS reader found, in the dump format (SMBIOS 5.2.1 entry
// point at offset 0 with its table address rewritten to 0x20, the table from 0x20 on).
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "SmBios/SmBios.h"
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

// Today's source: the reader's scan of /dev/mem. A reader with other sources hands its entry
// point and table the same way.
void capture_smbios(Capture& c) {
    int fd = platform::open("/dev/mem", O_RDONLY);
    if (fd < 0) {
        c.manifest.missing("smbios.bin", std::string("/dev/mem: ") + std::strerror(errno));
        return;
    }
    platform::close(fd);
    SmBios reader;
    if (!reader.IsInitOK() || !reader.BiosData) {
        c.manifest.missing("smbios.bin", "no SMBIOS or DMI entry point in 0xF0000-0xFFFFF of /dev/mem");
        return;
    }
    std::vector<std::uint8_t> dump;
    if (reader.IsMatchSmBios()) {
        dump = Bytes(reader.SmBiosEntry);
        std::memcpy(&dump[0x18], &kTableOffset, 4);  // little-endian on x86
        dump[0x15] = 0;
        dump[0x15] = Checksum(dump, 0x10, 0x0F);
        std::size_t length = std::min<std::size_t>(reader.SmBiosEntry.length, dump.size());
        dump[4] = 0;
        dump[4] = Checksum(dump, 0, length);
    } else {
        dump = Bytes(reader.DmiEntry);
        std::memcpy(&dump[8], &kTableOffset, 4);
        dump[5] = 0;
        dump[5] = Checksum(dump, 0, dump.size());
    }
    dump.resize(kTableOffset, 0);
    dump.insert(dump.end(), reader.BiosData, reader.BiosData + reader.BiosDataLength);
    c.write("smbios.bin", dump);
    c.manifest.source("smbios", "/dev/mem");
}

}  // namespace capture
