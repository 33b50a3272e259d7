// The /proc/stat parser: the bytes up to the first NUL are the file now, the bytes after it
// the file one second later; GetCpuUsageRate counts the processors and measures over that
// second.
#include "api/Qarvel.h"
#include "fuzz/fuzz.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    auto machine = fuzz::FreshMachine();
    const std::string all = fuzz::Text(data, size);
    const std::size_t cut = all.find('\0');
    machine->files.add_snapshot("/proc/stat", 0, all.substr(0, cut));
    if (cut != std::string::npos) machine->files.add_snapshot("/proc/stat", 1000000, all.substr(cut + 1));
    CpuUsageRageInformation record = {};
    GetCpuUsageRate(1, &record);
}

