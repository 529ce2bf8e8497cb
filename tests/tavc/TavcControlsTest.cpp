// Exposure, gain, white balance, black level, pacing, flips and temperature of
// the TAVC, checked against the registers the simulated camera received.
#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

class TavcFullFrameTest : public TavcTest {
 protected:
  // Full frame, 8-bit, 50 MHz, paced at the default 80 % (automatic).
  void SetUp() override {
    TavcTest::SetUp();
    OpenAndInit();
    ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_8BIT));
    ASSERT_EQ(camera_->GetCMOSClk(), 50);
    sim_->ClearRequests();
  }
};

TEST_F(TavcFullFrameTest, DefaultPacingGivesLineLength1854) {
  EXPECT_EQ(camera_->lineLength, 1854);
  EXPECT_EQ(sim_->Register(0x300C), 1854);
  // Default exposure 33 ms in lines of 1854 clocks at 50 MHz.
  EXPECT_EQ(sim_->Register(0x3012), (33000u * 50 - 26) / 1854);
  EXPECT_EQ(camera_->exposureLines, (33000u * 50 - 26) / 1854);
}

TEST_F(TavcFullFrameTest, ExposureIsClampedToItsRange) {
  EXPECT_TRUE(camera_->SetExp(10, true));
  EXPECT_EQ(camera_->exposure, 64u);
  EXPECT_TRUE(camera_->autoExp);
  EXPECT_EQ(sim_->Register(0x3012), 1);
  camera_->SetExp(2000000000ull, false);
  EXPECT_EQ(camera_->exposure, 999000000u);
  camera_->SetExp(~0ull, false);
  EXPECT_EQ(camera_->exposure, 999000000u);
}

TEST_F(TavcFullFrameTest, LongExposuresStretchTheLine) {
  ASSERT_TRUE(camera_->SetExp(1000000, false));
  EXPECT_EQ(camera_->lineLength, 12287);
  EXPECT_EQ(sim_->Register(0x300C), 12287);
  EXPECT_EQ(sim_->Register(0x3012), 4069);
  EXPECT_EQ(camera_->exposureLines, 4069u);
  EXPECT_FALSE(camera_->longExposure);
  // Back below 600 ms: the paced line returns.
  ASSERT_TRUE(camera_->SetExp(30000, false));
  EXPECT_EQ(camera_->lineLength, 1854);
  EXPECT_EQ(sim_->Register(0x300C), 1854);
  EXPECT_EQ(sim_->Register(0x3012), (30000u * 50 - 26) / 1854);
}

TEST_F(TavcFullFrameTest, ExposureBeyondTheRegisterEntersLongExposureMode) {
  ASSERT_TRUE(camera_->SetExp(20000000, false));
  EXPECT_TRUE(camera_->longExposure);
  EXPECT_EQ(camera_->exposureLines, 81386u);
  EXPECT_EQ(sim_->Register(0x3012), 0x0FFF);
  // While the host times the exposure the register is left alone.
  sim_->ClearRequests();
  EXPECT_TRUE(camera_->SetExp(50000, false));
  EXPECT_EQ(camera_->exposure, 50000u);
  EXPECT_TRUE(Writes().empty());
}

TEST_F(TavcFullFrameTest, ExposureAboveOneMinuteIsTimedByTheHost) {
  // At 6 MHz a minute fits the integration register; the time limit alone decides.
  ASSERT_TRUE(camera_->SetCMOSClk(6));
  ASSERT_TRUE(camera_->SetExp(59000000, false));
  EXPECT_FALSE(camera_->longExposure);
  EXPECT_EQ(sim_->Register(0x3012), (59000000ull * 6 - 26) / 12287);
  ASSERT_TRUE(camera_->SetExp(61000000, false));
  EXPECT_TRUE(camera_->longExposure);
  EXPECT_EQ(sim_->Register(0x3012), 0x0FFF);
}

TEST_F(TavcFullFrameTest, GainBandsAndChannelGains) {
  struct Case {
    int gain;
    uint16_t coarse, digital, red, blue;
  };
  const Case cases[] = {{16, 0x1300, 64, 52 * 64 / 55, 95 * 64 / 55},
                        {17, 0x1310, 34, 52 * 34 / 55, 95 * 34 / 55},
                        {100, 0x1330, 136, 128, 234}};
  for (const Case& c : cases) {
    sim_->ClearRequests();
    ASSERT_TRUE(camera_->SetGain(c.gain, false));
    const std::vector<RegisterWrite> expected = {
        {0x30B0, c.coarse}, {0x3056, c.digital}, {0x305C, c.digital}, {0x305A, c.red}, {0x3058, c.blue}};
    EXPECT_EQ(Writes(), expected) << "gain " << c.gain;
  }
  camera_->SetGain(0, true);
  bool automatic = false;
  EXPECT_EQ(camera_->GetGain(&automatic), 1);
  EXPECT_TRUE(automatic);
  camera_->SetGain(500, false);
  EXPECT_EQ(camera_->GetGain(&automatic), 100);
}

TEST_F(TavcFullFrameTest, ExposureAndGainWhileCapturingAreOnlyStored) {
  camera_->capturing = true;
  EXPECT_TRUE(camera_->SetGain(70, true));
  EXPECT_TRUE(camera_->SetExp(5000, true));
  camera_->capturing = false;
  EXPECT_TRUE(sim_->VendorRequests().empty());
  EXPECT_EQ(camera_->gain, 70);
  EXPECT_EQ(camera_->exposure, 5000u);
  // The capture engine then applies them.
  EXPECT_TRUE(camera_->SetGain());
  EXPECT_TRUE(camera_->SetExp());
  EXPECT_EQ(sim_->Register(0x3056), 2 * 70 - 64);
  EXPECT_EQ(sim_->Register(0x3012), (5000u * 50 - 26) / 1854);
}

TEST_F(TavcFullFrameTest, WhiteBalanceIsWrittenAtOnceEvenWhileCapturing) {
  camera_->capturing = true;
  camera_->SetRGBBalance(55, 0, true);
  camera_->capturing = false;
  // Gain 50: digital gain 36; a balance of 55 equals the green gain.
  const std::vector<RegisterWrite> expected = {{0x305A, 36}, {0x3058, 0}};
  EXPECT_EQ(Writes(), expected);
  int red = 0, blue = 0;
  bool automatic = false;
  camera_->GetRGBBalance(&red, &blue, &automatic);
  EXPECT_EQ(red, 55);
  EXPECT_EQ(blue, 1);
  EXPECT_TRUE(automatic);
  camera_->SetRGBBalance(101, 100, false);
  EXPECT_EQ(camera_->wbRed, 100);
  EXPECT_EQ(sim_->Register(0x305A), 100 * 36 / 55);
}

TEST_F(TavcFullFrameTest, BrightnessSetsTheBlackLevel) {
  EXPECT_TRUE(camera_->SetBrightness(5));
  EXPECT_EQ(sim_->Register(0x301E), 80);
  EXPECT_TRUE(camera_->SetBrightness(-3));
  EXPECT_EQ(camera_->brightness, 0);
  EXPECT_EQ(sim_->Register(0x301E), 0);
  EXPECT_TRUE(camera_->SetBrightness(5000));
  EXPECT_EQ(camera_->brightness, 16);
  EXPECT_EQ(sim_->Register(0x301E), 256);
}

TEST_F(TavcFullFrameTest, PacingPercentageRangeAndAutomaticStart) {
  EXPECT_TRUE(camera_->SetFPSPerc(30, false));
  int percent = 0;
  bool automatic = true;
  EXPECT_TRUE(camera_->GetFPSPerc(&percent, &automatic));
  EXPECT_EQ(percent, 40);
  EXPECT_FALSE(automatic);
  // 40 % of the link: a longer line.
  EXPECT_EQ(sim_->Register(0x300C), 3709);
  // Switching automatic pacing on starts it at 80 %, whatever was asked.
  EXPECT_TRUE(camera_->SetFPSPerc(60, true));
  camera_->GetFPSPerc(&percent, &automatic);
  EXPECT_EQ(percent, 80);
  EXPECT_TRUE(automatic);
  EXPECT_EQ(sim_->Register(0x300C), 1854);
  // Already automatic: the value is taken.
  EXPECT_TRUE(camera_->SetFPSPerc(60, true));
  EXPECT_EQ(camera_->fpsPercent, 60);
  camera_->SetFPSPerc(250, false);
  EXPECT_EQ(camera_->fpsPercent, 100);
}

TEST_F(TavcFullFrameTest, PacingKeepsTheLongLineOfLongExposures) {
  ASSERT_TRUE(camera_->SetExp(1000000, false));
  sim_->ClearRequests();
  EXPECT_FALSE(camera_->SetFPSPerc(50, false));
  EXPECT_EQ(camera_->fpsPercent, 50);
  EXPECT_FALSE(camera_->autoFps);
  EXPECT_EQ(camera_->lineLength, 12287);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

TEST_F(TavcFullFrameTest, PacingCapsTheIntegrationItWrites) {
  ASSERT_TRUE(camera_->SetExp(500000, false));
  EXPECT_EQ(sim_->Register(0x3012), (500000u * 50 - 26) / 1854);
  ASSERT_TRUE(camera_->SetFPSPerc(80, true));
  EXPECT_EQ(sim_->Register(0x3012), 4095);
  EXPECT_EQ(camera_->exposureLines, 4095u);
}

TEST_F(TavcFullFrameTest, FlipsAreStoredOnly) {
  EXPECT_TRUE(camera_->SetMisc(false, true));
  EXPECT_FALSE(camera_->flipRow);
  EXPECT_TRUE(camera_->flipColumn);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

TEST_F(TavcTest, TemperatureFromTheCalibrationWords) {
  Attach();
  sim_->SetRegister(0x30C6, 467);
  sim_->SetRegister(0x30C8, 447);
  sim_->SetRegister(0x30B2, 407);
  ASSERT_TRUE(camera_->OpenCamera(1));
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 25.0f);
  // The words are read once; later calls read only the sensor.
  sim_->SetRegister(0x30C6, 500);
  sim_->SetRegister(0x30B2, 447);
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 55.0f);
  // No reading: the last temperature stands.
  sim_->SetRegister(0x30B2, 0);
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 55.0f);
  size_t calibrationReads = 0;
  for (const auto& r : sim_->VendorRequests(0xA7)) calibrationReads += r.value == 0x30C6 || r.value == 0x30C8;
  EXPECT_EQ(calibrationReads, 2u);
}

TEST_F(TavcTest, TemperatureFallsBackWhenCalibrationWordsAreEqual) {
  Attach();
  sim_->SetRegister(0x30C6, 400);
  sim_->SetRegister(0x30C8, 400);
  sim_->SetRegister(0x30B2, 420);
  ASSERT_TRUE(camera_->OpenCamera(1));
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 0.75f * 420 - 280.0f);
}

TEST_F(TavcTest, ZeroCalibrationWordsAreAskedForAgain) {
  Attach();
  sim_->SetRegister(0x30C6, 0);
  sim_->SetRegister(0x30C8, 0);
  sim_->SetRegister(0x30B2, 400);
  ASSERT_TRUE(camera_->OpenCamera(1));
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 20.0f);
  sim_->SetRegister(0x30C6, 467);
  sim_->SetRegister(0x30C8, 447);
  sim_->SetRegister(0x30B2, 407);
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 25.0f);
}

TEST_F(TavcTest, SettersOnAClosedCameraStoreAndSendNothing) {
  Attach();
  EXPECT_FALSE(camera_->SetExp(10, true));
  EXPECT_EQ(camera_->exposure, 64u);
  EXPECT_FALSE(camera_->SetGain(0, false));
  EXPECT_EQ(camera_->gain, 1);
  camera_->SetRGBBalance(0, 300, true);
  EXPECT_EQ(camera_->wbRed, 1);
  EXPECT_EQ(camera_->wbBlue, 100);
  EXPECT_TRUE(camera_->autoWB);
  EXPECT_FALSE(camera_->SetBrightness(99));
  EXPECT_EQ(camera_->brightness, 16);
  EXPECT_FALSE(camera_->SetFPSPerc(30, false));
  EXPECT_EQ(camera_->fpsPercent, 40);
  EXPECT_TRUE(camera_->SetMisc(false, false));
  EXPECT_FALSE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  EXPECT_FALSE(camera_->SetStartPos(0, 0));
  EXPECT_FALSE(camera_->SetCMOSClk(80));
  EXPECT_FALSE(camera_->SetOutput16Bits(true));
  EXPECT_FALSE(camera_->Cam_SetResolution());
  camera_->GetSensorTemp();
  EXPECT_EQ(camera_->width, 1280);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

}  // namespace
}  // namespace okc::test
