#include "imaging/DarkFrame.h"

#include <algorithm>

namespace okc::imaging {

namespace {

size_t SensorPixels(const DarkRegion& region) {
  return static_cast<size_t>(region.sensorWidth) * static_cast<size_t>(region.sensorHeight);
}

// Offset of region row `row` in the full-sensor frame.
size_t SensorOffset(const DarkRegion& region, int row) {
  return static_cast<size_t>(region.startY + row) * static_cast<size_t>(region.sensorWidth) +
         static_cast<size_t>(region.startX);
}

}  // namespace

bool IsRegionInsideSensor(const DarkRegion& region) {
  // Compared as differences so that no sum can overflow.
  return region.sensorWidth > 0 && region.sensorHeight > 0 && region.width > 0 && region.height > 0 &&
         region.startX >= 0 && region.startY >= 0 && region.startX < region.sensorWidth &&
         region.startY < region.sensorHeight && region.width <= region.sensorWidth - region.startX &&
         region.height <= region.sensorHeight - region.startY;
}

size_t RegionPixels(const DarkRegion& region) {
  if (!IsRegionInsideSensor(region)) return 0;
  return static_cast<size_t>(region.width) * static_cast<size_t>(region.height);
}

bool CropDarkFrame(std::span<const uint32_t> fullDark, const DarkRegion& region, std::span<uint32_t> regionDark) {
  const size_t pixels = RegionPixels(region);
  if (pixels == 0 || fullDark.size() < SensorPixels(region) || regionDark.size() < pixels) return false;
  const auto width = static_cast<size_t>(region.width);
  for (int row = 0; row < region.height; ++row) {
    const auto from = fullDark.begin() + static_cast<ptrdiff_t>(SensorOffset(region, row));
    std::copy(from, from + static_cast<ptrdiff_t>(width), regionDark.begin() + static_cast<ptrdiff_t>(row * width));
  }
  return true;
}

bool PlaceDarkRegion(std::span<const uint32_t> regionDark, const DarkRegion& region, std::span<uint32_t> fullDark) {
  const size_t pixels = RegionPixels(region);
  if (pixels == 0 || fullDark.size() < SensorPixels(region) || regionDark.size() < pixels) return false;
  const auto width = static_cast<size_t>(region.width);
  for (int row = 0; row < region.height; ++row) {
    const auto from = regionDark.begin() + static_cast<ptrdiff_t>(row * width);
    std::copy(from, from + static_cast<ptrdiff_t>(width),
              fullDark.begin() + static_cast<ptrdiff_t>(SensorOffset(region, row)));
  }
  return true;
}

uint32_t DarkMean(std::span<const uint32_t> dark) {
  if (dark.empty()) return 0;
  uint64_t sum = 0;
  for (uint32_t level : dark) sum += level;
  return static_cast<uint32_t>(sum / dark.size());
}

bool UpdateDarkStats(std::span<const uint32_t> dark, std::span<uint32_t> hotList, std::span<uint32_t> hotFlags,
                     DarkStats& stats) {
  if (hotList.size() < dark.size() || hotFlags.size() < dark.size()) return false;
  const uint32_t mean = DarkMean(dark);
  std::fill_n(hotList.begin(), dark.size(), 0u);
  uint32_t count = 0;
  for (size_t i = 0; i < dark.size(); ++i) {
    const bool hot = dark[i] > mean && dark[i] - mean > kDarkHotMargin;
    hotFlags[i] = hot ? 1 : 0;
    if (hot) hotList[count++] = static_cast<uint32_t>(i);
  }
  stats.mean = mean;
  stats.hotCount = count;
  return true;
}

bool AdjustDarkFrame(std::span<const uint32_t> fullDark, const DarkRegion& region, std::span<uint32_t> regionDark,
                     std::span<uint32_t> hotList, std::span<uint32_t> hotFlags, DarkStats& stats) {
  const size_t pixels = RegionPixels(region);
  // Checked up front so that a refusal leaves the region frame untouched too.
  if (pixels == 0 || regionDark.size() < pixels || hotList.size() < pixels || hotFlags.size() < pixels) return false;
  if (!CropDarkFrame(fullDark, region, regionDark)) return false;
  return UpdateDarkStats(regionDark.first(pixels), hotList, hotFlags, stats);
}

DarkCaptureStep AccumulateDarkFrame(std::span<const uint8_t> frame, std::span<uint32_t> accumulator, int& taken,
                                    int wanted) {
  if (accumulator.size() < frame.size()) return DarkCaptureStep::Refused;
  if (taken <= 0) {
    std::fill(accumulator.begin(), accumulator.end(), 0u);
    taken = 0;
  }
  for (size_t i = 0; i < frame.size(); ++i) accumulator[i] += frame[i];
  ++taken;
  if (taken < std::max(wanted, 1)) return DarkCaptureStep::Accumulated;
  // Divide by the frames actually summed, so a wanted count lowered mid-capture still averages.
  const auto frames = static_cast<uint32_t>(taken);
  for (size_t i = 0; i < frame.size(); ++i) accumulator[i] /= frames;
  taken = 0;
  return DarkCaptureStep::Completed;
}

bool ShouldSubtractDark(bool useDark, bool autoExp, uint64_t exposureUs) {
  return useDark && (!autoExp || exposureUs >= kDarkMinAutoExposureUs);
}

bool SubtractDark(std::span<uint8_t> frame, std::span<const uint32_t> dark, uint32_t mean) {
  if (dark.size() < frame.size()) return false;
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = SubtractDarkPixel(frame[i], dark[i], mean);
  return true;
}

bool WidenDarkFrame(std::span<const uint8_t> bytes, std::span<uint32_t> dark) {
  if (dark.size() < bytes.size()) return false;
  std::copy(bytes.begin(), bytes.end(), dark.begin());
  return true;
}

bool NarrowDarkFrame(std::span<const uint32_t> dark, std::span<uint8_t> bytes) {
  if (bytes.size() < dark.size()) return false;
  for (size_t i = 0; i < dark.size(); ++i) bytes[i] = static_cast<uint8_t>(std::min<uint32_t>(dark[i], 255));
  return true;
}

}  // namespace okc::imaging
