// qarvel --json: one valid document holding every field of the text report.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/e2e/qarvel_run.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

// The text report's lines of each section: "[title]" followed by its lines.
std::vector<std::pair<std::string, std::vector<std::string>>> Sections(const std::string& text) {
    std::vector<std::pair<std::string, std::vector<std::string>>> sections;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']')
            sections.push_back({line.substr(1, line.size() - 2), {}});
        else if (!sections.empty())
            sections.back().second.push_back(line);
    }
    return sections;
}

// A typed value set beside its text ("MaxSpeed_hz" beside "MaxSpeed"): the text report has
// no line of its own for it.
bool TypedKey(const Json& object, const std::string& key) {
    std::size_t underscore = key.rfind('_');
    return underscore != std::string::npos && object.contains(key.substr(0, underscore));
}

// A JSON record back as the text report's FIELD=value lines.
void Flatten(const Json& value, const std::string& path, std::vector<std::string>& out) {
    if (value.is_object()) {
        for (const auto& [key, item] : value.items())
            if (!TypedKey(value, key)) Flatten(item, path.empty() ? key : path + "." + key, out);
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i) Flatten(value[i], path + "[" + std::to_string(i) + "]", out);
    } else if (value.is_string()) {
        out.push_back(path + "=" + value.get<std::string>());
    } else if (value.is_number_float()) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", value.get<double>());
        out.push_back(path + "=" + text);
    } else {
        out.push_back(path + "=" + value.dump());
    }
}

std::vector<std::string> Lines(const Json& section) {
    std::vector<std::string> lines;
    for (const Json& call : section["calls"])
        lines.push_back(call["call"].get<std::string>() + "=" + call["result"].dump());
    for (const Json& symbol : section["missing"])
        lines.push_back(symbol.get<std::string>() + ": not exported by this library");
    Flatten(section["record"], "", lines);
    return lines;
}

bool ValidForPython(const std::string& document) {
    std::string path = fs::temp_directory_path() / ("qarvel-json-" + std::to_string(::getpid()));
    std::ofstream(path) << document;
    bool valid = std::system(("python3 -m json.tool '" + path + "' >/dev/null").c_str()) == 0;
    fs::remove(path);
    return valid;
}

// Every line of the text report is in the JSON document, in the same section, and nothing else.
void ExpectTheSameReport(const std::string& arguments) {
    e2e::Outcome text = e2e::RunQarvel(arguments);
    e2e::Outcome json = e2e::RunQarvel("--json " + arguments);
    EXPECT_EQ(json.status, text.status) << json.err;
    ASSERT_TRUE(ValidForPython(json.out)) << json.out.substr(0, 2000);
    Json document = Json::parse(json.out);
    auto sections = Sections(text.out);
    ASSERT_EQ(document["sections"].size(), sections.size());
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Json& section = document["sections"][i];
        EXPECT_EQ(section["section"], sections[i].first);
        auto expected = sections[i].second, got = Lines(section);
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected) << "section " << sections[i].first;
    }
}

TEST(JsonReport, HoldsEveryFieldOfTheTextReport) {
    ExpectTheSameReport("--machine " QARVEL_SAMPLE_MACHINE);
    ExpectTheSameReport("--machine " QARVEL_SAMPLE_MACHINE " threshold 39 1 3 46 watchdog arm 1 60000 watchdog show");
}

// One field of each kind of record, against the line the text report prints.
TEST(JsonReport, RecordsAreObjectsAndEntriesArrays) {
    e2e::Outcome text = e2e::RunQarvel("--machine " QARVEL_SAMPLE_MACHINE);
    e2e::Outcome run = e2e::RunQarvel("--json --machine " QARVEL_SAMPLE_MACHINE);
    ASSERT_EQ(run.status, 0) << run.err;
    Json document = Json::parse(run.out);
    std::map<std::string, Json> by_title;
    for (const Json& s : document["sections"]) by_title[s["section"].get<std::string>()] = s;
    auto line = [&](const std::string& field, const Json& value) {
        std::vector<std::string> lines;
        Flatten(value, field, lines);
        ASSERT_EQ(lines.size(), 1u) << field;
        EXPECT_NE(text.out.find("\n" + lines[0] + "\n"), std::string::npos) << lines[0];
    };
    line("ProductName", by_title["base board"]["record"]["ProductName"]);
    line("SysProductName", by_title["system"]["record"]["SysProductName"]);
    line("cpu[1].cache[2].designation", by_title["processors"]["record"]["cpu"][1]["cache"][2]["designation"]);
    line("bank[0].size", by_title["memory"]["record"]["bank"][0]["size"]);
    line("port[0].description", by_title["I/O ports"]["record"]["port"][0]["description"]);
    line("PowerSupply[0].manufacturer", by_title["power supplies"]["record"]["PowerSupply"][0]["manufacturer"]);
    line("fan[0].speed", by_title["fans"]["record"]["fan"][0]["speed"]);
    line("dev[0].MemBase", by_title["PCI devices"]["record"]["dev"][0]["MemBase"]);
    line("driveArray[0].model", by_title["IDE drives"]["record"]["driveArray"][0]["model"]);
    line("partition[0].FileSystem", by_title["partitions"]["record"]["partition"][0]["FileSystem"]);
    line("UsageRate[0]", by_title["usage"]["record"]["UsageRate"][0]);
    line("majorFirmwareRevision", by_title["IPMI"]["record"]["majorFirmwareRevision"]);
    line("voltage[1].sti.UpperCriticalThresholdValue",
         by_title["IPMI voltages"]["record"]["voltage"][1]["sti"]["UpperCriticalThresholdValue"]);
    line("timeOutValue", by_title["watchdog"]["record"]["timeOutValue"]);
    line("product.AssetTag", by_title["FRU"]["record"]["product"]["AssetTag"]);
    EXPECT_EQ(by_title["FRU"]["record"]["board"]["ProductName"], "HG-S2D220");
    EXPECT_TRUE(by_title["IPMI voltages"]["record"]["voltage"][1]["sti"]["UpperCriticalThresholdValue"].is_number());
    EXPECT_TRUE(by_title["processors"]["record"]["cpu"].is_array());
    EXPECT_EQ(by_title["IPMI temperatures"]["calls"][0]["call"], "GetIpmiInfo(INFO_TEMPERATURE)");
}

// Firmware texts are bytes: those that are not printable ASCII (so not valid UTF-8 either)
// are escaped as the text report escapes them, and the document stays valid.
TEST(JsonReport, FirmwareBytesThatAreNoTextKeepTheDocumentValid) {
    std::string dir = e2e::CopyMachine(QARVEL_SAMPLE_MACHINE, "json-bytes");
    ASSERT_NE(dir, "");
    std::string dump;
    {
        std::ifstream in(dir + "/smbios.bin", std::ios::binary);
        dump.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::size_t at = dump.find("HG-S2D220");
    ASSERT_NE(at, std::string::npos);
    dump.replace(at, 3, "\xFF\xC3\x28");  // a lone byte, then a broken two-byte sequence
    std::ofstream(dir + "/smbios.bin", std::ios::binary) << dump;

    e2e::Outcome run = e2e::RunQarvel("--json --machine " + dir);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(ValidForPython(run.out));
    Json document = Json::parse(run.out);
    EXPECT_EQ(document["sections"][1]["record"]["ProductName"], "\\xFF\\xC3(S2D220");
    fs::remove_all(dir);
}

TEST(JsonReport, TheLibrarysOwnPrintsStayOutOfTheDocument) {
    // A machine without /proc/stat: the library prints its own complaint on standard output.
    std::string dir = fs::temp_directory_path() / ("qarvel-json-empty-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    e2e::Outcome run = e2e::RunQarvel("--json --machine " + dir);
    EXPECT_TRUE(ValidForPython(run.out)) << run.out.substr(0, 400);
    EXPECT_NE(run.err.find("File"), std::string::npos) << run.err;
    fs::remove_all(dir);
}

}  // namespace
