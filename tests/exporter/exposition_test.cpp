// The exposition writer: what firmware texts can do to the format, and the numbers read out
// of the records' texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "exporter/exposition.h"

namespace {

using exporter::Exposition;

TEST(Exposition, LabelValuesKeepTheFormatValidWhateverTheFirmwareSays) {
    Exposition out;
    out.family("qarvel_x_info", "gauge", "help with a \\ backslash\nand a line");
    // A quote, a backslash, a line feed, a byte above ASCII and a control byte.
    out.sample("qarvel_x_info", {{"name", std::string("a\"b\\c\nd\xE9\x01", 9)}}, 1);
    EXPECT_EQ(out.text(),
              "# HELP qarvel_x_info help with a \\\\ backslash\\nand a line\n"
              "# TYPE qarvel_x_info gauge\n"
              "qarvel_x_info{name=\"a\\\"b\\\\c\\nd\\\\xE9\\\\x01\"} 1\n");
}

TEST(Exposition, EachSeriesOnceAndFamiliesTogether) {
    Exposition a, b;
    a.family("m", "gauge", "h");
    a.family("n", "gauge", "h");
    a.sample("m", {{"k", "1"}}, 1);
    a.sample("n", {}, 5);
    a.sample("m", {{"k", "1"}}, 2);  // the same series again: dropped
    b.family("m", "gauge", "other help");
    b.sample("m", {{"k", "2"}}, 3);
    b.family("empty", "gauge", "never sampled");
    a.merge(b);
    EXPECT_EQ(a.text(),
              "# HELP m h\n# TYPE m gauge\nm{k=\"1\"} 1\nm{k=\"2\"} 3\n"
              "# HELP n h\n# TYPE n gauge\nn 5\n");
}

TEST(Exposition, NumbersReadBackExactly) {
    Exposition out;
    out.family("v", "gauge", "h");
    const double values[] = {5.01, 1099511627776.0, 0.1 + 0.2, NAN, 1e-7};
    for (int i = 0; i < 5; ++i) out.sample("v", {{"i", std::to_string(i)}}, values[i]);
    const std::string text = out.text();
    EXPECT_NE(text.find("v{i=\"0\"} 5.01\n"), std::string::npos) << text;
    EXPECT_NE(text.find("v{i=\"1\"} 1099511627776\n"), std::string::npos) << text;
    EXPECT_NE(text.find("v{i=\"3\"} NaN\n"), std::string::npos) << text;
    std::size_t at = text.find("v{i=\"2\"} ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::strtod(text.c_str() + at + 9, nullptr), 0.1 + 0.2);
    at = text.find("v{i=\"4\"} ");
    EXPECT_EQ(std::strtod(text.c_str() + at + 9, nullptr), 1e-7);
}

TEST(Exposition, LeadingNumbersOfRecordTexts) {
    struct Case {
        const char* text;
        bool known;
        double value;
        const char* unit;
    } cases[] = {
        {"45.00degree C", true, 45, "degree C"}, {"5400RPM", true, 5400, "RPM"}, {"45%", true, 45, "%"},
        {"65536 MB", true, 65536, "MB"},         {"Unknown", false, 0, ""},      {"0xFF", false, 0, ""},
        {"", false, 0, ""},                      {"-5.5V", true, -5.5, "V"},     {"Bios Not Provid", false, 0, ""},
    };
    for (const Case& c : cases) {
        double value = 0;
        std::string unit;
        EXPECT_EQ(exporter::LeadingNumber(c.text, std::strlen(c.text) + 1, value, unit), c.known) << c.text;
        if (c.known) {
            EXPECT_EQ(value, c.value) << c.text;
            EXPECT_EQ(unit, c.unit) << c.text;
        }
    }
    // A full field without its terminator is read up to its end, not past it.
    const char field[4] = {'1', '2', '3', '4'};
    double value = 0;
    std::string unit;
    ASSERT_TRUE(exporter::LeadingNumber(field, sizeof field, value, unit));
    EXPECT_EQ(value, 1234);
}

}  // namespace
