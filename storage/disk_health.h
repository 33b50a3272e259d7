// Disk health from the disks themselves: ATA SMART through SCSI ATA PASS-THROUGH (16) on
// SG_IO (or, on kernels with /proc/ide, the IDE driver's HDIO_DRIVE_CMD and HDIO_DRIVE_TASK),
// the NVMe health log through the controller's admin ioctl, and "not available" for the
// disks of other kinds. The disks are those INFO_STORAGE lists, in its order. A disk in
// standby is asked CHECK POWER MODE and nothing else unless the caller asks for a full read.
#ifndef QARVEL_STORAGE_DISK_HEALTH_H
#define QARVEL_STORAGE_DISK_HEALTH_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "api/health_types.h"

// The SG_IO wait for one ATA command, in milliseconds: a disk spinning up answers within
// it, a hung one costs no more than this.
constexpr unsigned kAtaCommandTimeoutMs = 10000;

// The answers a poll got, one call per command that answered, for a capture to keep:
// `disk` is the block device's name ("sda"), or the NVMe controller's ("nvme0") whose log
// it is, `what` one of the names below, and
// `bytes` what the command gave back (a page, or the registers that carry the answer).
//   "power-mode"        CHECK POWER MODE: the count register
//   "ata-identify"      IDENTIFY DEVICE: 512 bytes
//   "smart-status"      SMART RETURN STATUS: LBA mid and LBA high
//   "smart-data"        SMART READ DATA: 512 bytes
//   "smart-thresholds"  SMART READ THRESHOLDS: 512 bytes
//   "nvme-health"       Get Log Page 02h: 512 bytes
using HealthAnswerSink =
    std::function<void(const std::string& disk, const char* what, const std::uint8_t* bytes, std::size_t size)>;

// Fills `record` (its Flags are the caller's, kept) with one entry per disk. 0 when the
// source answered: some disk answered a command, or every disk is of a kind with nothing to
// ask; -1 when there are no disks or none answered. The probe record of
// SOURCE_DISK_HEALTH says which source was tried and why it did not answer.
int ReadDiskHealth(DiskHealthInformation& record, const HealthAnswerSink& sink = nullptr);

#endif
