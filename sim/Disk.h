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

namespace sim {

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

private:
    std::uint64_t size_;
    std::map<std::uint64_t, std::array<std::uint8_t, kSectorSize>> sectors_;
};

// A disk image file, read with pread when the library reads: nothing is loaded up front,
// so a sparse file of any size costs nothing.
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
};

// Linux <linux/hdreg.h> HDIO_GET_IDENTITY: the 512-byte identify block (struct hd_driveid).
constexpr unsigned long kHdioGetIdentity = 0x030D;
// The identify block of a drive: the serial number in words 10-19 (bytes 20-39), ASCII,
// space filled, as the kernel hands it out.
std::array<std::uint8_t, kSectorSize> identify_block(const std::string& serial);

// /dev/hdX: the disk's bytes; the identify request is answered when there is a serial
// number and fails with EINVAL otherwise.
class IdeDiskNode : public Node {
public:
    IdeDiskNode(std::shared_ptr<const DiskImage> image, std::optional<std::string> serial)
        : image_(std::move(image)), serial_(std::move(serial)) {}
    long read(std::uint64_t offset, void* buffer, std::size_t count) override;
    long long size() const override;
    int ioctl(unsigned long request, void* argument) override;

private:
    std::shared_ptr<const DiskImage> image_;
    std::optional<std::string> serial_;
};

// Serves `image` as /dev/hd<letter>.
void add_ide_disk(Machine& machine, char letter, std::shared_ptr<const DiskImage> image,
                  std::optional<std::string> serial);
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

}  // namespace sim

#endif
