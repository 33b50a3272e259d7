#include "storage/storage.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/field.h"
#include "platform/platform.h"
#include "process/state.h"
#include "storage/identify.h"
#include "storage/sysblock.h"

const char* const IdePositionText[kIdePositions] = {"Primary Master", "Primary Slave", "Secondry Master",
                                                    "Secondry Slave"};

namespace {


// Reads a small /proc file as text into `field` (NUL-terminated, at most N - 1 bytes);
// a file that cannot be opened or read gives the empty text.
template <std::size_t N>
void ReadText(const char* directory, const char* name, char (&field)[N]) {
    char path[64];
    std::snprintf(path, sizeof path, "%s%s", directory, name);
    std::memset(field, 0, N);
    int fd = platform::open(path, O_RDONLY);
    if (fd < 0) return;
    int error = 0;
    std::size_t used = platform::read_all(fd, field, N - 1, error);
    if (error) used = 0;
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
        std::memcpy(serial, identify + kSerialField.offset, kSerialField.length);
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

namespace {

template <std::size_t N>
void SetText(char (&field)[N], const std::string& text) {
    CopyField(field, N, text.c_str(), N, FieldEnd::Cleared);
}

void FillFromSysBlock(StorageInformation* SI, DriveInfo* entries, const std::vector<BlockDisk>& disks) {
    int ide = 0, others = 0;
    for (const BlockDisk& disk : disks) {
        DriveInfo& entry = entries[ide + others];
        (disk.ide ? ide : others)++;
        SetText(entry.type, "hdd");
        lltostr(entry.size, disk.sectors * 512ULL);
        SetText(entry.model, disk.model);
        SetText(entry.ControllerType, disk.ControllerType);
        SetText(entry.ControllerNo, disk.ControllerNo);
        SetText(entry.SerialNo, disk.serial);
        SetText(entry.FirmwareVersion, disk.firmware);
    }
    SI->quantityIDE = ide;
    SI->quantitySCSI = others;
}

// The classic walk of the four IDE positions under /proc/ide.
void FillFromProcIde(StorageInformation* SI) {
    int count = 0;
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

}  // namespace

namespace {

// What the disk sources fill: the record, and for the partition walk the /sys/block disks in
// record order.
struct Disks {
    StorageInformation* SI;
    std::vector<BlockDisk>& found;
    // A paged walk's reading: every disk, where the record holds 24. SI then keeps the counts.
    std::vector<DriveInfo>* every;
};

bool DetectProcIde(char* why, std::size_t size) {
    return platform::directory_exists("/proc/ide") || qarvel::Refuse(why, size, "no", "/proc/ide", errno);
}

bool ReadProcIde(Disks& out, const char*&, char*, std::size_t) {
    FillFromProcIde(out.SI);
    if (out.every) out.every->assign(out.SI->driveArray, out.SI->driveArray + out.SI->quantityIDE);
    return true;
}

bool ReadSysBlock(Disks& out, const char*&, char* why, std::size_t size) {
    if (!ListBlockDisks(out.found)) return qarvel::Refuse(why, size, "cannot list", "/sys/block", errno);
    constexpr std::size_t kEntries = sizeof out.SI->driveArray / sizeof out.SI->driveArray[0];
    if (!out.every && out.found.size() > kEntries) out.found.resize(kEntries);
    if (!out.found.empty()) {
        if (out.every) out.every->assign(out.found.size(), DriveInfo{});
        FillFromSysBlock(out.SI, out.every ? out.every->data() : out.SI->driveArray, out.found);
        return true;
    }
    // The message goes to the agent's own output: a line of its own.
    std::printf("No ide devices.\n");
    out.SI->quantityIDE = out.SI->quantitySCSI = 0;
    return true;
}

// The classic tree first, where the kernel still has it (before 5.14): a classic machine keeps
// its records as they always were. /sys/block serves every current kernel.
const qarvel::Source<Disks> kDiskSources[] = {
    {"/proc/ide", DetectProcIde, ReadProcIde},
    {"/sys/block", nullptr, ReadSysBlock},
};

}  // namespace

const char* DiskSourceName() { return qarvel::State().sources[SOURCE_DISK].answered; }

void GetStorageInfo(StorageInformation* SI) {
    std::vector<BlockDisk> disks;
    GetStorageInfo(SI, disks);
}

void GetStorageInfo(StorageInformation* SI, std::vector<BlockDisk>& disks, std::vector<DriveInfo>* every) {
    disks.clear();
    if (every) every->clear();
    Disks out{SI, disks, every};
    if (qarvel::Probe(kDiskSources, out, qarvel::State().sources[SOURCE_DISK])) return;
    std::printf("No ide devices.\n");
    SI->quantityIDE = 0;
}
