// Opening a TAVC and initialising its sensor, checked against the simulated camera.
#include <algorithm>

#include "models/TavcRegisterTable.h"
#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

TEST_F(TavcTest, OpensTheFirstCameraAndReadsItsFirmwareVersion) {
  Attach();
  ASSERT_TRUE(camera_->OpenCamera(1));
  EXPECT_TRUE(camera_->opened);
  EXPECT_EQ(camera_->GetFWVer(), 3);
  EXPECT_EQ(sim_->VendorRequests(0xAD).size(), 1u);
  // Already open: nothing more is asked.
  EXPECT_TRUE(camera_->OpenCamera(1));
  EXPECT_EQ(sim_->VendorRequests(0xAD).size(), 1u);
}

TEST_F(TavcTest, OrdinalsBeyondTheAttachedCamerasFail) {
  Attach();
  EXPECT_FALSE(camera_->OpenCamera(2));
  EXPECT_FALSE(camera_->OpenCamera(0));
  EXPECT_FALSE(camera_->OpenCamera(-1));
  EXPECT_FALSE(camera_->opened);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

TEST_F(TavcTest, SecondCameraOfTheModelIsFoundByOrdinal) {
  okc::sim::SimDeviceOptions first;
  first.firmwareVersion = 4;
  Attach(first);
  auto second = bus_->Attach(okc::sim::Model::TAVC);
  ASSERT_TRUE(camera_->OpenCamera(2));
  EXPECT_EQ(camera_->GetFWVer(), 3);
  EXPECT_TRUE(sim_->VendorRequests(0xAD).empty());
  EXPECT_EQ(second->VendorRequests(0xAD).size(), 1u);
}

TEST_F(TavcTest, ForeignManufacturerIsRefused) {
  okc::sim::SimDeviceOptions options;
  options.manufacturer = "ACME Imaging";
  Attach(options);
  EXPECT_FALSE(camera_->OpenCamera(1));
  EXPECT_FALSE(camera_->opened);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

TEST_F(TavcTest, OldFirmwareOpensWithoutReload) {
  okc::sim::SimDeviceOptions options;
  options.firmwareVersion = 2;
  Attach(options);
  ASSERT_TRUE(camera_->OpenCamera(1));
  EXPECT_EQ(camera_->GetFWVer(), 2);
  EXPECT_TRUE(sim_->VendorRequests(0xA0).empty());
  EXPECT_EQ(sim_->PortCycles(), 0);
}

TEST_F(TavcTest, InitCameraNeedsAnOpenCamera) {
  Attach();
  EXPECT_FALSE(camera_->InitCamera());
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

TEST_F(TavcTest, InitCameraReplaysTheTableAfterClockSamplesAndStop) {
  Attach();
  ASSERT_TRUE(camera_->OpenCamera(1));
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->InitCamera());
  EXPECT_EQ(camera_->GetCMOSClk(), 48);

  const auto requests = sim_->VendorRequests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].request, 0xA4);
  EXPECT_EQ(requests[1].request, 0xAB);
  EXPECT_EQ(requests[2].request, 0xAA);

  std::vector<RegisterWrite> table;
  for (const auto& row : okc::models::TavcInitTable())
    if (row.address != okc::models::kTavcSleepRow) table.emplace_back(row.address, row.value);
  ASSERT_EQ(table.size(), 112u);
  const auto writes = Writes();
  ASSERT_GT(writes.size(), table.size());
  EXPECT_TRUE(std::equal(table.begin(), table.end(), writes.begin()));

  // Then the stored controls: gain 50 at 48 MHz, balance 52/95, black level, pacing.
  EXPECT_EQ(sim_->Register(0x30B0), 0x1330);
  EXPECT_EQ(sim_->Register(0x3056), 36);
  EXPECT_EQ(sim_->Register(0x305C), 36);
  EXPECT_EQ(sim_->Register(0x305A), 52 * 36 / 55);
  EXPECT_EQ(sim_->Register(0x3058), 95 * 36 / 55);
  EXPECT_EQ(LastWrite(0x301E), 0);
  EXPECT_TRUE(LastWrite(0x300C).has_value());
  // The temperature calibration words were fetched.
  std::vector<uint16_t> reads;
  for (const auto& r : sim_->VendorRequests(0xA7)) reads.push_back(r.value);
  EXPECT_NE(std::find(reads.begin(), reads.end(), 0x30C6), reads.end());
  EXPECT_NE(std::find(reads.begin(), reads.end(), 0x30C8), reads.end());
}

TEST_F(TavcTest, InitCameraReportsAVanishedDevice) {
  Attach();
  ASSERT_TRUE(camera_->OpenCamera(1));
  sim_->Unplug();
  EXPECT_FALSE(camera_->InitCamera());
}

TEST_F(TavcTest, ConstructorBringsTheStoredBalanceIntoRangeWithoutSending) {
  {
    auto key = okc::platform::SettingsKey::Create(L"SOFTWARE\\OKCTAVC");
    ASSERT_TRUE(key.has_value());
    const int32_t red = 500, blue = -7;
    ASSERT_TRUE(key->SetNumber(L"WB_Red", &red, sizeof red));
    ASSERT_TRUE(key->SetNumber(L"WB_Blue", &blue, sizeof blue));
    ASSERT_TRUE(key->Close());
  }
  Attach();
  int red = 0, blue = 0;
  bool automatic = true;
  camera_->GetRGBBalance(&red, &blue, &automatic);
  EXPECT_EQ(red, 100);
  EXPECT_EQ(blue, 1);
  EXPECT_FALSE(automatic);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

}  // namespace
}  // namespace okc::test
