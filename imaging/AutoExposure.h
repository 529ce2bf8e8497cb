// One step of automatic exposure and gain (CCameraBase::AutoExpGain): the
// mean of a central window of the newest raw frame is compared with the target
// brightness, and exposure and gain move by proportional or unit steps within
// their automatic limits.
//
// Pure code over a frame and a snapshot of the camera's values; it touches no
// camera. The caller applies the decision through the model's SetExp / SetGain
// (which clamp to the model's own limits).
//
// Camera fields: RawFrameGeometry = `width`, `height`, `bin`, `output16Bits`;
// AutoExposureInput = `exposure`, `exposureLines`, `gain`, `autoExp`,
// `autoGain`, `autoExpMax`, `autoGainMax`, `destBrightness`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace okc::imaging {

// A raw frame exactly as the camera sends it: (width x bin) x (height x bin)
// samples, one byte each, or two with the 8 most significant bits first.
struct RawFrameGeometry {
  int width = 0;   // delivered (binned) width
  int height = 0;  // delivered (binned) height
  int bin = 1;
  bool sixteenBit = false;

  int RawWidth() const { return width * bin; }
  int RawHeight() const { return height * bin; }
  // Bytes of such a frame; 0 for a geometry without pixels or too large to count.
  size_t FrameBytes() const;
};

struct AutoExposureInput {
  uint64_t exposureUs = 0;
  uint32_t exposureLines = 1;  // exposure in sensor line periods
  int gain = 0;
  bool autoExp = false;
  bool autoGain = false;
  int autoExpMaxSeconds = 30;
  int autoGainMax = 50;
  int destBrightness = 100;
  // The range the model's SetGain clamps to (1..100 on every model).
  int gainMin = 1;
  int gainMax = 100;
};

struct AutoExposureDecision {
  // False when the frame could not be measured (wrong size, no samples); then nothing changes.
  bool measured = false;
  int brightness = 0;  // B, 0..255, delivered-image scale
  // The values the step started from and those it sets.
  uint64_t exposureBeforeUs = 0;
  int gainBefore = 0;
  uint64_t exposureUs = 0;
  int gain = 0;
  bool exposureChanged = false;
  bool gainChanged = false;
};

// The brightness B of a raw frame: the mean of every third sample of every
// third row of the central 60 percent, plus one, times bin x bin (the delivered
// image sums bin x bin samples), at most 255. Nullopt when `bytes` is smaller
// than the frame or the window holds no sample.
std::optional<int> MeasureBrightness(const uint8_t* frame, size_t bytes, const RawFrameGeometry& geometry);

// The step for a measured brightness; never fails.
AutoExposureDecision DecideAutoExposure(int brightness, const AutoExposureInput& input);

// Measures and decides in one go (what AutoExpGain does per frame).
AutoExposureDecision AutoExposureStep(const uint8_t* frame, size_t bytes, const RawFrameGeometry& geometry,
                                      const AutoExposureInput& input);

}  // namespace okc::imaging
