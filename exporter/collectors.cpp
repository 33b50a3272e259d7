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
#include <memory>

#include "api/types.h"

namespace exporter {

Library::Library(void* handle) {
    auto look = [handle](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
    };
    look(GetInfo, "GetInfo");
    look(GetIpmiInfo, "GetIpmiInfo");
    look(GetBMCVersion, "GetBMCVersion");
    look(GetWatchDogTimer, "GetWatchDogTimer");
    look(GetHealthInfo, "GetHealthInfo");
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

// A zeroed record, asked of GetInfo; the large ones live on the heap.
template <typename Record>
std::unique_ptr<Record> Ask(const Library& library, unsigned long command, std::string& why) {
    if (!library.GetInfo) {
        why = "the library has no GetInfo";
        return nullptr;
    }
    auto record = std::make_unique<Record>();
    std::memset(record.get(), 0, sizeof(Record));
    int result = Patiently([&] { return library.GetInfo(command, record.get()); });
    if (result != 0) {
        why = "GetInfo answered " + std::to_string(result);
        return nullptr;
    }
    return record;
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
    auto r = Ask<ProcessorInformation>(library, INFO_PROCESSOR, why);
    if (!r) return false;
    Gauge(out, "qarvel_processor_info", "Processor sockets of SMBIOS, value is always 1.");
    Gauge(out, "qarvel_processor_max_frequency_hertz", "Highest speed the processor supports.");
    Gauge(out, "qarvel_processor_current_frequency_hertz", "Speed of the processor at boot.");
    Gauge(out, "qarvel_processor_external_clock_hertz", "External clock of the processor.");
    Gauge(out, "qarvel_processor_cache_size_bytes", "Installed size of each cache level of the processor.");
    for (int i = 0; i < Held(r->quantity, r->cpu); ++i) {
        const CPU& cpu = r->cpu[i];
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
    return true;
}

// DIMMs: node_exporter has no memory-device collector; the bank index tells modules apart
// (two controllers may number their slots alike).
bool CollectMemory(const Library& library, Exposition& out, std::string& why) {
    auto r = Ask<MemoryInformation>(library, INFO_MEMORY, why);
    if (!r) return false;
    Gauge(out, "qarvel_memory_size_bytes", "Memory installed, as SMBIOS gives it.");
    Gauge(out, "qarvel_memory_dimm_info", "Memory modules of SMBIOS, value is always 1.");
    Gauge(out, "qarvel_memory_dimm_size_bytes", "Size of the memory module.");
    Gauge(out, "qarvel_memory_dimm_speed_hertz", "Speed of the memory module.");
    out.sample("qarvel_memory_size_bytes", {}, static_cast<double>(r->TotalSize) * 1048576.0);
    for (int i = 0; i < Held(r->quantity, r->bank); ++i) {
        const BANK& bank = r->bank[i];
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
    return true;
}

bool CollectPci(const Library& library, Exposition& out, std::string& why) {
    auto r = Ask<DeviceInformation>(library, INFO_PCI_DEVICE, why);
    if (!r) return false;
    Gauge(out, "qarvel_pci_function_info", "PCI functions of domain 0, value is always 1.");
    for (int i = 0; i < Held(r->quantity, r->dev); ++i) {
        const DEV& d = r->dev[i];
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
    return true;
}

// Disks. The records name a disk by its controller and position, not by its kernel device,
// so smartctl_exporter's series (keyed by device) are not imitated; its label names are.
// NVMe controllers are named as the kernel names them, so they also get node_exporter's
// nvme collector metric (node_nvme_info; the controller's state is not in the record).
bool CollectDisks(const Library& library, Exposition& out, std::string& why) {
    auto r = Ask<StorageInformation>(library, INFO_STORAGE, why);
    if (!r) return false;
    Gauge(out, "qarvel_disk_info", "Disks, value is always 1.");
    Gauge(out, "qarvel_disk_size_bytes", "Size of the disk.");
    Gauge(out, "node_nvme_info", "Non-numeric data of the NVMe controller, value is always 1.");
    for (int i = 0; i < Held(r->quantityIDE + r->quantitySCSI, r->driveArray); ++i) {
        const DriveInfo& d = r->driveArray[i];
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
    return true;
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

bool CollectIpmiSensors(const Library& library, Exposition& out, std::string& why) {
    if (!library.GetIpmiInfo) {
        why = "the library has no GetIpmiInfo";
        return false;
    }
    auto ask = [&](unsigned long command, void* record) {
        return Patiently([&] { return library.GetIpmiInfo(command, record); });
    };
    // A BMC without sensors of one kind answers -1 for it; the collector fails only when no
    // kind answered.
    int answered = 0;
    auto fans = std::make_unique<FanInformation>();
    std::memset(fans.get(), 0, sizeof *fans);
    if (ask(INFO_FAN, fans.get()) == 0) {
        Sensors(out, kFans, fans->quantity, fans->fan, &FAN_DEVICE::speed);
        ++answered;
    }
    auto voltages = std::make_unique<VoltageInformation>();
    std::memset(voltages.get(), 0, sizeof *voltages);
    if (ask(INFO_VOLTAGE, voltages.get()) == 0) {
        Sensors(out, kVoltages, voltages->quantity, voltages->voltage, &VOLTAGE_PROBE::CurrentVoltage);
        ++answered;
    }
    auto temperatures = std::make_unique<TemperatureInformation>();
    std::memset(temperatures.get(), 0, sizeof *temperatures);
    if (ask(INFO_TEMPERATURE, temperatures.get()) == 0) {
        Sensors(out, kTemperatures, temperatures->quantity, temperatures->temperature,
                &TEMPERATURE_PROBE::CurrentTemperature);
        ++answered;
    }
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

// The health family (GetHealthInfo: HEALTH_HWMON, HEALTH_EDAC, HEALTH_DISK) and the event log
// become one row each as their records land.
const Collector kCollectors[] = {
    {"dmi", false, CollectDmi},
    {"processor", false, CollectProcessors},
    {"memory", false, CollectMemory},
    {"pci", false, CollectPci},
    {"disk", false, CollectDisks},
    {"ipmi", true, CollectIpmiSensors},
    {"bmc", true, CollectBmc},
    {"bmc_watchdog", true, CollectWatchdog},
};

}  // namespace

const Collector* Collectors(std::size_t& count) {
    count = sizeof kCollectors / sizeof kCollectors[0];
    return kCollectors;
}

}  // namespace exporter
