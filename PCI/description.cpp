// Class, subclass and status texts of a PCI function (PCI Code and ID Assignment 1.x,
// PCI Local Bus 3.0 6.2.3 for the status register).
#include "PCI/description.h"

#include <cstdio>
#include <cstring>
#include <list>

#include "PCI/PCIscan.h"
#include "PCI/sources.h"
#include "api/exports.h"

// Base class texts, indexed by base class code.
const char MainDev[20][64] = {
    "Old devices",                                         // 0x00
    "Mass storage controller",                             // 0x01
    "Network controller",                                  // 0x02
    "Display controller",                                  // 0x03
    "Multimedia device",                                   // 0x04
    "Memory controller",                                   // 0x05
    "Bridge device",                                       // 0x06
    "Simple communication controllers",                    // 0x07
    "Base system peripherals",                             // 0x08
    "Input devices",                                       // 0x09
    "Docking stations",                                    // 0x0A
    "Processors",                                          // 0x0B
    "Serial bus controllers",                              // 0x0C
    "Wireless controller",                                 // 0x0D
    "Intelligent I/O controllers",                         // 0x0E
    "Satellite communication controllers",                 // 0x0F
    "Encryption/Decryption controllers",                   // 0x10
    "Data acquisition and signal processing controllers",  // 0x11
    "Unknown",                                             // 0x12
    "",                                                    // 0x13
};

namespace {

constexpr unsigned char kUnknownRow = 0x12;
constexpr int kAnyInterface = -1;

struct SubclassText {
    unsigned char base;
    unsigned char sub;
    int interface;  // kAnyInterface where the interface does not matter
    const char* text;
};

// Subclass texts by base class, subclass and, where it matters, programming interface
// (PCI Code and ID Assignment 1.15). The first matching row wins, so a row for one
// interface comes before the row for any interface of the same subclass.
const SubclassText kSubclassTexts[] = {
    {0x00, 0x00, kAnyInterface, "Old Non VGA-compatible devices"},
    {0x00, 0x01, kAnyInterface, "Old VGA-compatible device"},

    {0x01, 0x00, kAnyInterface, "SCSI bus controller"},
    {0x01, 0x01, kAnyInterface, "IDE controller"},
    {0x01, 0x02, kAnyInterface, "Floppy disk controller"},
    {0x01, 0x03, kAnyInterface, "IPI bus controller"},
    {0x01, 0x04, kAnyInterface, "RAID controller"},
    {0x01, 0x05, 0x20, "ATA controller with single DMA"},
    {0x01, 0x05, 0x30, "ATA controller with chained DMA"},
    {0x01, 0x06, 0x01, "SATA controller (AHCI 1.0)"},
    {0x01, 0x06, 0x02, "Serial Storage Bus interface"},
    {0x01, 0x06, kAnyInterface, "SATA controller"},
    {0x01, 0x07, 0x01, "Serial Storage Bus interface"},
    {0x01, 0x07, kAnyInterface, "Serial Attached SCSI controller"},
    {0x01, 0x08, 0x01, "NVMHCI controller"},
    {0x01, 0x08, 0x02, "NVM Express controller"},
    {0x01, 0x08, 0x03, "NVM Express administrative controller"},
    {0x01, 0x08, kAnyInterface, "Non-volatile memory controller"},
    {0x01, 0x09, 0x01, "UFS host controller (UFSHCI)"},
    {0x01, 0x09, kAnyInterface, "Universal Flash Storage controller"},
    {0x01, 0x80, kAnyInterface, "Other mass storage controller"},

    {0x02, 0x00, kAnyInterface, "Ethernet controller"},
    {0x02, 0x01, kAnyInterface, "Token Ring controller"},
    {0x02, 0x02, kAnyInterface, "FDDI controller"},
    {0x02, 0x03, kAnyInterface, "ATM controller"},
    {0x02, 0x04, kAnyInterface, "ISDN controller"},
    {0x02, 0x05, kAnyInterface, "WorldFip controller"},
    {0x02, 0x06, kAnyInterface, "PICMG 2.14 Multi Computing"},
    {0x02, 0x07, kAnyInterface, "InfiniBand controller"},
    {0x02, 0x08, kAnyInterface, "Host fabric controller"},
    {0x02, 0x80, kAnyInterface, "Other network controller"},

    {0x03, 0x00, 0x00, "VGA-compatible controller"},
    {0x03, 0x00, 0x01, "8514-compatible controller"},
    {0x03, 0x01, kAnyInterface, "XGA controller"},
    {0x03, 0x02, kAnyInterface, "3D controller"},
    {0x03, 0x80, kAnyInterface, "Other display controller"},

    {0x04, 0x00, kAnyInterface, "Video device"},
    {0x04, 0x01, kAnyInterface, "Audio device"},
    {0x04, 0x02, kAnyInterface, "Computer telephony device"},
    {0x04, 0x03, 0x01, "High Definition Audio controller (vendor extensions)"},
    {0x04, 0x03, kAnyInterface, "High Definition Audio controller"},
    {0x04, 0x80, kAnyInterface, "Other multimedia device"},

    {0x05, 0x00, kAnyInterface, "RAM"},
    {0x05, 0x01, kAnyInterface, "Flash"},
    {0x05, 0x02, kAnyInterface, "CXL memory device"},
    {0x05, 0x80, kAnyInterface, "Other memory controller"},

    {0x06, 0x00, kAnyInterface, "Host bridge"},
    {0x06, 0x01, kAnyInterface, "ISA bridge"},
    {0x06, 0x02, kAnyInterface, "EISA bridge"},
    {0x06, 0x03, kAnyInterface, "MCA bridge"},
    {0x06, 0x04, 0x00, "PCI-to-PCI bridge"},
    {0x06, 0x04, 0x01, "Subtractive Decode PCI-to-PCI bridge"},
    {0x06, 0x05, kAnyInterface, "PCMCIA bridge"},
    {0x06, 0x06, kAnyInterface, "NuBus bridge"},
    {0x06, 0x07, kAnyInterface, "CardBus bridge"},
    {0x06, 0x08, kAnyInterface, "RACEway bridge"},
    {0x06, 0x09, kAnyInterface, "PCI-to-PCI bridge"},
    {0x06, 0x0A, kAnyInterface, "InfniBand-to-PCI host bridge"},
    {0x06, 0x0B, kAnyInterface, "Advanced Switching-to-PCI host bridge"},
    {0x06, 0x80, kAnyInterface, "Other bridge device"},

    {0x07, 0x00, 0x00, "Generic XT-compatible serial controller"},
    {0x07, 0x00, 0x01, "16450-compatible serial controller"},
    {0x07, 0x00, 0x02, "16550-compatible serial controller"},
    {0x07, 0x00, 0x03, "16650-compatible serial controller"},
    {0x07, 0x00, 0x04, "16750-compatible serial controller"},
    {0x07, 0x00, 0x05, "16850-compatible serial controller"},
    {0x07, 0x00, 0x06, "16950-compatible serial controller"},
    {0x07, 0x01, 0x00, "Parallel port"},
    {0x07, 0x01, 0x01, "Bi-directional parallel port"},
    {0x07, 0x01, 0x02, "ECP 1.X compliant parallel port"},
    {0x07, 0x01, 0x03, "IEEE1284 controller"},
    {0x07, 0x01, 0xFE, "IEEE1284 target device (not a controller)"},
    {0x07, 0x02, kAnyInterface, "Multiport serial controller"},
    {0x07, 0x03, 0x00, "Generic modem"},
    {0x07, 0x03, 0x01, "Hayes compatible modem, 16450-compatible interface"},
    {0x07, 0x03, 0x02, "Hayes compatible modem, 16550-compatible interface"},
    {0x07, 0x03, 0x03, "Hayes compatible modem, 16650-compatible interface"},
    {0x07, 0x03, 0x04, "Hayes compatible modem, 16750-compatible interface"},
    {0x07, 0x04, kAnyInterface, "GPIB (IEEE 488.1/2) controller"},
    {0x07, 0x05, kAnyInterface, "Smart Card controller"},
    {0x07, 0x80, kAnyInterface, "Other communications device"},

    {0x08, 0x00, 0x00, "Generic 8259 PIC"},
    {0x08, 0x00, 0x01, "ISA PIC"},
    {0x08, 0x00, 0x02, "EISA PIC"},
    {0x08, 0x00, 0x10, "I/O APIC interrupt controller"},
    {0x08, 0x00, 0x20, "I/O(x) APIC interrupt controller"},
    {0x08, 0x01, 0x00, "Generic 8237 DMA controller"},
    {0x08, 0x01, 0x01, "ISA DMA controller"},
    {0x08, 0x01, 0x02, "EISA DMA controller"},
    {0x08, 0x02, 0x00, "Generic 8254 system timer"},
    {0x08, 0x02, 0x01, "ISA system timer"},
    {0x08, 0x02, 0x02, "EISA system timers (two timers)"},
    {0x08, 0x03, 0x00, "Generic RTC controller"},
    {0x08, 0x03, 0x01, "ISA RTC controller"},
    {0x08, 0x04, kAnyInterface, "Generic PCI Hot-Plug controller"},
    {0x08, 0x02, 0x03, "High Performance Event Timer"},
    {0x08, 0x05, kAnyInterface, "SD host controller"},
    {0x08, 0x06, kAnyInterface, "IOMMU"},
    {0x08, 0x07, kAnyInterface, "Root Complex Event Collector"},
    {0x08, 0x80, kAnyInterface, "Other system peripheral"},

    {0x09, 0x00, kAnyInterface, "Keyboard controller"},
    {0x09, 0x01, kAnyInterface, "Digitizer (pen)"},
    {0x09, 0x02, kAnyInterface, "Mouse controller"},
    {0x09, 0x03, kAnyInterface, "Scanner controller"},
    {0x09, 0x04, kAnyInterface, "Gameport controller"},
    {0x09, 0x80, kAnyInterface, "Other input controller"},

    {0x0A, 0x00, kAnyInterface, "Generic docking station"},
    {0x0A, 0x80, kAnyInterface, "Other type of docking station"},

    {0x0B, 0x00, kAnyInterface, "386"},
    {0x0B, 0x01, kAnyInterface, "486"},
    {0x0B, 0x02, kAnyInterface, "Pentium"},
    {0x0B, 0x10, kAnyInterface, "Alpha"},
    {0x0B, 0x20, kAnyInterface, "PowerPC"},
    {0x0B, 0x30, kAnyInterface, "MIPS"},
    {0x0B, 0x40, kAnyInterface, "Co-processor"},

    {0x0C, 0x00, 0x00, "IEEE 1394 (FireWire)"},
    {0x0C, 0x00, 0x01, "IEEE 1394 following the 1394 OpenHCI specification"},
    {0x0C, 0x00, 0x10, "IEEE 1394 following the 1394 OpenHCI specification"},
    {0x0C, 0x01, kAnyInterface, "ACCESS.bus"},
    {0x0C, 0x02, kAnyInterface, "SSA"},
    {0x0C, 0x03, 0x00, "Universal Serial Bus"},
    {0x0C, 0x03, 0x10, "Universal Serial Bus"},
    {0x0C, 0x03, 0x20, "USB2 host controller"},
    {0x0C, 0x03, 0x80, "Universal Serial Bus with no specific programming interface"},
    {0x0C, 0x03, 0x30, "USB3 host controller (xHCI)"},
    {0x0C, 0x03, 0x40, "USB4 host interface"},
    {0x0C, 0x03, 0xFE, "USB device (not host controller)"},
    {0x0C, 0x04, kAnyInterface, "Fibre Channel"},
    {0x0C, 0x05, kAnyInterface, "SMBus"},
    {0x0C, 0x06, kAnyInterface, "InfiniBand"},
    {0x0C, 0x07, 0x00, "IPMI SMIC Interface"},
    {0x0C, 0x07, 0x01, "IPMI Kybd Controller Style Interface"},
    {0x0C, 0x07, 0x02, "IPMI Block Transfer Interface"},
    {0x0C, 0x08, kAnyInterface, "SERCOS Interface Standard (IEC61491)"},
    {0x0C, 0x09, kAnyInterface, "CANbus"},
    {0x0C, 0x0A, kAnyInterface, "MIPI I3C host controller"},

    {0x0D, 0x00, kAnyInterface, "iRDA compatible controller"},
    {0x0D, 0x01, kAnyInterface, "Consumer IR controller"},
    {0x0D, 0x10, kAnyInterface, "RF controller"},
    {0x0D, 0x11, kAnyInterface, "Bluetooth"},
    {0x0D, 0x12, kAnyInterface, "Broadband"},
    {0x0D, 0x20, kAnyInterface, "Ethernet (802.11a)"},
    {0x0D, 0x21, kAnyInterface, "Ethernet (802.11b)"},
    {0x0D, 0x40, kAnyInterface, "Cellular controller/modem"},
    {0x0D, 0x41, kAnyInterface, "Cellular controller/modem plus Ethernet (802.11)"},
    {0x0D, 0x80, kAnyInterface, "Other type of wireless controller"},

    {0x0E, 0x00, kAnyInterface, "Intelligent I/O"},

    {0x0F, 0x01, kAnyInterface, "TV"},
    {0x0F, 0x02, kAnyInterface, "Audio"},
    {0x0F, 0x03, kAnyInterface, "Voice"},
    {0x0F, 0x04, kAnyInterface, "Data"},

    {0x10, 0x00, kAnyInterface, "Network and computing en/decryption"},
    {0x10, 0x10, kAnyInterface, "Entertainment en/decryption"},
    {0x10, 0x80, kAnyInterface, "Other en/decryption"},

    {0x11, 0x00, kAnyInterface, "DPIO modules"},
    {0x11, 0x01, kAnyInterface, "Performance counters"},
    {0x11, 0x10, kAnyInterface, "Communications synchronization plus time and frequency test/measurement"},
    {0x11, 0x20, kAnyInterface, "Management card"},
    {0x11, 0x80, kAnyInterface, "Other data acquisition/signal processing controllers"},

    {0x12, 0x00, kAnyInterface, "Processing accelerator"},
    {0x13, 0x00, kAnyInterface, "Non-essential instrumentation function"},
};

// Status register texts by bit number; bits 9-10 (DEVSEL timing) have their own table.
const char* const kStatusBitTexts[16] = {
    "", "", "", "Interrupt Status;",
    "Capabilities List;", "66 MHz Capable;", "", "Fast Back-to-Back Capable;",
    "Master Data Parity Error;", "", "", "Signaled Target Abort;",
    "Received Target Abort;", "Received Master Abort;", "Signaled system Error;", "Detected Parity Error;",
};
const char* const kDevselTexts[4] = {"Speed=Fast;", "Speed=Medium;", "Speed=Slow;", ""};
constexpr int kDevselBit = 9;

const char* SubclassTextOf(const PCIdevice& device) {
    for (const SubclassText& row : kSubclassTexts)
        if (row.base == device.getClassCode() && row.sub == device.getSubClassCode() &&
            (row.interface == kAnyInterface || row.interface == device.getProgIF()))
            return row.text;
    return nullptr;
}

void Append(char (&status)[256], const char* text) {
    std::size_t used = std::strlen(status);
    std::snprintf(status + used, sizeof status - used, "%s", text);
}

void Describe(const PCIdevice& device, DEV& record) {
    std::snprintf(record.desc, sizeof record.desc, "bus:%d, dev:%d, func:%d", device.getBusNo(), device.getDevNo(),
                  device.getFuncNo());
    record.revision = device.getRevisionID();

    std::memset(record.status, 0, sizeof record.status);
    unsigned short status = device.getStatus();
    for (int bit = 0; bit < 16; ++bit) {
        if (bit == kDevselBit) Append(record.status, kDevselTexts[(status >> kDevselBit) & 3]);
        if (status & (1u << bit)) Append(record.status, kStatusBitTexts[bit]);
    }

    // 0xFF is "unknown or not connected" (PCI Local Bus 3.0 6.2.4).
    record.IRQ = device.getIntLine() == 0xFF ? 0 : device.getIntLine();
    // Register 0 as read, memory or I/O flag bits included.
    record.IOBase = static_cast<long>(device.getBaseAddr0());

    unsigned char base = device.getClassCode();
    CopyString(record.model, MainDev[base < sizeof MainDev / sizeof MainDev[0] ? base : kUnknownRow],
               sizeof record.model);
    if (device.getSubClassCode() == 0x80) CopyString(record.type, "other", 32);
    if (const char* text = SubclassTextOf(device)) CopyString(record.type, text, sizeof record.type);
}

}  // namespace

int ListPciFunctions(qarvel::Entries<DEV>& functions, int most) {
    std::list<PCIdevice> devices;
    const bool read = ReadPciFunctions(devices, most);
    for (const PCIdevice& device : devices) {
        if (functions.Full()) break;
        Describe(device, functions.Next());
    }
    return read ? 0 : -1;
}

int GetPciInfo(DeviceInformation* info) {
    // More functions than the record holds: the first 64 are as good as any later scan's
    // (the machine does not change between scans), so they are described at once.
    qarvel::Entries<DEV> functions(info->dev);
    const int read = ListPciFunctions(functions, PCIscan::kMaxDevices);
    info->quantity = functions.Count();
    // Neither sysfs nor port privilege (kernel lockdown, an unprivileged process on a
    // kernel without sysfs): nothing was looked at, which is not "no PCI functions".
    return read;
}
