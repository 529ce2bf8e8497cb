// Dark-frame arithmetic: crop, mean and hot pixels, averaging, subtraction.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "ScratchDir.h"
#include "imaging/BmpFile.h"
#include "imaging/DarkFrame.h"

using namespace okc::imaging;

namespace {

constexpr uint32_t kUntouched = 0xEEEEEEEE;

// A 6 x 5 sensor whose dark level at (x, y) is 100 * y + x, so a crop shows where it came from.
struct Sensor {
  static constexpr int kWidth = 6;
  static constexpr int kHeight = 5;
  std::vector<uint32_t> dark;
  Sensor() {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) dark.push_back(static_cast<uint32_t>(100 * y + x));
  }
  static DarkRegion Region(int x, int y, int w, int h) { return {kWidth, kHeight, x, y, w, h}; }
};

}  // namespace

TEST(DarkSubtraction, KeepsTheFrameLevelAndClampsToEightBits) {
  EXPECT_EQ(SubtractDarkPixel(40, 50, 12), 2);
  EXPECT_EQ(SubtractDarkPixel(40, 60, 12), 0);
  EXPECT_EQ(SubtractDarkPixel(250, 0, 12), 255);
  EXPECT_EQ(SubtractDarkPixel(40, 52, 12), 0);  // m + v equal to d is not above it
  EXPECT_EQ(SubtractDarkPixel(200, 0xFFFFFFFF, 0xFFFFFFFF), 200);  // no overflow in m + v
  EXPECT_EQ(SubtractDarkPixel(255, 0, 0xFFFFFFFF), 255);
}

TEST(DarkSubtraction, AppliesToEveryPixelAndRefusesAShortDark) {
  std::vector<uint8_t> frame = {40, 40, 250, 12};
  const std::vector<uint32_t> dark = {50, 60, 0, 12};
  ASSERT_TRUE(SubtractDark(frame, dark, 12));
  EXPECT_EQ(frame, (std::vector<uint8_t>{2, 0, 255, 12}));

  std::vector<uint8_t> longer(5, 99);
  EXPECT_FALSE(SubtractDark(longer, dark, 12));
  EXPECT_EQ(longer, std::vector<uint8_t>(5, 99));
}

TEST(DarkSubtraction, SkipsShortAutomaticExposures) {
  EXPECT_TRUE(ShouldSubtractDark(true, false, 64));
  EXPECT_FALSE(ShouldSubtractDark(true, true, 499999));
  EXPECT_TRUE(ShouldSubtractDark(true, true, 500000));
  EXPECT_FALSE(ShouldSubtractDark(false, false, 1000000));
}

TEST(DarkStatsTest, HotMeansMoreThanThirtyAboveTheMean) {
  // Mean 20: eight quiet pixels summing to 99, then 50 (mean + 30) and 51 (mean + 31).
  const std::vector<uint32_t> dark = {12, 12, 15, 12, 50, 12, 12, 12, 51, 12};
  std::vector<uint32_t> list(12, kUntouched), flags(12, kUntouched);
  DarkStats stats;
  ASSERT_TRUE(UpdateDarkStats(dark, list, flags, stats));
  EXPECT_EQ(stats.mean, 20u);
  EXPECT_EQ(stats.hotCount, 1u);
  EXPECT_EQ(list[0], 8u);
  EXPECT_EQ(list[1], 0u);  // the rest of the list is cleared
  EXPECT_EQ(list[10], kUntouched);  // beyond the frame nothing is written
  EXPECT_EQ(flags, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, kUntouched, kUntouched}));

  std::vector<uint32_t> shortList(9);
  EXPECT_FALSE(UpdateDarkStats(dark, shortList, flags, stats));
}

TEST(DarkCrop, CopiesTheRegionAtItsOffset) {
  Sensor sensor;
  std::vector<uint32_t> region(Sensor::kWidth * Sensor::kHeight, kUntouched);
  ASSERT_TRUE(CropDarkFrame(sensor.dark, Sensor::Region(2, 1, 3, 2), region));
  EXPECT_EQ(std::vector<uint32_t>(region.begin(), region.begin() + 7),
            (std::vector<uint32_t>{102, 103, 104, 202, 203, 204, kUntouched}));

  // The far corner of the sensor is still inside.
  ASSERT_TRUE(CropDarkFrame(sensor.dark, Sensor::Region(5, 4, 1, 1), region));
  EXPECT_EQ(region[0], 405u);
}

TEST(DarkCrop, RefusesRegionsOffTheSensorAndShortBuffers) {
  Sensor sensor;
  const DarkRegion outside[] = {
      Sensor::Region(4, 1, 3, 2),         // past the right edge
      Sensor::Region(0, 4, 1, 2),         // past the bottom
      Sensor::Region(-1, 0, 2, 2),        // negative start
      Sensor::Region(0, 0, 0, 2),         // empty
      Sensor::Region(1, 1, INT_MAX, 1),   // a sum that would overflow
      {0, 5, 0, 0, 1, 1},                 // a sensor without width
  };
  for (const DarkRegion& region : outside) {
    EXPECT_FALSE(IsRegionInsideSensor(region));
    std::vector<uint32_t> dst(30, kUntouched), list(30, kUntouched), flags(30, kUntouched);
    DarkStats stats{7, 7};
    EXPECT_FALSE(AdjustDarkFrame(sensor.dark, region, dst, list, flags, stats));
    EXPECT_FALSE(PlaceDarkRegion(sensor.dark, region, dst));
    EXPECT_EQ(dst, std::vector<uint32_t>(30, kUntouched));
    EXPECT_EQ(list, std::vector<uint32_t>(30, kUntouched));
    EXPECT_EQ(stats.mean, 7u);
  }

  std::vector<uint32_t> small(5, kUntouched);
  EXPECT_FALSE(CropDarkFrame(sensor.dark, Sensor::Region(0, 0, 3, 2), small));
  EXPECT_EQ(small, std::vector<uint32_t>(5, kUntouched));
  const std::vector<uint32_t> shortSensor(29);
  std::vector<uint32_t> dst(30);
  EXPECT_FALSE(CropDarkFrame(shortSensor, Sensor::Region(0, 0, 1, 1), dst));
}

TEST(DarkCrop, AdjustGivesTheStatisticsOfTheRegionOnly) {
  Sensor sensor;
  sensor.dark[2 * Sensor::kWidth + 3] = 250;  // a warm pixel at (3, 2)
  std::vector<uint32_t> region(30), list(30), flags(30);
  DarkStats stats;
  ASSERT_TRUE(AdjustDarkFrame(sensor.dark, Sensor::Region(2, 1, 3, 2), region, list, flags, stats));
  // Region: 102 103 104 / 202 250 204, mean 160; only 250 and 202, 204 lie more than 30 above.
  EXPECT_EQ(stats.mean, 160u);
  ASSERT_EQ(stats.hotCount, 3u);
  EXPECT_EQ(list[0], 3u);
  EXPECT_EQ(list[1], 4u);
  EXPECT_EQ(list[2], 5u);
}

TEST(DarkCrop, PlacingARegionBackChangesOnlyThatRegion) {
  Sensor sensor;
  const std::vector<uint32_t> before = sensor.dark;
  const std::vector<uint32_t> region = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(PlaceDarkRegion(region, Sensor::Region(2, 1, 3, 2), sensor.dark));
  std::vector<uint32_t> expected = before;
  expected[8] = 1, expected[9] = 2, expected[10] = 3, expected[14] = 4, expected[15] = 5, expected[16] = 6;
  EXPECT_EQ(sensor.dark, expected);
}

TEST(DarkCapture, AveragesFourFramesTruncating) {
  std::vector<uint32_t> accumulator(6, kUntouched);  // stale sums from an earlier capture
  int taken = 0;
  const uint8_t frames[4][4] = {{1, 255, 0, 10}, {2, 255, 0, 10}, {2, 255, 0, 10}, {2, 254, 3, 11}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(AccumulateDarkFrame(frames[i], accumulator, taken, 4), DarkCaptureStep::Accumulated);
    EXPECT_EQ(taken, i + 1);
  }
  EXPECT_EQ(AccumulateDarkFrame(frames[3], accumulator, taken, 4), DarkCaptureStep::Completed);
  EXPECT_EQ(taken, 0);
  // 7/4, 1019/4, 3/4, 41/4; the whole accumulator was cleared by the first frame.
  EXPECT_EQ(accumulator, (std::vector<uint32_t>{1, 254, 0, 10, 0, 0}));

  // The next capture starts from zero, not from the last average.
  EXPECT_EQ(AccumulateDarkFrame(frames[0], accumulator, taken, 1), DarkCaptureStep::Completed);
  EXPECT_EQ(accumulator[1], 255u);
}

TEST(DarkCapture, OddCountsAndShortAccumulatorsAreSafe) {
  std::vector<uint32_t> accumulator(4);
  const uint8_t frame[4] = {9, 9, 9, 9};
  int taken = 0;
  EXPECT_EQ(AccumulateDarkFrame(frame, accumulator, taken, 0), DarkCaptureStep::Completed);
  EXPECT_EQ(accumulator[0], 9u);

  // A wanted count lowered below the frames already summed still gives their average.
  ASSERT_EQ(AccumulateDarkFrame(frame, accumulator, taken, 3), DarkCaptureStep::Accumulated);
  ASSERT_EQ(AccumulateDarkFrame(frame, accumulator, taken, 3), DarkCaptureStep::Accumulated);
  EXPECT_EQ(AccumulateDarkFrame(frame, accumulator, taken, 1), DarkCaptureStep::Completed);
  EXPECT_EQ(accumulator[0], 9u);

  std::vector<uint32_t> small(3, kUntouched);
  EXPECT_EQ(AccumulateDarkFrame(frame, small, taken, 1), DarkCaptureStep::Refused);
  EXPECT_EQ(small, std::vector<uint32_t>(3, kUntouched));
  EXPECT_EQ(taken, 0);
}

TEST(DarkCapture, NarrowingSaturatesAndWideningKeepsValues) {
  const std::vector<uint32_t> dark = {0, 17, 255, 256, 70000};
  std::vector<uint8_t> bytes(5);
  ASSERT_TRUE(NarrowDarkFrame(dark, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 17, 255, 255, 255}));
  std::vector<uint32_t> wide(5, kUntouched);
  ASSERT_TRUE(WidenDarkFrame(bytes, wide));
  EXPECT_EQ(wide, (std::vector<uint32_t>{0, 17, 255, 255, 255}));
  std::vector<uint8_t> shortBytes(4);
  EXPECT_FALSE(NarrowDarkFrame(dark, shortBytes));
}

// Take a dark frame, save it, load it again and subtract it from a frame of a region.
TEST(DarkCapture, SavedDarkFrameSubtractsAfterLoading) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.Path().empty());
  constexpr int kW = 8, kH = 4;
  std::vector<uint8_t> frame(kW * kH, 10);
  frame[1 * kW + 5] = 90;  // a warm pixel
  std::vector<uint32_t> working(kW * kH), full(kW * kH);
  int taken = 0;
  for (int i = 0; i < 2; ++i) AccumulateDarkFrame(frame, working, taken, 2);
  const DarkRegion sensor{kW, kH, 0, 0, kW, kH};
  ASSERT_TRUE(PlaceDarkRegion(working, sensor, full));

  std::vector<uint8_t> bytes(kW * kH);
  ASSERT_TRUE(NarrowDarkFrame(full, bytes));
  const std::string path = scratch / "dark.bmp";
  ASSERT_TRUE(WriteGreyBmp(path.c_str(), kW, kH, bytes.data()));
  std::vector<uint8_t> loaded(kW * kH);
  ASSERT_EQ(ReadGreyBmp(path.c_str(), kW, kH, loaded.data()), BmpReadResult::Ok);
  std::vector<uint32_t> loadedDark(kW * kH), regionDark(kW * kH), list(kW * kH), flags(kW * kH);
  ASSERT_TRUE(WidenDarkFrame(loaded, loadedDark));

  const DarkRegion region{kW, kH, 4, 1, 4, 2};
  DarkStats stats;
  ASSERT_TRUE(AdjustDarkFrame(loadedDark, region, regionDark, list, flags, stats));
  EXPECT_EQ(stats.mean, 20u);  // (7 * 10 + 90) / 8
  EXPECT_EQ(stats.hotCount, 1u);
  EXPECT_EQ(list[0], 1u);

  std::vector<uint8_t> light(8, 100);
  ASSERT_TRUE(SubtractDark(light, std::span<const uint32_t>(regionDark).first(8), stats.mean));
  EXPECT_EQ(light, (std::vector<uint8_t>{110, 30, 110, 110, 110, 110, 110, 110}));
}
