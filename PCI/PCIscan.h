// Enumerates PCI functions through configuration mechanism 1 (address port 0xCF8, data
// port 0xCFC), without any operating-system PCI interface.
#ifndef QARVEL_PCI_PCISCAN_H
#define QARVEL_PCI_PCISCAN_H

#include <list>

#include "PCI/PCIdevice.h"

class PCIscan {
public:
    // Asks for I/O privilege level 3; m_InitOK tells whether it was granted. Without it
    // every register reads all ones, so no function is seen.
    PCIscan();
    // Gives the privilege back (level 0).
    ~PCIscan();
    PCIscan(const PCIscan&) = delete;
    PCIscan& operator=(const PCIscan&) = delete;

    void out(unsigned short port, unsigned long value);
    unsigned long in(unsigned short port);

    // Reads the 64-byte header of one function into m_dev: 0 when a function answers,
    // -1 when not. The vendor register is read first and the other fifteen only when a
    // function answers, so an empty slot costs one register.
    int readPCIheader(unsigned char bus, unsigned char dev, unsigned char func);
    // Every function present on buses 0 to 10, found as the kernel finds them: functions
    // 1-7 of a device only when its function 0 answers with the multi-function bit set.
    // 0, or -1 when more than `most` answer (the list then holds the first `most`): as
    // many as a DeviceInformation record holds unless a paged walk asks for every one.
    int getAllDevice(std::list<PCIdevice>& devices, int most = kMaxDevices);
    // 1 when some function has this base class and subclass, else 0.
    int searchDevice(short ClassCode, short SubClassCode);

    int IsInitOK() const { return m_InitOK; }
    const PCIdevice& getLastDevice() const { return m_dev; }

    // The functions a scan lists at most: as many as a DeviceInformation record holds.
    static constexpr int kMaxDevices = 64;
    // Buses 0 to 10 are scanned; anything above is never read.
    static constexpr int kBuses = 11;

private:
    unsigned int readRegister(unsigned char bus, unsigned char dev, unsigned char func, unsigned int r);

    int m_InitOK;
    int m_RetrieveFunction;
    unsigned long m_ConfigAddress;
    unsigned long m_DataAddress;
    PCIdevice m_dev;
};

#endif
