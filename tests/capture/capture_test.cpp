// Capture on the simulated machine: what reaches the BMC, what is written where, and what
// the MANIFEST says when a part cannot be read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "api/exports.h"
#include "SmBios/SmBios.h"
#include "capture/capture.h"
#include "sim/Bmc.h"
#include "sim/Disk.h"
#include "sim/Machine.h"
#include "sim/Pci.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

class Capturing : public ::testing::Test {
protected:
    virtual const char* Machine() const { return QARVEL_SAMPLE_MACHINE; }
    void SetUp() override {
        qtest::ResetLibrary();
        std::string error;
        machine = sim::load_machine(Machine(), error);
        ASSERT_NE(machine, nullptr) << error;
        sim::use(machine);
        // The capture makes its directory itself.
        dir = qtest::TempDir("capture");
        fs::remove(dir);
    }
    void TearDown() override {
        qtest::ResetLibrary();
        fs::remove_all(dir);
    }

    std::string Run() {
        capture::Output out(dir);
        capture::Manifest manifest;
        capture::Capture c{out, manifest};
        for (auto part : {capture::capture_load, capture::capture_kernel, capture::capture_smbios, capture::capture_pci,
                          capture::capture_disks, capture::capture_ipmi})
            part(c);
        return manifest.text("test", "now");
    }
    std::string File(const std::string& name) { return sim::read_file(dir + "/" + name).value_or("<absent>"); }

    std::shared_ptr<sim::Machine> machine;
    std::string dir;
};

TEST_F(Capturing, OnlyReadRequestsReachTheBmc) {
    Run();
    // netFn, command of every request capture may send: Get Device ID, Get Watchdog Timer, Get
    // Channel Info, Get User Name, Get Sensor Reading, Get Sensor Thresholds, Get FRU Inventory
    // Area Info, Read FRU Data, Reserve SDR Repository, Get SDR; and of the System Event Log,
    // Get SEL Info, Reserve SEL, Get SEL Entry, Get SEL Time (never Add or Clear SEL).
    const std::set<std::pair<int, int>> reads = {{0x06, 0x01}, {0x06, 0x25}, {0x06, 0x42}, {0x06, 0x46}, {0x04, 0x2D}, {0x04, 0x27},
                                                 {0x0A, 0x10}, {0x0A, 0x11}, {0x0A, 0x22}, {0x0A, 0x23},
                                                 {0x0A, 0x40}, {0x0A, 0x42}, {0x0A, 0x43}, {0x0A, 0x48}};
    auto log = machine->bmc->log();
    EXPECT_GT(log.size(), 50u);
    for (const sim::BmcRequest& q : log)
        EXPECT_TRUE(reads.count({q.netfn, q.cmd})) << std::hex << int(q.netfn) << " " << int(q.cmd);
    EXPECT_TRUE(machine->bmc->watchdog.expiries.empty());
}

TEST_F(Capturing, TheBmcStateIsTakenAsItIsNow) {
    // Thresholds and states changed on the BMC since its repository was written.
    machine->bmc->sensors.at(0x10).thresholds = {0xB0, 0xA0, 0x00, 0xE0, 0xE8, 0x00};
    machine->bmc->sensors.at(0x10).state = 0x0102;
    machine->bmc->sensors.at(0x10).reading = 0x42;
    // The watchdog as a stop leaves it: loaded, no action, 180 s, not running.
    ASSERT_EQ(StopWatchDogTimer(), 0);
    auto watchdog = [](const std::shared_ptr<sim::Machine>& on) {
        qtest::ResetLibrary();
        sim::use(on);
        unsigned char action = 9;
        int initial = -1, present = -1;
        int rc = GetWatchDogTimer(&action, &initial, &present);
        return std::to_string(rc) + " " + std::to_string(action) + " " + std::to_string(initial) + " " +
               std::to_string(present);
    };
    const std::string stopped = watchdog(machine);
    EXPECT_EQ(stopped, "0 0 180000 180000");
    qtest::ResetLibrary();  // capture runs in a process of its own
    sim::use(machine);
    Run();
    std::string conf = File("ipmi/bmc.conf");
    EXPECT_NE(conf.find("\nsensor 0x10 reading 0x42 state 0x0102\n"), std::string::npos) << conf;
    EXPECT_NE(conf.find("\nthresholds 0x10 readable 0x1B values 0xB0 0xA0 0x00 0xE0 0xE8 0x00\n"), std::string::npos)
        << conf;

    // Replayed, the BMC is the one captured.
    std::string error;
    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_NE(replay, nullptr) << error;
    EXPECT_EQ(replay->bmc->records(), machine->bmc->records());
    EXPECT_EQ(replay->bmc->fru0, machine->bmc->fru0);
    EXPECT_EQ(replay->bmc->device.firmware2, machine->bmc->device.firmware2);
    ASSERT_EQ(replay->bmc->channels.size(), machine->bmc->channels.size());
    for (const auto& [number, channel] : machine->bmc->channels) {
        EXPECT_EQ(replay->bmc->channels.at(number).medium, channel.medium);
        EXPECT_EQ(replay->bmc->channels.at(number).protocol, channel.protocol);
    }
    EXPECT_EQ(replay->bmc->users.at(2).name, "ADMIN");
    EXPECT_EQ(watchdog(replay), stopped) << conf;
    sim::use(machine);
    for (const auto& [number, sensor] : machine->bmc->sensors) {
        const sim::BmcSensor& back = replay->bmc->sensors.at(number);
        EXPECT_EQ(back.reading, sensor.reading) << int(number);
        EXPECT_EQ(back.state, sensor.state) << int(number);
        if (sensor.threshold_based) {
            EXPECT_EQ(back.thresholds, sensor.thresholds) << int(number);
        }
    }
}

// The sensor records as GetIpmiInfo gives them on `on`, as bytes.
std::string SensorRecords(const std::shared_ptr<sim::Machine>& on) {
    qtest::ResetLibrary();
    sim::use(on);
    std::string bytes;
    auto ask = [&bytes](unsigned long command, auto record) {
        std::memset(record.get(), 0, sizeof *record);
        bytes += std::to_string(GetIpmiInfo(command, record.get()));
        bytes.append(reinterpret_cast<const char*>(record.get()), sizeof *record);
    };
    ask(INFO_FAN, std::make_unique<FanInformation>());
    ask(INFO_VOLTAGE, std::make_unique<VoltageInformation>());
    ask(INFO_TEMPERATURE, std::make_unique<TemperatureInformation>());
    return bytes;
}

TEST_F(Capturing, ReadingsAndThresholdsTheBmcRefusesAreRefusedInTheReplay) {
    // A sensor that cannot be read now (CBh) and one whose thresholds the BMC will not give
    // (C1h): the library shows the first as unreadable and the second without thresholds.
    // Two more answer with a reading byte but say it is none: scanning disabled (bit 6 of
    // the flags clear) and reading unavailable (bit 5 set).
    machine->bmc->sensors.at(0x30).reading_refused = 0xCB;
    machine->bmc->sensors.at(0x10).thresholds_refused = 0xC1;
    ASSERT_TRUE(machine->bmc->sensors.count(0x11) && machine->bmc->sensors.count(0x31));
    machine->bmc->sensors.at(0x11).reading_flags = 0x80;
    machine->bmc->sensors.at(0x31).reading_flags = 0xE0;
    Run();
    const std::string conf = File("ipmi/bmc.conf");
    EXPECT_NE(conf.find("\nsensor 0x30 refused 0xCB\n"), std::string::npos) << conf;
    EXPECT_NE(conf.find("\nthresholds 0x10 refused 0xC1\n"), std::string::npos) << conf;
    EXPECT_NE(conf.find(" flags 0x80 "), std::string::npos) << conf;
    EXPECT_NE(conf.find(" flags 0xE0 "), std::string::npos) << conf;
    EXPECT_EQ(conf.find(" flags 0xC0 "), std::string::npos) << conf;  // the default is left out

    std::string error;
    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_NE(replay, nullptr) << error;
    const std::string before = SensorRecords(machine), after = SensorRecords(replay);
    sim::use(machine);
    EXPECT_EQ(after, before);
    machine->bmc->sensors.at(0x30).reading_refused = 0;
    machine->bmc->sensors.at(0x10).thresholds_refused = 0;
    machine->bmc->sensors.at(0x11).reading_flags = 0xC0;
    EXPECT_NE(SensorRecords(machine), before);  // the refusals do show in the records
    machine->bmc->sensors.at(0x31).reading_flags = 0xC0;
    const std::string readable = SensorRecords(machine);
    machine->bmc->sensors.at(0x31).reading_flags = 0xE0;
    EXPECT_NE(SensorRecords(machine), readable);  // and so does an unavailable reading
    sim::use(machine);
}

TEST_F(Capturing, AWatchdogTheBmcRefusesOrAnswersShortIsSoInTheReplay) {
    // What GetWatchDogTimer gives on the replay of a capture of `machine`, and the watchdog
    // lines of that capture's bmc.conf.
    int initial = 0;  // what the replay's timer gives as its initial countdown, in ms
    auto replayed = [this, &initial](std::string& lines) {
        fs::remove_all(dir);
        dir = qtest::TempDir("capture");
        fs::remove(dir);
        qtest::ResetLibrary();
        sim::use(machine);
        Run();
        std::istringstream conf(File("ipmi/bmc.conf"));
        lines.clear();
        for (std::string line; std::getline(conf, line);)
            if (line.rfind("watchdog", 0) == 0) lines += line + "\n";
        std::string error;
        std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
        EXPECT_NE(replay, nullptr) << error;
        qtest::ResetLibrary();
        sim::use(replay ? replay : machine);
        unsigned char action = 0;
        int present = 0;
        initial = 0;
        return GetWatchDogTimer(&action, &initial, &present);
    };
    std::string lines;
    // A whole answer is kept as it is: the replay's timer answers.
    EXPECT_EQ(replayed(lines), 0);
    EXPECT_EQ(lines, "watchdog use 0x00 actions 0x00 pretimeout 0 flags 0x00 initial 0 present 0\n");
    // As OpenIPMI's ipmi_sim: six data bytes, no present countdown; the library reads the
    // rest of the answer, and so must the replay, with the settings the answer gave.
    machine->bmc->watchdog_answer_bytes = 6;
    machine->bmc->watchdog.initial = 1800;  // 100 ms units
    EXPECT_EQ(replayed(lines), 0);
    EXPECT_EQ(lines, "watchdog use 0x00 actions 0x00 pretimeout 0 flags 0x00 initial 1800 present 0\nwatchdog bytes 6\n");
    EXPECT_EQ(initial, 180000);
    machine->bmc->watchdog.initial = 0;
    // A BMC without the command.
    machine->bmc->watchdog_answer_bytes = 8;
    machine->bmc->watchdog_refused = 0xC1;
    EXPECT_EQ(replayed(lines), -1);
    EXPECT_EQ(lines, "watchdog refused 0xC1\n");
    // The capture only asked: nothing was loaded or started.
    EXPECT_FALSE(machine->bmc->watchdog.loaded);
}

TEST_F(Capturing, APartThatCannotBeReadIsListedAndTheRestKept) {
    machine->bmc->fail_command(0x0A, 0x11, 0xC3);  // Read FRU Data times out
    machine->files.deny("/dev/mem");
    machine->files.deny("/proc/ide/ide0/hdb/model");
    std::string manifest = Run();
    EXPECT_NE(manifest.find("missing ipmi/fru0.bin: Read FRU Data refused at offset 0\n"), std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("missing smbios.bin: /dev/mem: Permission denied\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("missing proc/ide/ide0/hdb/model: /proc/ide/ide0/hdb/model: Permission denied\n"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(File("proc/ide/ide0/hdb/model"), "<absent>");
    EXPECT_NE(File("proc/ide/ide0/hdb/media"), "<absent>");
    EXPECT_NE(File("pci/00:1f.2"), "<absent>");
    EXPECT_NE(manifest.find("source ipmi /dev/ipmi\n"), std::string::npos) << manifest;
    EXPECT_EQ(File("ipmi/fru0.bin"), "<absent>");
    EXPECT_EQ(File("smbios.bin"), "<absent>");
    EXPECT_NE(File("ipmi/sdr.bin"), "<absent>");
    EXPECT_NE(File("ipmi/bmc.conf"), "<absent>");
    EXPECT_NE(File("proc/stat@1"), "<absent>");
    EXPECT_NE(File("proc/ide/ide0/hda/model"), "<absent>");
    EXPECT_NE(File("dev/hda.serial"), "<absent>");
}

TEST_F(Capturing, WithoutPortPrivilegeTheBmcAndPciPortsAreListedAsMissing) {
    machine->lockdown = true;  // /dev/mem and iopl refused
    machine->files.deny("/sys/bus/pci/devices");
    std::string manifest = Run();
    EXPECT_NE(manifest.find("missing smbios.bin: /dev/mem: Operation not permitted\n"), std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("missing pci/: no I/O port privilege"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("missing ipmi/: no BMC answers through /dev/ipmi or /dev/ipmi0\n"), std::string::npos)
        << manifest;
    EXPECT_EQ(File("kernel"), "classic lockdown\n");
    EXPECT_NE(manifest.find("source load /proc/stat\n"), std::string::npos) << manifest;
    EXPECT_NE(File("free.txt"), "<absent>");
}

TEST_F(Capturing, DiskImagesHoldOnlyTheBootRecords) {
    Run();
    std::string error;
    auto image = sim::FileDisk::open(dir + "/dev/hda.img", error);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), 40020664320ULL);
    struct stat64 st;
    ASSERT_EQ(::stat64((dir + "/dev/hda.img").c_str(), &st), 0);
    EXPECT_LT(static_cast<long long>(st.st_blocks) * 512, 1 << 20);  // sparse: a few sectors
    EXPECT_EQ(File("dev/hda.serial"), sim::read_file(QARVEL_SAMPLE_MACHINE "/dev/hda.serial").value_or(""));
}

TEST_F(Capturing, AClassicKernelIsRecordedAsSuch) {
    std::string manifest = Run();
    EXPECT_EQ(File("kernel"), "classic\n");
    EXPECT_NE(manifest.find("source smbios /dev/mem\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source pci sysfs\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source disks /proc/ide\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source ipmi /dev/ipmi\n"), std::string::npos) << manifest;
}

TEST_F(Capturing, WithoutSysfsPciComesThroughThePorts) {
    machine->files.deny("/sys/bus/pci/devices");
    std::string manifest = Run();
    EXPECT_NE(manifest.find("source pci ports\n"), std::string::npos) << manifest;
    EXPECT_EQ(File("pci/00:1f.2").size(), 256u);
}

// A machine on a current kernel: sysfs SMBIOS (an SMBIOS 3 entry point), sysfs PCI
// configuration spaces and the mainline IPMI driver.
class CapturingCurrent : public Capturing {
protected:
    const char* Machine() const override { return QARVEL_CURRENT_MACHINE; }

    // The structure table and the PCI functions as the library reads them on `on`.
    static std::pair<std::string, std::string> Firmware(const std::shared_ptr<sim::Machine>& on) {
        qtest::ResetLibrary();
        sim::use(on);
        std::string table;
        {
            SmBios reader;
            if (reader.BiosData) table.assign(reader.BiosData, reader.BiosDataLength);
        }
        std::string functions;
        for (const std::string& name : on->pci.sysfs_names()) {
            const sim::ConfigSpace* space = on->pci.sysfs_config(name);
            functions += name + ":" + (space ? std::string(space->bytes().begin(), space->bytes().end()) : "") + ";";
        }
        return {table, functions};
    }
};

TEST_F(CapturingCurrent, TheReplayReadsTheSameFirmwareBmcAndKernel) {
    std::string manifest = Run();
    EXPECT_EQ(File("kernel"), "current\n");
    EXPECT_NE(manifest.find("source smbios sysfs\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source pci sysfs\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source ipmi /dev/ipmi0\n"), std::string::npos) << manifest;
    const std::string dump = File("smbios.bin");
    ASSERT_GE(dump.size(), 0x20u);
    EXPECT_EQ(dump.compare(0, 5, "_SM3_"), 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < static_cast<unsigned char>(dump[6]); ++i) sum += static_cast<unsigned char>(dump[i]);
    EXPECT_EQ(sum & 0xFF, 0u);
    EXPECT_EQ(dump[0x10], 0x20);

    std::string error;
    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_NE(replay, nullptr) << error;
    EXPECT_EQ(replay->kernel, sim::Kernel::Current);
    EXPECT_FALSE(replay->lockdown);
    auto before = Firmware(machine), after = Firmware(replay);
    EXPECT_FALSE(before.first.empty());
    EXPECT_EQ(after.first, before.first);
    EXPECT_EQ(after.second, before.second);
    EXPECT_EQ(replay->bmc->records(), machine->bmc->records());
    EXPECT_EQ(replay->bmc->fru0, machine->bmc->fru0);
}

TEST_F(CapturingCurrent, UnderLockdownSysfsAndTheMainlineDriverStillAnswer) {
    machine->lockdown = true;
    std::string manifest = Run();
    EXPECT_EQ(File("kernel"), "current lockdown\n");
    EXPECT_NE(manifest.find("source smbios sysfs\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source pci sysfs\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("source ipmi /dev/ipmi0\n"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("missing smbios"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("missing ipmi"), std::string::npos) << manifest;
    EXPECT_NE(File("ipmi/sdr.bin"), "<absent>");
    std::string error;
    std::shared_ptr<sim::Machine> replay = sim::load_machine(dir, error);
    ASSERT_NE(replay, nullptr) << error;
    EXPECT_TRUE(replay->lockdown);
    EXPECT_EQ(replay->kernel, sim::Kernel::Current);
}

TEST_F(CapturingCurrent, BlockDisksKeepTheirLinksIdentityAndPartitionTables) {
    std::string manifest = Run();
    EXPECT_NE(manifest.find("source disks /sys/block\n"), std::string::npos) << manifest;
    EXPECT_TRUE(fs::is_symlink(dir + "/sys/block/sda"));
    EXPECT_EQ(fs::read_symlink(dir + "/sys/block/sda"), fs::read_symlink(QARVEL_CURRENT_MACHINE "/sys/block/sda"));
    EXPECT_EQ(File("dev/sda.identify"), sim::read_file(QARVEL_CURRENT_MACHINE "/dev/sda.identify").value_or(""));
    EXPECT_EQ(File("dev/nvme0n1.identify"), "<absent>");  // no ATA identify on NVMe
    for (const char* name : {"sda", "sdb", "sdc", "sdd", "nvme0n1"}) {
        const std::string image = dir + "/dev/" + name + ".img";
        ASSERT_TRUE(fs::exists(image)) << name;
        std::string error;
        auto original = sim::FileDisk::open(QARVEL_CURRENT_MACHINE "/dev/" + std::string(name) + ".img", error);
        auto captured = sim::FileDisk::open(image, error);
        ASSERT_TRUE(original && captured) << error;
        EXPECT_EQ(captured->size(), original->size()) << name;  // the disk's size, whatever the file's
        struct stat64 st;
        ASSERT_EQ(::stat64(image.c_str(), &st), 0);
        EXPECT_LT(static_cast<long long>(st.st_blocks) * 512, 2 << 20) << name;  // sparse
    }
    // A GPT disk: both headers are there, the backup in the last sector.
    std::string error;
    bool gpt = false;
    for (const char* name : {"sda", "sdb", "sdc", "sdd", "nvme0n1"}) {
        auto original = sim::FileDisk::open(QARVEL_CURRENT_MACHINE "/dev/" + std::string(name) + ".img", error);
        auto captured = sim::FileDisk::open(dir + "/dev/" + name + ".img", error);
        ASSERT_NE(original, nullptr);
        ASSERT_NE(captured, nullptr);
        char a[8] = {}, b[8] = {};
        original->read(512, a, 8);
        if (std::string(a, 8) != "EFI PART") continue;
        gpt = true;
        const std::uint64_t last = original->size() - 512;
        original->read(last, a, 8);
        captured->read(last, b, 8);
        EXPECT_EQ(std::string(a, 8), "EFI PART") << name;
        EXPECT_EQ(std::string(b, 8), "EFI PART") << name;
    }
    EXPECT_TRUE(gpt);
}

TEST(CaptureOutput, WritesStayInsideTheDirectory) {
    std::string dir = qtest::TempDir("capture-output");
    capture::Output out(dir + "/inner");
    std::string error;
    for (const char* outside : {"../escape", "/tmp/escape", "a/../../escape", "", ".", "a/./b"})
        EXPECT_FALSE(out.write(outside, std::string("x"), error)) << outside;
    EXPECT_FALSE(fs::exists(dir + "/escape"));
    EXPECT_TRUE(out.write("a/b/c", std::string("x"), error)) << error;
    EXPECT_EQ(sim::read_file(dir + "/inner/a/b/c").value_or(""), "x");
    fs::remove_all(dir);
}

TEST(CaptureOutput, TheDirectoryIsMadePrivateAndOneThatExistsIsRefused) {
    std::string parent = qtest::TempDir("capture-private");
    {
        capture::Output out(parent + "/new");
        std::string error;
        ASSERT_TRUE(out.ready(error)) << error;
        struct stat st;
        ASSERT_EQ(::stat((parent + "/new").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
    // An existing directory, even an empty one of our own: refused, and nothing is written in it.
    capture::Output again(parent + "/new");
    std::string error;
    EXPECT_FALSE(again.ready(error));
    EXPECT_NE(error.find("exists"), std::string::npos) << error;
    EXPECT_FALSE(again.write("a/b", std::string("x"), error));
    EXPECT_FALSE(again.write_link("l", "target", error));
    EXPECT_TRUE(fs::is_empty(parent + "/new"));
    fs::remove_all(parent);
}

// Links and directories planted in the tree while it is written, as the owner of a shared
// directory could: a directory link where a subdirectory will be made, a file link where a file
// will be written, a directory the capture did not make, and a directory it made swapped for
// a link between two of its writes. None is written through; each part is listed as missing,
// and the rest is captured.
TEST_F(Capturing, LinksPlantedWhileTheCaptureWritesAreNotFollowed) {
    const std::string elsewhere = qtest::TempDir("capture-elsewhere");
    int planted = 0;
    machine->on_read = [&](const std::string& path) {
        if (path != "/proc/stat") return;
        if (planted == 0) {
            fs::create_directory_symlink(elsewhere, dir + "/ipmi");
            fs::create_symlink(elsewhere + "/smbios.bin", dir + "/smbios.bin");
            fs::create_directory(dir + "/pci");
            planted = 1;
        } else if (planted == 1 && fs::exists(dir + "/proc/stat")) {
            // proc/ was made for proc/stat; proc/stat@1 is written after this read.
            fs::rename(dir + "/proc", dir + "/proc.made");
            fs::create_directory_symlink(elsewhere, dir + "/proc");
            planted = 2;
        }
    };
    const std::string manifest = Run();
    machine->on_read = nullptr;
    EXPECT_EQ(planted, 2);
    EXPECT_TRUE(fs::is_empty(elsewhere)) << manifest;
    EXPECT_TRUE(fs::is_empty(dir + "/pci")) << manifest;
    for (const char* part : {"missing ipmi/sdr.bin: ", "missing ipmi/bmc.conf: ", "missing smbios.bin: ",
                             "missing pci/00:00.0: ", "missing proc/stat@1: "})
        EXPECT_NE(manifest.find(part), std::string::npos) << part << "\n" << manifest;
    EXPECT_EQ(File("proc.made/stat").substr(0, 4), "cpu ");
    EXPECT_NE(File("free.txt"), "<absent>");
    EXPECT_NE(File("kernel"), "<absent>");
    fs::remove_all(elsewhere);
}

}  // namespace
