// The device records of GetInfo: PCI functions, IDE drives and disk partitions.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/report.h"
#include "cli/report_pages.h"

namespace cli {

namespace {

using GetInfoFunction = int(unsigned long, LPVOID);

// Entries a record holds at most, whatever its count says.
template <typename Entry, std::size_t N>
int Shown(int quantity, const Entry (&)[N]) {
    return std::clamp(quantity, 0, static_cast<int>(N));
}

// A 32-bit register as hexadecimal, the same text in every build whatever the width of long.
void register_field(Printer& out, const char* name, long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value) & 0xFFFFFFFFUL);
    out.field(name, text);
}

void print(Printer& out, const DeviceInformation& r) {
    out.field("quantity", static_cast<long>(r.quantity));
    for (int i = 0; i < Shown(r.quantity, r.dev); ++i) {
        const DEV& d = r.dev[i];
        out.prefix("dev[" + std::to_string(i) + "].");
        out.field("BiosEnable", static_cast<long>(d.BiosEnable));
        out.field("model", d.model);
        out.field("type", d.type);
        out.field("desc", d.desc);
        out.field("IRQ", static_cast<long>(d.IRQ));
        register_field(out, "MemBase", d.MemBase);
        register_field(out, "IOBase", d.IOBase);
        out.field("DMAChannel", static_cast<long>(d.DMAChannel));
        out.field("Duplex", static_cast<long>(d.Duplex));
        out.field("revision", static_cast<long>(d.revision));
        out.field("status", d.status);
    }
}

void print(Printer& out, const StorageInformation& r) {
    out.field("quantityIDE", static_cast<long>(r.quantityIDE));
    out.field("quantitySCSI", static_cast<long>(r.quantitySCSI));
    // IDE disks first, then the others (quantitySCSI), in one array.
    for (int i = 0; i < Shown(r.quantityIDE + r.quantitySCSI, r.driveArray); ++i) {
        const DriveInfo& d = r.driveArray[i];
        out.prefix("driveArray[" + std::to_string(i) + "].");
        out.field("isRaid", static_cast<long>(d.isRaid));
        out.field("driveOrder", static_cast<long>(d.driveOrder));
        out.field("type", d.type);
        out.field("size", d.size);
        out.field("model", d.model);
        out.field("ControllerType", d.ControllerType);
        out.field("ControllerNo", d.ControllerNo);
        out.field("SerialNo", d.SerialNo);
        out.field("FirmwareVersion", d.FirmwareVersion);
    }
}

void print(Printer& out, const PartitionInformation& r) {
    out.field("quantity", static_cast<long>(r.quantity));
    for (int i = 0; i < Shown(r.quantity, r.partition); ++i) {
        const PARTITION& p = r.partition[i];
        out.prefix("partition[" + std::to_string(i) + "].");
        out.field("description", p.description);
        out.field("label", p.label);
        out.field("size", p.size);
        out.field("used", p.used);
        out.field("FileSystem", p.FileSystem);
        out.field("isSystem", static_cast<long>(p.isSystem));
    }
}

int Capacity(const DeviceInformation& r) { return Shown(1 << 30, r.dev); }
int Capacity(const StorageInformation& r) { return Shown(1 << 30, r.driveArray); }
int Capacity(const PartitionInformation& r) { return Shown(1 << 30, r.partition); }

template <typename Record>
void report(GetInfoFunction* get_info, PageFunction* get_page, Printer& out, const char* title,
            const char* command_name, unsigned long command) {
    out.section(title);
    // The records are large; the agent zeroes them before each call.
    auto* record = new Record;
    std::memset(record, 0, sizeof *record);
    int result = get_info(command, record);
    out.result(std::string("GetInfo(") + command_name + ")", result);
    if (result == 0) {
        print(out, *record);
        print_more_pages(out, get_page, "GetInfoPage", command_name, command, *record, Capacity(*record),
                         [](Printer& p, const Record& r) { print(p, r); });
    }
    delete record;
}

}  // namespace

void report_devices(const Library& library, Printer& out) {
    auto* get_info = library.function<GetInfoFunction>("GetInfo");
    auto* get_page = library.function<PageFunction>("GetInfoPage");
    if (!get_info) {
        out.missing("GetInfo");
        return;
    }
    report<DeviceInformation>(get_info, get_page, out, "PCI devices", "INFO_PCI_DEVICE", INFO_PCI_DEVICE);
    report<StorageInformation>(get_info, get_page, out, "IDE drives", "INFO_STORAGE", INFO_STORAGE);
    report<PartitionInformation>(get_info, get_page, out, "partitions", "INFO_PARTITION", INFO_PARTITION);
}

}  // namespace cli
