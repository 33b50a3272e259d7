// MBR and EBR chains: the bytes are the disk's sectors, repeated all over the disk (sector
// n is sector n modulo their count), so that the extended boot records a table points to
// are found wherever it points; served as /dev/hda and walked by GetInfo(INFO_PARTITION).
#include <algorithm>
#include <vector>

#include "api/Qarvel.h"
#include "fuzz/fuzz.h"
#include "sim/Disk.h"

namespace {

// A disk of 1 TiB whose sectors repeat the given ones.
class RepeatingDisk : public sim::DiskImage {
public:
    explicit RepeatingDisk(std::vector<std::uint8_t> sectors) : sectors_(std::move(sectors)) {
        sectors_.resize((sectors_.size() + sim::kSectorSize - 1) / sim::kSectorSize * sim::kSectorSize, 0);
    }
    std::uint64_t size() const override { return 1ULL << 40; }
    long read(std::uint64_t offset, void* buffer, std::size_t count) const override {
        if (offset >= size() || sectors_.empty()) return 0;
        if (count > size() - offset) count = static_cast<std::size_t>(size() - offset);
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t at = static_cast<std::size_t>(offset % sectors_.size());
        for (std::size_t done = 0; done < count;) {
            const std::size_t piece = std::min(count - done, sectors_.size() - at);
            std::memcpy(out + done, sectors_.data() + at, piece);
            done += piece;
            at = 0;
        }
        return static_cast<long>(count);
    }

private:
    std::vector<std::uint8_t> sectors_;
};

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    auto machine = fuzz::FreshMachine();
    sim::add_ide_proc(*machine, 'a', "disk", "FUZZ DISK", (1ULL << 40) / sim::kSectorSize);
    sim::add_ide_disk(*machine, 'a', std::make_shared<RepeatingDisk>(std::vector<std::uint8_t>(data, data + size)),
                      std::string("FUZZ0001"));
    fuzz::Ask<PartitionInformation>(GetInfo, INFO_PARTITION);
}

