// Placing one new raw threshold among the six. The expected values follow the ordering
// rules by hand: only a strict inversion moves a neighbour, to one step past its neighbour,
// never past the raw range.
#include <array>

#include "IPMI/IPMIsupport.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using ThresholdOrder = BmcTest;

// The six in ascending order: lower non-recoverable, lower critical, lower non-critical,
// upper non-critical, upper critical, upper non-recoverable.
using Six = std::array<int, 6>;

SensorThresholdInfoRaw Record(const Six& t, unsigned char settable = 0x3F, unsigned char min = 0,
                              unsigned char max = 255) {
    SensorThresholdInfoRaw r{};
    r.LowerNonRecoverThreshold = static_cast<unsigned char>(t[0]);
    r.LowerCriticalThreshold = static_cast<unsigned char>(t[1]);
    r.LowerNonCriticalThreshold = static_cast<unsigned char>(t[2]);
    r.UpperNonCriticalThresholdValue = static_cast<unsigned char>(t[3]);
    r.UpperCriticalThresholdValue = static_cast<unsigned char>(t[4]);
    r.UpperNonRecoverThresholdValue = static_cast<unsigned char>(t[5]);
    r.settableFlag = settable;
    r.MinThreshold = min;
    r.MaxThreshold = max;
    return r;
}

Six Of(const SensorThresholdInfoRaw& r) {
    return {r.LowerNonRecoverThreshold,       r.LowerCriticalThreshold,      r.LowerNonCriticalThreshold,
            r.UpperNonCriticalThresholdValue, r.UpperCriticalThresholdValue, r.UpperNonRecoverThresholdValue};
}

const Six kStart = {10, 20, 30, 200, 210, 220};

TEST_F(ThresholdOrder, EveryCaseOfTheOrdering) {
    IPMIsupport facade;
    struct Case {
        const char* what;
        int flag;
        int value;
        unsigned char settable, min, max;
        Six expected;
    };
    const Case cases[] = {
        {"lower non-critical 15", IPMIsupport::THRESHOLD_LOWER_WARNING, 15, 0x3F, 0, 255, {10, 14, 15, 200, 210, 220}},
        {"lower non-critical 5", IPMIsupport::THRESHOLD_LOWER_WARNING, 5, 0x3F, 0, 255, {3, 4, 5, 200, 210, 220}},
        {"lower non-critical 1", IPMIsupport::THRESHOLD_LOWER_WARNING, 1, 0x3F, 0, 255, {0, 0, 1, 200, 210, 220}},
        {"upper non-critical 215", IPMIsupport::THRESHOLD_UPPER_WARNING, 215, 0x3F, 0, 255,
         {10, 20, 30, 215, 216, 220}},
        {"upper non-critical 250, cap 252", IPMIsupport::THRESHOLD_UPPER_WARNING, 250, 0x3F, 0, 252,
         {10, 20, 30, 250, 251, 252}},
        {"upper non-critical 255", IPMIsupport::THRESHOLD_UPPER_WARNING, 255, 0x3F, 0, 255,
         {10, 20, 30, 255, 255, 255}},
        {"lower critical 2, floor 5", IPMIsupport::THRESHOLD_LOWER_CRITICAL, 2, 0x3F, 5, 255,
         {5, 2, 30, 200, 210, 220}},
        {"lower critical 10", IPMIsupport::THRESHOLD_LOWER_CRITICAL, 10, 0x3F, 0, 255, {10, 10, 30, 200, 210, 220}},
        {"upper critical 250 climbs", IPMIsupport::THRESHOLD_UPPER_CRITICAL, 250, 0x3F, 0, 255,
         {10, 20, 30, 200, 250, 251}},
        {"upper non-recoverable 5 is never clamped", IPMIsupport::THRESHOLD_UPPER_NON_RECOVERABLE, 5, 0x3F, 0, 255,
         {0, 1, 2, 3, 4, 5}},
        {"only upper critical settable", IPMIsupport::THRESHOLD_UPPER_CRITICAL, 100, 0x10, 0, 255,
         {10, 20, 30, 200, 100, 220}},
        {"upper critical not settable", IPMIsupport::THRESHOLD_UPPER_CRITICAL, 1, 0x07, 0, 255,
         {10, 20, 30, 200, 210, 220}},
        {"nothing settable", IPMIsupport::THRESHOLD_LOWER_WARNING, 1, 0x00, 0, 255, {10, 20, 30, 200, 210, 220}},
        {"flag out of range", 6, 1, 0x3F, 0, 255, {10, 20, 30, 200, 210, 220}},
        // Lower non-critical not settable: the lower critical's upper neighbour is upper
        // non-critical, and the lower non-critical itself never moves.
        {"gap in the settable ones", IPMIsupport::THRESHOLD_LOWER_CRITICAL, 205, 0x3E, 0, 255,
         {10, 205, 30, 206, 210, 220}},
    };
    for (const Case& c : cases) {
        SensorThresholdInfoRaw r = Record(kStart, c.settable, c.min, c.max);
        EXPECT_EQ(facade.SetThresholdOrder(r, c.flag, static_cast<unsigned char>(c.value)), 0) << c.what;
        EXPECT_EQ(Of(r), c.expected) << c.what;
        EXPECT_EQ(r.settableFlag, c.settable);
        EXPECT_EQ(r.MinThreshold, c.min);
        EXPECT_EQ(r.MaxThreshold, c.max);
    }
    EXPECT_TRUE(bmc->log().empty());  // nothing reaches the BMC
}

// Thresholds read back from the BMC carry no raw range: both bounds are 0. The moved
// neighbours are then bounded by the byte, not forced to 0.
TEST_F(ThresholdOrder, ARecordWithoutARangeIsBoundedByTheByte) {
    IPMIsupport facade;
    SensorThresholdInfoRaw r = Record(kStart, 0x3F, 0, 0);
    facade.SetThresholdOrder(r, IPMIsupport::THRESHOLD_UPPER_WARNING, 215);
    EXPECT_EQ(Of(r), (Six{10, 20, 30, 215, 216, 220}));
    r = Record(kStart, 0x3F, 0, 0);
    facade.SetThresholdOrder(r, IPMIsupport::THRESHOLD_UPPER_WARNING, 254);
    EXPECT_EQ(Of(r), (Six{10, 20, 30, 254, 255, 255}));
    r = Record(kStart, 0x3F, 0, 0);
    facade.SetThresholdOrder(r, IPMIsupport::THRESHOLD_LOWER_WARNING, 5);
    EXPECT_EQ(Of(r), (Six{3, 4, 5, 200, 210, 220}));
}

}  // namespace
