// A captured pci/ tree read by the scan, checked against lspci reading the same
// configuration files (as an `lspci -x` style dump through `lspci -F`).
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <list>
#include <map>
#include <sstream>

#include "PCI/PCIscan.h"
#include "sim/Machine.h"
#include "sim/Pci.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;

struct Identity {
    unsigned base, sub, interface, vendor, device, revision;
    bool operator==(const Identity&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Identity& i) {
    char text[64];
    std::snprintf(text, sizeof text, "%02x%02x/%02x %04x:%04x rev %02x", i.base, i.sub, i.interface, i.vendor,
                  i.device, i.revision);
    return out << text;
}

// The dump format lspci -F reads: a line naming the function, then "offset: bytes" lines.
std::string HexDump(const fs::path& pci_dir) {
    std::ostringstream dump;
    for (const auto& entry : fs::directory_iterator(pci_dir)) {
        auto bytes = sim::read_file(entry.path().string());
        dump << entry.path().filename().string() << " captured function\n";
        for (std::size_t offset = 0; offset < bytes->size(); offset += 16) {
            char line[24];
            std::snprintf(line, sizeof line, "%02zx:", offset);
            dump << line;
            for (std::size_t i = offset; i < offset + 16 && i < bytes->size(); ++i) {
                std::snprintf(line, sizeof line, " %02x", static_cast<unsigned char>((*bytes)[i]));
                dump << line;
            }
            dump << "\n";
        }
        dump << "\n";
    }
    return dump.str();
}

// lspci -n -mm lines: BB:DD.F "CCSS" "VVVV" "DDDD" -rRR -pPP "SVVV" "SDDD"
std::map<std::string, Identity> Lspci(const std::string& dump_path) {
    std::map<std::string, Identity> out;
    std::string lspci = qtest::FindTool("lspci");
    if (lspci.empty()) return out;
    int status = -1;
    std::istringstream lines(qtest::RunCommand(lspci + " -F '" + dump_path + "' -n -mm 2>/dev/null", status));
    EXPECT_EQ(status, 0);
    for (std::string line; std::getline(lines, line);) {
        char slot[16];
        Identity id{};
        unsigned cls = 0;
        if (std::sscanf(line.c_str(), "%15s \"%4x\" \"%4x\" \"%4x\"", slot, &cls, &id.vendor, &id.device) != 4) {
            ADD_FAILURE() << "unexpected lspci line: " << line;
            continue;
        }
        id.base = cls >> 8;
        id.sub = cls & 0xFF;
        if (auto r = line.find(" -r"); r != std::string::npos) std::sscanf(line.c_str() + r + 3, "%x", &id.revision);
        if (auto p = line.find(" -p"); p != std::string::npos) std::sscanf(line.c_str() + p + 3, "%x", &id.interface);
        out[slot] = id;
    }
    return out;
}

TEST(PciCapture, ScanReadsWhatLspciReadsFromTheSameConfigFiles) {
    fs::path dir = fs::temp_directory_path() / ("qarvel-pci-capture-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    auto write = [&](const char* name, sim::ConfigSpace config, std::size_t size) {
        auto bytes = config.bytes();
        bytes.resize(size, 0);
        ASSERT_TRUE(sim::write_file((dir / "pci" / name).string(), std::string(bytes.begin(), bytes.end())));
    };
    // As sysfs gives them: 64 bytes to an unprivileged reader, 256 or 4096 to root.
    write("00:00.0", sim::ConfigSpace().ids(0x8086, 0x29C0).class_code(0x06, 0x00, 0x00).revision(0x02), 256);
    // Function 0 of each multi-function device says so, or no scan looks further.
    write("00:1f.0", sim::ConfigSpace().ids(0x8086, 0x2916).class_code(0x06, 0x01, 0x00).header_type(0x80), 256);
    write("00:1d.0", sim::ConfigSpace().ids(0x8086, 0x2934).class_code(0x0C, 0x03, 0x00).header_type(0x80), 256);
    write("0a:1f.0", sim::ConfigSpace().ids(0x14E4, 0x1639).class_code(0x02, 0x00, 0x00).header_type(0x80), 256);
    write("00:1f.2", sim::ConfigSpace().ids(0x8086, 0x2920).class_code(0x01, 0x01, 0x8A).revision(0x02), 64);
    write("00:1d.7", sim::ConfigSpace().ids(0x8086, 0x293A).class_code(0x0C, 0x03, 0x20).revision(0x02), 256);
    write("00:07.0", sim::ConfigSpace().ids(0x1AF4, 0x1045).class_code(0xFF, 0x00, 0x00).revision(0x01), 4096);
    write("03:00.0", sim::ConfigSpace().ids(0x1AF4, 0x1042).class_code(0x01, 0x80, 0x00).revision(0x01), 4096);
    write("0a:1f.7", sim::ConfigSpace().ids(0x14E4, 0x1639).class_code(0x02, 0x00, 0x00).revision(0x20), 256);
    write("0b:00.0", sim::ConfigSpace().ids(0x10DE, 0x1EB8).class_code(0x03, 0x02, 0x00).revision(0xA1), 256);
    write("80:00.0", sim::ConfigSpace().ids(0x8086, 0x3C00).class_code(0x06, 0x04, 0x00).revision(0x07), 256);
    std::string dump_path = (dir / "lspci.dump").string();
    ASSERT_TRUE(sim::write_file(dump_path, HexDump(dir / "pci")));

    std::map<std::string, Identity> expected = Lspci(dump_path);
    ASSERT_EQ(expected.size(), 11u) << "lspci did not read every function of the dump";
    // The scan stops at bus 10: lspci's view without buses 0x0b and above.
    expected.erase("0b:00.0");
    expected.erase("80:00.0");

    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine(dir.string(), error);
    ASSERT_NE(machine, nullptr) << error;
    sim::use(machine);
    std::map<std::string, Identity> scanned;
    {
        PCIscan scan;
        std::list<PCIdevice> devices;
        ASSERT_EQ(scan.getAllDevice(devices), 0);
        for (const PCIdevice& d : devices) {
            char slot[16];
            std::snprintf(slot, sizeof slot, "%02x:%02x.%x", d.getBusNo(), d.getDevNo(), d.getFuncNo());
            scanned[slot] = {d.getClassCode(), d.getSubClassCode(), d.getProgIF(), d.getVendorID(),
                             d.getHeader().DeviceID, d.getRevisionID()};
        }
    }
    EXPECT_EQ(scanned, expected);
    sim::use(nullptr);
    fs::remove_all(dir);
}

}  // namespace
