#include "sim/loader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/Disk.h"
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

namespace {

bool load_smbios(const fs::path& dir, Machine& machine, std::string& error) {
    auto dump = read_file((dir / "smbios.bin").string());
    if (!dump) return true;  // a machine without SMBIOS
    std::vector<std::uint8_t> bytes(dump->begin(), dump->end());
    if (!place_dump(machine, bytes, error)) {
        error = "smbios.bin: " + error;
        return false;
    }
    return true;
}

// Every file under proc/ is served under /proc. A name ending in "@T" is a snapshot of the
// file that the machine shows from T seconds of simulated time on.
bool load_proc(const fs::path& dir, Machine& machine, std::string& error) {
    fs::path root = dir / "proc";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return true;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string target = "/proc/" + fs::relative(it->path(), root).generic_string();
        if (it->is_directory()) {
            machine.files.add_directory(target);
            continue;
        }
        std::uint64_t from = 0;
        auto at = target.rfind('@');
        if (at != std::string::npos && target.find('/', at) == std::string::npos) {
            char* end = nullptr;
            double seconds = std::strtod(target.c_str() + at + 1, &end);
            if (end == target.c_str() + at + 1 || *end != '\0' || seconds < 0) {
                error = "bad snapshot time in " + it->path().string();
                return false;
            }
            from = static_cast<std::uint64_t>(seconds * 1e6 + 0.5);
            target.resize(at);
        }
        auto content = read_file(it->path().string());
        if (!content) {
            error = "cannot read " + it->path().string();
            return false;
        }
        machine.files.add_snapshot(target, from, *content);
    }
    return true;
}

// pci/BB:DD.F: one function's configuration space, as /sys/bus/pci/devices/*/config gives
// it (64 bytes unprivileged, 256 or 4096 as root).
bool load_pci(const fs::path& dir, Machine& machine, std::string& error) {
    fs::path root = dir / "pci";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return true;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        std::string name = entry.path().filename().string();
        int bus = 0, device = 0, function = 0;
        if (!parse_pci_name(name, bus, device, function)) {
            error = "pci/" + name + ": not a BB:DD.F name";
            return false;
        }
        auto config = read_file(entry.path().string());
        if (!config || config->size() < 64 || config->size() > 4096) {
            error = "pci/" + name + ": a configuration space is 64 to 4096 bytes";
            return false;
        }
        machine.pci.add(bus, device, function, ConfigSpace(std::vector<std::uint8_t>(config->begin(), config->end())));
    }
    if (ec) error = "pci/: " + ec.message();
    return !ec;
}

// dev/hdX.img and dev/hdX.serial: the disk served as /dev/hdX (read lazily, so a sparse
// image of any size is fine) and the serial number of its identify data.
bool load_disks(const fs::path& dir, Machine& machine, std::string& error) {
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        std::string base = (dir / "dev" / (std::string("hd") + letter)).string();
        std::error_code ec;
        bool has_image = fs::exists(base + ".img", ec);
        auto serial = read_file(base + ".serial");
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
        add_ide_disk(machine, letter, image, serial);
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
        add_block_device(machine, name, image, identity);
    }
    if (ec) error = "dev/: " + ec.message();
    return !ec;
}

// kernel: the kernel the captured machine ran, as blank-separated words: "classic" or
// "current" (the interfaces it offers; classic when the file is absent), "lockdown", and
// "ram-end ADDRESS" (reads of /dev/mem from ADDRESS on fail).
bool load_kernel(const fs::path& dir, Machine& machine, std::string& error) {
    auto text = read_file((dir / "kernel").string());
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
            error = "kernel: unknown word \"" + word.substr(0, 40) + "\"";
            return false;
        }
    }
    return true;
}

bool load_programs(const fs::path& dir, Machine& machine, std::string&) {
    if (auto free_output = read_file((dir / "free.txt").string())) machine.programs["free"] = *free_output;
    return true;
}

}  // namespace

std::unique_ptr<Machine> load_machine(const std::string& directory, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(directory, ec)) {
        error = "no machine directory " + directory;
        return nullptr;
    }
    auto machine = std::make_unique<Machine>();
    fs::path dir(directory);
    for (auto loader : {load_kernel, load_smbios, load_proc, load_pci, load_disks, load_ipmi, load_programs,
                        load_sys, load_block_devices})
        if (!loader(dir, *machine, error)) return nullptr;
    return machine;
}

}  // namespace sim
