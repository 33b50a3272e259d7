// The SMART and NVMe health decoders on the pages QEMU's disks gave in the system test's guest
// (tests/data/disks/qemu-6.1/answers), against smartctl's JSON of the same disks in the same
// boot, and on pages changed to reach what QEMU's do not hold.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "storage/smart.h"
#include "tests/support/fixture.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& relative) {
    std::ifstream in(qtest::DataPath(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

nlohmann::json Smartctl(const char* disk) {
    std::ifstream in(qtest::DataPath(std::string("disks/qemu-6.1/smartctl/") + disk + ".json"));
    return nlohmann::json::parse(in);
}

DiskHealth DecodeAta(const std::vector<std::uint8_t>& data, const std::vector<std::uint8_t>& thresholds) {
    DiskHealth d{};
    EXPECT_TRUE(smart::DecodeSmartData(data.data(), data.size(), d.ata));
    EXPECT_TRUE(smart::DecodeSmartThresholds(thresholds.data(), thresholds.size(), d.ata));
    smart::NameAtaFields(d);
    return d;
}

// Each of QEMU's IDE and AHCI disks: every attribute smartctl lists, with the same numbers.
TEST(SmartPages, QemusDisksDecodeAsSmartctlReadsThem) {
    // In the guest, sda was the PIIX disk and sdc the AHCI one.
    for (const char* disk : {"sda", "sdc"}) {
        SCOPED_TRACE(disk);
        const std::string at = std::string("disks/qemu-6.1/answers/") + disk;
        DiskHealth d = DecodeAta(Bytes(at + ".smart-data"), Bytes(at + ".smart-thresholds"));
        const nlohmann::json want = Smartctl(disk);
        const auto& table = want["ata_smart_attributes"]["table"];
        ASSERT_EQ(d.ata.attributeCount, table.size());
        for (unsigned i = 0; i < d.ata.attributeCount; ++i) {
            const DiskSmartAttribute& a = d.ata.attribute[i];
            EXPECT_EQ(a.id, table[i]["id"]);
            EXPECT_EQ(a.current, table[i]["value"]);
            EXPECT_EQ(a.worst, table[i]["worst"]);
            EXPECT_EQ(a.threshold, table[i]["thresh"]);
            EXPECT_EQ(a.flags, table[i]["flags"]["value"]);
            EXPECT_EQ(a.raw, table[i]["raw"]["value"]);
            EXPECT_EQ(a.state != 0, table[i]["when_failed"] != "") << "attribute " << int(a.id);
        }
        EXPECT_TRUE(d.ata.dataChecksumGood);
        EXPECT_TRUE(d.ata.thresholdChecksumGood);
        EXPECT_EQ(d.Temperature, want["temperature"]["current"]);
        EXPECT_EQ(d.PowerOnHours, want["power_on_time"]["hours"]);
        EXPECT_TRUE(d.Given & DISK_GIVEN_REALLOCATED);
        EXPECT_FALSE(d.Given & DISK_GIVEN_PENDING);  // QEMU's disks have no attribute 197

        const std::vector<std::uint8_t> identify = Bytes(at + ".ata-identify");
        const smart::SmartSupport support = smart::DecodeIdentify(identify.data(), identify.size());
        EXPECT_TRUE(support.known && support.supported && support.enabled);
    }
}

TEST(SmartPages, ChecksumsShortPagesAndIdentifyWords) {
    std::vector<std::uint8_t> data = Bytes("disks/qemu-6.1/answers/sdc.smart-data");
    data[0x60] ^= 0x01;  // a byte no attribute uses: only the sum changes
    DiskAtaHealth ata{};
    ASSERT_TRUE(smart::DecodeSmartData(data.data(), data.size(), ata));
    EXPECT_FALSE(ata.dataChecksumGood);
    EXPECT_EQ(ata.attributeCount, 7u);  // still decoded: the report says the sum is bad
    EXPECT_FALSE(smart::DecodeSmartData(data.data(), 511, ata));
    EXPECT_FALSE(smart::DecodeSmartThresholds(data.data(), 100, ata));

    std::vector<std::uint8_t> identify = Bytes("disks/qemu-6.1/answers/sdc.ata-identify");
    identify[2 * 85] &= ~1;  // SMART switched off
    smart::SmartSupport support = smart::DecodeIdentify(identify.data(), identify.size());
    EXPECT_TRUE(support.supported);
    EXPECT_FALSE(support.enabled);
    identify[2 * 83 + 1] = 0x80;  // word 83 not valid: words 82-84 mean nothing
    support = smart::DecodeIdentify(identify.data(), identify.size());
    EXPECT_FALSE(support.known || support.supported);
    EXPECT_FALSE(smart::DecodeIdentify(identify.data(), 200).known);
}

// The state of each attribute against its threshold, and which temperature attribute counts.
TEST(SmartPages, FailingNowFailedInThePastAndTemperature) {
    std::uint8_t data[512] = {}, thresholds[512] = {};
    struct Slot {
        std::uint8_t id, current, worst, threshold;
        std::uint64_t raw;
        unsigned state;
    } slots[] = {
        {5, 10, 10, 36, 12, DISK_ATTRIBUTE_FAILING_NOW | DISK_ATTRIBUTE_FAILED_PAST},
        {1, 100, 5, 6, 0, DISK_ATTRIBUTE_FAILED_PAST},
        {9, 1, 1, 0, 0x123456789ABCull, 0},  // threshold 0: never fails
        {190, 60, 50, 45, 0x1E0028, 0},
        {194, 100, 100, 36, 0x2A0014002Bull, 0},  // low byte 43 degrees; the rest min/max
        {198, 100, 100, 100, 0, DISK_ATTRIBUTE_FAILING_NOW | DISK_ATTRIBUTE_FAILED_PAST},  // equal counts
    };
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        std::uint8_t* p = data + 2 + 12 * i;
        p[0] = slots[i].id;
        p[3] = slots[i].current;
        p[4] = slots[i].worst;
        for (int b = 0; b < 6; ++b) p[5 + b] = static_cast<std::uint8_t>(slots[i].raw >> (8 * b));
        // The threshold page lists them in another order.
        std::uint8_t* t = thresholds + 2 + 12 * (std::size(slots) - 1 - i);
        t[0] = slots[i].id;
        t[1] = slots[i].threshold;
    }
    DiskHealth d = DecodeAta({data, data + 512}, {thresholds, thresholds + 512});
    ASSERT_EQ(d.ata.attributeCount, std::size(slots));
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        EXPECT_EQ(d.ata.attribute[i].state, slots[i].state) << "attribute " << int(slots[i].id);
        EXPECT_EQ(d.ata.attribute[i].raw, slots[i].raw);
    }
    EXPECT_EQ(d.Temperature, 43);  // 194 before 190
    EXPECT_EQ(d.PowerOnHours, 0x56789ABCull);  // the low 32 bits
    EXPECT_EQ(d.Reallocated, 12u);
    EXPECT_EQ(d.Given & (DISK_GIVEN_PENDING | DISK_GIVEN_CRC_ERRORS), 0u);
}

TEST(NvmeLog, QemusLogDecodesAsSmartctlReadsIt) {
    const std::vector<std::uint8_t> log = Bytes("disks/qemu-6.1/answers/nvme0.nvme-health");
    DiskHealth d{};
    ASSERT_TRUE(smart::DecodeNvmeHealth(log.data(), log.size(), d));
    const nlohmann::json smartctl = Smartctl("nvme0n1");
    const auto& want = smartctl["nvme_smart_health_information_log"];
    EXPECT_EQ(d.nvme.criticalWarning, want["critical_warning"]);
    EXPECT_EQ(d.Temperature, want["temperature"]);
    EXPECT_EQ(d.nvme.availableSpare, want["available_spare"]);
    EXPECT_EQ(d.nvme.spareThreshold, want["available_spare_threshold"]);
    EXPECT_EQ(d.nvme.percentageUsed, want["percentage_used"]);
    EXPECT_EQ(d.nvme.dataUnitsRead, want["data_units_read"]);
    EXPECT_EQ(d.nvme.dataUnitsWritten, want["data_units_written"]);
    EXPECT_EQ(d.nvme.powerCycles, want["power_cycles"]);
    EXPECT_EQ(d.PowerOnHours, want["power_on_hours"]);
    EXPECT_EQ(d.nvme.unsafeShutdowns, want["unsafe_shutdowns"]);
    EXPECT_EQ(d.nvme.mediaErrors, want["media_errors"]);
    EXPECT_EQ(d.nvme.errorLogEntries, want["num_err_log_entries"]);
    EXPECT_EQ(d.nvme.warningTemperatureMinutes, want["warning_temp_time"]);
    EXPECT_EQ(d.nvme.criticalTemperatureMinutes, want["critical_comp_time"]);
    EXPECT_EQ(d.Overall, DISK_OVERALL_PASSED);
    EXPECT_FALSE(smart::DecodeNvmeHealth(log.data(), 511, d));
}

TEST(NvmeLog, CountersBeyond64BitsSaturateAndWarningsFail) {
    std::vector<std::uint8_t> log(512, 0);
    log[0] = NVME_WARNING_SPARE | NVME_WARNING_READ_ONLY;
    // Data units read: 2^64 exactly (byte 8 of the 16). Written: 2^64 - 1. Power cycles: 2^127.
    log[32 + 8] = 1;
    std::memset(&log[48], 0xFF, 8);
    log[112 + 15] = 0x80;
    log[128] = 0x10;  // power-on hours 16
    DiskHealth d{};
    ASSERT_TRUE(smart::DecodeNvmeHealth(log.data(), log.size(), d));
    EXPECT_EQ(d.nvme.dataUnitsRead, UINT64_MAX);
    EXPECT_EQ(d.nvme.dataUnitsWritten, UINT64_MAX);
    EXPECT_EQ(d.nvme.powerCycles, UINT64_MAX);
    EXPECT_EQ(d.PowerOnHours, 16u);
    EXPECT_EQ(d.Overall, DISK_OVERALL_FAILING);
    EXPECT_FALSE(d.Given & DISK_GIVEN_TEMPERATURE);  // 0 Kelvin: no temperature given
}

}  // namespace
