// Where the PCI functions come from, tried in order: the kernel's sysfs list, then the
// configuration ports (mechanism 1). Each gives the same 64-byte headers, in bus, device,
// function order; the description does not know which one it was.
#include "PCI/sources.h"

#include <cerrno>

#include "PCI/PCIscan.h"
#include "PCI/PCIsysfs.h"
#include "process/state.h"

namespace {

// The functions listed, and how many at most.
struct Functions {
    std::list<PCIdevice>& devices;
    int most;
};

bool ReadSysfs(Functions& out, const char*&, char* why, std::size_t size) {
    PCIsysfs sysfs;
    if (!sysfs.IsAvailable()) return qarvel::Refuse(why, size, "cannot list", PCIsysfs::kDirectory, errno);
    sysfs.getAllDevice(out.devices, out.most);
    return true;
}

bool ReadPorts(Functions& out, const char*&, char* why, std::size_t size) {
    PCIscan scan;
    if (!scan.IsInitOK()) return qarvel::Refuse(why, size, "no I/O privilege for", "ports 0xCF8/0xCFC", errno);
    scan.getAllDevice(out.devices, out.most);
    return true;
}

// The kernel's list first: it needs no privilege, works under lockdown and does not race the
// kernel's own use of the ports. The configuration ports keep kernels without it working.
const qarvel::Source<Functions> kPciSources[] = {
    {"sysfs", nullptr, ReadSysfs},
    {"ports", nullptr, ReadPorts},
};

}  // namespace

bool ReadPciFunctions(std::list<PCIdevice>& devices, int most) {
    Functions out{devices, most};
    return qarvel::Probe(kPciSources, out, qarvel::State().sources[SOURCE_PCI]) != nullptr;
}

const char* PciSourceName() { return qarvel::State().sources[SOURCE_PCI].answered; }

