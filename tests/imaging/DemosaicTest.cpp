#include "imaging/Demosaic.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "FrameData.h"
#include "imaging/Flip.h"

namespace okc::imaging {
namespace {

using namespace testing_frames;

constexpr int kW = 16;
constexpr int kH = 12;

// The delivery order: the raw frame is mirrored first, then demosaiced knowing the mirrors.
std::vector<uint8_t> FlipThenDemosaic(std::vector<uint8_t> raw, int w, int h, int pattern, int mode,
                                      const ColourTables& tables) {
  const bool flipRow = mode & 1, flipColumn = mode & 2;
  EXPECT_TRUE(SoftMisc(raw, w, h, 1, flipRow, flipColumn));
  std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3), 0xEE);
  EXPECT_TRUE(Bayer2RGB24(raw, rgb, w, h, pattern, flipRow, flipColumn, tables));
  return rgb;
}

// Every pattern under every mirror gives back the scene's colour, edges and odd sizes included.
TEST(BayerColours, UniformSceneComesBackAsItsColour) {
  const BuiltTables tables;
  for (auto [w, h] : {std::pair{kW, kH}, std::pair{15, 11}})
    for (int pattern = 0; pattern < 4; ++pattern)
      for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " pattern " << pattern << " mode " << mode);
        const auto rgb = FlipThenDemosaic(UniformMosaic(pattern, w, h, 200, 120, 40), w, h, pattern, mode, tables);
        for (size_t i = 0; i < rgb.size(); i += 3)
          ASSERT_EQ(std::vector<uint8_t>(rgb.begin() + i, rgb.begin() + i + 3), (std::vector<uint8_t>{40, 120, 200}))
              << "pixel " << i / 3;
      }
}

// One lit site lands in its own channel at its mirrored position; the other channels stay dark.
TEST(BayerColours, SingleSiteLandsInItsChannel) {
  const BuiltTables tables;
  for (Channel lit : {Channel::kRed, Channel::kGreen, Channel::kBlue})
    for (int pattern = 0; pattern < 4; ++pattern)
      for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(testing::Message() << "channel " << ByteOf(lit) << " pattern " << pattern << " mode " << mode);
        int sy = -1, sx = -1;
        for (int y = 4; y < 6 && sy < 0; ++y)
          for (int x = 6; x < 8 && sy < 0; ++x)
            if (SensorChannel(pattern, y, x) == lit) sy = y, sx = x;
        std::vector<uint8_t> raw(kW * kH, 0);
        raw[static_cast<size_t>(sy * kW + sx)] = 200;
        const auto rgb = FlipThenDemosaic(raw, kW, kH, pattern, mode, tables);
        const int fy = mode & 2 ? kH - 1 - sy : sy;
        const int fx = mode & 1 ? kW - 1 - sx : sx;
        EXPECT_EQ(rgb[static_cast<size_t>((fy * kW + fx) * 3 + ByteOf(lit))], 200);
        for (size_t i = 0; i < rgb.size(); ++i)
          if (static_cast<int>(i % 3) != ByteOf(lit)) {
            ASSERT_EQ(rgb[i], 0) << "byte " << i;
          }
      }
}

// Bilinear interpolation of a linear ramp is exact, so every inner pixel reads
// back the ramp in all three channels: any wrong neighbour offset shows.
TEST(BayerInterpolation, InnerPixelsAverageTheRightNeighbours) {
  const BuiltTables tables;
  std::vector<uint8_t> ramp(kW * kH);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
  for (int pattern = 0; pattern < 4; ++pattern) {
    SCOPED_TRACE(pattern);
    std::vector<uint8_t> rgb(kW * kH * 3);
    ASSERT_TRUE(Bayer2RGB24(ramp, rgb, kW, kH, pattern, false, false, tables));
    for (int y = 2; y < kH - 2; ++y)
      for (int x = 2; x < kW - 2; ++x)
        for (int b = 0; b < 3; ++b)
          ASSERT_EQ(rgb[static_cast<size_t>((y * kW + x) * 3 + b)], y * kW + x) << y << "," << x << " byte " << b;
  }
}

// An edge cell shares its one red, one blue and the mean of its two greens, its
// green sites keep their own; with odd sizes the last column and row repeat.
TEST(BayerInterpolation, EdgeCellsAndOddSizes) {
  const BuiltTables tables;
  std::vector<uint8_t> cell = {10, 20, 30, 40}, rgb(12);  // R G / G B
  ASSERT_TRUE(Bayer2RGB24(cell, rgb, 2, 2, 0, false, false, tables));
  EXPECT_EQ(rgb, (std::vector<uint8_t>{40, 25, 10, 40, 20, 10, 40, 30, 10, 40, 25, 10}));

  std::mt19937 random(3);
  std::vector<uint8_t> raw(15 * 11), odd(15 * 11 * 3);
  for (auto& v : raw) v = static_cast<uint8_t>(random());
  ASSERT_TRUE(Bayer2RGB24(raw, odd, 15, 11, 3, false, false, tables));
  const auto pixel = [&](int y, int x) { return std::vector<uint8_t>(&odd[(y * 15 + x) * 3], &odd[(y * 15 + x) * 3 + 3]); };
  for (int y = 0; y < 11; ++y) EXPECT_EQ(pixel(y, 14), pixel(y, 13)) << y;
  for (int x = 0; x < 15; ++x) EXPECT_EQ(pixel(10, x), pixel(9, x)) << x;
}

TEST(BayerBalance, TablesScaleRedAndBlueButNeverGreen) {
  BuiltTables tables;
  BuildBalanceTables(tables, 100, 25);
  for (int mode = 0; mode < 4; ++mode) {
    const auto rgb = FlipThenDemosaic(UniformMosaic(1, kW, kH, 100, 90, 120), kW, kH, 1, mode, tables);
    for (size_t i = 0; i < rgb.size(); i += 3)  // blue 120 x 25 / 50, red 100 x 100 / 50
      ASSERT_EQ(std::vector<uint8_t>(rgb.begin() + i, rgb.begin() + i + 3), (std::vector<uint8_t>{60, 90, 200}));
  }
  const auto bright = FlipThenDemosaic(UniformMosaic(1, kW, kH, 200, 90, 120), kW, kH, 1, 0, tables);
  EXPECT_EQ(bright[2], 255);  // saturated, not wrapped
}

// A rebuild during a conversion never splits one frame between two balances.
TEST(BayerBalance, OneFrameUsesOneBalanceWhileTablesAreRebuilt) {
  BuiltTables tables;
  const auto raw = UniformMosaic(0, kW, kH, 100, 100, 100);
  std::atomic<bool> done{false};
  std::thread rebuilder([&] {
    for (int k = 0; !done.load(); ++k) BuildBalanceTables(tables, k % 2 ? 100 : 50, 50);
  });
  std::vector<uint8_t> rgb(kW * kH * 3);
  for (int frame = 0; frame < 300; ++frame) {
    ASSERT_TRUE(Bayer2RGB24(raw, rgb, kW, kH, 0, false, false, tables));
    for (size_t i = 2; i < rgb.size(); i += 3) ASSERT_EQ(rgb[i], rgb[2]) << "frame " << frame;
    ASSERT_TRUE(rgb[2] == 100 || rgb[2] == 200);
  }
  done = true;
  rebuilder.join();
}

TEST(BayerBadInput, RefusedWithoutWriting) {
  const BuiltTables tables;
  const auto raw = UniformMosaic(0, kW, kH, 1, 2, 3);
  std::vector<uint8_t> rgb(kW * kH * 3, 0xEE);
  const auto untouched = rgb;
  EXPECT_FALSE(Bayer2RGB24(raw, rgb, kW, kH, 4, false, false, tables));
  EXPECT_FALSE(Bayer2RGB24(raw, rgb, kW, kH, -1, false, false, tables));
  EXPECT_FALSE(Bayer2RGB24(raw, std::span<uint8_t>(rgb).first(rgb.size() - 1), kW, kH, 0, false, false, tables));
  EXPECT_FALSE(Bayer2RGB24(std::span<const uint8_t>(raw).first(raw.size() - 1), rgb, kW, kH, 0, false, false, tables));
  EXPECT_FALSE(Bayer2RGB24(raw, rgb, 1, kH, 0, false, false, tables));
  EXPECT_FALSE(Bayer2RGB24(raw, rgb, kW, 0, 0, false, false, tables));
  EXPECT_EQ(rgb, untouched);
  EXPECT_EQ(EffectiveBayerLayout(4, false, false, kW, kH), -1);
}

}  // namespace
}  // namespace okc::imaging
