#include "sim/Disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

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

// --- image files -------------------------------------------------------------------------

std::shared_ptr<FileDisk> FileDisk::open(const std::string& path, std::string& error) {
    int fd = ::open64(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat64 st;
    if (fd < 0 || ::fstat64(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read the disk image " + path;
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<FileDisk>(new FileDisk(fd, static_cast<std::uint64_t>(st.st_size)));
}

FileDisk::~FileDisk() { ::close(fd_); }

long FileDisk::read(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (offset >= size_) return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    ssize_t n = ::pread64(fd_, buffer, count, static_cast<off64_t>(offset));
    return n < 0 ? -errno : static_cast<long>(n);
}

// --- the block device --------------------------------------------------------------------

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
    if (request != kHdioGetIdentity) return Node::ioctl(request, argument);
    if (!serial_) return -EINVAL;
    auto block = identify_block(*serial_);
    std::memcpy(argument, block.data(), block.size());
    return 0;
}

void add_ide_disk(Machine& machine, char letter, std::shared_ptr<const DiskImage> image,
                  std::optional<std::string> serial) {
    machine.add_device(std::string("/dev/hd") + letter, [image, serial] {
        return std::make_shared<IdeDiskNode>(image, serial);
    });
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

}  // namespace sim
