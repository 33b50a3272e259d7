// The collectors. Where another exporter already publishes the same quantity, its metric and
// label names are used, so that existing dashboards and alerts work unchanged; the source is
// named beside each. Everything else is under qarvel_, in base units.
#include "exporter/collectors.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "api/health_types.h"
#include "api/sel_types.h"
#include "api/types.h"

namespace exporter {

Library::Library(void* handle) {
    auto look = [handle](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
    };
    look(GetInfo, "GetInfo");
    look(GetIpmiInfo, "GetIpmiInfo");
    look(GetInfoPage, "GetInfoPage");
    look(GetIpmiInfoPage, "GetIpmiInfoPage");
    look(GetBMCVersion, "GetBMCVersion");
    look(GetWatchDogTimer, "GetWatchDogTimer");
    look(GetHealthInfo, "GetHealthInfo");
    look(GetSelInfo, "GetSelInfo");
    look(release, "release");
}

namespace {

// A text field up to its first NUL, never past its end.
template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Entries a record holds, whatever its count says.
template <typename Entry, std::size_t N>
int Held(int count, const Entry (&)[N]) {
    return std::clamp(count, 0, static_cast<int>(N));
}
template <typename Entry, std::size_t N>
int Held(unsigned int count, const Entry (&)[N]) {
    return static_cast<int>(std::min<unsigned int>(count, N));
}

// A call of a family that is busy (another call of it still running, one that outlived its
// time limit, say) answers 1: asked again for a while before the collector gives up.
template <typename Call>
int Patiently(Call call) {
    int result = call();
    for (int tries = 0; result == 1 && tries < 100; ++tries) {
        ::usleep(10000);
        result = call();
    }
    return result;
}

// A zeroed record, asked of one of the exports that fill a record by command (GetInfo,
// GetHealthInfo); the large ones live on the heap.
template <typename Record>
std::unique_ptr<Record> AskOf(int (*call)(unsigned long, void*), const char* export_name, unsigned long command,
                              std::string& why) {
    if (!call) {
        why = std::string("the library has no ") + export_name;
        return nullptr;
    }
    auto record = std::make_unique<Record>();
    std::memset(record.get(), 0, sizeof(Record));
    int result = Patiently([&] { return call(command, record.get()); });
    if (result != 0) {
        why = std::string(export_name) + " answered " + std::to_string(result);
        return nullptr;
    }
    return record;
}

template <typename Record>
std::unique_ptr<Record> Ask(const Library& library, unsigned long command, std::string& why) {
    return AskOf<Record>(library.GetInfo, "GetInfo", command, why);
}

using PageCall = int (*)(unsigned long, int, void*, int*);

// Every entry of a command, page by page through the paged export (all pages of one walk come
// from one reading of the machine), `visit(record, first)` for each page with `count(record)`
// entries from entry `first` on. A library without the paged export gives its one record.
template <typename Record, typename Count, typename Visit>
bool EveryPage(PageCall page, int (*classic)(unsigned long, void*), const char* name, unsigned long command,
               std::string& why, Count count, Visit visit) {
    if (!page) {
        auto record = AskOf<Record>(classic, name, command, why);
        if (record) visit(*record, 0);
        return record != nullptr;
    }
    auto record = std::make_unique<Record>();
    int first = 0, total = 0;
    // A page holds at least one entry, so a walk ends; the bound holds against a library
    // whose total never stops growing.
    for (int pages = 0; pages < 65536; ++pages) {
        std::memset(record.get(), 0, sizeof(Record));
        const int result = Patiently([&] { return page(command, first, record.get(), &total); });
        if (result != 0) {
            if (first > 0) break;  // what the first pages gave stands
            why = std::string(name) + "Page answered " + std::to_string(result);
            return false;
        }
        const int n = count(*record);
        if (n <= 0) break;
        visit(*record, first);
        first += n;
        if (first >= total) break;
    }
    return true;
}

template <typename Record, typename Count, typename Visit>
bool EveryEntry(const Library& library, unsigned long command, std::string& why, Count count, Visit visit) {
    return EveryPage<Record>(library.GetInfoPage, library.GetInfo, "GetInfo", command, why, count, visit);
}

// A size or a speed in a record's text, in base units: "65536 MB", "2048 KB", "4800 MHZ".
bool Scaled(const std::string& text, double& value) {
    std::string unit;
    if (!LeadingNumber(text.c_str(), text.size() + 1, value, unit)) return false;
    std::string u;
    for (char c : unit) u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const struct {
        const char* unit;
        double factor;
    } kUnits[] = {{"", 1},          {"B", 1},          {"KB", 1024.0},   {"MB", 1048576.0},
                  {"GB", 1073741824.0}, {"MHZ", 1e6}, {"GHZ", 1e9},     {"KHZ", 1e3}};
    for (const auto& k : kUnits)
        if (u == k.unit) {
            value *= k.factor;
            return true;
        }
    return false;
}

void Gauge(Exposition& out, const std::string& name, const std::string& help) { out.family(name, "gauge", help); }

// Board, BIOS and system: node_exporter's dmi collector (node_dmi_info), with the labels it
// gives for the texts the records hold.
bool CollectDmi(const Library& library, Exposition& out, std::string& why) {
    auto board = Ask<BaseBoardInformation>(library, INFO_BASE_BOARD, why);
    if (!board) return false;
    std::string system_why;
    auto system = Ask<SysInformation>(library, INFO_SYSTEM, system_why);
    Labels labels;
    auto add = [&labels](const char* label, const std::string& value) {
        if (!value.empty()) labels.emplace_back(label, value);
    };
    add("bios_date", Text(board->RomReleaseDate));
    add("bios_vendor", Text(board->RomVendor));
    add("bios_version", Text(board->RomVersion));
    add("board_asset_tag", Text(board->AssetTag));
    add("board_name", Text(board->ProductName));
    add("board_serial", Text(board->SerialNo));
    add("board_vendor", Text(board->Manufacturer));
    add("board_version", Text(board->RevisionLevel));
    if (system) {
        add("product_name", Text(system->SysProductName));
        add("product_version", Text(system->version));
        add("system_vendor", Text(system->manufacturer));
    }
    out.family("node_dmi_info", "gauge",
               "A metric with a constant '1' value labeled by the board, BIOS and system texts of SMBIOS.");
    out.sample("node_dmi_info", labels, 1);
    return true;
}

bool CollectProcessors(const Library& library, Exposition& out, std::string& why) {
    Gauge(out, "qarvel_processor_info", "Processor sockets of SMBIOS, value is always 1.");
    Gauge(out, "qarvel_processor_max_frequency_hertz", "Highest speed the processor supports.");
    Gauge(out, "qarvel_processor_current_frequency_hertz", "Speed of the processor at boot.");
    Gauge(out, "qarvel_processor_external_clock_hertz", "External clock of the processor.");
    Gauge(out, "qarvel_processor_cache_size_bytes", "Installed size of each cache level of the processor.");
    auto count = [](const ProcessorInformation& r) { return Held(r.quantity, r.cpu); };
    return EveryEntry<ProcessorInformation>(library, INFO_PROCESSOR, why, count, [&](const ProcessorInformation& r, int first) {
    for (int n = 0; n < count(r); ++n) {
        const CPU& cpu = r.cpu[n];
        const int i = first + n;
        const Labels id = {{"processor", std::to_string(i)}};
        out.sample("qarvel_processor_info",
                   {{"processor", std::to_string(i)},
                    {"family", Text(cpu.family)},
                    {"manufacturer", Text(cpu.manufacturer)},
                    {"disabled", cpu.IsDisabled ? "1" : "0"}},
                   1);
        double value = 0;
        if (Scaled(Text(cpu.MaxSpeed), value)) out.sample("qarvel_processor_max_frequency_hertz", id, value);
        if (Scaled(Text(cpu.CurrentSpeed), value)) out.sample("qarvel_processor_current_frequency_hertz", id, value);
        if (Scaled(Text(cpu.ExternalClock), value)) out.sample("qarvel_processor_external_clock_hertz", id, value);
        for (int level = 0; level < 3; ++level)
            if (Scaled(Text(cpu.cache[level].InstalledSize), value))
                out.sample("qarvel_processor_cache_size_bytes",
                           {{"processor", std::to_string(i)}, {"level", std::to_string(level + 1)}}, value);
    }
    });
}

// DIMMs: node_exporter has no memory-device collector; the bank index tells modules apart
// (two controllers may number their slots alike).
bool CollectMemory(const Library& library, Exposition& out, std::string& why) {
    Gauge(out, "qarvel_memory_size_bytes", "Memory installed, as SMBIOS gives it.");
    Gauge(out, "qarvel_memory_dimm_info", "Memory modules of SMBIOS, value is always 1.");
    Gauge(out, "qarvel_memory_dimm_size_bytes", "Size of the memory module.");
    Gauge(out, "qarvel_memory_dimm_speed_hertz", "Speed of the memory module.");
    auto count = [](const MemoryInformation& r) { return Held(r.quantity, r.bank); };
    return EveryEntry<MemoryInformation>(library, INFO_MEMORY, why, count, [&](const MemoryInformation& r, int first) {
    // Every page gives the total of all of them.
    if (first == 0) out.sample("qarvel_memory_size_bytes", {}, static_cast<double>(r.TotalSize) * 1048576.0);
    for (int n = 0; n < count(r); ++n) {
        const BANK& bank = r.bank[n];
        const int i = first + n;
        const Labels id = {{"dimm", std::to_string(i)}};
        out.sample("qarvel_memory_dimm_info",
                   {{"dimm", std::to_string(i)},
                    {"slot", std::to_string(bank.SlotNumber)},
                    {"manufacturer", Text(bank.manufacturer)},
                    {"type", Text(bank.type)},
                    {"type_detail", Text(bank.TypeDetail)},
                    {"size", Text(bank.size)},
                    {"speed", Text(bank.speed)}},
                   1);
        double value = 0;
        if (Scaled(Text(bank.size), value)) out.sample("qarvel_memory_dimm_size_bytes", id, value);
        if (Scaled(Text(bank.speed), value)) out.sample("qarvel_memory_dimm_speed_hertz", id, value);
    }
    });
}

bool CollectPci(const Library& library, Exposition& out, std::string& why) {
    Gauge(out, "qarvel_pci_function_info", "PCI functions of domain 0, value is always 1.");
    auto count = [](const DeviceInformation& r) { return Held(r.quantity, r.dev); };
    return EveryEntry<DeviceInformation>(library, INFO_PCI_DEVICE, why, count, [&](const DeviceInformation& r, int first) {
    for (int n = 0; n < count(r); ++n) {
        const DEV& d = r.dev[n];
        const int i = first + n;
        int bus = -1, device = -1, function = -1;
        const std::string desc = Text(d.desc);
        char address[32];
        if (std::sscanf(desc.c_str(), "bus:%d, dev:%d, func:%d", &bus, &device, &function) == 3)
            std::snprintf(address, sizeof address, "%02x:%02x.%x", bus & 0xFF, device & 0x1F, function & 7);
        else
            std::snprintf(address, sizeof address, "entry %d", i);
        out.sample("qarvel_pci_function_info",
                   {{"address", address},
                    {"class", Text(d.model)},
                    {"subclass", Text(d.type)},
                    {"revision", std::to_string(d.revision)},
                    {"irq", std::to_string(d.IRQ)}},
                   1);
    }
    });
}

// Disks. The records name a disk by its controller and position, not by its kernel device,
// so smartctl_exporter's series (keyed by device) are not imitated; its label names are.
// NVMe controllers are named as the kernel names them, so they also get node_exporter's
// nvme collector metric (node_nvme_info; the controller's state is not in the record).
bool CollectDisks(const Library& library, Exposition& out, std::string& why) {
    Gauge(out, "qarvel_disk_info", "Disks, value is always 1.");
    Gauge(out, "qarvel_disk_size_bytes", "Size of the disk.");
    Gauge(out, "node_nvme_info", "Non-numeric data of the NVMe controller, value is always 1.");
    auto count = [](const StorageInformation& r) { return Held(r.quantityIDE + r.quantitySCSI, r.driveArray); };
    return EveryEntry<StorageInformation>(library, INFO_STORAGE, why, count, [&](const StorageInformation& r, int first) {
    for (int n = 0; n < count(r); ++n) {
        const DriveInfo& d = r.driveArray[n];
        const int i = first + n;
        const std::string controller_type = Text(d.ControllerType);
        out.sample("qarvel_disk_info",
                   {{"disk", std::to_string(i)},
                    {"controller_type", controller_type},
                    {"controller", Text(d.ControllerNo)},
                    {"model_name", Text(d.model)},
                    {"serial_number", Text(d.SerialNo)},
                    {"firmware_version", Text(d.FirmwareVersion)}},
                   1);
        double size = 0;
        if (Scaled(Text(d.size), size)) out.sample("qarvel_disk_size_bytes", {{"disk", std::to_string(i)}}, size);
        if (controller_type == "nvme")
            out.sample("node_nvme_info",
                       {{"device", Text(d.ControllerNo)},
                        {"firmware_revision", Text(d.FirmwareVersion)},
                        {"model", Text(d.model)},
                        {"serial", Text(d.SerialNo)}},
                       1);
    }
    });
}

// IPMI sensors: ipmi_exporter's names (ipmi_temperature_celsius, ipmi_fan_speed_rpm,
// ipmi_fan_speed_ratio, ipmi_voltage_volts and their _state: 0 nominal, 1 warning, 2 critical,
// NaN when the reading is unknown). Its `id` is the repository's record ID, which the records
// do not carry: here `id` is the sensor number. The thresholds have no counterpart there.
struct SensorKind {
    const char* value;      // metric of the reading in its base unit
    const char* ratio;      // metric of a reading given in percent (fans), or null
    const char* state;      // ipmi_exporter's state metric
    const char* threshold;  // the thresholds, in the reading's unit
    const char* what;       // for the help texts
};

const SensorKind kFans = {"ipmi_fan_speed_rpm", "ipmi_fan_speed_ratio", "ipmi_fan_speed_state",
                          "qarvel_ipmi_fan_speed_threshold_rpm", "fan speed"};
const SensorKind kVoltages = {"ipmi_voltage_volts", nullptr, "ipmi_voltage_state",
                              "qarvel_ipmi_voltage_threshold_volts", "voltage"};
const SensorKind kTemperatures = {"ipmi_temperature_celsius", nullptr, "ipmi_temperature_state",
                                  "qarvel_ipmi_temperature_threshold_celsius", "temperature"};

// The record holds 0 for a threshold the BMC did not give, so 0 reads as "none".
struct Threshold {
    const char* name;
    double SensorThresholdInfo::*field;
    bool upper;
    int severity;  // 1 warning, 2 critical
};
const Threshold kThresholds[] = {
    {"lower_non_recoverable", &SensorThresholdInfo::LowerNonRecoverThreshold, false, 2},
    {"lower_critical", &SensorThresholdInfo::LowerCriticalThreshold, false, 2},
    {"lower_non_critical", &SensorThresholdInfo::LowerNonCriticalThreshold, false, 1},
    {"upper_non_critical", &SensorThresholdInfo::UpperNonCriticalThresholdValue, true, 1},
    {"upper_critical", &SensorThresholdInfo::UpperCriticalThresholdValue, true, 2},
    {"upper_non_recoverable", &SensorThresholdInfo::UpperNonRecoverThresholdValue, true, 2},
};

template <typename Probe, std::size_t N>
void Sensors(Exposition& out, const SensorKind& kind, int quantity, const Probe (&probes)[N],
             char const (Probe::*reading)[16]) {
    Gauge(out, kind.value, std::string("IPMI ") + kind.what + " reading.");
    if (kind.ratio) Gauge(out, kind.ratio, std::string("IPMI ") + kind.what + " reading given in percent, as a ratio.");
    Gauge(out, kind.state, std::string("IPMI ") + kind.what + " state: 0 nominal, 1 warning, 2 critical, NaN unknown.");
    Gauge(out, kind.threshold, std::string("IPMI ") + kind.what + " thresholds the BMC gave.");
    for (int i = 0; i < Held(quantity, probes); ++i) {
        const Probe& p = probes[i];
        const Labels id = {{"id", std::to_string(p.sensorNumber)}, {"name", Text(p.IdString)}};
        double value = 0;
        std::string unit;
        const bool known = LeadingNumber(p.*reading, sizeof(p.*reading), value, unit);
        const bool percent = known && unit == "%";
        const bool as_ratio = percent && kind.ratio;
        out.sample(as_ratio ? kind.ratio : kind.value, id, !known ? NAN : as_ratio ? value / 100 : value);
        int state = 0;
        for (const Threshold& t : kThresholds) {
            const double limit = p.sti.*t.field;
            if (limit == 0 || percent) continue;
            Labels labels = id;
            labels.emplace_back("threshold", t.name);
            out.sample(kind.threshold, labels, limit);
            if (known && (t.upper ? value >= limit : value <= limit)) state = std::max(state, t.severity);
        }
        out.sample(kind.state, id, known ? state : NAN);
    }
}

// Every sensor of one kind, page by page: 1 when the kind answered, else 0.
template <typename Record, typename Probe, std::size_t N>
int SensorPages(const Library& library, Exposition& out, unsigned long command, const SensorKind& kind,
                Probe (Record::*probes)[N], char const (Probe::*reading)[16]) {
    std::string ignored;
    auto count = [&](const Record& r) { return Held(r.quantity, r.*probes); };
    return EveryPage<Record>(library.GetIpmiInfoPage, library.GetIpmiInfo, "GetIpmiInfo", command, ignored, count,
                             [&](const Record& r, int) { Sensors(out, kind, count(r), r.*probes, reading); })
               ? 1
               : 0;
}

bool CollectIpmiSensors(const Library& library, Exposition& out, std::string& why) {
    if (!library.GetIpmiInfo) {
        why = "the library has no GetIpmiInfo";
        return false;
    }
    // A BMC without sensors of one kind answers -1 for it; the collector fails only when no
    // kind answered. Each kind page by page, where the library pages.
    const int answered = SensorPages(library, out, INFO_FAN, kFans, &FanInformation::fan, &FAN_DEVICE::speed) +
                         SensorPages(library, out, INFO_VOLTAGE, kVoltages, &VoltageInformation::voltage,
                                     &VOLTAGE_PROBE::CurrentVoltage) +
                         SensorPages(library, out, INFO_TEMPERATURE, kTemperatures, &TemperatureInformation::temperature,
                                     &TEMPERATURE_PROBE::CurrentTemperature);
    if (answered == 0) why = "GetIpmiInfo answered for no kind of sensor";
    return answered > 0;
}

// ipmi_exporter's bmc collector: ipmi_bmc_info with the firmware revision.
bool CollectBmc(const Library& library, Exposition& out, std::string& why) {
    if (!library.GetBMCVersion) {
        why = "the library has no GetBMCVersion";
        return false;
    }
    unsigned char major = 0, minor = 0;
    int result = Patiently([&] { return library.GetBMCVersion(&major, &minor); });
    if (result != 0) {
        why = "GetBMCVersion answered " + std::to_string(result);
        return false;
    }
    char revision[16];
    std::snprintf(revision, sizeof revision, "%u.%02u", major, minor);
    Gauge(out, "ipmi_bmc_info", "Constant metric with value '1' providing details about the BMC.");
    out.sample("ipmi_bmc_info", {{"firmware_revision", revision}}, 1);
    return true;
}

// ipmi_exporter's bmc-watchdog collector, read only: the timeout action and the countdowns.
bool CollectWatchdog(const Library& library, Exposition& out, std::string& why) {
    if (!library.GetWatchDogTimer) {
        why = "the library has no GetWatchDogTimer";
        return false;
    }
    unsigned char action = 0;
    int initial = 0, present = 0;
    int result = Patiently([&] { return library.GetWatchDogTimer(&action, &initial, &present); });
    if (result != 0) {
        why = "GetWatchDogTimer answered " + std::to_string(result);
        return false;
    }
    static const char* const kActions[] = {"None", "Hard Reset", "Power Down", "Power Cycle"};
    Gauge(out, "ipmi_bmc_watchdog_timeout_action_state", "The action the watchdog takes at timeout (1 for the one set).");
    Gauge(out, "ipmi_bmc_watchdog_initial_countdown_seconds", "Initial countdown of the watchdog.");
    Gauge(out, "ipmi_bmc_watchdog_current_countdown_seconds", "Present countdown of the watchdog.");
    for (unsigned i = 0; i < 4; ++i)
        out.sample("ipmi_bmc_watchdog_timeout_action_state", {{"action", kActions[i]}}, action == i ? 1 : 0);
    out.sample("ipmi_bmc_watchdog_initial_countdown_seconds", {}, initial / 1000.0);
    if (present != -1)  // -1: the BMC answered without it
        out.sample("ipmi_bmc_watchdog_current_countdown_seconds", {}, present / 1000.0);
    return true;
}

// The BMC's System Event Log as ipmi_exporter's sel collector shows it: how many entries and
// how much room is left (its ipmi_sel_logs_count is qarvel_sel_entries here: promtool refuses
// a gauge named _count); and whether the BMC dropped events for want of room, and when the
// last one was added. Get SEL Info only: a scrape never reads the entries (an agent polls
// them with GetSelEntries and its cursor).
bool CollectSel(const Library& library, Exposition& out, std::string& why) {
    if (!library.GetSelInfo) {
        why = "the library has no GetSelInfo";
        return false;
    }
    SelInformation info{};
    const int result = Patiently([&] { return library.GetSelInfo(&info); });
    if (result != 0) {
        why = "GetSelInfo answered " + std::to_string(result);
        return false;
    }
    Gauge(out, "qarvel_sel_entries", "Current number of log entries in the SEL.");
    out.sample("qarvel_sel_entries", {}, info.Entries);
    Gauge(out, "ipmi_sel_free_space_bytes", "Current free space remaining for new SEL entries.");
    out.sample("ipmi_sel_free_space_bytes", {}, info.FreeBytes);
    Gauge(out, "qarvel_sel_overflow", "1 when the BMC dropped an event since the log was last cleared (it was full).");
    out.sample("qarvel_sel_overflow", {}, info.Overflow ? 1 : 0);
    // Only a date: FFFFFFFFh says nothing was added, and a count below 20000000h is seconds
    // since the BMC started (IPMI 2.0 37.1), which no dashboard can place.
    if (info.LastAddition != 0xFFFFFFFFu && info.LastAddition >= 0x20000000u) {
        Gauge(out, "qarvel_sel_last_addition_timestamp_seconds", "When the BMC last added an entry to its SEL.");
        out.sample("qarvel_sel_last_addition_timestamp_seconds", {}, info.LastAddition);
    }
    return true;
}

// A zeroed health record, asked of GetHealthInfo. A library without the export, or a source
// the machine lacks (-1: no hwmon chips, no EDAC controller, no disk), fails the collector:
// its qarvel_collector_up is 0 and it gives no series, as the BMC's collectors do on a machine
// without a BMC.
template <typename Record>
std::unique_ptr<Record> AskHealth(const Library& library, unsigned long command, std::string& why) {
    return AskOf<Record>(library.GetHealthInfo, "GetHealthInfo", command, why);
}

// A sample of a family declared on its first use, so that a family without samples is never
// written.
void Add(Exposition& out, const std::string& name, const char* type, const std::string& help, const Labels& labels,
         double value) {
    out.family(name, type, help);
    out.sample(name, labels, value);
}

// node_exporter's hwmon collector (collector/hwmon_linux.go): node_hwmon_<type>[_<element>]_<unit>
// labelled chip and sensor, node_hwmon_chip_names and node_hwmon_sensor_label beside them.
// Its names are lower-cased with everything but [a-z0-9:_] turned to '_', and trimmed of '_'.
std::string HwmonClean(const std::string& text) {
    std::string out;
    for (char c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out += (std::isalnum(static_cast<unsigned char>(c)) && !(c & 0x80)) || c == ':' || c == '_' ? c : '_';
    }
    const std::size_t first = out.find_first_not_of('_');
    if (first == std::string::npos) return "";
    return out.substr(first, out.find_last_not_of('_') - first + 1);
}

// Its chip label comes from the device the chip hangs off: "<parent>_<device>" of the device
// path (platform_coretemp_0, pci0000:00_0000:00:18_3), else the chip's name.
std::string HwmonChip(const HWMON_SENSOR& s) {
    const std::string device = Text(s.Device);
    const std::size_t slash = device.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::size_t parent = device.rfind('/', slash - 1);
        const std::string name = HwmonClean(device.substr(slash + 1));
        const std::string type = HwmonClean(device.substr(parent == std::string::npos ? 0 : parent + 1,
                                                          slash - (parent == std::string::npos ? 0 : parent + 1)));
        if (!name.empty()) return type.empty() ? name : type + "_" + name;
    }
    return HwmonClean(Text(s.Chip));
}

struct HwmonKind {
    unsigned int kind;
    const char* type;    // the sysfs prefix, as node_exporter names the metric
    const char* suffix;  // node_exporter's unit suffix
    double scale;        // from the record's base unit to node_exporter's
    const char* what;
};
const HwmonKind kHwmonKinds[] = {
    {HWMON_TEMPERATURE, "temp", "_celsius", 1, "temperature"},
    {HWMON_VOLTAGE, "in", "_volts", 1, "voltage"},
    {HWMON_FAN, "fan", "_rpm", 1, "fan revolutions per minute"},
    {HWMON_CURRENT, "curr", "_amps", 1, "current"},
    {HWMON_POWER, "power", "_watt", 1, "power usage in watts"},
    {HWMON_ENERGY, "energy", "_joule_total", 1, "joules used so far"},
    {HWMON_HUMIDITY, "humidity", "", 0.01, "humidity, as a ratio"},
};

struct HwmonLimit {
    unsigned int flag;
    double HWMON_SENSOR::*field;
    const char* element;  // the sysfs attribute's suffix
};
const HwmonLimit kHwmonLimits[] = {
    {HWMON_HAS_VALUE, &HWMON_SENSOR::Value, nullptr},
    {HWMON_HAS_MIN, &HWMON_SENSOR::Min, "min"},
    {HWMON_HAS_MAX, &HWMON_SENSOR::Max, "max"},
    {HWMON_HAS_LOW_CRIT, &HWMON_SENSOR::LowCrit, "lcrit"},
    {HWMON_HAS_CRIT, &HWMON_SENSOR::Crit, "crit"},
    {HWMON_HAS_EMERGENCY, &HWMON_SENSOR::Emergency, "emergency"},
    {HWMON_HAS_MIN_HYST, &HWMON_SENSOR::MinHyst, "min_hyst"},
    {HWMON_HAS_MAX_HYST, &HWMON_SENSOR::MaxHyst, "max_hyst"},
    {HWMON_HAS_LOW_CRIT_HYST, &HWMON_SENSOR::LowCritHyst, "lcrit_hyst"},
    {HWMON_HAS_CRIT_HYST, &HWMON_SENSOR::CritHyst, "crit_hyst"},
    {HWMON_HAS_EMERGENCY_HYST, &HWMON_SENSOR::EmergencyHyst, "emergency_hyst"},
};

bool CollectHwmon(const Library& library, Exposition& out, std::string& why) {
    auto r = AskHealth<HWMON_INFO>(library, HEALTH_HWMON, why);
    if (!r) return false;
    for (int i = 0; i < Held(r->quantity, r->sensor); ++i) {
        const HWMON_SENSOR& s = r->sensor[i];
        const std::string chip = HwmonChip(s), input = Text(s.Input);
        const Labels id = {{"chip", chip}, {"sensor", input}};
        Add(out, "node_hwmon_chip_names", "gauge", "Annotation metric for human-readable chip names",
            {{"chip", chip}, {"chip_name", HwmonClean(Text(s.Chip))}}, 1);
        // The record gives the input's own name where the chip has no label file for it.
        const std::string label = HwmonClean(Text(s.Label));
        if (!label.empty() && Text(s.Label) != input)
            Add(out, "node_hwmon_sensor_label", "gauge", "Label for given chip and sensor",
                {{"chip", chip}, {"sensor", input}, {"label", label}}, 1);
        const HwmonKind* kind = nullptr;
        for (const HwmonKind& k : kHwmonKinds)
            if (k.kind == s.Kind) kind = &k;
        if (!kind) continue;
        const std::string prefix = std::string("node_hwmon_") + kind->type;
        for (const HwmonLimit& limit : kHwmonLimits) {
            if (!(s.Flags & limit.flag)) continue;
            if (s.Kind == HWMON_ENERGY && limit.element) continue;  // a counter has no limits
            const std::string element = limit.element ? std::string("_") + limit.element : "";
            Add(out, prefix + element + kind->suffix, s.Kind == HWMON_ENERGY ? "counter" : "gauge",
                std::string("Hardware monitor for ") + kind->what + " (" + (limit.element ? limit.element : "input") +
                    ")",
                id, s.*limit.field * kind->scale);
        }
        if (s.Flags & HWMON_ALARM_KNOWN)
            Add(out, prefix + "_alarm", "gauge", std::string("Hardware sensor alarm status (") + kind->type + ")", id,
                (s.Flags & HWMON_ALARM) ? 1 : 0);
    }
    return true;
}

// node_exporter's edac collector (collector/edac_linux.go): per controller, and per csrow where
// the controller lays its DIMMs out in csrows, with the errors it could not place on one under
// csrow="unknown". The DIMMs themselves, joined to SMBIOS, are ours.
bool CollectEdac(const Library& library, Exposition& out, std::string& why) {
    auto r = AskHealth<EDAC_INFO>(library, HEALTH_EDAC, why);
    if (!r) return false;
    struct Counts {
        unsigned int flags = 0;
        double corrected = 0, uncorrected = 0;
    };
    auto add_counts = [&out](const char* correctable, const char* uncorrectable, const char* whose,
                             const Labels& labels, const Counts& c) {
        if (c.flags & EDAC_HAS_CORRECTED)
            Add(out, correctable, "counter", std::string("Total correctable memory errors") + whose + ".", labels,
                c.corrected);
        if (c.flags & EDAC_HAS_UNCORRECTED)
            Add(out, uncorrectable, "counter", std::string("Total uncorrectable memory errors") + whose + ".", labels,
                c.uncorrected);
    };
    for (int i = 0; i < Held(r->ControllerQuantity, r->controller); ++i) {
        const EDAC_CONTROLLER& c = r->controller[i];
        const std::string number = std::to_string(c.Number);
        add_counts("node_edac_correctable_errors_total", "node_edac_uncorrectable_errors_total", "",
                   {{"controller", number}},
                   {c.Flags, static_cast<double>(c.Corrected), static_cast<double>(c.Uncorrected)});
        add_counts("node_edac_csrow_correctable_errors_total", "node_edac_csrow_uncorrectable_errors_total",
                   " for this csrow", {{"controller", number}, {"csrow", "unknown"}},
                   {(c.Flags & EDAC_HAS_CORRECTED_NO_INFO ? EDAC_HAS_CORRECTED : 0u) |
                        (c.Flags & EDAC_HAS_UNCORRECTED_NO_INFO ? EDAC_HAS_UNCORRECTED : 0u),
                    static_cast<double>(c.CorrectedNoInfo), static_cast<double>(c.UncorrectedNoInfo)});
        Add(out, "qarvel_edac_controller_info", "gauge", "EDAC memory controllers, value is always 1.",
            {{"controller", number}, {"name", Text(c.Name)}}, 1);
        if (c.Flags & EDAC_HAS_SIZE)
            Add(out, "qarvel_edac_controller_size_bytes", "gauge", "Memory the controller manages.",
                {{"controller", number}}, static_cast<double>(c.SizeBytes));
    }
    // A csrow's count is the sum of its channels', as the kernel's csrowN/ce_count gives it.
    std::map<std::pair<unsigned, unsigned>, Counts> csrows;
    for (int i = 0; i < Held(r->DimmQuantity, r->dimm); ++i) {
        const EDAC_DIMM& d = r->dimm[i];
        const std::string controller = std::to_string(d.Controller), location = Text(d.Location);
        const Labels id = {{"controller", controller}, {"location", location}};
        Labels info = id;
        info.emplace_back("label", Text(d.Label));
        info.emplace_back("memory_type", Text(d.MemoryType));
        if (d.Flags & EDAC_DIMM_MATCHED) {
            info.emplace_back("locator", Text(d.Locator));
            info.emplace_back("bank_locator", Text(d.BankLocator));
            info.emplace_back("part_number", Text(d.PartNumber));
            info.emplace_back("serial_number", Text(d.SerialNumber));
        }
        Add(out, "qarvel_edac_dimm_info", "gauge",
            "DIMMs of the EDAC controllers, with the SMBIOS memory device their label names; value is always 1.",
            info, 1);
        if (d.Flags & EDAC_HAS_SIZE)
            Add(out, "qarvel_edac_dimm_size_bytes", "gauge", "Size of the DIMM, as its controller gives it.", id,
                static_cast<double>(d.SizeBytes));
        const Counts counts{d.Flags, static_cast<double>(d.Corrected), static_cast<double>(d.Uncorrected)};
        add_counts("qarvel_edac_dimm_correctable_errors_total", "qarvel_edac_dimm_uncorrectable_errors_total",
                   " of this DIMM", id, counts);
        unsigned csrow = 0;
        if (std::sscanf(location.c_str(), "csrow %u", &csrow) == 1) {
            Counts& sum = csrows[{d.Controller, csrow}];
            sum.flags |= counts.flags;
            sum.corrected += counts.corrected;
            sum.uncorrected += counts.uncorrected;
        }
    }
    for (const auto& [where, counts] : csrows)
        add_counts("node_edac_csrow_correctable_errors_total", "node_edac_csrow_uncorrectable_errors_total",
                   " for this csrow", {{"controller", std::to_string(where.first)}, {"csrow", std::to_string(where.second)}},
                   counts);
    return true;
}

// smartctl_exporter (metrics.go, smartctl.go): series keyed by the block device, as smartctl's
// device.name gives it ("/dev/sda"). Its counters without _total are kept as gauges, as a
// strict reader of the format wants. What the disk said is only given for a disk read now;
// qarvel_disk_health_status says why another was not.
struct AtaAttributeName {
    unsigned char id;
    const char* name;
};
// smartctl's default names of the attributes most disks give; the rest are its "Unknown_Attribute".
const AtaAttributeName kAtaAttributeNames[] = {
    {1, "Raw_Read_Error_Rate"},      {3, "Spin_Up_Time"},           {4, "Start_Stop_Count"},
    {5, "Reallocated_Sector_Ct"},    {7, "Seek_Error_Rate"},        {9, "Power_On_Hours"},
    {10, "Spin_Retry_Count"},        {12, "Power_Cycle_Count"},     {177, "Wear_Leveling_Count"},
    {187, "Reported_Uncorrect"},     {188, "Command_Timeout"},      {190, "Airflow_Temperature_Cel"},
    {192, "Power-Off_Retract_Count"}, {193, "Load_Cycle_Count"},    {194, "Temperature_Celsius"},
    {196, "Reallocated_Event_Count"}, {197, "Current_Pending_Sector"}, {198, "Offline_Uncorrectable"},
    {199, "UDMA_CRC_Error_Count"},   {241, "Total_LBAs_Written"},   {242, "Total_LBAs_Read"},
};

void AtaAttributes(Exposition& out, const std::string& device, const DiskAtaHealth& ata) {
    static const char* const kFlagNames[] = {"prefailure", "updated_online", "performance",
                                             "error_rate", "event_count",    "auto_keep"};
    for (int i = 0; i < Held(ata.attributeCount, ata.attribute); ++i) {
        const DiskSmartAttribute& a = ata.attribute[i];
        if (a.id == 0) continue;
        const char* name = "Unknown_Attribute";
        for (const AtaAttributeName& n : kAtaAttributeNames)
            if (n.id == a.id) name = n.name;
        std::string flags_short = "POSRCK", flags_long;
        for (int bit = 0; bit < 6; ++bit) {
            if (!(a.flags & (1u << bit))) {
                flags_short[bit] = '-';
                continue;
            }
            flags_long += std::string(flags_long.empty() ? "" : ",") + kFlagNames[bit];
        }
        const struct {
            const char* type;
            double value;
        } values[] = {{"value", static_cast<double>(a.current)},
                      {"worst", static_cast<double>(a.worst)},
                      {"thresh", static_cast<double>(a.threshold)},
                      {"raw", static_cast<double>(a.raw)}};
        for (const auto& v : values)
            Add(out, "smartctl_device_attribute", "gauge", "Device attributes",
                {{"device", device},
                 {"attribute_name", name},
                 {"attribute_flags_short", flags_short},
                 {"attribute_flags_long", flags_long},
                 {"attribute_value_type", v.type},
                 {"attribute_id", std::to_string(a.id)}},
                v.value);
    }
}

void NvmeHealth(Exposition& out, const Labels& id, const DiskNvmeHealth& n) {
    // The log's data units are thousands of 512-byte units.
    const struct {
        const char* name;
        const char* help;
        double value;
    } values[] = {
        {"smartctl_device_critical_warning", "Critical warnings for the state of the controller",
         static_cast<double>(n.criticalWarning)},
        {"smartctl_device_available_spare", "Normalized percentage (0 to 100%) of the remaining spare capacity available",
         static_cast<double>(n.availableSpare)},
        {"smartctl_device_available_spare_threshold", "Available spare threshold, as a normalized percentage",
         static_cast<double>(n.spareThreshold)},
        {"smartctl_device_percentage_used", "Device write percentage used", static_cast<double>(n.percentageUsed)},
        {"smartctl_device_media_errors", "Unrecovered data integrity errors the controller detected",
         static_cast<double>(n.mediaErrors)},
        {"smartctl_device_num_err_log_entries", "Error Information log entries over the life of the controller",
         static_cast<double>(n.errorLogEntries)},
        {"smartctl_device_bytes_read", "Bytes the host read", static_cast<double>(n.dataUnitsRead) * 512000.0},
        {"smartctl_device_bytes_written", "Bytes the host wrote", static_cast<double>(n.dataUnitsWritten) * 512000.0},
    };
    for (const auto& v : values) Add(out, v.name, "gauge", v.help, id, v.value);
    // smartctl_device_power_cycle_count is a name the format's checker refuses (a _count that
    // is no summary's): ours is a counter.
    Add(out, "qarvel_nvme_power_cycles_total", "counter", "Power cycles the controller counted.", id,
        static_cast<double>(n.powerCycles));
    Add(out, "qarvel_nvme_unsafe_shutdowns_total", "counter", "Unsafe shutdowns the controller counted.", id,
        static_cast<double>(n.unsafeShutdowns));
}

bool CollectDiskHealth(const Library& library, Exposition& out, std::string& why) {
    auto r = AskHealth<DiskHealthInformation>(library, HEALTH_DISK, why);  // Flags 0: a scrape never spins a disk up
    if (!r) return false;
    static const char* const kKinds[] = {"none", "ata", "nvme"};
    for (int i = 0; i < Held(r->quantity, r->disk); ++i) {
        const DiskHealth& d = r->disk[i];
        const std::string device = Text(d.DeviceName);
        const Labels id = {{"device", device}};
        Labels info = id;
        info.emplace_back("disk", d.DriveIndex >= 0 ? std::to_string(d.DriveIndex) : "");
        info.emplace_back("kind", d.Kind < 3 ? kKinds[d.Kind] : "unknown");
        info.emplace_back("serial_number", Text(d.SerialNo));
        Add(out, "qarvel_disk_health_info", "gauge",
            "Disks whose health was asked; disk is the qarvel_disk_info disk it is. Value is always 1.", info, 1);
        Add(out, "qarvel_disk_health_status", "gauge",
            "0 read, 1 not available for this kind of disk, 2 in standby (left so), 3 no SMART, 4 SMART disabled, "
            "5 failed.",
            id, d.Status);
        if (d.Status != DISK_HEALTH_READ) continue;
        if (d.Overall != DISK_OVERALL_UNKNOWN)
            Add(out, "smartctl_device_smart_status", "gauge", "General smart status", id,
                d.Overall == DISK_OVERALL_PASSED ? 1 : 0);
        if (d.Given & DISK_GIVEN_TEMPERATURE)
            Add(out, "smartctl_device_temperature", "gauge", "Device temperature celsius",
                {{"device", device}, {"temperature_type", "current"}}, d.Temperature);
        if (d.Given & DISK_GIVEN_POWER_ON_HOURS)
            Add(out, "smartctl_device_power_on_seconds", "gauge", "Device power on seconds", id,
                static_cast<double>(d.PowerOnHours) * 3600.0);
        if (d.Kind == DISK_HEALTH_ATA) AtaAttributes(out, device, d.ata);
        if (d.Kind == DISK_HEALTH_NVME) NvmeHealth(out, id, d.nvme);
    }
    return true;
}

// The event log becomes a row of its own when its records land.
const Collector kCollectors[] = {
    {"dmi", false, CollectDmi},
    {"processor", false, CollectProcessors},
    {"memory", false, CollectMemory},
    {"pci", false, CollectPci},
    {"disk", false, CollectDisks},
    {"ipmi", true, CollectIpmiSensors},
    {"bmc", true, CollectBmc},
    {"bmc_watchdog", true, CollectWatchdog},
    {"sel", true, CollectSel},
    {"hwmon", false, CollectHwmon},
    {"edac", false, CollectEdac},
    {"disk_health", false, CollectDiskHealth},
};

}  // namespace

const Collector* Collectors(std::size_t& count) {
    count = sizeof kCollectors / sizeof kCollectors[0];
    return kCollectors;
}

}  // namespace exporter
