// What the kernel itself knows of the machine's health: the hwmon sensors and the EDAC error
// counts. A section is printed only where its source answered, so a machine without them
// (a classic one) reports exactly as before.
#include <cstdio>
#include <memory>

#include "api/health_types.h"
#include "cli/report.h"

namespace cli {

namespace {

using GetHealthInfo = int(unsigned long, void*);

void print(Printer& out, const HWMON_SENSOR& s) {
    out.field("Chip", s.Chip);
    out.field("Device", s.Device);
    out.field("Label", s.Label);
    out.field("Input", s.Input);
    out.field("Kind", static_cast<long>(s.Kind));
    out.field("Flags", static_cast<long>(s.Flags));
    if (s.Flags & HWMON_UNREADABLE) out.field("Error", static_cast<long>(s.Error));
    static const struct {
        unsigned flag;
        const char* name;
        double HWMON_SENSOR::*value;
    } kValues[] = {
        {HWMON_HAS_VALUE, "Value", &HWMON_SENSOR::Value},
        {HWMON_HAS_MIN, "Min", &HWMON_SENSOR::Min},
        {HWMON_HAS_MAX, "Max", &HWMON_SENSOR::Max},
        {HWMON_HAS_LOW_CRIT, "LowCrit", &HWMON_SENSOR::LowCrit},
        {HWMON_HAS_CRIT, "Crit", &HWMON_SENSOR::Crit},
        {HWMON_HAS_EMERGENCY, "Emergency", &HWMON_SENSOR::Emergency},
        {HWMON_HAS_MIN_HYST, "MinHyst", &HWMON_SENSOR::MinHyst},
        {HWMON_HAS_MAX_HYST, "MaxHyst", &HWMON_SENSOR::MaxHyst},
        {HWMON_HAS_LOW_CRIT_HYST, "LowCritHyst", &HWMON_SENSOR::LowCritHyst},
        {HWMON_HAS_CRIT_HYST, "CritHyst", &HWMON_SENSOR::CritHyst},
        {HWMON_HAS_EMERGENCY_HYST, "EmergencyHyst", &HWMON_SENSOR::EmergencyHyst},
    };
    for (const auto& v : kValues)
        if (s.Flags & v.flag) out.field(v.name, s.*v.value);
}

// The [hwmon] section of one poll; `always` prints it when the source did not answer too.
int report_hwmon(GetHealthInfo* get, Printer& out, bool always = false) {
    auto info = std::make_unique<HWMON_INFO>();
    const int rc = get(HEALTH_HWMON, info.get());
    if (rc != 0 && !always) return rc;
    out.section("hwmon");
    out.result("GetHealthInfo(HEALTH_HWMON)", rc);
    out.field("quantity", static_cast<long>(info->quantity));
    out.field("total", static_cast<long>(info->total));
    for (unsigned i = 0; i < info->quantity && i < HWMON_MOST_SENSORS; ++i) {
        out.prefix("sensor[" + std::to_string(i) + "].");
        print(out, info->sensor[i]);
    }
    out.prefix("");
    return rc;
}

void report_edac(GetHealthInfo* get, Printer& out) {
    auto info = std::make_unique<EDAC_INFO>();
    const int rc = get(HEALTH_EDAC, info.get());
    if (rc != 0) return;
    out.section("edac");
    out.result("GetHealthInfo(HEALTH_EDAC)", rc);
    out.field("ControllerQuantity", static_cast<long>(info->ControllerQuantity));
    for (unsigned i = 0; i < info->ControllerQuantity && i < EDAC_MOST_CONTROLLERS; ++i) {
        const EDAC_CONTROLLER& c = info->controller[i];
        out.prefix("controller[" + std::to_string(i) + "].");
        out.field("Name", c.Name);
        out.field("Number", static_cast<long>(c.Number));
        out.field("Flags", static_cast<long>(c.Flags));
        out.count("SizeBytes", c.SizeBytes);
        out.count("Corrected", c.Corrected);
        out.count("Uncorrected", c.Uncorrected);
        out.count("CorrectedNoInfo", c.CorrectedNoInfo);
        out.count("UncorrectedNoInfo", c.UncorrectedNoInfo);
    }
    out.prefix("");
    out.field("DimmQuantity", static_cast<long>(info->DimmQuantity));
    for (unsigned i = 0; i < info->DimmQuantity && i < EDAC_MOST_DIMMS; ++i) {
        const EDAC_DIMM& d = info->dimm[i];
        out.prefix("dimm[" + std::to_string(i) + "].");
        out.field("Label", d.Label);
        out.field("Location", d.Location);
        out.field("MemoryType", d.MemoryType);
        out.field("Controller", static_cast<long>(d.Controller));
        out.field("Flags", static_cast<long>(d.Flags));
        if (d.Flags & EDAC_DIMM_MATCHED) {
            out.field("Locator", d.Locator);
            out.field("BankLocator", d.BankLocator);
            out.field("PartNumber", d.PartNumber);
            out.field("SerialNumber", d.SerialNumber);
        }
        out.count("SizeBytes", d.SizeBytes);
        out.count("Corrected", d.Corrected);
        out.count("Uncorrected", d.Uncorrected);
    }
    out.prefix("");
}

}  // namespace

void report_health(const Library& library, Printer& out) {
    // A library without the health family reports as one before it did: nothing.
    auto* get = library.function<GetHealthInfo>("GetHealthInfo");
    if (!get) return;
    report_hwmon(get, out);
    report_edac(get, out);
}

int poll_hwmon(const Library& library, Printer& out) {
    auto* get = library.function<GetHealthInfo>("GetHealthInfo");
    if (!get) {
        std::fprintf(stderr, "qarvel: the library has no GetHealthInfo\n");
        return 1;
    }
    return report_hwmon(get, out, true) == 0 ? 0 : 1;
}

}  // namespace cli
