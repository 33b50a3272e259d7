// Against a BMC nobody here wrote: Debian's ipmi_sim (OpenIPMI) on the loopback, with a
// repository compiled by its own sdrcomp and an FRU image of ours. The library reaches it
// through a capture directory's ipmi/forward (QEMU's "VM" protocol on TCP); ipmitool reads
// the same simulator over its LAN interface. Every sensor must be found, and every reading
// and threshold must be what ipmitool prints.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IPMI/FRU.h"
#include "IPMI/IPMIsupport.h"
#include "IPMI/Sensor.h"
#include "api/Qarvel.h"
#include "sim/Fru.h"
#include "sim/loader.h"
#include "tests/support/loopback.h"
#include "tests/ipmi/fixture.h"

namespace fs = std::filesystem;

namespace {

using namespace ipmitest;
using qtest::FreePort;

// The simulator's sensors: temperatures (one signed), voltages with M, B and both
// exponents, fans, and a discrete processor sensor. Thresholds are raw bytes from lower
// non-critical up to upper non-recoverable; `readable` has a bit for each, in that order.
struct SimSensor {
    int number, entity, instance;
    const char* type;  // sdrcomp's name of the sensor type
    int type_code, event_type;
    const char* format;  // unsigned, 2s_complement, or 3: no reading
    const char* unit;
    int m, b, r_exp, b_exp, maximum, minimum;
    int readable;
    int thresholds[6];
    int reading;
    const char* name;
};

const SimSensor kSimSensors[] = {
    {0x01, 3, 1, "Temperature", 1, 1, "unsigned", "degrees_C", 1, 0, 0, 0, 127, 0, 0x38, {0, 0, 0, 85, 90, 95}, 47,
     "CPU Temp"},
    {0x02, 39, 1, "Temperature", 1, 1, "2s_complement", "degrees_C", 1, 0, 0, 0, 127, 0x80, 0x3F,
     {0xFB, 0xF1, 0xEC, 40, 45, 50}, 0xF6, "Outside Air"},
    {0x10, 7, 1, "Voltage", 2, 1, "unsigned", "Volts", 6, 0, -2, 0, 255, 0, 0x1B, {180, 175, 0, 220, 225, 0}, 201,
     "12V Rail"},
    {0x11, 7, 1, "Voltage", 2, 1, "unsigned", "Volts", 13, 15, -3, 1, 255, 0, 0x09, {200, 0, 0, 240, 0, 0}, 227,
     "3.3V Standby"},
    {0x30, 29, 1, "Fan", 4, 1, "unsigned", "18", 100, -5, 0, -1, 255, 0, 0x07, {10, 8, 5, 0, 0, 0}, 54, "FAN 1"},
    {0x31, 29, 2, "Fan", 4, 1, "unsigned", "18", 75, 0, 0, 0, 255, 0, 0x03, {12, 9, 0, 0, 0, 0}, 71, "FAN 2"},
    {0x40, 3, 1, "Processor", 7, 0x6F, "3", "0", 0, 0, 0, 0, 0, 0, 0, {}, -1, "CPU Status"},
};

// Numbers as the simulator's commands take them.
std::string Hex(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
    return text;
}

// The repository in sdrcomp's source format.
std::string SdrSource() {
    static const char* const kThresholdNames[6] = {"lnc", "lc", "lnr", "unc", "uc", "unr"};
    std::ostringstream out;
    for (const SimSensor& s : kSimSensors) {
        out << "sdr type 1\n\tsensor_owner_id 0x20\n\tsensor_owner_lun 0\n\tchannel_number 0\n"
            << "\tsensor_number " << s.number << "\n\tentity_id " << s.entity << "\n\tentity_instance " << s.instance
            << "\n\tsensor_type " << s.type << "\n\tevent_reading_type_code " << s.event_type
            << "\n\tanalog_data_format " << s.format << "\n\tbase_unit " << s.unit << "\n\tlinearization linear"
            << "\n\tm " << s.m << "\n\tb " << s.b << "\n\tr_exp " << s.r_exp << "\n\tb_exp " << s.b_exp
            << "\n\tsensor_maximum " << s.maximum << "\n\tsensor_minimum " << s.minimum << "\n";
        for (int i = 0; i < 6; ++i)
            if (s.readable & (1 << i)) out << "\t" << kThresholdNames[i] << "_thrsh_readable true\n";
        out << "\tid_string \"" << s.name << "\"\nendsdr\n";
    }
    return out.str();
}

// The simulator's commands that make the sensors and set their readings and thresholds
// (listed from upper non-recoverable down, enabled ones as a bit string likewise).
std::string SensorCommands() {
    std::ostringstream out;
    for (const SimSensor& s : kSimSensors) {
        const std::string sensor = "0x20 0 " + Hex(s.number);
        out << "sensor_add " << sensor << " " << Hex(s.type_code) << " " << Hex(s.event_type) << "\n"
            << "sensor_set_event_support " << sensor << " disable scanning none 000000000000000 000000000000000 "
            << "000000000000000 000000000000000\n";
        if (s.reading < 0) {
            out << "sensor_set_bit_clr_rest " << sensor << " 7 1 0\n";  // processor present
            continue;
        }
        out << "sensor_set_threshold " << sensor << " settable ";
        for (int i = 5; i >= 0; --i) out << ((s.readable >> i) & 1);
        for (int i = 5; i >= 0; --i) out << " " << Hex(s.thresholds[i]);
        out << "\nsensor_set_value " << sensor << " " << Hex(s.reading) << " 0\n";
    }
    return out.str();
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

bool Installed(const char* program) { return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0; }

std::vector<std::string> Split(const std::string& line, char by) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, by);) {
        const auto first = part.find_first_not_of(' ');
        const auto last = part.find_last_not_of(' ');
        out.push_back(first == std::string::npos ? "" : part.substr(first, last - first + 1));
    }
    return out;
}

std::string Three(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

class IpmiSim : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"ipmi_sim", "sdrcomp", "ipmitool"})
            ASSERT_TRUE(Installed(program)) << program << " is missing: tools/setup installs it";
        char pattern[] = "/tmp/qarvel-ipmi-sim-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        lan_port = FreePort(SOCK_DGRAM);
        vm_port = FreePort(SOCK_STREAM);
        ASSERT_GT(lan_port, 0);
        ASSERT_GT(vm_port, 0);

        // ipmi_sim keeps its repository as sdrcomp writes it, under STATE/ipmi_sim/NAME.
        fs::create_directories(dir / "state/ipmi_sim/qarvel");
        std::ofstream(dir / "bmc.sdrs") << SdrSource();
        ASSERT_EQ(std::system(("sdrcomp -8 -o " + (dir / "state/ipmi_sim/qarvel/sdr.20.main").string() + " " +
                               (dir / "bmc.sdrs").string() + " >" + (dir / "sdrcomp.log").string() + " 2>&1")
                                  .c_str()),
                  0)
            << Output("cat " + (dir / "sdrcomp.log").string());

        fru = sim::FruImage()
                  .board(0, 0x00C0FFEE,
                         {sim::fru_text("Blue Lantern Works"), sim::fru_text("LX-204 Board"),
                          sim::fru_text("BL0042-77731"), sim::fru_text("204-00017-03")})
                  .product(0, {sim::fru_text("Blue Lantern Works"), sim::fru_text("Lantern LX"),
                               sim::fru_text("LX-204"), sim::fru_text("Rev C"), sim::fru_text("LX204C-000913"),
                               sim::fru_text("Asset 7781")})
                  .bytes();
        {
            std::ofstream out(dir / "fru0.bin", std::ios::binary);
            out.write(reinterpret_cast<const char*>(fru.data()), static_cast<std::streamsize>(fru.size()));
        }
        std::ofstream(dir / "lan.conf") << "name \"qarvel\"\n"
                                        << "set_working_mc 0x20\n"
                                        << "  startlan 1\n"
                                        << "    addr 127.0.0.1 " << lan_port << "\n"
                                        << "    priv_limit admin\n"
                                        << "    allowed_auths_admin none md2 md5 straight\n"
                                        << "    guid a123456789abcdefa123456789abcdef\n"
                                        << "  endlan\n"
                                        << "  serial 15 127.0.0.1 " << vm_port << " codec VM\n"
                                        << "  user 1 true \"\" \"unused\" user 10 none md2 md5 straight\n"
                                        << "  user 2 true \"admin\" \"qarvel\" admin 10 none md2 md5 straight\n";
        std::ofstream(dir / "bmc.emu") << "mc_setbmc 0x20\n"
                                       << "mc_add 0x20 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02 persist_sdr\n"
                                       << "mc_add_fru_data 0x20 0 " << fru.size() << " file 0 \""
                                       << (dir / "fru0.bin").string() << "\"\n"
                                       << SensorCommands() << extra_commands << "mc_enable 0x20\n"
                                       << after_enable;

        // The capture directory that sends our requests to the simulator.
        fs::create_directories(dir / "capture/ipmi");
        std::ofstream(dir / "capture/ipmi/forward") << "127.0.0.1:" << vm_port << "\n";

        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that dies
            int log = ::open((dir / "ipmi_sim.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int none = ::open("/dev/null", O_RDONLY);
            if (log >= 0) ::dup2(log, 1), ::dup2(log, 2);
            if (none >= 0) ::dup2(none, 0);
            ::execlp("ipmi_sim", "ipmi_sim", "-n", "-c", (dir / "lan.conf").c_str(), "-f", (dir / "bmc.emu").c_str(),
                     "-s", (dir / "state").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready when its LAN side answers; its VM listener takes one peer only, so it is
        // never probed.
        bool ready = false;
        for (int i = 0; i < 40 && !ready; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            ready = Output(Ipmitool() + " mc info 2>/dev/null").find("Device ID") != std::string::npos;
        }
        ASSERT_TRUE(ready) << Output("cat " + (dir / "ipmi_sim.log").string());
    }

    void TearDown() override {
        qtest::ResetLibrary();
        sim::use(std::make_shared<sim::Machine>());
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            bool gone = false;
            for (int i = 0; i < 40 && !gone; ++i) {
                gone = ::waitpid(pid, &status, WNOHANG) == pid;
                if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!gone) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
        }
        if (!dir.empty()) {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    }

    std::string Ipmitool() const {
        return "timeout 20 ipmitool -I lanplus -C 3 -H 127.0.0.1 -p " + std::to_string(lan_port) + " -U admin -P qarvel";
    }

    // Simulator commands run after the sensors are made, before the BMC starts; and after.
    std::string extra_commands, after_enable;
    fs::path dir;
    int lan_port = -1, vm_port = -1;
    pid_t pid = -1;
    std::vector<std::uint8_t> fru;
};

TEST_F(IpmiSim, SensorsReadingsThresholdsAndFruAsIpmitoolSeesThem) {
    // What ipmitool prints: name | reading | unit | status | lnr | lc | lnc | unc | uc | unr.
    std::map<std::string, std::vector<std::string>> listed;
    std::istringstream lines(Output(Ipmitool() + " sensor list 2>&1"));
    for (std::string line; std::getline(lines, line);) {
        auto columns = Split(line, '|');
        if (columns.size() >= 10) listed[columns[0]] = columns;
    }
    ASSERT_EQ(listed.size(), std::size(kSimSensors)) << Output(Ipmitool() + " sensor list 2>&1");

    std::shared_ptr<sim::Machine> machine;
    {
        std::string error;
        machine = sim::load_machine((dir / "capture").string(), error);
        ASSERT_NE(machine, nullptr) << error;
        ASSERT_NE(machine->bmc, nullptr);
        ASSERT_TRUE(machine->bmc->forwarding());
        sim::use(machine);
    }

    Sensor reader;
    ASSERT_EQ(reader.IsInitOK(), 1);
    ASSERT_EQ(Discover(reader), 0);
    // ipmi_sim answers at most 36 bytes: no full record came whole, every one in pieces.
    EXPECT_GT(machine->bmc->count(kStorageNetFn, kReserveSdrRepository), 0u);

    const struct {
        const SensorDescription* table;
        int quantity;
    } kinds[] = {{reader.TSInfo.sd, reader.TSInfo.quantity},
                 {reader.VSInfo.sd, reader.VSInfo.quantity},
                 {reader.FSInfo.sd, reader.FSInfo.quantity}};
    int found = 0;
    for (const auto& kind : kinds)
        for (int n = 0; n < kind.quantity; ++n) {
            const SensorDescription& d = kind.table[n];
            ++found;
            auto it = listed.find(d.IDString);
            ASSERT_NE(it, listed.end()) << d.IDString;
            const auto& columns = it->second;
            unsigned char raw = 0;
            ASSERT_EQ(reader.ReadSensor(d.SensorNumbers, raw), 0) << d.IDString;
            double value = 0;
            reader.GetReadingConversion(d.sfp, raw, value);
            EXPECT_EQ(Three(value), columns[1]) << d.IDString;
            // Thresholds in ipmitool's column order, with the readable bit of each.
            const std::pair<double, int> thresholds[6] = {
                {d.stic.LowerNonRecoverThreshold, 0x04},      {d.stic.LowerCriticalThreshold, 0x02},
                {d.stic.LowerNonCriticalThreshold, 0x01},     {d.stic.UpperNonCriticalThresholdValue, 0x08},
                {d.stic.UpperCriticalThresholdValue, 0x10},   {d.stic.UpperNonRecoverThresholdValue, 0x20},
            };
            for (int i = 0; i < 6; ++i) {
                const bool readable = d.stir.readableFlag & thresholds[i].second;
                EXPECT_EQ(readable ? Three(thresholds[i].first) : "na", columns[4 + i]) << d.IDString << " " << i;
            }
        }
    EXPECT_EQ(found, 6);  // all but the discrete processor sensor, which the tables keep apart
    EXPECT_EQ(reader.PSInfo.quantity, 1);
    EXPECT_STREQ(reader.PSInfo.sd[0].IDString, "CPU Status");

    // The FRU through the same forward: ipmi_sim refuses reads of more than 34 bytes.
    FRU reader_fru;
    ASSERT_EQ(reader_fru.GetFRUInfo(), 0);
    // ipmitool's "Label : value" lines.
    std::map<std::string, std::string> printed;
    std::istringstream fru_lines(Output(Ipmitool() + " fru print 0 2>&1"));
    for (std::string line; std::getline(fru_lines, line);) {
        const auto colon = line.find(" : ");
        if (colon == std::string::npos) continue;
        printed[Split(line.substr(0, colon), '|')[0]] = line.substr(colon + 3);
    }
    const std::pair<int (FRU::*)(char*), const char*> fields[] = {
        {&FRU::GetBoardManufacturer, "Board Mfg"},        {&FRU::GetBoardProductName, "Board Product"},
        {&FRU::GetBoardSerialNumber, "Board Serial"},     {&FRU::GetBoardPartNumber, "Board Part Number"},
        {&FRU::GetProductManufacturerName, "Product Manufacturer"}, {&FRU::GetProductName, "Product Name"},
        {&FRU::GetProductSerialNumber, "Product Serial"}, {&FRU::GetProductAssetTag, "Product Asset Tag"},
    };
    for (const auto& [getter, label] : fields) {
        char text[64] = {};
        ASSERT_EQ((reader_fru.*getter)(text), 0) << label;
        auto it = printed.find(label);
        ASSERT_NE(it, printed.end()) << label;
        EXPECT_EQ(it->second, text) << label;
    }
    EXPECT_GT(machine->bmc->count(kStorageNetFn, 0x11), 3u);
}

// The reading flags through the forwarder. ipmi_sim stops scanning a sensor when its command
// file says so (it has no Set Sensor Event Enable: C1h); it never calls a reading
// unavailable, so that, and an answer cut to the reading byte, are injected where its answers
// pass the forwarder.
class IpmiSimNotScanning : public IpmiSim {
protected:
    void SetUp() override {
        extra_commands = "sensor_set_event_support 0x20 0 0x30 disable no-scanning none 000000000000000 "
                         "000000000000000 000000000000000 000000000000000\n";
        IpmiSim::SetUp();
    }
};

TEST_F(IpmiSimNotScanning, UnreadableSensorsAsIpmitoolSeesThem) {
    std::map<std::string, std::string> readings;
    std::istringstream lines(Output(Ipmitool() + " sensor list 2>&1"));
    for (std::string line; std::getline(lines, line);) {
        auto columns = Split(line, '|');
        if (columns.size() >= 10) readings[columns[0]] = columns[1];
    }
    EXPECT_EQ(readings["FAN 1"], "na");
    EXPECT_EQ(readings["FAN 2"], "5325.000");

    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine((dir / "capture").string(), error);
    ASSERT_NE(machine, nullptr) << error;
    sim::use(machine);
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    ASSERT_EQ(reader.FSInfo.quantity, 2);
    int fan1 = 0, fan2 = 1;
    if (std::string(reader.FSInfo.sd[0].IDString) != "FAN 1") std::swap(fan1, fan2);
    auto speed = [&reader](int n) {
        char text[64] = {};
        reader.GetFanSpeed(n, text);
        return std::string(text);
    };
    auto status = [&reader](int n) {
        char s = 0;
        reader.GetFanStatus(n, s);
        return s;
    };
    // ipmi_sim's own answer for the fan no longer scanned: bit 6 of byte 1 clear.
    std::vector<std::uint8_t> seen;
    machine->bmc->tamper = [&seen](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd == kGetSensorReading && q.data.size() == 1 && q.data[0] == 0x30) seen = r.data;
    };
    EXPECT_EQ(speed(fan1), "Unknown");
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[1] & 0x40, 0);
    EXPECT_EQ(status(fan1), Sensor::STATUS_ERROR);
    EXPECT_EQ(speed(fan2), "5325RPM");  // 71 steps of 75 RPM
    EXPECT_EQ(status(fan2), Sensor::STATUS_NORMAL);

    // Injected into FAN 2's answers: reading unavailable, alone and with scanning off; then
    // an answer of the reading byte alone, which keeps its reading.
    const struct {
        std::uint8_t set, clear;
        std::size_t bytes;
        const char* speed;
    } injected[] = {{0x20, 0x00, 8, "Unknown"}, {0x20, 0x40, 8, "Unknown"}, {0x00, 0x00, 1, "5325RPM"}};
    for (const auto& i : injected) {
        machine->bmc->tamper = [&i](const sim::BmcRequest& q, sim::BmcResponse& r) {
            if (q.cmd != kGetSensorReading || q.data.size() != 1 || q.data[0] != 0x31 || r.data.size() < 2) return;
            r.data[1] = static_cast<std::uint8_t>((r.data[1] | i.set) & ~i.clear);
            if (r.data.size() > i.bytes) r.data.resize(i.bytes);
        };
        EXPECT_EQ(speed(fan2), i.speed) << int(i.set) << " " << i.bytes;
        EXPECT_EQ(status(fan2), i.bytes == 1 ? Sensor::STATUS_NORMAL : Sensor::STATUS_ERROR);
    }
    machine->bmc->tamper = nullptr;
}

// ipmi_sim answers Get Watchdog Timer with 6 data bytes: the action and the initial countdown
// are read, the present countdown is not given. ipmitool reads the same timer.
TEST_F(IpmiSim, AShortWatchdogAnswerStillGivesTheSettings) {
    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine((dir / "capture").string(), error);
    ASSERT_NE(machine, nullptr) << error;
    sim::use(machine);
    IPMIsupport facade;
    ASSERT_EQ(facade.IsInitOK(), 1);
    // No timeout action: ipmi_sim refuses a reset (CCh) unless a VM that can be reset is
    // attached, which the forwarder is not.
    ASSERT_EQ(facade.SetWatchDogTimer(0, 60000), 0);
    std::size_t answered = 0;
    machine->bmc->tamper = [&answered](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.netfn == kAppNetFn && q.cmd == 0x25) answered = r.data.size();
    };
    int action = -7, initial = -7, present = -7;
    ASSERT_EQ(facade.GetWatchDogTimer(action, initial, present), 0);
    EXPECT_EQ(answered, 6u);
    EXPECT_EQ(action, 0);
    EXPECT_EQ(initial, 60000);
    EXPECT_EQ(present, IPMIsupport::kCountdownNotGiven);
    machine->bmc->tamper = nullptr;
    // A second setting, and ipmitool's view of it.
    ASSERT_EQ(facade.SetWatchDogTimer(0, 45000), 0);
    ASSERT_EQ(facade.GetWatchDogTimer(action, initial, present), 0);
    EXPECT_EQ(initial, 45000);
    const std::string printed = Output(Ipmitool() + " mc watchdog get 2>&1");
    EXPECT_NE(printed.find("45.0 sec"), std::string::npos) << printed;
}

// ipmi_sim with a System Event Log: three events in its own log at start, one it logs itself
// when an emulated reading crosses a threshold, and one added by ipmitool (Add SEL Entry)
// from system software, whose sensor no repository record owns.
// Every entry the library's export reads is the one `ipmitool sel elist` prints: record ID,
// time since the BMC started, sensor type and name, event text, direction, and a threshold
// event's trigger reading and threshold.
class IpmiSimSel : public IpmiSim {
protected:
    void SetUp() override {
        extra_commands = "sel_enable 0x20 64 0x0a\n"
                         // 12V Rail: Upper Critical going high, reading E6h over threshold E1h.
                         "sel_add 0x20 0x02 0 0 0 0 0x20 0 0x04 0x02 0x10 0x01 0x59 0xE6 0xE1\n"
                         // CPU Status: IERR.
                         "sel_add 0x20 0x02 0 0 0 0 0x20 0 0x04 0x07 0x40 0x6F 0x00 0xFF 0xFF\n"
                         // FAN 1: Lower Critical going low, deasserted.
                         "sel_add 0x20 0x02 0 0 0 0 0x20 0 0x04 0x04 0x30 0x81 0x52 0x07 0x08\n"
                         // 12V Rail generates its Upper Critical going high (offset 9) event once
                         // the BMC runs, when its emulated reading rises to E6h past E1h.
                         "sensor_set_event_support 0x20 0 0x10 enable scanning per-state 000001000000000 "
                         "000001000000000 000001000000000 000001000000000\n";
        after_enable = "sensor_set_value 0x20 0 0x10 0xE6 1\n";
        IpmiSim::SetUp();
    }
};

TEST_F(IpmiSimSel, EntriesAsIpmitoolSelElistPrintsThem) {
    // CPU Temp: Upper Non-critical going high, from system software (ID 41h).
    Output(Ipmitool() + " raw 0x0a 0x44 0 0 0x02 0 0 0 0 0x41 0 0x04 0x01 0x01 0x01 0x57 0x56 0x55 2>&1");
    // ID | date | time | sensor | event | direction | trigger; the ID in hexadecimal.
    std::map<unsigned, std::vector<std::string>> listed;
    const std::string printed = Output(Ipmitool() + " sel elist 2>&1");
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        auto columns = Split(line, '|');
        if (columns.size() >= 6) listed[static_cast<unsigned>(std::stoul(columns[0], nullptr, 16))] = columns;
    }
    ASSERT_EQ(listed.size(), 5u) << printed;

    std::string error;
    std::shared_ptr<sim::Machine> machine = sim::load_machine((dir / "capture").string(), error);
    ASSERT_NE(machine, nullptr) << error;
    sim::use(machine);
    qtest::ResetLibrary();
    SelPage page{};
    ASSERT_EQ(GetSelEntries(&page), 0);
    ASSERT_EQ(page.Count, 5u);
    EXPECT_EQ(page.Cursor.Position, static_cast<unsigned>(SEL_CURSOR_END));
    for (unsigned i = 0; i < page.Count; ++i) {
        const SelEntry& e = page.Entry[i];
        auto it = listed.find(e.RecordId);
        ASSERT_NE(it, listed.end()) << e.RecordId;
        const auto& c = it->second;
        // ipmitool names the sensor "TYPE NAME" when its repository has it, "TYPE #0xNN" else.
        char number[8];
        std::snprintf(number, sizeof number, "#0x%02x", e.SensorNumber);
        EXPECT_EQ(c[3], std::string(e.SensorTypeName) + " " + (e.SensorKnown ? e.SensorName : number)) << printed;
        // ipmi_sim has no date: both say the count is time since the BMC started.
        ASSERT_EQ(e.TimeKind, SEL_TIME_SINCE_START);
        char since[16];
        std::snprintf(since, sizeof since, "%010u", e.Timestamp);
        EXPECT_EQ(c[1], "Pre-Init");
        EXPECT_EQ(c[2], since);
        EXPECT_EQ(c[4], e.EventText) << printed;
        EXPECT_EQ(c[5], e.Deasserted ? "Deasserted" : "Asserted") << printed;
        if (e.Trigger & SEL_TRIGGER_READING) {
            ASSERT_GE(c.size(), 7u) << printed;
            char trigger[64];
            std::snprintf(trigger, sizeof trigger, "Reading %.2f", e.TriggerReading);
            EXPECT_NE(c[6].find(trigger), std::string::npos) << c[6];
            std::snprintf(trigger, sizeof trigger, "Threshold %.2f", e.TriggerThreshold);
            EXPECT_NE(c[6].find(trigger), std::string::npos) << c[6];
        }
    }
    EXPECT_EQ(page.Entry[0].Trigger, SEL_TRIGGER_READING | SEL_TRIGGER_THRESHOLD);
    EXPECT_NEAR(page.Entry[0].TriggerReading, 6 * 0xE6 / 100.0, 1e-9);

    // FreeIPMI's ipmi-sel over IPMI 1.5 LAN, its repository cache kept in the test's directory:
    // ID | date | time | name | type | state | direction | event. It writes the threshold
    // states as "Upper Critical - going high ; Sensor Reading = ..."; the library follows
    // ipmitool's "Upper Critical going high", so the dash and what follows ";" are left out.
    if (!Installed("ipmi-sel")) GTEST_SKIP() << "ipmi-sel is missing: tools/setup installs it";
    const std::string freeipmi =
        Output("timeout 60 ipmi-sel -h 127.0.0.1:" + std::to_string(lan_port) +
               " -u admin -p qarvel -D LAN -a none -l admin -v --output-event-state --sdr-cache-directory=" +
               dir.string() + " 2>&1");
    std::map<unsigned, std::vector<std::string>> rows;
    std::istringstream freeLines(freeipmi);
    for (std::string line; std::getline(freeLines, line);) {
        auto columns = Split(line, '|');
        if (columns.size() >= 8 && !columns[0].empty() && std::isdigit(static_cast<unsigned char>(columns[0][0])))
            rows[static_cast<unsigned>(std::stoul(columns[0]))] = columns;
    }
    ASSERT_EQ(rows.size(), 5u) << freeipmi;
    for (unsigned i = 0; i < page.Count; ++i) {
        const SelEntry& e = page.Entry[i];
        const auto& c = rows[e.RecordId];
        ASSERT_EQ(c.size(), 8u) << freeipmi;
        if (e.SensorKnown) {
            EXPECT_EQ(c[3], e.SensorName) << freeipmi;
        }
        EXPECT_EQ(c[4], e.SensorTypeName) << freeipmi;
        EXPECT_EQ(c[6], e.Deasserted ? "Deassertion Event" : "Assertion Event") << freeipmi;
        std::string text = c[7].substr(0, c[7].find(" ;"));
        if (const auto dash = text.find(" - "); dash != std::string::npos) text.replace(dash, 3, " ");
        EXPECT_EQ(text, e.EventText) << freeipmi;
    }
}

}  // namespace
