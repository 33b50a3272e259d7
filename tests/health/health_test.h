// Shared by the health tests: records asked as the export does, and files that fail.
#ifndef QARVEL_TESTS_HEALTH_HEALTH_TEST_H
#define QARVEL_TESTS_HEALTH_HEALTH_TEST_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "api/health_types.h"
#include "health/hwmon.h"
#include "sim/Machine.h"

namespace qtest {

// A sysfs attribute whose reads fail as a driver's show function makes them fail (the
// open succeeds; the read returns the error).
class FailingAttribute : public sim::Node {
public:
    explicit FailingAttribute(int error) : error_(error) {}
    long read(std::uint64_t, void*, std::size_t) override { return -error_; }

private:
    int error_;
};

inline void FailReads(sim::Machine& machine, const std::string& path, int error) {
    machine.add_device(path, [error] { return std::make_shared<FailingAttribute>(error); });
}

inline std::unique_ptr<HWMON_INFO> Hwmon(int expected = 0) {
    auto info = std::make_unique<HWMON_INFO>();
    std::memset(info.get(), 0, sizeof *info);
    EXPECT_EQ(qarvel::FillHwmon(info.get()), expected);
    return info;
}

inline std::unique_ptr<EDAC_INFO> Edac(int expected = 0) {
    auto info = std::make_unique<EDAC_INFO>();
    std::memset(info.get(), 0, sizeof *info);
    EXPECT_EQ(qarvel::FillEdac(info.get()), expected);
    return info;
}

// The sensor with this chip and input, or null.
inline const HWMON_SENSOR* Find(const HWMON_INFO& info, const std::string& device, const std::string& input) {
    for (unsigned i = 0; i < info.quantity; ++i)
        if (device == info.sensor[i].Device && input == info.sensor[i].Input) return &info.sensor[i];
    return nullptr;
}

}  // namespace qtest

#endif
