// The exposition of every machine we ship or keep as test data, through promtool, and the
// current server's exposition against the records the library gives.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "api/health_types.h"
#include "api/sel_types.h"
#include "api/types.h"
#include "tests/exporter/support.h"

namespace {

using namespace exporter_test;

std::string Textfile(const std::string& machine, const TempDir& dir, const std::string& extra = "") {
    const std::string file = dir.path() + "/qarvel.prom";
    int status = RunCommand(std::string(QARVEL_EXPORTER) + " --machine '" + machine + "' --textfile " + file + " " +
                            extra + " 2>/dev/null");
    EXPECT_EQ(status, 0) << machine;
    return ReadFile(file);
}

class EveryMachine : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryMachine, PromtoolAcceptsTheTextfile) {
    TempDir dir;
    const std::string text = Textfile(GetParam(), dir);
    ASSERT_FALSE(text.empty());
    std::string said;
    EXPECT_EQ(RunCommand("promtool check metrics < " + dir.path() + "/qarvel.prom 2>&1", &said), 0) << said;
    // Renamed into place: the temporary name is gone, and node_exporter (another user) can read it.
    std::string listing;
    RunCommand("ls -A " + dir.path(), &listing);
    EXPECT_EQ(listing, "qarvel.prom\n");
    struct stat st;
    ASSERT_EQ(::stat((dir.path() + "/qarvel.prom").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // Whatever else failed, SMBIOS answered on each of them.
    EXPECT_EQ(ParseExposition(text)["qarvel_collector_up{collector=\"dmi\"}"], 1);
}

INSTANTIATE_TEST_SUITE_P(Machines, EveryMachine,
                         ::testing::Values(QARVEL_SAMPLE_MACHINE, QARVEL_CURRENT_MACHINE,
                                           QARVEL_TEST_DATA "/realdata/smbios/Asus-UX307LA",
                                           QARVEL_TEST_DATA "/realdata/smbios/Gigabyte-GA-MA74GMT-S2",
                                           QARVEL_TEST_DATA "/realdata/smbios/SuperMicro-X9DBL",
                                           QARVEL_TEST_DATA "/realdata/smbios/Synology-RS3614xsp",
                                           QARVEL_TEST_DATA "/realdata/smbios/satellite_pro_l70_testdata"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(info.param.rfind('/') + 1);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// The library loaded in this process, on the same machine as the exporter.
struct Records {
    Records() {
        setenv("QARVEL_MACHINE", QARVEL_CURRENT_MACHINE, 1);
        handle = dlopen(QARVEL_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    }
    template <typename Record>
    bool Ask(const char* export_name, unsigned long command, Record& record) {
        auto* f = reinterpret_cast<int (*)(unsigned long, void*)>(dlsym(handle, export_name));
        std::memset(&record, 0, sizeof record);
        return f && f(command, &record) == 0;
    }
    void* handle;
};

std::string Label(const char* text) {
    std::string out;
    for (const char* c = text; *c; ++c) out += *c == '"' || *c == '\\' ? std::string("\\") + *c : std::string(1, *c);
    return out;
}

TEST(CurrentServer, SeriesEqualTheLibrarysRecords) {
    TempDir dir;
    auto series = ParseExposition(Textfile(QARVEL_CURRENT_MACHINE, dir));
    Records library;
    ASSERT_NE(library.handle, nullptr);

    static TemperatureInformation temperatures;
    ASSERT_TRUE(library.Ask("GetIpmiInfo", INFO_TEMPERATURE, temperatures));
    ASSERT_GT(temperatures.quantity, 0);
    for (int i = 0; i < temperatures.quantity; ++i) {
        const TEMPERATURE_PROBE& t = temperatures.temperature[i];
        const std::string id = "{id=\"" + std::to_string(t.sensorNumber) + "\",name=\"" + Label(t.IdString) + "\"";
        EXPECT_EQ(series.at("ipmi_temperature_celsius" + id + "}"), std::strtod(t.CurrentTemperature, nullptr));
        if (t.sti.UpperCriticalThresholdValue != 0) {
            EXPECT_EQ(series.at("qarvel_ipmi_temperature_threshold_celsius" + id + ",threshold=\"upper_critical\"}"),
                      t.sti.UpperCriticalThresholdValue);
        }
    }

    static FanInformation fans;
    ASSERT_TRUE(library.Ask("GetIpmiInfo", INFO_FAN, fans));
    int below_critical = 0;
    for (int i = 0; i < fans.quantity; ++i) {
        const FAN_DEVICE& f = fans.fan[i];
        if (std::strchr(f.speed, '%')) continue;  // a duty cycle, as a ratio
        const std::string id = "{id=\"" + std::to_string(f.sensorNumber) + "\",name=\"" + Label(f.IdString) + "\"";
        const double rpm = std::strtod(f.speed, nullptr);
        EXPECT_EQ(series.at("ipmi_fan_speed_rpm" + id + "}"), rpm);
        EXPECT_EQ(series.at("qarvel_ipmi_fan_speed_threshold_rpm" + id + ",threshold=\"lower_critical\"}"),
                  f.sti.LowerCriticalThreshold);
        // The stopped fan is critical in ipmi_exporter's terms; the others are nominal.
        const bool critical = rpm <= f.sti.LowerCriticalThreshold;
        below_critical += critical;
        EXPECT_EQ(series.at("ipmi_fan_speed_state" + id + "}"), critical ? 2 : 0) << f.IdString;
    }
    EXPECT_EQ(below_critical, 1);

    static MemoryInformation memory;
    ASSERT_TRUE(library.Ask("GetInfo", INFO_MEMORY, memory));
    ASSERT_GT(memory.quantity, 0);
    for (int i = 0; i < memory.quantity; ++i) {
        const BANK& b = memory.bank[i];
        const std::string info = "qarvel_memory_dimm_info{dimm=\"" + std::to_string(i) + "\",slot=\"" +
                                 std::to_string(b.SlotNumber) + "\",manufacturer=\"" + Label(b.manufacturer) +
                                 "\",type=\"" + Label(b.type) + "\",type_detail=\"" + Label(b.TypeDetail) +
                                 "\",size=\"" + Label(b.size) + "\",speed=\"" + Label(b.speed) + "\"}";
        EXPECT_EQ(series.count(info), 1u) << info;
        EXPECT_EQ(series.at("qarvel_memory_dimm_size_bytes{dimm=\"" + std::to_string(i) + "\"}"),
                  std::strtod(b.size, nullptr) * 1048576.0);  // the record says "65536 MB"
    }

    static StorageInformation disks;
    ASSERT_TRUE(library.Ask("GetInfo", INFO_STORAGE, disks));
    ASSERT_GT(disks.quantityIDE + disks.quantitySCSI, 0);
    for (int i = 0; i < disks.quantityIDE + disks.quantitySCSI; ++i)
        EXPECT_EQ(series.at("qarvel_disk_size_bytes{disk=\"" + std::to_string(i) + "\"}"),
                  std::strtod(disks.driveArray[i].size, nullptr));
}

// A machine without a BMC: the three IPMI collectors fail, and the inventory is all there.
TEST(Collectors, OneThatFailsLeavesTheOthers) {
    TempDir dir;
    auto series = ParseExposition(Textfile(QARVEL_TEST_DATA "/realdata/smbios/SuperMicro-X9DBL", dir));
    for (const char* name : {"ipmi", "bmc", "bmc_watchdog", "sel"})
        EXPECT_EQ(series.at(std::string("qarvel_collector_up{collector=\"") + name + "\"}"), 0) << name;
    for (const char* name : {"dmi", "processor", "memory", "pci", "disk"})
        EXPECT_EQ(series.at(std::string("qarvel_collector_up{collector=\"") + name + "\"}"), 1) << name;
    int inventory = 0, sensors = 0;
    for (const auto& [name, value] : series) {
        inventory += name.rfind("node_dmi_info", 0) == 0 || name.rfind("qarvel_memory_dimm_info", 0) == 0;
        sensors += name.rfind("ipmi_", 0) == 0;
    }
    EXPECT_GT(inventory, 1);
    EXPECT_EQ(sensors, 0);
}

// A BMC that never answers (requests forwarded to a listener that reads nothing): the IPMI
// collectors give up at their time limit, the scrape still answers with the rest, and the
// next scrape does not start them again while they are still inside the library.
TEST(Collectors, TimeLimitLeavesTheScrapeAnswering) {
    TempDir dir;
    const std::string machine = dir.path() + "/machine";
    ASSERT_EQ(RunCommand("cp -r --sparse=always '" QARVEL_CURRENT_MACHINE "' " + machine), 0);
    int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &size), 0);
    std::ofstream(machine + "/ipmi/forward") << "127.0.0.1:" << ntohs(a.sin_port) << "\n";

    Process* process = nullptr;
    int port = StartExporter(process, {"--machine", machine, "--collector-timeout", "1"}, {}, dir.path() + "/log");
    std::unique_ptr<Process> owned(process);
    ASSERT_GT(port, 0);
    for (int scrape = 0; scrape < 2; ++scrape) {
        HttpConnection connection(port);
        HttpAnswer answer = connection.Get("/metrics");
        ASSERT_EQ(answer.status, 200);
        auto series = ParseExposition(answer.body);
        EXPECT_EQ(series.at("qarvel_collector_up{collector=\"ipmi\"}"), 0);
        EXPECT_EQ(series.at("qarvel_collector_up{collector=\"dmi\"}"), 1);
        EXPECT_EQ(series.count("node_dmi_info{bios_date=\"09/02/2026\",bios_vendor=\"Larkspur Firmware Inc.\","
                               "bios_version=\"5.12.0\",board_asset_tag=\"Asset-BB-3400-0007\","
                               "board_name=\"HG-S2E340\",board_serial=\"S2E340-90412\","
                               "board_vendor=\"Harrowgate Computing\",board_version=\"2.01\","
                               "product_name=\"HG-R3400 Rack Server\",product_version=\"Rev A\","
                               "system_vendor=\"Harrowgate Computing\"}"),
                  1u);
        const double ipmi_seconds = series.at("qarvel_collector_duration_seconds{collector=\"ipmi\"}");
        if (scrape == 0) {
            // Waited for its whole limit, and no longer: not for the BMC's five-second timeouts.
            EXPECT_GE(ipmi_seconds, 0.9);
            EXPECT_LT(ipmi_seconds, 5);
        } else {
            EXPECT_EQ(ipmi_seconds, 0);  // still running: not started again
        }
    }
    ::close(silent);
}

}  // namespace

// node_exporter names a hwmon chip by the device it hangs off: "<parent>_<device>" of its path,
// lower-cased, with what is not [a-z0-9:_] turned to '_'.
std::string HwmonChip(const HWMON_SENSOR& s) {
    std::string device = s.Device;
    const std::size_t slash = device.rfind('/');
    std::string chip = device.substr(device.rfind('/', slash - 1) + 1);
    for (char& c : chip) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ':') c = '_';
    }
    return chip;
}

TEST(CurrentServer, HealthSeriesEqualTheLibrarysRecords) {
    TempDir dir;
    const std::string text = Textfile(QARVEL_CURRENT_MACHINE, dir);
    auto series = ParseExposition(text);
    Records library;
    ASSERT_NE(library.handle, nullptr);
    for (const char* name : {"hwmon", "edac", "disk_health"})
        EXPECT_EQ(series.at(std::string("qarvel_collector_up{collector=\"") + name + "\"}"), 1) << name;

    static HWMON_INFO hwmon;
    ASSERT_TRUE(library.Ask("GetHealthInfo", HEALTH_HWMON, hwmon));
    int temperatures = 0, fans = 0;
    for (unsigned i = 0; i < hwmon.quantity; ++i) {
        const HWMON_SENSOR& s = hwmon.sensor[i];
        const std::string id = "{chip=\"" + HwmonChip(s) + "\",sensor=\"" + s.Input + "\"}";
        if (s.Kind == HWMON_TEMPERATURE) {
            ++temperatures;
            EXPECT_DOUBLE_EQ(series.at("node_hwmon_temp_celsius" + id), s.Value) << id;
            if (s.Flags & HWMON_HAS_CRIT) {
                EXPECT_DOUBLE_EQ(series.at("node_hwmon_temp_crit_celsius" + id), s.Crit);
            }
            EXPECT_EQ(series.count("node_hwmon_temp_max_celsius" + id), (s.Flags & HWMON_HAS_MAX) ? 1u : 0u) << id;
        }
        if (s.Kind == HWMON_FAN) {
            ++fans;
            EXPECT_EQ(series.at("node_hwmon_fan_rpm" + id), s.Value) << id;
            if (s.Flags & HWMON_HAS_MIN) {
                EXPECT_EQ(series.at("node_hwmon_fan_min_rpm" + id), s.Min) << id;
            }
        }
    }
    EXPECT_GT(temperatures, 0);
    EXPECT_GT(fans, 0);
    // Dashboards join on these two, as they do on node_exporter's.
    EXPECT_EQ(series.at("node_hwmon_chip_names{chip=\"platform_coretemp_0\",chip_name=\"coretemp\"}"), 1);
    EXPECT_EQ(series.at("node_hwmon_sensor_label{chip=\"platform_coretemp_0\",sensor=\"temp2\",label=\"core_0\"}"), 1);

    static EDAC_INFO edac;
    ASSERT_TRUE(library.Ask("GetHealthInfo", HEALTH_EDAC, edac));
    ASSERT_GT(edac.ControllerQuantity, 0u);
    EXPECT_EQ(series.at("node_edac_correctable_errors_total{controller=\"" + std::to_string(edac.controller[0].Number) +
                        "\"}"),
              edac.controller[0].Corrected);
    int counting = 0;
    for (unsigned i = 0; i < edac.DimmQuantity; ++i) {
        const EDAC_DIMM& d = edac.dimm[i];
        if (d.Corrected == 0) continue;
        ++counting;
        const std::string id =
            "{controller=\"" + std::to_string(d.Controller) + "\",location=\"" + Label(d.Location) + "\"";
        EXPECT_EQ(series.at("qarvel_edac_dimm_correctable_errors_total" + id + "}"), d.Corrected);
        ASSERT_TRUE(d.Flags & EDAC_DIMM_MATCHED);
        EXPECT_EQ(series.count("qarvel_edac_dimm_info" + id + ",label=\"" + Label(d.Label) + "\",memory_type=\"" +
                               Label(d.MemoryType) + "\",locator=\"" + Label(d.Locator) + "\",bank_locator=\"" +
                               Label(d.BankLocator) + "\",part_number=\"" + Label(d.PartNumber) +
                               "\",serial_number=\"" + Label(d.SerialNumber) + "\"}"),
                  1u);
    }
    EXPECT_EQ(counting, 1);

    static DiskHealthInformation disks;
    ASSERT_TRUE(library.Ask("GetHealthInfo", HEALTH_DISK, disks));
    int ata = 0, nvme = 0;
    for (unsigned i = 0; i < disks.quantity; ++i) {
        const DiskHealth& d = disks.disk[i];
        const std::string device = std::string("{device=\"") + d.DeviceName + "\"";
        EXPECT_EQ(series.at("qarvel_disk_health_status" + device + "}"), d.Status);
        if (d.Status != DISK_HEALTH_READ) {
            // Nothing the disk did not say now: a disk in standby is not woken for a scrape.
            EXPECT_EQ(series.count("smartctl_device_smart_status" + device + "}"), 0u);
            continue;
        }
        if (d.Given & DISK_GIVEN_TEMPERATURE) {
            EXPECT_EQ(series.at("smartctl_device_temperature" + device + ",temperature_type=\"current\"}"),
                      d.Temperature);
        }
        if (d.Kind == DISK_HEALTH_ATA) {
            ++ata;
            for (unsigned a = 0; a < d.ata.attributeCount; ++a) {
                const DiskSmartAttribute& attribute = d.ata.attribute[a];
                double raw = -1;
                const std::string id = "attribute_id=\"" + std::to_string(attribute.id) + "\"}";
                for (const auto& [name, value] : series)
                    if (name.rfind("smartctl_device_attribute" + device + ",", 0) == 0 &&
                        name.find("attribute_value_type=\"raw\"") != std::string::npos &&
                        name.size() > id.size() && name.compare(name.size() - id.size(), id.size(), id) == 0)
                        raw = value;
                EXPECT_EQ(raw, static_cast<double>(attribute.raw)) << d.DeviceName << " " << id;
            }
        }
        if (d.Kind == DISK_HEALTH_NVME) {
            ++nvme;
            EXPECT_EQ(series.at("smartctl_device_percentage_used" + device + "}"), d.nvme.percentageUsed);
            EXPECT_EQ(series.at("smartctl_device_media_errors" + device + "}"), d.nvme.mediaErrors);
        }
    }
    EXPECT_GT(ata, 0);
    EXPECT_GT(nvme, 0);
}

// The sample server has no hwmon chip, EDAC controller or disk that answers for its health: the
// three collectors say so and give nothing, and every other series is what it was without them.
// The event log's series are what GetSelInfo says, read in the same scrape as ipmi_exporter's
// sel collector reads it; a full log that dropped events says so.
TEST(CurrentServer, EventLogSeriesEqualGetSelInfo) {
    TempDir dir;
    const std::string machine = dir.path() + "/machine";
    ASSERT_EQ(RunCommand("cp -r --sparse=always '" QARVEL_CURRENT_MACHINE "' " + machine), 0);
    for (const bool full : {false, true}) {
        if (full) {
            // Its capacity down to the 8 entries it holds, and an event dropped.
            std::ofstream conf(machine + "/ipmi/bmc.conf", std::ios::app);
            conf << "sel-capacity 8\nsel-overflow yes\n";
        }
        auto series = ParseExposition(Textfile(machine, dir));
        setenv("QARVEL_MACHINE", machine.c_str(), 1);
        void* handle = dlopen(QARVEL_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr);
        auto* info = reinterpret_cast<int (*)(void*)>(dlsym(handle, "GetSelInfo"));
        SelInformation sel{};
        ASSERT_TRUE(info && info(&sel) == 0);
        // The readers go with release, as a caller unloading the library calls it; then the
        // next load serves the changed machine.
        auto* release = reinterpret_cast<int (*)()>(dlsym(handle, "release"));
        ASSERT_TRUE(release && release() == 0);
        dlclose(handle);
        EXPECT_EQ(series.at("qarvel_collector_up{collector=\"sel\"}"), 1);
        EXPECT_EQ(series.at("qarvel_sel_entries"), sel.Entries);
        EXPECT_EQ(sel.Entries, 8u);
        EXPECT_EQ(series.at("ipmi_sel_free_space_bytes"), sel.FreeBytes);
        EXPECT_EQ(series.at("qarvel_sel_overflow"), full ? 1 : 0);
        EXPECT_EQ(series.at("qarvel_sel_last_addition_timestamp_seconds"), sel.LastAddition);
        if (full) {
            EXPECT_EQ(sel.FreeBytes, 0u);
        }
    }
}

TEST(SampleServer, WithoutHealthSourcesTheOtherSeriesAreUnchanged) {
    TempDir all_dir, old_dir;
    auto all = ParseExposition(Textfile(QARVEL_SAMPLE_MACHINE, all_dir));
    auto old = ParseExposition(
        Textfile(QARVEL_SAMPLE_MACHINE, old_dir, "--collectors dmi,processor,memory,pci,disk,ipmi,bmc,bmc_watchdog"));
    // The sample server's BMC keeps no event log either.
    for (const char* name : {"hwmon", "edac", "disk_health", "sel"}) {
        const std::string up = std::string("qarvel_collector_up{collector=\"") + name + "\"}";
        EXPECT_EQ(all.at(up), 0) << name;
        all.erase(up);
        all.erase(std::string("qarvel_collector_duration_seconds{collector=\"") + name + "\"}");
    }
    for (auto* series : {&all, &old})
        for (auto it = series->begin(); it != series->end();)
            it = it->first.rfind("qarvel_collector_duration_seconds", 0) == 0 ? series->erase(it) : std::next(it);
    EXPECT_EQ(all, old);
}

namespace {

// How many series of `metric` an exposition holds.
int Series(const std::map<std::string, double>& series, const std::string& metric) {
    int n = 0;
    for (const auto& [key, value] : series) {
        (void)value;
        if (key.compare(0, metric.size() + 1, metric + "{") == 0) ++n;
    }
    return n;
}

// The large server has more of everything than the records hold: the exporter walks the
// pages, so every processor, DIMM, PCI function, disk and BMC sensor is a series.
TEST(LargeServer, EveryEntryPastTheRecordsCapacitiesIsASeries) {
    TempDir dir;
    auto series = ParseExposition(Textfile(QARVEL_LARGE_MACHINE, dir));
    EXPECT_EQ(Series(series, "qarvel_memory_dimm_info"), 32);      // the record holds 16
    EXPECT_EQ(Series(series, "qarvel_pci_function_info"), 300);    // 64
    EXPECT_EQ(Series(series, "qarvel_disk_info"), 60);             // 24
    EXPECT_EQ(Series(series, "ipmi_fan_speed_rpm") + Series(series, "ipmi_fan_speed_ratio"), 60);  // 16
    EXPECT_EQ(Series(series, "ipmi_voltage_volts"), 70);           // 32
    EXPECT_EQ(Series(series, "ipmi_temperature_celsius"), 70);     // 32
    EXPECT_EQ(series["qarvel_memory_size_bytes"], 524288.0 * 1048576.0);
}

}  // namespace
