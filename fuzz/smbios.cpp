// The SMBIOS table with its entry point: the bytes as `dmidecode --dump-bin` writes them
// (entry point, then the table at the offset its address field gives), or, when they are no
// such dump, the BIOS area at 0xF0000 where an anchor is looked for and whose bytes are all
// the physical memory there is. Either way an image is made with no machine behind it, and
// every SMBIOS step of GetInfo decodes it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "fuzz/fuzz.h"

namespace {

// A mutated 3.x entry point is given a right checksum, so that the table behind it is
// decoded rather than the entry point refused on its sum (the older ones have none checked).
bool FromDump(const std::uint8_t* data, std::size_t size, SmBiosImage& image) {
    if (size < 7 || std::memcmp(data, "_SM3_", 5) != 0) return SmBiosImageFromDump(data, size, image);
    std::vector<unsigned char> dump(data, data + size);
    const std::size_t declared = std::min<std::size_t>(dump[6], size);
    dump[5] = 0;
    unsigned char sum = 0;
    for (std::size_t i = 0; i < declared; ++i) sum = static_cast<unsigned char>(sum + dump[i]);
    dump[5] = static_cast<unsigned char>(-sum);
    return SmBiosImageFromDump(dump.data(), dump.size(), image);
}

// Anything else: the BIOS area, scanned as the memory source scans it.
bool FromBiosArea(const std::uint8_t* data, std::size_t size, SmBiosImage& image) {
    std::vector<unsigned char> area(kBiosAreaHeld, 0);
    std::memcpy(area.data(), data, std::min<std::size_t>(size, kBiosAreaRead));
    return FindBiosAreaEntryPoint(area.data(), image) &&
           image.TakeTable(data, std::min<std::size_t>(size, 0x10000), kBiosAreaBase);
}

template <typename Record>
void Fill(void (*fill)(SmBios&, Record&), SmBios& reader) {
    auto record = std::make_unique<Record>();
    std::memset(record.get(), 0, sizeof(Record));
    fill(reader, *record);
}

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    SmBiosImage image;
    if (!FromDump(data, size, image) && !FromBiosArea(data, size, image)) return;
    SmBios reader(image);
    // GetInfo fills nothing when there is no usable table.
    if (!reader.IsInitOK()) return;
    Fill(FillBaseBoardInformation, reader);
    Fill(FillSysInformation, reader);
    Fill(FillProcessorInformation, reader);
    Fill(FillMemoryInformation, reader);
    Fill(FillIOInformation, reader);
    Fill(FillPowerSupplyInformation, reader);
    Fill(FillUpsInformation, reader);
    Fill(FillFanInformation, reader);
    Fill(FillVoltageInformation, reader);
    Fill(FillTemperatureInformation, reader);
}
