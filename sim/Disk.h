// IDE disks: their sectors (sparse in memory, or a capture file read on demand), the block
// device node with the identify request, the /proc/ide files, and partition tables made the
// classic cylinder-aligned way.
#ifndef QARVEL_SIM_DISK_H
#define QARVEL_SIM_DISK_H

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/Machine.h"
#include "sim/compact_image.h"
#include "storage/identify.h"

namespace sim {

struct AtaHealth;

constexpr std::size_t kSectorSize = 512;

class DiskImage {
public:
    virtual ~DiskImage() = default;
    virtual std::uint64_t size() const = 0;
    // Reads up to `count` bytes at `offset`: the number read (0 at the end), or -errno.
    virtual long read(std::uint64_t offset, void* buffer, std::size_t count) const = 0;
};

// A disk of any size that holds only the sectors written to it; the rest read as zeros.
class SparseDisk : public DiskImage {
public:
    explicit SparseDisk(std::uint64_t bytes) : size_(bytes) {}
    std::uint64_t size() const override { return size_; }
    long read(std::uint64_t offset, void* buffer, std::size_t count) const override;
    void write(std::uint64_t offset, const void* data, std::size_t count);
    std::size_t sectors_held() const { return sectors_.size(); }
    // Writes the image as a sparse file: only the sectors held take room on disk.
    bool save(const std::string& path, std::string& error) const;
    // Writes the image in the compact form (sim/compact_image.h): the sectors held and the size.
    bool save_compact(const std::string& path, std::string& error) const;

private:
    std::uint64_t size_;
    std::map<std::uint64_t, std::array<std::uint8_t, kSectorSize>> sectors_;
};

// A disk image file, read with pread when the library reads: nothing is loaded up front,
// so a sparse file of any size costs nothing. A compact image (sim/compact_image.h) is
// recognised by its header; any other file is the raw disk.
class FileDisk : public DiskImage {
public:
    static std::shared_ptr<FileDisk> open(const std::string& path, std::string& error);
    ~FileDisk() override;
    FileDisk(const FileDisk&) = delete;
    FileDisk& operator=(const FileDisk&) = delete;
    std::uint64_t size() const override { return size_; }
    long read(std::uint64_t offset, void* buffer, std::size_t count) const override;

private:
    FileDisk(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_;
    std::uint64_t size_;
    std::optional<CompactLayout> compact_;
};

// The strings of an ATA identify block (ATA8-ACS 7.16.7), each space filled.
struct AtaIdentity {
    std::string serial;    // words 10-19
    std::string firmware;  // words 23-26
    std::string model;     // words 27-46
};
// The identify block as the kernel hands it out: the strings in reading order (the old
// IDE driver and libata both swap the bytes of each word back). Empty strings stay zero.
std::array<std::uint8_t, kSectorSize> identify_block(const AtaIdentity& identity);
std::array<std::uint8_t, kSectorSize> identify_block(const std::string& serial);

// A block device (/dev/hdX, /dev/sdX...): the disk's bytes; the identify request is
// answered when the drive has identify data and fails with EINVAL otherwise.
// With `health`, it also answers the ATA commands of SG_IO and of the classic HDIO_DRIVE_CMD
// and HDIO_DRIVE_TASK (sim/DiskHealth.h); without, they fail as on a device that takes none.
class IdeDiskNode : public Node {
public:
    IdeDiskNode(std::shared_ptr<const DiskImage> image, std::optional<AtaIdentity> identity,
                std::shared_ptr<AtaHealth> health = nullptr)
        : image_(std::move(image)), identity_(std::move(identity)), health_(std::move(health)) {}
    long read(std::uint64_t offset, void* buffer, std::size_t count) override;
    long long size() const override;
    int ioctl(unsigned long request, void* argument) override;

private:
    std::shared_ptr<const DiskImage> image_;
    std::optional<AtaIdentity> identity_;
    std::shared_ptr<AtaHealth> health_;
};

// Serves `image` as /dev/<name>, answering identify with `identity` when given, and the
// health commands with `health`.
void add_block_device(Machine& machine, const std::string& name, std::shared_ptr<const DiskImage> image,
                      std::optional<AtaIdentity> identity, std::shared_ptr<AtaHealth> health = nullptr);

// Serves `image` as /dev/hd<letter>, answering the health commands with `health`.
void add_ide_disk(Machine& machine, char letter, std::shared_ptr<const DiskImage> image,
                  std::optional<std::string> serial, std::shared_ptr<AtaHealth> health = nullptr);
// The drive's directory /proc/ide/ide<N>/hd<letter>/ with its media, model and capacity
// (in sectors) files, each ending in a newline as the kernel writes them.
void add_ide_proc(Machine& machine, char letter, const std::string& media, const std::string& model,
                  std::uint64_t capacity_sectors);

// One partition table entry, written at slot 0-3 of the table in sector `table_sector`,
// with the boot signature of that sector. The CHS fields follow the 255 x 63 geometry.
void write_partition_entry(SparseDisk& disk, std::uint64_t table_sector, int slot, std::uint8_t type,
                           std::uint32_t start, std::uint32_t size);

// A partition table made the classic way, with 255 heads x 63 sectors per cylinder: the
// first partition starts at sector 63, every other one on a cylinder boundary; each extended
// boot record sits on the first sector of a cylinder, its logical partition starts 63
// sectors later and ends at a cylinder boundary. Sizes are given in cylinders.
class ClassicLayout {
public:
    static constexpr std::uint32_t kSectorsPerCylinder = 255 * 63;
    struct Logical {
        std::uint8_t type;
        std::uint32_t cylinders;
    };

    explicit ClassicLayout(SparseDisk& disk) : disk_(disk) {}
    ClassicLayout& primary(std::uint8_t type, std::uint32_t cylinders);
    ClassicLayout& empty_slot() {
        ++slot_;
        return *this;
    }
    // An extended partition holding `logicals` in order; its size is theirs.
    ClassicLayout& extended(std::uint8_t type, const std::vector<Logical>& logicals);

private:
    SparseDisk& disk_;
    int slot_ = 0;
    std::uint32_t next_cylinder_ = 0;
};

// --- disks of a current kernel: /sys/block and the device tree behind it ----------------

// Files and symbolic links of a piece of sysfs, by absolute path ("/sys/..."). Installed
// into a machine, or saved into a capture directory as real files and relative links.
struct SysfsTree {
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> links;  // path -> absolute target
    std::vector<std::string> directories;

    void install(Machine& machine) const;
    bool save(const std::string& capture_directory, std::string& error) const;
};

// A disk where a current kernel shows it: /sys/block/<name> linked into the device tree
// under its controller's PCI function, as the kernel lays it out.
struct SysfsDisk {
    enum class Bus { Ata, Scsi, Usb, Nvme, Virtio };
    Bus bus = Bus::Ata;
    std::string name;              // sda, nvme0n1, vda, sr0
    std::string pci;               // the controller: "0000:00:1f.2"
    std::uint32_t pci_class = 0;   // base, subclass, interface: 0x010601
    std::string driver;            // the host adapter's driver: "ahci", "ata_piix", "mpt3sas"
    int ata_port = 1;              // Ata: the kernel's port number N of ataN
    int host = 0, channel = 0, target = 0, lun = 0;  // the SCSI address (not Nvme, Virtio)
    int scsi_type = 0;             // SPC peripheral type: 0 disk, 5 CD/DVD
    std::string vendor, model, firmware, serial;
    std::string controller;        // Nvme: "nvme0"; Virtio: "virtio2"
    std::uint64_t sectors = 0;     // of 512 bytes
    unsigned logical_block_size = 512;
};
void describe_disk(SysfsTree& tree, const SysfsDisk& disk);
// An ATA port of a controller (with or without a disk on it).
void describe_ata_port(SysfsTree& tree, const std::string& pci, int port);

// A disk partitioned the way tools have done it since about 2009: partitions on 1 MiB
// boundaries, extended boot records linked by their second entries.
class AlignedLayout {
public:
    static constexpr std::uint32_t kMiB = 2048;  // sectors
    explicit AlignedLayout(SparseDisk& disk) : disk_(disk) {}
    // Sizes in MiB. A primary partition in the next slot.
    AlignedLayout& primary(std::uint8_t type, std::uint32_t mib);
    // An extended partition of `type` holding logical partitions of the given types and
    // sizes; each extended boot record sits 1 MiB before its partition.
    AlignedLayout& extended(std::uint8_t type, const std::vector<std::pair<std::uint8_t, std::uint32_t>>& logicals);

private:
    SparseDisk& disk_;
    int slot_ = 0;
    std::uint32_t next_ = kMiB;
};

// A GPT disk (UEFI 2.9 5.3): protective MBR, primary header and entries at LBA 1 and 2,
// their backup at the end of the disk. Partitions on 1 MiB boundaries.
class GptLayout {
public:
    explicit GptLayout(SparseDisk& disk, unsigned sector_size = 512) : disk_(disk), sector_(sector_size) {}
    // The type GUID as text ("0FC63DAF-8483-4772-8E79-3D69D8477DE4"), size in MiB, at
    // entry `index` (the next free one when negative).
    GptLayout& add(const std::string& type, std::uint32_t mib, int index = -1);
    // An entry with the given first and last sector, whatever they are, at the next index.
    GptLayout& add_sectors(const std::string& type, std::uint64_t first, std::uint64_t last);
    // Writes both tables; nothing is on the disk before.
    void write();

private:
    struct Entry {
        std::string type;
        std::uint64_t first, last;
        int index;
    };
    SparseDisk& disk_;
    unsigned sector_;
    std::uint64_t next_ = 0;
    int next_index_ = 0;
    std::vector<Entry> entries_;
};

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count);

}  // namespace sim

#endif
