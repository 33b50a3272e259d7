// GetStorageInfo: the IDE disks from /proc/ide and their identify data; stripret, lltostr.
#include <cstring>
#include <memory>

#include "sim/Disk.h"
#include "storage/storage.h"
#include "tests/support/fixture.h"

namespace {

struct IdeDrives : qtest::MachineTest {
    // A drive as the kernel shows it, with its block device answering identify.
    void Drive(char letter, const std::string& media, const std::string& model, std::uint64_t sectors,
               std::optional<std::string> serial = std::nullopt) {
        sim::add_ide_proc(*machine, letter, media, model, sectors);
        sim::add_ide_disk(*machine, letter, std::make_shared<sim::SparseDisk>(sectors * 512), serial);
    }
    // The record a caller passes: zeroed, except for a pattern in fields the command does
    // not own, to see that they survive.
    std::unique_ptr<StorageInformation> Inventory() {
        auto info = std::make_unique<StorageInformation>();
        std::memset(info.get(), 0, sizeof *info);
        info->quantitySCSI = 77;
        info->driveArray[0].isRaid = 5;
        std::memset(info->driveArray[0].FirmwareVersion, 'f', 8);
        GetStorageInfo(info.get());
        return info;
    }
    void ExpectEverythingClosed() { EXPECT_EQ(machine->still_open(), std::vector<std::string>{}); }
};

TEST_F(IdeDrives, DiskAndCdromOnlyTheDiskIsListed) {
    Drive('a', "disk", "ST340014A", 78165360, "5JXHD7QZ            ");
    Drive('c', "cdrom", "HL-DT-ST DVD-ROM GDR8163B", 0);
    auto info = Inventory();
    ASSERT_EQ(info->quantityIDE, 1);
    const DriveInfo& d = info->driveArray[0];
    EXPECT_STREQ(d.type, "hdd");
    EXPECT_STREQ(d.model, "ST340014A");
    EXPECT_STREQ(d.size, "40020664320");  // 78165360 sectors of 512 bytes
    EXPECT_STREQ(d.ControllerType, "ide");
    EXPECT_STREQ(d.ControllerNo, "Primary Master");
    EXPECT_STREQ(d.SerialNo, "5JXHD7QZ            ");  // filler spaces kept
    // Not the command's fields: as the caller left them.
    EXPECT_EQ(info->quantitySCSI, 77);
    EXPECT_EQ(d.isRaid, 5);
    EXPECT_EQ(std::string(d.FirmwareVersion), "ffffffff");
    EXPECT_EQ(info->driveArray[1].type[0], '\0');  // the CD-ROM left no trace
    ExpectEverythingClosed();
}

TEST_F(IdeDrives, SlavesOnlyFillTheRecordDensely) {
    Drive('b', "disk", "Maxtor 6Y080L0", 160086528, "Y2ABCDEF");
    Drive('d', "disk", "WDC WD800JB-00JJC0", 156301488, "WD-WCAM91234567");
    auto info = Inventory();
    ASSERT_EQ(info->quantityIDE, 2);
    EXPECT_STREQ(info->driveArray[0].ControllerNo, "Primary Slave");
    EXPECT_STREQ(info->driveArray[0].model, "Maxtor 6Y080L0");
    EXPECT_STREQ(info->driveArray[0].SerialNo, "Y2ABCDEF            ");
    EXPECT_STREQ(info->driveArray[1].ControllerNo, "Secondry Slave");
    EXPECT_STREQ(info->driveArray[1].size, "80026361856");
    EXPECT_STREQ(info->driveArray[1].SerialNo, "WD-WCAM91234567     ");
    ExpectEverythingClosed();
}

TEST_F(IdeDrives, CapacityTextsAreParsedInTheirBase) {
    machine->files.add("/proc/ide/ide0/hda/media", "disk\n");
    machine->files.add("/proc/ide/ide0/hda/capacity", "0x100\n");  // hexadecimal
    machine->files.add("/proc/ide/ide0/hdb/media", "disk");         // no newline at all
    machine->files.add("/proc/ide/ide0/hdb/capacity", "010 sectors\n");  // octal, stops at the blank
    machine->files.add("/proc/ide/ide1/hdc/media", "disk\n");
    machine->files.add("/proc/ide/ide1/hdc/capacity", "0\n");
    machine->files.add("/proc/ide/ide1/hdd/media", "disk\n");
    machine->files.add("/proc/ide/ide1/hdd/capacity", "18014398509481983\n");  // 2^54 - 1 sectors
    auto info = Inventory();
    ASSERT_EQ(info->quantityIDE, 4);
    EXPECT_STREQ(info->driveArray[0].size, "131072");
    EXPECT_STREQ(info->driveArray[1].size, "4096");
    EXPECT_STREQ(info->driveArray[2].size, "");  // zero bytes has no digit
    EXPECT_STREQ(info->driveArray[3].size, "9223372036854775296");
}

TEST_F(IdeDrives, UnreadableFilesAndFailedIdentifyGiveEmptyTexts) {
    Drive('a', "disk", "ST340014A", 78165360);  // identify fails: no serial
    machine->files.deny("/proc/ide/ide0/hda/model");
    machine->files.add("/proc/ide/ide0/hdb/media", "disk\n");  // no capacity file, no device
    auto info = Inventory();
    ASSERT_EQ(info->quantityIDE, 2);
    EXPECT_STREQ(info->driveArray[0].model, "");
    EXPECT_STREQ(info->driveArray[0].size, "40020664320");
    EXPECT_STREQ(info->driveArray[0].SerialNo, "");
    EXPECT_EQ(machine->count(sim::Access::Ioctl, "/dev/hda"), 1u);
    EXPECT_STREQ(info->driveArray[1].size, "");
    EXPECT_STREQ(info->driveArray[1].SerialNo, "");
    EXPECT_STREQ(info->driveArray[1].ControllerNo, "Primary Slave");
    ExpectEverythingClosed();
}

TEST_F(IdeDrives, LongTextsStayInsideTheirFields) {
    std::string long_model(200, 'M');
    machine->files.add("/proc/ide/ide0/hda/media", "disk\n");
    machine->files.add("/proc/ide/ide0/hda/model", long_model);
    machine->files.add("/proc/ide/ide0/hda/capacity", std::string(100, '9'));
    auto info = Inventory();
    ASSERT_EQ(info->quantityIDE, 1);
    EXPECT_EQ(std::string(info->driveArray[0].model), std::string(63, 'M'));
    // The count saturates at 2^63 - 1 sectors; times 512 it wraps to 2^64 - 512 bytes.
    EXPECT_STREQ(info->driveArray[0].size, "18446744073709551104");
}

TEST_F(IdeDrives, WithoutProcIdeNothingIsListed) {
    testing::internal::CaptureStdout();
    auto info = Inventory();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No ide devices.\n");
    EXPECT_EQ(info->quantityIDE, 0);
}

TEST_F(IdeDrives, AnEmptyProcIdeListsNothingQuietly) {
    machine->files.add_directory("/proc/ide");
    machine->files.add_directory("/proc/ide/ide0");  // channel without drives
    testing::internal::CaptureStdout();
    auto info = Inventory();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(info->quantityIDE, 0);
}

TEST_F(IdeDrives, OnlyTheFourClassicPositionsAreLookedAt) {
    Drive('a', "disk", "first", 1000, "S1");
    Drive('e', "disk", "fifth", 1000, "S5");
    Drive('g', "disk", "seventh", 1000, "S7");
    auto info = Inventory();
    EXPECT_EQ(info->quantityIDE, 1);
    for (const sim::Access& a : machine->accesses()) {
        EXPECT_EQ(a.path.find("hde"), std::string::npos) << a.path;
        EXPECT_EQ(a.path.find("ide2"), std::string::npos) << a.path;
        EXPECT_EQ(a.path.find("hdg"), std::string::npos) << a.path;
    }
}

TEST(Stripret, RemovesOneTrailingNewlineOnly) {
    char a[] = "model\n";
    stripret(a);
    EXPECT_STREQ(a, "model");
    char b[] = "model";
    stripret(b);
    EXPECT_STREQ(b, "model");
    char c[] = "model\n\n";
    stripret(c);
    EXPECT_STREQ(c, "model\n");
    char d[] = "";
    stripret(d);
    EXPECT_STREQ(d, "");
    char e[] = "\n";
    stripret(e);
    EXPECT_STREQ(e, "");
}

TEST(Lltostr, DecimalWithoutLeadingZerosAndNothingForZero) {
    char text[32];
    std::memset(text, '#', sizeof text);
    lltostr(text, 0);
    EXPECT_STREQ(text, "");
    lltostr(text, 7);
    EXPECT_STREQ(text, "7");
    lltostr(text, 1000);
    EXPECT_STREQ(text, "1000");
    lltostr(text, 40020664320ULL);
    EXPECT_STREQ(text, "40020664320");
    lltostr(text, 18446744073709551615ULL);
    EXPECT_STREQ(text, "18446744073709551615");
}

}  // namespace
