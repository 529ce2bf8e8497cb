// RENM's sensor programming against the simulated camera's request log:
// initialisation, window, gain table, exposure rows at the long-exposure
// boundary, the clock switch through the frame-rate percentage and the
// black-level offsets.
#include <tuple>
#include <vector>

#include "RenmFixture.h"

namespace okc::test {
namespace {

class RenmControls : public RenmTest {
 protected:
  void SetUp() override {
    RenmTest::SetUp();
    Open();
  }
};

TEST_F(RenmControls, InitialisationWritesTheSensorSetUpAndStartsTheCalibration) {
  sim->ClearRequests();
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  ASSERT_TRUE(initCamera());
  okc::platform::UseClock(nullptr);
  const std::vector<std::pair<int, int>> writes = Writes();
  const std::vector<std::pair<int, int>> setUp = {{0x29, 0}, {0x3F, 3}, {0x40, 6}, {0x4A, 0x60}, {0x4E, 0x0C}};
  ASSERT_GE(writes.size(), setUp.size() + 1);
  EXPECT_EQ((std::vector<std::pair<int, int>>(writes.begin(), writes.begin() + 5)), setUp);
  // The stored automatic black level: the sensor calibrates.
  EXPECT_EQ(writes[5], std::make_pair(0x62, 0x1498));
  EXPECT_EQ(CommandCount(0xA4), 1u) << "the stored 48 MHz clock";
}

TEST_F(RenmControls, WindowRegistersAndRefusedWindows) {
  ASSERT_TRUE(Cam().SetResolution(1280, 1024, 1, IMAGE_8BIT));
  EXPECT_EQ(LastWrite(0x01), 12);
  EXPECT_EQ(LastWrite(0x02), 20);
  EXPECT_EQ(LastWrite(0x03), 1023);
  EXPECT_EQ(LastWrite(0x04), 1279);
  EXPECT_FALSE(Cam().SetStartPos(0, 0)) << "the full sensor cannot move";
  EXPECT_FALSE(Cam().SetResolution(641, 512, 2, IMAGE_8BIT));
  EXPECT_FALSE(Cam().SetResolution(640, 513, 2, IMAGE_8BIT));
  EXPECT_FALSE(Cam().SetResolution(320, 240, 1, static_cast<IMAGE_TYPE>(5)));

  // Bin 2 reads the full binned window, centred; the sensor reads what was written.
  ASSERT_TRUE(Cam().SetResolution(200, 100, 2, IMAGE_8BIT));
  EXPECT_EQ(LastWrite(0x01), (1024 - 200) / 2 + 12);
  EXPECT_EQ(LastWrite(0x02), (1280 - 400) / 2 + 20);
  EXPECT_EQ(LastWrite(0x03), 199);
  EXPECT_EQ(LastWrite(0x04), 399);
  okc::sim::SimSensorState s = sim->Sensor();
  EXPECT_EQ(std::make_tuple(s.x, s.y, s.width, s.height), std::make_tuple(440, 412, 400, 200));

  // Start positions: even, inside the sensor, not mirrored.
  ASSERT_TRUE(Cam().SetStartPos(-3, 7));
  EXPECT_EQ(LastWrite(0x01), 6 + 12);
  EXPECT_EQ(LastWrite(0x02), 0 + 20);
  ASSERT_TRUE(Cam().SetStartPos(5000, 5000));
  int x = 0, y = 0;
  ASSERT_TRUE(Cam().GetStartPos(&x, &y));
  EXPECT_EQ(std::make_pair(x, y), std::make_pair(1280 - 400, 1024 - 200));
  s = sim->Sensor();
  EXPECT_EQ(std::make_pair(s.x, s.y), std::make_pair(880, 824));
}

TEST_F(RenmControls, GainTableEntriesForEightAndSixteenBitSamples) {
  ASSERT_TRUE(Cam().SetResolution(320, 240, 1, IMAGE_8BIT));
  struct Case {
    int gain;
    bool sixteenBit;
    int entry;
  };
  // 0..22: 10..32, 23..45: 81..103, 46..59: 602..615; 16-bit samples use the first 50 steps.
  const std::vector<Case> cases = {{100, false, 615}, {100, true, 605}, {1, false, 11},  {99, true, 606},
                                   {99, false, 615},  {0, false, 11},   {37, false, 32}, {38, false, 81},
                                   {75, false, 103},  {76, false, 602}, {50, true, 83},  {-7, true, 11},
                                   {250, false, 615}};
  for (const Case& c : cases) {
    Cam().output16Bits = c.sixteenBit;
    sim->ClearRequests();
    EXPECT_TRUE(Cam().SetGain(c.gain, false)) << c.gain;
    EXPECT_EQ(LastWrite(0x35), c.entry) << c.gain << (c.sixteenBit ? " 16-bit" : " 8-bit");
    EXPECT_EQ(sim->Register(0x35), c.entry);
  }
  EXPECT_EQ(Cam().gain, 100) << "clamped";
}

TEST_F(RenmControls, ExposureRowsAndTheLongExposureBoundary) {
  // 48 MHz, a 1280-pixel row of 1524 clocks.
  ASSERT_TRUE(Cam().SetResolution(1280, 1024, 1, IMAGE_8BIT));
  ASSERT_EQ(Cam().cmosClk, 48);
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetExp(100000, false));
  EXPECT_EQ(LastWrite(0x09), 3149);
  EXPECT_EQ(Cam().exposureLines, 3149u);
  EXPECT_FALSE(Cam().longExposure);
  // The last row count the shutter holds, and the first it does not.
  ASSERT_TRUE(Cam().SetExp(519770, false));  // (48 x 519770 + 180) / 1524 = 16370
  EXPECT_EQ(LastWrite(0x09), 16370);
  EXPECT_FALSE(Cam().longExposure);
  EXPECT_EQ(CommandCount(0xA3), 0u);

  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetExp(600000, false));
  EXPECT_EQ(Cam().exposureLines, 18897u);
  EXPECT_TRUE(Cam().longExposure);
  EXPECT_EQ(CommandCount(0xA3), 1u) << "the sensor runs at 24 MHz while the host times it";
  EXPECT_EQ(LastWrite(0x09), -1) << "the shutter register is left alone";
  EXPECT_EQ(Cam().cmosClk, 48) << "the clock chosen stays";
  // Already host-timed: no second clock command, and a short exposure waits for the worker.
  ASSERT_TRUE(Cam().SetExp(700000, false));
  ASSERT_TRUE(Cam().SetExp(1000, false));
  EXPECT_EQ(CommandCount(0xA3), 1u);
  EXPECT_EQ(LastWrite(0x09), -1);
  EXPECT_TRUE(Cam().longExposure);
}

TEST_F(RenmControls, LongExposureRowsAreCountedWithoutOverflow) {
  ASSERT_TRUE(Cam().SetResolution(1280, 1024, 1, IMAGE_8BIT));
  // 48 x 1e9 clocks do not fit 32 bits; the rows are still exact.
  ASSERT_TRUE(Cam().SetExp(1000000000, false));
  EXPECT_EQ(Cam().exposureLines, (48ull * 1000000000 + 180) / 1524);
  ASSERT_TRUE(Cam().SetExp(5000000000ull, false));
  EXPECT_EQ(Cam().exposure, 1000000000u) << "clamped to the maximum";
  EXPECT_TRUE(Cam().longExposure);
}

TEST_F(RenmControls, TenSecondsAndMoreAreHostTimedWhateverTheRows) {
  ASSERT_TRUE(Cam().SetResolution(1280, 1024, 1, IMAGE_8BIT));
  setValue(CTRL_FPS_PERCENT, 1, false);  // 24 MHz: 10 s are 157 480 rows
  ASSERT_TRUE(Cam().SetExp(10000000, false));
  EXPECT_TRUE(Cam().longExposure);
  ASSERT_TRUE(Cam().SetExp(10, false));
  EXPECT_EQ(Cam().exposure, 32u);
}

TEST_F(RenmControls, TheFrameRatePercentageSwitchesThePixelClock) {
  ASSERT_TRUE(Cam().SetResolution(1280, 1024, 1, IMAGE_8BIT));
  ASSERT_TRUE(Cam().SetExp(100000, false));
  sim->ClearRequests();
  setValue(CTRL_FPS_PERCENT, 1, false);
  EXPECT_EQ(CommandCount(0xA3), 1u);
  EXPECT_EQ(sim->SensorClockMhz(), 24u);
  EXPECT_EQ(Cam().cmosClk, 24);
  // The exposure is re-applied at the new clock: half the rows.
  EXPECT_EQ(LastWrite(0x09), (24 * 100000 + 180) / 1524);
  int percent = 0;
  bool automatic = true;
  ASSERT_TRUE(Cam().GetFPSPerc(&percent, &automatic));
  EXPECT_EQ(percent, 1);
  EXPECT_FALSE(automatic);

  ASSERT_TRUE(Cam().SetFPSPerc(2, false));
  EXPECT_EQ(CommandCount(0xA4), 1u);
  EXPECT_EQ(sim->SensorClockMhz(), 48u);
  EXPECT_EQ(LastWrite(0x09), 3149);
  EXPECT_EQ(getValue(CTRL_FPS_PERCENT, &automatic), 2);

  sim->ClearRequests();
  EXPECT_FALSE(Cam().SetFPSPerc(3, false));
  EXPECT_FALSE(Cam().SetFPSPerc(0, false));
  EXPECT_TRUE(sim->VendorRequests().empty());
  EXPECT_EQ(Cam().cmosClk, 48);
}

TEST_F(RenmControls, SixteenBitSamplesOfAWideWindowRunAt24MhzAndGiveTheClockBack) {
  setValue(CTRL_FPS_PERCENT, 2, false);
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetResolution(640, 480, 1, IMAGE_16BIT));
  EXPECT_EQ(Cam().cmosClk, 24);
  EXPECT_EQ(sim->SensorClockMhz(), 24u);
  EXPECT_TRUE(sim->SixteenBitSamples());
  // Narrow enough for 48 MHz: no change.
  ASSERT_TRUE(Cam().SetResolution(480, 480, 1, IMAGE_8BIT));
  EXPECT_EQ(Cam().cmosClk, 48) << "the clock the host chose comes back with 8-bit samples";
  EXPECT_FALSE(sim->SixteenBitSamples());
  ASSERT_TRUE(Cam().SetResolution(480, 480, 1, IMAGE_16BIT));
  EXPECT_EQ(Cam().cmosClk, 48);
  // A clock the host chose at 8 bits survives later 8-bit windows.
  setValue(CTRL_FPS_PERCENT, 1, false);
  ASSERT_TRUE(Cam().SetResolution(1280, 1024, 1, IMAGE_8BIT));
  ASSERT_TRUE(Cam().SetResolution(320, 240, 1, IMAGE_8BIT));
  EXPECT_EQ(Cam().cmosClk, 24);
}

TEST_F(RenmControls, ManualBlackLevelOffsetsAreWrittenAndReadBack) {
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetBLOffset(false, -5, 3, 0, 127));
  const std::vector<std::pair<int, int>> expected = {
      {0x62, 0x499}, {0x60, 0xFFFB}, {0x61, 3}, {0x63, 0}, {0x64, 0x7F}};
  EXPECT_EQ(Writes(), expected);
  // A gain change leaves manual offsets alone.
  ASSERT_TRUE(Cam().SetGain(80, false));
  EXPECT_EQ(LastWrite(0x62), 0x499);
  bool automatic = true;
  signed char o[4] = {};
  ASSERT_TRUE(Cam().GetBLOffset(&automatic, &o[0], &o[1], &o[2], &o[3]));
  EXPECT_FALSE(automatic);
  EXPECT_EQ(std::vector<int>(o, o + 4), (std::vector<int>{-5, 3, 0, 127}));

  // Automatic: the sensor calibrates, and its offsets can be read while it does.
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetBLOffset(true, 0, 0, 0, 0));
  EXPECT_EQ(Writes(), (std::vector<std::pair<int, int>>{{0x62, 0x1498}}));
  ASSERT_TRUE(Cam().GetBLOffset(&automatic, &o[0], &o[1], &o[2], &o[3]));
  EXPECT_TRUE(automatic);
  for (int i = 0; i < 4; ++i) {
    const int reg = i < 2 ? 0x60 + i : 0x61 + i;
    EXPECT_EQ(o[i], static_cast<signed char>(sim->Register(static_cast<uint16_t>(reg)) & 0xFF)) << i;
  }
}

TEST_F(RenmControls, UnreadableOffsetsAreReportedAsStored) {
  ASSERT_TRUE(Cam().SetBLOffset(false, -9, 8, -7, 6));
  closeCamera();
  // A camera that is not open answers no read.
  CCameraRENM camera;
  camera.blackLevelEE = -9;
  camera.blackLevelOO = 8;
  camera.blackLevelEO = -7;
  camera.blackLevelOE = 6;
  bool automatic = false;
  signed char o[4] = {};
  EXPECT_FALSE(camera.GetBLOffset(&automatic, &o[0], &o[1], &o[2], &o[3]));
  EXPECT_EQ(std::vector<int>(o, o + 4), (std::vector<int>{-9, 8, -7, 6}));
}

}  // namespace
}  // namespace okc::test
