// qarvel-capture: writes a capture directory (sim/README.md) of the machine it runs on,
// through the library's own core and the platform it is linked with. Each subsystem is one
// function that asks the core for its bytes and writes them; what it cannot read goes into
// the MANIFEST with the reason, and the other subsystems go on.
#ifndef QARVEL_CAPTURE_CAPTURE_H
#define QARVEL_CAPTURE_CAPTURE_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace capture {

// The capture directory. The capture runs as root, so nobody else may have a hand in the
// tree it writes: the directory is made here, mode 0700, and one that exists already is
// refused (whoever owns it could swap a part for a link while root writes). Every directory
// and file below it is made relative to a descriptor of a directory this capture made
// (mkdirat, openat with O_NOFOLLOW and O_EXCL), so a link planted on the way is never
// followed: the write fails and the part is listed as missing. Names are relative and hold
// no "..".
class Output {
public:
    explicit Output(std::string root);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // False with `error` set when the directory could not be made; every write fails then.
    bool ready(std::string& error) const;
    // Writes a new file; false with `error` set when it cannot.
    bool write(const std::string& name, const std::string& bytes, std::string& error);
    bool write(const std::string& name, const std::vector<std::uint8_t>& bytes, std::string& error) {
        return write(name, std::string(bytes.begin(), bytes.end()), error);
    }
    // A sparse file of `size` bytes holding `pieces` (offset, bytes) and holes elsewhere.
    bool write_sparse(const std::string& name, std::uint64_t size,
                      const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& pieces,
                      std::string& error);
    // An (empty) directory.
    bool write_directory(const std::string& name, std::string& error);
    // A symbolic link named `name` holding `target` as written (sysfs links are relative).
    bool write_link(const std::string& name, const std::string& target, std::string& error);
    const std::string& root() const { return root_; }

private:
    // A descriptor of the directory made of the first `depth` parts of `parts`, making the
    // missing ones; -1 with `error` set when one is not a directory this capture made.
    int directory(const std::vector<std::string>& parts, std::size_t depth, std::string& error);
    // A new file `name` opened for writing, or -1 with `error` set.
    int create(const std::string& name, std::string& error);
    std::string root_, failure_;
    int root_fd_ = -1;
    // Every directory made (device, inode): only those are entered again.
    std::set<std::pair<std::uint64_t, std::uint64_t>> made_;
};

// What the MANIFEST says: which source answered for each subsystem, and every part that
// could not be read, with the reason.
class Manifest {
public:
    void source(const std::string& subsystem, const std::string& method) { sources_.push_back({subsystem, method}); }
    void missing(const std::string& part, const std::string& reason) { missing_.push_back({part, reason}); }
    const std::vector<std::pair<std::string, std::string>>& missing() const { return missing_; }
    std::string text(const std::string& version, const std::string& time) const;

private:
    std::vector<std::pair<std::string, std::string>> sources_, missing_;
};

struct Capture {
    Output& out;
    Manifest& manifest;
    // Writes a file or records why it could not be.
    void write(const std::string& name, const std::string& bytes);
    void write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        write(name, std::string(bytes.begin(), bytes.end()));
    }
};

// One function per subsystem (and the processor times first, so that the snapshots start at
// the beginning of the capture).
void capture_load(Capture& c);    // proc/stat, proc/stat@1 (and @2), free.txt
void capture_kernel(Capture& c);  // kernel
void capture_smbios(Capture& c);  // smbios.bin
void capture_pci(Capture& c);     // pci/BB:DD.F
void capture_disks(Capture& c);   // proc/ide/..., dev/hdX.img, dev/hdX.serial
void capture_ipmi(Capture& c);    // ipmi/sdr.bin, ipmi/fru0.bin, ipmi/bmc.conf
void capture_health(Capture& c);  // sys/class/hwmon/..., sys/devices/system/edac/mc/...
// dev/NAME.power-mode, .ata-identify, .smart-status, .smart-data, .smart-thresholds,
// dev/nvmeN.nvme-health; called by capture_disks after the disks.
void capture_disk_health(Capture& c);
// ipmi/sel.bin, and the lines of bmc.conf that describe the log ("" when the BMC has none).
std::string capture_sel(Capture& c);

// A file read whole through the platform; false with `error` set.
bool read_platform_file(const std::string& path, std::string& bytes, std::string& error);

}  // namespace capture

#endif
