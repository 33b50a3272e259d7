// The FRU reader against FreeIPMI's ipmi-fru, which decodes the same image files on its
// own: every field it shows must read the same through our reader (served by the simulated
// BMC). ipmi-fru also verifies the checksums, so this checks the image builder too.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "IPMI/FRU.h"
#include "sim/Fru.h"
#include "sim/loader.h"
#include "tests/ipmi/fixture.h"
#include "tests/support/tools.h"

namespace {

using namespace ipmitest;
using FruAgainstIpmiFru = BmcTest;

// 6-bit packed ASCII (FRU 13.2), written here from the definition: four characters of
// 0x20-0x5F in each three bytes, least significant bits first.
std::vector<std::uint8_t> SixBit(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        unsigned v[4] = {0, 0, 0, 0};
        for (std::size_t k = 0; k < 4 && i + k < text.size(); ++k) v[k] = static_cast<unsigned>(text[i + k] - 0x20);
        out.push_back(static_cast<std::uint8_t>(v[0] | (v[1] << 6)));
        out.push_back(static_cast<std::uint8_t>((v[1] >> 2) | (v[2] << 4)));
        out.push_back(static_cast<std::uint8_t>((v[2] >> 4) | (v[3] << 2)));
    }
    return out;
}

// ipmi-fru's reading of an image: "FRU <label>" to value.
std::map<std::string, std::string> IpmiFru(const std::vector<std::uint8_t>& image) {
    std::map<std::string, std::string> fields;
    const std::string tool = qtest::FindTool("ipmi-fru");
    if (tool.empty()) return fields;
    const std::string path = "/tmp/qarvel-fru-" + std::to_string(getpid()) + ".bin";
    sim::write_file(path, image);
    int status = -1;
    const std::string output = qtest::RunCommand(tool + " --fru-file='" + path + "' 2>&1", status);
    std::remove(path.c_str());
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find("Error"), std::string::npos) << output;
    EXPECT_EQ(output.find("Checksum"), std::string::npos) << output;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        auto at = line.find("FRU "), colon = line.find(": ");
        if (at == std::string::npos || colon == std::string::npos) continue;
        fields[line.substr(at + 4, colon - at - 4)] = line.substr(colon + 2);
    }
    return fields;
}

// Our reading of a field as ipmi-fru shows it: binary fields as "XXh" bytes.
template <typename Record>
std::string Shown(const Record& field, const unsigned char (&text)[64], int length) {
    if (field.typeCode != 0) return std::string(reinterpret_cast<const char*>(text));
    std::string hex;
    char byte[8];
    for (int i = 0; i < length && i < 64; ++i) {
        std::snprintf(byte, sizeof byte, "%s%02Xh", i ? " " : "", text[i]);
        hex += byte;
    }
    return hex;
}

void Compare(const std::vector<std::uint8_t>& image, sim::Bmc& bmc, std::size_t at_least) {
    const auto expected = IpmiFru(image);
    bmc.fru0 = image;
    FRU fru;
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    const _BoardInfo& b = fru.BoardInfo;
    const _ChassisInfo& c = fru.ChassisInfo;
    const _ProductInfo& p = fru.ProductInfo;
    const std::map<std::string, std::string> ours = {
        {"Chassis Part Number", Shown(c.PartNumberInfo, c.PartNumberInfo.PartNumber, c.PartNumberInfo.PartNumberBytesLen)},
        {"Chassis Serial Number",
         Shown(c.SerialNumberInfo, c.SerialNumberInfo.serialNumber, c.SerialNumberInfo.serialNumberBytesLen)},
        {"Board Manufacturer",
         Shown(b.ManufacturerInfo, b.ManufacturerInfo.manufacturer, b.ManufacturerInfo.manufacturerBytesLen)},
        {"Board Product Name",
         Shown(b.ProductNameInfo, b.ProductNameInfo.productName, b.ProductNameInfo.productNameBytesLen)},
        {"Board Serial Number",
         Shown(b.SerialNumberInfo, b.SerialNumberInfo.serialNumber, b.SerialNumberInfo.serialNumberBytesLen)},
        {"Board Part Number", Shown(b.PartNumberInfo, b.PartNumberInfo.PartNumber, b.PartNumberInfo.PartNumberBytesLen)},
        {"Product Manufacturer Name", Shown(p.ManufacturerNameInfo, p.ManufacturerNameInfo.manufacturerName,
                                            p.ManufacturerNameInfo.manufacturerNameBytesLen)},
        {"Product Name", Shown(p.ProductNameInfo, p.ProductNameInfo.productName, p.ProductNameInfo.productNameBytesLen)},
        {"Product Part/Model Number",
         Shown(p.PartModuleInfo, p.PartModuleInfo.PartModule, p.PartModuleInfo.PartModuleBytesLen)},
        {"Product Version", Shown(p.ProductVersionInfo, p.ProductVersionInfo.ProductVersion,
                                  p.ProductVersionInfo.ProductVersionBytesLen)},
        {"Product Serial Number",
         Shown(p.SerialNumberInfo, p.SerialNumberInfo.serialNumber, p.SerialNumberInfo.serialNumberBytesLen)},
        {"Product Asset Tag", Shown(p.AssetTagInfo, p.AssetTagInfo.AssetTag, p.AssetTagInfo.AssetTagInfoBytesLen)},
    };
    std::size_t compared = 0;
    for (const auto& [label, value] : ours) {
        auto it = expected.find(label);
        if (it == expected.end()) {
            EXPECT_EQ(value, "") << label << " is not shown by ipmi-fru";
            continue;
        }
        EXPECT_EQ(value, it->second) << label;
        ++compared;
    }
    EXPECT_GE(compared, at_least);
}

TEST_F(FruAgainstIpmiFru, SampleServerInventory) {
    auto file = sim::read_file(std::string(QARVEL_SAMPLE_MACHINE) + "/ipmi/fru0.bin");
    ASSERT_TRUE(file.has_value());
    Compare(std::vector<std::uint8_t>(file->begin(), file->end()), *bmc, 12);
}

TEST_F(FruAgainstIpmiFru, EveryFieldEncoding) {
    const auto image =
        sim::FruImage()
            .chassis(0x11, {sim::fru_field(2, SixBit("CH-42")), sim::fru_field(1, {0x02, 0x00, 0x02, 0x04, 0x0B, 0x07})})
            .board(0, 60 * 24 * 365,
                   {sim::fru_field(2, SixBit("ACME BOARDS (R)")), sim::fru_text("X11-Pro"),
                    sim::fru_field(0, {0x12, 0x34, 0xAB}), sim::fru_field(1, {0x01, 0x0C, 0x02, 0x0A, 0x0B})})
            .product(0, {sim::fru_text("Acme"), sim::fru_field(2, SixBit("SERVER_9 [TOWER]")), sim::fru_text("M-9"),
                         sim::fru_field(1, {0x03, 0x0C, 0x01}), sim::fru_field(2, SixBit("SN#00042")),
                         sim::fru_text(std::string(63, 'T'))})
            .bytes();
    Compare(image, *bmc, 12);
}

}  // namespace
