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

int PCIscan::readPCIheader(unsigned char bus, unsigned char dev, unsigned char func) {
    unsigned int words[16];
    for (unsigned int r = 0; r < 16; ++r) {
        if (!m_InitOK) {
            words[r] = 0xFFFFFFFFu;
            continue;
        }
        // PCI Local Bus 3.0 3.2.2.3.2: enable bit, bus, device, function, register.
        unsigned long address = 0x80000000UL | static_cast<unsigned long>(bus) << 16 |
                                static_cast<unsigned long>(dev & 0x1F) << 11 |
                                static_cast<unsigned long>(func & 0x07) << 8 | ((4 * r) & 0xFC);
        out(static_cast<unsigned short>(m_ConfigAddress), address);
        words[r] = static_cast<unsigned int>(in(static_cast<unsigned short>(m_DataAddress)));
    }
    m_dev.setHeader(words);
    m_dev.setBusNo(0);
    m_dev.setDevNo(0);
    m_dev.setFuncNo(0);
    unsigned short vendor = m_dev.getVendorID();
    if (vendor == 0xFFFF || vendor == 0) return -1;
    m_dev.setBusNo(bus);
    m_dev.setDevNo(dev);
    m_dev.setFuncNo(func);
    return 0;
}

int PCIscan::getAllDevice(std::list<PCIdevice>& devices) {
    devices.clear();
    int found = 0;
    // Every function number of every device is read: the multifunction bit is not trusted.
    for (int bus = 0; bus < kBuses; ++bus)
        for (int dev = 0; dev < 32; ++dev)
            for (int func = 0; func < 8; ++func) {
                if (readPCIheader(static_cast<unsigned char>(bus), static_cast<unsigned char>(dev),
                                  static_cast<unsigned char>(func)) != 0)
                    continue;
                if (++found > kMaxDevices) return -1;
                devices.push_back(m_dev);
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
