// GetInfoPage: every entry of an inventory command, in pages of the record GetInfo fills.
// Each row of kInventoryPages reads every entry of one command into a reading (api/paging.h);
// the pages are cut from it.
#include "api/paging.h"

#include <climits>
#include <new>

#include "PCI/description.h"
#include "SmBios/SmBios.h"
#include "api/exports.h"
#include "storage/partition.h"
#include "storage/storage.h"
#include "storage/sysblock.h"

namespace {

using qarvel::Entries;
using qarvel::PageShape;
using qarvel::Reading;

// One inventory command's paged read: the reading and the page served from it.
using PageStep = int (*)(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer,
                         int* total);

// Reads every entry of a command that lists entries, and serves page `first`.
template <typename Record, typename Entry, std::size_t N, typename Take>
int Page(const std::string& key, int first, void* buffer, int* total, const PageShape<Record, Entry, N>& shape,
         Take&& take) {
    const auto& reading = qarvel::ReadingFor<Reading<Record, Entry>>(qarvel::State().inventoryPages, key, first,
                                                                     std::forward<Take>(take));
    return qarvel::ServePage(reading, shape, first, buffer, total);
}

// The SMBIOS commands read the table the session holds; without one the reading fails as
// GetInfo does.
template <typename Record, typename Entry, std::size_t N, typename List>
int SmBiosPage(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total,
               const PageShape<Record, Entry, N>& shape, List&& list) {
    return Page(key, first, buffer, total, shape, [&](Reading<Record, Entry>& r) {
        SmBios* reader = session.Reader();
        if (!reader || !reader->IsInitOK()) {
            r.result = -1;
            return;
        }
        Entries<Entry> entries(r.entries);
        list(*reader, r.head, entries);
    });
}

int Processors(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<ProcessorInformation, CPU, 8> shape = {
        &ProcessorInformation::cpu, qarvel::CountIn<ProcessorInformation, &ProcessorInformation::quantity>};
    return SmBiosPage(session, key, first, buffer, total, shape,
                      [](SmBios& reader, ProcessorInformation&, Entries<CPU>& cpus) {
                          ListProcessors(reader, reader.GetProcessorStructureCount(), cpus);
                      });
}

int Memory(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<MemoryInformation, BANK, 16> shape = {
        &MemoryInformation::bank, qarvel::CountIn<MemoryInformation, &MemoryInformation::quantity>};
    return SmBiosPage(session, key, first, buffer, total, shape,
                      [](SmBios& reader, MemoryInformation& head, Entries<BANK>& banks) {
                          // As GetInfo: the total of every module or device, with or without banks.
                          std::vector<BankInfo> described;
                          if (reader.GetMemoryBanks(described) == 0)
                              ListBanks(described.data(), described.data() + described.size(), banks);
                          head.TotalSize = reader.GetMemoryTotalSize();
                      });
}

int Ports(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<IOInformation, PORT, 32> shape = {
        &IOInformation::port, qarvel::CountIn<IOInformation, &IOInformation::quantity>};
    return SmBiosPage(session, key, first, buffer, total, shape,
                      [](SmBios& reader, IOInformation&, Entries<PORT>& ports) { ListPorts(reader, ports); });
}

const PageShape<SystemPowerInformation, SYS_POWER, 8> kSupplyShape = {
    &SystemPowerInformation::PowerSupply,
    qarvel::CountIn<SystemPowerInformation, &SystemPowerInformation::TotalNumber>};

int PowerSupplies(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total) {
    return SmBiosPage(session, key, first, buffer, total, kSupplyShape,
                      [](SmBios& reader, SystemPowerInformation& head, Entries<SYS_POWER>& supplies) {
                          ListPowerSupplies(reader, kEveryPowerSupply, supplies);
                          head.RedundantNumber = reader.GetPSRedundantQuantity();
                      });
}

int Ups(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total) {
    return SmBiosPage(session, key, first, buffer, total, kSupplyShape,
                      [](SmBios& reader, SystemPowerInformation&, Entries<SYS_POWER>& supplies) {
                          ListPowerSupplies(reader, SmBios::PS_UPS, supplies);
                      });
}

int Fans(qarvel::SmBiosSession& session, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<FanInformation, FAN_DEVICE, 16> shape = {
        &FanInformation::fan, qarvel::CountIn<FanInformation, &FanInformation::quantity>};
    return SmBiosPage(session, key, first, buffer, total, shape,
                      [](SmBios& reader, FanInformation&, Entries<FAN_DEVICE>& fans) { ListFans(reader, fans); });
}

int PciFunctions(qarvel::SmBiosSession&, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<DeviceInformation, DEV, 64> shape = {
        &DeviceInformation::dev, qarvel::CountIn<DeviceInformation, &DeviceInformation::quantity>};
    // As GetInfo: no source to read is no function, not a failure.
    return Page(key, first, buffer, total, shape, [](Reading<DeviceInformation, DEV>& r) {
        Entries<DEV> functions(r.entries);
        ListPciFunctions(functions, INT_MAX);
    });
}

int Drives(qarvel::SmBiosSession&, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<StorageInformation, DriveInfo, 24> shape = {&StorageInformation::driveArray,
                                                                       qarvel::CountDrives};
    return Page(key, first, buffer, total, shape, [](Reading<StorageInformation, DriveInfo>& r) {
        std::vector<BlockDisk> disks;
        GetStorageInfo(&r.head, disks, &r.entries);
    });
}

int Partitions(qarvel::SmBiosSession&, const std::string& key, int first, void* buffer, int* total) {
    static const PageShape<PartitionInformation, PARTITION, 26> shape = {
        &PartitionInformation::partition, qarvel::CountIn<PartitionInformation, &PartitionInformation::quantity>};
    return Page(key, first, buffer, total, shape, [](Reading<PartitionInformation, PARTITION>& r) {
        Entries<PARTITION> parts(r.entries);
        ListPartitions(parts, true);
    });
}

// Records of one thing, or of one probe (the SMBIOS voltage and temperature records describe
// the first probe at a processor): GetInfo's record is the one page.
int WholeRecord(unsigned long command, qarvel::SmBiosSession& session, int first, void* buffer, int* total) {
    if (first > 0) {
        if (total) *total = 1;
        return 0;
    }
    const int result = DispatchInfo(session, command, buffer);
    if (result == 0 && total) *total = 1;
    return result;
}

struct InventoryPages {
    unsigned long command;
    PageStep step;  // null: the whole record is the one page
};

const InventoryPages kInventoryPages[] = {
    {INFO_BASE_BOARD, nullptr},  {INFO_SYSTEM, nullptr},      {INFO_PROCESSOR, Processors},
    {INFO_MEMORY, Memory},       {INFO_IO_PORT, Ports},       {INFO_POWER_SUPPLY, PowerSupplies},
    {INFO_UPS, Ups},             {INFO_FAN, Fans},            {INFO_VOLTAGE, nullptr},
    {INFO_TEMPERATURE, nullptr}, {INFO_PCI_DEVICE, PciFunctions}, {INFO_STORAGE, Drives},
    {INFO_PARTITION, Partitions},
};

}  // namespace

extern "C" int GetInfoPage(unsigned long command, int first, LPVOID buffer, int* total) {
    BusyFlag busy(qarvel::State().busy.NoEntersmBIOS);
    if (!busy) return 1;
    if (!buffer || first < 0) return -1;
    for (const InventoryPages& row : kInventoryPages) {
        if (row.command != command) continue;
        try {
            // The whole read, PCI and disks included, under the session, so that release
            // waits for it and the kept readings are touched by one call at a time.
            qarvel::SmBiosSession session;
            if (!row.step) return WholeRecord(command, session, first, buffer, total);
            return row.step(session, "GetInfo " + std::to_string(command), first, buffer, total);
        } catch (...) {
            return -1;  // out of memory: nothing may cross the C boundary
        }
    }
    return -1;  // not a command
}
