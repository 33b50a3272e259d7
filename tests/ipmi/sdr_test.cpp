// Sensor data records: the packed fields of a full record, and the repository requests.
#include <cstring>
#include <vector>

#include "IPMI/SDR.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
using Repository = BmcTest;

// A 64-byte record whose every byte is its own offset plus 0x40, so that each accessor
// shows which byte it reads.
std::vector<unsigned char> Numbered() {
    std::vector<unsigned char> r(64);
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(0x40 + i);
    return r;
}

TEST(SensorRecord, EachAccessorReadsItsOffset) {
    auto bytes = Numbered();
    SDR sdr(bytes.data());
    EXPECT_EQ(sdr.IsInitOK(), 1);
    EXPECT_EQ(sdr.header.RecordID, 0x4140);
    EXPECT_EQ(sdr.GetSensorRecordType(), 0x40 + 3);
    EXPECT_EQ(sdr.GetSensorOwnerID(), 0x40 + 5);
    EXPECT_EQ(sdr.GetSensorOwnerLUN(), 0x40 + 6);
    EXPECT_EQ(sdr.GetSensorNumber(), 0x40 + 7);
    EXPECT_EQ(sdr.GetEntityID(), 0x40 + 8);
    EXPECT_EQ(sdr.GetEntityInstance(), 0x40 + 9);
    EXPECT_EQ(sdr.GetSensorType(), 0x40 + 12);
    EXPECT_EQ(sdr.GetEventType(), 0x40 + 13);
    EXPECT_EQ(sdr.GetThresholdInfo(), (0x40 + 19) << 8 | (0x40 + 18));
    EXPECT_EQ(sdr.GetUnit1(), 0x40 + 20);
    EXPECT_EQ(sdr.GetBaseUnit(), 0x40 + 21);
    EXPECT_EQ(sdr.GetModifierUnit(), 0x40 + 22);
    EXPECT_EQ(sdr.GetLinearization(), 0x40 + 23);
    EXPECT_EQ(sdr.GetM(), 0x40 + 24);
    EXPECT_EQ(sdr.Gettolerance(), 0x40 + 25);
    EXPECT_EQ(sdr.GetB(), 0x40 + 26);
    EXPECT_EQ(sdr.Getaccuracy(), 0x40 + 27);
    EXPECT_EQ(sdr.GetRExp(), 0x40 + 29);
    EXPECT_EQ(sdr.GetSensorReadingMax(), 0x40 + 34);
    EXPECT_EQ(sdr.GetSensorReadingMin(), 0x40 + 35);
    EXPECT_EQ(sdr.body.IDStringTypeLength, 0x40 + 47);
    EXPECT_EQ(sdr.body.IDString[15], 0x40 + 63);
}

TEST(SensorRecord, TenBitFactorsAndFourBitExponents) {
    struct Case {
        unsigned char low, high;
        short expected;
    };
    const Case cases[] = {{0x01, 0x00, 1},   {0xFF, 0xC0, -1},  {0xFE, 0xC0, -2}, {0x00, 0xC0, -256},
                          {0x00, 0x80, -512}, {0xFF, 0x40, 511}, {0x2A, 0x3F, 42}};  // low 6 bits: tolerance
    for (const Case& c : cases) {
        auto bytes = Numbered();
        bytes[24] = c.low;
        bytes[25] = c.high;
        bytes[26] = c.low;
        bytes[27] = c.high;
        SDR sdr(bytes.data());
        EXPECT_EQ(sdr.GetValueM(), c.expected) << int(c.low) << "/" << int(c.high);
        EXPECT_EQ(sdr.GetValueB(), c.expected) << int(c.low) << "/" << int(c.high);
    }
    struct Exponents {
        unsigned char byte;
        int r, k1;
    };
    for (const Exponents& e : {Exponents{0xE2, -2, 2}, Exponents{0x0F, 0, -1}, Exponents{0x80, -8, 0},
                               Exponents{0x7F, 7, -1}}) {
        auto bytes = Numbered();
        bytes[29] = e.byte;
        SDR sdr(bytes.data());
        EXPECT_EQ(sdr.GetRExpValue(), e.r) << int(e.byte);
        EXPECT_EQ(sdr.GetBExpValue(), e.k1) << int(e.byte);
    }
}

TEST(SensorRecord, WithoutARecordEveryFieldReadsAllOnes) {
    auto bytes = Numbered();
    SDR held(bytes.data());
    held = nullptr;  // no longer holds a record; its bytes stay
    SDR empty;
    for (SDR* sdr : {&held, &empty}) {
        EXPECT_EQ(sdr->IsInitOK(), 0);
        EXPECT_EQ(sdr->GetSensorRecordType(), 0xFF);
        EXPECT_EQ(sdr->GetSensorNumber(), 0xFF);
        EXPECT_EQ(sdr->GetUnit1(), 0xFF);
        EXPECT_EQ(sdr->GetSensorReadingMax(), 0xFF);
        EXPECT_EQ(sdr->GetThresholdInfo(), 0xFFFF);
        EXPECT_EQ(sdr->GetValueM(), -1);
        EXPECT_EQ(sdr->GetValueB(), -1);
        EXPECT_EQ(sdr->GetBExpValue(), -1);
        EXPECT_EQ(sdr->GetRExpValue(), -1);
    }
    EXPECT_EQ(held.body.unit1, 0x40 + 20);
    // IsAnalog looks at the byte itself: 0x54 has format 01.
    EXPECT_EQ(held.IsAnalog(), 1);
    held.body.unit1 = 0xC0;
    EXPECT_EQ(held.IsAnalog(), 0);
}

TEST(SensorRecord, NameIsCutToFifteenBytesAndTerminatedAtFifteen) {
    auto bytes = Numbered();
    bytes[47] = 0xC0 | 20;  // longer than the field
    std::memcpy(&bytes[48], "ABCDEFGHIJKLMNOP", 16);
    SDR sdr(bytes.data());
    char name[20];
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(sdr.GetIDstring(name), 0);
    EXPECT_EQ(std::string(name), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(name[16], '#');

    sdr.body.IDStringTypeLength = 0xC0;  // no name
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(sdr.GetIDstring(name), 0);
    EXPECT_EQ(name[0], '#');
    EXPECT_EQ(name[14], '#');
    EXPECT_EQ(name[15], '\0');
    EXPECT_EQ(sdr.GetIDstring(nullptr), -1);
}

TEST_F(Repository, InformationAndReservation) {
    for (int i = 1; i <= 3; ++i) bmc->add_record(Temperature(static_cast<std::uint8_t>(i), "T").record());
    Sensor reader;
    int count = 0, version = 0;
    ASSERT_EQ(reader.GetSDRRepositoryInfo(count, version), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(version, 0x51);
    unsigned short reservation = 0;
    EXPECT_EQ(reader.ReserveSDRRepository(reservation), 0);
    EXPECT_EQ(reservation, 1);
    EXPECT_EQ(reader.ReserveSDRRepository(reservation), 0);
    EXPECT_EQ(reservation, 2);

    // A count cut off the response is no count.
    count = version = 77;
    bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse& r) { return r.data = {0x51, 3}, true; };
    EXPECT_EQ(reader.GetSDRRepositoryInfo(count, version), -1);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(reader.ReserveSDRRepository(reservation), 0);
    EXPECT_EQ(reservation, 0x0351);
    bmc->intercept = nullptr;

    bmc->fail_command(kStorageNetFn, kGetSdrRepositoryInfo, 0xC0);
    EXPECT_EQ(reader.GetSDRRepositoryInfo(count, version), -1);
    EXPECT_EQ(count, 77);
    bmc->fail_command(kStorageNetFn, kReserveSdrRepository, 0xC0);
    EXPECT_EQ(reader.ReserveSDRRepository(reservation), -1);
    EXPECT_EQ(reservation, 0x0351);
}

TEST_F(Repository, RecordsChainToTheLastMarker) {
    std::vector<std::vector<std::uint8_t>> records;
    for (int i = 1; i <= 3; ++i) {
        auto id = bmc->add_record(Temperature(static_cast<std::uint8_t>(i), "Temp " + std::to_string(i)).record());
        records.push_back(bmc->records().back());
        EXPECT_EQ(id, i);
    }
    Sensor reader;
    unsigned char buffer[256] = {};
    EXPECT_EQ(reader.GetSDR(0, 0, buffer, 0xFF), 2);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + records[0].size()), records[0]);
    // A reservation given with a read must be the current one.
    unsigned short reservation = 0;
    ASSERT_EQ(reader.ReserveSDRRepository(reservation), 0);
    EXPECT_EQ(reader.GetSDR(static_cast<unsigned short>(reservation + 1), 2, buffer, 0xFF), -1);
    EXPECT_EQ(reader.GetSDR(reservation, 2, buffer, 0xFF), 3);
    EXPECT_EQ(reader.GetSDR(0, 3, buffer, 0xFF), 0xFFFF);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + records[2].size()), records[2]);

    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(reader.GetSDR(0, 9, buffer, 0xFF), -1);  // no such record
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(reader.GetSDR(0, -1, buffer, 0xFF), -1);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), 5u);  // the negative ID was never sent

    const auto sent = Requests(kStorageNetFn, kGetSdr);
    EXPECT_EQ(sent[2].data, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(reservation & 0xFF),
                                                       static_cast<std::uint8_t>(reservation >> 8), 2, 0, 0, 0xFF}));
    EXPECT_EQ(sent[2].responder, 0xFF);
}

TEST_F(Repository, RecordCopyStaysInsideBothBuffers) {
    Sensor reader;
    std::uint32_t reported = 0;
    std::size_t sent = 0;
    bmc->intercept = [&](const sim::BmcRequest&, sim::BmcResponse& r) {
        r.data.assign(sent, 0x5A);
        r.data[0] = 0x07;  // next record ID 0x5A07
        if (sent > 1) r.data[1] = 0x5A;
        r.reported_length = reported;
        return true;
    };
    // A driver that claims far more than the buffer: at most 254 record bytes, and never more
    // than the caller's buffer takes.
    sent = 256;
    for (std::uint32_t claim : {256u, 257u, 1000u, 0xFFFFFFFFu}) {
        reported = claim;
        std::vector<unsigned char> whole(300, 0x11);
        EXPECT_EQ(reader.GetSDR(0, 0, whole.data(), 0xFF), 0x5A07);
        EXPECT_EQ(whole[253], 0x5A);
        EXPECT_EQ(whole[254], 0x11);
        std::vector<unsigned char> small(24, 0x11);
        EXPECT_EQ(reader.GetSDR(0, 0, small.data(), 16), 0x5A07);
        EXPECT_EQ(small[15], 0x5A);
        EXPECT_EQ(small[16], 0x11);
    }
    // Only the next record ID: the record reads as zeros (which no walk keeps).
    sent = 2;
    reported = 2;
    std::vector<unsigned char> buffer(64, 0x11);
    EXPECT_EQ(reader.GetSDR(0, 0, buffer.data(), 32), 0x5A07);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[31], 0);
    EXPECT_EQ(buffer[32], 0x11);
    std::vector<unsigned char> whole(300, 0x11);
    EXPECT_EQ(reader.GetSDR(0, 0, whole.data(), 0xFF), 0x5A07);
    EXPECT_EQ(whole[253], 0);
    EXPECT_EQ(whole[254], 0x11);  // the zeros, too, stop at the end of the response buffer
    // Not even that: a failure, the buffer untouched.
    sent = 1;
    reported = 1;
    EXPECT_EQ(reader.GetSDR(0, 0, buffer.data(), 32), -1);
    EXPECT_EQ(buffer[32], 0x11);
}

}  // namespace
