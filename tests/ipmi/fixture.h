// Scaffolding of the IPMI tests: a machine with a simulated BMC, sensor records to fill it,
// and the discovery sequence as the facade runs it.
#ifndef QARVEL_TESTS_IPMI_FIXTURE_H
#define QARVEL_TESTS_IPMI_FIXTURE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IPMI/Sensor.h"
#include "sim/Bmc.h"
#include "tests/support/fixture.h"

namespace ipmitest {

// Requests as they appear on the wire (IPMI 2.0 appendix G).
constexpr std::uint8_t kSensorNetFn = 0x04, kAppNetFn = 0x06, kStorageNetFn = 0x0A;
constexpr std::uint8_t kGetDeviceId = 0x01, kGetSdrRepositoryInfo = 0x20, kReserveSdrRepository = 0x22,
                       kGetSdr = 0x23, kSetSensorThresholds = 0x26, kGetSensorThresholds = 0x27,
                       kGetSensorReading = 0x2D;

// Sensor records with the plainest factors: M = 1, B = 0, no exponents, unsigned, linear.
inline sim::FullSensor Temperature(std::uint8_t number, const std::string& name) {
    sim::FullSensor s;
    s.number = number;
    s.type = 1;
    s.base_unit = 1;
    s.name = name;
    return s;
}

inline sim::FullSensor Voltage(std::uint8_t number, const std::string& name) {
    sim::FullSensor s = Temperature(number, name);
    s.type = 2;
    s.base_unit = 4;
    return s;
}

inline sim::FullSensor Fan(std::uint8_t number, const std::string& name) {
    sim::FullSensor s = Temperature(number, name);
    s.type = 4;
    s.entity = 29;
    s.base_unit = 18;
    return s;
}

// A processor status sensor (sensor-specific states, no numeric reading).
inline sim::FullSensor Processor(std::uint8_t number, std::uint8_t instance) {
    sim::FullSensor s;
    s.number = number;
    s.entity = 3;
    s.instance = instance;
    s.type = 7;
    s.event_type = 0x6F;
    s.unit1 = 0xC0;
    s.name = "CPU" + std::to_string(instance) + " Status";
    return s;
}

// The discovery sequence of the facade: repository information, the walk, the tables.
inline int Discover(Sensor& reader) {
    int count = 0, version = 0;
    if (reader.GetSDRRepositoryInfo(count, version) != 0) return -1;
    if (reader.GetSensorNumbers(count) != 0 || reader.GetFanSensorsInfo(count) != 0 ||
        reader.GetVoltSensorsInfo(count) != 0 || reader.GetTemSensorsInfo(count) != 0 ||
        reader.GetProcessorSensorInfo(count) != 0)
        return -1;
    return 0;
}

class BmcTest : public qtest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        bmc = std::make_shared<sim::Bmc>();
        sim::install_bmc(*machine, bmc);
    }

    // Adds a sensor's record to the repository and sets what it reads now.
    void AddSensor(const sim::FullSensor& s, std::uint8_t reading, std::uint16_t state = 0) {
        bmc->add_record(s.record());
        bmc->sensors[s.number].reading = reading;
        bmc->sensors[s.number].state = state;
    }

    static int Discover(Sensor& reader) { return ipmitest::Discover(reader); }

    std::vector<sim::BmcRequest> Requests(std::uint8_t netfn, std::uint8_t cmd) const {
        std::vector<sim::BmcRequest> out;
        for (const auto& r : bmc->log())
            if (r.netfn == netfn && r.cmd == cmd) out.push_back(r);
        return out;
    }

    std::shared_ptr<sim::Bmc> bmc;
};

// The text a reading getter wrote.
inline std::string Text(const char* buffer) { return std::string(buffer); }

}  // namespace ipmitest

#endif
