// DORC controls against the simulator's log: the gain encoding over its range,
// gain and balance in the sensor, window refusals, line length from the frame
// rate, and the exposure ranges with the clock and line that follow them.
#include <cmath>

#include "DorcFixture.h"
#include "models/DorcGain.h"

namespace okc::test {
namespace {

// The encoding computed the long way: the octave of m picks a step and the stage bits.
int ReferenceGainRegister(double m) {
  m = std::fmin(std::fmax(m, 1.0), 128.0);
  struct Octave {
    double top, scale, offset;
    int stages;
  };
  const Octave octaves[] = {{2, 31.5, 0, 0x1000},     {4, 15.75, 0, 0x2000},   {8, 7.875, 0, 0x2040},
                            {16, 3.9375, 0, 0x2080},  {32, 1.96875, 0, 0x20C0}, {64, 1, -1, 0x40C0},
                            {128, 0.5, -1, 0x80C0}};
  for (const Octave& o : octaves)
    if (m <= o.top) return static_cast<int>(std::trunc(m * o.scale + o.offset)) | o.stages;
  return -1;
}

// What the sensor makes of a register: mantissa / 31.5 times both stages.
double SensorGain(int reg) { return (reg & 0x3F) / 31.5 * (1 << ((reg >> 6) & 3)) * ((reg >> 12) & 0xF); }

TEST(DorcGain, EncodingMatchesTheFormulaAndTheSensorOverItsRange) {
  for (float m = 1.0f; m <= 128.0f; m += 0.01f) {
    const int reg = CCameraDORC::GainValue2Reg(m);
    ASSERT_EQ(reg, ReferenceGainRegister(m)) << m;
    // Within a mantissa step (1/31) and the top octaves' rounding (1/32) of the multiplier asked for.
    ASSERT_NEAR(SensorGain(reg), m, m * 0.05) << m;
  }
  const std::pair<float, int> edges[] = {{1.0f, 0x101F}, {2.0f, 0x103F},  {64.0f, 0x40FF},
                                         {128.0f, 0x80FF}, {0.5f, 0x101F}, {300.0f, 0x80FF}};
  for (const auto& [m, reg] : edges) EXPECT_EQ(CCameraDORC::GainValue2Reg(m), reg) << m;
  EXPECT_EQ(CCameraDORC::GainValue2Reg(std::nanf("")), 0x101F);
}

TEST(DorcGain, GainScaleDoublesEverySixteenStepsToSixtyFourAtTheTop) {
  const std::pair<int, float> points[] = {{1, 1.0625f}, {16, 2}, {32, 4}, {48, 8}, {64, 16}, {80, 32}, {100, 64},
                                          {0, 1.0625f}, {500, 64}};
  for (const auto& [gain, m] : points) EXPECT_FLOAT_EQ(okc::models::DorcGainMultiplier(gain), m) << gain;
}

class DorcControls : public DorcTest {
 protected:
  void SetUp() override {
    DorcTest::SetUp();
    Open();
    sim->ClearRequests();
  }
};

TEST_F(DorcControls, GainAndBalanceGoToTheFourChannelRegisters) {
  ASSERT_TRUE(Cam().SetGain(100, false));
  EXPECT_EQ(LastWrite(0x3056), 0x40FF);
  EXPECT_EQ(LastWrite(0x305C), 0x40FF);
  // Balance rides on the gain: red 41 and blue 94 of 50 times 64.
  EXPECT_EQ(LastWrite(0x305A), CCameraDORC::GainValue2Reg(41 * 0.02f * 64));
  EXPECT_EQ(LastWrite(0x3058), CCameraDORC::GainValue2Reg(94 * 0.02f * 64));
  sim->ClearRequests();
  Cam().SetRGBBalance(150, 0, false);
  int red = 0, blue = 0;
  Cam().GetRGBBalance(&red, &blue, nullptr);
  EXPECT_EQ(red, 100);
  EXPECT_EQ(blue, 1);
  EXPECT_EQ(LastWrite(0x305A), CCameraDORC::GainValue2Reg(2.0f * 64));
  EXPECT_EQ(LastWrite(0x3058), CCameraDORC::GainValue2Reg(0.02f * 64));
  EXPECT_EQ(WriteCount(0x3056), 0u);
  // The sensor sees red twice the green now.
  const auto s = sim->Sensor();
  EXPECT_NEAR(s.cellGain[0][1] / s.cellGain[0][0], 2.0, 0.1);
}

TEST_F(DorcControls, WindowsMustBeWholeBlocksOf1024Pixels) {
  struct Case {
    int w, h, bin;
    bool ok;
  };
  for (const Case& c : {Case{728, 512, 1, true}, Case{640, 480, 1, true}, Case{100, 100, 1, false},
                        Case{364, 256, 2, true}, Case{365, 256, 2, false}, Case{729, 512, 1, false},
                        Case{128, 64, 3, false}, Case{0, 64, 1, false}}) {
    EXPECT_EQ(Cam().SetResolution(c.w, c.h, c.bin, IMAGE_8BIT), c.ok) << c.w << "x" << c.h << " bin " << c.bin;
  }
  EXPECT_FALSE(Cam().SetResolution(128, 64, 1, static_cast<IMAGE_TYPE>(5)));
  // The last accepted window stands, centred.
  int x = 0, y = 0;
  Cam().GetStartPos(&x, &y);
  EXPECT_EQ(Cam().width, 364);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

TEST_F(DorcControls, FullWindowAtEightyPercentHasLineLength1164) {
  ASSERT_TRUE(Cam().SetResolution(728, 512, 1, IMAGE_8BIT));
  EXPECT_EQ(Cam().lineLength, 1164);
  EXPECT_EQ(LastWrite(0x300C), 582);
  EXPECT_EQ(LastWrite(0x300A), 512 + 29);
  EXPECT_EQ(LastWrite(0x3008), 727);
  EXPECT_EQ(LastWrite(0x3006), 511);
  // 33 ms at 48 MHz in rows of 1164 clocks.
  EXPECT_EQ(LastWrite(0x3012), (48 * 33000 - 29) / 1164);

  int percent = 0;
  bool automatic = true;
  setValue(CTRL_FPS_PERCENT, 30, false);
  Cam().GetFPSPerc(&percent, &automatic);
  EXPECT_EQ(percent, 50);
  EXPECT_TRUE(Cam().SetFPSPerc(70, true));
  Cam().GetFPSPerc(&percent, &automatic);
  EXPECT_EQ(percent, 80);
  EXPECT_FALSE(automatic);
}

TEST_F(DorcControls, LongExposuresSlowTheClockAndLengthenTheLine) {
  ASSERT_TRUE(Cam().SetResolution(728, 512, 1, IMAGE_8BIT));
  EXPECT_TRUE(Cam().SetExp(10, false));
  EXPECT_EQ(Cam().exposure, 64u);
  sim->ClearRequests();
  // From 600 ms: 24 MHz, the longest line, and the frame rate can no longer be set.
  ASSERT_TRUE(Cam().SetExp(700000, false));
  EXPECT_EQ(CommandCount(0xA3), 1u);
  EXPECT_EQ(sim->SensorClockMhz(), 24u);
  EXPECT_EQ(LastWrite(0x300C), 4095);
  EXPECT_EQ(LastWrite(0x3012), (24 * 700000 - 29) / 4095);
  EXPECT_FALSE(Cam().SetFPSPerc(90, false));
  // Back below: 48 MHz and the line length of before.
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetExp(20000, false));
  EXPECT_EQ(CommandCount(0xA4), 1u);
  EXPECT_EQ(Cam().lineLength, 1164);
  EXPECT_EQ(LastWrite(0x3012), (48 * 20000 - 29) / 1164);
  // Beyond the shutter's 65535 rows: host-timed, the sensor holds 0x2FFF rows.
  ASSERT_TRUE(Cam().SetExp(100000000ull, false));
  EXPECT_EQ(Cam().exposure, 64000000u);
  EXPECT_TRUE(Cam().longExposure);
  EXPECT_EQ(LastWrite(0x3012), 0x2FFF);
}

TEST_F(DorcControls, BrightnessIsTheSensorsBlackLevelInSixteenths) {
  EXPECT_TRUE(Cam().SetBrightness(5));
  EXPECT_EQ(LastWrite(0x301E), 80);
  EXPECT_EQ(sim->Sensor().blackLevel, 80);
}

}  // namespace
}  // namespace okc::test
