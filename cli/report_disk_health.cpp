// The disks' own health (GetHealthInfo HEALTH_DISK): printed only when the library has it and
// it answered, so that a machine without it reports as before.
#include <cstdio>
#include <cstring>
#include <memory>

#include "api/health_types.h"
#include "cli/report.h"

namespace cli {

namespace {

const char* StatusText(unsigned status) {
    switch (status) {
        case DISK_HEALTH_READ: return "read";
        case DISK_HEALTH_NOT_AVAILABLE: return "not available";
        case DISK_HEALTH_STANDBY: return "standby, not woken";
        case DISK_HEALTH_NO_SMART: return "no SMART";
        case DISK_HEALTH_SMART_DISABLED: return "SMART disabled";
        case DISK_HEALTH_FAILED: return "failed";
        default: return "unknown";
    }
}

const char* KindText(unsigned kind) { return kind == DISK_HEALTH_ATA ? "ata" : kind == DISK_HEALTH_NVME ? "nvme" : "none"; }

const char* OverallText(unsigned overall) {
    return overall == DISK_OVERALL_PASSED ? "passed" : overall == DISK_OVERALL_FAILING ? "FAILING" : "unknown";
}

// A text the library did not write (a name of ours), as a field.
void Text(Printer& out, const std::string& name, const char* text) {
    char field[96] = {};
    std::snprintf(field, sizeof field, "%s", text);
    out.field(name, field);
}

void Hex(Printer& out, const std::string& name, unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%02X", value);
    out.field(name, text);
}

void PrintAta(Printer& out, const std::string& at, const DiskHealth& d) {
    const DiskAtaHealth& a = d.ata;
    out.prefix(at);
    if (d.Status != DISK_HEALTH_READ) return;
    Text(out, "dataChecksum", a.dataChecksumGood ? "good" : "BAD");
    if (d.Given & DISK_GIVEN_THRESHOLDS) Text(out, "thresholdChecksum", a.thresholdChecksumGood ? "good" : "BAD");
    const unsigned count = a.attributeCount < HEALTH_DISK_ATTRIBUTES ? a.attributeCount : HEALTH_DISK_ATTRIBUTES;
    out.field("attributeCount", static_cast<long>(a.attributeCount));
    for (unsigned i = 0; i < count; ++i) {
        const DiskSmartAttribute& s = a.attribute[i];
        out.prefix(at + "attribute[" + std::to_string(i) + "].");
        out.field("id", static_cast<long>(s.id));
        Hex(out, "flags", s.flags);
        out.field("current", static_cast<long>(s.current));
        out.field("worst", static_cast<long>(s.worst));
        out.field("threshold", static_cast<long>(s.threshold));
        out.count("raw", s.raw);
        Text(out, "state", s.state & DISK_ATTRIBUTE_FAILING_NOW   ? "FAILING NOW"
                           : s.state & DISK_ATTRIBUTE_FAILED_PAST ? "failed in the past"
                                                                   : "-");
    }
}

void PrintNvme(Printer& out, const std::string& at, const DiskHealth& d) {
    const DiskNvmeHealth& n = d.nvme;
    out.prefix(at);
    if (d.Status != DISK_HEALTH_READ) return;
    static const struct {
        unsigned bit;
        const char* name;
    } kWarnings[] = {{NVME_WARNING_SPARE, "spare"},           {NVME_WARNING_TEMPERATURE, "temperature"},
                     {NVME_WARNING_RELIABILITY, "reliability"}, {NVME_WARNING_READ_ONLY, "read-only"},
                     {NVME_WARNING_VOLATILE, "volatile-backup"}, {NVME_WARNING_PMR_READ_ONLY, "pmr-read-only"}};
    std::string warnings;
    for (const auto& w : kWarnings)
        if (n.criticalWarning & w.bit) warnings += (warnings.empty() ? "" : ",") + std::string(w.name);
    char text[80];
    std::snprintf(text, sizeof text, "0x%02X%s%s", n.criticalWarning, warnings.empty() ? "" : " ", warnings.c_str());
    out.field("criticalWarning", text);
    out.field("availableSpare", static_cast<long>(n.availableSpare));
    out.field("spareThreshold", static_cast<long>(n.spareThreshold));
    out.field("percentageUsed", static_cast<long>(n.percentageUsed));
    out.count("dataUnitsRead", n.dataUnitsRead);
    out.count("dataUnitsWritten", n.dataUnitsWritten);
    out.count("powerCycles", n.powerCycles);
    out.count("unsafeShutdowns", n.unsafeShutdowns);
    out.count("mediaErrors", n.mediaErrors);
    out.count("errorLogEntries", n.errorLogEntries);
    out.field("warningTemperatureMinutes", static_cast<long>(n.warningTemperatureMinutes));
    out.field("criticalTemperatureMinutes", static_cast<long>(n.criticalTemperatureMinutes));
}

}  // namespace

void report_disk_health(const Library& library, Printer& out) {
    auto* health = library.function<int(unsigned long, LPVOID)>("GetHealthInfo");
    if (!health) return;
    auto record = std::make_unique<DiskHealthInformation>();
    std::memset(record.get(), 0, sizeof *record);
    std::fflush(stdout);
    const int result = health(HEALTH_DISK, record.get());
    if (result != 0) return;
    out.section("disk health");
    out.result("GetHealthInfo(HEALTH_DISK)", result);
    out.field("quantity", static_cast<long>(record->quantity));
    const unsigned shown = record->quantity < HEALTH_DISK_MOST ? record->quantity : HEALTH_DISK_MOST;
    for (unsigned i = 0; i < shown; ++i) {
        const DiskHealth& d = record->disk[i];
        const std::string at = "disk[" + std::to_string(i) + "].";
        out.prefix(at);
        out.field("DeviceName", d.DeviceName);
        out.field("SerialNo", d.SerialNo);
        out.field("DriveIndex", static_cast<long>(d.DriveIndex));
        Text(out, "Kind", KindText(d.Kind));
        Text(out, "Status", StatusText(d.Status));
        if (d.Status == DISK_HEALTH_FAILED) Text(out, "Error", std::strerror(d.Errno));
        if (d.Given & DISK_GIVEN_POWER_MODE) Hex(out, "PowerMode", d.ata.powerMode);
        if (d.Status == DISK_HEALTH_READ) Text(out, "Overall", OverallText(d.Overall));
        if (d.Given & DISK_GIVEN_TEMPERATURE) out.field("Temperature", static_cast<long>(d.Temperature));
        static const struct {
            unsigned given;
            const char* name;
            unsigned long long DiskHealth::*field;
        } kNamed[] = {{DISK_GIVEN_POWER_ON_HOURS, "PowerOnHours", &DiskHealth::PowerOnHours},
                      {DISK_GIVEN_REALLOCATED, "Reallocated", &DiskHealth::Reallocated},
                      {DISK_GIVEN_PENDING, "Pending", &DiskHealth::Pending},
                      {DISK_GIVEN_UNCORRECTABLE, "OfflineUncorrectable", &DiskHealth::OfflineUncorrectable},
                      {DISK_GIVEN_CRC_ERRORS, "CrcErrors", &DiskHealth::CrcErrors}};
        for (const auto& n : kNamed)
            if (d.Given & n.given) out.count(n.name, d.*n.field);
        if (d.Kind == DISK_HEALTH_ATA) PrintAta(out, at, d);
        if (d.Kind == DISK_HEALTH_NVME) PrintNvme(out, at, d);
    }
    out.prefix("");
}

}  // namespace cli
