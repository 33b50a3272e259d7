// The ATA identify block, as the kernel gives it through Linux <linux/hdreg.h>
// HDIO_GET_IDENTITY (struct hd_driveid): the IDE driver and libata both answer it, with the
// strings already in reading order. Like IPMI/ImbDriver.h for the BMC, this is the one
// definition the library, the capture and the simulated disks share.
#ifndef QARVEL_STORAGE_IDENTIFY_H
#define QARVEL_STORAGE_IDENTIFY_H

#include <cstddef>

constexpr unsigned long HDIO_GET_IDENTITY = 0x030D;
constexpr std::size_t kIdentifySize = 512;

// A text of the block: space-filled ASCII, no terminator.
struct IdentifyField {
    std::size_t offset, length;
};
constexpr IdentifyField kSerialField = {20, 20};    // words 10-19
constexpr IdentifyField kFirmwareField = {46, 8};   // words 23-26
constexpr IdentifyField kModelField = {54, 40};     // words 27-46

#endif
