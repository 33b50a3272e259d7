// Building sensor data records (IPMI 2.0 43) for the simulated BMC's repository, with every
// field at its offset, header included, as `ipmitool sdr dump` writes them.
#ifndef QARVEL_SIM_SDR_H
#define QARVEL_SIM_SDR_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Record types (IPMI 2.0 43) that the machines here carry.
enum SdrType : std::uint8_t {
    kFullSensorRecord = 0x01,
    kCompactSensorRecord = 0x02,
    kFruLocatorRecord = 0x11,
    kMcLocatorRecord = 0x12,
    kOemRecord = 0xC0,
};

// One record: the 5-byte header (record ID, SDR version, type, length of the rest) and the
// bytes after it, all at their record offsets.
class SdrRecord {
public:
    // `size` counts the header; bytes not set are zero.
    SdrRecord(std::uint8_t type, std::size_t size);

    // Writing past the end grows the record.
    SdrRecord& byte(std::size_t offset, std::uint8_t value);
    SdrRecord& word(std::size_t offset, std::uint16_t value);
    // The ID string's type/length byte (8-bit ASCII, length in bits 4..0) at `offset`,
    // then the text; the record ends after it.
    SdrRecord& id_string(std::size_t offset, const std::string& text);

    std::uint8_t type() const { return raw[3]; }
    // The record with its header filled: `id`, version 51h, type, and the length byte.
    std::vector<std::uint8_t> bytes(std::uint16_t id) const;

    std::vector<std::uint8_t> raw;
};

// A full sensor record (type 01h, IPMI 2.0 43.1): the fields machines and tests set.
struct FullSensor {
    std::uint8_t number = 1;
    std::uint8_t entity = 7, instance = 1;  // system board 1
    std::uint8_t type = 1;                  // sensor type: 1 temperature, 2 voltage, 4 fan, 7 processor
    std::uint8_t event_type = 1;            // 1 threshold, 2..0Ch generic discrete, 6Fh sensor-specific
    std::uint16_t assertions = 0, deassertions = 0;
    // The reading mask word: readable thresholds (low byte) and settable ones (high byte) of a
    // threshold sensor, or the discrete reading mask of a discrete one.
    std::uint8_t readable = 0, settable = 0;
    std::uint8_t unit1 = 0;  // bits 7..6 analog format, 5..3 rate, 2..1 modifier relation, 0 percentage
    std::uint8_t base_unit = 1, modifier_unit = 0;
    std::uint8_t linearization = 0;
    int m = 1, b = 0;    // 10-bit two's complement
    int k1 = 0, k2 = 0;  // 4-bit two's complement: B exponent, result exponent
    std::uint8_t nominal = 0, normal_max = 0, normal_min = 0;
    std::uint8_t max = 0xFF, min = 0;  // sensor reading range, raw
    // Raw thresholds: upper non-recoverable, critical, non-critical; lower likewise.
    std::uint8_t unr = 0, uc = 0, unc = 0, lnr = 0, lc = 0, lnc = 0;
    std::uint8_t hysteresis = 2;
    std::string name;

    SdrRecord record() const;
};

// A compact sensor record (type 02h, IPMI 2.0 43.2): discrete sensors without conversion.
struct CompactSensor {
    std::uint8_t number = 1;
    std::uint8_t entity = 7, instance = 1;
    std::uint8_t type = 0;
    std::uint8_t event_type = 0x6F;
    std::uint16_t assertions = 0, deassertions = 0, readings = 0;
    std::string name;

    SdrRecord record() const;
};

// FRU device locator (type 11h, IPMI 2.0 43.8) for a logical FRU device on the BMC.
SdrRecord fru_locator(std::uint8_t fru_id, std::uint8_t entity, std::uint8_t instance, const std::string& name);
// Management controller device locator (type 12h, IPMI 2.0 43.9).
SdrRecord mc_locator(std::uint8_t address, std::uint8_t entity, std::uint8_t instance, const std::string& name);
// OEM record (type C0h, IPMI 2.0 43.12): a 3-byte manufacturer ID, then the OEM's bytes.
SdrRecord oem_record(std::uint32_t manufacturer, const std::vector<std::uint8_t>& data);

}  // namespace sim

#endif
