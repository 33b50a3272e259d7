// The BMC, asked with read requests only (IPMI 2.0): the SDR repository record by record,
// FRU device 0, and the live state for bmc.conf (device ID, each sensor's reading and state
// bits, the thresholds it reports now, the watchdog's settings, channels, user names). No Set
// command, nothing that loads, starts or stops the watchdog, no password.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "IPMI/IPMIbase.h"
#include "capture/capture.h"

namespace capture {

namespace {

// netFn, command: the only requests capture sends.
constexpr std::uint8_t kApp = 0x06, kSensor = 0x04, kStorage = 0x0A;
constexpr std::uint8_t kGetDeviceId = 0x01, kGetWatchdogTimer = 0x25, kGetChannelInfo = 0x42, kGetUserName = 0x46;
constexpr std::size_t kWatchdogAnswer = 8;  // IPMI 2.0 27.7: data bytes after the completion code
constexpr std::size_t kWatchdogSettings = 6;  // up to the initial countdown
constexpr std::uint8_t kGetSensorThresholds = 0x27, kGetSensorReading = 0x2D;
constexpr std::uint8_t kGetFruAreaInfo = 0x10, kReadFruData = 0x11, kReserveSdr = 0x22, kGetSdr = 0x23;
constexpr std::uint8_t kBmcAddress = 0x20;
constexpr int kChunk = 16;  // bytes per SDR and FRU read: fits every interface's message
constexpr std::size_t kSdrHeader = 5;

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The transport of the IPMI family, used for reads.
class Reader : public IPMIbase {
public:
    Reader() { InitIpmiBase(); }
    // The response data after the completion code; false when the request failed, with the
    // completion code in `refused` when one is wanted (FFh when nothing answered).
    bool ask(std::uint8_t netfn, std::uint8_t command, const std::vector<std::uint8_t>& data,
             std::vector<std::uint8_t>& answer, std::uint8_t* refused = nullptr) {
        answer.clear();
        const IpmiAnswer reply = AskBmc(*this, netfn, command, kBmcAddress, data.data(), static_cast<int>(data.size()));
        if (!reply.ok()) {
            if (refused) *refused = reply.completion ? reply.completion : 0xFF;
            return false;
        }
        answer.assign(reply.bytes, reply.bytes + reply.length);
        return true;
    }
};

// The repository, record by record from ID 0000h on, each read in pieces after its header.
bool ReadRepository(Reader& bmc, std::vector<std::vector<std::uint8_t>>& records, std::string& error) {
    std::vector<std::uint8_t> answer;
    if (!bmc.ask(kStorage, kReserveSdr, {}, answer) || answer.size() < 2) {
        error = "Reserve SDR Repository refused";
        return false;
    }
    const std::uint8_t r0 = answer[0], r1 = answer[1];
    unsigned id = 0;
    for (int n = 0; n < 0xFFFF; ++n) {
        auto get = [&](unsigned offset, unsigned count) {
            return bmc.ask(kStorage, kGetSdr,
                           {r0, r1, static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                            static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(count)},
                           answer) &&
                   answer.size() >= 2 + count;
        };
        if (!get(0, kSdrHeader)) {
            if (n == 0) return error = "Get SDR of the first record refused", false;
            error = "Get SDR of record " + Hex(id, 4) + " refused";
            return false;
        }
        const unsigned next = answer[0] | answer[1] << 8;
        std::vector<std::uint8_t> record(answer.begin() + 2, answer.begin() + 2 + kSdrHeader);
        const unsigned length = record[4];
        for (unsigned offset = kSdrHeader; offset < kSdrHeader + length;) {
            unsigned count = std::min<unsigned>(kChunk, kSdrHeader + length - offset);
            if (!get(offset, count)) {
                error = "Get SDR of record " + Hex(id, 4) + " at offset " + std::to_string(offset) + " refused";
                return false;
            }
            record.insert(record.end(), answer.begin() + 2, answer.begin() + 2 + count);
            offset += count;
        }
        records.push_back(record);
        if (next == 0xFFFF || next == id) break;
        id = next;
    }
    return true;
}

bool ReadFru(Reader& bmc, std::vector<std::uint8_t>& image, std::string& error) {
    std::vector<std::uint8_t> answer;
    if (!bmc.ask(kStorage, kGetFruAreaInfo, {0}, answer) || answer.size() < 3) {
        error = "Get FRU Inventory Area Info refused";
        return false;
    }
    const unsigned size = answer[0] | answer[1] << 8;
    const unsigned step = answer[2] & 0x01 ? 2 : 1;  // accessed by words: offsets in words
    while (image.size() < size) {
        unsigned count = std::min<unsigned>(kChunk, size - static_cast<unsigned>(image.size()));
        unsigned offset = static_cast<unsigned>(image.size()) / step;
        if (!bmc.ask(kStorage, kReadFruData,
                     {0, static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                      static_cast<std::uint8_t>(count / step)},
                     answer) ||
            answer.empty() || answer[0] == 0) {
            error = "Read FRU Data refused at offset " + std::to_string(image.size());
            return false;
        }
        std::size_t got = std::min<std::size_t>({std::size_t{answer[0]} * step, answer.size() - 1, std::size_t{count}});
        image.insert(image.end(), answer.begin() + 1, answer.begin() + 1 + static_cast<long>(got));
    }
    return true;
}

}  // namespace

// Through the family's transport, whichever the machine offers: the classic /dev/ipmi, or
// the mainline driver's node, which needs no port privilege and works under lockdown.
void capture_ipmi(Capture& c) {
    Reader bmc;
    if (!bmc.IsInitOK()) {
        c.manifest.missing("ipmi/", "no BMC answers through /dev/ipmi or /dev/ipmi0");
        return;
    }
    std::string conf = "# Captured by qarvel capture (sim/README.md describes this file)\n";
    std::vector<std::uint8_t> answer;
    const bool identified = bmc.ask(kApp, kGetDeviceId, {}, answer) && answer.size() >= 11;
    c.manifest.source("ipmi", IpmiSourceName() ? IpmiSourceName() : "unknown");
    if (identified) {
        char firmware[16], version[8];
        std::snprintf(firmware, sizeof firmware, "%u.%02X", answer[2] & 0x7Fu, answer[3]);
        std::snprintf(version, sizeof version, "%u.%u", answer[4] & 0x0Fu, answer[4] >> 4);
        conf += "device-id " + Hex(answer[0], 2) + "\ndevice-revision " + Hex(answer[1], 2) + "\nfirmware " +
                firmware + "\nupdate-in-progress " + (answer[2] & 0x80 ? "yes" : "no") + "\nipmi-version " +
                version + "\nmanufacturer " + Hex(answer[6] | answer[7] << 8 | (answer[8] & 0x0F) << 16, 6) +
                "\nproduct " + Hex(answer[9] | answer[10] << 8, 4) + "\n";
    } else {
        c.manifest.missing("ipmi/bmc.conf device ID", "Get Device ID refused");
    }
    conf += std::string("kcs ") + (bmc.IsSupportKCS ? "present" : "absent") + "\nsmic " +
            (bmc.IsSupportSMIC ? "present" : "absent") + "\n";
    // The watchdog as it stands, read only: the report shows its settings. A BMC that refuses
    // them, or answers short, must do so in the replay too; an answer that stops after the
    // initial countdown still gives the settings the library reads from it.
    std::uint8_t refused = 0;
    if (!bmc.ask(kApp, kGetWatchdogTimer, {}, answer, &refused)) {
        conf += "watchdog refused " + Hex(refused, 2) + "\n";
    } else {
        if (answer.size() >= kWatchdogSettings) {
            const unsigned present = answer.size() >= kWatchdogAnswer ? answer[6] | answer[7] << 8 : 0;
            conf += "watchdog use " + Hex(answer[0], 2) + " actions " + Hex(answer[1], 2) + " pretimeout " +
                    std::to_string(answer[2]) + " flags " + Hex(answer[3], 2) + " initial " +
                    std::to_string(answer[4] | answer[5] << 8) + " present " + std::to_string(present) + "\n";
        }
        // After the settings, which the loader takes as answered whole.
        if (answer.size() < kWatchdogAnswer) conf += "watchdog bytes " + std::to_string(answer.size()) + "\n";
    }
    for (unsigned channel = 1; channel <= 7; ++channel)
        if (bmc.ask(kApp, kGetChannelInfo, {static_cast<std::uint8_t>(channel)}, answer) && answer.size() >= 3)
            conf += "channel " + std::to_string(channel) + " medium " + Hex(answer[1] & 0x7F, 2) + " protocol " +
                    Hex(answer[2] & 0x1F, 2) + "\n";
    for (unsigned user = 1; user <= 63; ++user) {
        if (!bmc.ask(kApp, kGetUserName, {static_cast<std::uint8_t>(user)}, answer)) break;
        std::string name(answer.begin(), answer.begin() + static_cast<long>(std::min<std::size_t>(answer.size(), 16)));
        name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
        bool plain = !name.empty() && name.find_first_of(" \t#") == std::string::npos;
        for (char ch : name) plain = plain && ch > 0x20 && ch < 0x7F;
        if (plain) conf += "user " + std::to_string(user) + " name " + name + "\n";
    }

    std::vector<std::vector<std::uint8_t>> records;
    std::string error;
    if (!ReadRepository(bmc, records, error)) c.manifest.missing("ipmi/sdr.bin", error);
    std::string sdr;
    for (const auto& record : records) {
        sdr.append(record.begin(), record.end());
        // Full (01h) and compact (02h) sensor records name a sensor: its reading and state,
        // and for a threshold sensor of a full record (event/reading type 01h) its thresholds.
        if (record.size() < 8 || (record[3] != 0x01 && record[3] != 0x02)) continue;
        // A refusal is part of the BMC's state: the library shows such a sensor as unreadable,
        // and so must the replay. An answer too short to hold what was asked counts as the
        // library counts it, a failure.
        const std::uint8_t number = record[7];
        refused = 0;
        if (bmc.ask(kSensor, kGetSensorReading, {number}, answer, &refused) && answer.size() >= 3) {
            unsigned state = answer.size() >= 4 ? (answer[2] | (answer[3] & 0x7F) << 8) : answer[2];
            conf += "sensor " + Hex(number, 2) + " reading " + Hex(answer[0], 2) +
                    // Scanning on and the reading available (C0h) is the replay's default; other
                    // flags say the sensor is unreadable, and the replay must say so too.
                    (answer[1] != 0xC0 ? " flags " + Hex(answer[1], 2) : std::string()) +
                    " state " + Hex(state, 4) + "\n";
        } else if (refused) {
            conf += "sensor " + Hex(number, 2) + " refused " + Hex(refused, 2) + "\n";
        } else {
            c.manifest.missing("ipmi/bmc.conf sensor " + Hex(number, 2), "Get Sensor Reading answered short");
        }
        if (record[3] == 0x01 && record.size() > 13 && record[13] == 0x01) {
            refused = 0;
            if (bmc.ask(kSensor, kGetSensorThresholds, {number}, answer, &refused) && answer.size() >= 7) {
                conf += "thresholds " + Hex(number, 2) + " readable " + Hex(answer[0] & 0x3F, 2) + " values";
                for (int i = 1; i <= 6; ++i) conf += " " + Hex(answer[i], 2);
                conf += "\n";
            } else if (refused) {
                conf += "thresholds " + Hex(number, 2) + " refused " + Hex(refused, 2) + "\n";
            } else {
                c.manifest.missing("ipmi/bmc.conf thresholds " + Hex(number, 2), "Get Sensor Thresholds answered short");
            }
        }
    }
    if (!records.empty()) c.write("ipmi/sdr.bin", sdr);
    std::vector<std::uint8_t> fru;
    if (ReadFru(bmc, fru, error))
        c.write("ipmi/fru0.bin", fru);
    else
        c.manifest.missing("ipmi/fru0.bin", error);
    conf += capture_sel(c);
    c.write("ipmi/bmc.conf", conf);
}

}  // namespace capture
