// PCI configuration headers: the bytes cut into configuration spaces of 256 bytes (the last
// one zero-filled to 64 at least), as devices 0, 1, ... of bus 0, scanned and described by
// GetInfo(INFO_PCI_DEVICE).
#include <vector>

#include "api/Qarvel.h"
#include "fuzz/fuzz.h"

namespace {

constexpr std::size_t kSpace = 256, kShortest = 64;
constexpr int kMostDevices = 8;

}  // namespace

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    auto machine = fuzz::FreshMachine();
    for (int device = 0; device < kMostDevices && static_cast<std::size_t>(device) * kSpace < size; ++device) {
        const std::size_t at = static_cast<std::size_t>(device) * kSpace;
        const std::size_t length = size - at < kSpace ? size - at : kSpace;
        std::vector<std::uint8_t> space(data + at, data + at + length);
        if (space.size() < kShortest) space.resize(kShortest, 0);
        machine->pci.add(0, device, 0, sim::ConfigSpace(std::move(space)));
    }
    fuzz::Ask<DeviceInformation>(GetInfo, INFO_PCI_DEVICE);
}

