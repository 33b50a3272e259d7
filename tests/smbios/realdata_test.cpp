// Tables captured from real machines, read through the capture loader, against what
// dmidecode printed for the same bytes.
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SmBios/SmBios.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

// The "Key: value" lines of every block of a dmidecode listing, by block title; blocks of one
// title keep their table order. "@handle" holds the block's handle ("0x0005").
using Block = std::map<std::string, std::string>;
using Listing = std::multimap<std::string, Block>;

Listing ParseDmidecode(const std::string& path) {
    Listing listing;
    std::ifstream in(path);
    std::string line;
    std::map<std::string, std::string>* block = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("Handle ", 0) == 0) {
            std::string title;
            std::getline(in, title);
            block = &listing.emplace(title, Block{})->second;
            (*block)["@handle"] = line.substr(7, 6);
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

// Each captured machine, loaded through the capture loader, with dmidecode's listing of it.
class RealTables : public qtest::MachineTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        qtest::MachineTest::SetUp();
        std::string dir = qtest::DataPath(std::string("realdata/smbios/") + GetParam());
        std::string error;
        std::shared_ptr<sim::Machine> loaded = sim::load_machine(dir, error);
        ASSERT_NE(loaded, nullptr) << error;
        sim::use(loaded);
        listing = ParseDmidecode(dir + "/dmidecode.txt");
    }
    Listing listing;
};

TEST_P(RealTables, IdentityTextsEqualDmidecodes) {
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

// --- the inventory structures ----------------------------------------------------------------

std::vector<Block> Blocks(const Listing& listing, const std::string& title) {
    std::vector<Block> blocks;
    auto range = listing.equal_range(title);
    for (auto it = range.first; it != range.second; ++it) blocks.push_back(it->second);
    return blocks;
}

std::string Get(const Block& block, const std::string& key) {
    auto it = block.find(key);
    return it == block.end() ? "<no key>" : it->second;
}

// A string as a field of `size` bytes gets it: cut to size - 1; "Not Specified" is dmidecode's
// word for a string the table does not have.
std::string StringIn(const Block& block, const std::string& key, std::size_t size) {
    std::string value = Get(block, key);
    return value == "Not Specified" ? "" : value.substr(0, size - 1);
}

// "256 kB", "1 MB", "4 GB" in kilobytes.
long long Kilobytes(const std::string& text) {
    std::istringstream in(text);
    long long n = -1;
    std::string unit;
    in >> n >> unit;
    if (unit == "kB") return n;
    if (unit == "MB") return n * 1024;
    if (unit == "GB") return n * 1024 * 1024;
    return -1;
}

// dmidecode's "3200 MHz" or "1333 MT/s" as the library's "3200 MHZ".
std::string Megahertz(const std::string& text) {
    std::istringstream in(text);
    long n = -1;
    in >> n;
    return n < 0 ? text : std::to_string(n) + " MHZ";
}

std::string Read(const std::function<int(char*)>& getter) {
    char buffer[80] = {};
    getter(buffer);
    return buffer;
}

TEST_P(RealTables, InventoryTextsEqualDmidecodes) {
    SmBios reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    // A processor without a cache of some level: "Bios Not Provide" from SMBIOS 2.3 on.
    bool version_2_3_on = reader.SmBiosEntry.MajorVersion == 2 && reader.SmBiosEntry.MinorVersion >= 3;

    auto processors = Blocks(listing, "Processor Information");
    auto caches = Blocks(listing, "Cache Information");
    EXPECT_EQ(reader.GetProcessorVirtualQuantity(), static_cast<int>(processors.size()));
    int checked = 0;
    for (int n = 1; n <= static_cast<int>(processors.size()); ++n) {
        const Block& cpu = processors[n - 1];
        SCOPED_TRACE("processor " + std::to_string(n));
        EXPECT_EQ(Read([&](char* b) { return reader.GetProcessorMaxSpeed(n, b); }), Megahertz(Get(cpu, "Max Speed")));
        EXPECT_EQ(Read([&](char* b) { return reader.GetProcessorCurrentSpeed(n, b); }),
                  Megahertz(Get(cpu, "Current Speed")));
        EXPECT_EQ(Read([&](char* b) { return reader.GetProcessorExternalClock(n, b); }),
                  Megahertz(Get(cpu, "External Clock")));
        EXPECT_EQ(Read([&](char* b) { return reader.GetProcessorManufacturer(n, b, 48); }),
                  StringIn(cpu, "Manufacturer", 48));
        const char* levels[] = {"L1 Cache Handle", "L2 Cache Handle", "L3 Cache Handle"};
        for (int level = 0; level < 3; ++level) {
            std::string handle = Get(cpu, levels[level]);
            SCOPED_TRACE(std::string(levels[level]) + " " + handle);
            if (handle == "Not Provided") {
                std::string none = version_2_3_on ? "Bios Not Provide" : "None";
                EXPECT_EQ(Read([&](char* b) { return reader.GetCacheMaxSize(n, level, b); }), none);
                continue;
            }
            const Block* cache = nullptr;
            for (const Block& c : caches)
                if (Get(c, "@handle") == handle) cache = &c;
            ASSERT_NE(cache, nullptr);
            EXPECT_EQ(Read([&](char* b) { return reader.GetCacheInstalledSize(n, level, b); }),
                      std::to_string(Kilobytes(Get(*cache, "Installed Size"))) + " KB");
            EXPECT_EQ(Read([&](char* b) { return reader.GetCacheMaxSize(n, level, b); }),
                      std::to_string(Kilobytes(Get(*cache, "Maximum Size"))) + " KB");
            EXPECT_EQ(Read([&](char* b) { return reader.GetCacheDesignation(n, level, b, 32); }),
                      StringIn(*cache, "Socket Designation", 32));
            std::string speed = Get(*cache, "Speed");
            EXPECT_EQ(Read([&](char* b) { return reader.GetCacheSpeed(n, level, b); }),
                      speed == "Unknown" ? speed : speed.substr(0, speed.find(' ')) + "ns");
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);

    auto devices = Blocks(listing, "Memory Device");
    for (int k = 1; k <= static_cast<int>(devices.size()); ++k) {
        const Block& device = devices[k - 1];
        SCOPED_TRACE("memory device " + std::to_string(k));
        std::string size = Get(device, "Size");
        std::string expected = size == "No Module Installed" ? "No Mem Device"
                               : size == "Unknown"          ? "Unknown"
                               : Kilobytes(size) % 1024 == 0 ? std::to_string(Kilobytes(size) / 1024) + " MB"
                                                             : std::to_string(Kilobytes(size)) + " KB";
        EXPECT_EQ(Read([&](char* b) { return reader.GetMemDevSize(k, b); }), expected);
        // dmidecode says nothing more of an empty slot.
        if (device.count("Speed")) {
            std::string speed = Get(device, "Speed");
            EXPECT_EQ(Read([&](char* b) { return reader.GetMemDevSpeed(k, b); }),
                      speed == "Unknown" ? "" : Megahertz(speed));
        }
        if (device.count("Manufacturer")) {
            EXPECT_EQ(Read([&](char* b) { return reader.GetMemDevManufacturer(k, b, 32); }),
                      StringIn(device, "Manufacturer", 32));
        }
    }

    for (const Block& module : Blocks(listing, "Memory Module Information")) {
        int handle = std::stoi(Get(module, "@handle"), nullptr, 16);
        SCOPED_TRACE("memory module " + Get(module, "@handle"));
        std::string size = Get(module, "Installed Size");
        EXPECT_EQ(Read([&](char* b) { return reader.GetMemModuleSize(handle, b); }),
                  size == "Not Installed" ? "" : size.substr(0, size.find(" MB") + 3));
        std::string speed = Get(module, "Current Speed");
        EXPECT_EQ(Read([&](char* b) { return reader.GetMemModuleSpeed(handle, b); }), speed == "Unknown" ? "" : speed);
    }

    // The port types these tables use are named alike by the library and by dmidecode.
    auto ports = Blocks(listing, "Port Connector Information");
    EXPECT_EQ(reader.GetPortQuantity(), static_cast<int>(ports.size()));
    for (int n = 1; n <= static_cast<int>(ports.size()); ++n) {
        SCOPED_TRACE("port " + std::to_string(n));
        std::string designator = StringIn(ports[n - 1], "External Reference Designator", 1000);
        if (designator.size() > 31) designator = designator.substr(0, 28) + "...";
        EXPECT_EQ(Read([&](char* b) { return reader.GetPortDecription(n, b, 32); }), designator);
        EXPECT_EQ(Read([&](char* b) { return reader.GetPortType(n, b); }), Get(ports[n - 1], "Port Type"));
    }

    auto supplies = Blocks(listing, "System Power Supply");
    EXPECT_EQ(reader.GetPSQuantity(15), static_cast<int>(supplies.size()));
    for (int n = 1; n <= static_cast<int>(supplies.size()); ++n) {
        const Block& supply = supplies[n - 1];
        SCOPED_TRACE("power supply " + std::to_string(n));
        EXPECT_EQ(Read([&](char* b) { return reader.GetPSDeviceName(15, n, b, 32); }), StringIn(supply, "Name", 32));
        EXPECT_EQ(Read([&](char* b) { return reader.GetPSManufacturer(15, n, b, 32); }),
                  StringIn(supply, "Manufacturer", 32));
        EXPECT_EQ(Read([&](char* b) { return reader.GetPSSerialNo(15, n, b, 16); }),
                  StringIn(supply, "Serial Number", 16));
        // One of hot replaceable, present, unplugged alone has a text; the rest is "Other".
        int bits = (Get(supply, "Hot Replaceable") == "Yes" ? 1 : 0) |
                   (Get(supply, "Status").rfind("Present", 0) == 0 ? 2 : 0) | (Get(supply, "Plugged") == "No" ? 4 : 0);
        const char* status = bits == 1 ? "hot replaceable" : bits == 2 ? "present" : bits == 4 ? "unplugged from the wall"
                                                                                            : "Other";
        EXPECT_EQ(Read([&](char* b) { return reader.GetPSStatus(15, n, b); }), status);
    }

    auto fans = Blocks(listing, "Cooling Device");
    EXPECT_EQ(reader.GetFanQuantity(), static_cast<int>(fans.size()));
    for (int n = 1; n <= static_cast<int>(fans.size()); ++n) {
        std::string speed = fans[n - 1].count("Nominal Speed") ? Get(fans[n - 1], "Nominal Speed")
                                                               : "SmBios can not supply this information";
        if (speed == "Unknown Or Non-rotating") speed = "Unknown or the FAN is non-rotating";
        EXPECT_EQ(Read([&](char* b) { return reader.GetFanSpeed(n, b); }), speed) << "fan " << n;
    }
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
