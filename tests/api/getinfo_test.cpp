// GetInfo's frame: busy flag, lazy reader, return codes; the identity commands.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "process/state.h"
#include "tests/support/fixture.h"

namespace {

using GetInfoFrame = qtest::MachineTest;

template <typename Record>
Record Filled(unsigned char pattern) {
    Record r;
    std::memset(&r, pattern, sizeof r);
    return r;
}

template <typename Record>
bool Untouched(const Record& r, unsigned char pattern) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    for (std::size_t i = 0; i < sizeof r; ++i)
        if (bytes[i] != pattern) return false;
    return true;
}

TEST_F(GetInfoFrame, BaseBoardAndSystemRecords) {
    Publish(qtest::IdentityTable());
    BaseBoardInformation board = Filled<BaseBoardInformation>(0);
    std::memset(board.AssetTag, '#', sizeof board.AssetTag);
    std::memset(board.RevisionLevel, '#', sizeof board.RevisionLevel);
    ASSERT_EQ(GetInfo(INFO_BASE_BOARD, &board), 0);
    EXPECT_STREQ(board.Manufacturer, "Acme Boards");
    EXPECT_STREQ(board.ProductName, "MB-9");
    EXPECT_STREQ(board.RomVendor, "Acme BIOS Works");
    EXPECT_STREQ(board.RomVersion, "V1.02");
    EXPECT_STREQ(board.RomReleaseDate, "01/02/2024");
    EXPECT_STREQ(board.SerialNo, "BRD-001");
    // The board's asset tag and version, copied like every other string: no terminator.
    EXPECT_EQ(std::string(board.AssetTag, 6), "TAG-1#");
    EXPECT_EQ(std::string(board.RevisionLevel, 4), "1.0#");

    SysInformation system = Filled<SysInformation>(0);
    ASSERT_EQ(GetInfo(INFO_SYSTEM, &system), 0);
    EXPECT_STREQ(system.manufacturer, "Acme Systems");
    EXPECT_STREQ(system.SysProductName, "Acme Server 9");
    EXPECT_STREQ(system.version, "A1");
}

TEST_F(GetInfoFrame, ValuesThatAreNotOneCommandDoNothing) {
    Publish(qtest::IdentityTable());
    for (unsigned long command : {0UL, INFO_BASE_BOARD | INFO_SYSTEM, 0x20000000UL, 0x8000UL, ~0UL}) {
        auto record = Filled<BaseBoardInformation>(0xAB);
        EXPECT_EQ(GetInfo(command, &record), 0) << std::hex << command;
        EXPECT_TRUE(Untouched(record, 0xAB)) << std::hex << command;
        EXPECT_EQ(qarvel::State().busy.NoEntersmBIOS, 0);
    }
    BaseBoardInformation board = Filled<BaseBoardInformation>(0);
    EXPECT_EQ(GetInfo(INFO_BASE_BOARD, &board), 0);
    EXPECT_STREQ(board.ProductName, "MB-9");
}

TEST_F(GetInfoFrame, NullRecordIsRefusedAndTheFlagIsFree) {
    Publish(qtest::IdentityTable());
    EXPECT_EQ(GetInfo(INFO_BASE_BOARD, nullptr), -1);
    EXPECT_EQ(GetInfo(INFO_SYSTEM, nullptr), -1);
    EXPECT_EQ(qarvel::State().busy.NoEntersmBIOS, 0);
    SysInformation system = Filled<SysInformation>(0);
    EXPECT_EQ(GetInfo(INFO_SYSTEM, &system), 0);
}

TEST_F(GetInfoFrame, ASecondCallWhileOneRunsAnswersBusyAndWritesNothing) {
    Publish(qtest::IdentityTable());
    auto inner = Filled<SysInformation>(0x5A);
    int inner_result = 99;
    // The first call reads /dev/mem while it builds the reader: call again from there.
    machine->on_read = [&](const std::string& path) {
        if (path == "/dev/mem" && inner_result == 99) inner_result = GetInfo(INFO_SYSTEM, &inner);
    };
    BaseBoardInformation board = Filled<BaseBoardInformation>(0);
    EXPECT_EQ(GetInfo(INFO_BASE_BOARD, &board), 0);
    EXPECT_EQ(inner_result, 1);
    EXPECT_TRUE(Untouched(inner, 0x5A));
    EXPECT_STREQ(board.ProductName, "MB-9");

    machine->on_read = nullptr;
    SysInformation system = Filled<SysInformation>(0);
    EXPECT_EQ(GetInfo(INFO_SYSTEM, &system), 0);
    EXPECT_STREQ(system.version, "A1");
}

TEST_F(GetInfoFrame, ThreadsArrivingTogetherNeverRunTogether) {
    Publish(qtest::IdentityTable());
    std::atomic<int> inside{0}, most_inside{0};
    machine->on_read = [&](const std::string& path) {
        if (path != "/dev/mem") return;
        int now = ++inside;
        int seen = most_inside.load();
        while (now > seen && !most_inside.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        --inside;
    };
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<int> results(kThreads, 99);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            SysInformation system = Filled<SysInformation>(0);
            results[i] = GetInfo(INFO_SYSTEM, &system);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(most_inside.load(), 1);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/mem"), 1u);  // one reader was built
    for (int r : results) EXPECT_TRUE(r == 0 || r == 1) << r;
    EXPECT_EQ(qarvel::State().busy.NoEntersmBIOS, 0);
}

TEST_F(GetInfoFrame, WithoutDevMemEverySmbiosCommandFailsAndOthersStillRun) {
    machine->remove_device("/dev/mem");
    testing::internal::CaptureStderr();
    EXPECT_EQ(IsSmBiosSupport(), 0);
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed.rfind("open /dev/mem\n: ", 0), 0u) << printed;

    for (unsigned long command : {INFO_BASE_BOARD, INFO_PROCESSOR, INFO_MEMORY, INFO_IO_PORT, INFO_POWER_SUPPLY,
                                  INFO_UPS, INFO_FAN, INFO_VOLTAGE, INFO_TEMPERATURE, INFO_SYSTEM}) {
        auto record = Filled<DeviceInformation>(0xCD);
        EXPECT_EQ(GetInfo(command, &record), -1) << std::hex << command;
        EXPECT_TRUE(Untouched(record, 0xCD));
    }
    // The failed reader stays until release: no second attempt.
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/mem"), 1u);
    auto devices = Filled<DeviceInformation>(0);
    EXPECT_EQ(GetInfo(INFO_PCI_DEVICE, &devices), 0);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/mem"), 1u);
}

TEST_F(GetInfoFrame, DmiOnlyTableIsNotSmbiosButServesEveryCommand) {
    sim::EntryPoint dmi;
    dmi.kind = sim::EntryPoint::DMI;
    Publish(qtest::IdentityTable(), dmi);
    EXPECT_EQ(IsSmBiosSupport(), 0);
    BaseBoardInformation board = Filled<BaseBoardInformation>(0);
    EXPECT_EQ(GetInfo(INFO_BASE_BOARD, &board), 0);
    EXPECT_STREQ(board.RomVendor, "Acme BIOS Works");
}

TEST_F(GetInfoFrame, ReleaseMakesTheNextCallBuildANewReader) {
    Publish(qtest::IdentityTable());
    EXPECT_EQ(IsSmBiosSupport(), 1);
    EXPECT_EQ(IsSmBiosSupport(), 1);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/mem"), 1u);
    EXPECT_EQ(release(), 0);
    EXPECT_EQ(qarvel::State().bios, nullptr);

    // The new reader sees the machine as it is now.
    machine->memory.write(0xF0800, "____", 4);
    EXPECT_EQ(IsSmBiosSupport(), 0);
    EXPECT_EQ(machine->count(sim::Access::Open, "/dev/mem"), 2u);
    EXPECT_EQ(release(), 0);
    EXPECT_EQ(release(), 0);
}

}  // namespace
