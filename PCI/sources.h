// The PCI source table: which interface gives the functions' configuration headers.
#ifndef QARVEL_PCI_SOURCES_H
#define QARVEL_PCI_SOURCES_H

#include <list>

#include "PCI/PCIdevice.h"
#include "PCI/PCIscan.h"

// The functions of the first source that can be read ("sysfs", then "ports"), in bus,
// device, function order, the first `most` of them; the probe is recorded in the process
// state. False, with nothing listed, when neither can be read: no sysfs and no port privilege.
bool ReadPciFunctions(std::list<PCIdevice>& devices, int most = PCIscan::kMaxDevices);

// The source that answered the last read: "sysfs" or "ports"; null before the first read
// and when the last one found no source it could read.
const char* PciSourceName();

#endif
