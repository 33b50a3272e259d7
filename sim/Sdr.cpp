#include "sim/Sdr.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t kSdrVersion = 0x51;  // IPMI 1.5 and 2.0 records
constexpr std::uint8_t kBmcAddress = 0x20;
constexpr std::size_t kHeader = 5;
// ID string type/length byte: type 11b, 8-bit ASCII + Latin 1.
constexpr std::uint8_t kLatin1 = 0xC0;

}  // namespace

SdrRecord::SdrRecord(std::uint8_t type, std::size_t size) : raw(std::max(size, kHeader), 0) {
    raw[2] = kSdrVersion;
    raw[3] = type;
}

SdrRecord& SdrRecord::byte(std::size_t offset, std::uint8_t value) {
    if (offset >= raw.size()) raw.resize(offset + 1, 0);
    raw[offset] = value;
    return *this;
}

SdrRecord& SdrRecord::word(std::size_t offset, std::uint16_t value) {
    byte(offset, static_cast<std::uint8_t>(value & 0xFF));
    return byte(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

SdrRecord& SdrRecord::id_string(std::size_t offset, const std::string& text) {
    std::size_t length = std::min<std::size_t>(text.size(), 31);
    raw.resize(offset + 1 + length, 0);
    raw[offset] = static_cast<std::uint8_t>(kLatin1 | length);
    std::copy(text.begin(), text.begin() + static_cast<long>(length), raw.begin() + static_cast<long>(offset) + 1);
    return *this;
}

std::vector<std::uint8_t> SdrRecord::bytes(std::uint16_t id) const {
    std::vector<std::uint8_t> out = raw;
    out[0] = static_cast<std::uint8_t>(id & 0xFF);
    out[1] = static_cast<std::uint8_t>(id >> 8);
    out[4] = static_cast<std::uint8_t>(std::min<std::size_t>(out.size() - kHeader, 0xFF));
    return out;
}

SdrRecord FullSensor::record() const {
    const bool threshold = event_type == 0x01;
    SdrRecord r(kFullSensorRecord, 48);
    r.byte(5, kBmcAddress).byte(6, 0).byte(7, number);
    r.byte(8, entity).byte(9, instance);
    r.byte(10, 0x7F);                   // scanning, events, thresholds and hysteresis initialised
    r.byte(11, threshold ? 0x68 : 0x40);  // threshold sensors: thresholds readable and settable
    r.byte(12, type).byte(13, event_type);
    r.word(14, assertions).word(16, deassertions).byte(18, readable).byte(19, settable);
    r.byte(20, unit1).byte(21, base_unit).byte(22, modifier_unit).byte(23, linearization);
    r.byte(24, static_cast<std::uint8_t>(m & 0xFF)).byte(25, static_cast<std::uint8_t>(((m >> 8) & 0x03) << 6));
    r.byte(26, static_cast<std::uint8_t>(b & 0xFF)).byte(27, static_cast<std::uint8_t>(((b >> 8) & 0x03) << 6));
    r.byte(29, static_cast<std::uint8_t>((k2 & 0x0F) << 4 | (k1 & 0x0F)));
    r.byte(30, (unit1 & 0xC0) == 0xC0 ? 0x00 : 0x07);  // nominal, normal max and min given
    r.byte(31, nominal).byte(32, normal_max).byte(33, normal_min).byte(34, max).byte(35, min);
    r.byte(36, unr).byte(37, uc).byte(38, unc).byte(39, lnr).byte(40, lc).byte(41, lnc);
    r.byte(42, hysteresis).byte(43, hysteresis);
    r.id_string(47, name);
    return r;
}

SdrRecord CompactSensor::record() const {
    SdrRecord r(kCompactSensorRecord, 32);
    r.byte(5, kBmcAddress).byte(6, 0).byte(7, number);
    r.byte(8, entity).byte(9, instance).byte(10, 0x67).byte(11, 0x40);
    r.byte(12, type).byte(13, event_type);
    r.word(14, assertions).word(16, deassertions).word(18, readings);
    r.byte(20, 0xC0);  // no numeric reading
    r.byte(23, 0x01);  // one sensor, no shared instances
    r.id_string(31, name);
    return r;
}

SdrRecord fru_locator(std::uint8_t fru_id, std::uint8_t entity, std::uint8_t instance, const std::string& name) {
    SdrRecord r(kFruLocatorRecord, 16);
    r.byte(5, kBmcAddress).byte(6, fru_id).byte(7, 0x80);  // logical FRU device, LUN 0, bus 0
    r.byte(10, 0x10);                                     // device type: FRU inventory
    r.byte(12, entity).byte(13, instance);
    r.id_string(15, name);
    return r;
}

SdrRecord mc_locator(std::uint8_t address, std::uint8_t entity, std::uint8_t instance, const std::string& name) {
    SdrRecord r(kMcLocatorRecord, 16);
    r.byte(5, address).byte(6, 0).byte(7, 0x00);
    r.byte(8, 0xBF);  // every device capability but the chassis device
    r.byte(12, entity).byte(13, instance);
    r.id_string(15, name);
    return r;
}

SdrRecord oem_record(std::uint32_t manufacturer, const std::vector<std::uint8_t>& data) {
    SdrRecord r(kOemRecord, 8);
    r.byte(5, static_cast<std::uint8_t>(manufacturer & 0xFF))
        .byte(6, static_cast<std::uint8_t>((manufacturer >> 8) & 0xFF))
        .byte(7, static_cast<std::uint8_t>((manufacturer >> 16) & 0xFF));
    for (std::size_t i = 0; i < data.size(); ++i) r.byte(8 + i, data[i]);
    return r;
}

}  // namespace sim
