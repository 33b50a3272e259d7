#include "sim/DiskHealth.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

// The commands by their capture names, from the command and feature registers.
std::string CommandName(std::uint8_t command, std::uint8_t feature) {
    if (command == 0xE5) return "power-mode";
    if (command == 0xEC) return "ata-identify";
    if (command == 0xB0 && feature == 0xDA) return "smart-status";
    if (command == 0xB0 && feature == 0xD0) return "smart-data";
    if (command == 0xB0 && feature == 0xD1) return "smart-thresholds";
    return "other";
}

// What the disk does with one command, whichever ioctl carried it.
struct Outcome {
    enum Kind { Registers, Data, Refused, TimedOut } kind = Refused;
    std::uint8_t count = 0, mid = 0, high = 0;
    std::size_t bytes = 0;  // Data: how many of the page's bytes came back
};

Outcome Respond(AtaHealth& health, std::uint8_t command, std::uint8_t feature, std::uint8_t* data, std::size_t size) {
    const std::string name = CommandName(command, feature);
    health.sent.push_back(name);
    Outcome out;
    auto fault = health.faults.find(name);
    if (fault != health.faults.end() && fault->second != Fault::Short) {
        out.kind = fault->second == Fault::TimedOut ? Outcome::TimedOut : Outcome::Refused;
        return out;
    }
    if (name == "power-mode" && health.powerMode) {
        out = {Outcome::Registers, *health.powerMode, 0, 0, 0};
    } else if (name == "smart-status" && health.status) {
        out = {Outcome::Registers, 0, (*health.status)[0], (*health.status)[1], 0};
    } else {
        const std::optional<Page>* page = name == "ata-identify"       ? &health.identify
                                          : name == "smart-data"       ? &health.data
                                          : name == "smart-thresholds" ? &health.thresholds
                                                                       : nullptr;
        if (!page || !*page || !data) return out;
        out.kind = Outcome::Data;
        out.bytes = std::min<std::size_t>(size, 512);
        if (fault != health.faults.end()) out.bytes /= 2;
        std::memcpy(data, (*page)->data(), out.bytes);
    }
    // Anything but CHECK POWER MODE wakes a disk in standby: a real one spins up for the media
    // commands and may for IDENTIFY, so the model takes the worst case a poll must avoid.
    if (name != "power-mode" && health.powerMode) health.powerMode = 0xFF;
    return out;
}

// CHECK CONDITION with `sense` as the kernel hands it back.
template <std::size_t N>
void CheckCondition(sg_io_hdr_t& io, const std::uint8_t (&sense)[N]) {
    io.status = 0x02;
    io.masked_status = 0x01;
    io.driver_status = 0x08;
    io.info = SG_INFO_CHECK;
    io.sb_len_wr = static_cast<unsigned char>(std::min<std::size_t>(io.mx_sb_len, N));
    std::memcpy(io.sbp, sense, io.sb_len_wr);
}

// The sense data libata gives, byte for byte as the 6.1 kernel gave them to smartctl in the
// guest (tests/data/disks/qemu-6.1/smartctl/sda.x.strace): the ATA status return descriptor
// of a command with CK_COND, and the fixed-format ABORTED COMMAND of a refused one.
void ReturnRegisters(sg_io_hdr_t& io, std::uint8_t count, std::uint8_t mid, std::uint8_t high) {
    const std::uint8_t sense[22] = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x0E, 0x09, 0x0C, 0x00, 0x00,
                                    0x00, count, 0x00, 0x00, 0x00, mid, 0x00, high, 0xA0, 0x50};
    CheckCondition(io, sense);
}

void Refuse(sg_io_hdr_t& io) {
    const std::uint8_t sense[18] = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04,
                                    0x41, 0xA0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    CheckCondition(io, sense);
}

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool ReadPage(const std::filesystem::path& path, std::optional<Page>& page, bool& any, std::string& error) {
    auto bytes = ReadFile(path);
    if (!bytes) return true;
    if (bytes->size() != 512) {
        error = path.filename().string() + ": a page is 512 bytes";
        return false;
    }
    page.emplace();
    std::memcpy(page->data(), bytes->data(), 512);
    any = true;
    return true;
}

// Registers as text: hexadecimal bytes separated by blanks ("4f c2").
bool ReadRegisters(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::size_t want,
                   bool& found, std::string& error) {
    auto text = ReadFile(path);
    found = text.has_value();
    if (!text) return true;
    std::istringstream words(*text);
    std::string word;
    out.clear();
    while (words >> word) {
        char* end = nullptr;
        unsigned long value = std::strtoul(word.c_str(), &end, 16);
        if (*end || value > 0xFF || word.size() > 2) break;
        out.push_back(static_cast<std::uint8_t>(value));
    }
    if (out.size() != want || words >> word) {
        error = path.filename().string() + ": want " + std::to_string(want) + " hexadecimal bytes";
        return false;
    }
    return true;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) error = "cannot write " + path.string();
    return static_cast<bool>(out);
}

class NvmeControllerNode : public Node {
public:
    explicit NvmeControllerNode(std::shared_ptr<NvmeHealth> health) : health_(std::move(health)) {}
    long read(std::uint64_t, void*, std::size_t) override { return -EINVAL; }
    int ioctl(unsigned long request, void* argument) override {
        if (request != NVME_IOCTL_ADMIN_CMD) return Node::ioctl(request, argument);
        auto& cmd = *static_cast<nvme_admin_cmd*>(argument);
        ++health_->commands;
        // Get Log Page of the health log (02h) for the whole controller; anything else is
        // Invalid Field in Command (status 02h), as the NVMe status the ioctl returns.
        if (cmd.opcode != 0x02 || (cmd.cdw10 & 0xFF) != 0x02 || !health_->log) return 0x02;
        if (health_->fault == Fault::TimedOut) return -EINTR;  // the kernel's answer to an aborted wait
        if (health_->fault == Fault::Refused) return 0x02;
        std::size_t count = std::min<std::size_t>(cmd.data_len, health_->log->size());
        if (health_->fault == Fault::Short) count /= 2;
        std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(cmd.addr)), health_->log->data(), count);
        if (count < cmd.data_len)
            std::memset(reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(cmd.addr)) + count, 0,
                        cmd.data_len - count);
        cmd.result = 0;
        return 0;
    }

private:
    std::shared_ptr<NvmeHealth> health_;
};

}  // namespace

int answer_sg_io(AtaHealth& health, void* argument) {
    auto& io = *static_cast<sg_io_hdr_t*>(argument);
    if (io.interface_id != 'S' || !io.cmdp) return -ENOSYS;
    const std::uint8_t* cdb = io.cmdp;
    io.status = io.masked_status = io.msg_status = 0;
    io.host_status = io.driver_status = 0;
    io.sb_len_wr = 0;
    io.resid = 0;
    io.info = 0;
    if (io.cmd_len != 16 || cdb[0] != 0x85) {  // only ATA PASS-THROUGH (16) is modelled
        Refuse(io);
        return 0;
    }
    const bool in = io.dxfer_direction == SG_DXFER_FROM_DEV && io.dxferp;
    const Outcome out = Respond(health, cdb[14], cdb[4], in ? static_cast<std::uint8_t*>(io.dxferp) : nullptr,
                                in ? io.dxfer_len : 0);
    switch (out.kind) {
        case Outcome::Registers: ReturnRegisters(io, out.count, out.mid, out.high); break;
        case Outcome::Data: io.resid = static_cast<int>(io.dxfer_len - out.bytes); break;
        case Outcome::Refused: Refuse(io); break;
        case Outcome::TimedOut:
            io.host_status = 0x03;  // DID_TIME_OUT
            io.info = SG_INFO_CHECK;
            break;
    }
    return 0;
}

int answer_drive_ioctl(AtaHealth& health, unsigned long request, void* argument) {
    auto* args = static_cast<std::uint8_t*>(argument);
    if (request == kDriveTask) {
        // args: command, feature, count, LBA low, mid, high, device; the registers come back
        // in the same places, the status in place of the command.
        const Outcome out = Respond(health, args[0], args[1], nullptr, 0);
        if (out.kind != Outcome::Registers) return -EIO;
        args[0] = 0x50;
        args[2] = out.count;
        args[4] = out.mid;
        args[5] = out.high;
        return 0;
    }
    // HDIO_DRIVE_CMD: command, sector number (SMART) or count, feature, sectors to read; the
    // status, error and count come back in the first three, the sectors after the four.
    const std::size_t sectors = args[3];
    const Outcome out = Respond(health, args[0], args[2], sectors ? args + 4 : nullptr, sectors * 512);
    if (out.kind == Outcome::Refused || out.kind == Outcome::TimedOut) return -EIO;
    if (out.kind == Outcome::Data && out.bytes < sectors * 512) return -EIO;
    args[0] = 0x50;
    args[1] = 0;
    args[2] = out.count;
    return 0;
}

void add_nvme_controller(Machine& machine, const std::string& controller, std::shared_ptr<NvmeHealth> health) {
    machine.add_device("/dev/" + controller, [health] { return std::make_shared<NvmeControllerNode>(health); });
}

bool load_ata_health(const std::filesystem::path& dev, const std::string& name, std::shared_ptr<AtaHealth>& health,
                     std::string& error) {
    auto h = std::make_shared<AtaHealth>();
    bool any = false, found = false;
    std::vector<std::uint8_t> registers;
    if (!ReadRegisters(dev / (name + ".power-mode"), registers, 1, found, error)) return false;
    if (found) h->powerMode = registers[0], any = true;
    if (!ReadRegisters(dev / (name + ".smart-status"), registers, 2, found, error)) return false;
    if (found) h->status = std::array<std::uint8_t, 2>{registers[0], registers[1]}, any = true;
    if (!ReadPage(dev / (name + ".ata-identify"), h->identify, any, error) ||
        !ReadPage(dev / (name + ".smart-data"), h->data, any, error) ||
        !ReadPage(dev / (name + ".smart-thresholds"), h->thresholds, any, error))
        return false;
    health = any ? h : nullptr;
    return true;
}

bool load_nvme_health(const std::filesystem::path& dir, Machine& machine, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir / "dev", ec)) return true;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "dev", ec)) {
        if (entry.path().extension() != ".nvme-health") continue;
        auto health = std::make_shared<NvmeHealth>();
        bool any = false;
        if (!ReadPage(entry.path(), health->log, any, error)) return false;
        add_nvme_controller(machine, entry.path().stem().string(), health);
    }
    if (ec) error = "dev/: " + ec.message();
    return !ec;
}

bool save_ata_health(const std::filesystem::path& dev, const std::string& name, const AtaHealth& health,
                     std::string& error) {
    char text[16];
    if (health.powerMode) {
        std::snprintf(text, sizeof text, "%02x\n", *health.powerMode);
        if (!WriteFile(dev / (name + ".power-mode"), text, error)) return false;
    }
    if (health.status) {
        std::snprintf(text, sizeof text, "%02x %02x\n", (*health.status)[0], (*health.status)[1]);
        if (!WriteFile(dev / (name + ".smart-status"), text, error)) return false;
    }
    const std::pair<const char*, const std::optional<Page>*> pages[] = {
        {".ata-identify", &health.identify}, {".smart-data", &health.data}, {".smart-thresholds", &health.thresholds}};
    for (const auto& [suffix, page] : pages)
        if (*page && !WriteFile(dev / (name + suffix), std::string((*page)->begin(), (*page)->end()), error))
            return false;
    return true;
}

}  // namespace sim
