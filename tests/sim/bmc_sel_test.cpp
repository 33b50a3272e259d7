// The simulated BMC's System Event Log: its commands as a BMC answers them, and its capture
// files (ipmi/sel.bin and the log's lines of bmc.conf) written and loaded back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kStorage = 0x0A, kReserve = 0x42, kGetEntry = 0x43, kAdd = 0x44;

sim::BmcResponse Ask(sim::Bmc& bmc, std::uint8_t cmd, Bytes data = {}) {
    sim::BmcRequest r;
    r.netfn = kStorage;
    r.cmd = cmd;
    r.data = std::move(data);
    return bmc.handle(r);
}

std::array<std::uint8_t, 16> Oem(std::uint8_t tag) {
    return {0, 0, 0xE0, tag, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
}

TEST(BmcSel, EntriesPartialReadsReservationsAndAdds) {
    sim::Bmc bmc;
    EXPECT_EQ(Ask(bmc, 0x40).completion, sim::completion::kInvalidCommand);  // no log
    bmc.sel.present = true;
    EXPECT_EQ(Ask(bmc, kGetEntry, {0, 0, 0, 0, 0, 0xFF}).completion, sim::completion::kNotPresent);
    const auto added = Ask(bmc, kAdd, {0, 0, 0x02, 0, 0, 0, 0, 0x41, 0, 4, 1, 2, 1, 0x59, 0x60, 0x50});
    EXPECT_EQ(added.data, (Bytes{1, 0}));
    bmc.add_sel(Oem(7));
    // An OEM record without a timestamp keeps its bytes 3 to 6; a system event is stamped.
    EXPECT_EQ(bmc.sel.entries[1][3], 7);
    EXPECT_EQ(bmc.sel.entries[0][6], 0x60);

    auto whole = Ask(bmc, kGetEntry, {0, 0, 0, 0, 0, 0xFF});
    ASSERT_EQ(whole.data.size(), 18u);
    EXPECT_EQ(whole.data[0], 2);  // the next ID
    EXPECT_EQ(whole.data[2], 1);  // the record's own
    EXPECT_EQ(Ask(bmc, kGetEntry, {0, 0, 0xFF, 0xFF, 0, 0xFF}).data[0], 0xFF);
    // A part needs the current reservation.
    EXPECT_EQ(Ask(bmc, kGetEntry, {0, 0, 2, 0, 4, 3}).completion, sim::completion::kReservationInvalid);
    const Bytes r = Ask(bmc, kReserve).data;
    auto part = Ask(bmc, kGetEntry, {r[0], r[1], 2, 0, 4, 3});
    EXPECT_EQ(part.data, (Bytes{0xFF, 0xFF, 1, 2, 3}));
    EXPECT_EQ(Ask(bmc, kGetEntry, {r[0], r[1], 9, 0, 0, 0xFF}).completion, sim::completion::kNotPresent);
    EXPECT_EQ(Ask(bmc, kGetEntry, {r[0], r[1], 2, 0, 16, 1}).completion, sim::completion::kOutOfRange);

    bmc.sel.capacity = 2;
    EXPECT_EQ(Ask(bmc, kAdd, Bytes(16, 0)).completion, 0xC4);
    EXPECT_TRUE(bmc.sel.overflow);
    EXPECT_EQ(Ask(bmc, 0x40).data[13] & 0x80, 0x80);
}

TEST(BmcSel, TheLogAndItsQuirksAreWrittenAndLoadedBack) {
    sim::Bmc bmc;
    bmc.sel.present = true;
    bmc.sel.time_base = 0x60000000;
    for (std::uint8_t i = 0; i < 3; ++i) bmc.add_sel(Oem(i));
    bmc.sel.capacity = 40;
    bmc.sel.reserve_refused = 0xD4;
    bmc.sel.cancel_after = 7;
    bmc.sel.endless_chain = true;
    bmc.sel.erase_polls = 2;
    const std::string dir = qtest::TempDir("sel-capture");
    ASSERT_TRUE(sim::write_ipmi(dir, bmc));
    std::string error;
    auto loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    ASSERT_NE(loaded->bmc, nullptr);
    const sim::BmcSel& s = loaded->bmc->sel;
    EXPECT_TRUE(s.present);
    EXPECT_EQ(s.entries, bmc.sel.entries);
    EXPECT_EQ(s.capacity, 40u);
    EXPECT_EQ(s.added, bmc.sel.added);
    EXPECT_EQ(s.erased, 0xFFFFFFFFu);
    EXPECT_EQ(s.time_base, 0x60000000u);
    EXPECT_EQ(s.reserve_refused, 0xD4);
    EXPECT_EQ(s.cancel_after, 7u);
    EXPECT_TRUE(s.endless_chain);
    EXPECT_EQ(s.erase_polls, 2u);
    // New entries go after the highest ID loaded.
    EXPECT_EQ(loaded->bmc->add_sel(Oem(9)), 4);

    // A log cut inside a record keeps the whole ones; reserved IDs are refused.
    Bytes bin = sim::sel_bin(bmc);
    bin.resize(bin.size() - 5);
    sim::write_file(dir + "/ipmi/sel.bin", bin);
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("sel.bin: 11 bytes after the last whole record"), std::string::npos) << error;
    sim::Bmc cut;
    EXPECT_FALSE(sim::load_sel_bin(std::string(bin.begin(), bin.end()), cut, error));
    EXPECT_EQ(cut.sel.entries.size(), 2u);
    // FFFFh names no entry, and is refused; 0000h is QEMU's first entry, and is served.
    bin.assign(16, 0xFF);
    EXPECT_FALSE(sim::load_sel_bin(std::string(bin.begin(), bin.end()), cut, error));
    EXPECT_NE(error.find("reserved ID 65535"), std::string::npos) << error;
    bin.assign(16, 0);
    sim::Bmc zero;
    EXPECT_TRUE(sim::load_sel_bin(std::string(bin.begin(), bin.end()), zero, error)) << error;
    EXPECT_EQ(zero.sel.entries.size(), 1u);
    EXPECT_EQ(zero.sel.next_id, 1u);
    fs::remove_all(dir);

    for (const char* bad : {"sel maybe", "sel-capacity 0xFFFF", "sel-overflow 1", "sel-chain loops",
                            "sel-reserve-refused 0x100", "sel-added -1"}) {
        sim::Bmc b;
        EXPECT_FALSE(sim::read_bmc_conf(bad, b, error)) << bad;
        EXPECT_EQ(error.rfind("1: ", 0), 0u) << bad << ": " << error;
    }
}

}  // namespace
