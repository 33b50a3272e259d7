// The FRU reader: the requests, the common header, the three areas, the field decoders and
// the bounds of every walk.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "IPMI/FRU.h"
#include "sim/Fru.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Fru = BmcTest;

constexpr std::uint8_t kGetFruInfo = 0x10, kReadFru = 0x11;

std::string Text(const unsigned char* text) { return std::string(reinterpret_cast<const char*>(text)); }

// A header with only a product area, at offset 8; the area bytes follow as given.
std::vector<std::uint8_t> ProductOnly(const std::vector<std::uint8_t>& area) {
    std::vector<std::uint8_t> image(8 + area.size());
    const std::uint8_t header[8] = {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFE};
    std::copy(header, header + 8, image.begin());
    std::copy(area.begin(), area.end(), image.begin() + 8);
    return image;
}

// Read FRU Data requests as (offset, count).
std::vector<std::pair<int, int>> Reads(const std::vector<sim::BmcRequest>& requests) {
    std::vector<std::pair<int, int>> reads;
    for (const auto& r : requests) reads.push_back({r.data[1] | r.data[2] << 8, r.data[3]});
    return reads;
}

TEST_F(Fru, HeaderOffsetsAndAnAbsentAreaIsNeverRead) {
    // Board at 1 x 8, product at 10 x 8, no chassis; the checksum byte is F4h.
    std::vector<std::uint8_t> image = {0x01, 0x00, 0x00, 0x01, 0x0A, 0x00, 0x00, 0xF4};
    const auto board = sim::FruImage().board(0, 0, {sim::fru_text("BM")}).bytes();
    image.insert(image.end(), board.begin() + 8, board.end());
    image.resize(80, 0);
    const auto product = sim::FruImage().product(0, {sim::fru_text("PM")}).bytes();
    image.insert(image.end(), product.begin() + 8, product.end());
    bmc->fru0 = image;

    FRU fru;
    EXPECT_TRUE(bmc->log().empty());  // construction sends nothing
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.FRUInfo.FRUInfoSize, image.size());
    EXPECT_EQ(fru.FRUInfo.accessMode, 0);
    EXPECT_EQ(fru.CommomHeaderInfo.version, 1);
    EXPECT_EQ(fru.CommomHeaderInfo.boardAreaStartOffset, 8);
    EXPECT_EQ(fru.CommomHeaderInfo.productInfoAreaStartOffset, 80);
    EXPECT_EQ(fru.CommomHeaderInfo.chassisInfoAreaStartOffset, 0);
    EXPECT_EQ(Text(fru.BoardInfo.ManufacturerInfo.manufacturer), "BM");
    EXPECT_EQ(Text(fru.ProductInfo.ManufacturerNameInfo.manufacturerName), "PM");
    EXPECT_EQ(fru.ChassisInfo.version, 0);

    // Area info, then the header, then each present area's first two bytes and the whole area.
    const auto info = Requests(kStorageNetFn, kGetFruInfo);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].data, std::vector<std::uint8_t>{0});
    EXPECT_EQ(info[0].responder, 0xFF);
    // Board: 6 fixed bytes, "BM", the end marker, padding and checksum make 16 bytes.
    const std::vector<std::pair<int, int>> expected = {{0, 8}, {8, 2}, {8, 16}, {80, 2}, {80, 8}};
    EXPECT_EQ(Reads(Requests(kStorageNetFn, kReadFru)), expected);
    for (const auto& r : Requests(kStorageNetFn, kReadFru)) EXPECT_EQ(r.data[0], 0);  // device 0
}

TEST_F(Fru, EveryFieldOfTheThreeAreas) {
    bmc->fru0 = sim::FruImage()
                    .chassis(0x17, {sim::fru_text("CH-PART"), sim::fru_text("CH-SERIAL")})
                    .board(0, 1234, {sim::fru_text("Board Maker"), sim::fru_text("Board Name"), sim::fru_text("BSN"),
                                     sim::fru_text("BPN")})
                    .product(25, {sim::fru_text("Product Maker"), sim::fru_text("Product Name"),
                                  sim::fru_text("Model-7"), sim::fru_text("v2"), sim::fru_text("PSN"),
                                  sim::fru_text("Asset-1")})
                    .bytes();
    FRU fru;
    char text[64];
    // Before anything was read every text is empty; a null buffer is refused.
    ASSERT_EQ(fru.GetBoardManufacturer(text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(fru.GetProductAssetTag(nullptr), -1);

    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.ChassisInfo.chassisType, 0x17);
    EXPECT_EQ(fru.ProductInfo.languageCode, 25);
    EXPECT_EQ(fru.BoardInfo.boardInfoAreaLength % 8, 0);
    EXPECT_EQ(fru.BoardInfo.ManufacturerInfo.typeCode, 3);
    EXPECT_EQ(fru.BoardInfo.ManufacturerInfo.manufacturerBytesLen, 11);
    struct Getter {
        int (FRU::*get)(char*);
        const char* expected;
    };
    const Getter getters[] = {
        {&FRU::GetBoardManufacturer, "Board Maker"},     {&FRU::GetBoardProductName, "Board Name"},
        {&FRU::GetBoardSerialNumber, "BSN"},             {&FRU::GetBoardPartNumber, "BPN"},
        {&FRU::GetChassisPartNumber, "CH-PART"},         {&FRU::GetChassisSerialNumber, "CH-SERIAL"},
        {&FRU::GetProductManufacturerName, "Product Maker"}, {&FRU::GetProductName, "Product Name"},
        {&FRU::GetProductPartName, "Model-7"},           {&FRU::GetProductVersion, "v2"},
        {&FRU::GetProductSerialNumber, "PSN"},           {&FRU::GetProductAssetTag, "Asset-1"},
    };
    for (const Getter& g : getters) {
        std::memset(text, 0x7E, sizeof text);
        ASSERT_EQ((fru.*g.get)(text), 0);
        EXPECT_STREQ(text, g.expected);
    }
}

TEST_F(Fru, Decoders) {
    FRU fru;
    unsigned char out[80];
    // 6-bit packed: 29 DC A6 is "IPMI"; a leftover byte after the last group is dropped.
    unsigned char ipmi[] = {0x29, 0xDC, 0xA6, 0x21};
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.Decode6BitASC(ipmi, 4, out, 64), 0);
    EXPECT_EQ(Text(out), "IPMI");
    EXPECT_EQ(fru.Decode6BitASC(ipmi, 3, out, 4), -1);  // four characters need room for five
    EXPECT_EQ(fru.Decode6BitASC(nullptr, 3, out, 64), -1);

    // ASCII/Latin-1: whole, or an even count for a 16-bit language.
    unsigned char hello[] = {'H', 'e', 'l', 'l', 'o'};
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeASCLatin(0x01, hello, 5, out, 64), 0);
    EXPECT_EQ(Text(out), "Hell");
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeASCLatin(25, hello, 5, out, 64), 0);
    EXPECT_EQ(Text(out), "Hello");
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeASCLatin(0, hello, 5, out, 3), 0);  // never past the destination
    EXPECT_EQ(Text(out), "Hel");

    // Binary copies bytes; BCD plus is one character per byte: 0-9, space, dash, period.
    unsigned char bcd[] = {0x01, 0x09, 0x0A, 0x0B, 0x0C, 0x05};
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeBCDPLUS(bcd, 6, out, 64), 0);
    EXPECT_EQ(Text(out), "19 -.5");
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeBCDPLUS(bcd, 6, out, 2), 0);
    EXPECT_EQ(Text(out), "19");
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.CopyBinaryByte(bcd, 6, out, 4), 0);
    EXPECT_EQ(std::memcmp(out, bcd, 4), 0);
    EXPECT_EQ(out[4], 0);

    // DecodeByte by type code; anything else decodes nothing.
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeByte(0, 2, ipmi, 3, out, 64), 0);
    EXPECT_EQ(Text(out), "IPMI");
    std::memset(out, 0, sizeof out);
    ASSERT_EQ(fru.DecodeByte(0x01, 3, hello, 5, out, 64), 0);
    EXPECT_EQ(Text(out), "Hell");
    EXPECT_EQ(fru.DecodeByte(0, 1, bcd, 6, out, 64), 0);
    EXPECT_EQ(fru.DecodeByte(0, 4, hello, 5, nullptr, 64), 0);
    EXPECT_EQ(fru.DecodeByte(0, 2, ipmi, 3, out, 4), -1);
    EXPECT_EQ(fru.DecodeByte(0, 0, nullptr, 3, out, 4), -1);
}

// 6-bit fields of 47 and 48 bytes: 60 characters fit the 64-byte text, 64 plus a NUL do not.
TEST_F(Fru, SixBitFieldsUpToWhatTheTextHolds) {
    std::vector<std::uint8_t> packed47(47, 0x00), packed48(48, 0x00);  // all spaces
    for (std::size_t i = 0; i < 47; i += 3) packed47[i] = 0x21;        // "A" every fourth character
    auto image = [](std::vector<std::uint8_t> packed) {
        return sim::FruImage()
            .board(0, 0, {sim::fru_text("Maker"), sim::fru_field(2, packed), sim::fru_text("SN"), sim::fru_text("PN")})
            .product(0, {sim::fru_text("Product Maker")})
            .bytes();
    };
    bmc->fru0 = image(packed47);
    FRU fru;
    ASSERT_EQ(fru.GetBoardInfo(), -1);  // no header read yet: the board area is at offset 0
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    ASSERT_EQ(fru.GetBoardInfo(), 0);
    const std::string name = Text(fru.BoardInfo.ProductNameInfo.productName);
    ASSERT_EQ(name.size(), 60u);
    EXPECT_EQ(name.substr(0, 8), "A   A   ");
    EXPECT_EQ(Text(fru.BoardInfo.PartNumberInfo.PartNumber), "PN");

    bmc->fru0 = image(packed48);
    FRU bigger;
    ASSERT_EQ(bigger.GetFRUInfo(), 0);  // the board area fails, the product area is still read
    EXPECT_EQ(bigger.GetBoardInfo(), -1);
    EXPECT_EQ(Text(bigger.BoardInfo.ManufacturerInfo.manufacturer), "Maker");  // decoded before the failure
    EXPECT_EQ(Text(bigger.BoardInfo.ProductNameInfo.productName), "");
    EXPECT_EQ(bigger.BoardInfo.ProductNameInfo.productNameBytesLen, 48);
    EXPECT_EQ(Text(bigger.BoardInfo.SerialNumberInfo.serialNumber), "");
    EXPECT_EQ(Text(bigger.ProductInfo.ManufacturerNameInfo.manufacturerName), "Product Maker");
}

TEST_F(Fru, TypeLengthBytesC5AndC0AndAnotherLanguage) {
    // Product area by hand: language 01h; manufacturer C5h "Maker" (a 16-bit language takes
    // 4 bytes of 5); name C0h (empty); the model starts at the very next byte.
    std::vector<std::uint8_t> area = {0x01, 0x03, 0x01, 0xC5, 'M', 'a', 'k', 'e', 'r', 0xC0, 0xC2, 'M', '7',
                                      0xC0, 0xC0, 0xC0, 0xC0, 0xC1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    bmc->fru0 = ProductOnly(area);
    FRU fru;
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.ProductInfo.version, 1);
    EXPECT_EQ(fru.ProductInfo.productInfoAreaLength, 24);
    EXPECT_EQ(fru.ProductInfo.ManufacturerNameInfo.typeCode, 3);
    EXPECT_EQ(fru.ProductInfo.ManufacturerNameInfo.manufacturerNameBytesLen, 5);
    EXPECT_EQ(Text(fru.ProductInfo.ManufacturerNameInfo.manufacturerName), "Make");
    EXPECT_EQ(fru.ProductInfo.ProductNameInfo.productNameBytesLen, 0);
    EXPECT_EQ(Text(fru.ProductInfo.ProductNameInfo.productName), "");
    EXPECT_EQ(Text(fru.ProductInfo.PartModuleInfo.PartModule), "M7");
}

TEST_F(Fru, AnAreaOfAnotherVersionIsSkippedAndTheOthersAreRead) {
    auto image = sim::FruImage()
                     .chassis(0x17, {sim::fru_text("CP"), sim::fru_text("CS")})
                     .board(0, 0, {sim::fru_text("BM"), sim::fru_text("BN"), sim::fru_text("BS"), sim::fru_text("BP")})
                     .product(0, {sim::fru_text("PM")})
                     .bytes();
    const std::size_t chassis = image[2] * 8u;
    image[chassis] = 0x02;  // format version 2
    bmc->fru0 = image;
    FRU fru;
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.ChassisInfo.version, 2);
    EXPECT_EQ(Text(fru.ChassisInfo.PartNumberInfo.PartNumber), "");
    EXPECT_EQ(Text(fru.BoardInfo.PartNumberInfo.PartNumber), "BP");
    EXPECT_EQ(Text(fru.ProductInfo.ManufacturerNameInfo.manufacturerName), "PM");
    // Its length byte meant nothing: only its first two bytes were read.
    for (const auto& [offset, count] : Reads(Requests(kStorageNetFn, kReadFru))) {
        if (offset == static_cast<int>(chassis)) {
            EXPECT_EQ(count, 2);
        }
    }
}

// The walk stops at the bytes the BMC returned, whatever the area or field lengths claim.
TEST_F(Fru, TheWalkNeverPassesTheBytesHeld) {
    // The area says 16 bytes; its serial number field claims 40.
    std::vector<std::uint8_t> area = {0x01, 0x02, 0x00, 0xC2, 'P', 'M', 0xC2, 'N', 'a', 0xC2, 'P', 'N',
                                      0xC2, 'P', 'V', 0xE8, 'S', 'N'};
    bmc->fru0 = ProductOnly(area);
    FRU fru;
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.GetProductInfo(), -1);
    EXPECT_EQ(Text(fru.ProductInfo.ProductVersionInfo.ProductVersion), "PV");  // decoded before
    EXPECT_EQ(Text(fru.ProductInfo.SerialNumberInfo.serialNumber), "");

    // The image ends in the middle of an area: the BMC returns what there is.
    std::vector<std::uint8_t> cut = {0x01, 0x04, 0x00, 0xC2, 'P', 'M', 0xC5, 'N', 'a'};
    bmc->fru0 = ProductOnly(cut);
    FRU short_area;
    ASSERT_EQ(short_area.GetFRUInfo(), 0);
    EXPECT_EQ(Text(short_area.ProductInfo.ManufacturerNameInfo.manufacturerName), "PM");
    EXPECT_EQ(Text(short_area.ProductInfo.ProductNameInfo.productName), "");

    // A BMC whose count byte claims more than it sent is believed only for what it sent.
    bmc->fru0 = ProductOnly({0x01, 0x01, 0x00, 0xC3, 'A', 'B', 'C', 0xC1});
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kReadFru) return false;
        if (q.data[1] == 8 && q.data[3] == 8) {
            r.data = {200, 0x01, 0x01, 0x00, 0xC3, 'A'};  // five bytes of the eight
            return true;
        }
        if (q.data[1] == 13) return r.data = {0}, true;  // and nothing more
        return false;
    };
    FRU liar;
    ASSERT_EQ(liar.GetFRUInfo(), 0);
    EXPECT_EQ(liar.GetProductInfo(), -1);
    EXPECT_EQ(liar.ProductInfo.ManufacturerNameInfo.manufacturerNameBytesLen, 0);
}

TEST_F(Fru, LargeAreasAndShortAnswersAreReadInSeveralRequests) {
    // Six fields of 63 characters: a product area of 400 bytes.
    std::vector<sim::FruField> fields;
    for (char c : std::string("ABCDEF")) fields.push_back(sim::fru_text(std::string(63, c)));
    bmc->fru0 = sim::FruImage().product(0, fields).bytes();
    const int length = bmc->fru0[9] * 8;
    ASSERT_GE(length, 256);
    FRU fru;
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.ProductInfo.productInfoAreaLength, length);
    EXPECT_EQ(Text(fru.ProductInfo.AssetTagInfo.AssetTag), std::string(63, 'F'));
    const std::vector<std::pair<int, int>> big = {{0, 8}, {8, 2}, {8, 255}, {8 + 255, length - 255}};
    EXPECT_EQ(Reads(Requests(kStorageNetFn, kReadFru)), big);

    // A BMC that returns at most 32 bytes: the reader asks again from where it stopped.
    bmc->fru_read_limit = 32;
    bmc->clear_log();
    FRU limited;
    ASSERT_EQ(limited.GetFRUInfo(), 0);
    EXPECT_EQ(Text(limited.ProductInfo.SerialNumberInfo.serialNumber), std::string(63, 'E'));
    const auto reads = Reads(Requests(kStorageNetFn, kReadFru));
    ASSERT_EQ(reads.size(), 2u + (length + 31) / 32);
    EXPECT_EQ(reads[3], (std::pair<int, int>{8 + 32, 255}));
    EXPECT_EQ(reads.back(), (std::pair<int, int>{8 + length - length % 32, length % 32}));
}

TEST_F(Fru, FailuresOfTheBmc) {
    bmc->fru0 = sim::FruImage().product(0, {sim::fru_text("Before")}).bytes();
    FRU fru;
    ASSERT_EQ(fru.GetFRUInfo(), 0);

    // An area that cannot be read keeps what it held.
    bmc->fru0 = sim::FruImage().product(0, {sim::fru_text("After")}).bytes();
    bmc->fail_request(bmc->log().size() + 4, sim::completion::kUnspecified);  // the whole-area read
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(Text(fru.ProductInfo.ManufacturerNameInfo.manufacturerName), "Before");
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(Text(fru.ProductInfo.ManufacturerNameInfo.manufacturerName), "After");

    // A header that cannot be read, or shorter than its six used bytes, is no header.
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kReadFru || q.data[1] != 0) return false;
        r.completion = sim::completion::kUnspecified;
        return true;
    };
    EXPECT_EQ(fru.GetFRUInfo(), -1);
    bmc->intercept = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kReadFru || q.data[1] != 0) return false;
        r.data = {5, 1, 0, 0, 0, 1};
        return true;
    };
    EXPECT_EQ(fru.GetFRUInfo(), -1);
    bmc->intercept = nullptr;

    // Without area information nothing else is asked.
    bmc->fail_command(kStorageNetFn, kGetFruInfo, sim::completion::kNotPresent);
    bmc->clear_log();
    EXPECT_EQ(fru.GetFRUInfo(), -1);
    EXPECT_EQ(bmc->count(kStorageNetFn, kReadFru), 0u);
    EXPECT_EQ(Text(fru.ProductInfo.ManufacturerNameInfo.manufacturerName), "After");
}

TEST(FruWithoutDevice, EveryRequestFailsWithoutASend) {
    qtest::ResetLibrary();
    auto machine = std::make_shared<sim::Machine>();
    sim::use(machine);
    FRU fru;
    EXPECT_EQ(fru.IsInitOK(), 0);
    EXPECT_EQ(fru.GetFRUInfo(), -1);
    EXPECT_EQ(fru.GetFRU(), -1);
    EXPECT_EQ(fru.GetCommonHeaderInfo(), -1);
    EXPECT_EQ(machine->count(sim::Access::Ioctl, "/dev/ipmi"), 0u);
}

}  // namespace
