#include "sim/Disk.h"

#include "sim/loader.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>

#include "sim/DiskHealth.h"

namespace sim {

// --- sparse disks ------------------------------------------------------------------------

long SparseDisk::read(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (offset >= size_) return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t done = 0; done < count;) {
        std::uint64_t sector = (offset + done) / kSectorSize, within = (offset + done) % kSectorSize;
        std::size_t n = std::min<std::size_t>(count - done, kSectorSize - within);
        auto it = sectors_.find(sector);
        if (it == sectors_.end())
            std::memset(out + done, 0, n);
        else
            std::memcpy(out + done, it->second.data() + within, n);
        done += n;
    }
    return static_cast<long>(count);
}

void SparseDisk::write(std::uint64_t offset, const void* data, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    for (std::size_t done = 0; done < count;) {
        std::uint64_t sector = (offset + done) / kSectorSize, within = (offset + done) % kSectorSize;
        std::size_t n = std::min<std::size_t>(count - done, kSectorSize - within);
        auto inserted = sectors_.try_emplace(sector);
        if (inserted.second) inserted.first->second.fill(0);
        std::memcpy(inserted.first->second.data() + within, in + done, n);
        done += n;
    }
    size_ = std::max<std::uint64_t>(size_, offset + count);
}

bool SparseDisk::save(const std::string& path, std::string& error) const {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    int fd = ::open64(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = ::ftruncate64(fd, static_cast<off64_t>(size_)) == 0;
    for (auto it = sectors_.begin(); ok && it != sectors_.end(); ++it)
        ok = ::pwrite64(fd, it->second.data(), kSectorSize, static_cast<off64_t>(it->first * kSectorSize)) ==
             static_cast<ssize_t>(kSectorSize);
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    ::close(fd);
    return ok;
}

bool SparseDisk::save_compact(const std::string& path, std::string& error) const {
    if (write_file(path, encode_compact(size_, kSectorSize, sectors_))) return true;
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
}

// --- image files -------------------------------------------------------------------------

std::shared_ptr<FileDisk> FileDisk::open(const std::string& path, std::string& error) {
    int fd = ::open64(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat64 st;
    if (fd < 0 || ::fstat64(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read the disk image " + path;
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    std::shared_ptr<FileDisk> disk(new FileDisk(fd, static_cast<std::uint64_t>(st.st_size)));
    char start[sizeof kCompactMagic];
    if (::pread64(fd, start, sizeof start, 0) != static_cast<ssize_t>(sizeof start) || !is_compact(start, sizeof start))
        return disk;
    CompactLayout layout;
    auto read = [fd](std::uint64_t offset, void* buffer, std::size_t count) {
        return static_cast<long>(::pread64(fd, buffer, count, static_cast<off64_t>(offset)));
    };
    if (!read_compact_layout(read, disk->size_, layout, error)) {
        error = "cannot read the disk image " + path + ": " + error;
        return nullptr;
    }
    disk->size_ = layout.disk_size;
    disk->compact_ = std::move(layout);
    return disk;
}

FileDisk::~FileDisk() { ::close(fd_); }

long FileDisk::read(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (offset >= size_) return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    if (!compact_) {
        ssize_t n = ::pread64(fd_, buffer, count, static_cast<off64_t>(offset));
        return n < 0 ? -errno : static_cast<long>(n);
    }
    // Piece by piece: the part of a run, or the zeros up to the next run.
    const std::vector<CompactRun>& runs = compact_->runs;
    const std::uint64_t sector = compact_->sector_size;
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t done = 0; done < count;) {
        const std::uint64_t at = offset + done;
        auto next = std::upper_bound(runs.begin(), runs.end(), at / sector,
                                     [](std::uint64_t s, const CompactRun& run) { return s < run.first; });
        std::size_t n = count - done;
        if (next != runs.begin() && at < (std::prev(next)->first + std::prev(next)->count) * sector) {
            const CompactRun& run = *std::prev(next);
            const std::uint64_t within = at - run.first * sector;
            n = static_cast<std::size_t>(std::min<std::uint64_t>(n, run.count * sector - within));
            ssize_t got = ::pread64(fd_, out + done, n, static_cast<off64_t>(run.data_offset + within));
            if (got < 0) return -errno;
            if (static_cast<std::size_t>(got) != n) return -EIO;  // the file shrank under us
        } else {
            if (next != runs.end()) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, next->first * sector - at));
            std::memset(out + done, 0, n);
        }
        done += n;
    }
    return static_cast<long>(count);
}

// --- the block device --------------------------------------------------------------------

std::array<std::uint8_t, kSectorSize> identify_block(const AtaIdentity& identity) {
    std::array<std::uint8_t, kSectorSize> block{};
    auto put = [&block](std::size_t offset, std::size_t length, const std::string& text) {
        if (text.empty()) return;
        for (std::size_t i = 0; i < length; ++i)
            block[offset + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    };
    put(20, 20, identity.serial);
    put(46, 8, identity.firmware);
    put(54, 40, identity.model);
    return block;
}

std::array<std::uint8_t, kSectorSize> identify_block(const std::string& serial) {
    std::array<std::uint8_t, kSectorSize> block{};
    for (std::size_t i = 0; i < 20; ++i)
        block[20 + i] = static_cast<std::uint8_t>(i < serial.size() ? serial[i] : ' ');
    return block;
}

long IdeDiskNode::read(std::uint64_t offset, void* buffer, std::size_t count) {
    return image_->read(offset, buffer, count);
}

long long IdeDiskNode::size() const { return static_cast<long long>(image_->size()); }

int IdeDiskNode::ioctl(unsigned long request, void* argument) {
    if (request == SG_IO && health_) return answer_sg_io(*health_, argument);
    if ((request == kDriveCmd || request == kDriveTask) && health_) return answer_drive_ioctl(*health_, request, argument);
    if (request != HDIO_GET_IDENTITY) return Node::ioctl(request, argument);
    if (!identity_) return -EINVAL;
    auto block = identify_block(*identity_);
    std::memcpy(argument, block.data(), block.size());
    return 0;
}

void add_block_device(Machine& machine, const std::string& name, std::shared_ptr<const DiskImage> image,
                      std::optional<AtaIdentity> identity, std::shared_ptr<AtaHealth> health) {
    machine.add_device("/dev/" + name,
                       [image, identity, health] { return std::make_shared<IdeDiskNode>(image, identity, health); });
}

void add_ide_disk(Machine& machine, char letter, std::shared_ptr<const DiskImage> image,
                  std::optional<std::string> serial, std::shared_ptr<AtaHealth> health) {
    std::optional<AtaIdentity> identity;
    // The classic drives' identify data holds the serial number, space filled even when
    // it is empty.
    if (serial) identity = AtaIdentity{serial->empty() ? std::string(20, ' ') : *serial, "", ""};
    add_block_device(machine, std::string("hd") + letter, std::move(image), identity, std::move(health));
}

void add_ide_proc(Machine& machine, char letter, const std::string& media, const std::string& model,
                  std::uint64_t capacity_sectors) {
    std::string dir = "/proc/ide/ide" + std::to_string((letter - 'a') / 2) + "/hd" + letter + "/";
    machine.files.add(dir + "media", media + "\n");
    machine.files.add(dir + "model", model + "\n");
    machine.files.add(dir + "capacity", std::to_string(capacity_sectors) + "\n");
}

// --- partition tables --------------------------------------------------------------------

namespace {

// Cylinder/head/sector of a sector, as fdisk writes them; past cylinder 1023 the
// largest address stands for "use the LBA fields".
void put_chs(std::uint8_t* out, std::uint64_t lba) {
    std::uint64_t c = lba / ClassicLayout::kSectorsPerCylinder;
    std::uint64_t h = lba / 63 % 255, s = lba % 63 + 1;
    if (c > 1023) c = 1023, h = 254, s = 63;
    out[0] = static_cast<std::uint8_t>(h);
    out[1] = static_cast<std::uint8_t>(s | (c >> 2 & 0xC0));
    out[2] = static_cast<std::uint8_t>(c);
}

void put_le32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void write_partition_entry(SparseDisk& disk, std::uint64_t table_sector, int slot, std::uint8_t type,
                           std::uint32_t start, std::uint32_t size) {
    // A primary entry's start counts from the disk's start and a logical one's from its own
    // record, so either way the partition's absolute first sector is table + start.
    std::uint8_t entry[16] = {};
    entry[4] = type;
    std::uint64_t first = table_sector + start, last = first + (size ? size - 1 : 0);
    put_chs(entry + 1, first);
    put_chs(entry + 5, last);
    put_le32(entry + 8, start);
    put_le32(entry + 12, size);
    disk.write(table_sector * kSectorSize + 0x1BE + 16 * static_cast<std::uint64_t>(slot), entry, sizeof entry);
    const std::uint8_t signature[2] = {0x55, 0xAA};
    disk.write(table_sector * kSectorSize + 510, signature, sizeof signature);
}

ClassicLayout& ClassicLayout::primary(std::uint8_t type, std::uint32_t cylinders) {
    std::uint32_t start = next_cylinder_ * kSectorsPerCylinder;
    std::uint32_t size = cylinders * kSectorsPerCylinder;
    if (next_cylinder_ == 0) start = 63, size -= 63;  // track 0 holds the master boot record
    write_partition_entry(disk_, 0, slot_++, type, start, size);
    next_cylinder_ += cylinders;
    return *this;
}

ClassicLayout& ClassicLayout::extended(std::uint8_t type, const std::vector<Logical>& logicals) {
    std::uint32_t total = 0;
    for (const Logical& l : logicals) total += l.cylinders;
    std::uint32_t ext_start = next_cylinder_ * kSectorsPerCylinder;
    write_partition_entry(disk_, 0, slot_++, type, ext_start, total * kSectorsPerCylinder);
    std::uint32_t cylinder = next_cylinder_;
    for (std::size_t i = 0; i < logicals.size(); ++i) {
        std::uint32_t ebr = cylinder * kSectorsPerCylinder;
        write_partition_entry(disk_, ebr, 0, logicals[i].type, 63, logicals[i].cylinders * kSectorsPerCylinder - 63);
        cylinder += logicals[i].cylinders;
        if (i + 1 < logicals.size()) {
            // The link points at the next record, relative to the extended partition's start.
            std::uint32_t next = cylinder * kSectorsPerCylinder;
            std::uint8_t entry[16] = {};
            entry[4] = 0x05;
            put_chs(entry + 1, next);
            put_chs(entry + 5, next + logicals[i + 1].cylinders * kSectorsPerCylinder - 1);
            put_le32(entry + 8, next - ext_start);
            put_le32(entry + 12, logicals[i + 1].cylinders * kSectorsPerCylinder);
            disk_.write(static_cast<std::uint64_t>(ebr) * kSectorSize + 0x1BE + 16, entry, sizeof entry);
        }
    }
    next_cylinder_ = cylinder;
    return *this;
}

// --- sysfs of a current kernel --------------------------------------------------------

namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// The target of a link at `link` to `target`, relative to the link's directory, as the
// kernel writes its sysfs links.
std::string relative_target(const std::string& link, const std::string& target) {
    std::vector<std::string> from = components(link), to = components(target);
    from.pop_back();
    std::size_t common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
    std::string out;
    for (std::size_t i = common; i < from.size(); ++i) out += "../";
    for (std::size_t i = common; i < to.size(); ++i) out += (i > common ? "/" : "") + to[i];
    return out;
}

std::string pci_directory(const std::string& pci) { return "/sys/devices/pci0000:00/" + pci; }

void describe_controller(SysfsTree& tree, const SysfsDisk& disk) {
    char text[160];
    std::snprintf(text, sizeof text, "DRIVER=%s\nPCI_CLASS=%X\nPCI_SLOT_NAME=%s\n", disk.driver.c_str(),
                  static_cast<unsigned>(disk.pci_class), disk.pci.c_str());
    tree.files[pci_directory(disk.pci) + "/uevent"] = text;
    std::snprintf(text, sizeof text, "0x%06x\n", static_cast<unsigned>(disk.pci_class));
    tree.files[pci_directory(disk.pci) + "/class"] = text;
}

// The block device's own directory and the /sys/block link to it.
void describe_block(SysfsTree& tree, const SysfsDisk& disk, const std::string& block, const std::string& device) {
    tree.files[block + "/size"] = std::to_string(disk.sectors) + "\n";
    tree.files[block + "/queue/logical_block_size"] = std::to_string(disk.logical_block_size) + "\n";
    tree.links[block + "/device"] = device;
    tree.links["/sys/block/" + disk.name] = block;
}

// SPC-4 7.8.15: the unit serial number page as the kernel keeps it.
std::string vpd_serial_page(const std::string& serial) {
    std::string page = {'\0', '\x80', '\0', static_cast<char>(serial.size())};
    return page + serial;
}

}  // namespace

void SysfsTree::install(Machine& machine) const {
    for (const auto& directory : directories) machine.files.add_directory(directory);
    for (const auto& file : files) machine.files.add(file.first, file.second);
    for (const auto& link : links) machine.files.add_link(link.first, relative_target(link.first, link.second));
}

bool SysfsTree::save(const std::string& capture_directory, std::string& error) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& directory : directories) fs::create_directories(capture_directory + directory, ec);
    for (const auto& file : files) {
        fs::path path = capture_directory + file.first;
        fs::create_directories(path.parent_path(), ec);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = fd >= 0 && ::write(fd, file.second.data(), file.second.size()) ==
                                 static_cast<ssize_t>(file.second.size());
        if (fd >= 0) ::close(fd);
        if (!ok) {
            error = "cannot write " + path.string();
            return false;
        }
    }
    for (const auto& link : links) {
        fs::path path = capture_directory + link.first;
        fs::create_directories(path.parent_path(), ec);
        fs::remove(path, ec);
        fs::create_symlink(relative_target(link.first, link.second), path, ec);
        if (ec) {
            error = "cannot link " + path.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

void describe_ata_port(SysfsTree& tree, const std::string& pci, int port) {
    // As Debian's 6.1 kernel lays a port out (tests/data/disks/qemu-6.1/): the ataN device
    // has neither bus nor class, so its uevent is empty; the port's class device ata_port/ataN
    // under it is what marks it, also listed in /sys/class/ata_port.
    const std::string name = "ata" + std::to_string(port);
    const std::string ata = pci_directory(pci) + "/" + name;
    tree.files[ata + "/uevent"] = "";
    tree.files[ata + "/ata_port/" + name + "/uevent"] = "";
    tree.links[ata + "/ata_port/" + name + "/device"] = ata;
    tree.links["/sys/class/ata_port/" + name] = ata + "/ata_port/" + name;
}

void describe_disk(SysfsTree& tree, const SysfsDisk& disk) {
    describe_controller(tree, disk);
    std::string controller = pci_directory(disk.pci);
    if (disk.bus == SysfsDisk::Bus::Nvme) {
        std::string nvme = controller + "/nvme/" + disk.controller;
        tree.files[nvme + "/model"] = disk.model + "\n";
        tree.files[nvme + "/serial"] = disk.serial + "\n";
        tree.files[nvme + "/firmware_rev"] = disk.firmware + "\n";
        tree.files[nvme + "/uevent"] = "MAJOR=241\nMINOR=0\nDEVNAME=" + disk.controller + "\n";
        tree.links[nvme + "/device"] = controller;
        describe_block(tree, disk, nvme + "/" + disk.name, nvme);
        return;
    }
    if (disk.bus == SysfsDisk::Bus::Virtio) {
        std::string virtio = controller + "/" + disk.controller;
        // The virtio bus's own attributes (drivers/virtio/virtio.c): `device` is a file, the
        // virtio device id (2, a block device), not a link as for the other buses.
        tree.files[virtio + "/uevent"] = "DRIVER=virtio_blk\nMODALIAS=virtio:d00000002v00001AF4\n";
        tree.files[virtio + "/device"] = "0x0002\n";
        tree.files[virtio + "/vendor"] = "0x1af4\n";
        tree.files[virtio + "/modalias"] = "virtio:d00000002v00001AF4\n";
        describe_block(tree, disk, virtio + "/block/" + disk.name, virtio);
        tree.files[virtio + "/block/" + disk.name + "/serial"] = disk.serial + "\n";
        return;
    }
    std::string parent = controller;
    if (disk.bus == SysfsDisk::Bus::Ata) {
        describe_ata_port(tree, disk.pci, disk.ata_port);
        parent += "/ata" + std::to_string(disk.ata_port);
    } else if (disk.bus == SysfsDisk::Bus::Usb) {
        parent += "/usb1/1-1/1-1:1.0";
        tree.files[parent + "/uevent"] = "DEVTYPE=usb_interface\nDRIVER=usb-storage\nINTERFACE=8/6/80\n";
    }
    std::string host_name = "host" + std::to_string(disk.host);
    std::string host = parent + "/" + host_name;
    tree.files[host + "/uevent"] = "DEVTYPE=scsi_host\n";
    tree.files[host + "/scsi_host/" + host_name + "/proc_name"] = disk.driver + "\n";
    tree.links[host + "/scsi_host/" + host_name + "/device"] = host;
    tree.links["/sys/class/scsi_host/" + host_name] = host + "/scsi_host/" + host_name;
    std::string target = std::to_string(disk.host) + ":" + std::to_string(disk.channel) + ":" + std::to_string(disk.target);
    std::string hctl = target + ":" + std::to_string(disk.lun);
    std::string device = host + "/target" + target + "/" + hctl;
    // SCSI INQUIRY fields as the kernel shows them: vendor 8, model 16, revision 4 characters.
    auto padded = [](const std::string& text, std::size_t width) {
        return text.substr(0, width) + std::string(width - std::min(width, text.size()), ' ') + "\n";
    };
    tree.files[device + "/vendor"] = padded(disk.vendor, 8);
    tree.files[device + "/model"] = padded(disk.model, 16);
    tree.files[device + "/rev"] = padded(disk.firmware, 4);
    tree.files[device + "/type"] = std::to_string(disk.scsi_type) + "\n";
    if (!disk.serial.empty()) tree.files[device + "/vpd_pg80"] = vpd_serial_page(disk.serial);
    tree.directories.push_back(device + "/scsi_device/" + hctl);
    describe_block(tree, disk, device + "/block/" + disk.name, device);
}

// --- partition tables of today ---------------------------------------------------------

AlignedLayout& AlignedLayout::primary(std::uint8_t type, std::uint32_t mib) {
    write_partition_entry(disk_, 0, slot_++, type, next_, mib * kMiB);
    next_ += mib * kMiB;
    return *this;
}

AlignedLayout& AlignedLayout::extended(std::uint8_t type,
                                       const std::vector<std::pair<std::uint8_t, std::uint32_t>>& logicals) {
    std::uint32_t ext_start = next_, total = 0;
    for (const auto& l : logicals) total += (l.second + 1) * kMiB;
    write_partition_entry(disk_, 0, slot_++, type, ext_start, total);
    std::uint32_t ebr = ext_start;
    for (std::size_t i = 0; i < logicals.size(); ++i) {
        write_partition_entry(disk_, ebr, 0, logicals[i].first, kMiB, logicals[i].second * kMiB);
        std::uint32_t next = ebr + (logicals[i].second + 1) * kMiB;
        // The link: the next record relative to the extended partition, and the extent
        // from that record to the end of its partition.
        if (i + 1 < logicals.size())
            write_partition_entry(disk_, ebr, 1, 0x05, next - ext_start, (logicals[i + 1].second + 1) * kMiB);
        ebr = next;
    }
    next_ = ext_start + total;
    return *this;
}

namespace {

void put_le(std::uint8_t* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// "0FC63DAF-8483-4772-8E79-3D69D8477DE4" as stored: the first three fields little-endian.
void put_guid(std::uint8_t* out, const std::string& text) {
    std::uint8_t bytes[16] = {};
    int n = 0;
    for (std::size_t i = 0; i < text.size() && n < 32; ++i) {
        char c = text[i];
        if (c == '-') continue;
        int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        bytes[n / 2] = static_cast<std::uint8_t>(bytes[n / 2] << 4 | digit);
        ++n;
    }
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = bytes[order[i]];
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

GptLayout& GptLayout::add(const std::string& type, std::uint32_t mib, int index) {
    std::uint64_t per_mib = 1048576 / sector_;
    if (next_ == 0) next_ = per_mib;
    if (index < 0) index = next_index_;
    next_index_ = index + 1;
    entries_.push_back({type, next_, next_ + mib * per_mib - 1, index});
    next_ += mib * per_mib;
    return *this;
}

GptLayout& GptLayout::add_sectors(const std::string& type, std::uint64_t first, std::uint64_t last) {
    entries_.push_back({type, first, last, next_index_++});
    return *this;
}

void GptLayout::write() {
    constexpr std::uint32_t kEntries = 128, kEntrySize = 128;
    const std::uint64_t array_sectors = kEntries * kEntrySize / sector_;
    const std::uint64_t last = disk_.size() / sector_ - 1;
    // Protective MBR: one partition of type 0xEE over the whole disk.
    std::uint8_t mbr[512] = {};
    mbr[0x1BE + 4] = 0xEE;
    put_le(mbr + 0x1BE + 8, 1, 4);
    put_le(mbr + 0x1BE + 12, std::min<std::uint64_t>(last, 0xFFFFFFFFu), 4);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    disk_.write(0, mbr, sizeof mbr);

    std::vector<std::uint8_t> array(kEntries * kEntrySize, 0);
    for (const Entry& e : entries_) {
        std::uint8_t* out = &array[static_cast<std::size_t>(e.index) * kEntrySize];
        put_guid(out, e.type);
        for (int i = 0; i < 16; ++i) out[16 + i] = static_cast<std::uint8_t>(0x51 + e.index + i);  // unique GUID
        put_le(out + 32, e.first, 8);
        put_le(out + 40, e.last, 8);
    }
    std::uint32_t array_crc = crc32(array.data(), array.size());
    auto header = [&](std::uint64_t self, std::uint64_t other, std::uint64_t entries) {
        std::vector<std::uint8_t> h(sector_, 0);
        std::memcpy(h.data(), "EFI PART", 8);
        put_le(&h[8], 0x00010000, 4);
        put_le(&h[12], 92, 4);
        put_le(&h[24], self, 8);
        put_le(&h[32], other, 8);
        put_le(&h[40], 2 + array_sectors, 8);
        put_le(&h[48], last - array_sectors - 1, 8);
        for (int i = 0; i < 16; ++i) h[56 + i] = static_cast<std::uint8_t>(0xA0 + i);  // disk GUID
        put_le(&h[72], entries, 8);
        put_le(&h[80], kEntries, 4);
        put_le(&h[84], kEntrySize, 4);
        put_le(&h[88], array_crc, 4);
        put_le(&h[16], crc32(h.data(), 92), 4);
        disk_.write(self * sector_, h.data(), h.size());
        disk_.write(entries * sector_, array.data(), array.size());
    };
    header(1, last, 2);
    header(last, 1, last - array_sectors);
}

}  // namespace sim
