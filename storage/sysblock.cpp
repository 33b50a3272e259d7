#include "storage/sysblock.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/platform.h"
#include "storage/identify.h"
#include "storage/storage.h"

namespace {

// sysfs attributes are small; anything longer is cut here.
constexpr std::size_t kAttributeLimit = 4096;


// SCSI peripheral device types (SPC-4 6.4.2) that are disks.
constexpr int kScsiDisk = 0x00;
constexpr int kScsiReducedBlockCommands = 0x0E;

bool ReadFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = platform::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int error = 0;
    out.resize(kAttributeLimit);
    out.resize(platform::read_all(fd, out.data(), kAttributeLimit, error));
    platform::close(fd);
    return error == 0;
}

std::string Trim(const std::string& text) {
    auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\0'; };
    std::size_t start = 0, end = text.size();
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return text.substr(start, end - start);
}

std::string Attribute(const std::string& path) {
    std::string text;
    ReadFile(path, text);
    return Trim(text);
}

// A KEY=VALUE line of a uevent file; empty when absent.
std::string UeventValue(const std::string& directory, const char* key) {
    std::string text;
    if (!ReadFile(directory + "/uevent", text)) return "";
    std::string prefix = std::string(key) + "=";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, prefix.size(), prefix) == 0) return text.substr(start + prefix.size(), end - start - prefix.size());
        start = end + 1;
    }
    return "";
}

bool ParseNumber(const std::string& text, long long& value, int base = 10) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, base);
    return end && *end == '\0' && value >= 0;
}

// The SCSI address "H:C:T:L" of a SCSI disk, from its scsi_device directory; empty
// when it has none.
std::string ScsiAddress(const std::string& block, long long (&address)[4]) {
    std::vector<std::string> names;
    if (!platform::list_directory((block + "/device/scsi_device").c_str(), names) || names.size() != 1) return "";
    // Four numbers, none negative: sscanf's %llu would take "-1" as a huge number, which
    // would become a negative position.
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = i < 3 ? names[0].find(':', at) : names[0].size();
        if (end == std::string::npos || !ParseNumber(names[0].substr(at, end - at), address[i])) return "";
        at = end + 1;
    }
    return names[0];
}

// "ataN" → N; -1 for any other name.
long long AtaPortNumber(const std::string& name) {
    long long number = -1;
    if (name.size() > 3 && name.compare(0, 3, "ata") == 0 && ParseNumber(name.substr(3), number)) return number;
    return -1;
}

// An ATA disk's strings from its identify data; false when the request fails.
bool Identify(const std::string& name, BlockDisk& disk) {
    std::string device = "/dev/" + name;
    int fd = platform::open(device.c_str(), O_RDONLY);
    if (fd < 0) return false;
    unsigned char identify[kIdentifySize] = {};
    bool ok = platform::ioctl(fd, HDIO_GET_IDENTITY, identify) == 0;
    platform::close(fd);
    if (!ok) return false;
    auto field = [&identify](IdentifyField f) {
        return Trim(std::string(reinterpret_cast<const char*>(identify) + f.offset, f.length));
    };
    disk.serial = field(kSerialField);
    disk.firmware = field(kFirmwareField);
    disk.model = field(kModelField);
    return true;
}

// The unit serial number page (SPC-4 7.8.15) the kernel keeps: 4 header bytes, then
// the serial number.
std::string VpdSerial(const std::string& path) {
    std::string page;
    if (!ReadFile(path, page) || page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80) return "";
    std::size_t length = static_cast<unsigned char>(page[2]) << 8 | static_cast<unsigned char>(page[3]);
    return Trim(page.substr(4, std::min(length, page.size() - 4)));
}

// The controller's PCI class (base, subclass) from its uevent PCI_CLASS, as hexadecimal.
unsigned PciClass(const std::string& controller_dir) {
    long long value = 0;
    if (!ParseNumber(UeventValue(controller_dir, "PCI_CLASS"), value, 16)) return 0;
    return static_cast<unsigned>(value >> 8) & 0xFFFF;
}

constexpr unsigned kIdeClass = 0x0101;  // mass storage, IDE
constexpr unsigned kSasClass = 0x0107;  // mass storage, Serial Attached SCSI

bool DescribeScsi(const std::string& block, BlockDisk& disk) {
    long long address[4];
    disk.ControllerNo = ScsiAddress(block, address);
    if (disk.ControllerNo.empty()) return false;
    long long type = -1;
    // CD/DVD (5), optical memory (7), tapes and the rest are not disks.
    if (!ParseNumber(Attribute(block + "/device/type"), type) || (type != kScsiDisk && type != kScsiReducedBlockCommands))
        return false;
    // The host adapter's parent: an ATA port, a PCI function, a USB interface, a virtio device.
    std::string parent = "/sys/class/scsi_host/host" + std::to_string(address[0]) + "/device/..";
    std::string devtype = UeventValue(parent, "DEVTYPE");
    std::copy(address, address + 4, disk.place);
    // libata's port device ataN has neither bus nor class, so the kernel writes nothing into
    // its uevent; what it does make is the port's class directory ata_port/ataN under it.
    std::vector<std::string> ports;
    platform::list_directory((parent + "/ata_port").c_str(), ports);
    const long long ata_port = ports.size() == 1 ? AtaPortNumber(ports[0]) : -1;
    if (ata_port >= 0) {
        std::string controller = parent + "/..";
        disk.controller = UeventValue(controller, "PCI_SLOT_NAME");
        disk.controller_path = controller;
        disk.ide = PciClass(controller) == kIdeClass;
        disk.ControllerType = disk.ide ? "ide" : "sata";
        // ATA port of the controller, then device number (master 0, slave 1) as libata
        // gives it in the target number.
        disk.place[0] = ata_port;
        disk.place[1] = address[2];
        disk.place[2] = address[3];
        disk.place[3] = 0;
        if (Identify(disk.name, disk)) return true;
    } else if (devtype == "usb_interface") {
        disk.ControllerType = "usb";
        disk.controller = "~usb";  // no PCI function at hand: after every other controller
    } else if (UeventValue(parent, "MODALIAS").compare(0, 7, "virtio:") == 0) {
        disk.ControllerType = "virtio";
        disk.controller = UeventValue(parent + "/..", "PCI_SLOT_NAME");
        disk.place[0] = 0;
    } else {
        disk.controller = UeventValue(parent, "PCI_SLOT_NAME");
        disk.ControllerType = PciClass(parent) == kSasClass ? "sas" : "scsi";
        disk.place[0] = 0;  // the host number changes from boot to boot; the controller does not
    }
    disk.model = Attribute(block + "/device/model");
    disk.firmware = Attribute(block + "/device/rev");
    disk.serial = VpdSerial(block + "/device/vpd_pg80");
    return true;
}

void DescribeNvme(const std::string& block, BlockDisk& disk) {
    std::string controller = block + "/device";
    disk.ControllerType = "nvme";
    disk.ControllerNo = UeventValue(controller, "DEVNAME");
    if (disk.ControllerNo.empty()) disk.ControllerNo = disk.name.substr(0, disk.name.find('n', 4));
    disk.controller = UeventValue(controller + "/device", "PCI_SLOT_NAME");
    // With native multipath the disk hangs off its subsystem, which has no PCI parent;
    // its controller still has.
    if (disk.controller.empty())
        disk.controller = UeventValue("/sys/class/nvme/" + disk.ControllerNo + "/device", "PCI_SLOT_NAME");
    // Namespace number: the digits after the last 'n' of nvmeXnY.
    long long ns = 0;
    ParseNumber(disk.name.substr(disk.name.rfind('n') + 1), ns);
    disk.place[0] = ns;
    disk.model = Attribute(controller + "/model");
    disk.serial = Attribute(controller + "/serial");
    disk.firmware = Attribute(controller + "/firmware_rev");
}

void DescribeVirtio(const std::string& block, BlockDisk& disk) {
    disk.ControllerType = "virtio";
    disk.controller = UeventValue(block + "/device/..", "PCI_SLOT_NAME");
    disk.ControllerNo = disk.controller;
    disk.serial = Attribute(block + "/serial");
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::strlen(prefix), prefix) == 0; }

// Under native NVMe multipath the kernel lists, beside each namespace's disk, one hidden
// block device per path ("nvme0c1n1"), which has no node in /dev. Kernels before the
// "hidden" attribute are known by the name alone.
bool IsHiddenPath(const std::string& block, const std::string& name) {
    if (Attribute(block + "/hidden") == "1") return true;
    unsigned a = 0, b = 0, c = 0;
    int end = 0;
    return std::sscanf(name.c_str(), "nvme%uc%un%u%n", &a, &b, &c, &end) == 3 &&
           static_cast<std::size_t>(end) == name.size();
}

// Channels of the IDE controllers in order (controller, ATA port), two devices each: the
// classic positions for the first four, the SCSI address beyond.
void NameIdePositions(std::vector<BlockDisk>& disks) {
    // Every ATA port of each IDE controller, with or without disks: the primary channel
    // stays primary when only the secondary holds a disk.
    std::map<std::string, std::vector<long long>> ports;
    for (const BlockDisk& d : disks) {
        if (!d.ide || ports.count(d.controller)) continue;
        std::vector<std::string> names;
        platform::list_directory(d.controller_path.c_str(), names);
        std::vector<long long>& numbers = ports[d.controller];
        for (const std::string& name : names)
            if (AtaPortNumber(name) >= 0) numbers.push_back(AtaPortNumber(name));
        std::sort(numbers.begin(), numbers.end());
    }
    std::map<std::pair<std::string, long long>, long long> channel;
    long long next = 0;
    for (const auto& [controller, numbers] : ports)
        for (long long port : numbers) channel[{controller, port}] = next++;
    for (BlockDisk& d : disks) {
        if (!d.ide) continue;
        auto it = channel.find({d.controller, d.place[0]});
        if (it == channel.end() || d.place[1] < 0 || d.place[1] > 1) continue;
        long long position = 2 * it->second + d.place[1];
        if (position < kIdePositions) d.ControllerNo = IdePositionText[position];
    }
}

}  // namespace

bool ListBlockDisks(std::vector<BlockDisk>& disks) {
    disks.clear();
    std::vector<std::string> names;
    if (!platform::list_directory("/sys/block", names)) return false;
    for (const std::string& name : names) {
        std::string block = "/sys/block/" + name;
        // Loop, RAM, device-mapper, MD and zram devices have no device behind them.
        if (!platform::directory_exists((block + "/device").c_str()) || IsHiddenPath(block, name)) continue;
        BlockDisk disk;
        disk.name = name;
        if (StartsWith(name, "nvme")) {
            DescribeNvme(block, disk);
        } else if (StartsWith(name, "vd")) {
            DescribeVirtio(block, disk);
        } else if (StartsWith(name, "sr") || !DescribeScsi(block, disk)) {
            continue;
        }
        long long sectors = 0;
        if (ParseNumber(Attribute(block + "/size"), sectors)) disk.sectors = static_cast<unsigned long long>(sectors);
        disks.push_back(disk);
    }
    std::stable_sort(disks.begin(), disks.end(), [](const BlockDisk& a, const BlockDisk& b) {
        if (a.ide != b.ide) return a.ide;
        if (a.controller != b.controller) return a.controller < b.controller;
        return std::lexicographical_compare(a.place, a.place + 4, b.place, b.place + 4);
    });
    NameIdePositions(disks);
    return true;
}

std::string PartitionPath(const std::string& disk, int number) {
    bool digit = !disk.empty() && std::isdigit(static_cast<unsigned char>(disk.back()));
    return "/dev/" + disk + (digit ? "p" : "") + std::to_string(number);
}
