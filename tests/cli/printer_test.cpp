// The report's printer: a 64-bit counter is written exactly in both forms, the text line and
// the JSON integer, whatever the platform's long (32 bits on i386) or a double can hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/report.h"

namespace {

std::string Printed(cli::Printer::Format format) {
    std::FILE* out = std::tmpfile();
    cli::Printer printer(out, format);
    printer.section("counts");
    printer.count("small", 17);
    printer.count("beyond_long", 4294967296ULL);
    printer.count("beyond_double", 18446744073709551615ULL);  // 2^64 - 1: no double holds it
    printer.finish();
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    text.resize(std::fread(&text[0], 1, text.size(), out));
    std::fclose(out);
    return text;
}

TEST(Printer, CountersAreExactInTextAndJson) {
    EXPECT_EQ(Printed(cli::Printer::Format::Text),
              "\n[counts]\nsmall=17\nbeyond_long=4294967296\nbeyond_double=18446744073709551615\n");
    const auto json = nlohmann::json::parse(Printed(cli::Printer::Format::Json));
    const auto& record = json["sections"][0]["record"];
    ASSERT_TRUE(record["beyond_double"].is_number_unsigned()) << record.dump();
    EXPECT_EQ(record["beyond_double"].get<unsigned long long>(), 18446744073709551615ULL);
    EXPECT_EQ(record["beyond_long"].get<unsigned long long>(), 4294967296ULL);
    EXPECT_EQ(record["small"].get<unsigned long long>(), 17u);
}

}  // namespace
