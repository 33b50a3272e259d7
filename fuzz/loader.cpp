// The loader of capture directories: the bytes are a list of files, each a byte choosing
// its name, two bytes of length (little-endian) and its content, written to a directory
// that load_machine then reads. Every capture file but ipmi/forward (which would connect).
#include <filesystem>

#include "fuzz/fuzz.h"
#include "sim/Machine.h"
#include "sim/loader.h"

namespace {

namespace fs = std::filesystem;

const char* const kNames[] = {
    "smbios.bin", "ipmi/sdr.bin", "ipmi/fru0.bin", "ipmi/bmc.conf", "kernel",       "free.txt",
    "proc/stat",  "proc/stat@1",  "pci/00:00.0",   "pci/00:1f.3",   "dev/hda.img",  "dev/hda.serial",
    "proc/ide/ide0/hda/media", "proc/ide/ide0/hda/model", "proc/ide/ide0/hda/capacity",
};

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    const fs::path dir = fuzz::ScratchDirectory("loader");
    for (std::size_t at = 0; at + 3 <= size;) {
        const char* name = kNames[data[at] % (sizeof kNames / sizeof kNames[0])];
        std::size_t length = data[at + 1] | static_cast<std::size_t>(data[at + 2]) << 8;
        at += 3;
        if (length > size - at) length = size - at;
        sim::write_file((dir / name).string(), fuzz::Text(data + at, length));
        at += length;
    }
    std::string error;
    sim::load_machine(dir.string(), error);
}

