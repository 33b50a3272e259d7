// The simulated BMC: the driver ioctl, the handler table, the repository and sensor
// commands, the faults, and its capture files.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "IPMI/ImbDriver.h"
#include "platform/platform.h"
#include "sim/Bmc.h"
#include "sim/loader.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using SimulatedBmc = qtest::MachineTest;

sim::BmcRequest Request(std::uint8_t netfn, std::uint8_t cmd, std::vector<std::uint8_t> data = {}) {
    sim::BmcRequest r;
    r.netfn = netfn;
    r.cmd = cmd;
    r.data = std::move(data);
    return r;
}

sim::FullSensor Thermometer(std::uint8_t number) {
    sim::FullSensor s;
    s.number = number;
    s.readable = 0x3F;
    s.settable = 0x09;
    s.unr = 60, s.uc = 50, s.unc = 40, s.lnr = 1, s.lc = 2, s.lnc = 3;
    s.nominal = 25;
    s.name = "Temp " + std::to_string(number);
    return s;
}

std::string TempDir(const std::string& name) {
    std::string dir = fs::temp_directory_path() / ("qarvel-bmc-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(BmcModel, TableAnswersUnknownAndShortRequests) {
    sim::Bmc bmc;
    EXPECT_EQ(bmc.handle(Request(0x06, 0x7E)).completion, sim::completion::kInvalidCommand);
    EXPECT_EQ(bmc.handle(Request(0x0A, 0x23, {0, 0, 0, 0, 0})).completion, sim::completion::kLengthInvalid);
    EXPECT_EQ(bmc.handle(Request(0x04, 0x26, {1, 2, 3})).completion, sim::completion::kLengthInvalid);
    EXPECT_EQ(bmc.handle(Request(0x0A, 0x23, {0, 0, 0, 0, 0, 0xFF})).completion, sim::completion::kNotPresent);
    EXPECT_EQ(bmc.log().size(), 4u);
    EXPECT_EQ(bmc.count(0x0A, 0x23), 2u);

    // Added handlers join the table.
    bmc.add_command(0x06, 0x7E, 1, [](const sim::BmcRequest& q, sim::BmcResponse& r) { r.data = {q.data[0]}; });
    EXPECT_EQ(bmc.handle(Request(0x06, 0x7E)).completion, sim::completion::kLengthInvalid);
    EXPECT_EQ(bmc.handle(Request(0x06, 0x7E, {9})).data, std::vector<std::uint8_t>{9});
}

TEST(BmcModel, RepositoryChainsRecordIdsAndChecksReservations) {
    sim::Bmc bmc;
    EXPECT_EQ(bmc.add_record(Thermometer(1).record()), 1);
    bmc.add_record_bytes(Thermometer(2).record().bytes(0x0040));  // an ID from a capture
    EXPECT_EQ(bmc.add_record(sim::mc_locator(0x20, 6, 1, "BMC")), 0x41);

    auto first = bmc.handle(Request(0x0A, 0x23, {0, 0, 0, 0, 0, 0xFF}));
    ASSERT_EQ(first.completion, 0);
    EXPECT_EQ(first.data[0] | first.data[1] << 8, 0x40);
    EXPECT_EQ(std::vector<std::uint8_t>(first.data.begin() + 2, first.data.end()), bmc.records()[0]);
    auto last = bmc.handle(Request(0x0A, 0x23, {0, 0, 0xFF, 0xFF, 0, 0xFF}));
    EXPECT_EQ(last.data[0] | last.data[1] << 8, 0xFFFF);
    EXPECT_EQ(last.data[2 + 3], sim::kMcLocatorRecord);

    // Partial reads need the current reservation.
    auto part = Request(0x0A, 0x23, {0, 0, 0x40, 0, 5, 4});
    EXPECT_EQ(bmc.handle(part).completion, sim::completion::kReservationInvalid);
    auto reserved = bmc.handle(Request(0x0A, 0x22));
    part.data[0] = reserved.data[0];
    part.data[1] = reserved.data[1];
    auto piece = bmc.handle(part);
    ASSERT_EQ(piece.completion, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(piece.data.begin() + 2, piece.data.end()),
              std::vector<std::uint8_t>(bmc.records()[1].begin() + 5, bmc.records()[1].begin() + 9));

    auto info = bmc.handle(Request(0x0A, 0x20));
    EXPECT_EQ(info.data[0], 0x51);
    EXPECT_EQ(info.data[1], 3);
}

TEST(BmcModel, SensorsComeFromTheirRecords) {
    sim::Bmc bmc;
    bmc.add_record(Thermometer(7).record());
    bmc.add_record(sim::CompactSensor{.number = 8, .type = 8, .name = "PSU"}.record());
    bmc.sensors[8].state = 0x0102;

    auto reading = bmc.handle(Request(0x04, 0x2D, {7}));
    EXPECT_EQ(reading.data, (std::vector<std::uint8_t>{25, 0xC0, 0x00, 0x80}));
    reading = bmc.handle(Request(0x04, 0x2D, {8}));
    EXPECT_EQ(reading.data, (std::vector<std::uint8_t>{0, 0xC0, 0x02, 0x81}));
    EXPECT_EQ(bmc.handle(Request(0x04, 0x2D, {9})).completion, sim::completion::kNotPresent);

    auto thresholds = bmc.handle(Request(0x04, 0x27, {7}));
    EXPECT_EQ(thresholds.data, (std::vector<std::uint8_t>{0x3F, 3, 2, 1, 40, 50, 60}));
    EXPECT_EQ(bmc.handle(Request(0x04, 0x27, {8})).completion, sim::completion::kIllegalForSensor);

    // Only settable thresholds change, and only those the mask names.
    EXPECT_EQ(bmc.handle(Request(0x04, 0x26, {7, 0x02, 9, 9, 9, 9, 9, 9})).completion,
              sim::completion::kInvalidField);
    EXPECT_EQ(bmc.handle(Request(0x04, 0x26, {7, 0x08, 9, 9, 9, 45, 9, 9})).completion, 0);
    EXPECT_EQ(bmc.handle(Request(0x04, 0x27, {7})).data, (std::vector<std::uint8_t>{0x3F, 3, 2, 1, 45, 50, 60}));
}

TEST(BmcModel, ReadingFlagsAndFactorsOfASensor) {
    sim::Bmc bmc;
    sim::FullSensor t = Thermometer(7);
    t.m = -2, t.b = 261, t.k1 = 1, t.k2 = -2;
    bmc.add_record(t.record());
    bmc.add_record(sim::CompactSensor{.number = 8, .type = 8, .name = "PSU"}.record());

    // Flags as set, and the answer cut to the bytes asked for.
    bmc.sensors[7].reading_flags = 0x80;
    EXPECT_EQ(bmc.handle(Request(0x04, 0x2D, {7})).data, (std::vector<std::uint8_t>{25, 0x80, 0x00, 0x80}));
    bmc.sensors[7].reading_bytes = 2;
    EXPECT_EQ(bmc.handle(Request(0x04, 0x2D, {7})).data, (std::vector<std::uint8_t>{25, 0x80}));

    // The record's own factors for any raw value (M 3FEh, B 105h, K2 -2, K1 1).
    const std::vector<std::uint8_t> own = {0xFF, 0xFE, 0xC0, 0x05, 0x40, 0x00, 0xE1};
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7, 0})).data, own);
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7, 200})).data, own);
    // Segments: the one holding the raw value, and where the next begins.
    bmc.sensors[7].factor_segments = {{10, {1, 0, 0, 0, 0, 0}}, {100, {2, 0, 0, 0, 0, 0}}};
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7, 9})).data,
              (std::vector<std::uint8_t>{10, 0xFE, 0xC0, 0x05, 0x40, 0x00, 0xE1}));
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7, 10})).data, (std::vector<std::uint8_t>{100, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7, 99})).data, (std::vector<std::uint8_t>{100, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7, 255})).data, (std::vector<std::uint8_t>{0xFF, 2, 0, 0, 0, 0, 0}));
    // No factors without a full record, none for a sensor that is not there, and a raw value is needed.
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {8, 0})).completion, sim::completion::kIllegalForSensor);
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {9, 0})).completion, sim::completion::kNotPresent);
    EXPECT_EQ(bmc.handle(Request(0x04, 0x23, {7})).completion, sim::completion::kLengthInvalid);
}

TEST(BmcModel, FaultsByCommandAndByRequestNumber) {
    sim::Bmc bmc;
    bmc.fail_command(0x06, 0x01, 0xC3);
    bmc.fail_request(3, 0xD5);
    EXPECT_EQ(bmc.handle(Request(0x06, 0x01)).completion, 0xC3);
    EXPECT_EQ(bmc.handle(Request(0x0A, 0x20)).completion, 0);
    EXPECT_EQ(bmc.handle(Request(0x0A, 0x20)).completion, 0xD5);
    EXPECT_EQ(bmc.handle(Request(0x0A, 0x20)).completion, 0);
    EXPECT_EQ(bmc.log().size(), 4u);
    bmc.clear_log();
    EXPECT_TRUE(bmc.log().empty());
}

TEST_F(SimulatedBmc, DriverServesTheSendIoctl) {
    auto bmc = std::make_shared<sim::Bmc>();
    bmc->device.firmware1 = 0x03;
    sim::install_bmc(*machine, bmc);
    EXPECT_EQ(machine->bmc, bmc);
    int fd = platform::open("/dev/ipmi", O_RDONLY);
    ASSERT_GE(fd, 0);

    unsigned char response[IMB_RESPONSE_SIZE] = {};
    ipmi_send_message message{};
    message.req.net_func = 0x06;
    message.req.cmd_type = 0x01;
    message.req.resp_slave_addr = 0xFF;
    message.resp_data_ptr = response;
    message.resp_data_len = 4;  // room for four bytes only
    EXPECT_EQ(platform::ioctl(fd, IMB_SEND_MESSAGE, &message), 0);
    EXPECT_EQ(message.completion_code, 0);
    EXPECT_EQ(message.resp_data_len, 4u);
    EXPECT_EQ(response[2], 0x03);
    EXPECT_EQ(response[4], 0);  // nothing past the room

    EXPECT_EQ(platform::ioctl(fd, 0xC0045302, &message), -1);
    EXPECT_EQ(errno, ENOTTY);
    message.req.data_length = 3;  // data promised, none given
    EXPECT_EQ(platform::ioctl(fd, IMB_SEND_MESSAGE, &message), -1);
    EXPECT_EQ(errno, EFAULT);
    message.req.data_length = 0;
    bmc->fail_ioctl = true;
    EXPECT_EQ(platform::ioctl(fd, IMB_SEND_MESSAGE, &message), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(bmc->log().size(), 1u);  // failed ioctls never reached the BMC
    platform::close(fd);

    // The status ports of the system interfaces.
    platform::iopl(3);
    EXPECT_EQ(platform::inb(0xCA3), 0x00);
    EXPECT_EQ(platform::inb(0xCAA), 0xFF);
    bmc->kcs_present = false;
    bmc->smic_present = true;
    EXPECT_EQ(platform::inb(0xCA3), 0xFF);
    EXPECT_EQ(platform::inb(0xCAA), 0x00);
    platform::iopl(0);
}

TEST(BmcCapture, WrittenAndLoadedBack) {
    sim::Bmc bmc;
    bmc.add_record(sim::mc_locator(0x20, 6, 1, "BMC"));
    bmc.add_record(Thermometer(1).record());
    bmc.add_record(sim::oem_record(0x00A1C3, {1, 2}));
    bmc.sensors[1].reading = 0x33;
    bmc.sensors[1].state = 0x0201;
    bmc.sensors[0x70].reading = 0x44;  // a sensor with no record
    bmc.device.firmware1 = 0x85;
    bmc.device.firmware2 = 0x3A;
    bmc.device.ipmi_version = 0x51;
    bmc.device.manufacturer = 0x123456;
    bmc.device.product = 0xBEEF;
    bmc.kcs_present = false;
    bmc.smic_present = true;

    std::string dir = TempDir("capture");
    ASSERT_TRUE(sim::write_ipmi(dir, bmc));
    std::string error;
    auto loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    ASSERT_NE(loaded->bmc, nullptr);
    const sim::Bmc& back = *loaded->bmc;
    EXPECT_EQ(back.records(), bmc.records());
    EXPECT_EQ(back.sensors.at(1).reading, 0x33);
    EXPECT_EQ(back.sensors.at(1).state, 0x0201);
    EXPECT_EQ(back.sensors.at(1).thresholds, bmc.sensors.at(1).thresholds);
    EXPECT_EQ(back.sensors.at(0x70).reading, 0x44);
    EXPECT_EQ(back.device.firmware1, 0x85);
    EXPECT_EQ(back.device.firmware2, 0x3A);
    EXPECT_EQ(back.device.ipmi_version, 0x51);
    EXPECT_EQ(back.device.manufacturer, 0x123456u);
    EXPECT_EQ(back.device.product, 0xBEEF);
    EXPECT_FALSE(back.kcs_present);
    EXPECT_TRUE(back.smic_present);
    fs::remove_all(dir);

    // A machine directory without ipmi/ has no BMC and no /dev/ipmi.
    dir = TempDir("none");
    loaded = sim::load_machine(dir, error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->bmc, nullptr);
    int code = 0;
    EXPECT_EQ(loaded->open("/dev/ipmi", code), nullptr);
    fs::remove_all(dir);
}

TEST(BmcCapture, BadFilesAreRefusedWithTheirPlace) {
    std::string dir = TempDir("bad");
    std::string error;
    auto record = sim::mc_locator(0x20, 6, 1, "BMC").bytes(1);
    sim::write_file(dir + "/ipmi/sdr.bin", std::vector<unsigned char>(record.begin(), record.end() - 1));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("sdr.bin"), std::string::npos) << error;
    EXPECT_NE(error.find("offset 0"), std::string::npos) << error;

    fs::remove(dir + "/ipmi/sdr.bin");
    sim::write_file(dir + "/ipmi/bmc.conf", std::string("# fine\nkcs present\nfirmware 1.5\n"));
    EXPECT_EQ(sim::load_machine(dir, error), nullptr);
    EXPECT_NE(error.find("bmc.conf:3"), std::string::npos) << error;
    fs::remove_all(dir);

    sim::Bmc bmc;
    EXPECT_TRUE(sim::read_bmc_conf("sensor 12 reading 0x1f state 3  # comment\nfirmware 2.09\n", bmc, error));
    EXPECT_EQ(bmc.sensors.at(12).reading, 0x1F);
    EXPECT_EQ(bmc.sensors.at(12).state, 3);
    EXPECT_EQ(bmc.device.firmware2, 0x09);

    // Refusals read back as written, and a later reading or thresholds line undoes them.
    sim::Bmc refusing;
    refusing.sensors[0x10].reading_refused = 0xCB;
    refusing.sensors[0x10].threshold_based = true;
    refusing.sensors[0x10].thresholds_refused = 0xC1;
    sim::Bmc back;
    ASSERT_TRUE(sim::read_bmc_conf(sim::bmc_conf(refusing), back, error)) << error;
    EXPECT_EQ(back.sensors.at(0x10).reading_refused, 0xCB);
    EXPECT_EQ(back.sensors.at(0x10).thresholds_refused, 0xC1);
    ASSERT_TRUE(sim::read_bmc_conf("sensor 0x10 reading 5\nthresholds 0x10 readable 1 values 1 2 3 4 5 6\n", back, error));
    EXPECT_EQ(back.sensors.at(0x10).reading_refused, 0);
    EXPECT_EQ(back.sensors.at(0x10).thresholds_refused, 0);
    // So do the watchdog's: the answer cut to 6 bytes, or refused; only Get is affected.
    sim::Bmc short_watchdog;
    short_watchdog.watchdog_answer_bytes = 6;
    ASSERT_TRUE(sim::read_bmc_conf(sim::bmc_conf(short_watchdog), back, error)) << error;
    EXPECT_EQ(back.watchdog_answer_bytes, 6u);
    EXPECT_EQ(back.watchdog_refused, 0);
    EXPECT_EQ(back.handle(Request(0x06, 0x24, {0x04, 0x00, 0x00, 0x00, 0x58, 0x02})).completion, 0);
    sim::BmcResponse got = back.handle(Request(0x06, 0x25));
    EXPECT_EQ(got.completion, 0);
    EXPECT_EQ(got.data, (std::vector<std::uint8_t>{0x04, 0x00, 0x00, 0x00, 0x58, 0x02}));
    short_watchdog.watchdog_refused = 0xC1;
    ASSERT_TRUE(sim::read_bmc_conf(sim::bmc_conf(short_watchdog), back, error)) << error;
    EXPECT_EQ(back.watchdog_refused, 0xC1);
    EXPECT_EQ(back.handle(Request(0x06, 0x25)).completion, 0xC1);
    EXPECT_EQ(sim::bmc_conf(sim::Bmc()).find("watchdog"), std::string::npos);  // a whole answer is the default
    // They are written after the settings, whose line alone means a whole answer.
    short_watchdog.watchdog.loaded = true;
    short_watchdog.watchdog.initial = 600;
    sim::Bmc loaded;
    ASSERT_TRUE(sim::read_bmc_conf(sim::bmc_conf(short_watchdog), loaded, error)) << error;
    EXPECT_EQ(loaded.watchdog.initial, 600);
    EXPECT_EQ(loaded.watchdog_answer_bytes, 6u);
    EXPECT_EQ(loaded.watchdog_refused, 0xC1);
    ASSERT_TRUE(sim::read_bmc_conf("watchdog use 4 actions 0 pretimeout 0 flags 0 initial 600 present 600", loaded, error));
    EXPECT_EQ(loaded.watchdog_answer_bytes, 8u);
    EXPECT_EQ(loaded.watchdog_refused, 0);
    for (const char* bad : {"sensor 300 reading 1", "sensor 1 reading 256", "sensor 1 speed 3", "sensor 1 reading",
                            "smic maybe", "manufacturer 0x1000000", "ipmi-version 2.10", "device-id -1",
                            "wattage 5", "sensor 1 refused 0", "sensor 1 refused 0x100", "thresholds 1 refused 0",
                            "thresholds 1 refused", "thresholds 1 refused 0xC1 values",
                            "watchdog use 1 actions 0 pretimeout 0 flags 0 initial 70000 present 0",
                            "watchdog use 1 actions 0 pretimeout 0 flags 0 initial 10", "watchdog refused 0",
                            "watchdog bytes 9", "watchdog bytes", "watchdog stopped 1"})
        EXPECT_FALSE(sim::read_bmc_conf(bad, bmc, error)) << bad;
}

}  // namespace
