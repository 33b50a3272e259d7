// HEALTH_EDAC: the memory controllers' error counts, per controller and per DIMM, in either
// layout the kernel writes (dimmN/ or rankN/ since 3.6, csrowN/chX_ before), each DIMM joined
// to the SMBIOS memory device its label names.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "SmBios/SmBios.h"
#include "api/field.h"
#include "api/health_types.h"
#include "health/hwmon.h"
#include "health/sysfs.h"
#include "platform/platform.h"
#include "process/state.h"

namespace qarvel {

namespace {

constexpr const char* kEdacRoot = "/sys/devices/system/edac/mc";
constexpr std::uint64_t kMiB = 1024 * 1024;

struct Dimm {
    unsigned controller = 0;
    std::string label, location, type;
    unsigned flags = 0;
    std::uint64_t size = 0, corrected = 0, uncorrected = 0;
};

struct Controller {
    unsigned number = 0;
    std::string name;
    unsigned flags = 0;
    std::uint64_t size = 0, corrected = 0, uncorrected = 0, correctedNoInfo = 0, uncorrectedNoInfo = 0;
};

struct Edac {
    std::vector<Controller> controllers;
    std::vector<Dimm> dimms;
};

std::string Text(const std::string& path) {
    std::string text;
    int error = 0;
    return ReadAttribute(path, text, error) ? SysfsText(text.data(), text.size()) : std::string();
}

// A count into `value`, with `flag` set in `flags` when the file held one.
void Count(const std::string& path, std::uint64_t& value, unsigned& flags, unsigned flag) {
    std::string text;
    int error = 0;
    if (ReadAttribute(path, text, error) && ParseSysfsCounter(text.data(), text.size(), value)) flags |= flag;
}

// A size in MiB as bytes; a size too large for 64 bits is no size.
void Size(const std::string& path, std::uint64_t& bytes, unsigned& flags) {
    std::uint64_t mib = 0;
    unsigned read = 0;
    Count(path, mib, read, EDAC_HAS_SIZE);
    if (read && mib <= UINT64_MAX / kMiB) bytes = mib * kMiB, flags |= EDAC_HAS_SIZE;
}

// The entries named PREFIX and a number, by number ("dimm2" before "dimm10").
std::vector<std::pair<unsigned, std::string>> Numbered(const std::vector<std::string>& names, const std::string& prefix) {
    std::vector<std::pair<unsigned, std::string>> found;
    for (const std::string& name : names) {
        std::uint64_t n = 0;
        if (name.compare(0, prefix.size(), prefix) != 0 ||
            !ParseSysfsCounter(name.data() + prefix.size(), name.size() - prefix.size(), n) || n > 0xFFFF ||
            name.size() == prefix.size() || name[prefix.size()] < '0' || name[prefix.size()] > '9')
            continue;
        found.push_back({static_cast<unsigned>(n), name});
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The older layout: a chip-select row's channels, each a DIMM with its own label and
// corrected count. The row's size and uncorrected count belong to a DIMM only when the row
// has one channel.
void ReadCsrow(const std::string& row, unsigned controller, unsigned number, std::vector<Dimm>& dimms) {
    std::vector<std::string> names;
    if (!platform::list_directory(row.c_str(), names)) return;
    std::vector<unsigned> channels;
    for (const std::string& name : names) {
        unsigned channel = 0;
        bool label = false;
        if (ParseCsrowChannelAttribute(name, channel, label) && !label) channels.push_back(channel);
    }
    std::sort(channels.begin(), channels.end());
    const std::string type = Text(row + "/mem_type");
    for (unsigned channel : channels) {
        Dimm d;
        d.controller = controller;
        const std::string ch = row + "/ch" + std::to_string(channel);
        d.label = Text(ch + "_dimm_label");
        d.location = "csrow " + std::to_string(number) + " channel " + std::to_string(channel);
        d.type = type;
        Count(ch + "_ce_count", d.corrected, d.flags, EDAC_HAS_CORRECTED);
        if (channels.size() == 1) {
            Size(row + "/size_mb", d.size, d.flags);
            Count(row + "/ue_count", d.uncorrected, d.flags, EDAC_HAS_UNCORRECTED);
        }
        dimms.push_back(d);
    }
}

bool ReadEdac(Edac& out, const char*&, char* why, std::size_t size) {
    std::vector<std::string> names;
    if (!platform::list_directory(kEdacRoot, names)) return Refuse(why, size, "cannot list", kEdacRoot, errno);
    // The EDAC core without a memory controller driver: nothing is counted, which is no zero.
    const auto controllers = Numbered(names, "mc");
    if (controllers.empty()) return Refuse(why, size, "no memory controller under", kEdacRoot);
    for (const auto& [number, name] : controllers) {
        const std::string mc = std::string(kEdacRoot) + "/" + name;
        Controller c;
        c.number = number;
        c.name = Text(mc + "/mc_name");
        Size(mc + "/size_mb", c.size, c.flags);
        Count(mc + "/ce_count", c.corrected, c.flags, EDAC_HAS_CORRECTED);
        Count(mc + "/ue_count", c.uncorrected, c.flags, EDAC_HAS_UNCORRECTED);
        Count(mc + "/ce_noinfo_count", c.correctedNoInfo, c.flags, EDAC_HAS_CORRECTED_NO_INFO);
        Count(mc + "/ue_noinfo_count", c.uncorrectedNoInfo, c.flags, EDAC_HAS_UNCORRECTED_NO_INFO);
        out.controllers.push_back(c);

        std::vector<std::string> entries;
        platform::list_directory(mc.c_str(), entries);
        auto dimms = Numbered(entries, "dimm");
        for (auto& rank : Numbered(entries, "rank")) dimms.push_back(rank);
        for (const auto& [n, entry] : dimms) {
            const std::string dir = mc + "/" + entry;
            Dimm d;
            d.controller = number;
            d.label = Text(dir + "/dimm_label");
            d.location = Text(dir + "/dimm_location");
            d.type = Text(dir + "/dimm_mem_type");
            Size(dir + "/size", d.size, d.flags);
            Count(dir + "/dimm_ce_count", d.corrected, d.flags, EDAC_HAS_CORRECTED);
            Count(dir + "/dimm_ue_count", d.uncorrected, d.flags, EDAC_HAS_UNCORRECTED);
            out.dimms.push_back(d);
        }
        if (!dimms.empty()) continue;
        for (const auto& [n, entry] : Numbered(entries, "csrow")) ReadCsrow(mc + "/" + entry, number, n, out.dimms);
    }
    return true;
}

const Source<Edac> kEdacSources[] = {
    {kEdacRoot, nullptr, ReadEdac},
};

template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
    CopyField(field, N, text.c_str(), N, FieldEnd::Cleared);
}

// The SMBIOS memory devices, from the process's reader; false when there is no table.
bool MemoryDevices(std::vector<MemoryDeviceTexts>& devices) {
    SmBiosSession session;
    SmBios* bios = session.Reader();
    if (!bios || !bios->InitOK) return false;
    const char* texts[4];
    for (int n = 1; n <= 255 && bios->GetMemDevStrings(n, texts); ++n) {
        auto text = [](const char* t) { return t ? SysfsText(t, std::strlen(t)) : std::string(); };
        devices.push_back({text(texts[0]), text(texts[1]), text(texts[3]), text(texts[2])});
    }
    return true;
}

}  // namespace

int FillEdac(void* record) {
    EDAC_INFO* info = static_cast<EDAC_INFO*>(record);
    ProcessState& s = State();
    std::lock_guard<std::mutex> lock(s.healthLock);
    Edac edac;
    if (!Probe(kEdacSources, edac, s.sources[SOURCE_EDAC])) return -1;
    unsigned n = 0;
    for (const Controller& c : edac.controllers) {
        if (n == EDAC_MOST_CONTROLLERS) break;
        EDAC_CONTROLLER& out = info->controller[n++];
        Put(out.Name, c.name);
        out.Number = c.number;
        out.Flags = c.flags;
        out.SizeBytes = c.size;
        out.Corrected = c.corrected;
        out.Uncorrected = c.uncorrected;
        out.CorrectedNoInfo = c.correctedNoInfo;
        out.UncorrectedNoInfo = c.uncorrectedNoInfo;
    }
    info->ControllerQuantity = n;
    std::vector<MemoryDeviceTexts> devices;
    const bool smbios = MemoryDevices(devices);
    n = 0;
    for (const Dimm& d : edac.dimms) {
        if (n == EDAC_MOST_DIMMS) break;
        EDAC_DIMM& out = info->dimm[n++];
        Put(out.Label, d.label);
        Put(out.Location, d.location);
        Put(out.MemoryType, d.type);
        out.Controller = d.controller;
        out.Flags = d.flags;
        out.SizeBytes = d.size;
        out.Corrected = d.corrected;
        out.Uncorrected = d.uncorrected;
        const int k = smbios ? MatchDimmLabel(d.label, devices) : -1;
        if (!smbios) out.Flags |= EDAC_DIMM_NO_SMBIOS;
        if (k < 0) continue;
        out.Flags |= EDAC_DIMM_MATCHED;
        Put(out.Locator, devices[k].locator);
        Put(out.BankLocator, devices[k].bank);
        Put(out.PartNumber, devices[k].part);
        Put(out.SerialNumber, devices[k].serial);
    }
    info->DimmQuantity = n;
    return 0;
}

}  // namespace qarvel
