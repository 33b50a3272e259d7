// The names of the files under proc/ of a capture directory ("stat", "stat@1.5": a snapshot
// from 1.5 s on), read by the loader.
#include <filesystem>

#include "fuzz/fuzz.h"
#include "sim/loader.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    const std::string name = fuzz::Text(data, size);
    // What a directory entry cannot be named.
    if (name.empty() || name.size() > 200 || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return;
    const std::filesystem::path dir = fuzz::ScratchDirectory("names");
    if (!sim::write_file((dir / "proc" / name).string(), "cpu0 1 2 3 4\n")) return;
    std::string error;
    sim::load_machine(dir.string(), error);
}

