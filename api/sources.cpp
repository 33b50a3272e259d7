// Which method of each subsystem answered: asked by callers who want to know how the
// records were found (the qarvel report prints it); the records themselves never say.
#include <cstring>

#include "IPMI/IPMIbase.h"
#include "PCI/description.h"
#include "PCI/sources.h"
#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "storage/storage.h"

extern "C" int GetSourceName(int subsystem, char* name, int size) {
    static const char* (*const kSources[])() = {
        SmBiosSourceName,  // SOURCE_SMBIOS
        IpmiSourceName,    // SOURCE_IPMI
        PciSourceName,     // SOURCE_PCI
        DiskSourceName,    // SOURCE_DISK
    };
    if (subsystem < 0 || subsystem >= static_cast<int>(sizeof kSources / sizeof kSources[0]) || !name || size <= 0)
        return -1;
    const char* source = kSources[subsystem]();
    if (!source || std::strlen(source) >= static_cast<std::size_t>(size)) return -1;
    std::memcpy(name, source, std::strlen(source) + 1);
    return 0;
}
