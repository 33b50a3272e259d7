// BMCs with small buffers: whole-record reads refused, short answers, reservations lost in
// the middle of a record, FRU reads refused above a count. Discovery and the FRU reader
// must find what a roomy BMC gives, and a roomy BMC must cost no more requests than before.
#include <cstdio>
#include <map>
#include <string>

#include "IPMI/FRU.h"
#include "api/exports.h"
#include "sim/Fru.h"
#include "tests/ipmi/fixture.h"

namespace {

using namespace ipmitest;
constexpr std::uint8_t kReadFru = 0x11;

class SmallBmc : public BmcTest {
protected:
    void SetUp() override {
        BmcTest::SetUp();
        sim::FullSensor hot = Temperature(0x01, "Inlet Air Temp 1");  // a full 16-character name
        hot.readable = hot.settable = 0x3F;
        hot.lnr = 5, hot.lc = 10, hot.lnc = 15, hot.unc = 60, hot.uc = 70, hot.unr = 80;
        AddSensor(hot, 33);
        sim::FullSensor volts = Voltage(0x10, "12V");
        volts.m = 6, volts.k2 = -2, volts.readable = volts.settable = 0x1B;
        volts.lc = 175, volts.lnc = 180, volts.unc = 220, volts.uc = 225;
        AddSensor(volts, 200);
        bmc->add_record(sim::CompactSensor{.number = 0x40, .type = 8, .name = "PSU1 Status"}.record());
        AddSensor(Fan(0x30, "FAN1"), 54);
        bmc->add_record(sim::fru_locator(0, 7, 1, "Board FRU"));
        for (const auto& r : bmc->records()) records += 1, bytes += r.size();
    }

    // What discovery found, as text: every table entry's identity, factors and thresholds.
    static std::string Found(Sensor& reader) {
        std::string out;
        auto add = [&out](const SensorDescription& d) {
            char line[256];
            std::snprintf(line, sizeof line, "%s #%u e%u t%u M%d B%d R%d K%d raw %u %u %u %u %u %u set %02X\n",
                          d.IDString, d.SensorNumbers, d.SensorEntityID, d.SensorType, d.sfp.M, d.sfp.B, d.sfp.RExp,
                          d.sfp.BExp, d.stir.LowerNonRecoverThreshold, d.stir.LowerCriticalThreshold,
                          d.stir.LowerNonCriticalThreshold, d.stir.UpperNonCriticalThresholdValue,
                          d.stir.UpperCriticalThresholdValue, d.stir.UpperNonRecoverThresholdValue, d.stir.settableFlag);
            out += line;
        };
        for (int i = 0; i < reader.TSInfo.quantity; ++i) add(reader.TSInfo.sd[i]);
        for (int i = 0; i < reader.VSInfo.quantity; ++i) add(reader.VSInfo.sd[i]);
        for (int i = 0; i < reader.FSInfo.quantity; ++i) add(reader.FSInfo.sd[i]);
        return out;
    }

    // Discovery on a roomy BMC, for comparison; the log is cleared after it.
    std::string Reference() {
        Sensor reader;
        EXPECT_EQ(Discover(reader), 0);
        bmc->clear_log();
        return Found(reader);
    }

    // Get SDR requests a walk of this repository would make in pieces of 16 bytes after a
    // refused whole read: what a small BMC used to cost.
    std::size_t InSixteens() const {
        std::size_t n = 1;
        for (const auto& record : bmc->records()) n += 1 + (record.size() - 5 + 15) / 16;
        return n;
    }

    // Offsets and counts of the Get SDR requests.
    std::vector<std::pair<int, int>> SdrReads() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& r : Requests(kStorageNetFn, kGetSdr)) out.push_back({r.data[4], r.data[5]});
        return out;
    }

    std::size_t records = 0, bytes = 0;
};

TEST_F(SmallBmc, ARoomyBmcGetsOneGetSdrPerRecordAndNoReservation) {
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(bmc->count(kStorageNetFn, kGetSdr), records);
    EXPECT_EQ(bmc->count(kStorageNetFn, kReserveSdrRepository), 0u);
    for (const auto& [offset, count] : SdrReads()) EXPECT_EQ((std::pair<int, int>{offset, count}), (std::pair<int, int>{0, 0xFF}));
    EXPECT_EQ(reader.TSInfo.quantity + reader.VSInfo.quantity + reader.FSInfo.quantity, 3);
}

TEST_F(SmallBmc, RefusedWholeRecordsAreReadHeaderFirstThenTheRestAtOnce) {
    const std::string expected = Reference();
    bmc->refuse_whole_records = true;
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(Found(reader), expected);

    // One whole-record try; after its refusal, one reservation for the whole walk, then per
    // record the 5-byte header and the rest in one piece, as the buffers have room for it.
    const auto reads = SdrReads();
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0], (std::pair<int, int>{0, 0xFF}));
    EXPECT_EQ(bmc->count(kStorageNetFn, kReserveSdrRepository), 1u);
    std::size_t at = 1;
    for (const auto& record : bmc->records()) {
        ASSERT_LT(at + 1, reads.size());
        EXPECT_EQ(reads[at++], (std::pair<int, int>{0, 5}));
        EXPECT_EQ(reads[at++], (std::pair<int, int>{5, static_cast<int>(record.size() - 5)}));
    }
    EXPECT_EQ(reads.size(), 1 + 2 * records);
}

TEST_F(SmallBmc, AnswersCappedAtThirtySixBytesAndSmaller) {
    const std::string expected = Reference();
    // Pieces start at the rest of the record and are halved on each refusal: every size
    // the BMC refused is asked for once, and nothing larger than the first that fitted is
    // asked for after it. `room` is the record bytes an answer holds.
    auto check = [this](std::size_t room) {
        std::map<int, int> refusedSizes;
        int fitted = 0;
        for (const auto& [offset, count] : SdrReads()) {
            if (offset == 0) continue;
            if (static_cast<std::size_t>(count) > room) {
                EXPECT_EQ(fitted, 0) << count;
                EXPECT_EQ(++refusedSizes[count], 1) << count;
            } else if (fitted == 0) {
                fitted = count;
            } else {
                EXPECT_LE(count, fitted);
            }
        }
        return fitted;
    };
    // As ipmi_sim: 36 bytes with the completion code. A full record does not fit whole.
    bmc->answer_limit = 35;
    {
        Sensor reader;
        ASSERT_EQ(Discover(reader), 0);
        EXPECT_EQ(Found(reader), expected);
        EXPECT_GT(check(33), 16);
        EXPECT_LT(SdrReads().size(), InSixteens());
    }
    // The size that fitted is kept: a second walk is refused nothing.
    bmc->clear_log();
    {
        Sensor reader;
        ASSERT_EQ(Discover(reader), 0);
        for (const auto& [offset, count] : SdrReads()) EXPECT_TRUE(count == 0xFF || count <= 33) << count;
    }
    // Room for 12 record bytes only: the pieces shrink on the further refusal, and stay small.
    bmc->answer_limit = 14;
    bmc->clear_log();
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(Found(reader), expected);
    EXPECT_GT(check(12), 0);
}

TEST_F(SmallBmc, AShortPieceSetsThePieceSize) {
    const std::string expected = Reference();
    bmc->refuse_whole_records = true;
    // The BMC gives at most 20 record bytes, and says nothing of it.
    bmc->tamper = [](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd == kGetSdr && r.data.size() > 2 + 20) r.data.resize(2 + 20);
    };
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(Found(reader), expected);
    int first = -1;
    for (const auto& [offset, count] : SdrReads()) {
        if (offset == 0) continue;
        if (first < 0) first = count;
        else EXPECT_LE(count, 20);
    }
    EXPECT_GT(first, 20);  // the first piece asked for the rest of its record
}

TEST_F(SmallBmc, AShortWholeAnswerIsReadAgainInPieces) {
    const std::string expected = Reference();
    // The BMC cuts whole records at 20 bytes and says nothing of it.
    bmc->intercept = [this](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.netfn != kStorageNetFn || q.cmd != kGetSdr || q.data[5] != 0xFF) return false;
        bmc->intercept = nullptr;
        sim::BmcResponse whole = bmc->handle(q);
        bmc->intercept = [](const sim::BmcRequest&, sim::BmcResponse&) { return false; };
        r = whole;
        r.data.resize(std::min<std::size_t>(r.data.size(), 2 + 20));
        return true;
    };
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(Found(reader), expected);
    EXPECT_EQ(bmc->count(kStorageNetFn, kReserveSdrRepository), 1u);
}

TEST_F(SmallBmc, ALostReservationRestartsTheRecordUnderANewOne) {
    const std::string expected = Reference();
    bmc->refuse_whole_records = true;
    // Someone else reserves the repository while the first record's second piece is asked.
    int pieces = 0;
    bmc->intercept = [&pieces](const sim::BmcRequest& q, sim::BmcResponse& r) {
        if (q.cmd != kGetSdr || q.data[4] != 5 || ++pieces != 1) return false;
        r.completion = sim::completion::kReservationInvalid;
        return true;
    };
    Sensor reader;
    ASSERT_EQ(Discover(reader), 0);
    EXPECT_EQ(Found(reader), expected);
    EXPECT_EQ(bmc->count(kStorageNetFn, kReserveSdrRepository), 2u);
    // The record was started over from its header under the new reservation.
    const auto sdr = Requests(kStorageNetFn, kGetSdr);
    std::size_t restart = 0;
    for (std::size_t i = 0; i < sdr.size(); ++i)
        if (sdr[i].data[4] == 5) {
            restart = i;
            break;
        }
    ASSERT_GT(sdr.size(), restart + 1);
    EXPECT_EQ(sdr[restart + 1].data[4], 0);
    EXPECT_EQ(sdr[restart + 1].data[5], 5);
    EXPECT_NE(sdr[restart + 1].data[0] | sdr[restart + 1].data[1] << 8, sdr[restart].data[0] | sdr[restart].data[1] << 8);
}

TEST_F(SmallBmc, ABmcThatCancelsEveryReservationEndsCleanly) {
    bmc->refuse_whole_records = true;
    bmc->reservation_lifetime = 1;  // the header read passes, every piece after it fails
    Sensor reader;
    int count = 0, version = 0;
    ASSERT_EQ(reader.GetSDRRepositoryInfo(count, version), 0);
    EXPECT_EQ(reader.GetSensorNumbers(count), -1);
    // Bounded: a whole try, then nine rounds of reservation, header and first piece.
    EXPECT_EQ(bmc->count(kStorageNetFn, kReserveSdrRepository), 9u);
    EXPECT_EQ(bmc->log().size(), 1u + 1u + 9u * 3u);

    // Through the export: -1, the flag released, and a later call tries again.
    FanInformation fans{};
    EXPECT_EQ(GetIpmiInfo(INFO_FAN, &fans), -1);
    bmc->reservation_lifetime = 0;
    ASSERT_EQ(GetIpmiInfo(INFO_FAN, &fans), 0);
    EXPECT_EQ(fans.quantity, 1);
}

TEST_F(SmallBmc, FruReadsShrinkUntilTheBmcTakesThem) {
    bmc->fru0 = sim::FruImage()
                    .board(0, 0, {sim::fru_text(std::string(40, 'M')), sim::fru_text("Board Name"),
                                  sim::fru_text("SN-0001"), sim::fru_text("PN-9")})
                    .product(0, {sim::fru_text("Maker"), sim::fru_text(std::string(50, 'P'))})
                    .bytes();
    FRU roomy;
    ASSERT_EQ(roomy.GetFRUInfo(), 0);

    for (std::uint8_t code : {sim::completion::kFruCountTooLarge, sim::completion::kCannotReturn}) {
        bmc->clear_log();
        // 34 data bytes and the count byte: ipmi_sim's limit, refused with code C8h or CAh.
        bmc->intercept = [code](const sim::BmcRequest& q, sim::BmcResponse& r) {
            if (q.cmd != kReadFru || q.data[3] <= 34) return false;
            r.completion = code;
            return true;
        };
        FRU limited;
        ASSERT_EQ(limited.GetFRUInfo(), 0);
        char a[64] = {}, b[64] = {};
        for (auto getter : {&FRU::GetBoardManufacturer, &FRU::GetBoardProductName, &FRU::GetBoardSerialNumber,
                            &FRU::GetProductName}) {
            EXPECT_EQ((roomy.*getter)(a), 0);
            EXPECT_EQ((limited.*getter)(b), 0);
            EXPECT_STREQ(a, b);
        }
        // Each refusal halves the count; once a count fits, no later read asks for more.
        int refused = 0, fitted = 0;
        for (const auto& r : Requests(kStorageNetFn, kReadFru)) {
            const int c = r.data[3];
            if (c > 34) {
                ++refused;
                EXPECT_EQ(fitted, 0) << c;
            } else if (fitted == 0 && refused > 0) {
                fitted = c;
            } else if (fitted > 0) {
                EXPECT_LE(c, fitted);
            }
        }
        EXPECT_GE(refused, 1) << static_cast<int>(code);
        EXPECT_LE(refused, 3) << static_cast<int>(code);  // 255 to 31 at most
        EXPECT_GT(fitted, 16);
    }
}

}  // namespace
