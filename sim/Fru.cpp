#include "sim/Fru.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t kFormatVersion = 1;
constexpr std::uint8_t kEndOfFields = 0xC1;
constexpr std::size_t kLongestField = 63;

// Makes the bytes sum to zero (FRU 8, 9: "zero checksum").
std::uint8_t Checksum(const std::vector<std::uint8_t>& bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(-sum & 0xFF);
}

// Version, a length byte filled in below, the area's fixed bytes, the fields, the end
// marker, padding to a multiple of 8 less the checksum byte, and the checksum.
std::vector<std::uint8_t> Area(const std::vector<std::uint8_t>& fixed, const std::vector<FruField>& fields) {
    // Byte by byte: GCC 12 at -O3 misreads an insert into the two-byte start as out of bounds.
    std::vector<std::uint8_t> area = {kFormatVersion, 0};
    for (std::uint8_t b : fixed) area.push_back(b);
    for (const FruField& f : fields) {
        area.push_back(f.type_length);
        for (std::uint8_t b : f.bytes) area.push_back(b);
    }
    area.push_back(kEndOfFields);
    while ((area.size() + 1) % 8 != 0) area.push_back(0);
    area[1] = static_cast<std::uint8_t>((area.size() + 1) / 8);
    area.push_back(Checksum(area));
    return area;
}

}  // namespace

FruField fru_field(std::uint8_t type_code, std::vector<std::uint8_t> encoded) {
    if (encoded.size() > kLongestField) encoded.resize(kLongestField);
    return {static_cast<std::uint8_t>((type_code & 0x03) << 6 | encoded.size()), std::move(encoded)};
}

FruField fru_text(const std::string& text) { return fru_field(3, std::vector<std::uint8_t>(text.begin(), text.end())); }

FruImage& FruImage::chassis(std::uint8_t type, std::vector<FruField> fields) {
    chassis_ = Area({type}, fields);
    return *this;
}

FruImage& FruImage::board(std::uint8_t language, std::uint32_t minutes, std::vector<FruField> fields) {
    board_ = Area({language, static_cast<std::uint8_t>(minutes & 0xFF), static_cast<std::uint8_t>((minutes >> 8) & 0xFF),
                   static_cast<std::uint8_t>((minutes >> 16) & 0xFF)},
                  fields);
    return *this;
}

FruImage& FruImage::product(std::uint8_t language, std::vector<FruField> fields) {
    product_ = Area({language}, fields);
    return *this;
}

std::vector<std::uint8_t> FruImage::bytes() const {
    std::vector<std::uint8_t> header = {kFormatVersion, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> out(8, 0);
    // Areas in the usual order; an absent one keeps offset 0.
    const std::pair<std::size_t, const std::vector<std::uint8_t>*> areas[] = {
        {2, &chassis_}, {3, &board_}, {4, &product_}};
    for (const auto& [slot, area] : areas) {
        if (area->empty()) continue;
        header[slot] = static_cast<std::uint8_t>(out.size() / 8);
        out.insert(out.end(), area->begin(), area->end());
    }
    header.push_back(Checksum(header));
    std::copy(header.begin(), header.end(), out.begin());
    return out;
}

}  // namespace sim
