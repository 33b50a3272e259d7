// A C++ caller that holds the IPMI facade and the FRU reader itself, linked to the simulated
// library and using nothing but its exported class symbols: what the management agent's
// setup tools do to read the inventory and prepare the BMC's LAN channel. The values come
// from the sample server's source (sim/machines/sample-server/bmc.cpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "IPMI/FRU.h"
#include "IPMI/IPMIsupport.h"

namespace {

class FacadeCaller : public ::testing::Test {
protected:
    // The simulated library loads its machine on first use.
    void SetUp() override { setenv("QARVEL_MACHINE", QARVEL_SAMPLE_MACHINE, 1); }
};

std::string Text(int (IPMIsupport::*getter)(char*), IPMIsupport& facade) {
    char text[64];
    std::memset(text, 0x7E, sizeof text);
    EXPECT_EQ((facade.*getter)(text), 0);
    return std::string(text, strnlen(text, sizeof text));
}

TEST_F(FacadeCaller, ReadsTheInventoryAndPreparesTheLanChannel) {
    auto* facade = new IPMIsupport;
    ASSERT_EQ(facade->IsInitOK(), 1);
    ASSERT_EQ(facade->GetFRUInfo(), 0);
    EXPECT_EQ(Text(&IPMIsupport::GetBoardManufacturer, *facade), "Harrowgate Computing");
    EXPECT_EQ(Text(&IPMIsupport::GetBoardProductName, *facade), "HG-S2D220");
    EXPECT_EQ(Text(&IPMIsupport::GetBoardSerialNumber, *facade), "S2D220-38811");
    EXPECT_EQ(Text(&IPMIsupport::GetBoardPartNumber, *facade), "S2D220-100-B");
    EXPECT_EQ(Text(&IPMIsupport::GetChassisPartNumber, *facade), "HG-CH2U-R2200");
    EXPECT_EQ(Text(&IPMIsupport::GetChassisSerialNumber, *facade), "HGC2504-00731");
    EXPECT_EQ(Text(&IPMIsupport::GetProductManufacturerName, *facade), "Harrowgate Computing");
    EXPECT_EQ(Text(&IPMIsupport::GetProductPartName, *facade), "R2200-2S-8D");
    EXPECT_EQ(Text(&IPMIsupport::GetProductVersion, *facade), "Rev B");
    EXPECT_EQ(Text(&IPMIsupport::GetProductSerialNumber, *facade), "HGR2200-5519027");
    EXPECT_EQ(Text(&IPMIsupport::GetProductAssertTag, *facade), "IT-ASSET-0042");
    char name[64] = {};
    ASSERT_EQ(facade->fru.GetProductName(name), 0);  // no forwarder: through the reader
    EXPECT_STREQ(name, "HG-R2200 Rack Server");

    ChannelInfo channel = {};
    ASSERT_EQ(facade->GetLANChannelInfo(&channel), 0);
    EXPECT_EQ(channel.channelNumber, 2);
    EXPECT_EQ(channel.channelMediatype, IPMIsupport::LAN_802_3);
    EXPECT_EQ(channel.channelProtocoltype, IPMIsupport::IPMB_10);
    EXPECT_EQ(facade->SetUserInfo(3, "operator", "s3cret"), 0);
    LANParameter lan = {channel.channelNumber, {192, 168, 0, 10}, {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E}, {255, 255, 255, 0}};
    EXPECT_EQ(facade->SetLANParameter(lan), 0);
    lan.channelNumber = 1;  // the IPMB is no LAN channel
    EXPECT_EQ(facade->SetLANParameter(lan), -1);

    ASSERT_EQ(facade->GetSensorInfo(), 0);
    EXPECT_EQ(facade->GetFanSensorsNum(), 5);
    EXPECT_EQ(facade->GetVoltSensorsNum(), 7);
    EXPECT_EQ(facade->GetTemSensorsNum(), 5);
    ASSERT_EQ(facade->SetWatchDogTimer(3, 120000), 0);
    int action = 0, initial = 0, present = 0;
    ASSERT_EQ(facade->GetWatchDogTimer(action, initial, present), 0);
    EXPECT_EQ(action, 3);
    EXPECT_EQ(initial, 120000);
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(facade->GetDeviceID(&major, &minor), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 14);
    delete facade;

    // A reader of its own, after the facade has gone: the family opens the device again.
    FRU fru;
    ASSERT_EQ(fru.IsInitOK(), 1);
    ASSERT_EQ(fru.GetFRUInfo(), 0);
    EXPECT_EQ(fru.BoardInfo.languageCode, 0);
    EXPECT_EQ(fru.ChassisInfo.chassisType, 0x17);
    EXPECT_STREQ(reinterpret_cast<const char*>(fru.ProductInfo.AssetTagInfo.AssetTag), "IT-ASSET-0042");
}

}  // namespace
