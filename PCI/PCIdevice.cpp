#include "PCI/PCIdevice.h"

namespace {

unsigned short Low16(unsigned int word) { return static_cast<unsigned short>(word & 0xFFFF); }
unsigned short High16(unsigned int word) { return static_cast<unsigned short>(word >> 16); }
unsigned char Byte(unsigned int word, int index) { return static_cast<unsigned char>(word >> (8 * index)); }

}  // namespace

void PCIdevice::setHeader(const unsigned int (&words)[16]) {
    // Register r holds configuration bytes 4r..4r+3, the lowest address in the low byte.
    header.VendorID = Low16(words[0]);
    header.DeviceID = High16(words[0]);
    header.Command = Low16(words[1]);
    header.Status = High16(words[1]);
    header.RevisionID = Byte(words[2], 0);
    header.ProgIF = Byte(words[2], 1);
    header.SubClassCode = Byte(words[2], 2);
    header.ClassCode = Byte(words[2], 3);
    header.CLS = Byte(words[3], 0);
    header.latency = Byte(words[3], 1);
    header.HeaderType = Byte(words[3], 2);
    header.BIST = Byte(words[3], 3);
    for (int i = 0; i < 6; ++i) header.BaseAddress[i] = words[4 + i];
    header.Reserved1[0] = words[10];
    header.Reserved1[1] = words[11];
    header.ROMBase = words[12];
    header.Reserved2[0] = words[13];
    header.Reserved2[1] = words[14];
    header.INTLine = Byte(words[15], 0);
    header.INTPin = Byte(words[15], 1);
    header.Minlat = Byte(words[15], 2);
    header.MaxLat = Byte(words[15], 3);
}
