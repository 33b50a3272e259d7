// The BMC: its sensors with their thresholds, its firmware version and its watchdog timer.
#include <cstring>
#include <string>

#include "cli/report.h"
#include "cli/report_pages.h"

namespace cli {

namespace {

using GetIpmiInfoFunction = int(unsigned long, LPVOID);

int Capacity(const FanInformation&) { return sizeof FanInformation::fan / sizeof(FAN_DEVICE); }
int Capacity(const VoltageInformation&) { return sizeof VoltageInformation::voltage / sizeof(VOLTAGE_PROBE); }
int Capacity(const TemperatureInformation&) {
    return sizeof TemperatureInformation::temperature / sizeof(TEMPERATURE_PROBE);
}

template <typename Record>
void report_sensors(GetIpmiInfoFunction* get_ipmi_info, PageFunction* get_page, Printer& out, const char* title,
                    const char* command_name, unsigned long command) {
    out.section(title);
    Record record;
    std::memset(&record, 0, sizeof record);
    int result = get_ipmi_info(command, &record);
    out.result(std::string("GetIpmiInfo(") + command_name + ")", result);
    if (result == 0) {
        print(out, record);
        print_more_pages(out, get_page, "GetIpmiInfoPage", command_name, command, record, Capacity(record),
                         [](Printer& p, const Record& r) { print(p, r); });
    }
}

}  // namespace

void report_ipmi(const Library& library, Printer& out) {
    auto* is_ipmi = library.function<int()>("IsIpmiSupport");
    auto* get_ipmi_info = library.function<GetIpmiInfoFunction>("GetIpmiInfo");
    auto* get_page = library.function<PageFunction>("GetIpmiInfoPage");
    auto* get_version = library.function<int(unsigned char*, unsigned char*)>("GetBMCVersion");
    auto* get_watchdog = library.function<int(unsigned char*, int*, int*)>("GetWatchDogTimer");
    const char* missing = !is_ipmi ? "IsIpmiSupport"
                          : !get_ipmi_info ? "GetIpmiInfo"
                          : !get_version ? "GetBMCVersion"
                          : !get_watchdog ? "GetWatchDogTimer"
                                          : nullptr;
    out.section("IPMI");
    if (missing) {
        out.missing(missing);
        return;
    }
    out.result("IsIpmiSupport()", is_ipmi());
    unsigned char major = 0, minor = 0;
    int result = get_version(&major, &minor);
    out.result("GetBMCVersion()", result);
    if (result == 0) {
        out.field("majorFirmwareRevision", static_cast<long>(major));
        out.field("minorFirmwareRevision", static_cast<long>(minor));
    }

    report_sensors<FanInformation>(get_ipmi_info, get_page, out, "IPMI fans", "INFO_FAN", INFO_FAN);
    report_sensors<VoltageInformation>(get_ipmi_info, get_page, out, "IPMI voltages", "INFO_VOLTAGE", INFO_VOLTAGE);
    report_sensors<TemperatureInformation>(get_ipmi_info, get_page, out, "IPMI temperatures", "INFO_TEMPERATURE",
                                           INFO_TEMPERATURE);

    out.section("watchdog");
    unsigned char action = 0;
    int timeout = 0, present = 0;
    result = get_watchdog(&action, &timeout, &present);
    out.result("GetWatchDogTimer()", result);
    if (result == 0) print_watchdog(out, action, timeout, present);
}

void print_watchdog(Printer& out, unsigned char action, int timeout, int present) {
    out.field("timerAction", static_cast<long>(action));
    out.field("timeOutValue", static_cast<long>(timeout));
    // -1: the BMC's answer stopped before the present countdown.
    if (present == -1)
        out.field("presentTimerOutValue", "not given");
    else
        out.field("presentTimerOutValue", static_cast<long>(present));
}

}  // namespace cli
