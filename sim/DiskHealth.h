// What simulated disks answer to the health commands: ATA commands through SG_IO (SCSI ATA
// PASS-THROUGH (16), answered as libata answers them) and the NVMe health log through the
// controller's admin ioctl. The answers' bytes come from capture files (dev/NAME.smart-data
// ...), taken on a real machine or from QEMU's disks in the system test's guest.
#ifndef QARVEL_SIM_DISK_HEALTH_H
#define QARVEL_SIM_DISK_HEALTH_H

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/Machine.h"

namespace sim {

using Page = std::array<std::uint8_t, 512>;

// How a command goes wrong, for the tests: refused by the disk (ATA ABORTED), no answer
// within the wait (the host times out), or fewer bytes than asked for.
enum class Fault { Refused, TimedOut, Short };

// An ATA disk's answers. A command whose answer is missing is refused, as a disk refuses a
// command it does not implement.
struct AtaHealth {
    std::optional<std::uint8_t> powerMode;   // CHECK POWER MODE's count: FFh active, 00h standby
    std::optional<Page> identify;            // IDENTIFY DEVICE, words little-endian as the disk sends them
    std::optional<std::array<std::uint8_t, 2>> status;  // SMART RETURN STATUS: LBA mid, LBA high
    std::optional<Page> data, thresholds;    // SMART READ DATA, READ THRESHOLDS
    // Faults by the capture name of the command ("smart-data"...).
    std::map<std::string, Fault> faults;
    // Every command received, by its capture name ("power-mode", "smart-data"...; "other"),
    // so that a test can tell what was sent.
    std::vector<std::string> sent;
};

// The answer to SG_IO (`argument` is the caller's sg_io_hdr_t) of a disk with `health`:
// 0 or -errno, as the ioctl of a libata disk. A command that moves the heads (anything but
// CHECK POWER MODE) spins a disk in standby up.
int answer_sg_io(AtaHealth& health, void* argument);
// The classic IDE driver's HDIO_DRIVE_CMD (args[4] and the sectors read) and HDIO_DRIVE_TASK
// (args[7]: the taskfile registers, read back) for a /dev/hdX with `health`; a refused
// command is -EIO. No QEMU guest runs that driver any more (it left Linux in 5.14): the
// argument layouts are those of its source, drivers/ide/ide-ioctls.c (ide_cmd_ioctl,
// ide_task_ioctl), where a SMART command's args[1] is the LBA low register and any other's
// the count.
constexpr unsigned long kDriveTask = 0x031E, kDriveCmd = 0x031F;
int answer_drive_ioctl(AtaHealth& health, unsigned long request, void* argument);

// An NVMe controller's health log (Get Log Page 02h), absent when the controller refuses it.
struct NvmeHealth {
    std::optional<Page> log;
    std::optional<Fault> fault;
    int commands = 0;
};
// Serves /dev/<controller> ("nvme0"), answering NVME_IOCTL_ADMIN_CMD from `health`.
void add_nvme_controller(Machine& machine, const std::string& controller, std::shared_ptr<NvmeHealth> health);

// The capture files of one ATA disk (dev/NAME.power-mode, .ata-identify, .smart-status,
// .smart-data, .smart-thresholds); null when it has none. False with `error` set for a file
// of the wrong size or form.
bool load_ata_health(const std::filesystem::path& dev, const std::string& name, std::shared_ptr<AtaHealth>& health,
                     std::string& error);
// Each dev/CONTROLLER.nvme-health served as /dev/CONTROLLER.
bool load_nvme_health(const std::filesystem::path& dir, Machine& machine, std::string& error);

// The ATA answers as capture files: writes them into `dev` (a directory path).
bool save_ata_health(const std::filesystem::path& dev, const std::string& name, const AtaHealth& health,
                     std::string& error);

}  // namespace sim

#endif
