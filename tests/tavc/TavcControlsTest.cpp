// Exposure, gain, white balance, black level, pacing, flips and temperature of
// the TAVC, checked against the registers the simulated camera received.
#include <tuple>

#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

// Full frame, 8-bit, 50 MHz, paced at the default 80 % (automatic).
class TavcFullFrameTest : public TavcTest {
 protected:
  void SetUp() override {
    TavcTest::SetUp();
    OpenAt(1280, 960);
  }
};

TEST_F(TavcFullFrameTest, ExposureIsClampedAndWrittenInLines) {
  EXPECT_EQ(camera_->lineLength, 1854);
  EXPECT_EQ(Registers({0x300C, 0x3012}), (Values{1854, (33000u * 50 - 26) / 1854}));  // the default 33 ms
  EXPECT_NEAR(sim_->Sensor().integrationUs, 33000.0, 1854 / 50.0);
  EXPECT_TRUE(camera_->SetExp(10, true));
  EXPECT_EQ(std::tuple(camera_->exposure.load(), camera_->autoExp, sim_->Register(0x3012)), std::tuple(64ull, true, 1));
  for (unsigned long long tooLong : {2000000000ull, ~0ull}) {
    camera_->SetExp(tooLong, false);
    EXPECT_EQ(camera_->exposure, 999000000u);
  }
}

TEST_F(TavcFullFrameTest, LongExposuresStretchTheLineThenLeaveTheRegisterToTheHost) {
  ASSERT_TRUE(camera_->SetExp(1000000, false));
  EXPECT_EQ(camera_->lineLength, 12287);
  EXPECT_EQ(Registers({0x300C, 0x3012}), (Values{12287, 4069}));
  EXPECT_FALSE(camera_->longExposure);
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_NEAR(s.integrationUs, 1000000.0, 12287 / 50.0);
  EXPECT_GE(s.framePeriodUs, s.integrationUs);
  // Back below 600 ms: the paced line returns.
  ASSERT_TRUE(camera_->SetExp(30000, false));
  EXPECT_EQ(Registers({0x300C, 0x3012}), (Values{1854, (30000u * 50 - 26) / 1854}));

  ASSERT_TRUE(camera_->SetExp(20000000, false));
  EXPECT_TRUE(camera_->longExposure);
  EXPECT_EQ(camera_->exposureLines, 81386u);
  EXPECT_EQ(sim_->Register(0x3012), 4095);
  // A new window ends the running exposure but keeps the mode...
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  EXPECT_EQ(sim_->VendorRequests(0xAF).size(), 1u);
  EXPECT_TRUE(camera_->longExposure);
  EXPECT_EQ(Registers({0x3008, 0x3012}), (Values{320 + 640 - 1, 4095}));
  // ...and while the host times the exposure the register is left alone.
  sim_->ClearRequests();
  EXPECT_TRUE(camera_->SetExp(50000, false));
  EXPECT_TRUE(Writes().empty());
}

TEST_F(TavcFullFrameTest, ExposureAboveOneMinuteIsTimedByTheHost) {
  // At 6 MHz a minute fits the register; the one-minute limit alone decides.
  ASSERT_TRUE(camera_->SetCMOSClk(6));
  ASSERT_TRUE(camera_->SetExp(59000000, false));
  EXPECT_FALSE(camera_->longExposure);
  EXPECT_EQ(sim_->Register(0x3012), (59000000ull * 6 - 26) / 12287);
  ASSERT_TRUE(camera_->SetExp(61000000, false));
  EXPECT_TRUE(camera_->longExposure);
}

TEST_F(TavcFullFrameTest, GainBandsAndChannelGains) {
  const struct {
    int gain;
    uint16_t coarse, digital, red, blue;
  } cases[] = {{16, 0x1300, 64, 52 * 64 / 55, 95 * 64 / 55},
               {17, 0x1310, 34, 52 * 34 / 55, 95 * 34 / 55},
               {33, 0x1320, 34, 52 * 34 / 55, 95 * 34 / 55},
               {100, 0x1330, 136, 128, 234}};
  for (const auto& c : cases) {
    sim_->ClearRequests();
    ASSERT_TRUE(camera_->SetGain(c.gain, false));
    const std::vector<RegisterWrite> expected = {
        {0x30B0, c.coarse}, {0x3056, c.digital}, {0x305C, c.digital}, {0x305A, c.red}, {0x3058, c.blue}};
    EXPECT_EQ(Writes(), expected) << "gain " << c.gain;
  }
  bool automatic = false;
  camera_->SetGain(0, true);
  EXPECT_EQ(camera_->GetGain(&automatic), 1);
  EXPECT_TRUE(automatic);
  camera_->SetGain(500, false);
  EXPECT_EQ(camera_->GetGain(&automatic), 100);
}

// While capturing, the capture engine writes exposure and gain; balance goes out at once.
TEST_F(TavcFullFrameTest, ExposureAndGainWhileCapturingAreOnlyStored) {
  EXPECT_TRUE(camera_->SetMisc(false, true));  // flips are done in software
  camera_->capturing = true;
  EXPECT_TRUE(camera_->SetGain(70, true));
  EXPECT_TRUE(camera_->SetExp(5000, true));
  EXPECT_TRUE(sim_->VendorRequests().empty());
  camera_->SetRGBBalance(55, 0, true);
  camera_->capturing = false;
  // Scaled from the stored gain 70 (digital 76): a balance of 55 equals the green gain.
  const std::vector<RegisterWrite> balance = {{0x305A, 76}, {0x3058, 76 / 55}};
  EXPECT_EQ(Writes(), balance);
  EXPECT_EQ(std::tuple(camera_->wbBlue, camera_->autoWB, camera_->flipColumn), std::tuple(1, true, true));
  EXPECT_TRUE(camera_->SetGain());
  EXPECT_TRUE(camera_->SetExp());
  EXPECT_EQ(Registers({0x3056, 0x3012}), (Values{2 * 70 - 64, (5000u * 50 - 26) / 1854}));
}

TEST_F(TavcFullFrameTest, BlackLevelAndGainsReachTheSensor) {
  const struct {
    int brightness, stored;
    uint16_t level;
  } cases[] = {{3, 3, 48}, {-3, 0, 0}, {5000, 16, 256}};
  for (const auto& c : cases) {
    EXPECT_TRUE(camera_->SetBrightness(c.brightness));
    EXPECT_EQ(camera_->brightness, c.stored);
    EXPECT_EQ(sim_->Sensor().blackLevel, c.level) << c.brightness;
  }
  ASSERT_TRUE(camera_->SetGain(20, false));
  camera_->SetRGBBalance(110, 55, false);  // red taken as 100
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.analogGain, 2);
  EXPECT_EQ(std::tuple(s.greenGain1, s.redGain, s.blueGain), std::tuple(40, 100 * 40 / 55, 40));
}

TEST_F(TavcFullFrameTest, PacingPercentageRangeAndAutomaticStart) {
  int percent = 0;
  bool automatic = true;
  EXPECT_TRUE(camera_->SetFPSPerc(30, false));
  EXPECT_TRUE(camera_->GetFPSPerc(&percent, &automatic));
  EXPECT_EQ(std::pair(percent, automatic), std::pair(40, false));
  EXPECT_EQ(sim_->Register(0x300C), 3709);  // 40 % of the link: a longer line
  // Switching automatic pacing on starts it at 80 %, whatever was asked.
  EXPECT_TRUE(camera_->SetFPSPerc(60, true));
  camera_->GetFPSPerc(&percent, &automatic);
  EXPECT_EQ(std::pair(percent, automatic), std::pair(80, true));
  EXPECT_EQ(sim_->Register(0x300C), 1854);
  EXPECT_TRUE(camera_->SetFPSPerc(60, true));  // already automatic: the value is taken
  EXPECT_EQ(camera_->fpsPercent, 60);
  camera_->SetFPSPerc(250, false);
  EXPECT_EQ(camera_->fpsPercent, 100);
}

TEST_F(TavcFullFrameTest, PacingCapsTheIntegrationAndKeepsTheLongLine) {
  ASSERT_TRUE(camera_->SetExp(500000, false));
  EXPECT_EQ(sim_->Register(0x3012), (500000u * 50 - 26) / 1854);
  ASSERT_TRUE(camera_->SetFPSPerc(80, true));
  EXPECT_EQ(sim_->Register(0x3012), 4095);
  ASSERT_TRUE(camera_->SetExp(1000000, false));
  sim_->ClearRequests();
  EXPECT_FALSE(camera_->SetFPSPerc(50, false));
  EXPECT_EQ(camera_->fpsPercent, 50);
  EXPECT_EQ(camera_->lineLength, 12287);
  EXPECT_TRUE(sim_->VendorRequests().empty());
}

TEST_F(TavcTest, TemperatureFromTheCalibrationWords) {
  int ordinal = 0;
  const auto openWith = [&](uint16_t calA, uint16_t calB, uint16_t reading) {
    Attach();  // a further camera: the calibration is fetched afresh
    sim_->SetRegister(0x30C6, calA);
    sim_->SetRegister(0x30C8, calB);
    sim_->SetRegister(0x30B2, reading);
    ASSERT_TRUE(camera_->OpenCamera(++ordinal));
  };
  openWith(400, 400, 420);  // equal words: the typical sensor's line
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 0.75f * 420 - 280.0f);
  openWith(0, 0, 400);  // zero words are asked for again
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 20.0f);
  sim_->SetRegister(0x30C6, 467);
  sim_->SetRegister(0x30C8, 447);
  sim_->SetRegister(0x30B2, 407);
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 25.0f);
  // Good words are kept; later calls read only the sensor.
  sim_->ClearRequests();
  sim_->SetRegister(0x30C6, 500);
  sim_->SetRegister(0x30B2, 447);
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 55.0f);
  sim_->SetRegister(0x30B2, 0);  // no reading: the last temperature stands
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 55.0f);
  for (const auto& r : sim_->VendorRequests(0xA7)) EXPECT_EQ(r.value, 0x30B2);
}

TEST_F(TavcTest, SettersOnAClosedCameraStoreAndSendNothing) {
  Attach();
  EXPECT_FALSE(camera_->SetExp(10, true));
  EXPECT_FALSE(camera_->SetGain(0, false));
  camera_->SetRGBBalance(0, 300, true);
  EXPECT_FALSE(camera_->SetBrightness(99));
  EXPECT_FALSE(camera_->SetFPSPerc(30, false));
  EXPECT_EQ(std::tuple(camera_->exposure.load(), camera_->gain, camera_->wbRed, camera_->wbBlue),
            std::tuple(64ull, 1, 1, 100));
  EXPECT_EQ(std::pair(camera_->brightness, camera_->fpsPercent), std::pair(16, 40));
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
