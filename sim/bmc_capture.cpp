// The BMC's part of a capture directory: ipmi/sdr.bin, ipmi/fru0.bin, ipmi/bmc.conf and
// ipmi/forward (sim/README.md).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/loader.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr std::size_t kSdrHeader = 5;

bool Number(const std::string& token, unsigned long max, unsigned long& out) {
    if (token.empty()) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(token.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || token[0] == '-' || value > max) return false;
    out = value;
    return true;
}

bool Flag(const std::string& token, const char* yes, const char* no, bool& out) {
    if (token == yes) return out = true, true;
    if (token == no) return out = false, true;
    return false;
}

// "MAJOR.MINOR" with a one-digit minor (IPMI version) or two hex digits (firmware, BCD).
bool Version(const std::string& token, unsigned long major_max, std::size_t minor_digits, unsigned long& major,
             unsigned long& minor) {
    auto dot = token.find('.');
    if (dot == std::string::npos || token.size() - dot - 1 != minor_digits) return false;
    return Number(token.substr(0, dot), major_max, major) &&
           Number("0x" + token.substr(dot + 1), minor_digits == 1 ? 9 : 0xFF, minor);
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
    if (host.find_first_of(" \t") != std::string::npos || !Number(line.substr(colon + 1), 0xFFFF, value) || value == 0)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool read_bmc_conf(const std::string& text, Bmc& bmc, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;

        auto fail = [&](const std::string& what) {
            error = std::to_string(number) + ": " + what;
            return false;
        };
        const std::string& key = w[0];
        unsigned long value = 0, major = 0, minor = 0;
        bool flag = false;
        if (key == "sensor") {
            if (w.size() < 4 || w.size() % 2 != 0 || !Number(w[1], 0xFF, value))
                return fail("expected: sensor NUMBER reading BYTE state BITS");
            BmcSensor& sensor = bmc.sensors[static_cast<std::uint8_t>(value)];
            for (std::size_t i = 2; i < w.size(); i += 2) {
                unsigned long setting = 0;
                if (w[i] == "reading" && Number(w[i + 1], 0xFF, setting))
                    sensor.reading = static_cast<std::uint8_t>(setting);
                else if (w[i] == "state" && Number(w[i + 1], 0x7FFF, setting))
                    sensor.state = static_cast<std::uint16_t>(setting);
                else
                    return fail("bad sensor setting '" + w[i] + " " + w[i + 1] + "'");
            }
            continue;
        }
        if (key == "channel") {
            unsigned long medium = 0, protocol = 0;
            if (w.size() != 6 || !Number(w[1], 7, value) || value == 0 || w[2] != "medium" ||
                !Number(w[3], 0x7F, medium) || w[4] != "protocol" || !Number(w[5], 0x1F, protocol))
                return fail("expected: channel 1-7 medium TYPE protocol TYPE");
            bmc.channels[static_cast<std::uint8_t>(value)] = {static_cast<std::uint8_t>(medium),
                                                              static_cast<std::uint8_t>(protocol)};
            continue;
        }
        if (key == "user") {
            if (w.size() != 4 || !Number(w[1], bmc.user_slots, value) || value == 0 || w[2] != "name" ||
                w[3].size() > 16)
                return fail("expected: user ID name NAME (at most 16 characters)");
            bmc.users[static_cast<std::uint8_t>(value)].name = w[3];
            continue;
        }
        if (w.size() != 2) return fail("expected: " + key + " VALUE");
        if (key == "device-id" && Number(w[1], 0xFF, value))
            bmc.device.device_id = static_cast<std::uint8_t>(value);
        else if (key == "device-revision" && Number(w[1], 0xFF, value))
            bmc.device.revision = static_cast<std::uint8_t>(value);
        else if (key == "firmware" && Version(w[1], 0x7F, 2, major, minor)) {
            bmc.device.firmware1 = static_cast<std::uint8_t>((bmc.device.firmware1 & 0x80) | major);
            bmc.device.firmware2 = static_cast<std::uint8_t>(minor);
        } else if (key == "update-in-progress" && Flag(w[1], "yes", "no", flag))
            bmc.device.firmware1 = static_cast<std::uint8_t>((bmc.device.firmware1 & 0x7F) | (flag ? 0x80 : 0));
        else if (key == "ipmi-version" && Version(w[1], 9, 1, major, minor))
            bmc.device.ipmi_version = static_cast<std::uint8_t>(minor << 4 | major);
        else if (key == "manufacturer" && Number(w[1], 0xFFFFFF, value))
            bmc.device.manufacturer = static_cast<std::uint32_t>(value);
        else if (key == "product" && Number(w[1], 0xFFFF, value))
            bmc.device.product = static_cast<std::uint16_t>(value);
        else if (key == "kcs" && Flag(w[1], "present", "absent", flag))
            bmc.kcs_present = flag;
        else if (key == "smic" && Flag(w[1], "present", "absent", flag))
            bmc.smic_present = flag;
        else if (key == "fru-read-limit" && Number(w[1], 0xFF, value) && value > 0)
            bmc.fru_read_limit = value;
        else if (key == "answer-limit" && Number(w[1], 256, value) && value > 0)
            bmc.answer_limit = value;
        else if (key == "whole-records" && Flag(w[1], "refused", "given", flag))
            bmc.refuse_whole_records = flag;
        else if (key == "reservation-lifetime" && Number(w[1], 0xFFFF, value))
            bmc.reservation_lifetime = value;
        else
            return fail("unknown setting '" + key + " " + w[1] + "'");
    }
    return true;
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
    for (const auto& [number, channel] : bmc.channels)
        out << "channel " << static_cast<unsigned>(number) << " medium " << Hex(channel.medium, 2) << " protocol "
            << Hex(channel.protocol, 2) << "\n";
    for (const auto& [id, user] : bmc.users)
        if (!user.name.empty()) out << "user " << static_cast<unsigned>(id) << " name " << user.name << "\n";
    for (const auto& [number, sensor] : bmc.sensors)
        out << "sensor " << Hex(number, 2) << " reading " << Hex(sensor.reading, 2) << " state "
            << Hex(sensor.state, 4) << "\n";
    return out.str();
}

bool load_ipmi(const fs::path& dir, Machine& machine, std::string& error) {
    auto sdr = read_file((dir / "ipmi" / "sdr.bin").string());
    auto fru = read_file((dir / "ipmi" / "fru0.bin").string());
    auto conf = read_file((dir / "ipmi" / "bmc.conf").string());
    auto forward = read_file((dir / "ipmi" / "forward").string());
    if (!sdr && !fru && !conf && !forward) return true;  // a machine without a BMC

    auto bmc = std::make_shared<Bmc>();
    if (forward) {
        std::string host;
        std::uint16_t port = 0;
        if (!ForwardAddress(*forward, host, port)) {
            error = "ipmi/forward: expected HOST:PORT";
            return false;
        }
        bmc->forward_to(host, port);
    }
    if (fru) {
        if (fru->size() > 0xFFFF) {
            error = "ipmi/fru0.bin: larger than the 65535 bytes a FRU device can hold";
            return false;
        }
        bmc->fru0.assign(fru->begin(), fru->end());
    }
    if (sdr) {
        const std::string& bytes = *sdr;
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t size =
                at + kSdrHeader <= bytes.size() ? kSdrHeader + static_cast<unsigned char>(bytes[at + 4]) : 0;
            if (size == 0 || at + size > bytes.size()) {
                error = "ipmi/sdr.bin: the record at offset " + std::to_string(at) + " is cut short";
                return false;
            }
            bmc->add_record_bytes(std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(at),
                                                            bytes.begin() + static_cast<long>(at + size)));
            at += size;
        }
    }
    if (conf && !read_bmc_conf(*conf, *bmc, error)) {
        error = "ipmi/bmc.conf:" + error;
        return false;
    }
    install_bmc(machine, bmc);
    return true;
}

bool write_ipmi(const std::string& dir, const Bmc& bmc) {
    if (!bmc.fru0.empty() && !write_file(dir + "/ipmi/fru0.bin", bmc.fru0)) return false;
    return write_file(dir + "/ipmi/sdr.bin", bmc.sdr_bin()) && write_file(dir + "/ipmi/bmc.conf", bmc_conf(bmc));
}

}  // namespace sim
