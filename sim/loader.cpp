#include "sim/loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "sim/Disk.h"
#include "sim/DiskHealth.h"
#include "sim/Bmc.h"
#include "sim/Machine.h"
#include "sim/Pci.h"
#include "sim/Smbios.h"

namespace fs = std::filesystem;

namespace sim {

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::optional<std::string> read_capture_file(const std::string& path, std::string& error) {
    error.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) error = std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        error = "a directory where a file belongs";
    } else {
        char chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) error = std::strerror(errno);
            if (n <= 0) break;
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!error.empty()) return std::nullopt;
    return bytes;
}

bool read_capture_part(const fs::path& dir, const std::string& name, std::optional<std::string>& bytes,
                       std::string& error) {
    std::string why;
    bytes = read_capture_file((dir / name).string(), why);
    if (why.empty()) return true;
    error = name + ": " + why;
    return false;
}

std::string escaped(const std::string& text, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == limit) return out + "...";
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

int generate_machine(int argc, char** argv, const char* program, std::initializer_list<MachinePart> parts) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", program);
        return 2;
    }
    const std::string dir = argv[1];
    for (const MachinePart& part : parts) {
        if (!part.write(dir)) {
            std::fprintf(stderr, "%s: cannot write the %s into %s\n", program, part.name, dir.c_str());
            return 1;
        }
    }
    return 0;
}

namespace {

// A directory of the capture: false when it is absent; an error when it is there but no
// directory.
bool capture_directory(const fs::path& dir, const std::string& name, LoadProblems& problems) {
    struct stat st;
    if (::stat((dir / name).c_str(), &st) != 0) {
        if (errno != ENOENT) problems.errors.push_back(name + "/: " + std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        problems.errors.push_back(name + ": a file where a directory belongs");
        return false;
    }
    return true;
}

bool load_smbios(const fs::path& dir, Machine& machine, std::string& error) {
    std::optional<std::string> dump;
    if (!read_capture_part(dir, "smbios.bin", dump, error)) return false;
    if (!dump) return true;  // a machine without SMBIOS
    std::vector<std::uint8_t> bytes(dump->begin(), dump->end());
    if (!place_dump(machine, bytes, error)) {
        error = "smbios.bin: " + error;
        return false;
    }
    return true;
}

// "T" of a snapshot name: seconds as a plain decimal number (no sign, exponent, infinity),
// in microseconds, counted without floating point.
bool snapshot_time(const std::string& text, std::uint64_t& microseconds) {
    std::size_t dot = text.find('.');
    std::string whole = text.substr(0, dot), fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    auto digits = [](const std::string& t) {
        return t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (whole.empty() || !digits(whole) || !digits(fraction) || (dot != std::string::npos && fraction.empty()))
        return false;
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    if (whole.size() > 9) return false;  // past 31 years of simulated time
    fraction = (fraction + "000000").substr(0, 6);
    microseconds = std::stoull(whole) * 1000000u + std::stoull(fraction);
    return true;
}

}  // namespace

bool proc_snapshot(const std::string& name, std::string& target, std::uint64_t& from) {
    target = "/proc/" + name;
    from = 0;
    const auto at = target.rfind('@');
    if (at == std::string::npos || target.find('/', at) != std::string::npos) return true;
    if (!snapshot_time(target.substr(at + 1), from)) return false;
    target.resize(at);
    return true;
}

namespace {

// Every file under proc/ is served under /proc. A name ending in "@T" is a snapshot of the
// file that the machine shows from T seconds of simulated time on.
void load_proc_tree(const fs::path& root, const std::string& relative, Machine& machine, LoadProblems& problems) {
    std::error_code ec;
    fs::directory_iterator it(root / relative, ec);
    if (ec) {
        problems.errors.push_back("proc/" + relative + ": " + ec.message());
        return;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = relative + it->path().filename().string();
        std::string target = "/proc/" + name;
        std::error_code type_error;
        if (it->is_directory(type_error)) {
            machine.files.add_directory(target);
            load_proc_tree(root, name + "/", machine, problems);
            continue;
        }
        std::uint64_t from = 0;
        if (!proc_snapshot(name, target, from)) {
            problems.errors.push_back("proc/" + escaped(name) +
                                      ": the time after @ is not a number of seconds such as 1 or 0.5");
            continue;
        }
        std::string why;
        auto content = read_capture_file(it->path().string(), why);
        if (!content) {
            problems.errors.push_back("proc/" + escaped(name) + ": " + (why.empty() ? "vanished" : why));
            continue;
        }
        machine.files.add_snapshot(target, from, *content);
    }
    if (ec) problems.errors.push_back("proc/" + relative + ": " + ec.message());
}

void load_proc(const fs::path& dir, Machine& machine, LoadProblems& problems) {
    if (capture_directory(dir, "proc", problems)) load_proc_tree(dir / "proc", "", machine, problems);
}

// pci/BB:DD.F: one function's configuration space, as /sys/bus/pci/devices/*/config gives
// it (64 bytes unprivileged, 256 or 4096 as root).
void load_pci(const fs::path& dir, Machine& machine, LoadProblems& problems) {
    if (!capture_directory(dir, "pci", problems)) return;
    std::error_code ec;
    for (fs::directory_iterator it(dir / "pci", ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        int bus = 0, device = 0, function = 0;
        if (!parse_pci_name(name, bus, device, function)) {
            problems.warnings.push_back("pci/" + escaped(name) + ": skipped, not a BB:DD.F name of a function");
            continue;
        }
        std::string why;
        auto config = read_capture_file(it->path().string(), why);
        if (!config) {
            problems.errors.push_back("pci/" + name + ": " + (why.empty() ? "vanished" : why));
        } else if (config->size() < 64 || config->size() > 4096) {
            problems.errors.push_back("pci/" + name + ": " + std::to_string(config->size()) +
                                      " bytes; a configuration space is 64 to 4096 bytes");
        } else {
            machine.pci.add(bus, device, function,
                            ConfigSpace(std::vector<std::uint8_t>(config->begin(), config->end())));
        }
    }
    if (ec) problems.errors.push_back("pci/: " + ec.message());
}

// dev/hdX.img and dev/hdX.serial: the disk served as /dev/hdX (read lazily, so a sparse
// image of any size is fine) and the serial number of its identify data.
bool load_disks(const fs::path& dir, Machine& machine, std::string& error) {
    // The drives named in dev/, found in one listing rather than by looking up 52 names.
    std::set<char> letters;
    std::error_code ec;
    for (fs::directory_iterator it(dir / "dev", ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 3 && name.compare(0, 2, "hd") == 0 && name[2] >= 'a' && name[2] <= 'z' &&
            (name.substr(3) == ".img" || name.substr(3) == ".serial"))
            letters.insert(name[2]);
    }
    for (char letter : letters) {
        std::string base = (dir / "dev" / (std::string("hd") + letter)).string();
        bool has_image = fs::exists(base + ".img", ec);
        std::optional<std::string> serial;
        if (!read_capture_part(dir, std::string("dev/hd") + letter + ".serial", serial, error)) return false;
        if (!has_image && !serial) continue;
        std::shared_ptr<const DiskImage> image = std::make_shared<SparseDisk>(0);
        if (has_image) {
            auto file = FileDisk::open(base + ".img", error);
            if (!file) return false;
            image = file;
        }
        if (serial) {
            while (!serial->empty() && (serial->back() == '\n' || serial->back() == '\r')) serial->pop_back();
        }
        std::shared_ptr<AtaHealth> health;
        if (!load_ata_health(dir / "dev", std::string("hd") + letter, health, error)) return false;
        add_ide_disk(machine, letter, image, serial, health);
    }
    return true;
}

// sys/...: files of the kernel's sysfs (/sys/block and the device tree behind it), served
// under /sys with their symbolic links kept; a link names its target as sysfs does,
// relative to its own directory.
bool load_sys(const fs::path& dir, Machine& machine, std::string& error) {
    fs::path root = dir / "sys";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return true;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string target = "/sys/" + it->path().lexically_relative(root).generic_string();
        if (it->is_symlink(ec)) {
            machine.files.add_link(target, fs::read_symlink(it->path(), ec).generic_string());
        } else if (it->is_directory(ec)) {
            machine.files.add_directory(target);
        } else if (auto content = read_file(it->path().string())) {
            machine.files.add(target, *content);
        } else {
            error = "cannot read " + it->path().string();
            return false;
        }
    }
    if (ec) error = "sys/: " + ec.message();
    return !ec;
}

// dev/NAME.img for the disks of a current kernel (sda, nvme0n1, vda...), served as
// /dev/NAME, with dev/NAME.identify: the 512-byte identify block of an ATA disk, as
// HDIO_GET_IDENTITY returns it, when the disk answers it.
bool load_block_devices(const fs::path& dir, Machine& machine, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(dir / "dev", ec)) return true;
    for (const auto& entry : fs::directory_iterator(dir / "dev", ec)) {
        if (entry.path().extension() != ".img") continue;
        std::string name = entry.path().stem().string();
        if (name.size() == 3 && name.compare(0, 2, "hd") == 0) continue;  // the classic drives
        auto image = FileDisk::open(entry.path().string(), error);
        if (!image) return false;
        std::optional<AtaIdentity> identity;
        if (auto block = read_file((dir / "dev" / (name + ".identify")).string())) {
            if (block->size() != kSectorSize) {
                error = "dev/" + name + ".identify: an identify block is 512 bytes";
                return false;
            }
            auto field = [&block](std::size_t offset, std::size_t length) { return block->substr(offset, length); };
            identity = AtaIdentity{field(20, 20), field(46, 8), field(54, 40)};
        }
        std::shared_ptr<AtaHealth> health;
        if (!load_ata_health(dir / "dev", name, health, error)) return false;
        add_block_device(machine, name, image, identity, health);
    }
    if (ec) error = "dev/: " + ec.message();
    return !ec && load_nvme_health(dir, machine, error);
}

// kernel: the kernel the captured machine ran, as blank-separated words: "classic" or
// "current" (the interfaces it offers; classic when the file is absent), "lockdown", and
// "ram-end ADDRESS" (reads of /dev/mem from ADDRESS on fail).
bool load_kernel(const fs::path& dir, Machine& machine, std::string& error) {
    std::optional<std::string> text;
    if (!read_capture_part(dir, "kernel", text, error)) return false;
    if (!text) return true;
    std::istringstream words(*text);
    std::string word;
    while (words >> word) {
        if (word == "classic") {
            machine.kernel = Kernel::Classic;
        } else if (word == "current") {
            machine.kernel = Kernel::Current;
        } else if (word == "lockdown") {
            machine.lockdown = true;
        } else if (word == "ram-end") {
            std::string value;
            char* end = nullptr;
            unsigned long long address = 0;
            if (words >> value) address = std::strtoull(value.c_str(), &end, 0);
            if (value.empty() || value[0] == '-' || !end || *end != '\0') {
                error = "kernel: ram-end needs an address";
                return false;
            }
            machine.memory.limit = address;
        } else {
            error = "kernel: unknown word \"" + escaped(word) + "\"";
            return false;
        }
    }
    return true;
}

bool load_programs(const fs::path& dir, Machine& machine, std::string& error) {
    std::optional<std::string> free_output;
    if (!read_capture_part(dir, "free.txt", free_output, error)) return false;
    if (free_output) machine.programs["free"] = *free_output;
    return true;
}

}  // namespace

std::unique_ptr<Machine> load_machine(const std::string& directory, LoadProblems& problems) {
    struct stat st;
    if (directory.empty()) {
        problems.errors.push_back("no machine directory named");
        return nullptr;
    }
    if (::stat(directory.c_str(), &st) != 0) {
        problems.errors.push_back(directory + ": " + std::strerror(errno));
        return nullptr;
    }
    if (!S_ISDIR(st.st_mode)) {
        problems.errors.push_back(directory + ": not a directory");
        return nullptr;
    }
    std::error_code ec;
    fs::directory_iterator listing(directory, ec);
    if (ec) {
        problems.errors.push_back(directory + ": " + ec.message() + " (cannot list the machine directory)");
        return nullptr;
    }
    auto machine = std::make_unique<Machine>();
    fs::path dir(directory);
    // Each loader reads its own files and loads what it can of them; false when it refused
    // something, each problem on a line of its error. Its failure leaves the others alone.
    for (auto loader : {load_kernel, load_smbios, load_disks, load_ipmi, load_programs, load_sys,
                         load_block_devices}) {
        std::string error;
        if (loader(dir, *machine, error)) continue;
        std::istringstream lines(error);
        for (std::string line; std::getline(lines, line);) problems.errors.push_back(line);
    }
    load_proc(dir, *machine, problems);
    load_pci(dir, *machine, problems);
    return machine;
}

std::unique_ptr<Machine> load_machine(const std::string& directory, std::string& error) {
    LoadProblems problems;
    auto machine = load_machine(directory, problems);
    if (problems.errors.empty()) return machine;
    error = problems.errors.front();
    return nullptr;
}

}  // namespace sim
