// The inventory records of GetInfo.
#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include "cli/report.h"
#include "cli/report_pages.h"

namespace cli {

namespace {

using GetInfoFunction = int(unsigned long, LPVOID);

void print(Printer& out, const BaseBoardInformation& r) {
    out.field("ProductName", r.ProductName);
    out.field("RomVersion", r.RomVersion);
    out.field("RomReleaseDate", r.RomReleaseDate);
    out.field("RomVendor", r.RomVendor);
    out.field("SerialNo", r.SerialNo);
    out.field("AssetTag", r.AssetTag);
    out.field("Manufacturer", r.Manufacturer);
    out.field("RevisionLevel", r.RevisionLevel);
}

void print(Printer& out, const SysInformation& r) {
    out.field("SysProductName", r.SysProductName);
    out.field("manufacturer", r.manufacturer);
    out.field("version", r.version);
}

// Entries of an array that a count says were filled, never more than the array holds.
template <typename Entry, std::size_t N>
int Filled(int count, const Entry (&)[N]) {
    return std::clamp(count, 0, static_cast<int>(N));
}

std::string Entry(const char* array, int i) { return std::string(array) + "[" + std::to_string(i) + "]."; }

void print(Printer& out, const ProcessorInformation& r) {
    out.field("quantity", static_cast<long>(r.quantity));
    for (int i = 0; i < Filled(r.quantity, r.cpu); ++i) {
        const CPU& cpu = r.cpu[i];
        out.prefix(Entry("cpu", i));
        out.field("family", cpu.family);
        out.field("stepping", cpu.stepping);
        out.field("MaxSpeed", cpu.MaxSpeed);
        out.field("CurrentSpeed", cpu.CurrentSpeed);
        out.field("ExternalClock", cpu.ExternalClock);
        out.field("manufacturer", cpu.manufacturer);
        out.field("UsageRate", cpu.UsageRate);
        out.field("IsUHT", static_cast<long>(cpu.IsUHT));
        out.field("IsDisabled", static_cast<long>(cpu.IsDisabled));
        for (int k = 0; k < 3; ++k) {
            const CACHE& cache = cpu.cache[k];
            out.prefix(Entry("cpu", i) + Entry("cache", k));
            out.field("designation", cache.designation);
            out.field("InstalledSize", cache.InstalledSize);
            out.field("MaxSize", cache.MaxSize);
            out.field("speed", cache.speed);
        }
    }
    out.prefix("");
}

void print(Printer& out, const MemoryInformation& r) {
    out.field("TotalSize", static_cast<long>(r.TotalSize));
    out.field("quantity", static_cast<long>(r.quantity));
    for (int i = 0; i < Filled(r.quantity, r.bank); ++i) {
        const BANK& bank = r.bank[i];
        out.prefix(Entry("bank", i));
        out.field("size", bank.size);
        out.field("speed", bank.speed);
        out.field("type", bank.type);
        out.field("TypeDetail", bank.TypeDetail);
        out.field("manufacturer", bank.manufacturer);
        out.field("SlotNumber", static_cast<long>(bank.SlotNumber));
    }
    out.prefix("");
}

void print(Printer& out, const IOInformation& r) {
    out.field("quantity", static_cast<long>(r.quantity));
    for (int i = 0; i < Filled(r.quantity, r.port); ++i) {
        out.prefix(Entry("port", i));
        out.field("type", r.port[i].type);
        out.field("description", r.port[i].description);
    }
    out.prefix("");
}

void print(Printer& out, const SystemPowerInformation& r) {
    out.field("TotalNumber", static_cast<long>(r.TotalNumber));
    out.field("RedundantNumber", static_cast<long>(r.RedundantNumber));
    for (int i = 0; i < Filled(r.TotalNumber, r.PowerSupply); ++i) {
        const SYS_POWER& supply = r.PowerSupply[i];
        out.prefix(Entry("PowerSupply", i));
        out.field("manufacturer", supply.manufacturer);
        out.field("ProductName", supply.ProductName);
        out.field("DeviceName", supply.DeviceName);
        out.field("ProductVersion", supply.ProductVersion);
        out.field("SerialNo", supply.SerialNo);
        out.field("status", supply.status);
        out.field("BiosEnable", supply.BiosEnable);
    }
    out.prefix("");
}

}  // namespace

// The probe records are shared with the IPMI report.
void print(Printer& out, const SensorThresholdInfo& t) {
    out.field("sti.DeviceID", static_cast<long>(t.DeviceID));
    out.field("sti.SensorType", static_cast<long>(t.SensorType));
    out.field("sti.UpperNonRecoverThresholdValue", t.UpperNonRecoverThresholdValue);
    out.field("sti.UpperCriticalThresholdValue", t.UpperCriticalThresholdValue);
    out.field("sti.UpperNonCriticalThresholdValue", t.UpperNonCriticalThresholdValue);
    out.field("sti.LowerNonRecoverThreshold", t.LowerNonRecoverThreshold);
    out.field("sti.LowerCriticalThreshold", t.LowerCriticalThreshold);
    out.field("sti.LowerNonCriticalThreshold", t.LowerNonCriticalThreshold);
    out.field("sti.MaxThreshold", t.MaxThreshold);
    out.field("sti.MinThreshold", t.MinThreshold);
    out.field("sti.readableFlag", static_cast<long>(t.readableFlag));
    out.field("sti.settableFlag", static_cast<long>(t.settableFlag));
}

namespace {

// Fans, voltage and temperature probes share one shape; only the reading's name differs.
template <typename Probe>
void print_probe(Printer& out, const Probe& p, const char* reading_name, const char (&reading)[16]) {
    out.field("sensorNumber", static_cast<long>(p.sensorNumber));
    out.field("status", static_cast<long>(p.status));
    out.field("DeviceID", static_cast<long>(p.DeviceID));
    out.field("SensorType", static_cast<long>(p.SensorType));
    out.field("desc", p.desc);
    out.field(reading_name, reading);
    out.field("min", p.min);
    out.field("max", p.max);
    out.field("IdString", p.IdString);
    print(out, p.sti);
}

}  // namespace

namespace {

// A fan, voltage or temperature record: its count, then each filled entry.
template <typename Probe, std::size_t N>
void print_probes(Printer& out, int quantity, const Probe (&probes)[N], const char* array,
                  const char* reading_name, char const (Probe::*reading)[16]) {
    out.field("quantity", static_cast<long>(quantity));
    for (int i = 0; i < Filled(quantity, probes); ++i) {
        out.prefix(Entry(array, i));
        print_probe(out, probes[i], reading_name, probes[i].*reading);
    }
    out.prefix("");
}

}  // namespace

void print(Printer& out, const FanInformation& r) {
    print_probes(out, r.quantity, r.fan, "fan", "speed", &FAN_DEVICE::speed);
}

void print(Printer& out, const VoltageInformation& r) {
    print_probes(out, r.quantity, r.voltage, "voltage", "CurrentVoltage", &VOLTAGE_PROBE::CurrentVoltage);
}

void print(Printer& out, const TemperatureInformation& r) {
    print_probes(out, r.quantity, r.temperature, "temperature", "CurrentTemperature",
                 &TEMPERATURE_PROBE::CurrentTemperature);
}

namespace {

// Asks GetInfo for one record (zeroed first, as the agent does) and prints it.
// The entries a record's array holds.
template <typename Record>
int Capacity(const Record&) {
    return 0;  // records of one thing
}
int Capacity(const ProcessorInformation& r) { return Filled(1 << 30, r.cpu); }
int Capacity(const MemoryInformation& r) { return Filled(1 << 30, r.bank); }
int Capacity(const IOInformation& r) { return Filled(1 << 30, r.port); }
int Capacity(const SystemPowerInformation& r) { return Filled(1 << 30, r.PowerSupply); }
int Capacity(const FanInformation& r) { return Filled(1 << 30, r.fan); }

template <typename Record>
void report(GetInfoFunction* get_info, PageFunction* get_page, Printer& out, const char* title,
            const char* command_name, unsigned long command) {
    out.section(title);
    Record record;
    std::memset(&record, 0, sizeof record);
    int result = get_info(command, &record);
    out.result(std::string("GetInfo(") + command_name + ")", result);
    if (result != 0) return;
    print(out, record);
    if constexpr (!std::is_same_v<Record, BaseBoardInformation> && !std::is_same_v<Record, SysInformation> &&
                  !std::is_same_v<Record, VoltageInformation> && !std::is_same_v<Record, TemperatureInformation>)
        print_more_pages(out, get_page, "GetInfoPage", command_name, command, record, Capacity(record),
                         [](Printer& p, const Record& r) { print(p, r); });
}

}  // namespace

void report_inventory(const Library& library, Printer& out) {
    auto* is_smbios = library.function<int()>("IsSmBiosSupport");
    auto* get_info = library.function<GetInfoFunction>("GetInfo");
    auto* get_page = library.function<PageFunction>("GetInfoPage");
    if (!is_smbios || !get_info) {
        out.missing(!is_smbios ? "IsSmBiosSupport" : "GetInfo");
        return;
    }
    out.section("SMBIOS");
    out.result("IsSmBiosSupport()", is_smbios());
    report<BaseBoardInformation>(get_info, get_page, out, "base board", "INFO_BASE_BOARD", INFO_BASE_BOARD);
    report<SysInformation>(get_info, get_page, out, "system", "INFO_SYSTEM", INFO_SYSTEM);
    report<ProcessorInformation>(get_info, get_page, out, "processors", "INFO_PROCESSOR", INFO_PROCESSOR);
    report<MemoryInformation>(get_info, get_page, out, "memory", "INFO_MEMORY", INFO_MEMORY);
    report<IOInformation>(get_info, get_page, out, "I/O ports", "INFO_IO_PORT", INFO_IO_PORT);
    report<SystemPowerInformation>(get_info, get_page, out, "power supplies", "INFO_POWER_SUPPLY", INFO_POWER_SUPPLY);
    report<SystemPowerInformation>(get_info, get_page, out, "UPS", "INFO_UPS", INFO_UPS);
    report<FanInformation>(get_info, get_page, out, "fans", "INFO_FAN", INFO_FAN);
    report<VoltageInformation>(get_info, get_page, out, "voltage probes", "INFO_VOLTAGE", INFO_VOLTAGE);
    report<TemperatureInformation>(get_info, get_page, out, "temperature probes", "INFO_TEMPERATURE", INFO_TEMPERATURE);
}

}  // namespace cli
