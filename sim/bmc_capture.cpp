// The BMC's part of a capture directory: ipmi/sdr.bin, ipmi/fru0.bin, ipmi/bmc.conf and
// ipmi/forward (sim/README.md).
#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/loader.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr std::size_t kSdrHeader = 5;

// A number in decimal or 0x-hexadecimal up to `max`. A number beyond it leaves the reason in
// `range`, so the message names the value rather than the line.
bool Number(const std::string& token, unsigned long max, unsigned long& out, std::string& range) {
    if (token.empty() || token[0] == '-' || token[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(token.c_str(), &end, 0);
    if (*end != '\0') return false;
    if (errno == ERANGE || value > max) {
        char limit[24];
        std::snprintf(limit, sizeof limit, max > 9 ? "0x%lX" : "%lu", max);
        range = escaped(token) + " is out of range (0 to " + limit + ")";
        return false;
    }
    out = static_cast<unsigned long>(value);
    return true;
}

bool Flag(const std::string& token, const char* yes, const char* no, bool& out) {
    if (token == yes) return out = true, true;
    if (token == no) return out = false, true;
    return false;
}

// "MAJOR.MINOR" with a one-digit minor (IPMI version) or two hex digits (firmware, BCD).
bool Version(const std::string& token, unsigned long major_max, std::size_t minor_digits, unsigned long& major,
             unsigned long& minor, std::string& range) {
    auto dot = token.find('.');
    if (dot == std::string::npos || token.size() - dot - 1 != minor_digits) return false;
    return Number(token.substr(0, dot), major_max, major, range) &&
           Number("0x" + token.substr(dot + 1), minor_digits == 1 ? 9 : 0xFF, minor, range);
}

std::string Hex(unsigned long value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, value);
    return text;
}

// "HOST:PORT" on the first line; the host may be a bracketed IPv6 address.
bool ForwardAddress(const std::string& text, std::string& host, std::uint16_t& port) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    const auto colon = line.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = line.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    unsigned long value = 0;
    std::string range;
    if (host.find_first_of(" \t") != std::string::npos || !Number(line.substr(colon + 1), 0xFFFF, value, range) ||
        value == 0)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool read_bmc_conf(const std::string& text, Bmc& bmc, std::vector<std::string>& errors) {
    const std::size_t errors_before = errors.size();
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;

        std::string range;  // set by a number beyond its range
        auto fail = [&](const std::string& what) {
            errors.push_back(std::to_string(number) + ": " + (range.empty() ? what : range));
        };
        const std::string& key = w[0];
        unsigned long value = 0, major = 0, minor = 0;
        bool flag = false;
        if (key == "sensor") {
            if (w.size() < 4 || w.size() % 2 != 0 || !Number(w[1], 0xFF, value, range)) {
                fail("expected: sensor NUMBER reading BYTE [flags BYTE] state BITS, or sensor NUMBER refused CODE");
                continue;
            }
            BmcSensor sensor = bmc.sensors.count(static_cast<std::uint8_t>(value))
                                   ? bmc.sensors.at(static_cast<std::uint8_t>(value))
                                   : BmcSensor{};
            bool good = true;
            for (std::size_t i = 2; good && i < w.size(); i += 2) {
                unsigned long setting = 0;
                if (w[i] == "reading" && Number(w[i + 1], 0xFF, setting, range))
                    sensor.reading = static_cast<std::uint8_t>(setting), sensor.reading_refused = 0;
                else if (w[i] == "refused" && Number(w[i + 1], 0xFF, setting, range) && setting != 0)
                    sensor.reading_refused = static_cast<std::uint8_t>(setting);
                else if (w[i] == "state" && Number(w[i + 1], 0x7FFF, setting, range))
                    sensor.state = static_cast<std::uint16_t>(setting);
                else if (w[i] == "flags" && Number(w[i + 1], 0xFF, setting, range))
                    sensor.reading_flags = static_cast<std::uint8_t>(setting);
                else if (!range.empty())
                    good = false, range = escaped(w[i]) + " " + range +
                                          (w[i] == "state" ? " (bit 15, the top bit of the fourth byte, is no state)" : ""),
                    fail("");
                else
                    good = false, fail("bad sensor setting \"" + escaped(w[i] + " " + w[i + 1]) + "\"");
            }
            if (good) bmc.sensors[static_cast<std::uint8_t>(value)] = sensor;
            continue;
        }
        if (key == "thresholds" && w.size() == 4 && w[2] == "refused") {
            unsigned long code = 0;
            if (!Number(w[1], 0xFF, value, range) || !Number(w[3], 0xFF, code, range) || code == 0) {
                fail("expected: thresholds NUMBER refused CODE (a completion code, 01h-FFh)");
                continue;
            }
            bmc.sensors[static_cast<std::uint8_t>(value)].thresholds_refused = static_cast<std::uint8_t>(code);
            continue;
        }
        if (key == "thresholds") {
            std::array<std::uint8_t, 6> raw{};
            unsigned long readable = 0;
            bool good = w.size() == 11 && Number(w[1], 0xFF, value, range) && w[2] == "readable" &&
                        Number(w[3], 0x3F, readable, range) && w[4] == "values";
            for (std::size_t i = 0; good && i < 6; ++i) {
                unsigned long byte = 0;
                good = Number(w[5 + i], 0xFF, byte, range);
                raw[i] = static_cast<std::uint8_t>(byte);
            }
            if (!good) {
                fail("expected: thresholds NUMBER readable MASK values LNC LC LNR UNC UC UNR");
                continue;
            }
            BmcSensor& sensor = bmc.sensors[static_cast<std::uint8_t>(value)];
            sensor.threshold_based = true;
            sensor.readable = static_cast<std::uint8_t>(readable);
            sensor.thresholds = raw;
            sensor.thresholds_refused = 0;
            continue;
        }
        if (key == "watchdog" && w.size() == 3) {
            // How Get Watchdog Timer is answered: refused, or with only some of its bytes.
            unsigned long code = 0;
            if (w[1] == "refused" && Number(w[2], 0xFF, code, range) && code != 0) {
                bmc.watchdog_refused = static_cast<std::uint8_t>(code);
            } else if (w[1] == "bytes" && Number(w[2], 8, value, range)) {
                bmc.watchdog_answer_bytes = value;
                bmc.watchdog_refused = 0;
            } else {
                fail("expected: watchdog refused CODE (01h-FFh), or watchdog bytes N (0-8)");
            }
            continue;
        }
        if (key == "watchdog") {
            // The Get Watchdog Timer answer as it stood: use, actions, pre-timeout interval,
            // expiration flags, initial and present countdowns (100 ms units).
            static const char* const kFields[] = {"use", "actions", "pretimeout", "flags", "initial", "present"};
            static const unsigned long kLargest[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF};
            unsigned long v[6] = {};
            bool good = w.size() == 13;
            for (std::size_t i = 0; good && i < 6; ++i)
                good = w[1 + 2 * i] == kFields[i] && Number(w[2 + 2 * i], kLargest[i], v[i], range);
            if (!good) {
                fail("expected: watchdog use BYTE actions BYTE pretimeout BYTE flags BYTE initial COUNT present COUNT");
                continue;
            }
            BmcWatchdog& dog = bmc.watchdog;
            // A timer that was running replays stopped at the count it had.
            dog.timer_use = static_cast<std::uint8_t>(v[0] & ~0x40u);
            dog.actions = static_cast<std::uint8_t>(v[1]);
            dog.pretimeout = static_cast<std::uint8_t>(v[2]);
            dog.expiration_flags = static_cast<std::uint8_t>(v[3]);
            dog.initial = static_cast<std::uint16_t>(v[4]);
            dog.present = static_cast<std::uint16_t>(v[5]);
            dog.loaded = true;
            dog.running = false;
            // Answered whole, as it was when this line was written.
            bmc.watchdog_refused = 0;
            bmc.watchdog_answer_bytes = Bmc().watchdog_answer_bytes;
            continue;
        }
        if (key == "channel") {
            unsigned long medium = 0, protocol = 0;
            if (w.size() != 6 || !Number(w[1], 7, value, range) || value == 0 || w[2] != "medium" ||
                !Number(w[3], 0x7F, medium, range) || w[4] != "protocol" || !Number(w[5], 0x1F, protocol, range)) {
                fail("expected: channel 1-7 medium TYPE protocol TYPE");
                continue;
            }
            bmc.channels[static_cast<std::uint8_t>(value)] = {static_cast<std::uint8_t>(medium),
                                                              static_cast<std::uint8_t>(protocol)};
            continue;
        }
        if (key == "user") {
            if (w.size() != 4 || !Number(w[1], bmc.user_slots, value, range) || value == 0 || w[2] != "name" ||
                w[3].size() > 16) {
                fail("expected: user ID name NAME (ID 1 to " + std::to_string(bmc.user_slots) +
                     ", NAME at most 16 characters)");
                continue;
            }
            bmc.users[static_cast<std::uint8_t>(value)].name = w[3];
            continue;
        }
        if (w.size() == 2) {
            bool good = true;
            auto number = [&range](const std::string& token, unsigned long max, unsigned long& out) {
                return Number(token, max, out, range);
            };
            if (read_sel_setting(key, w[1], bmc, good, number)) {
                if (!good) fail("bad value \"" + escaped(w[1]) + "\" for " + key);
                continue;
            }
        }
        static const char* const kSettings[] = {"device-id", "device-revision", "firmware", "update-in-progress",
                                                "ipmi-version", "manufacturer", "product", "kcs", "smic",
                                                "fru-read-limit", "answer-limit", "whole-records",
                                                "reservation-lifetime"};
        if (std::find(std::begin(kSettings), std::end(kSettings), key) == std::end(kSettings)) {
            fail("unknown setting \"" + escaped(key) + "\"");
            continue;
        }
        if (w.size() != 2) {
            fail("expected: " + key + " VALUE");
            continue;
        }
        if (key == "device-id" && Number(w[1], 0xFF, value, range))
            bmc.device.device_id = static_cast<std::uint8_t>(value);
        else if (key == "device-revision" && Number(w[1], 0xFF, value, range))
            bmc.device.revision = static_cast<std::uint8_t>(value);
        else if (key == "firmware" && Version(w[1], 0x7F, 2, major, minor, range)) {
            bmc.device.firmware1 = static_cast<std::uint8_t>((bmc.device.firmware1 & 0x80) | major);
            bmc.device.firmware2 = static_cast<std::uint8_t>(minor);
        } else if (key == "update-in-progress" && Flag(w[1], "yes", "no", flag))
            bmc.device.firmware1 = static_cast<std::uint8_t>((bmc.device.firmware1 & 0x7F) | (flag ? 0x80 : 0));
        else if (key == "ipmi-version" && Version(w[1], 9, 1, major, minor, range))
            bmc.device.ipmi_version = static_cast<std::uint8_t>(minor << 4 | major);
        else if (key == "manufacturer" && Number(w[1], 0xFFFFFF, value, range))
            bmc.device.manufacturer = static_cast<std::uint32_t>(value);
        else if (key == "product" && Number(w[1], 0xFFFF, value, range))
            bmc.device.product = static_cast<std::uint16_t>(value);
        else if (key == "kcs" && Flag(w[1], "present", "absent", flag))
            bmc.kcs_present = flag;
        else if (key == "smic" && Flag(w[1], "present", "absent", flag))
            bmc.smic_present = flag;
        else if (key == "fru-read-limit" && Number(w[1], 0xFF, value, range) && value > 0)
            bmc.fru_read_limit = value;
        else if (key == "answer-limit" && Number(w[1], 256, value, range) && value > 0)
            bmc.answer_limit = value;
        else if (key == "whole-records" && Flag(w[1], "refused", "given", flag))
            bmc.refuse_whole_records = flag;
        else if (key == "reservation-lifetime" && Number(w[1], 0xFFFF, value, range))
            bmc.reservation_lifetime = value;
        else
            fail("bad value \"" + escaped(w[1]) + "\" for " + key);
    }
    return errors.size() == errors_before;
}

bool read_bmc_conf(const std::string& text, Bmc& bmc, std::string& error) {
    std::vector<std::string> errors;
    if (read_bmc_conf(text, bmc, errors)) return true;
    error = errors.front();
    return false;
}

std::string bmc_conf(const Bmc& bmc) {
    const BmcDevice& d = bmc.device;
    char firmware[16], version[8];
    std::snprintf(firmware, sizeof firmware, "%u.%02X", d.firmware1 & 0x7Fu, static_cast<unsigned>(d.firmware2));
    std::snprintf(version, sizeof version, "%u.%u", d.ipmi_version & 0x0Fu, (d.ipmi_version >> 4) & 0x0Fu);
    std::ostringstream out;
    out << "# Simulated BMC (sim/README.md describes this file)\n"
        << "device-id " << Hex(d.device_id, 2) << "\n"
        << "device-revision " << Hex(d.revision, 2) << "\n"
        << "firmware " << firmware << "\n"
        << "update-in-progress " << (d.firmware1 & 0x80 ? "yes" : "no") << "\n"
        << "ipmi-version " << version << "\n"
        << "manufacturer " << Hex(d.manufacturer, 6) << "\n"
        << "product " << Hex(d.product, 4) << "\n"
        << "kcs " << (bmc.kcs_present ? "present" : "absent") << "\n"
        << "smic " << (bmc.smic_present ? "present" : "absent") << "\n"
        << "fru-read-limit " << bmc.fru_read_limit << "\n";
    // The limits of a small BMC, only where they differ from a roomy one's.
    if (bmc.answer_limit != Bmc().answer_limit) out << "answer-limit " << bmc.answer_limit << "\n";
    if (bmc.refuse_whole_records) out << "whole-records refused\n";
    if (bmc.reservation_lifetime != 0) out << "reservation-lifetime " << bmc.reservation_lifetime << "\n";
    const BmcWatchdog& dog = bmc.watchdog;
    if (dog.loaded || dog.timer_use || dog.actions || dog.pretimeout || dog.expiration_flags || dog.initial ||
        dog.present)
        out << "watchdog use " << Hex(dog.timer_use, 2) << " actions " << Hex(dog.actions, 2) << " pretimeout "
            << static_cast<unsigned>(dog.pretimeout) << " flags " << Hex(dog.expiration_flags, 2) << " initial "
            << dog.initial << " present " << dog.present << "\n";
    // After the settings, which a reader takes as answered whole.
    if (bmc.watchdog_answer_bytes != Bmc().watchdog_answer_bytes)
        out << "watchdog bytes " << bmc.watchdog_answer_bytes << "\n";
    if (bmc.watchdog_refused) out << "watchdog refused " << Hex(bmc.watchdog_refused, 2) << "\n";
    for (const auto& [number, channel] : bmc.channels)
        out << "channel " << static_cast<unsigned>(number) << " medium " << Hex(channel.medium, 2) << " protocol "
            << Hex(channel.protocol, 2) << "\n";
    for (const auto& [id, user] : bmc.users)
        if (!user.name.empty()) out << "user " << static_cast<unsigned>(id) << " name " << user.name << "\n";
    out << sel_conf(bmc);
    for (const auto& [number, sensor] : bmc.sensors) {
        if (sensor.reading_refused)
            out << "sensor " << Hex(number, 2) << " refused " << Hex(sensor.reading_refused, 2) << "\n";
        else
            out << "sensor " << Hex(number, 2) << " reading " << Hex(sensor.reading, 2)
                << (sensor.reading_flags != 0xC0 ? " flags " + Hex(sensor.reading_flags, 2) : std::string()) << " state " << Hex(sensor.state, 4) << "\n";
        if (sensor.thresholds_refused) {
            out << "thresholds " << Hex(number, 2) << " refused " << Hex(sensor.thresholds_refused, 2) << "\n";
            continue;
        }
        if (!sensor.threshold_based) continue;
        out << "thresholds " << Hex(number, 2) << " readable " << Hex(sensor.readable, 2) << " values";
        for (std::uint8_t t : sensor.thresholds) out << " " << Hex(t, 2);
        out << "\n";
    }
    return out.str();
}

bool load_ipmi(const fs::path& dir, Machine& machine, std::string& error) {
    std::optional<std::string> sdr, fru, conf, forward, sel;
    std::vector<std::string> errors;
    for (auto [name, bytes] : {std::pair{"ipmi/sdr.bin", &sdr}, {"ipmi/fru0.bin", &fru}, {"ipmi/bmc.conf", &conf},
                               {"ipmi/forward", &forward}, {"ipmi/sel.bin", &sel}}) {
        std::string why;
        if (!read_capture_part(dir, name, *bytes, why)) errors.push_back(why);
    }
    if (!sdr && !fru && !conf && !forward && !sel && errors.empty()) return true;  // a machine without a BMC

    auto bmc = std::make_shared<Bmc>();
    if (forward) {
        std::string host;
        std::uint16_t port = 0;
        if (ForwardAddress(*forward, host, port))
            bmc->forward_to(host, port);
        else
            errors.push_back("ipmi/forward:1: expected HOST:PORT");
    }
    if (fru && fru->size() > 0xFFFF) {
        errors.push_back("ipmi/fru0.bin: " + std::to_string(fru->size()) +
                         " bytes, more than the 65535 a FRU device can hold");
    } else if (fru) {
        bmc->fru0.assign(fru->begin(), fru->end());
    }
    if (sdr) {
        // The records before one that is cut short are served.
        const std::string& bytes = *sdr;
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t size =
                at + kSdrHeader <= bytes.size() ? kSdrHeader + static_cast<unsigned char>(bytes[at + 4]) : 0;
            if (size == 0 || at + size > bytes.size()) {
                errors.push_back("ipmi/sdr.bin: the record at offset " + std::to_string(at) + " is cut short");
                break;
            }
            bmc->add_record_bytes(std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(at),
                                                            bytes.begin() + static_cast<long>(at + size)));
            at += size;
        }
    }
    if (std::string why; sel && !load_sel_bin(*sel, *bmc, why)) errors.push_back(why);
    if (conf) {
        std::vector<std::string> lines;
        read_bmc_conf(*conf, *bmc, lines);
        for (const std::string& line : lines) errors.push_back("ipmi/bmc.conf:" + line);
    }
    install_bmc(machine, bmc);
    for (const std::string& e : errors) error += (error.empty() ? "" : "\n") + e;
    return errors.empty();
}

bool write_ipmi(const std::string& dir, const Bmc& bmc) {
    if (!bmc.fru0.empty() && !write_file(dir + "/ipmi/fru0.bin", bmc.fru0)) return false;
    if (bmc.sel.present && !write_file(dir + "/ipmi/sel.bin", sel_bin(bmc))) return false;
    return write_file(dir + "/ipmi/sdr.bin", bmc.sdr_bin()) && write_file(dir + "/ipmi/bmc.conf", bmc_conf(bmc));
}

}  // namespace sim
