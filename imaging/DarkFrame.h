// Dark-frame arithmetic: cropping the full-sensor dark frame to the frame region,
// its mean and hot pixels, averaging delivered frames into a new dark frame, and
// subtracting the dark frame from 8-bit frames.
//
// Dark levels are 8-bit values held in 32-bit entries (the same arrays serve as
// the accumulator while a dark frame is collected). Functions that take a region
// or buffers check them first and, when they do not fit, return false and touch
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace okc::imaging {

// The part of the sensor a frame covers, in sensor pixels: for an output of
// w x h at binning b this is (w * b) x (h * b) from (startX, startY).
struct DarkRegion {
  int sensorWidth = 0;  // the sensor's full width, the row length of the full-sensor dark frame
  int sensorHeight = 0;
  int startX = 0;
  int startY = 0;
  int width = 0;
  int height = 0;
};

// True when the region is non-empty and lies wholly on the sensor.
bool IsRegionInsideSensor(const DarkRegion& region);
// Pixels of the region (width x height); 0 for a region that is not inside the sensor.
size_t RegionPixels(const DarkRegion& region);

// A dark pixel is hot when it exceeds the dark mean by more than this.
constexpr uint32_t kDarkHotMargin = 30;

struct DarkStats {
  uint32_t mean = 0;
  uint32_t hotCount = 0;
};

// Copies the region out of the full-sensor dark frame (row length sensorWidth) into
// `regionDark` (row length region.width).
bool CropDarkFrame(std::span<const uint32_t> fullDark, const DarkRegion& region, std::span<uint32_t> regionDark);
// The reverse: puts a region-sized dark frame back into its place in the full-sensor
// dark frame; pixels outside the region keep their values.
bool PlaceDarkRegion(std::span<const uint32_t> regionDark, const DarkRegion& region, std::span<uint32_t> fullDark);

// Mean of the dark levels (truncating); 0 for no pixels.
uint32_t DarkMean(std::span<const uint32_t> dark);
// Mean and hot pixels of `dark`: clears the first dark.size() entries of the list and the
// flags, then lists the indices of the hot pixels in ascending order and flags each pixel
// 1 (hot) or 0. False when the list or flags are shorter than `dark`.
bool UpdateDarkStats(std::span<const uint32_t> dark, std::span<uint32_t> hotList, std::span<uint32_t> hotFlags,
                     DarkStats& stats);
// Crop to the region, then the statistics of the cropped frame: what a region change needs.
bool AdjustDarkFrame(std::span<const uint32_t> fullDark, const DarkRegion& region, std::span<uint32_t> regionDark,
                     std::span<uint32_t> hotList, std::span<uint32_t> hotFlags, DarkStats& stats);

enum class DarkCaptureStep {
  Accumulated,  // the frame was added; more are wanted
  Completed,    // the last wanted frame was added and the sum averaged; `taken` is 0 again
  Refused,      // the accumulator is smaller than the frame; nothing changed
};

// Adds one 8-bit frame to the dark accumulator. The first frame of a capture (taken 0)
// clears the whole accumulator. When `taken` reaches `wanted` (below 1 counts as 1), the
// first frame.size() entries are divided by the number of frames summed, truncating.
DarkCaptureStep AccumulateDarkFrame(std::span<const uint8_t> frame, std::span<uint32_t> accumulator, int& taken,
                                    int wanted);

// Frames at short exposures under automatic exposure are left alone: the dark frame was
// taken at a long one, and its warm pixels would not match.
constexpr uint64_t kDarkMinAutoExposureUs = 500000;
bool ShouldSubtractDark(bool useDark, bool autoExp, uint64_t exposureUs);

// Removes the dark frame's deviation from its own mean, keeping the frame's level:
// v + mean - dark, limited to 0..255.
constexpr uint8_t SubtractDarkPixel(uint8_t value, uint32_t dark, uint32_t mean) {
  const uint64_t raised = uint64_t{mean} + value;
  if (raised <= dark) return 0;
  const uint64_t result = raised - dark;
  return static_cast<uint8_t>(result > 255 ? 255 : result);
}
// Applies SubtractDarkPixel to every pixel of `frame`. False when `dark` is shorter.
bool SubtractDark(std::span<uint8_t> frame, std::span<const uint32_t> dark, uint32_t mean);

// Between the dark frame and its 8-bit BMP form. Narrowing saturates at 255.
// False when the destination is shorter than the source.
bool WidenDarkFrame(std::span<const uint8_t> bytes, std::span<uint32_t> dark);
bool NarrowDarkFrame(std::span<const uint32_t> dark, std::span<uint8_t> bytes);

}  // namespace okc::imaging
