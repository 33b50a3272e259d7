// Loading a machine from a capture directory (the format is described in sim/README.md).
#ifndef QARVEL_SIM_LOADER_H
#define QARVEL_SIM_LOADER_H

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Machine;

// What loading a capture directory found wrong. An error is a capture file that could not
// be read or parsed ("ipmi/bmc.conf:3: reason"): what it describes is left out, the rest of
// the machine is loaded. A warning is a file that is no capture file, skipped.
struct LoadProblems {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// Every part of the machine that can be loaded; null (with an error) only when the directory
// itself cannot be used.
std::unique_ptr<Machine> load_machine(const std::string& directory, LoadProblems& problems);
// Null with `error` set when the directory cannot be used or any capture file is rejected.
std::unique_ptr<Machine> load_machine(const std::string& directory, std::string& error);

// A capture file's bytes. An absent file gives nullopt with `error` empty; a file that exists
// but cannot be read gives nullopt with `error` naming the reason.
std::optional<std::string> read_capture_file(const std::string& path, std::string& error);
// The same for the file `name` of the capture directory `dir`: false with `error` set to
// "name: reason" when it exists and cannot be read.
bool read_capture_part(const std::filesystem::path& dir, const std::string& name, std::optional<std::string>& bytes,
                       std::string& error);

// A file under proc/ of a capture directory, by its path there ("stat@1.5"): the /proc file
// it serves ("/proc/stat") and from when on, in microseconds of simulated time (0 for a name
// without "@"). False when the time after the last "@" is no plain number of seconds.
bool proc_snapshot(const std::string& name, std::string& target, std::uint64_t& from);

// A piece of a capture file fit for a message: bytes outside printable ASCII (and the
// backslash) as \xNN, cut after `limit` characters with "..." added.
std::string escaped(const std::string& text, std::size_t limit = 40);

// Whole-file helpers shared by the loaders and the machine generators.
std::optional<std::string> read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);  // creates parent directories
inline bool write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
    return write_file(path, std::string(bytes.begin(), bytes.end()));
}

// One part of a generated machine and the function that writes its files into a directory.
struct MachinePart {
    const char* name;
    bool (*write)(const std::string& dir);
};
// The main of a machine generator, `PROGRAM DIR`: writes every part into DIR in order.
// 0, 1 when a part cannot be written, 2 for a wrong command line.
int generate_machine(int argc, char** argv, const char* program, std::initializer_list<MachinePart> parts);

}  // namespace sim

#endif
