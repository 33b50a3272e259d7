// Debian's Prometheus server scraping the exporter, which serves the current server through
// Qarvel-sim.so: what Prometheus stored equals what the library's records say.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "api/types.h"
#include "tests/exporter/support.h"

namespace {

using namespace exporter_test;

std::string UrlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// The instant vector of a PromQL query, as Prometheus's HTTP API answers it.
nlohmann::json Query(int port, const std::string& promql) {
    HttpConnection connection(port);
    HttpAnswer answer = connection.Get("/api/v1/query?query=" + UrlEncode(promql));
    if (answer.status != 200) return nlohmann::json::array();
    nlohmann::json document = nlohmann::json::parse(answer.body, nullptr, false);
    if (document.is_discarded() || document.value("status", "") != "success") return nlohmann::json::array();
    return document["data"]["result"];
}

double Value(const nlohmann::json& sample) { return std::stod(sample["value"][1].get<std::string>()); }

TEST(Prometheus, StoresWhatTheRecordsSay) {
    if (std::system("command -v prometheus >/dev/null 2>&1") != 0) GTEST_SKIP() << "no prometheus (tools/setup)";
    TempDir dir;
    Process* exporter_process = nullptr;
    const int exporter_port =
        StartExporter(exporter_process, {"--machine", QARVEL_CURRENT_MACHINE}, {}, dir.path() + "/exporter.log");
    std::unique_ptr<Process> exporter_owner(exporter_process);
    ASSERT_GT(exporter_port, 0);

    std::ofstream(dir.path() + "/prometheus.yml") << "global:\n"
                                                     "  scrape_interval: 1s\n"
                                                     "scrape_configs:\n"
                                                     "  - job_name: qarvel\n"
                                                     "    static_configs:\n"
                                                     "      - targets: ['127.0.0.1:"
                                                  << exporter_port << "']\n";
    const int port = FreePort();
    ASSERT_GT(port, 0);
    Process prometheus({"/usr/bin/prometheus", "--config.file=" + dir.path() + "/prometheus.yml",
                        "--storage.tsdb.path=" + dir.path() + "/data",
                        "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                       {}, dir.path() + "/prometheus.log");
    ASSERT_GT(prometheus.pid(), 0);

    // Up once the first scrape is stored; a minute at most on a loaded machine.
    bool scraped = false;
    for (int i = 0; i < 600 && !scraped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        nlohmann::json up = Query(port, "up{job=\"qarvel\"}");
        scraped = up.size() == 1 && Value(up[0]) == 1;
    }
    ASSERT_TRUE(scraped) << ReadFile(dir.path() + "/prometheus.log");

    setenv("QARVEL_MACHINE", QARVEL_CURRENT_MACHINE, 1);
    void* library = dlopen(QARVEL_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto* get_ipmi_info = reinterpret_cast<int (*)(unsigned long, void*)>(dlsym(library, "GetIpmiInfo"));
    auto* get_info = reinterpret_cast<int (*)(unsigned long, void*)>(dlsym(library, "GetInfo"));

    // A temperature.
    static TemperatureInformation temperatures;
    ASSERT_EQ(get_ipmi_info(INFO_TEMPERATURE, &temperatures), 0);
    const TEMPERATURE_PROBE& t = temperatures.temperature[0];
    nlohmann::json found = Query(port, std::string("ipmi_temperature_celsius{name=\"") + t.IdString + "\"}");
    ASSERT_EQ(found.size(), 1u) << t.IdString;
    EXPECT_EQ(Value(found[0]), std::strtod(t.CurrentTemperature, nullptr));
    EXPECT_EQ(found[0]["metric"]["id"], std::to_string(t.sensorNumber));

    // A fan's threshold.
    static FanInformation fans;
    ASSERT_EQ(get_ipmi_info(INFO_FAN, &fans), 0);
    const FAN_DEVICE& f = fans.fan[0];
    found = Query(port, std::string("qarvel_ipmi_fan_speed_threshold_rpm{name=\"") + f.IdString +
                            "\",threshold=\"lower_non_critical\"}");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Value(found[0]), f.sti.LowerNonCriticalThreshold);

    // A DIMM's labels.
    static MemoryInformation memory;
    ASSERT_EQ(get_info(INFO_MEMORY, &memory), 0);
    const BANK& b = memory.bank[3];
    found = Query(port, "qarvel_memory_dimm_info{dimm=\"3\"}");
    ASSERT_EQ(found.size(), 1u);
    const nlohmann::json& labels = found[0]["metric"];
    EXPECT_EQ(labels["manufacturer"], b.manufacturer);
    EXPECT_EQ(labels["type"], b.type);
    EXPECT_EQ(labels["type_detail"], b.TypeDetail);
    EXPECT_EQ(labels["slot"], std::to_string(b.SlotNumber));
    EXPECT_EQ(labels["size"], b.size);
    EXPECT_EQ(labels["speed"], b.speed);

    // A disk's size, found by its serial number.
    static StorageInformation disks;
    ASSERT_EQ(get_info(INFO_STORAGE, &disks), 0);
    const DriveInfo& d = disks.driveArray[3];
    found = Query(port, std::string("qarvel_disk_size_bytes * on(disk) group_left(serial_number) "
                                    "qarvel_disk_info{serial_number=\"") +
                            d.SerialNo + "\"}");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Value(found[0]), std::strtod(d.size, nullptr));

    // Both servers stopped by their process IDs, each ending cleanly.
    EXPECT_EQ(prometheus.Stop(), 0);
    EXPECT_EQ(exporter_owner->Stop(), 0);
}

}  // namespace
