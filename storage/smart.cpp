#include "storage/smart.h"

#include <cstring>

namespace smart {

namespace {

constexpr std::size_t kSlots = HEALTH_DISK_ATTRIBUTES;
constexpr std::size_t kSlotSize = 12;
constexpr std::size_t kFirstSlot = 2;  // after the data structure revision

unsigned Word(const std::uint8_t* data, std::size_t word) { return data[2 * word] | data[2 * word + 1] << 8; }

bool ChecksumGood(const std::uint8_t* data) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kAtaPage; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    return sum == 0;
}

const DiskSmartAttribute* Find(const DiskAtaHealth& ata, unsigned id) {
    for (unsigned i = 0; i < ata.attributeCount && i < kSlots; ++i)
        if (ata.attribute[i].id == id) return &ata.attribute[i];
    return nullptr;
}

}  // namespace

SmartSupport DecodeIdentify(const std::uint8_t* data, std::size_t size) {
    SmartSupport support;
    if (size < kAtaPage) return support;
    const unsigned w82 = Word(data, 82), w83 = Word(data, 83), w85 = Word(data, 85);
    // Words 82-84 and 85-87 are valid when bit 14 of word 83 (87) is set and bit 15 clear.
    if ((w83 & 0xC000) != 0x4000 || w82 == 0xFFFF) return support;
    support.known = true;
    support.supported = w82 & 1;
    support.enabled = support.supported && (w85 & 1);
    return support;
}

bool DecodeSmartData(const std::uint8_t* data, std::size_t size, DiskAtaHealth& out) {
    if (size < kAtaPage) return false;
    out.attributeCount = 0;
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        const std::uint8_t* p = data + kFirstSlot + slot * kSlotSize;
        if (p[0] == 0) continue;
        DiskSmartAttribute& a = out.attribute[out.attributeCount++];
        a = DiskSmartAttribute{};
        a.id = p[0];
        a.flags = static_cast<unsigned short>(p[1] | p[2] << 8);
        a.current = p[3];
        a.worst = p[4];
        for (int i = 5; i >= 0; --i) a.raw = a.raw << 8 | p[5 + i];
    }
    out.dataChecksumGood = ChecksumGood(data);
    return true;
}

bool DecodeSmartThresholds(const std::uint8_t* data, std::size_t size, DiskAtaHealth& out) {
    if (size < kAtaPage) return false;
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        const std::uint8_t* p = data + kFirstSlot + slot * kSlotSize;
        if (p[0] == 0) continue;
        for (unsigned i = 0; i < out.attributeCount && i < kSlots; ++i) {
            DiskSmartAttribute& a = out.attribute[i];
            if (a.id != p[0]) continue;
            a.threshold = p[1];
            a.state = 0;
            // A threshold of 0 means "never fails"; 254 and 255 are reserved and compare
            // the same way (no normalised value exceeds them otherwise).
            if (a.threshold != 0 && a.current <= a.threshold) a.state |= DISK_ATTRIBUTE_FAILING_NOW;
            if (a.threshold != 0 && a.worst <= a.threshold) a.state |= DISK_ATTRIBUTE_FAILED_PAST;
        }
    }
    out.thresholdChecksumGood = ChecksumGood(data);
    return true;
}

void NameAtaFields(DiskHealth& disk) {
    struct Named {
        unsigned id;
        unsigned given;
        unsigned long long DiskHealth::*field;
    };
    static const Named kNamed[] = {
        {9, DISK_GIVEN_POWER_ON_HOURS, &DiskHealth::PowerOnHours},
        {5, DISK_GIVEN_REALLOCATED, &DiskHealth::Reallocated},
        {197, DISK_GIVEN_PENDING, &DiskHealth::Pending},
        {198, DISK_GIVEN_UNCORRECTABLE, &DiskHealth::OfflineUncorrectable},
        {199, DISK_GIVEN_CRC_ERRORS, &DiskHealth::CrcErrors},
    };
    for (const Named& n : kNamed)
        if (const DiskSmartAttribute* a = Find(disk.ata, n.id)) {
            // Power-on hours: vendors keep minutes or milliseconds in the upper bytes; the
            // hours are the low 32 bits.
            disk.*n.field = n.id == 9 ? a->raw & 0xFFFFFFFFu : a->raw;
            disk.Given |= n.given;
        }
    // The temperature is the raw value's lowest byte (the rest holds minimum and maximum).
    const DiskSmartAttribute* t = Find(disk.ata, 194);
    if (!t) t = Find(disk.ata, 190);
    if (t) {
        disk.Temperature = static_cast<int>(t->raw & 0xFF);
        disk.Given |= DISK_GIVEN_TEMPERATURE;
    }
}

std::uint64_t SaturatedCounter(const std::uint8_t* data, std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes; i-- > 0;) {
        if (i >= 8 && data[i]) return UINT64_MAX;
        if (i < 8) value = value << 8 | data[i];
    }
    return value;
}

bool DecodeNvmeHealth(const std::uint8_t* data, std::size_t size, DiskHealth& disk) {
    if (size < kNvmeLog) return false;
    DiskNvmeHealth& n = disk.nvme;
    n.criticalWarning = data[0];
    n.availableSpare = data[3];
    n.spareThreshold = data[4];
    n.percentageUsed = data[5];
    n.dataUnitsRead = SaturatedCounter(data + 32, 16);
    n.dataUnitsWritten = SaturatedCounter(data + 48, 16);
    n.powerCycles = SaturatedCounter(data + 112, 16);
    disk.PowerOnHours = SaturatedCounter(data + 128, 16);
    n.unsafeShutdowns = SaturatedCounter(data + 144, 16);
    n.mediaErrors = SaturatedCounter(data + 160, 16);
    n.errorLogEntries = SaturatedCounter(data + 176, 16);
    n.warningTemperatureMinutes = static_cast<unsigned>(SaturatedCounter(data + 192, 4));
    n.criticalTemperatureMinutes = static_cast<unsigned>(SaturatedCounter(data + 196, 4));
    disk.Given |= DISK_GIVEN_POWER_ON_HOURS;
    const unsigned kelvin = data[1] | data[2] << 8;
    if (kelvin) {  // 0: the controller reports no temperature
        disk.Temperature = static_cast<int>(kelvin) - 273;
        disk.Given |= DISK_GIVEN_TEMPERATURE;
    }
    disk.Overall = n.criticalWarning ? DISK_OVERALL_FAILING : DISK_OVERALL_PASSED;
    return true;
}

}  // namespace smart
