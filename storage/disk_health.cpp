#include "storage/disk_health.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "api/field.h"
#include "platform/platform.h"
#include "process/source.h"
#include "process/state.h"
#include "storage/identify.h"
#include "storage/smart.h"
#include "storage/storage.h"
#include "storage/sysblock.h"

namespace {

// --- ATA commands through SCSI ATA PASS-THROUGH (16) (SAT-4 12.2.2) ------------------------

// The registers a command is sent with, and those it answers with.
struct AtaRegisters {
    std::uint8_t command = 0, feature = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0;
};

constexpr std::uint8_t kCheckPowerMode = 0xE5;
constexpr std::uint8_t kIdentifyDevice = 0xEC;
constexpr std::uint8_t kSmart = 0xB0;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartReturnStatus = 0xDA;
// SMART commands carry this signature in LBA mid and high; RETURN STATUS answers with it, or
// with its complement F4h 2Ch when a threshold is exceeded.
constexpr std::uint8_t kSmartMid = 0x4F, kSmartHigh = 0xC2;

constexpr int kHostTimedOut = 0x03;  // host_status DID_TIME_OUT
constexpr std::uint8_t kDescriptorSense = 0x72;
constexpr std::uint8_t kAtaReturnDescriptor = 0x09;
constexpr std::uint8_t kAtaError = 0x01;  // status register ERR

AtaRegisters SmartCommand(std::uint8_t feature, std::uint8_t count = 0, std::uint8_t lbaLow = 0) {
    AtaRegisters r;
    r.command = kSmart;
    r.feature = feature;
    r.count = count;
    r.lbaLow = lbaLow;
    r.lbaMid = kSmartMid;
    r.lbaHigh = kSmartHigh;
    return r;
}

// The ATA status return descriptor of descriptor-format sense data: false when there is none.
bool AtaReturn(const std::uint8_t* sense, std::size_t length, AtaRegisters& out, std::uint8_t& status) {
    if (length < 8 || (sense[0] & 0x7F) != kDescriptorSense) return false;
    std::size_t end = std::min<std::size_t>(length, 8 + static_cast<std::size_t>(sense[7]));
    for (std::size_t at = 8; at + 2 <= end;) {
        const std::size_t size = 2 + static_cast<std::size_t>(sense[at + 1]);
        if (sense[at] == kAtaReturnDescriptor && size >= 14 && at + 14 <= end) {
            out.count = sense[at + 5];
            out.lbaLow = sense[at + 7];
            out.lbaMid = sense[at + 9];
            out.lbaHigh = sense[at + 11];
            status = sense[at + 13];
            return true;
        }
        at += size;
    }
    return false;
}

// How ATA commands reach a disk: libata's SCSI translation (SG_IO), or the classic IDE
// driver's own ioctls on /dev/hdX (kernels before 5.14).
enum class Via { SgIo, DriveIoctl };

// One ATA command: PIO data-in of one sector into `data`, or non-data when `data` is null,
// whose output registers are then asked back (CK_COND) into `answer`. 0, or the errno that
// says why not: the ioctl's own, ETIMEDOUT, EIO for a refused or failed command, ENODATA
// for a data transfer that came back short or registers that did not come back.
int SgIoCommand(int fd, const AtaRegisters& in, std::uint8_t* data, AtaRegisters* answer) {
    std::uint8_t cdb[16] = {};
    cdb[0] = 0x85;
    // Protocol 4 (PIO data-in) or 3 (non-data); T_DIR from the device, BYT_BLOK and T_LENGTH
    // in the count register for a transfer; CK_COND to have the registers back otherwise.
    cdb[1] = data ? 4 << 1 : 3 << 1;
    cdb[2] = data ? 0x0E : 0x2C;
    cdb[4] = in.feature;
    cdb[6] = in.count;
    cdb[8] = in.lbaLow;
    cdb[10] = in.lbaMid;
    cdb[12] = in.lbaHigh;
    cdb[14] = in.command;
    std::uint8_t sense[32] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.dxfer_direction = data ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.cmd_len = sizeof cdb;
    io.mx_sb_len = sizeof sense;
    io.dxfer_len = data ? smart::kAtaPage : 0;
    io.dxferp = data;
    io.cmdp = cdb;
    io.sbp = sense;
    io.timeout = kAtaCommandTimeoutMs;
    if (platform::ioctl(fd, SG_IO, &io) < 0) return errno ? errno : EIO;
    if (io.host_status == kHostTimedOut) return ETIMEDOUT;
    if (io.host_status != 0) return EIO;
    AtaRegisters registers;
    std::uint8_t status = 0;
    const std::size_t sense_length = std::min<std::size_t>(io.sb_len_wr, sizeof sense);
    const bool returned = AtaReturn(sense, sense_length, registers, status);
    if (returned && (status & kAtaError)) return EIO;
    if (data) {
        // Check condition without the ATA registers is a refusal (ILLEGAL REQUEST, ABORTED).
        if (io.status != 0 && !returned) return EIO;
        if (io.resid != 0) return ENODATA;  // fewer bytes than the sector asked for
        return 0;
    }
    if (!returned) return io.status != 0 ? EIO : ENODATA;
    if (answer) *answer = registers;
    return 0;
}

// The same through the IDE driver: HDIO_DRIVE_CMD for a sector read (args: command, sector
// number for SMART or else count, feature, sectors; the sectors follow the four bytes), and
// HDIO_DRIVE_TASK for registers (args: command, feature, count, LBA low, mid, high, device,
// read back in place). The driver gives no timeout of ours; a failed command is EIO.
constexpr unsigned long kHdioDriveTask = 0x031E, kHdioDriveCmd = 0x031F;

int DriveCommand(int fd, const AtaRegisters& in, std::uint8_t* data, AtaRegisters* answer) {
    if (!data) {
        std::uint8_t args[7] = {in.command, in.feature, in.count, in.lbaLow, in.lbaMid, in.lbaHigh, 0};
        if (platform::ioctl(fd, kHdioDriveTask, args) < 0) return errno ? errno : EIO;
        if (args[0] & kAtaError) return EIO;
        if (answer) {
            answer->count = args[2];
            answer->lbaMid = args[4];
            answer->lbaHigh = args[5];
        }
        return 0;
    }
    std::uint8_t args[4 + smart::kAtaPage] = {in.command, in.command == kSmart ? in.lbaLow : in.count, in.feature, 1};
    if (platform::ioctl(fd, kHdioDriveCmd, args) < 0) return errno ? errno : EIO;
    std::memcpy(data, args + 4, smart::kAtaPage);
    return 0;
}

int AtaCommand(Via via, int fd, const AtaRegisters& in, std::uint8_t* data, AtaRegisters* answer) {
    return via == Via::SgIo ? SgIoCommand(fd, in, data, answer) : DriveCommand(fd, in, data, answer);
}

// --- the NVMe health log ------------------------------------------------------------------

constexpr std::uint8_t kGetLogPage = 0x02;
constexpr std::uint32_t kHealthLog = 0x02;

int NvmeHealthLog(const std::string& controller, std::uint8_t* log) {
    const std::string device = "/dev/" + controller;
    const int fd = platform::open(device.c_str(), O_RDONLY);
    if (fd < 0) return errno ? errno : ENODEV;
    nvme_admin_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.opcode = kGetLogPage;
    cmd.nsid = 0xFFFFFFFFu;  // the controller as a whole
    cmd.addr = reinterpret_cast<std::uintptr_t>(log);
    cmd.data_len = smart::kNvmeLog;
    cmd.cdw10 = static_cast<std::uint32_t>(smart::kNvmeLog / 4 - 1) << 16 | kHealthLog;  // dwords - 1, log id
    cmd.timeout_ms = kAtaCommandTimeoutMs;
    const int rc = platform::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    const int error = errno;
    platform::close(fd);
    if (rc < 0) return error ? error : EIO;
    return rc == 0 ? 0 : EIO;  // a positive answer is the command's NVMe status: refused
}

// --- one disk -------------------------------------------------------------------------------

bool Standby(std::uint8_t mode) {
    // ACS-3 7.3: 00h standby, 01h standby_y; 40h and 41h NV cache power modes, spun down or
    // spinning down. 80h-83h idle, FFh active or idle.
    return mode == 0x00 || mode == 0x01 || mode == 0x40 || mode == 0x41;
}

void Fail(DiskHealth& disk, int error) {
    disk.Status = DISK_HEALTH_FAILED;
    disk.Errno = error;
}

// True when the disk answered at least one command.
bool PollAta(Via via, const std::string& name, DiskHealth& disk, bool wake, const HealthAnswerSink& sink) {
    disk.Kind = DISK_HEALTH_ATA;
    const std::string device = "/dev/" + name;
    const int fd = platform::open(device.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        Fail(disk, errno ? errno : ENODEV);
        return false;
    }
    auto keep = [&](const char* what, const std::uint8_t* bytes, std::size_t size) {
        if (sink) sink(name, what, bytes, size);
    };
    bool answered = false;
    std::uint8_t page[smart::kAtaPage];
    AtaRegisters registers;
    AtaRegisters power;
    power.command = kCheckPowerMode;
    auto command = [via, fd](const AtaRegisters& in, std::uint8_t* data, AtaRegisters* answer) {
        return AtaCommand(via, fd, in, data, answer);
    };
    int error = command(power, nullptr, &registers);
    do {
        if (error) break;
        answered = true;
        keep("power-mode", &registers.count, 1);
        disk.ata.powerMode = registers.count;
        disk.Given |= DISK_GIVEN_POWER_MODE;
        if (Standby(registers.count) && !wake) {
            disk.Status = DISK_HEALTH_STANDBY;
            break;
        }
        AtaRegisters identify;
        identify.command = kIdentifyDevice;
        identify.count = 1;
        if ((error = command(identify, page, nullptr))) break;
        keep("ata-identify", page, sizeof page);
        const smart::SmartSupport support = smart::DecodeIdentify(page, sizeof page);
        if (!support.supported) {
            disk.Status = DISK_HEALTH_NO_SMART;
            break;
        }
        if (!support.enabled) {
            disk.Status = DISK_HEALTH_SMART_DISABLED;
            break;
        }
        if ((error = command(SmartCommand(kSmartReturnStatus), nullptr, &registers))) break;
        const std::uint8_t signature[2] = {registers.lbaMid, registers.lbaHigh};
        keep("smart-status", signature, sizeof signature);
        if (registers.lbaMid == kSmartMid && registers.lbaHigh == kSmartHigh)
            disk.Overall = DISK_OVERALL_PASSED;
        else if (registers.lbaMid == 0xF4 && registers.lbaHigh == 0x2C)
            disk.Overall = DISK_OVERALL_FAILING;
        if ((error = command(SmartCommand(kSmartReadData, 1), page, nullptr))) break;
        keep("smart-data", page, sizeof page);
        smart::DecodeSmartData(page, sizeof page, disk.ata);
        // Thresholds are optional in ATA-8 and later; a disk that refuses them is still read.
        if (command(SmartCommand(kSmartReadThresholds, 1, 1), page, nullptr) == 0) {
            keep("smart-thresholds", page, sizeof page);
            smart::DecodeSmartThresholds(page, sizeof page, disk.ata);
            disk.Given |= DISK_GIVEN_THRESHOLDS;
        }
        smart::NameAtaFields(disk);
        disk.Status = DISK_HEALTH_READ;
    } while (false);
    if (error) Fail(disk, error);
    platform::close(fd);
    return answered;
}

bool PollNvme(const BlockDisk& block, DiskHealth& disk, const HealthAnswerSink& sink) {
    disk.Kind = DISK_HEALTH_NVME;
    std::uint8_t log[smart::kNvmeLog] = {};
    if (const int error = NvmeHealthLog(block.ControllerNo, log)) {
        Fail(disk, error);
        return false;
    }
    if (sink) sink(block.ControllerNo, "nvme-health", log, sizeof log);
    smart::DecodeNvmeHealth(log, sizeof log, disk);
    disk.Status = DISK_HEALTH_READ;
    return true;
}

// --- the source table -------------------------------------------------------------------------

struct Poll {
    DiskHealthInformation& record;
    const HealthAnswerSink& sink;
};

bool ReadSysBlock(Poll& poll, const char*&, char* why, std::size_t size) {
    std::vector<BlockDisk> disks;
    if (!ListBlockDisks(disks)) return qarvel::Refuse(why, size, "cannot list", "/sys/block", errno);
    if (disks.empty()) return qarvel::Refuse(why, size, "no disk in", "/sys/block");
    DiskHealthInformation& record = poll.record;
    const bool wake = record.Flags & HEALTH_DISK_WAKE;
    bool answered = false;
    record.quantity = 0;
    // INFO_STORAGE lists the same disks in the same order, as many as it holds.
    for (std::size_t i = 0; i < disks.size() && i < HEALTH_DISK_MOST; ++i) {
        const BlockDisk& block = disks[i];
        DiskHealth& disk = record.disk[record.quantity++];
        std::memset(&disk, 0, sizeof disk);
        CopyToField(disk.DeviceName, ("/dev/" + block.name).c_str());
        CopyToField(disk.SerialNo, block.serial.c_str());
        disk.DriveIndex = static_cast<int>(i);
        if (block.ControllerType == "ide" || block.ControllerType == "sata") {
            answered |= PollAta(Via::SgIo, block.name, disk, wake, poll.sink);
        } else if (block.ControllerType == "nvme") {
            answered |= PollNvme(block, disk, poll.sink);
        } else {
            disk.Kind = DISK_HEALTH_NONE;
            disk.Status = DISK_HEALTH_NOT_AVAILABLE;
            answered = true;
        }
    }
    return answered || qarvel::Refuse(why, size, "no disk answered through", "SG_IO or the NVMe admin ioctl");
}

bool DetectProcIde(char* why, std::size_t size) {
    return platform::directory_exists("/proc/ide") || qarvel::Refuse(why, size, "no", "/proc/ide", errno);
}

// The disks of /proc/ide as INFO_STORAGE lists them: the four classic positions in order,
// disks only, each named by its identify block's serial field as that record has it.
bool ReadProcIde(Poll& poll, const char*&, char* why, std::size_t size) {
    DiskHealthInformation& record = poll.record;
    const bool wake = record.Flags & HEALTH_DISK_WAKE;
    bool answered = false;
    record.quantity = 0;
    for (int position = 0; position < kIdePositions; ++position) {
        const char letter = static_cast<char>('a' + position);
        const std::string drive = "/proc/ide/ide" + std::to_string(position / 2) + "/hd" + letter;
        const int fd = platform::open((drive + "/media").c_str(), O_RDONLY);
        if (fd < 0) continue;
        char text[16] = {};
        int error = 0;
        platform::read_all(fd, text, sizeof text - 1, error);
        platform::close(fd);
        if (std::strncmp(text, "disk", 4) != 0) continue;
        const std::string name = std::string("hd") + letter;
        DiskHealth& disk = record.disk[record.quantity];
        std::memset(&disk, 0, sizeof disk);
        disk.DriveIndex = static_cast<int>(record.quantity++);
        CopyToField(disk.DeviceName, ("/dev/" + name).c_str());
        unsigned char identify[kIdentifySize] = {};
        const int node = platform::open(("/dev/" + name).c_str(), O_RDONLY);
        if (node >= 0) {
            if (platform::ioctl(node, HDIO_GET_IDENTITY, identify) == 0)
                std::memcpy(disk.SerialNo, identify + kSerialField.offset, kSerialField.length);
            platform::close(node);
        }
        answered |= PollAta(Via::DriveIoctl, name, disk, wake, poll.sink);
    }
    if (record.quantity == 0) return qarvel::Refuse(why, size, "no disk in", "/proc/ide");
    return answered || qarvel::Refuse(why, size, "no disk answered", "HDIO_DRIVE_CMD");
}

// INFO_STORAGE lists /sys/block's disks only where there is no /proc/ide.
bool DetectSysBlock(char* why, std::size_t size) {
    return !platform::directory_exists("/proc/ide") || qarvel::Refuse(why, size, "the disks are those of", "/proc/ide");
}

// As the disks themselves: /proc/ide where the kernel still has it, /sys/block otherwise.
const qarvel::Source<Poll> kHealthSources[] = {
    {"/proc/ide", DetectProcIde, ReadProcIde},
    {"/sys/block", DetectSysBlock, ReadSysBlock},
};

}  // namespace

int ReadDiskHealth(DiskHealthInformation& record, const HealthAnswerSink& sink) {
    Poll poll{record, sink};
    return qarvel::Probe(kHealthSources, poll, qarvel::State().sources[SOURCE_DISK_HEALTH]) ? 0 : -1;
}
