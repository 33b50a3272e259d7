// The disks of a current kernel, from /sys/block: ATA (libata), SCSI and SAS, USB, NVMe and
// virtio disks, each placed by its controller so that the order does not depend on the
// kernel's sdX letters, which change from boot to boot.
#ifndef QARVEL_STORAGE_SYSBLOCK_H
#define QARVEL_STORAGE_SYSBLOCK_H

#include <string>
#include <vector>

struct BlockDisk {
    std::string name;            // the block device: "sda", "nvme0n1", "vda"
    bool ide = false;            // behind a parallel-ATA (IDE) controller
    std::string ControllerType;  // "ide", "sata", "sas", "scsi", "usb", "nvme", "virtio"
    std::string ControllerNo;    // IDE position text, H:C:T:L, NVMe controller, virtio function
    std::string model, serial, firmware;
    unsigned long long sectors = 0;  // of 512 bytes, as the kernel counts a disk's size

    // Where it sits: controller (PCI function name), then port or address numbers.
    std::string controller;
    long long place[4] = {0, 0, 0, 0};
    std::string controller_path;  // its sysfs directory, for an ATA controller

};

// The disks in /sys/block, optical drives and virtual devices (loop, RAM, device mapper,
// MD) left out, IDE disks first, each group by controller and port. False when
// /sys/block cannot be listed.
bool ListBlockDisks(std::vector<BlockDisk>& disks);

// The device path of partition `number` of `disk`: /dev/sda1, but /dev/nvme0n1p1 where
// the disk's name ends in a digit.
std::string PartitionPath(const std::string& disk, int number);

#endif
