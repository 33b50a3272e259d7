// The current server's disks' answers to the health commands, made from the answers QEMU's
// own disks gave in the system test's guest (tests/data/disks/qemu-6.1/answers: its AHCI and
// PIIX IDE disks' IDENTIFY, SMART and threshold pages, its NVMe controller's health log),
// with the current server's names in the identify pages and these changes, each with its
// checksum made right again:
//   sda  (AHCI)      QEMU's AHCI disk, plus a slot for attribute 197: one pending sector
//   sdb  (AHCI)      QEMU's AHCI disk, in standby (CHECK POWER MODE 00h): nothing else is read
//   sdc  (PIIX IDE)  QEMU's PIIX disk as it answered
//   nvme0            QEMU's log, with the counters of a drive that has worked for years
// The SAS disk has no health answers: SCSI disks are "not available".
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/DiskHealth.h"
#include "sim/machines/current-server/parts.h"

namespace current_server {

namespace {

namespace fs = std::filesystem;

// Byte 511 of a SMART page, and of an identify page signed A5h in byte 510, makes the
// page's bytes sum to zero.
void Checksum(sim::Page& page) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + page[i]);
    page[511] = static_cast<std::uint8_t>(-sum);
}

// An identify string as the disk sends it: two characters a word, the first in the high byte.
void PutString(sim::Page& identify, std::size_t word, std::size_t words, const std::string& text) {
    for (std::size_t i = 0; i < 2 * words; ++i)
        identify[2 * word + (i ^ 1)] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
}

void Rename(sim::AtaHealth& health, const std::string& serial, const std::string& firmware, const std::string& model) {
    if (!health.identify) return;
    PutString(*health.identify, 10, 10, serial);
    PutString(*health.identify, 23, 4, firmware);
    PutString(*health.identify, 27, 20, model);
    if ((*health.identify)[510] == 0xA5) Checksum(*health.identify);
}

// Attribute 197 (current pending sector count) with `pending` in its raw value, in the first
// free slot of the data page and of the threshold page (threshold 0: it never fails).
void AddPending(sim::AtaHealth& health, std::uint64_t pending) {
    for (sim::Page* page : {&*health.data, &*health.thresholds}) {
        std::size_t slot = 0;
        while (slot < 30 && (*page)[2 + 12 * slot] != 0) ++slot;
        if (slot == 30) return;
        std::uint8_t* p = page->data() + 2 + 12 * slot;
        std::memset(p, 0, 12);
        p[0] = 197;
        if (page == &*health.data) {
            p[1] = 0x32;  // flags: online, event count
            p[3] = 100;   // current
            p[4] = 100;   // worst
            for (int i = 0; i < 6; ++i) p[5 + i] = static_cast<std::uint8_t>(pending >> (8 * i));
        }
        Checksum(*page);
    }
}

void PutCounter(sim::Page& log, std::size_t offset, std::uint64_t value) {
    for (int i = 0; i < 16; ++i) log[offset + i] = i < 8 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0;
}

bool Fail(const std::string& error) {
    std::fprintf(stderr, "current server disk health: %s\n", error.c_str());
    return false;
}

}  // namespace

bool write_disk_health(const std::string& dir) {
    const fs::path answers = QARVEL_DISK_ANSWERS, dev = fs::path(dir) / "dev";
    std::shared_ptr<sim::AtaHealth> ahci, piix;
    std::string error;
    if (!sim::load_ata_health(answers, "sdc", ahci, error) || !sim::load_ata_health(answers, "sda", piix, error))
        return Fail(error);
    if (!ahci || !piix || !ahci->data || !ahci->thresholds) return Fail("no QEMU answers in " + answers.string());

    sim::AtaHealth sata2t = *ahci;
    Rename(sata2t, "HGS2T-2207-418830", "MN6OA800", "HGT SATA-2T 7200");
    AddPending(sata2t, 1);
    sim::AtaHealth ssd = *ahci;
    Rename(ssd, "HGS480-2101-007731", "SBFD00B1", "HGT SSD-480 SATA");
    ssd.powerMode = 0x00;
    sim::AtaHealth legacy = *piix;
    Rename(legacy, "HGA80-1102-553071", "34.06J34", "HGT ATA-80G 7200");
    if (!sim::save_ata_health(dev, "sda", sata2t, error) || !sim::save_ata_health(dev, "sdb", ssd, error) ||
        !sim::save_ata_health(dev, "sdc", legacy, error))
        return Fail(error);

    std::ifstream in(answers / "nvme0.nvme-health", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (bytes.str().size() != 512) return Fail("no QEMU NVMe health log in " + answers.string());
    sim::Page log;
    std::memcpy(log.data(), bytes.str().data(), log.size());
    log[5] = 3;                            // percentage used
    PutCounter(log, 32, 41234567);         // data units read (thousands of 512 bytes)
    PutCounter(log, 48, 29876543);         // data units written
    PutCounter(log, 112, 212);             // power cycles
    PutCounter(log, 128, 26301);           // power-on hours
    PutCounter(log, 144, 7);               // unsafe shutdowns
    std::ofstream out(dev / "nvme0.nvme-health", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
    return out ? true : Fail("cannot write " + (dev / "nvme0.nvme-health").string());
}

}  // namespace current_server
