// Shared by the fuzz targets: each target hands its bytes to one adapter function, the only
// place that knows which decoder entry point takes them, so that a decoder can be re-pointed
// without touching the rest. Decoders are driven in process, through the simulated platform
// or their byte entry points.
#ifndef QARVEL_FUZZ_FUZZ_H
#define QARVEL_FUZZ_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "api/state.h"
#include "sim/Machine.h"

namespace fuzz {

// A new empty machine served by the simulated platform, and the library as just loaded.
inline std::shared_ptr<sim::Machine> FreshMachine() {
    auto machine = std::make_shared<sim::Machine>();
    sim::use(machine);
    qarvel::ResetProcessState(qarvel::Reset::Everything);
    return machine;
}

// A zeroed record of the given type, as the agent passes them, handed to an export.
template <typename Record, typename Export>
int Ask(Export exported, unsigned long command) {
    auto record = std::make_unique<Record>();
    std::memset(record.get(), 0, sizeof(Record));
    return exported(command, record.get());
}

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A directory of this process for capture files, emptied.
inline std::filesystem::path ScratchDirectory(const std::string& name) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("qarvel-fuzz-" + name + "-" + std::to_string(::getpid()));
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir;
}

// The adapter of each target: hands the bytes to the decoder.
void Decode(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Decode(data, size);
    return 0;
}

#endif
