#include "storage/storage.h"

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

const char* const IdePositionText[kIdePositions] = {"Primary Master", "Primary Slave", "Secondry Master",
                                                    "Secondry Slave"};

namespace {

// Linux <linux/hdreg.h>: the 512-byte struct hd_driveid of the drive.
constexpr unsigned long HDIO_GET_IDENTITY = 0x030D;
constexpr std::size_t kIdentifySize = 512;
// ATA identify words 10-19: the serial number, ASCII, space filled, no terminator.
constexpr std::size_t kSerialOffset = 20;
constexpr std::size_t kSerialLength = 20;

// Reads a small /proc file as text into `field` (NUL-terminated, at most N - 1 bytes);
// a file that cannot be opened or read gives the empty text.
template <std::size_t N>
void ReadText(const char* directory, const char* name, char (&field)[N]) {
    char path[64];
    std::snprintf(path, sizeof path, "%s%s", directory, name);
    std::memset(field, 0, N);
    int fd = platform::open(path, O_RDONLY);
    if (fd < 0) return;
    std::size_t used = 0;
    while (used < N - 1) {
        long n = platform::read(fd, field + used, N - 1 - used);
        if (n < 0) {
            used = 0;
            break;
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    field[used] = '\0';
    platform::close(fd);
}

// The drive's serial number from its identify data; empty when the request fails.
void ReadSerial(const char* device, char (&serial)[64]) {
    std::memset(serial, 0, sizeof serial);
    int fd = platform::open(device, O_RDONLY);
    if (fd < 0) return;
    unsigned char identify[kIdentifySize] = {};
    if (platform::ioctl(fd, HDIO_GET_IDENTITY, identify) == 0)
        std::memcpy(serial, identify + kSerialOffset, kSerialLength);
    platform::close(fd);
}

}  // namespace

void stripret(char* str) {
    std::size_t n = std::strlen(str);
    if (n > 0 && str[n - 1] == '\n') str[n - 1] = '\0';
}

void lltostr(char* str, unsigned long long dig) {
    char digits[20];
    int count = 0;
    for (; dig != 0; dig /= 10) digits[count++] = static_cast<char>('0' + dig % 10);
    for (int i = 0; i < count; ++i) str[i] = digits[count - 1 - i];
    str[count] = '\0';
}

void GetStorageInfo(StorageInformation* SI) {
    int count = 0;
    if (!platform::directory_exists("/proc/ide")) {
        std::printf("No ide devices.");
        SI->quantityIDE = 0;
        return;
    }
    for (int position = 0; position < kIdePositions; ++position) {
        char channel[32], drive[48], device[16];
        std::snprintf(channel, sizeof channel, "/proc/ide/ide%d/", position / 2);
        std::snprintf(drive, sizeof drive, "%shd%c/", channel, 'a' + position);
        std::snprintf(device, sizeof device, "/dev/hd%c", 'a' + position);
        if (!platform::directory_exists(channel) || !platform::directory_exists(drive)) continue;

        // CD-ROMs, tapes and the like are not listed; their entry is left as it was.
        char media[64];
        ReadText(drive, "media", media);
        stripret(media);
        if (std::strcmp(media, "disk") != 0) continue;

        DriveInfo& entry = SI->driveArray[count];
        std::memset(entry.type, 0, sizeof entry.type);
        std::snprintf(entry.type, sizeof entry.type, "hdd");
        ReadText(drive, "model", entry.model);
        stripret(entry.model);
        // The capacity is in 512-byte sectors; the record gives bytes.
        ReadText(drive, "capacity", entry.size);
        stripret(entry.size);
        long long sectors = std::strtoll(entry.size, nullptr, 0);
        lltostr(entry.size, static_cast<unsigned long long>(sectors) * 512ULL);
        std::memset(entry.ControllerType, 0, sizeof entry.ControllerType);
        std::snprintf(entry.ControllerType, sizeof entry.ControllerType, "ide");
        std::memset(entry.ControllerNo, 0, sizeof entry.ControllerNo);
        std::snprintf(entry.ControllerNo, sizeof entry.ControllerNo, "%s", IdePositionText[position]);
        ReadSerial(device, entry.SerialNo);
        ++count;
    }
    SI->quantityIDE = count;
}
