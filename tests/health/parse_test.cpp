// The attribute texts as drivers write them, and what is no such text.
#include <gtest/gtest.h>

#include <cstring>

#include "health/parse.h"

namespace {

using qarvel::HwmonItem;
using qarvel::HwmonKind;

bool Integer(const char* text, long long& value) { return qarvel::ParseSysfsInteger(text, std::strlen(text), value); }
bool Counter(const char* text, std::uint64_t& value) { return qarvel::ParseSysfsCounter(text, std::strlen(text), value); }

TEST(HealthParse, IntegersAsSysfsWritesThem) {
    long long v = 0;
    EXPECT_TRUE(Integer("48000\n", v));
    EXPECT_EQ(v, 48000);
    EXPECT_TRUE(Integer("-273150\n", v));  // an NVMe drive's "no lower limit"
    EXPECT_EQ(v, -273150);
    EXPECT_TRUE(Integer("-9223372036854775808", v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_TRUE(Integer("9223372036854775807\n", v));
    EXPECT_EQ(v, INT64_MAX);
    v = 7;
    for (const char* bad : {"", "\n", "-", "+", "12a", "1 2", "0x10", "9223372036854775808", "-9223372036854775809",
                            "--1", "N/A\n"})
        EXPECT_FALSE(Integer(bad, v)) << bad;
    EXPECT_EQ(v, 7);  // left alone by every failure
    // Bytes after the length given are not looked at.
    EXPECT_TRUE(qarvel::ParseSysfsInteger("12345", 2, v));
    EXPECT_EQ(v, 12);
}

TEST(HealthParse, CountersNearTheirLimits) {
    std::uint64_t v = 0;
    EXPECT_TRUE(Counter("4294967295\n", v));
    EXPECT_EQ(v, 4294967295ULL);
    EXPECT_TRUE(Counter("4294967296\n", v));  // past a 32-bit counter: kept whole
    EXPECT_EQ(v, 4294967296ULL);
    EXPECT_TRUE(Counter("18446744073709551615\n", v));
    EXPECT_EQ(v, UINT64_MAX);
    EXPECT_FALSE(Counter("18446744073709551616\n", v));
    EXPECT_FALSE(Counter("99999999999999999999", v));
    EXPECT_FALSE(Counter("-1", v));
    EXPECT_EQ(v, UINT64_MAX);
}

TEST(HealthParse, AttributeNamesTakenApart) {
    qarvel::HwmonAttribute a{};
    ASSERT_TRUE(qarvel::ParseHwmonAttribute("temp12_crit_hyst", a));
    EXPECT_EQ(a.kind, HwmonKind::Temperature);
    EXPECT_EQ(a.index, 12u);
    EXPECT_EQ(a.item, HwmonItem::CritHyst);
    ASSERT_TRUE(qarvel::ParseHwmonAttribute("in0_input", a));
    EXPECT_EQ(a.kind, HwmonKind::Voltage);
    EXPECT_EQ(a.index, 0u);
    ASSERT_TRUE(qarvel::ParseHwmonAttribute("humidity1_input", a));
    EXPECT_EQ(a.kind, HwmonKind::Humidity);
    ASSERT_TRUE(qarvel::ParseHwmonAttribute("fan3_fault", a));
    EXPECT_EQ(a.item, HwmonItem::Fault);
    ASSERT_TRUE(qarvel::ParseHwmonAttribute("power1_average", a));
    EXPECT_EQ(a.kind, HwmonKind::Power);
    EXPECT_EQ(a.item, HwmonItem::Average);
    ASSERT_TRUE(qarvel::ParseHwmonAttribute("curr2_lcrit_alarm", a));
    EXPECT_EQ(a.item, HwmonItem::LowCritAlarm);
    for (const char* other : {"name", "uevent", "pwm1", "pwm1_enable", "temp1_offset", "temp1_type", "in0input",
                              "temp_input", "fan1_pulses", "in0_beep", "temp1_input_x", "temp1234567_input",
                              "intrusion0_alarm", "temp1_"})
        EXPECT_FALSE(qarvel::ParseHwmonAttribute(other, a)) << other;
}

TEST(HealthParse, LinksResolvedAsTheKernelResolvesThem) {
    EXPECT_EQ(qarvel::ResolveLink("/sys/class/hwmon/hwmon3", "../../devices/platform/coretemp.0/hwmon/hwmon3"),
              "/sys/devices/platform/coretemp.0/hwmon/hwmon3");
    EXPECT_EQ(qarvel::ResolveLink("/sys/devices/platform/coretemp.0/hwmon/hwmon3/device", "../../../coretemp.0"),
              "/sys/devices/platform/coretemp.0");
    EXPECT_EQ(qarvel::ResolveLink("/sys/a/link", "/sys/b/./c/"), "/sys/b/c");
    EXPECT_EQ(qarvel::ResolveLink("/sys/link", "../../../../x"), "/x");  // no climbing above the root
}

TEST(HealthParse, TextsFitForAField) {
    EXPECT_EQ(qarvel::SysfsText("  Package id 0\n", 15), "Package id 0");
    EXPECT_EQ(qarvel::SysfsText("a\tb\x01\xff\n", 6), "a?b??");
    EXPECT_EQ(qarvel::SysfsText("\n", 1), "");
}

TEST(HealthParse, CsrowChannelNames) {
    unsigned channel = 99;
    bool label = false;
    ASSERT_TRUE(qarvel::ParseCsrowChannelAttribute("ch3_ce_count", channel, label));
    EXPECT_EQ(channel, 3u);
    EXPECT_FALSE(label);
    ASSERT_TRUE(qarvel::ParseCsrowChannelAttribute("ch0_dimm_label", channel, label));
    EXPECT_EQ(channel, 0u);
    EXPECT_TRUE(label);
    for (const char* other : {"ce_count", "ch_ce_count", "chx_ce_count", "ch1_ue_count", "ch1_ce_count2", "ch"})
        EXPECT_FALSE(qarvel::ParseCsrowChannelAttribute(other, channel, label)) << other;
}

TEST(HealthParse, DimmLabelsNamingMemoryDevices) {
    const std::vector<qarvel::MemoryDeviceTexts> devices = {
        {"P0-DIMM0A", "P0_Node0_ChannelA_Dimm0", "", ""},
        {"P0-DIMM1A", "P0_Node0_ChannelB_Dimm0", "", ""},
        {"DIMM 0", "BANK 0", "", ""},
        {"DIMM 0", "BANK 1", "", ""},
    };
    // Firmware-first: the kernel's "BANK DEVICE".
    EXPECT_EQ(qarvel::MatchDimmLabel("P0_Node0_ChannelB_Dimm0 P0-DIMM1A", devices), 1);
    // A label a vendor's tool wrote: the device locator alone.
    EXPECT_EQ(qarvel::MatchDimmLabel("P0-DIMM0A\n", devices), 0);
    EXPECT_EQ(qarvel::MatchDimmLabel("BANK 1 DIMM 0", devices), 3);
    // "DIMM 0" is in two banks: which one is not known.
    EXPECT_EQ(qarvel::MatchDimmLabel("DIMM 0", devices), -1);
    // The kernel's own default labels name no SMBIOS device; nor does a part of a locator.
    EXPECT_EQ(qarvel::MatchDimmLabel("CPU_SrcID#0_MC#0_Chan#0_DIMM#0", devices), -1);
    EXPECT_EQ(qarvel::MatchDimmLabel("P0-DIMM0", devices), -1);
    EXPECT_EQ(qarvel::MatchDimmLabel("", devices), -1);
    // The kernel cuts labels at 31 characters: a cut "BANK DEVICE" still names its device,
    // a shorter part of one does not.
    const std::vector<qarvel::MemoryDeviceTexts> long_names = {
        {"P1-DIMM7A", "P1_Node0_ChannelH_Dimm0", "", ""}, {"P1-DIMM6A", "P1_Node0_ChannelG_Dimm0", "", ""}};
    EXPECT_EQ(qarvel::MatchDimmLabel("P1_Node0_ChannelH_Dimm0 P1-DIMM", long_names), 0);
    EXPECT_EQ(qarvel::MatchDimmLabel("P1_Node0_ChannelH_Dimm0 P1-DIM", long_names), -1);
    EXPECT_EQ(qarvel::MatchDimmLabel("P1_Node0_Channel", long_names), -1);
    EXPECT_EQ(qarvel::MatchDimmLabel("P0-DIMM0A", {}), -1);
}

}  // namespace
