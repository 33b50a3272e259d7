// Building FRU inventory images (IPMI Platform Management FRU Information Storage
// Definition 1.0) as `ipmitool fru read 0 FILE` saves them: the common header, then the
// chassis, board and product areas, each padded to a multiple of 8 bytes and closed by its
// checksum.
#ifndef QARVEL_SIM_FRU_H
#define QARVEL_SIM_FRU_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One field: its type/length byte and the encoded bytes after it.
struct FruField {
    std::uint8_t type_length;
    std::vector<std::uint8_t> bytes;
};

// 8-bit ASCII + Latin-1 (type 3), at most 63 characters.
FruField fru_text(const std::string& text);
// Any type code (0 binary, 1 BCD plus, 2 6-bit ASCII, 3 8-bit) with its bytes as given;
// the length is the number of bytes (at most 63).
FruField fru_field(std::uint8_t type_code, std::vector<std::uint8_t> encoded);

class FruImage {
public:
    // Chassis area (FRU 10): chassis type (SMBIOS 7.4.1 codes), part number, serial number.
    FruImage& chassis(std::uint8_t type, std::vector<FruField> fields);
    // Board area (FRU 11): language, manufacturing time in minutes since 1996-01-01, then
    // manufacturer, product name, serial number, part number.
    FruImage& board(std::uint8_t language, std::uint32_t minutes, std::vector<FruField> fields);
    // Product area (FRU 12): language, then manufacturer, product name, part/model number,
    // version, serial number, asset tag.
    FruImage& product(std::uint8_t language, std::vector<FruField> fields);

    std::vector<std::uint8_t> bytes() const;

private:
    std::vector<std::uint8_t> chassis_, board_, product_;
};

}  // namespace sim

#endif
