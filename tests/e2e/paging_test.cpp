// The paged exports through dlopen, on the large server: every entry found exactly once, the
// edges of a walk, the reading kept across a release, and the same entries through a capture.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/library.h"
#include "tests/e2e/qarvel_run.h"

namespace {

using PageFunction = int(unsigned long, int, LPVOID, int*);
using GetInfoFunction = int(unsigned long, LPVOID);

struct Large {
    e2e::Library lib{QARVEL_SIM_LIBRARY, QARVEL_LARGE_MACHINE};
    PageFunction* info_page = lib.function<PageFunction>("GetInfoPage");
    PageFunction* ipmi_page = lib.function<PageFunction>("GetIpmiInfoPage");
    GetInfoFunction* get_info = lib.function<GetInfoFunction>("GetInfo");
};

// Walks a command page by page as a caller would (first = 0, then on by each page's count),
// giving each entry's key to `seen`; the total every page told.
template <typename Record, typename Entry, std::size_t N>
int Walk(PageFunction* page, unsigned long command, Entry (Record::*array)[N], int Record::*count,
         const std::function<void(const Entry&)>& seen) {
    int total = -1, first = 0;
    do {
        auto record = std::make_unique<e2e::Guarded<Record>>();
        int told = -1;
        EXPECT_EQ(page(command, first, &record->record, &told), 0) << "first " << first;
        EXPECT_TRUE(record->canaries_intact());
        if (total >= 0) {
            EXPECT_EQ(told, total) << "the total changed within one walk";
        }
        total = told;
        const int shown = record->record.*count;
        EXPECT_EQ(shown, std::min<int>(N, total - first)) << "first " << first;
        if (shown <= 0) break;
        for (int i = 0; i < shown; ++i) seen((record->record.*array)[i]);
        first += shown;
    } while (first < total);
    return total;
}

// Every entry of a command exactly once: each key is new, and there are `expected` of them.
template <typename Record, typename Entry, std::size_t N>
void ExpectEachOnce(PageFunction* page, unsigned long command, Entry (Record::*array)[N], int Record::*count,
                    std::string (*key)(const Entry&), int expected) {
    std::set<std::string> keys;
    int walked = 0;
    const int total = Walk<Record, Entry, N>(page, command, array, count, [&](const Entry& e) {
        ++walked;
        EXPECT_TRUE(keys.insert(key(e)).second) << "seen twice: " << key(e);
    });
    EXPECT_EQ(total, expected);
    EXPECT_EQ(walked, expected);
}

std::string PciKey(const DEV& d) { return d.desc; }
std::string PartitionKey(const PARTITION& p) { return p.description; }
std::string FanKey(const FAN_DEVICE& f) { return std::to_string(f.sensorNumber) + f.IdString; }
std::string VoltageKey(const VOLTAGE_PROBE& v) { return std::to_string(v.sensorNumber) + v.IdString; }
std::string TemperatureKey(const TEMPERATURE_PROBE& t) { return std::to_string(t.sensorNumber) + t.IdString; }

TEST(Paging, EveryEntryOfTheLargeServerExactlyOnce) {
    Large m;
    ASSERT_TRUE(m.info_page && m.ipmi_page);
    ExpectEachOnce(m.info_page, INFO_PCI_DEVICE, &DeviceInformation::dev, &DeviceInformation::quantity, PciKey, 300);
    ExpectEachOnce(m.info_page, INFO_PARTITION, &PartitionInformation::partition, &PartitionInformation::quantity,
                   PartitionKey, 60);
    ExpectEachOnce(m.ipmi_page, INFO_FAN, &FanInformation::fan, &FanInformation::quantity, FanKey, 60);
    ExpectEachOnce(m.ipmi_page, INFO_VOLTAGE, &VoltageInformation::voltage, &VoltageInformation::quantity,
                   VoltageKey, 70);
    ExpectEachOnce(m.ipmi_page, INFO_TEMPERATURE, &TemperatureInformation::temperature,
                   &TemperatureInformation::quantity, TemperatureKey, 70);

    // Disks: the SAS ones count as quantitySCSI, each page its own.
    std::set<std::string> serials;
    int first = 0, total = 0;
    do {
        StorageInformation r = {};
        ASSERT_EQ(m.info_page(INFO_STORAGE, first, &r, &total), 0);
        EXPECT_EQ(r.quantityIDE, 0);
        ASSERT_GT(r.quantitySCSI, 0);
        for (int i = 0; i < r.quantitySCSI; ++i) EXPECT_TRUE(serials.insert(r.driveArray[i].SerialNo).second);
        first += r.quantitySCSI;
    } while (first < total);
    EXPECT_EQ(serials.size(), 60u);

    // Banks: all 32, and the total on every page is that of all of them (16 GB each).
    int banks = 0;
    first = 0;
    do {
        MemoryInformation r = {};
        ASSERT_EQ(m.info_page(INFO_MEMORY, first, &r, &total), 0);
        EXPECT_EQ(r.TotalSize, 32 * 16384);
        banks += r.quantity;
        first += r.quantity;
    } while (first < total && banks < 1000);
    EXPECT_EQ(banks, 32);
    EXPECT_EQ(total, 32);

    // Two sockets of 64 cores are two processor structures.
    ProcessorInformation cpus = {};
    ASSERT_EQ(m.info_page(INFO_PROCESSOR, 0, &cpus, &total), 0);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(cpus.quantity, 2);
}

// The first page is what GetInfo gives, byte for byte, where GetInfo's count is its entries.
TEST(Paging, FirstPageIsGetInfo) {
    Large m;
    auto paged = std::make_unique<DeviceInformation>();
    auto classic = std::make_unique<DeviceInformation>();
    std::memset(paged.get(), 0, sizeof *paged);
    std::memset(classic.get(), 0, sizeof *classic);
    ASSERT_EQ(m.info_page(INFO_PCI_DEVICE, 0, paged.get(), nullptr), 0);
    ASSERT_EQ(m.get_info(INFO_PCI_DEVICE, classic.get()), 0);
    EXPECT_EQ(std::memcmp(paged.get(), classic.get(), sizeof *paged), 0);

    StorageInformation a = {}, b = {};
    ASSERT_EQ(m.info_page(INFO_STORAGE, 0, &a, nullptr), 0);
    ASSERT_EQ(m.get_info(INFO_STORAGE, &b), 0);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

// Pages that start anywhere agree with the walk; a negative index is refused with the record
// and the total untouched; at and past the end a page holds nothing but the total.
TEST(Paging, EdgesOfAWalk) {
    Large m;
    std::vector<std::string> all;
    Walk<DeviceInformation, DEV, 64>(m.info_page, INFO_PCI_DEVICE, &DeviceInformation::dev,
                                     &DeviceInformation::quantity, [&](const DEV& d) { all.push_back(d.desc); });
    ASSERT_EQ(all.size(), 300u);
    for (int first : {1, 63, 64, 65, 299}) {
        auto r = std::make_unique<DeviceInformation>();
        std::memset(r.get(), 0, sizeof *r);
        int total = 0;
        ASSERT_EQ(m.info_page(INFO_PCI_DEVICE, first, r.get(), &total), 0);
        EXPECT_EQ(total, 300);
        ASSERT_EQ(r->quantity, std::min(64, 300 - first)) << first;
        for (int i = 0; i < r->quantity; ++i) EXPECT_EQ(all[first + i], r->dev[i].desc) << first + i;
    }
    for (int first : {300, 301, 5000, 2000000000}) {
        auto r = std::make_unique<e2e::Guarded<DeviceInformation>>();
        int total = 0;
        EXPECT_EQ(m.info_page(INFO_PCI_DEVICE, first, &r->record, &total), 0) << first;
        EXPECT_EQ(r->record.quantity, 0);
        EXPECT_EQ(r->record.dev[0].desc[0], '\0');
        EXPECT_EQ(total, 300);
        EXPECT_TRUE(r->canaries_intact());
    }
    auto r = std::make_unique<e2e::Guarded<DeviceInformation>>();
    std::memset(&r->record, 0x5A, sizeof r->record);
    int total = 12345;
    EXPECT_EQ(m.info_page(INFO_PCI_DEVICE, -1, &r->record, &total), -1);
    EXPECT_EQ(m.ipmi_page(INFO_FAN, -64, &r->record, &total), -1);
    EXPECT_EQ(total, 12345);
    EXPECT_EQ(r->record.quantity, 0x5A5A5A5A);
    EXPECT_EQ(m.info_page(0x12345, 0, &r->record, &total), -1);
    EXPECT_EQ(m.info_page(INFO_PCI_DEVICE, 0, nullptr, &total), -1);
}

// The readers stop at the record's size only for GetInfo: the capacities are each reached
// and passed by one entry (16 banks, 24 drives, 26 partitions, 16 fans, 32 voltages).
TEST(Paging, CapacityAndOneMore) {
    Large m;
    int total = 0;
    MemoryInformation banks = {};
    ASSERT_EQ(m.info_page(INFO_MEMORY, 16, &banks, &total), 0);
    EXPECT_EQ(banks.quantity, 16);
    ASSERT_EQ(m.info_page(INFO_MEMORY, 17, &banks, &total), 0);
    EXPECT_EQ(banks.quantity, 15);
    auto drives = std::make_unique<StorageInformation>();
    std::memset(drives.get(), 0, sizeof *drives);
    ASSERT_EQ(m.info_page(INFO_STORAGE, 25, drives.get(), &total), 0);
    EXPECT_EQ(drives->quantitySCSI, 24);
    EXPECT_EQ(std::string(drives->driveArray[0].SerialNo), "HGK2400-30125");
    auto parts = std::make_unique<PartitionInformation>();
    std::memset(parts.get(), 0, sizeof *parts);
    ASSERT_EQ(m.info_page(INFO_PARTITION, 26, parts.get(), &total), 0);
    EXPECT_EQ(parts->quantity, 26);
    ASSERT_EQ(m.info_page(INFO_PARTITION, 27, parts.get(), &total), 0);
    EXPECT_EQ(parts->quantity, 26);
    EXPECT_EQ(total, 60);
    FanInformation fans = {};
    ASSERT_EQ(m.ipmi_page(INFO_FAN, 17, &fans, &total), 0);
    EXPECT_EQ(fans.quantity, 16);
    EXPECT_EQ(std::string(fans.fan[0].IdString), "Fan 17");
    VoltageInformation volts = {};
    ASSERT_EQ(m.ipmi_page(INFO_VOLTAGE, 64, &volts, &total), 0);
    EXPECT_EQ(volts.quantity, 6);  // past the 64 the BMC's kind table holds
    EXPECT_EQ(std::string(volts.voltage[5].IdString), "Volt 69");
}

// A walk is served from its first page's reading: a release and other reads between two
// pages change nothing of what the walk sees.
TEST(Paging, OneReadingPerWalk) {
    Large m;
    auto release = m.lib.function<int()>("release");
    std::vector<std::string> plain, interrupted;
    Walk<FanInformation, FAN_DEVICE, 16>(m.ipmi_page, INFO_FAN, &FanInformation::fan, &FanInformation::quantity,
                                         [&](const FAN_DEVICE& f) { plain.push_back(FanKey(f) + f.speed); });
    Walk<FanInformation, FAN_DEVICE, 16>(m.ipmi_page, INFO_FAN, &FanInformation::fan, &FanInformation::quantity,
                                         [&](const FAN_DEVICE& f) {
                                             interrupted.push_back(FanKey(f) + f.speed);
                                             if (interrupted.size() % 16 == 1) {
                                                 FanInformation other = {};
                                                 m.lib.function<GetInfoFunction>("GetIpmiInfo")(INFO_FAN, &other);
                                                 release();
                                             }
                                         });
    EXPECT_EQ(plain, interrupted);
}

// Thresholds of every sensor, and of one entity and type, past the 64 a record holds.
TEST(Paging, Thresholds) {
    Large m;
    auto all = m.lib.function<int(int, LPVOID, int*)>("GetAllThresholdInfoPage");
    auto one = m.lib.function<int(int, int, int, LPVOID, int*)>("GetThresholdInfoPage");
    ASSERT_TRUE(all && one);
    int total = 0, seen = 0;
    for (int first = 0;;) {
        SensorThresholdInformation r = {};
        ASSERT_EQ(all(first, &r, &total), 0);
        if (r.quantity == 0) break;
        seen += r.quantity;
        first += r.quantity;
    }
    EXPECT_EQ(total, 200);
    EXPECT_EQ(seen, 200);
    // Entity 3 (processor) temperatures: all 70, the 65th with its upper critical of 95.
    SensorThresholdInformation r = {};
    ASSERT_EQ(one(3, 1, 64, &r, &total), 0);
    EXPECT_EQ(total, 70);
    ASSERT_EQ(r.quantity, 6);
    EXPECT_EQ(r.SensorThreshold[0].DeviceID, 3);
    EXPECT_DOUBLE_EQ(r.SensorThreshold[0].UpperCriticalThresholdValue, 95.0);
}

// One measurement of all 128 processors: processor i was busy i % 101 of every 100 ticks.
TEST(Paging, UsageOfEveryProcessor) {
    Large m;
    auto usage = m.lib.function<int(int, int, LPVOID, int*)>("GetCpuUsageRatePage");
    ASSERT_NE(usage, nullptr);
    int total = 0;
    for (int first = 0; first < 128; first += 8) {
        CpuUsageRageInformation r = {};
        // Only the first page waits the interval; the others have it ignored.
        ASSERT_EQ(usage(first == 0 ? 1 : -1, first, &r, &total), 0);
        EXPECT_EQ(total, 128);
        ASSERT_EQ(r.quantity, 8);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(r.UsageRate[i], (first + i) % 101) << first + i;
    }
    CpuUsageRageInformation r = {};
    EXPECT_EQ(usage(-1, 0, &r, &total), -1);
}

// The report shows every entry through the paged exports; a capture of the large machine
// replays to the same report, so the same entries come through paging of both.
TEST(Paging, CaptureOfTheLargeServerReplaysEveryEntry) {
    namespace fs = std::filesystem;
    const std::string dir = fs::temp_directory_path() / ("qarvel-e2e-large-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    e2e::Outcome capture = e2e::RunQarvel("--machine " QARVEL_LARGE_MACHINE " capture " + dir);
    ASSERT_EQ(capture.status, 0) << capture.err;
    e2e::Outcome original = e2e::RunQarvel("--machine " QARVEL_LARGE_MACHINE);
    e2e::Outcome replay = e2e::RunQarvel("--machine " + dir);
    fs::remove_all(dir);
    EXPECT_EQ(replay.out, original.out);
    for (const char* last : {"dev[299].desc=bus:9, dev:29, func:0", "driveArray[59].SerialNo=HGK2400-30159",
                             "partition[59].description=", "fan[59].IdString=Fan 59", "voltage[69].IdString=Volt 69",
                             "temperature[69].IdString=Temp 69", "bank[31].size="})
        EXPECT_NE(original.out.find(last), std::string::npos) << last;
}

}  // namespace
