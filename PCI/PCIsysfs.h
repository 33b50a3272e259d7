// The PCI functions as the kernel lists them in sysfs: one directory per function under
// /sys/bus/pci/devices, named DDDD:BB:DD.F, each with its configuration space in "config".
// It needs no I/O privilege, works under kernel lockdown, and does not race the kernel's
// own use of the configuration ports.
#ifndef QARVEL_PCI_PCISYSFS_H
#define QARVEL_PCI_PCISYSFS_H

#include <list>

#include "PCI/PCIdevice.h"
#include "PCI/PCIscan.h"

class PCIsysfs {
public:
    // Lists the directory once; IsAvailable() tells whether it could be read.
    PCIsysfs();

    bool IsAvailable() const { return m_available; }
    static constexpr const char* kDirectory = "/sys/bus/pci/devices";
    // The functions of domain 0, buses 0 to 10, in bus, device, function order, as
    // PCIscan::getAllDevice gives them: 0, or -1 when more than `most` are listed (the list then
    // holds the first 64). A function whose header cannot be read whole is left out.
    int getAllDevice(std::list<PCIdevice>& devices, int most = PCIscan::kMaxDevices);

private:
    struct Position {
        int bus, dev, func;
    };
    static bool ParseName(const char* name, Position& position);
    static bool ReadHeader(const Position& position, PCIdevice& device);

    bool m_available;
    std::list<Position> m_positions;
};

#endif
