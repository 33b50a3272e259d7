// Tables captured from real machines, read through the capture loader, against what
// dmidecode printed for the same bytes.
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "SmBios/SmBios.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

// The "Key: value" lines of every block of a dmidecode listing, by block title.
using Listing = std::multimap<std::string, std::map<std::string, std::string>>;

Listing ParseDmidecode(const std::string& path) {
    Listing listing;
    std::ifstream in(path);
    std::string line;
    std::map<std::string, std::string>* block = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("Handle ", 0) == 0) {
            std::string title;
            std::getline(in, title);
            block = &listing.emplace(title, std::map<std::string, std::string>{})->second;
        } else if (block && line.size() > 1 && line[0] == '\t' && line[1] != '\t') {
            auto colon = line.find(": ");
            if (colon != std::string::npos) (*block)[line.substr(1, colon - 1)] = line.substr(colon + 2);
        } else if (line.empty()) {
            block = nullptr;
        }
    }
    return listing;
}

// dmidecode's text for a string as the library would fill a field of `size` bytes: cut to
// size - 1, and nothing for a string the table does not have.
std::string Expected(const Listing& listing, const std::string& block, const std::string& key, std::size_t size) {
    auto it = listing.find(block);
    if (it == listing.end()) return "<no block>";
    auto value = it->second.find(key);
    if (value == it->second.end()) return "<no key>";
    if (value->second == "Not Specified") return "";
    return value->second.substr(0, size - 1);
}

template <typename Getter>
std::string Actual(SmBios& reader, Getter getter, std::size_t size) {
    char field[64] = {};
    (reader.*getter)(field, static_cast<unsigned int>(size));
    return std::string(field);
}

class RealTables : public qtest::MachineTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealTables, IdentityTextsEqualDmidecodes) {
    std::string dir = qtest::DataPath(std::string("realdata/smbios/") + GetParam());
    std::string error;
    std::shared_ptr<sim::Machine> loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    sim::use(loaded);
    Listing listing = ParseDmidecode(dir + "/dmidecode.txt");

    SmBios reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    EXPECT_EQ(reader.IsMatchSmBios(), 1);

    struct Case {
        const char* block;
        const char* key;
        int (SmBios::*getter)(char*, unsigned int);
        std::size_t size;  // the record field each text is written to
    };
    const Case cases[] = {
        {"BIOS Information", "Vendor", &SmBios::GetBiosVendor, 32},
        {"BIOS Information", "Version", &SmBios::GetBiosVersion, 32},
        {"BIOS Information", "Release Date", &SmBios::GetBiosReleaseDate, 16},
        {"System Information", "Manufacturer", &SmBios::GetSysManufacturer, 32},
        {"System Information", "Product Name", &SmBios::GetSysProductname, 32},
        {"System Information", "Version", &SmBios::GetSysVersion, 16},
        {"System Information", "Serial Number", &SmBios::GetSystemSerialNumber, 64},
        {"Base Board Information", "Manufacturer", &SmBios::GetBoardManufacturer, 32},
        {"Base Board Information", "Product Name", &SmBios::GetBoardProduct, 32},
        {"Base Board Information", "Version", &SmBios::GetBoardVersion, 64},
        {"Base Board Information", "Serial Number", &SmBios::GetBoardSerialNo, 16},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Actual(reader, c.getter, c.size), Expected(listing, c.block, c.key, c.size))
            << c.block << " / " << c.key;
}

INSTANTIATE_TEST_SUITE_P(Captured, RealTables,
                         ::testing::Values("Asus-UX307LA", "Gigabyte-GA-MA74GMT-S2", "SuperMicro-X9DBL",
                                           "Synology-RS3614xsp", "satellite_pro_l70_testdata"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
