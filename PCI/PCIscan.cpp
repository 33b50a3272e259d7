#include "PCI/PCIscan.h"

#include "platform/platform.h"

PCIscan::PCIscan() : m_InitOK(0), m_RetrieveFunction(0), m_ConfigAddress(0xCF8), m_DataAddress(0xCFC), m_dev() {
    m_InitOK = platform::iopl(3) == 0 ? 1 : 0;
}

PCIscan::~PCIscan() { platform::iopl(0); }

void PCIscan::out(unsigned short port, unsigned long value) {
    platform::outl(port, static_cast<unsigned int>(value));
}

unsigned long PCIscan::in(unsigned short port) { return platform::inl(port); }

unsigned int PCIscan::readRegister(unsigned char bus, unsigned char dev, unsigned char func, unsigned int r) {
    if (!m_InitOK) return 0xFFFFFFFFu;
    // PCI Local Bus 3.0 3.2.2.3.2: enable bit, bus, device, function, register.
    unsigned long address = 0x80000000UL | static_cast<unsigned long>(bus) << 16 |
                            static_cast<unsigned long>(dev & 0x1F) << 11 |
                            static_cast<unsigned long>(func & 0x07) << 8 | ((4 * r) & 0xFC);
    out(static_cast<unsigned short>(m_ConfigAddress), address);
    return static_cast<unsigned int>(in(static_cast<unsigned short>(m_DataAddress)));
}

int PCIscan::readPCIheader(unsigned char bus, unsigned char dev, unsigned char func) {
    unsigned int words[16];
    words[0] = readRegister(bus, dev, func, 0);
    unsigned int vendor = words[0] & 0xFFFF;
    bool present = vendor != 0xFFFF && vendor != 0;
    // Each register is a slow I/O cycle on a port pair the kernel shares: an absent
    // function is not read any further, its header reads as all ones.
    for (unsigned int r = 1; r < 16; ++r) words[r] = present ? readRegister(bus, dev, func, r) : 0xFFFFFFFFu;
    m_dev.setHeader(words);
    m_dev.setBusNo(0);
    m_dev.setDevNo(0);
    m_dev.setFuncNo(0);
    if (!present) return -1;
    m_dev.setBusNo(bus);
    m_dev.setDevNo(dev);
    m_dev.setFuncNo(func);
    return 0;
}

int PCIscan::getAllDevice(std::list<PCIdevice>& devices, int most) {
    devices.clear();
    int found = 0;
    for (int bus = 0; bus < kBuses; ++bus)
        for (int dev = 0; dev < 32; ++dev)
            for (int func = 0; func < 8; ++func) {
                if (readPCIheader(static_cast<unsigned char>(bus), static_cast<unsigned char>(dev),
                                  static_cast<unsigned char>(func)) != 0) {
                    // Without function 0 there is no device (PCI Local Bus 3.0 6.2.1).
                    if (func == 0) break;
                    continue;
                }
                if (++found > most) return -1;
                devices.push_back(m_dev);
                // A single-function device may answer on every function number; the
                // kernel looks no further than function 0, and neither do we.
                if (func == 0 && !(m_dev.getHeader().HeaderType & 0x80)) break;
            }
    return 0;
}

int PCIscan::searchDevice(short ClassCode, short SubClassCode) {
    for (int bus = 0; bus < kBuses; ++bus)
        for (int dev = 0; dev < 32; ++dev)
            for (int func = 0; func < 8; ++func) {
                // An absent function reads all ones: it must not match class 0xFF.
                if (readPCIheader(static_cast<unsigned char>(bus), static_cast<unsigned char>(dev),
                                  static_cast<unsigned char>(func)) != 0)
                    continue;
                if (m_dev.getClassCode() == ClassCode && m_dev.getSubClassCode() == SubClassCode) return 1;
            }
    return 0;
}
