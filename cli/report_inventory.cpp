// The inventory records of GetInfo.
#include <cstring>

#include "cli/report.h"

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

// Asks GetInfo for one record (zeroed first, as the agent does) and prints it.
template <typename Record>
void report(GetInfoFunction* get_info, Printer& out, const char* title, const char* command_name,
            unsigned long command) {
    out.section(title);
    Record record;
    std::memset(&record, 0, sizeof record);
    int result = get_info(command, &record);
    out.result(std::string("GetInfo(") + command_name + ")", result);
    if (result == 0) print(out, record);
}

}  // namespace

void report_inventory(const Library& library, Printer& out) {
    auto* is_smbios = library.function<int()>("IsSmBiosSupport");
    auto* get_info = library.function<GetInfoFunction>("GetInfo");
    if (!is_smbios || !get_info) {
        out.missing(!is_smbios ? "IsSmBiosSupport" : "GetInfo");
        return;
    }
    out.section("SMBIOS");
    out.result("IsSmBiosSupport()", is_smbios());
    report<BaseBoardInformation>(get_info, out, "base board", "INFO_BASE_BOARD", INFO_BASE_BOARD);
    report<SysInformation>(get_info, out, "system", "INFO_SYSTEM", INFO_SYSTEM);
}

}  // namespace cli
