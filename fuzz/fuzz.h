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

#include "process/state.h"
#include "sim/Machine.h"

namespace fuzz {

// A new empty machine served by the simulated platform, and the library as just loaded;
// both are put away again when the run ends. Keeping nothing from one input to the next
// matters twice over: a later input cannot see an earlier one, and libFuzzer, which re-runs
// under the leak checker every input after which more blocks are held than before, has
// nothing to re-run. The machine keeps no access log: no fuzz target reads one.
class FreshMachine {
public:
    FreshMachine() : machine_(std::make_shared<sim::Machine>()) {
        machine_->log_limit = 0;
        sim::use(machine_);
        qarvel::ResetProcessState(qarvel::Reset::Everything);
    }
    ~FreshMachine() {
        qarvel::ResetProcessState(qarvel::Reset::Everything);
        sim::use(nullptr);
    }
    FreshMachine(const FreshMachine&) = delete;
    FreshMachine& operator=(const FreshMachine&) = delete;
    sim::Machine& operator*() const { return *machine_; }
    sim::Machine* operator->() const { return machine_.get(); }

private:
    std::shared_ptr<sim::Machine> machine_;
};

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

// A directory of this process for capture files, emptied; in memory (/dev/shm) where there
// is one, since writing and removing files on a disk would take most of each run.
inline std::filesystem::path ScratchDirectory(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
            ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
    const std::filesystem::path dir = base / ("qarvel-fuzz-" + name + "-" + std::to_string(::getpid()));
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
