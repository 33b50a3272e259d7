// Loading a machine from a capture directory (the format is described in sim/README.md).
#ifndef QARVEL_SIM_LOADER_H
#define QARVEL_SIM_LOADER_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Machine;

// Null with `error` set when the directory cannot be used.
std::unique_ptr<Machine> load_machine(const std::string& directory, std::string& error);

// Whole-file helpers shared by the loaders and the machine generators.
std::optional<std::string> read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);  // creates parent directories
inline bool write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
    return write_file(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace sim

#endif
