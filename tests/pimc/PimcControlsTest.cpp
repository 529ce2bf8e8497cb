// Sensor programming of the PIMC family, checked against the register writes
// the simulated camera received.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "PimcFixture.h"

namespace okc::test {
namespace {

using WriteList = std::vector<std::pair<int, int>>;

class PimcModels : public PimcTest, public ::testing::WithParamInterface<PimcModel> {};
INSTANTIATE_TEST_SUITE_P(Family, PimcModels, ::testing::Values(kPimc, kSelc, kSelm),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(PimcModels, InitWritesTheSensorSetUpThenGainAndExposure) {
  const PimcModel m = GetParam();
  Open(m);
  // Gain 50 is table entry 29 (58); 33 ms at the model's clock with a 660-clock row.
  const int rows = (m.clockMhz * 33000 - 4) / 660;
  WriteList expected = {{0xAF, 0}, {0x9A, 0x2F0}, {0xA0, 0x1E0}, {0x2C, 0}, {0x0D, 0x320}};
  if (m.model == okc::sim::Model::PIMC) expected.push_back({0x70, 0});
  expected.push_back({0x35, 58});
  expected.push_back({0x0B, rows});
  // PIMC selects its 24 MHz and applies the exposure again; the SEL cameras' 30 MHz has no command.
  if (m.model == okc::sim::Model::PIMC) expected.push_back({0x0B, rows});
  EXPECT_EQ(Writes(), expected);
  EXPECT_EQ(CommandCount(0xA3), m.model == okc::sim::Model::PIMC ? 1u : 0u);
  EXPECT_EQ(CommandCount(0xA4), 0u);
  EXPECT_EQ(Cam().cmosClk, m.clockMhz);
}

TEST_P(PimcModels, GainStepsThroughTheTableAndSwitchesStagesBothWays) {
  Open(GetParam());
  struct Step {
    int gain;
    WriteList writes;
  };
  const Step steps[] = {
      {1, {{0x35, 16}}},
      {50, {{0x35, 58}}},
      {79, {{0x35, 110}}},
      {80, {{0x35, 111}}},
      {81, {{0x35, 0x6F}, {0x80, 1268}}},  // into the digital stage
      {100, {{0x80, 1279}}},
      {80, {{0x80, 0x4F4}, {0x35, 111}}},  // back: the digital stage returns to 1x first
      {81, {{0x35, 0x6F}, {0x80, 1268}}},
      {80, {{0x35, 111}}},  // from the stage's first entry 0x80 already holds 0x4F4
  };
  for (const Step& s : steps) {
    sim->ClearRequests();
    setValue(CTRL_GAIN, s.gain, false);
    EXPECT_EQ(Writes(), s.writes) << "gain " << s.gain;
    EXPECT_EQ(getValue(CTRL_GAIN, nullptr), s.gain);
  }
  // The sensor's gain follows: 0x6F is 5.875x analog, 0x4FF 3.75x digital.
  setValue(CTRL_GAIN, 100, false);
  EXPECT_DOUBLE_EQ(sim->Sensor().cellGain[0][0], 5.875 * 3.75);
  setValue(CTRL_GAIN, 1, false);
  EXPECT_DOUBLE_EQ(sim->Sensor().cellGain[1][1], 1.0);
}

TEST_P(PimcModels, RefusedWindowsChangeNothing) {
  const PimcModel m = GetParam();
  Open(m);
  ASSERT_TRUE(Cam().SetResolution(320, 240, 1, IMAGE_8BIT));
  sim->ClearRequests();
  const int half = m.width / 2;
  const struct {
    int width, height, bin, type;
  } refused[] = {{half + 1, 240, 2, IMAGE_8BIT}, {m.width + 1, 240, 1, IMAGE_8BIT}, {320, 241, 2, IMAGE_8BIT},
                 {320, 240, 1, 5},  {320, 240, 1, -1}, {320, 240, 3, IMAGE_8BIT},
                 {0, 240, 1, IMAGE_8BIT}, {320, -2, 1, IMAGE_8BIT}};
  for (const auto& r : refused) {
    EXPECT_FALSE(Cam().SetResolution(r.width, r.height, r.bin, static_cast<IMAGE_TYPE>(r.type)))
        << r.width << "x" << r.height << " bin " << r.bin << " type " << r.type;
  }
  EXPECT_TRUE(sim->VendorRequests().empty());
  EXPECT_EQ(Cam().width, 320);
  EXPECT_EQ(Cam().height, 240);
  EXPECT_EQ(Cam().bin, 1);
  EXPECT_EQ(Cam().imageType, IMAGE_8BIT);
  // The widest window at bin 2 is accepted.
  EXPECT_TRUE(Cam().SetResolution(half, 240, 2, IMAGE_8BIT));
}

TEST_P(PimcModels, ExposureRowsAndTheLongExposureThreshold) {
  const PimcModel m = GetParam();
  Open(m);
  // PIMC: 320 x 240 keeps the 660-clock row at 24 MHz; SEL: the full 752 + 61 clocks at 30 MHz.
  const int window = m.model == okc::sim::Model::PIMC ? 320 : 752;
  ASSERT_TRUE(Cam().SetResolution(window, 240, 1, IMAGE_8BIT));
  const uint64_t lastNormalUs = m.model == okc::sim::Model::PIMC ? 901120 : 888012;
  sim->ClearRequests();
  EXPECT_TRUE(Cam().SetExp(lastNormalUs, false));
  EXPECT_EQ(Writes(), (WriteList{{0x0B, 32767}}));
  EXPECT_FALSE(Cam().longExposure);
  sim->ClearRequests();
  Cam().SetExp(lastNormalUs + 1, false);
  EXPECT_TRUE(Cam().longExposure);
  EXPECT_TRUE(Writes().empty()) << "the host times it: the shutter register is left alone";
  EXPECT_EQ(Cam().exposureLines, 32768u);
  // Flips are refused while the host times exposures.
  EXPECT_FALSE(Cam().SetMisc(false, true));
  EXPECT_FALSE(Cam().flipColumn);

  // Limits: 32 us at the short end; 4 s on PIMC, 1000 s on the SEL cameras.
  Cam().SetExp(10, false);
  EXPECT_EQ(Cam().exposure, 32u);
  Cam().SetExp(5000000000ull, false);
  EXPECT_EQ(Cam().exposure, m.model == okc::sim::Model::PIMC ? 4000000u : 1000000000u);
}

TEST_P(PimcModels, CentredWindowAndStartPositionWithTheMirroredColumnRegister) {
  const PimcModel m = GetParam();
  Open(m);
  const int w = m.width;
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetResolution(320, 240, 1, IMAGE_8BIT));
  const int x0 = (w - 320) / 2, hb = std::max(660 - 320, m.minBlanking);
  EXPECT_EQ(Writes(), (WriteList{{0x02, 124}, {0x01, x0 + 1}, {0x03, 240}, {0x04, 320}, {0x05, hb}, {0x0C, 1}}));
  EXPECT_EQ(sim->Sensor().x, x0);
  EXPECT_EQ(sim->Sensor().y, 120);

  struct Case {
    int bin, x, y, storedX, storedY;
  } cases[] = {{1, -5, 7, 0, 6}, {1, 999, 999, w - 320, 240}, {1, 33, 101, 32, 100}, {2, 999, 999, w - 640, 0}};
  for (const Case& c : cases) {
    ASSERT_TRUE(Cam().SetResolution(320, 240, c.bin, IMAGE_8BIT));
    sim->ClearRequests();
    EXPECT_TRUE(Cam().SetStartPos(c.x, c.y));
    int x = -1, y = -1;
    Cam().GetStartPos(&x, &y);
    EXPECT_EQ(x, c.storedX) << c.x;
    EXPECT_EQ(y, c.storedY) << c.y;
    EXPECT_EQ(Writes(), (WriteList{{0x02, c.storedY + 4}, {0x01, w + 1 - c.storedX - c.bin * 320}}));
    // The sensor reads the window the host placed.
    EXPECT_EQ(sim->Sensor().x, c.storedX);
    EXPECT_EQ(sim->Sensor().y, c.storedY);
  }
  // The full sensor has no room to move.
  ASSERT_TRUE(Cam().SetResolution(w, 480, 1, IMAGE_8BIT));
  sim->ClearRequests();
  EXPECT_FALSE(Cam().SetStartPos(2, 2));
  EXPECT_TRUE(Writes().empty());
}

TEST_P(PimcModels, ClockPercentageAndBalanceSlots) {
  const PimcModel m = GetParam();
  Open(m);
  sim->ClearRequests();
  EXPECT_FALSE(Cam().SetCMOSClk(30));
  EXPECT_TRUE(sim->VendorRequests().empty());
  EXPECT_TRUE(Cam().SetCMOSClk(48));
  EXPECT_EQ(CommandCount(0xA4), 1u);
  EXPECT_EQ(sim->SensorClockMhz(), 48u);

  int percent = -7;
  bool automatic = true;
  EXPECT_FALSE(Cam().GetFPSPerc(&percent, &automatic));
  EXPECT_EQ(percent, -7);
  EXPECT_TRUE(automatic);

  int red = -1, blue = -1;
  Cam().SetRGBBalance(0, 150, false);
  Cam().GetRGBBalance(&red, &blue, nullptr);
  if (m.colour) {
    EXPECT_EQ(red, 1);
    EXPECT_EQ(blue, 100);
  } else {
    EXPECT_EQ(red, -1) << "a mono camera leaves the caller's values";
    EXPECT_EQ(Cam().wbRed, 0);
  }
}

}  // namespace
}  // namespace okc::test
