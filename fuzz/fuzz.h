// Shared by the fuzz targets: each target hands its bytes to one adapter function, the only
// place that knows which decoder entry point takes them, so that a decoder can be re-pointed
// without touching the rest. Decoders are driven in process, through the simulated platform
// or their byte entry points.
#ifndef QARVEL_FUZZ_FUZZ_H
#define QARVEL_FUZZ_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

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

}  // namespace fuzz

#endif
