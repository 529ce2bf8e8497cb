// The scene and the raw frames the simulated sensor makes of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "sim/SimScene.h"

namespace okc::sim {
namespace {

// A window at the driver's usual place (even first row and column), unity gain, no noise.
FrameSettings Window(int x, int y, int width, int height, bool sixteenBit = false) {
  return {.x = x, .y = y, .width = width, .height = height, .sixteenBit = sixteenBit, .exposureUs = 100000,
          .cellGain = {{{1.0, 1.0}, {1.0, 1.0}}}, .noise = false};
}

std::vector<uint8_t> Render(const SimScene& scene, const FrameSettings& s) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(scene.Render(s, 1, out));
  return out;
}

// The 12-bit sample of window pixel i of a 16-bit frame.
int Sample16(const std::vector<uint8_t>& frame, int i) { return frame[2 * i] << 4 | (frame[2 * i + 1] & 0x0F); }

// Mean of the samples at one place of the 2 x 2 cell over the whole window.
double CellMean(const SimScene& scene, const FrameSettings& s, int rowParity, int columnParity) {
  double sum = 0;
  int n = 0;
  for (int y = s.y + rowParity; y < s.y + s.height; y += 2) {
    for (int x = s.x + columnParity; x < s.x + s.width; x += 2, ++n) sum += scene.ExpectedValue(x, y, s);
  }
  return sum / n;
}

class SimSceneTest : public ::testing::Test {
 protected:
  const SimScene& colour = *SimScene::Shared(SceneLayout{});
  const SimScene& mono = *SimScene::Shared(SceneLayout{.mosaic = Mosaic::Mono});
};

TEST_F(SimSceneTest, FrameHasOneOrTwoBytesPerPixelOfAWindowInsideTheArray) {
  const std::pair<FrameSettings, size_t> cases[] = {
      {Window(0, 2, 64, 32), 64 * 32},          {Window(0, 2, 64, 32, true), 2 * 64 * 32},
      {Window(0, 2, 1280, 960), 1280 * 960},    {Window(480, 362, 320, 240, true), 2 * 320 * 240},
      {Window(1, 2, 1280, 8), 0},               {Window(0, 900, 64, 65), 0},  // past the last column / row
      {Window(-2, 2, 64, 32), 0},               {Window(0, 2, 0, 32), 0},
      {Window(0, 2, 64, -1), 0},                {Window(0x7FFFFFFF, 2, 64, 32), 0},  // x + width overflows
  };
  for (const auto& [s, bytes] : cases) {
    SCOPED_TRACE(testing::Message() << s.x << "," << s.y << " " << s.width << "x" << s.height);
    std::vector<uint8_t> out(10, 0xEE);
    EXPECT_EQ(colour.Render(s, 1, out), bytes > 0);
    EXPECT_EQ(out.size(), bytes);
    EXPECT_EQ(colour.FrameBytes(s), bytes);
  }
  EXPECT_EQ(colour.ExpectedValue(colour.Columns(), 0, Window(0, 2, 64, 32)), -1);
  EXPECT_EQ(colour.ExpectedValue(0, -1, Window(0, 2, 64, 32)), -1);
}

TEST_F(SimSceneTest, SixteenBitSamplesCarryTwelveBitsHighByteFirst) {
  FrameSettings s = Window(201, 300, 96, 48, true);  // an odd first column: the cell's places swap
  s.cellGain = {{{8.0, 6.0}, {5.0, 7.0}}};             // bright enough to use the upper bits
  const std::vector<uint8_t> frame16 = Render(colour, s);
  int above255 = 0;
  for (int i = 0; i < s.width * s.height; ++i) {
    const int expected = colour.ExpectedValue(s.x + i % s.width, s.y + i / s.width, s);
    ASSERT_EQ(frame16[2 * i + 1] & 0xF0, 0) << "high nibble of the second byte, pixel " << i;
    ASSERT_EQ(Sample16(frame16, i), expected) << i;
    above255 += expected > 255;
  }
  EXPECT_GT(above255, 0);
}

TEST_F(SimSceneTest, MarkerAndTrailerLeaveFramesTooSmallForThemAlone) {
  std::vector<uint8_t> tiny(3, 0x55);
  StampFrameMarker(tiny);
  StampFrameTrailer(tiny);
  EXPECT_EQ(tiny, std::vector<uint8_t>(3, 0x55));
  EXPECT_FALSE(HasFrameMarker(tiny));
}

TEST_F(SimSceneTest, LevelIsBlackPlusGainTimesExposureUpToSaturation) {
  FrameSettings s = Window(0, 2, 64, 32, true);
  s.blackLevel = 100;
  const int x = 40, y = 20;
  s.exposureUs = 0;
  EXPECT_EQ(colour.ExpectedValue(x, y, s), 100);
  s.exposureUs = 200000;
  const int once = colour.ExpectedValue(x, y, s) - 100;
  ASSERT_GT(once, 100);
  s.exposureUs = 400000;
  EXPECT_NEAR(colour.ExpectedValue(x, y, s) - 100, 2 * once, 1);
  s.exposureUs = 200000;
  for (auto& row : s.cellGain) row.fill(2.0);
  EXPECT_NEAR(colour.ExpectedValue(x, y, s) - 100, 2 * once, 1);

  // Far too long: every sample, noise and all, stops at 4095.
  s.exposureUs = 1e9;
  s.noise = true;
  std::vector<uint8_t> frame = Render(colour, s);
  for (int i = 0; i < s.width * s.height; ++i) ASSERT_EQ(Sample16(frame, i), 4095) << i;
  // Settings no sensor can have stay bounded.
  s.exposureUs = 1e300;
  s.blackLevel = -5;
  s.cellGain[0][0] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(colour.ExpectedValue(0, 3, s), 4095);
  EXPECT_EQ(colour.ExpectedValue(0, 2, s), 0);
  EXPECT_TRUE(colour.Render(s, 1, frame));
}

TEST_F(SimSceneTest, StarsStayAtTheirSensorPlaceInAnyWindow) {
  const FrameSettings a = Window(100, 100, 256, 128), b = Window(164, 132, 256, 128);
  const std::vector<uint8_t> fa = Render(colour, a), fb = Render(colour, b);
  // Over the overlap, sensor pixel (x, y) has one value in both frames.
  int brightest = 0, darkest = 255;
  for (int y = b.y; y < a.y + a.height; ++y) {
    for (int x = b.x; x < a.x + a.width; ++x) {
      const uint8_t va = fa[static_cast<size_t>(y - a.y) * a.width + (x - a.x)];
      ASSERT_EQ(va, fb[static_cast<size_t>(y - b.y) * b.width + (x - b.x)]) << x << "," << y;
      brightest = std::max<int>(brightest, va);
      darkest = std::min<int>(darkest, va);
    }
  }
  EXPECT_GT(brightest, 4 * darkest) << "a star in the overlap";
}

TEST_F(SimSceneTest, ColourMosaicShowsAWarmSkyMonoDoesNot) {
  const FrameSettings s = Window(0, 2, 640, 480);
  const double green1 = CellMean(colour, s, 0, 0), red = CellMean(colour, s, 0, 1);
  const double blue = CellMean(colour, s, 1, 0), green2 = CellMean(colour, s, 1, 1);
  EXPECT_GT(red, 1.15 * green1);
  EXPECT_GT(green1, 1.15 * blue);
  EXPECT_NEAR(green1, green2, 0.03 * green1);
  EXPECT_NEAR(CellMean(mono, s, 0, 1), CellMean(mono, s, 1, 0), 0.03 * CellMean(mono, s, 0, 0));

  // Each place of the cell takes its own gain: only red doubles (short enough that no star saturates).
  FrameSettings dim = s;
  dim.exposureUs = 10000;
  FrameSettings redGain = dim;
  redGain.cellGain[0][1] = 2.0;
  EXPECT_NEAR(CellMean(colour, redGain, 0, 1), 2 * CellMean(colour, dim, 0, 1), 0.5);
  EXPECT_DOUBLE_EQ(CellMean(colour, redGain, 1, 0), CellMean(colour, dim, 1, 0));
}

TEST_F(SimSceneTest, HotPixelsAndDarkCurrentShowUnderACoveredLens) {
  const std::vector<SensorPixel>& hot = colour.HotPixels();
  ASSERT_GE(hot.size(), 10u);
  FrameSettings s = Window(0, 2, 1280, 960);
  s.lensCovered = true;
  s.exposureUs = 1e6;
  for (const SensorPixel& p : hot) {
    ASSERT_TRUE(p.x >= 0 && p.x < colour.Columns() && p.y >= 0 && p.y < colour.Rows());
    EXPECT_GT(colour.ExpectedValue(p.x, p.y, s), 10 * colour.ExpectedValue(p.x + 2, p.y, s) + 100) << p.x << "," << p.y;
  }
  // Ordinary pixels: dark current grows with the exposure; with the lens open, light comes on top.
  const int x = 640, y = 481;
  const int dark1 = colour.ExpectedValue(x, y, s);
  s.exposureUs = 8e6;
  EXPECT_GT(colour.ExpectedValue(x, y, s), dark1 + 10);
  s.lensCovered = false;
  EXPECT_GT(colour.ExpectedValue(x, y, s), 100 * dark1);
}

TEST_F(SimSceneTest, NoiseScattersAroundTheExpectedValue) {
  FrameSettings s = Window(300, 400, 256, 128, true);
  s.cellGain = {{{4.0, 4.0}, {4.0, 4.0}}};
  s.noise = true;
  const std::vector<uint8_t> frame = Render(colour, s);
  double sum = 0, squares = 0;
  const int n = s.width * s.height;
  for (int i = 0; i < n; ++i) {
    const double d = Sample16(frame, i) - colour.ExpectedValue(s.x + i % s.width, s.y + i / s.width, s);
    sum += d;
    squares += d * d;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.5);
  EXPECT_GT(std::sqrt(squares / n), 5.0);  // read noise alone is 8 DN at this gain
}

}  // namespace
}  // namespace okc::sim
