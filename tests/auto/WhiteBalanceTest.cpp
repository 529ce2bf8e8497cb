// Automatic white balance alone: the window means of a colour frame, the
// balance step and its limits, and the demosaic-then-measure step on a Bayer
// frame with the software balance tables in the loop.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/ColourTables.h"
#include "imaging/WhiteBalance.h"

namespace {

using okc::imaging::ColourMeans;
using okc::imaging::DecideWhiteBalance;
using okc::imaging::RawFrameGeometry;
using okc::imaging::WhiteBalanceDecision;
using okc::imaging::WhiteBalanceInput;

// A 24-bit frame (blue, green, red bytes) of one colour inside the central
// quarter and another colour outside it.
std::vector<uint8_t> ColourFrame(int w, int h, const uint8_t inside[3], const uint8_t outside[3]) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool in = y >= h / 4 && y < 3 * h / 4 && x >= w / 4 && x < 3 * w / 4;
      for (int c = 0; c < 3; ++c) rgb[(static_cast<size_t>(y) * w + x) * 3 + c] = in ? inside[c] : outside[c];
    }
  }
  return rgb;
}

WhiteBalanceInput Input(int red, int blue, bool autoExp = false) {
  WhiteBalanceInput in;
  in.wbRed = red;
  in.wbBlue = blue;
  in.autoExp = autoExp;
  return in;
}

TEST(WhiteBalanceMeasure, AveragesTheCentralQuarterPlusOne) {
  const uint8_t inside[3] = {99, 119, 49};
  const uint8_t outside[3] = {255, 0, 255};
  const std::vector<uint8_t> rgb = ColourFrame(40, 20, inside, outside);
  const auto means = okc::imaging::MeasureColourMeans(rgb.data(), rgb.size(), 40, 20);
  ASSERT_TRUE(means);
  EXPECT_EQ(means->blue, 100u);
  EXPECT_EQ(means->green, 120u);
  EXPECT_EQ(means->red, 50u);
  EXPECT_FALSE(okc::imaging::MeasureColourMeans(rgb.data(), rgb.size() - 1, 40, 20));
  EXPECT_FALSE(okc::imaging::MeasureColourMeans(rgb.data(), rgb.size(), 1, 1));  // empty window
}

struct BalanceCase {
  const char* name;
  ColourMeans means;  // blue, green, red
  WhiteBalanceInput input;
  int red;
  int blue;
};

TEST(WhiteBalanceStep, ScalesRedAndBlueByTheGreenRatios) {
  const BalanceCase cases[] = {
      {"grey", {120, 120, 120}, Input(50, 50), 50, 50},
      {"within the dead band of 4", {116, 120, 124}, Input(50, 50), 50, 50},
      {"green above both", {100, 120, 100}, Input(50, 50), 60, 60},
      {"strong red cast", {120, 120, 240}, Input(60, 50), 30, 50},
      {"a cast of 8 while the exposure moves", {120, 120, 112}, Input(50, 50, true), 50, 50},
      {"a cast of 8 with manual exposure", {120, 120, 112}, Input(50, 50, false), 53, 50},
      {"a cast of 11 while the exposure moves", {120, 120, 109}, Input(50, 50, true), 55, 50},
      {"small values are nudged up", {120, 110, 100}, Input(3, 50), 4, 45},
      {"no nudge downwards", {120, 100, 110}, Input(3, 50), 2, 41},
      {"limited to 100", {60, 200, 100}, Input(90, 90), 100, 100},
      {"limited to 1", {120, 10, 240}, Input(2, 50), 1, 4},
  };
  for (const BalanceCase& c : cases) {
    const WhiteBalanceDecision d = DecideWhiteBalance(c.means, c.input);
    EXPECT_EQ(d.red, c.red) << c.name;
    EXPECT_EQ(d.blue, c.blue) << c.name;
    EXPECT_EQ(d.changed, c.red != c.input.wbRed || c.blue != c.input.wbBlue) << c.name;
  }
}

// A Bayer frame of layout G R / B G (pattern 2) with one level per colour.
std::vector<uint8_t> BayerFrame(int w, int h, uint8_t red, uint8_t green, uint8_t blue) {
  std::vector<uint8_t> raw(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      raw[static_cast<size_t>(y) * w + x] = (y & 1) == (x & 1) ? green : ((y & 1) == 0 ? red : blue);
  return raw;
}

// The demosaic-then-measure step on 32 x 16 Bayer frames, through software balance tables.
class WhiteBalanceOnBayer : public ::testing::Test {
 protected:
  void SetUp() override { okc::imaging::BuildColourTables(tables); }
  WhiteBalanceDecision Step(const std::vector<uint8_t>& raw, int pattern, const WhiteBalanceInput& in,
                            const RawFrameGeometry& g = {32, 16, 1, false}, size_t bytes = 0) {
    return okc::imaging::AutoWhiBal(raw.data(), bytes ? bytes : raw.size(), g, pattern, in, scratch, tables);
  }
  okc::imaging::ColourTables tables;
  std::vector<uint8_t> scratch;
};

TEST_F(WhiteBalanceOnBayer, ConvergesThroughTheSoftwareBalanceTables) {
  const std::vector<uint8_t> raw = BayerFrame(32, 16, 100, 120, 100);
  WhiteBalanceDecision d = Step(raw, 2, Input(50, 50));
  ASSERT_TRUE(d.measured);
  EXPECT_EQ(d.means.red, 101u);
  EXPECT_EQ(d.means.green, 121u);
  EXPECT_EQ(d.red, 50 * 121 / 101);
  EXPECT_EQ(d.blue, 50 * 121 / 101);

  // The model rebuilds the tables; the next frame is measured through them and is grey.
  okc::imaging::BuildBalanceTables(tables, d.red, d.blue);
  d = Step(raw, 2, Input(d.red, d.blue));
  EXPECT_LE(std::abs(static_cast<int>(d.means.green) - static_cast<int>(d.means.red)), 4);
  EXPECT_FALSE(d.changed);
}

TEST_F(WhiteBalanceOnBayer, ReadsTheBayerLayoutItIsGiven) {
  const std::vector<uint8_t> raw = BayerFrame(32, 16, 200, 100, 50);
  const WhiteBalanceDecision right = Step(raw, 2, Input(50, 50));
  EXPECT_EQ(right.red, 50 * 101 / 201);
  EXPECT_EQ(right.blue, 50 * 101 / 51);
  // Read as G B / R G the same samples swap red and blue.
  const WhiteBalanceDecision swapped = Step(raw, 3, Input(50, 50));
  EXPECT_EQ(swapped.red, right.blue);
  EXPECT_EQ(swapped.blue, right.red);
}

TEST_F(WhiteBalanceOnBayer, LeavesSixteenBitAndShortFramesAlone) {
  const std::vector<uint8_t> raw = BayerFrame(32, 16, 200, 100, 50);
  EXPECT_FALSE(Step(raw, 2, Input(50, 50), {16, 16, 1, true}).measured);
  const WhiteBalanceDecision shortFrame = Step(raw, 2, Input(50, 50), {32, 16, 1, false}, raw.size() - 1);
  EXPECT_FALSE(shortFrame.measured);
  EXPECT_EQ(shortFrame.red, 50);
  EXPECT_FALSE(shortFrame.changed);
}

}  // namespace
