// Dark-frame arithmetic: subtraction, mean and hot pixels, crop to a region,
// averaging captured frames, and a dark frame taken, saved, loaded and used.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "imaging/BmpFile.h"
#include "imaging/DarkFrame.h"
#include "support/SimEnvironment.h"

using namespace okc::imaging;

namespace {

constexpr uint32_t kUntouched = 0xEEEEEEEE;
using Levels = std::vector<uint32_t>;

}  // namespace

TEST(DarkSubtraction, KeepsTheFrameLevelAndClampsToEightBits) {
  std::vector<uint8_t> frame = {40, 40, 250, 40, 200};
  const Levels dark = {50, 60, 0, 52, 0xFFFFFFFF};
  ASSERT_TRUE(SubtractDark(frame, dark, 12));
  // 40 + 12 - 52 is not above zero; a huge dark level never overflows the sum.
  EXPECT_EQ(frame, (std::vector<uint8_t>{2, 0, 255, 0, 0}));
  EXPECT_EQ(SubtractDarkPixel(200, 0xFFFFFFFF, 0xFFFFFFFF), 200);
  std::vector<uint8_t> longer(6, 99);
  EXPECT_FALSE(SubtractDark(longer, dark, 12));
  EXPECT_EQ(longer, std::vector<uint8_t>(6, 99));
  // Short automatic exposures are left alone.
  EXPECT_TRUE(ShouldSubtractDark(true, false, 64));
  EXPECT_FALSE(ShouldSubtractDark(true, true, 499999));
  EXPECT_TRUE(ShouldSubtractDark(true, true, 500000));
  EXPECT_FALSE(ShouldSubtractDark(false, false, 1000000));
}

TEST(DarkStats, HotMeansMoreThanThirtyAboveTheMean) {
  // Mean 20: eight quiet pixels summing to 99, then 50 (mean + 30) and 51 (mean + 31).
  const Levels dark = {12, 12, 15, 12, 50, 12, 12, 12, 51, 12};
  Levels list(12, kUntouched), flags(12, kUntouched);
  DarkStats stats;
  ASSERT_TRUE(UpdateDarkStats(dark, list, flags, stats));
  EXPECT_EQ(stats.mean, 20u);
  EXPECT_EQ(stats.hotCount, 1u);
  // The list holds index 8, the rest of it is cleared; nothing beyond the frame is written.
  EXPECT_EQ(Levels(list.begin(), list.begin() + 2), (Levels{8, 0}));
  EXPECT_EQ(list[10], kUntouched);
  EXPECT_EQ(flags, (Levels{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, kUntouched, kUntouched}));
  Levels shortList(9);
  EXPECT_FALSE(UpdateDarkStats(dark, shortList, flags, stats));
}

TEST(DarkCrop, CopiesAndPlacesTheRegionAtItsOffset) {
  // A 6 x 5 sensor whose dark level at (x, y) is 100 * y + x, so a crop shows where it came from.
  Levels sensor;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) sensor.push_back(static_cast<uint32_t>(100 * y + x));
  Levels region(30, kUntouched);
  ASSERT_TRUE(CropDarkFrame(sensor, {6, 5, 2, 1, 3, 2}, region));
  EXPECT_EQ(Levels(region.begin(), region.begin() + 7), (Levels{102, 103, 104, 202, 203, 204, kUntouched}));
  ASSERT_TRUE(CropDarkFrame(sensor, {6, 5, 5, 4, 1, 1}, region));  // the far corner is still inside
  EXPECT_EQ(region[0], 405u);
  // Placing a region back changes only that region.
  Levels placed = sensor;
  ASSERT_TRUE(PlaceDarkRegion(Levels{1, 2, 3, 4, 5, 6}, {6, 5, 2, 1, 3, 2}, placed));
  Levels expected = sensor;
  expected[8] = 1, expected[9] = 2, expected[10] = 3, expected[14] = 4, expected[15] = 5, expected[16] = 6;
  EXPECT_EQ(placed, expected);

  const DarkRegion outside[] = {
      {6, 5, 4, 1, 3, 2},        // past the right edge
      {6, 5, 0, 4, 1, 2},        // past the bottom
      {6, 5, -1, 0, 2, 2},       // negative start
      {6, 5, 0, 0, 0, 2},        // empty
      {6, 5, 1, 1, INT_MAX, 1},  // a sum that would overflow
      {0, 5, 0, 0, 1, 1},        // a sensor without width
  };
  for (const DarkRegion& r : outside) {
    SCOPED_TRACE(testing::Message() << r.startX << "," << r.startY << " " << r.width << "x" << r.height);
    Levels dst(30, kUntouched), list(30, kUntouched), flags(30, kUntouched);
    DarkStats stats{7, 7};
    EXPECT_FALSE(AdjustDarkFrame(sensor, r, dst, list, flags, stats));
    EXPECT_FALSE(PlaceDarkRegion(sensor, r, dst));
    EXPECT_EQ(dst, Levels(30, kUntouched));
    EXPECT_EQ(list, Levels(30, kUntouched));
    EXPECT_EQ(stats.mean, 7u);
  }
  Levels small(5, kUntouched);
  EXPECT_FALSE(CropDarkFrame(sensor, {6, 5, 0, 0, 3, 2}, small));
  EXPECT_EQ(small, Levels(5, kUntouched));
  EXPECT_FALSE(CropDarkFrame(Levels(29), {6, 5, 0, 0, 1, 1}, region));  // a sensor frame too short
}

TEST(DarkCapture, AveragesFourFramesTruncating) {
  Levels accumulator(6, kUntouched);  // stale sums from an earlier capture
  int taken = 0;
  const uint8_t frames[4][4] = {{1, 255, 0, 10}, {2, 255, 0, 10}, {2, 255, 0, 10}, {2, 254, 3, 11}};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(AccumulateDarkFrame(frames[i], accumulator, taken, 4), DarkCaptureStep::Accumulated);
  EXPECT_EQ(taken, 3);
  EXPECT_EQ(AccumulateDarkFrame(frames[3], accumulator, taken, 4), DarkCaptureStep::Completed);
  EXPECT_EQ(taken, 0);
  // 7/4, 1019/4, 3/4, 41/4; the whole accumulator was cleared by the first frame.
  EXPECT_EQ(accumulator, (Levels{1, 254, 0, 10, 0, 0}));
  // A wanted count lowered below the frames already summed still gives their average.
  ASSERT_EQ(AccumulateDarkFrame(frames[0], accumulator, taken, 3), DarkCaptureStep::Accumulated);
  ASSERT_EQ(AccumulateDarkFrame(frames[1], accumulator, taken, 3), DarkCaptureStep::Accumulated);
  EXPECT_EQ(AccumulateDarkFrame(frames[3], accumulator, taken, 0), DarkCaptureStep::Completed);
  EXPECT_EQ(accumulator[0], 5u / 3);
  Levels small(3, kUntouched);
  EXPECT_EQ(AccumulateDarkFrame(frames[0], small, taken, 1), DarkCaptureStep::Refused);
  EXPECT_EQ(small, Levels(3, kUntouched));
  EXPECT_EQ(taken, 0);
}

// Take a dark frame, save it, load it again and subtract it from a frame of a region.
using DarkFiles = okc::test::SimEnvironment;

TEST_F(DarkFiles, SavedDarkFrameSubtractsAfterLoading) {
  constexpr int kW = 8, kH = 4;
  std::vector<uint8_t> frame(kW * kH, 10);
  frame[1 * kW + 5] = 90;  // a warm pixel
  Levels dark(kW * kH);
  int taken = 0;
  for (int i = 0; i < 2; ++i) AccumulateDarkFrame(frame, dark, taken, 2);
  dark[0] = 300;  // saved as 255: narrowing saturates

  std::vector<uint8_t> bytes(kW * kH);
  ASSERT_TRUE(NarrowDarkFrame(dark, bytes));
  EXPECT_EQ(bytes[0], 255);
  const std::string path = MakeTempDir() + "/dark.bmp";
  ASSERT_TRUE(WriteGreyBmp(path.c_str(), kW, kH, bytes.data()));
  std::vector<uint8_t> loaded(kW * kH);
  ASSERT_EQ(ReadGreyBmp(path.c_str(), kW, kH, loaded.data()), BmpReadResult::Ok);
  Levels loadedDark(kW * kH), regionDark(kW * kH), list(kW * kH), flags(kW * kH);
  ASSERT_TRUE(WidenDarkFrame(loaded, loadedDark));

  DarkStats stats;
  ASSERT_TRUE(AdjustDarkFrame(loadedDark, {kW, kH, 4, 1, 4, 2}, regionDark, list, flags, stats));
  EXPECT_EQ(stats.mean, 20u);  // (7 * 10 + 90) / 8: the region's own mean
  EXPECT_EQ(stats.hotCount, 1u);
  EXPECT_EQ(list[0], 1u);
  std::vector<uint8_t> light(8, 100);
  ASSERT_TRUE(SubtractDark(light, std::span<const uint32_t>(regionDark).first(8), stats.mean));
  EXPECT_EQ(light, (std::vector<uint8_t>{110, 30, 110, 110, 110, 110, 110, 110}));
}
