// The disk-health decoders: the ATA SMART data and threshold pages, IDENTIFY's SMART words,
// and the NVMe health log. The first byte chooses: even, a data page then a threshold page
// (as many bytes as remain, so short pages are tried too); odd, an NVMe log. Every input
// also goes to the identify decoder.
#include <algorithm>

#include "fuzz/fuzz.h"
#include "storage/smart.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const bool nvme = data[0] & 1;
    ++data, --size;
    smart::DecodeIdentify(data, size);
    DiskHealth disk{};
    if (nvme) {
        if (!smart::DecodeNvmeHealth(data, size, disk)) return;
        // A counter whose upper eight bytes hold anything is saturated, never wrapped.
        bool high = false;
        for (std::size_t i = 32 + 8; i < 48; ++i) high |= data[i] != 0;
        if (high && disk.nvme.dataUnitsRead != UINT64_MAX) __builtin_trap();
        return;
    }
    const std::size_t first = std::min<std::size_t>(size, smart::kAtaPage);
    if (!smart::DecodeSmartData(data, first, disk.ata)) return;
    smart::DecodeSmartThresholds(data + first, size - first, disk.ata);
    smart::NameAtaFields(disk);
    if (disk.ata.attributeCount > HEALTH_DISK_ATTRIBUTES) __builtin_trap();
    for (unsigned i = 0; i < disk.ata.attributeCount; ++i) {
        const DiskSmartAttribute& a = disk.ata.attribute[i];
        if (a.id == 0 || a.raw >> 48 || (a.state && a.threshold == 0)) __builtin_trap();
    }
}
