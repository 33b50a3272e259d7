// Every export of the library, called with good arguments on the sample server, and the
// sample server itself loaded fresh for each test.
#ifndef QARVEL_TESTS_STRESS_EXPORTS_H
#define QARVEL_TESTS_STRESS_EXPORTS_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/Qarvel.h"
#include "sim/Machine.h"

namespace stress {

struct Export {
    std::string name;
    // Runs the export once with its own records; returns its result.
    std::function<int()> call;
    // What a healthy machine may answer while other threads call the library too.
    bool may_be_busy;
};

// Every export: each inventory command of GetInfo, the three sensor kinds, the threshold,
// watchdog, version and load exports, the support queries and release.
std::vector<Export> AllExports();

// The fans of the sample server: entity 29, sensor type 4. Writing their lower non-critical
// threshold with the value it already has changes nothing the readers cache.
constexpr int kFanEntity = 29, kFanType = 4, kLowerNonCritical = 0;
constexpr double kFanLowerNonCritical = 1000.0;
// The threshold the tests write: the inlet temperature's upper non-critical one, with the
// value it already has, so concurrent readers see no change. (Entity 29 also holds a
// duty-cycle sensor in percent, which cannot take an RPM value: a fan write answers -1.)
constexpr int kWriteEntity = 39, kWriteType = 1, kUpperNonCritical = 3;
constexpr double kWriteValue = 38.0;

// The sample server, loaded from its capture directory, and the library as just loaded.
class SampleServer : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::shared_ptr<sim::Machine> machine;
};

}  // namespace stress

#endif
