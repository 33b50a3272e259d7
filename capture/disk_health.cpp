// The disks' health answers: what one poll (storage/disk_health.h) got from each disk,
// command by command, so that the replay serves the same health. The poll is the library's
// own, without the full-read flag: a disk in standby is asked CHECK POWER MODE and nothing
// else, and only the read commands are sent.
#include <cstdio>
#include <cstring>

#include "capture/capture.h"
#include "process/state.h"
#include "storage/disk_health.h"

namespace capture {

void capture_disk_health(Capture& c) {
    DiskHealthInformation record{};
    auto keep = [&c](const std::string& disk, const char* what, const std::uint8_t* bytes, std::size_t size) {
        const std::string name = "dev/" + disk + "." + what;
        if (size > 2) {
            c.write(name, std::string(reinterpret_cast<const char*>(bytes), size));
            return;
        }
        // Registers (the power mode, the SMART status signature) as text: "4f c2".
        std::string text;
        char hex[4];
        for (std::size_t i = 0; i < size; ++i) {
            std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", bytes[i]);
            text += hex;
        }
        c.write(name, text + "\n");
    };
    if (ReadDiskHealth(record, keep) == 0) {
        c.manifest.source("disk health", qarvel::State().sources[SOURCE_DISK_HEALTH].answered);
        for (unsigned i = 0; i < record.quantity && i < HEALTH_DISK_MOST; ++i)
            if (record.disk[i].Status == DISK_HEALTH_FAILED)
                c.manifest.missing(std::string(record.disk[i].DeviceName + 1) + " health",
                                   std::string("a health command failed: ") + std::strerror(record.disk[i].Errno));
    }
}

}  // namespace capture
