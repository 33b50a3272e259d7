// The typed values of the JSON report: each parser against the texts the library writes, and
// the texts that mean "not known", which must give nothing rather than a number.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "cli/report_typed.h"

namespace {

using namespace cli::typed;

TEST(TypedValues, UnitsAreTurnedIntoBaseUnits) {
    EXPECT_EQ(Hertz("3000 MHZ"), 3e9);
    EXPECT_EQ(Hertz("100 MHZ"), 1e8);
    EXPECT_EQ(Bytes("256 KB"), 262144);
    EXPECT_EQ(Bytes("16384 MB"), 17179869184.0);
    EXPECT_EQ(Bytes("1200243695616"), 1200243695616.0);  // a disk's size is given in bytes
    EXPECT_EQ(MegabyteCount("131072"), 137438953472.0);
    EXPECT_EQ(Seconds("1ns"), 1e-9);
    EXPECT_EQ(Seconds("42 ns"), 42e-9);
    EXPECT_EQ(Volts("12.00V"), 12.0);
    EXPECT_EQ(Volts("1050 mv"), 1.05);  // the same double as the literal, not 1050 * 0.001
    EXPECT_EQ(Volts("0.00V"), 0.0);
    EXPECT_EQ(Volts("-12.20V"), -12.2);
    EXPECT_EQ(Celsius("45 C"), 45.0);
    EXPECT_EQ(Celsius("23.00degree C"), 23.0);
    EXPECT_EQ(Celsius("212.00degree F"), 100.0);
    EXPECT_EQ(Celsius("-40.00degree F"), -40.0);
    EXPECT_NEAR(*Celsius("300.00degree K"), 26.85, 1e-9);
    EXPECT_EQ(Rpm("8200 rpm"), 8200.0);
    EXPECT_EQ(Rpm("5200RPM"), 5200.0);
    EXPECT_EQ(Rpm("0RPM"), 0.0);
    EXPECT_EQ(Ratio("45%"), 0.45);
}

TEST(TypedValues, TextsThatKnowNoValueGiveNone) {
    // What the records hold when the firmware did not say, cut to their fields' lengths.
    for (const char* text : {"", "Unknown", "Bios Not Provid", "Bios Not Provide", "None", "No Mem Device",
                             "Unknown or the ", "not given"}) {
        EXPECT_FALSE(Hertz(text)) << text;
        EXPECT_FALSE(Bytes(text)) << text;
        EXPECT_FALSE(Seconds(text)) << text;
        EXPECT_FALSE(Volts(text)) << text;
        EXPECT_FALSE(Celsius(text)) << text;
        EXPECT_FALSE(Rpm(text)) << text;
        EXPECT_FALSE(Ratio(text)) << text;
    }
    // A BMC's "no limit" bytes are shown raw in hexadecimal: no number, even where the digits
    // could be read as one.
    EXPECT_FALSE(Volts("FFV"));
    EXPECT_FALSE(Volts("7FV"));
    EXPECT_FALSE(Celsius("7Fdegree C"));
}

TEST(TypedValues, OnlyTheParsersOwnUnitsAndWholeTextsAreTaken) {
    EXPECT_FALSE(Hertz("3000"));           // no unit
    EXPECT_FALSE(Hertz("3000 MHz x"));     // something after the unit
    EXPECT_FALSE(Hertz("3000  MHZ"));      // one blank at most
    EXPECT_FALSE(Rpm("45%"));              // a share is no speed: it has its own key
    EXPECT_FALSE(Ratio("5200RPM"));
    EXPECT_FALSE(Hertz("42 ns"));          // a module's access time is no clock
    EXPECT_FALSE(Seconds("2400 MHZ"));
    EXPECT_FALSE(Volts("12.00Amps"));
    EXPECT_FALSE(Bytes("1e3"));            // no exponents, signs of other kinds or hexadecimal
    EXPECT_FALSE(Bytes("0x100"));
    EXPECT_FALSE(Bytes("+5"));
    EXPECT_FALSE(Volts("1.V"));
    EXPECT_FALSE(Volts(".5V"));
    EXPECT_FALSE(Volts("-V"));
    EXPECT_FALSE(Bytes("inf"));
    EXPECT_FALSE(Bytes("nan"));
}

TEST(TypedValues, FieldsAreFoundWhateverTheirIndices) {
    auto units = [](const std::string& path) {
        std::set<std::string> found;
        for (const cli::Conversion* c : cli::ConversionsOf(path)) found.insert(c->unit);
        return found;
    };
    EXPECT_EQ(units("cpu[1].cache[2].MaxSize"), std::set<std::string>{"bytes"});
    EXPECT_EQ(units("cpu[12].MaxSpeed"), std::set<std::string>{"hz"});
    EXPECT_EQ(units("bank[0].speed"), (std::set<std::string>{"hz", "seconds"}));
    EXPECT_EQ(units("fan[3].speed"), (std::set<std::string>{"rpm", "ratio"}));
    EXPECT_EQ(units("TotalSize"), std::set<std::string>{"bytes"});
    EXPECT_TRUE(units("cpu[0].family").empty());
    EXPECT_TRUE(units("MaxSpeed").empty());          // not inside a processor entry
    EXPECT_TRUE(units("sti.MaxThreshold").empty());  // already a number
}

// The installed schema names every typed key the report writes, as a number or null, and
// requires it wherever it requires the field beside it.
TEST(TypedValues, TheSchemaDeclaresEveryTypedKey) {
    std::ifstream in(QARVEL_SOURCE_DIR "/cli/report.schema.json");
    ASSERT_TRUE(in);
    nlohmann::json schema = nlohmann::json::parse(in);
    const nlohmann::json& defs = schema["$defs"];
    // Every definition with a "properties" object, and the ones nested in arrays' items.
    std::vector<const nlohmann::json*> objects;
    std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& node) {
        if (node.is_object()) {
            if (node.contains("properties") && node["properties"].is_object()) objects.push_back(&node);
            for (const auto& item : node) walk(item);
        } else if (node.is_array()) {
            for (const auto& item : node) walk(item);
        }
    };
    walk(defs);
    for (const cli::Conversion& c : cli::Conversions()) {
        std::string field = c.field;
        std::string name = field.substr(field.rfind('.') == std::string::npos ? 0 : field.rfind('.') + 1);
        const std::string key = name + "_" + c.unit;
        bool declared = false;
        for (const nlohmann::json* object : objects) {
            if (!(*object)["properties"].contains(key)) continue;
            declared = true;
            EXPECT_EQ((*object)["properties"][key]["$ref"], "#/$defs/typed") << key;
            bool field_required = false, key_required = false;
            for (const auto& r : object->value("required", nlohmann::json::array())) {
                field_required |= r == name;
                key_required |= r == key;
            }
            EXPECT_TRUE(key_required || !field_required) << key;
        }
        EXPECT_TRUE(declared) << key << " (" << c.field << ") is not in the schema";
    }
    EXPECT_EQ(defs["typed"]["type"], nlohmann::json({"number", "null"}));
    EXPECT_EQ(schema["properties"]["schema_version"]["const"], cli::kJsonSchemaVersion);
}

}  // namespace
