// The large server: a two-socket machine of 64 cores a socket on a current kernel, with more
// of everything than the exchange records hold: 128 processors in /proc/stat, 32 DIMMs, 300
// PCI functions, 60 SAS disks with a partition each, and a BMC with 200 threshold sensors
// (70 temperatures, 70 voltages, 60 fans). It is what the paged reads are tested and timed on.
//
//   make-large-server DIR
#include <cstdio>
#include <string>

#include "sim/Bmc.h"
#include "sim/Disk.h"
#include "sim/Pci.h"
#include "sim/Smbios.h"
#include "sim/SmbiosStructures.h"
#include "sim/loader.h"

namespace {

constexpr int kSockets = 2, kCoresPerSocket = 64, kDimms = 32, kPciFunctions = 300, kDisks = 60;
constexpr int kTemperatures = 70, kVoltages = 70, kFans = 60;

bool write_kernel(const std::string& dir) { return sim::write_file(dir + "/kernel", std::string("current\n")); }

bool write_smbios(const std::string& dir) {
    sim::SmbiosTable t;
    t.add(0, 0x18).string(4, "Larkspur Firmware Inc.").string(5, "6.02.1").word(6, 0xF000).string(8, "03/11/2026")
        .byte(9, 0xFF).qword(10, 0x08000000000B9880ULL);
    t.add(1, 0x1B).string(4, "Harrowgate Computing").string(5, "HG-R9800 Rack Server").string(6, "Rev A")
        .string(7, "HGR98-2611-0031").byte(0x18, 6);
    t.add(2, 0x0F).string(4, "Harrowgate Computing").string(5, "HG-S2E980").string(6, "1.00")
        .string(7, "S2E980-10077").string(8, "Asset-BB-9800").byte(9, 0x09).string(0x0A, "Mainboard")
        .word(0x0B, 3).byte(0x0D, 0x0A).byte(0x0E, 0);
    for (int socket = 0; socket < kSockets; ++socket) {
        const std::string n = std::to_string(socket);
        sim::add_processor(t, {.length = 0x30, .socket = "CPU" + n, .family = 0xB3,
                               .manufacturer = "Intel(R) Corporation", .id = 0xBFEBFBFF000806F8ULL,
                               .version = "Intel(R) Xeon(R) 64-Core Processor", .external_clock = 100,
                               .max_speed = 4000, .current_speed = 2100, .status = 0x41,
                               .serial = "HG-CPU-" + n, .part_number = "XC-6480"})
            .byte(0x23, kCoresPerSocket).byte(0x24, kCoresPerSocket).byte(0x25, kCoresPerSocket)
            .word(0x2A, kCoresPerSocket).word(0x2C, kCoresPerSocket).word(0x2E, kCoresPerSocket);
    }
    t.add(16, 0x17, 0x1000).byte(4, 0x03).byte(5, 0x03).byte(6, 0x06).dword(7, 0x80000000).word(11, 0xFFFE)
        .word(13, kDimms).qword(15, 8ULL << 40);
    for (int d = 0; d < kDimms; ++d) {
        const std::string locator = "CPU" + std::to_string(d / 16) + "_DIMM_" + static_cast<char>('A' + d % 16 / 2) +
                                    std::to_string(d % 2 + 1);
        sim::add_memory_device(t, {.length = 0x28, .size = 16384, .device_locator = locator,
                                   .bank_locator = "NODE " + std::to_string(d / 16), .memory_type = 0x1A,
                                   .type_detail = 0x2080, .speed = 3200, .manufacturer = "Kestrel Memory",
                                   .serial = "KM" + std::to_string(71000 + d), .part_number = "KM32G2R4-3200R"});
    }
    t.add(32, 0x0B);
    t.end();
    sim::EntryPoint entry;
    entry.kind = sim::EntryPoint::SMBIOS3;
    entry.major = 3;
    entry.minor = 3;
    return sim::write_file(dir + "/smbios.bin", sim::dump_bin(t, entry));
}

// Buses 0 to 9, 30 single-function devices each (the library looks at buses 0 to 10): the
// uncore's system peripherals and performance counters, bridges, host adapters and NICs.
bool write_pci(const std::string& dir) {
    struct Kind {
        std::uint8_t base, sub;
        std::uint16_t device;
    };
    const Kind kinds[] = {{0x08, 0x80, 0x3450}, {0x11, 0x01, 0x3451}, {0x06, 0x04, 0x3452},
                          {0x01, 0x07, 0x0097}, {0x02, 0x00, 0x1521}, {0x0C, 0x05, 0x3453}};
    for (int i = 0; i < kPciFunctions; ++i) {
        const Kind& k = kinds[i % 6];
        sim::ConfigSpace c = sim::ConfigSpace().ids(0x1B7C, k.device).class_code(k.base, k.sub, 0x00)
                                 .revision(static_cast<std::uint8_t>(i & 0xFF)).command(0x0006).status(0x0010)
                                 .interrupt(static_cast<std::uint8_t>(i % 16), 1);
        if (!sim::save_pci_function(dir, i / 30, i % 30, 0, c)) return false;
    }
    return true;
}

// sda .. sdz, sdaa ...: the kernel's names for the 61st disk onwards.
std::string DiskName(int n) {
    std::string name;
    for (++n; n > 0; n = (n - 1) / 26) name.insert(name.begin(), static_cast<char>('a' + (n - 1) % 26));
    return "sd" + name;
}

// Two SAS host adapters (bus 0, devices 3 and 9), 30 disks each, one partition a disk.
bool write_disks(const std::string& dir) {
    sim::SysfsTree tree;
    for (int n = 0; n < kDisks; ++n) {
        sim::SysfsDisk d;
        d.bus = sim::SysfsDisk::Bus::Scsi;
        d.name = DiskName(n);
        d.pci = n < 30 ? "0000:00:03.0" : "0000:00:09.0";
        d.pci_class = 0x010700;
        d.driver = "mpt3sas";
        d.host = n / 30;
        d.target = n % 30;
        d.vendor = "HGT";
        d.model = "SAS-2400 10K";
        d.firmware = "C11A";
        d.serial = "HGK2400-" + std::to_string(30100 + n);
        d.sectors = 4687862448ULL;
        sim::describe_disk(tree, d);
        sim::SparseDisk disk(d.sectors * sim::kSectorSize);
        sim::AlignedLayout(disk).primary(0x83, 2000000);
        std::string error;
        if (!disk.save(dir + "/dev/" + d.name + ".img", error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
    }
    std::string error;
    if (!tree.save(dir, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

// 128 processors, each a little busier than the one before over the second between the files.
bool write_load(const std::string& dir) {
    auto stat_at = [](int second) {
        std::string lines, text = "cpu  0 0 0 0 0 0 0 0 0 0\n";
        for (int i = 0; i < kSockets * kCoresPerSocket; ++i) {
            const unsigned long busy = static_cast<unsigned long>(i % 101);
            lines += "cpu" + std::to_string(i) + " " + std::to_string(100000 + second * busy) + " 0 " +
                     std::to_string(50000) + " " + std::to_string(9000000 + second * (100 - busy)) + " 0 0 0 0 0 0\n";
        }
        return text + lines + "intr 0\nctxt 0\nbtime 1741939200\nprocesses 1\nprocs_running 1\nprocs_blocked 0\n";
    };
    const std::string free =
        "               total        used        free      shared  buff/cache   available\n"
        "Mem:      1056964608   211392921   845571687           0           0   845571687\n"
        "Swap:              0           0           0\n";
    // A third snapshot, as a capture of a machine of more than eight processors holds one.
    return sim::write_file(dir + "/proc/stat", stat_at(0)) && sim::write_file(dir + "/proc/stat@1", stat_at(1)) &&
           sim::write_file(dir + "/proc/stat@2", stat_at(2)) && sim::write_file(dir + "/free.txt", free);
}

// 200 threshold sensors, numbered 1 to 200 in repository order.
bool write_bmc(const std::string& dir) {
    sim::Bmc bmc;
    bmc.device.device_id = 0x20;
    bmc.device.firmware1 = 0x03;
    bmc.device.firmware2 = 0x01;
    bmc.device.ipmi_version = 0x02;
    bmc.device.manufacturer = 0x00A1C3;
    bmc.device.product = 0x9800;
    bmc.kcs_present = true;
    bmc.channels[1] = {0x01, 0x01};
    bmc.add_record(sim::mc_locator(0x20, 6, 1, "BMC"));
    int number = 1;
    auto add = [&](sim::FullSensor s, std::uint8_t reading) {
        s.number = static_cast<std::uint8_t>(number++);
        s.event_type = 0x01;
        bmc.add_record(s.record());
        bmc.sensors[s.number].reading = reading;
    };
    for (int i = 0; i < kTemperatures; ++i)
        add({.entity = 3, .instance = static_cast<std::uint8_t>(i + 1), .type = 1, .readable = 0x38, .settable = 0x38,
             .base_unit = 1, .nominal = 45, .unr = 100, .uc = 95, .unc = 90, .name = "Temp " + std::to_string(i)},
            static_cast<std::uint8_t>(30 + i % 40));
    for (int i = 0; i < kVoltages; ++i)
        add({.entity = 7, .instance = static_cast<std::uint8_t>(i + 1), .type = 2, .readable = 0x1B, .settable = 0x1B,
             .base_unit = 4, .m = 6, .k2 = -2, .nominal = 200, .uc = 225, .unc = 220, .lc = 175, .lnc = 180,
             .name = "Volt " + std::to_string(i)},
            static_cast<std::uint8_t>(190 + i % 20));
    for (int i = 0; i < kFans; ++i)
        add({.entity = 29, .instance = static_cast<std::uint8_t>(i + 1), .type = 4, .readable = 0x07, .settable = 0x07,
             .base_unit = 18, .m = 100, .nominal = 54, .max = 150, .lnr = 5, .lc = 8, .lnc = 10,
             .name = "Fan " + std::to_string(i)},
            static_cast<std::uint8_t>(40 + i % 30));
    return sim::write_ipmi(dir, bmc);
}

}  // namespace

int main(int argc, char** argv) {
    return sim::generate_machine(argc, argv, "make-large-server",
                                 {
                                     {"kernel", write_kernel},
                                     {"SMBIOS table", write_smbios},
                                     {"PCI functions", write_pci},
                                     {"disks", write_disks},
                                     {"processor times and memory use", write_load},
                                     {"BMC", write_bmc},
                                 });
}
