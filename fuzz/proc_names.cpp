// The names of the files under proc/ of a capture directory ("stat", "stat@1.5": a snapshot
// from 1.5 s on), read by the loader.
#include <unistd.h>

#include <filesystem>

#include "fuzz/fuzz.h"
#include "sim/loader.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Directory() {
    static const fs::path dir = fs::temp_directory_path() / ("qarvel-fuzz-names-" + std::to_string(::getpid()));
    return dir;
}

void Decode(const std::uint8_t* data, std::size_t size) {
    const std::string name = fuzz::Text(data, size);
    // What a directory entry cannot be named.
    if (name.empty() || name.size() > 200 || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return;
    std::error_code ec;
    fs::remove_all(Directory(), ec);
    if (!sim::write_file((Directory() / "proc" / name).string(), "cpu0 1 2 3 4\n")) return;
    std::string error;
    sim::load_machine(Directory().string(), error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Decode(data, size);
    return 0;
}
