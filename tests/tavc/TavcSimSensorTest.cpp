// What the simulated sensor ends up doing after the driver programmed it:
// window, clocks, pacing, integration time, gains and temperature.
#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

TEST_F(TavcTest, InitialisedSensorRunsOnTheControllersClock) {
  OpenAndInit();
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.inputClockMhz, 48u);
  // The table reset the sensor: the PLL is bypassed until a clock is chosen.
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, 48.0);
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, camera_->GetCMOSClk());
  // Gain 50 at 48 MHz: coarse step x8, digital 36/32.
  EXPECT_EQ(s.analogGain, 8);
  EXPECT_EQ(s.greenGain1, 36);
  EXPECT_EQ(s.greenGain2, 36);
  // The sensor reports about room temperature.
  EXPECT_NEAR(camera_->GetSensorTemp(), 25.0f, 0.01f);
}

TEST_F(TavcTest, FullFrameIsPacedAtTheChosenShareOfTheLink) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_8BIT));
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.x, 0);
  EXPECT_EQ(s.y, 2);
  EXPECT_EQ(s.width, 1280);
  EXPECT_EQ(s.height, 960);
  EXPECT_EQ(s.frameLength, 986u);
  EXPECT_EQ(s.lineLength, 1854u);
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, 50.0);
  EXPECT_FALSE(s.sixteenBit);
  // 80 % of 42 bytes per microsecond for a frame of 1280 x 960 bytes.
  const double pacedUs = 1280.0 * 960 * 100 / (42.0 * 80);
  EXPECT_NEAR(s.framePeriodUs, pacedUs, 0.001 * pacedUs);
  // The default 33 ms exposure, to within one line.
  EXPECT_NEAR(s.integrationUs, 33000.0, 1854 / 50.0);
}

TEST_F(TavcTest, SixteenBitFrameRunsAtHalfClockWithTheSamePacing) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_16BIT));
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_TRUE(s.sixteenBit);
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, 25.0);
  const double pacedUs = 2.0 * 1280 * 960 * 100 / (42.0 * 80);
  EXPECT_NEAR(s.framePeriodUs, pacedUs, 0.001 * pacedUs);
}

TEST_F(TavcTest, LongLineExposureHoldsItsTimeAndStretchesTheFrame) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  ASSERT_TRUE(camera_->SetExp(1000000, false));
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.lineLength, 12287u);
  EXPECT_NEAR(s.integrationUs, 1000000.0, 12287 / s.pixelClockMhz);
  EXPECT_GE(s.framePeriodUs, s.integrationUs);
}

TEST_F(TavcTest, EveryWindowClockComesFromItsPll) {
  OpenAndInit();
  const struct {
    int width, height, bin;
    IMAGE_TYPE type;
    double mhz;
  } cases[] = {{1280, 960, 1, IMAGE_8BIT, 50},  {1024, 768, 1, IMAGE_8BIT, 63}, {960, 720, 1, IMAGE_8BIT, 66},
               {800, 640, 1, IMAGE_8BIT, 80},   {800, 640, 1, IMAGE_16BIT, 40}, {480, 320, 1, IMAGE_16BIT, 50},
               {320, 240, 1, IMAGE_16BIT, 80},  {640, 480, 2, IMAGE_16BIT, 25}};
  for (const auto& c : cases) {
    ASSERT_TRUE(camera_->SetResolution(c.width, c.height, c.bin, c.type)) << c.width << "x" << c.height;
    const okc::sim::SimSensorState s = sim_->Sensor();
    // 62 MHz is nominal: the PLL makes 63.
    EXPECT_NEAR(s.pixelClockMhz, c.mhz, 0.01) << c.width << "x" << c.height;
    EXPECT_EQ(s.width, c.width * c.bin);
    EXPECT_EQ(s.height, c.height * c.bin);
  }
}

TEST_F(TavcTest, TwentyFourMegahertzModeBypassesThePll) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  ASSERT_TRUE(camera_->SetCMOSClk(24));
  okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.inputClockMhz, 24u);
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, 24.0);
  EXPECT_EQ(s.coarseGain & 0x4000, 0x4000);
  EXPECT_EQ(s.width, 640);
  ASSERT_TRUE(camera_->SetCMOSClk(80));
  s = sim_->Sensor();
  EXPECT_EQ(s.inputClockMhz, 48u);
  EXPECT_DOUBLE_EQ(s.pixelClockMhz, 80.0);
}

TEST_F(TavcTest, BlackLevelAndChannelGainsReachTheSensor) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetBrightness(3));
  ASSERT_TRUE(camera_->SetGain(20, false));
  camera_->SetRGBBalance(110, 55, false);
  const okc::sim::SimSensorState s = sim_->Sensor();
  EXPECT_EQ(s.blackLevel, 48);
  EXPECT_EQ(s.analogGain, 2);
  EXPECT_EQ(s.greenGain1, 40);
  EXPECT_EQ(s.redGain, 100 * 40 / 55);
  EXPECT_EQ(s.blueGain, 40);
}

}  // namespace
}  // namespace okc::test
