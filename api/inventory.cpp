// The processor, memory, port, power, fan and probe records, from the SMBIOS getters.
#include <algorithm>
#include <cstring>
#include <utility>

#include "SmBios/SmBios.h"
#include "api/exports.h"

namespace {

template <typename Entry, std::size_t N>
constexpr int Capacity(const Entry (&)[N]) {
    return static_cast<int>(N);
}

// Getters without a length write their whole text (up to 54 bytes); it goes through a
// scratch buffer into the field, cut where the field ends. A getter that writes nothing
// leaves the field as the caller left it.
template <std::size_t N, typename Getter>
void Put(char (&field)[N], Getter&& getter) {
    char text[64] = {};
    std::forward<Getter>(getter)(text);
    if (text[0] != '\0') CopyToField(field, text);
}

void FillPowerSupply(SmBios& reader, int kind, int n, SYS_POWER& supply) {
    reader.GetPSDeviceName(kind, n, supply.DeviceName, sizeof supply.DeviceName);
    reader.GetPSManufacturer(kind, n, supply.manufacturer, sizeof supply.manufacturer);
    reader.GetPSSerialNo(kind, n, supply.SerialNo, sizeof supply.SerialNo);
    Put(supply.status, [&](char* t) { reader.GetPSStatus(kind, n, t); });
}

void FillPowerSupplies(SmBios& reader, SystemPowerInformation& record, int kind) {
    // More supplies than the record holds: the first ones fill it and TotalNumber says how
    // many were written.
    qarvel::Entries<SYS_POWER> supplies(record.PowerSupply);
    ListPowerSupplies(reader, kind, supplies);
    record.TotalNumber = supplies.Count();
}

}  // namespace

void ListProcessors(SmBios& reader, int count, qarvel::Entries<CPU>& cpus) {
    for (int n = 1; n <= count && !cpus.Full(); ++n) {
        CPU& cpu = cpus.Next();
        char status = 0;
        reader.GetProcessorStatus(n, &status);
        // SMBIOS 7.5.9: 0 unknown, 2 disabled by the user, 3 disabled by the BIOS.
        int code = status & 0x07;
        if (code == 2 || code == 3) cpu.IsDisabled = 1;
        if (code == 0) cpu.IsUHT = 1;
        Put(cpu.MaxSpeed, [&](char* t) { reader.GetProcessorMaxSpeed(n, t); });
        Put(cpu.CurrentSpeed, [&](char* t) { reader.GetProcessorCurrentSpeed(n, t); });
        Put(cpu.ExternalClock, [&](char* t) { reader.GetProcessorExternalClock(n, t); });
        Put(cpu.family, [&](char* t) { reader.GetProcessorFamily(n, t); });
        reader.GetProcessorManufacturer(n, cpu.manufacturer, sizeof cpu.manufacturer);
        for (int level = 0; level < Capacity(cpu.cache); ++level) {
            CACHE& cache = cpu.cache[level];
            reader.GetCacheDesignation(n, level, cache.designation, sizeof cache.designation);
            Put(cache.InstalledSize, [&](char* t) { reader.GetCacheInstalledSize(n, level, t); });
            Put(cache.MaxSize, [&](char* t) { reader.GetCacheMaxSize(n, level, t); });
            Put(cache.speed, [&](char* t) { reader.GetCacheSpeed(n, level, t); });
        }
    }
}

void FillProcessorInformation(SmBios& reader, ProcessorInformation& record) {
    qarvel::Entries<CPU> cpus(record.cpu);
    ListProcessors(reader, reader.GetProcessorVirtualQuantity(), cpus);
    record.quantity = cpus.Count();
}

void FillMemoryInformation(SmBios& reader, MemoryInformation& record) {
    LocalMemInfo local;
    std::memset(&local, 0, sizeof local);
    // A table whose devices name no bank (QEMU's, many virtual machines') still knows how
    // much memory there is: the total is given with no bank.
    bool banks = reader.GetMemoryInformation(&local) == 0;
    record.TotalSize = local.TotalSize;
    record.quantity = banks ? local.quantity : 0;
    if (!banks) return;
    qarvel::Entries<BANK> to(record.bank);
    ListBanks(local.bank, local.bank + std::min(local.quantity, Capacity(local.bank)), to);
}

void ListBanks(const BankInfo* begin, const BankInfo* end, qarvel::Entries<BANK>& banks) {
    // A bank without a type is not reported; the others close up.
    for (const BankInfo* from = begin; from != end && !banks.Full(); ++from) {
        if (from->type[0] == '\0') continue;
        BANK& to = banks.Next();
        CopyToField(to.size, from->size);
        CopyToField(to.speed, from->speed);
        CopyToField(to.type, from->type);
        CopyToField(to.TypeDetail, from->TypeDetail);
        CopyToField(to.manufacturer, from->manufacturer);
        to.SlotNumber = from->SlotNumber;
    }
}

void ListPorts(SmBios& reader, qarvel::Entries<PORT>& ports) {
    for (int n = 1; n <= reader.GetPortQuantity() && !ports.Full(); ++n) {
        PORT& port = ports.Next();
        Put(port.type, [&](char* t) { reader.GetPortType(n, t); });
        reader.GetPortDecription(n, port.description, sizeof port.description);
    }
}

void FillIOInformation(SmBios& reader, IOInformation& record) {
    qarvel::Entries<PORT> ports(record.port);
    ListPorts(reader, ports);
    record.quantity = ports.Count();
}

void ListPowerSupplies(SmBios& reader, int kind, qarvel::Entries<SYS_POWER>& supplies) {
    for (int n = 1; n <= reader.GetPSQuantity(kind) && !supplies.Full(); ++n)
        FillPowerSupply(reader, kind, n, supplies.Next());
}

void FillPowerSupplyInformation(SmBios& reader, SystemPowerInformation& record) {
    FillPowerSupplies(reader, record, kEveryPowerSupply);
    record.RedundantNumber = reader.GetPSRedundantQuantity();
}

void FillUpsInformation(SmBios& reader, SystemPowerInformation& record) {
    FillPowerSupplies(reader, record, SmBios::PS_UPS);
}

void ListFans(SmBios& reader, qarvel::Entries<FAN_DEVICE>& fans) {
    for (int n = 1; n <= reader.GetFanQuantity() && !fans.Full(); ++n)
        Put(fans.Next().speed, [&](char* t) { reader.GetFanSpeed(n, t); });
}

void FillFanInformation(SmBios& reader, FanInformation& record) {
    qarvel::Entries<FAN_DEVICE> fans(record.fan);
    ListFans(reader, fans);
    record.quantity = fans.Count();
}

// The probe records carry the probe count and describe one probe: the first at a
// processor location.
void FillVoltageInformation(SmBios& reader, VoltageInformation& record) {
    record.quantity = reader.GetVoltageProbeQuantity();
    VOLTAGE_PROBE& probe = record.voltage[0];
    Put(probe.CurrentVoltage, [&](char* t) { reader.GetVoltageCurrent(SmBios::TnV_PROCESSOR, t); });
    Put(probe.max, [&](char* t) { reader.GetVoltageMax(SmBios::TnV_PROCESSOR, t); });
    Put(probe.min, [&](char* t) { reader.GetVoltageMin(SmBios::TnV_PROCESSOR, t); });
}

void FillTemperatureInformation(SmBios& reader, TemperatureInformation& record) {
    record.quantity = reader.GetTemperatureProbeQuantity();
    TEMPERATURE_PROBE& probe = record.temperature[0];
    Put(probe.CurrentTemperature, [&](char* t) { reader.GetTemperatureCurrent(SmBios::TnV_PROCESSOR, t); });
}
