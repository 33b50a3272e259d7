// The current server's System Event Log, as its BMC would have logged a few bad hours: a
// power supply that lost its input and got it back, a fan that fell below its critical
// threshold, the fans' redundancy lost, the watchdog resetting the machine, the chassis
// opened, and one record of the manufacturer's own. Each is added as Add SEL Entry adds it,
// so the BMC gives the record IDs and the timestamps; the sensors are the sample server's.
#include <fstream>
#include <sstream>

#include "sim/Bmc.h"
#include "sim/loader.h"
#include "sim/machines/current-server/parts.h"

namespace current_server {

namespace {

constexpr std::uint8_t kBmc = 0x20, kRevision = 0x04, kAssert = 0x00, kDeassert = 0x80;

std::array<std::uint8_t, 16> Event(std::uint8_t sensorType, std::uint8_t number, std::uint8_t direction,
                                   std::uint8_t eventType, std::uint8_t data1, std::uint8_t data2 = 0xFF,
                                   std::uint8_t data3 = 0xFF) {
    return {0, 0, 0x02, 0, 0, 0, 0, kBmc, 0, kRevision, sensorType, number,
            static_cast<std::uint8_t>(direction | eventType), data1, data2, data3};
}

}  // namespace

bool write_sel(const std::string& dir) {
    sim::Bmc bmc;
    bmc.sel.present = true;
    // 2024-03-04 02:12:16 UTC, and the events minutes apart from there.
    const std::uint32_t start = 0x65E52E00;
    struct Logged {
        std::uint32_t minutes;
        std::array<std::uint8_t, 16> record;
    };
    const Logged events[] = {
        {0, Event(0x08, 0x61, kAssert, 0x6F, 0x03)},                  // PS2 Status: input lost
        {1, Event(0x04, 0x62, kAssert, 0x0B, 0x01)},                  // Fan Redundancy: lost
        {2, Event(0x04, 0x30, kAssert, 0x01, 0x52, 0x07, 0x08)},      // FAN1 lower critical going low
        {9, Event(0x04, 0x30, kDeassert, 0x01, 0x52, 0x0B, 0x08)},    // ... and back
        {12, Event(0x08, 0x61, kDeassert, 0x6F, 0x03)},               // PS2 input back
        {47, Event(0x23, 0x64, kAssert, 0x6F, 0xC1, 0x04)},           // Watchdog2: hard reset (SMS/OS)
        {95, Event(0x05, 0x63, kAssert, 0x6F, 0x00)},                 // chassis opened
        {96, {0, 0, 0xC0, 0, 0, 0, 0, 0xC3, 0xA1, 0x00, 0x01, 0x22, 0x00, 0x5A, 0x00, 0x00}},  // the maker's own
    };
    for (const Logged& e : events) {
        bmc.sel.time_base = start + 60 * e.minutes;
        bmc.add_sel(e.record);
    }
    bmc.sel.time_base = start + 60 * 120;
    std::ifstream in(dir + "/ipmi/bmc.conf");
    std::stringstream conf;
    conf << in.rdbuf();
    return sim::write_file(dir + "/ipmi/sel.bin", sim::sel_bin(bmc)) &&
           sim::write_file(dir + "/ipmi/bmc.conf", conf.str() + sim::sel_conf(bmc));
}

}  // namespace current_server
