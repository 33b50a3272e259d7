// Shared test scaffolding: a fresh simulated machine per test and the export layer reset.
#ifndef QARVEL_TESTS_SUPPORT_FIXTURE_H
#define QARVEL_TESTS_SUPPORT_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/Machine.h"
#include "sim/Smbios.h"

namespace qtest {

// Every test gets its own machine, served by the simulated platform, and starts with the
// library in its just-loaded state.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Publishes `table` behind an entry point (SMBIOS 2.7 at 0xF0800 unless told otherwise).
    void Publish(const sim::SmbiosTable& table, const sim::EntryPoint& entry = {});
    // Serves the machine of a capture directory instead of the test's own.
    void UseCapture(const char* directory);

    std::shared_ptr<sim::Machine> machine;
};

// Returns the library to its just-loaded state: readers released, busy flags clear.
void ResetLibrary();

// Path of a file under tests/data.
std::string DataPath(const std::string& relative);

// A fresh, empty directory under the temporary directory, unique to this process and `name`.
std::string TempDir(const std::string& name);

// A small, complete identity: BIOS, system and one base board.
sim::SmbiosTable IdentityTable();

}  // namespace qtest

#endif
