#include "tests/support/fixture.h"

#include <unistd.h>

#include <filesystem>

#include "process/state.h"
#include "sim/loader.h"

namespace qtest {

void ResetLibrary() { qarvel::ResetProcessState(qarvel::Reset::Everything); }

void MachineTest::SetUp() {
    machine = std::make_shared<sim::Machine>();
    sim::use(machine);
    ResetLibrary();
}

void MachineTest::TearDown() { ResetLibrary(); }

void MachineTest::UseCapture(const char* directory) {
    std::string error;
    std::shared_ptr<sim::Machine> loaded = sim::load_machine(directory, error);
    ASSERT_TRUE(loaded) << error;
    machine = loaded;
    sim::use(machine);
}

void MachineTest::Publish(const sim::SmbiosTable& table, const sim::EntryPoint& entry) {
    sim::place_smbios(*machine, table, entry);
}

std::string DataPath(const std::string& relative) { return std::string(QARVEL_TEST_DATA) + "/" + relative; }

std::string TempDir(const std::string& name) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("qarvel-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

sim::SmbiosTable IdentityTable() {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, "Acme BIOS Works").string(5, "V1.02").string(8, "01/02/2024");
    t.add(1, 0x1B).string(4, "Acme Systems").string(5, "Acme Server 9").string(6, "A1").string(7, "SYS-001");
    t.add(2, 0x0F)
        .string(4, "Acme Boards")
        .string(5, "MB-9")
        .string(6, "1.0")
        .string(7, "BRD-001")
        .string(8, "TAG-1")
        .byte(14, 0);
    t.end();
    return t;
}

}  // namespace qtest
