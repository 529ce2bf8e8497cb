// Opening a TAVC and initialising its sensor, checked against the simulated camera.
#include <algorithm>

#include "models/TavcRegisterTable.h"
#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

TEST_F(TavcTest, EachCameraIsOpenedOnceByOrdinal) {
  okc::sim::SimDeviceOptions old;
  old.firmwareVersion = 2;
  Attach(old);
  auto second = bus->Attach(okc::sim::Model::TAVC);
  ASSERT_TRUE(camera_->OpenCamera(1));
  EXPECT_TRUE(camera_->opened);
  EXPECT_EQ(camera_->GetFWVer(), 2);
  // Old firmware is used as it is: no reload, no port cycle.
  EXPECT_TRUE(sim_->VendorRequests(0xA0).empty());
  EXPECT_EQ(sim_->PortCycles(), 0);
  // Already open: nothing more is asked.
  EXPECT_TRUE(camera_->OpenCamera(1));
  EXPECT_EQ(sim_->VendorRequests(0xAD).size(), 1u);
  EXPECT_TRUE(second->VendorRequests().empty());

  CCameraTAVC other;
  ASSERT_TRUE(other.OpenCamera(2));
  EXPECT_EQ(other.GetFWVer(), 3);
  EXPECT_EQ(second->VendorRequests(0xAD).size(), 1u);
  EXPECT_EQ(sim_->VendorRequests(0xAD).size(), 1u);
}

TEST_F(TavcTest, UnknownOrdinalsAndForeignDevicesOpenNothing) {
  Attach();
  for (int ordinal : {2, 0, -1}) EXPECT_FALSE(camera_->OpenCamera(ordinal)) << ordinal;
  EXPECT_FALSE(camera_->InitCamera());
  okc::sim::SimDeviceOptions foreign;
  foreign.model = okc::sim::Model::TAVC;
  foreign.manufacturer = "ACME Imaging";
  auto second = bus->Attach(foreign);
  EXPECT_FALSE(camera_->OpenCamera(2));
  EXPECT_FALSE(camera_->opened);
  EXPECT_TRUE(sim_->VendorRequests().empty());
  EXPECT_TRUE(second->VendorRequests().empty());
}

TEST_F(TavcTest, InitCameraReplaysTheTableAfterClockSamplesAndStop) {
  Attach();
  ASSERT_TRUE(camera_->OpenCamera(1));
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->InitCamera());
  EXPECT_EQ(camera_->GetCMOSClk(), 48);
  const std::vector<uint8_t> commands = Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(std::vector<uint8_t>(commands.begin(), commands.begin() + 3), (std::vector<uint8_t>{0xA4, 0xAB, 0xAA}));

  std::vector<RegisterWrite> table;
  for (const auto& row : okc::models::TavcInitTable())
    if (row.address != okc::models::kTavcSleepRow) table.emplace_back(row.address, row.value);
  ASSERT_EQ(table.size(), 112u);
  const auto writes = Writes();
  ASSERT_GT(writes.size(), table.size());
  EXPECT_TRUE(std::equal(table.begin(), table.end(), writes.begin()));

  // Then the stored controls: gain 50 at 48 MHz, balance 52/95, black level, pacing.
  EXPECT_EQ(Registers({0x30B0, 0x305A, 0x3058, 0x300C}), (Values{0x1330, 52 * 36 / 55, 95 * 36 / 55, camera_->lineLength}));
  // The sensor was reset: the PLL is bypassed until a window picks a clock.
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.inputClockMhz, 48u);
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, 48.0);
  EXPECT_EQ(s.analogGain, 8);
  EXPECT_EQ(s.greenGain1, 36);
  EXPECT_EQ(s.greenGain2, 36);
  EXPECT_EQ(s.blackLevel, 0);
  // The temperature calibration words were fetched; the sensor reports about room temperature.
  size_t calibrationReads = 0;
  for (const auto& r : sim_->VendorRequests(0xA7)) calibrationReads += r.value == 0x30C6 || r.value == 0x30C8;
  EXPECT_EQ(calibrationReads, 2u);
  EXPECT_NEAR(camera_->GetSensorTemp(), 25.0f, 0.01f);
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
