// One PCI function: its configuration header and where it sits (bus, device, function).
#ifndef QARVEL_PCI_PCIDEVICE_H
#define QARVEL_PCI_PCIDEVICE_H

// PCI Local Bus 3.0 6.1: the first 64 bytes of configuration space, type-0 layout.
struct _HEADER {
    unsigned short VendorID;  // 0xFFFF (or 0): no function
    unsigned short DeviceID;
    unsigned short Command;
    unsigned short Status;
    unsigned char RevisionID;
    unsigned char ProgIF;
    unsigned char SubClassCode;
    unsigned char ClassCode;
    unsigned char CLS;
    unsigned char latency;
    unsigned char HeaderType;
    unsigned char BIST;
    unsigned int BaseAddress[6];
    unsigned int Reserved1[2];
    unsigned int ROMBase;
    unsigned int Reserved2[2];
    unsigned char INTLine;
    unsigned char INTPin;
    unsigned char Minlat;
    unsigned char MaxLat;
};
static_assert(sizeof(_HEADER) == 64, "the PCI configuration header is 64 bytes");

class PCIdevice {
public:
    PCIdevice() : header(), bus(0), dev(0), func(0) {}

    // Takes the header from the 16 configuration registers as the data port returned them
    // (each little-endian, register 0 first).
    void setHeader(const unsigned int (&words)[16]);
    const _HEADER& getHeader() const { return header; }

    unsigned short getVendorID() const { return header.VendorID; }
    unsigned short getStatus() const { return header.Status; }
    unsigned char getRevisionID() const { return header.RevisionID; }
    unsigned char getProgIF() const { return header.ProgIF; }
    unsigned char getSubClassCode() const { return header.SubClassCode; }
    unsigned char getClassCode() const { return header.ClassCode; }
    unsigned long getBaseAddr0() const { return header.BaseAddress[0]; }
    unsigned long getBaseAddr1() const { return header.BaseAddress[1]; }
    unsigned long getBaseAddr2() const { return header.BaseAddress[2]; }
    unsigned long getBaseAddr3() const { return header.BaseAddress[3]; }
    unsigned long getBaseAddr4() const { return header.BaseAddress[4]; }
    unsigned long getBaseAddr5() const { return header.BaseAddress[5]; }
    unsigned char getIntLine() const { return header.INTLine; }

    int getBusNo() const { return bus; }
    int getDevNo() const { return dev; }
    int getFuncNo() const { return func; }
    void setBusNo(int number) { bus = number; }
    void setDevNo(int number) { dev = number; }
    void setFuncNo(int number) { func = number; }

private:
    _HEADER header;
    int bus;
    int dev;
    int func;
};

#endif
