// The sky a simulated camera looks at, and the raw frames its sensor makes of it.
//
// The scene lives in sensor coordinates, the pixel array as it reads out:
// stars, sky glow, dark current and hot pixels sit at fixed pixels, so any
// readout window shows the same stars at the same places. It is built once per
// layout (array size and colour filter); a frame then only scales it by
// exposure and gain and adds noise.
//
// Levels are 12-bit numbers (DN): rates are DN per second at unity gain, a
// sample is black level + gain x exposure x rate (+ noise), saturating at 4095.
// A sensor with fewer bits delivers the top bits of that number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "okccamera/SimCameras.h"

namespace okc::sim {

// Bytes 0x11, 0xAA, 0x00, 0xBB: the first word of every frame.
constexpr uint32_t kFrameMarker = 0xBB00AA11;
// Bytes 0xBB, 0x00, 0xAA, 0x11: the last word of every frame of the USB 3 models.
constexpr uint32_t kFrameTrailer = 0x11AA00BB;
constexpr int kMaxSample = 4095;

// The colour filter of the 2 x 2 cell at even array rows and columns.
enum class Mosaic {
  Mono,
  GRBG,  // G R / B G
  BGGR,  // B G / G R
};

// The pixel array a scene is built for.
struct SceneLayout {
  int columns = 1280;
  int rows = 964;
  Mosaic mosaic = Mosaic::GRBG;
  bool operator==(const SceneLayout&) const = default;
};

// How one frame is read out and exposed.
struct FrameSettings {
  // Readout window in sensor pixels (first column and row, columns and rows).
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool sixteenBit = false;  // 2 bytes per sample, else 1 (the 8 high bits)
  double exposureUs = 0;
  // Analog x digital gain of each place of the 2 x 2 colour cell, indexed
  // [sensor row & 1][sensor column & 1].
  std::array<std::array<double, 2>, 2> cellGain{};
  double blackLevel = 0;     // DN added to every sample
  bool lensCovered = false;  // no light: dark current and hot pixels only
  SceneLight light = {};     // brightness and colour cast of the scene
  bool noise = true;         // shot and read noise
  // The sensor's resolution and how its two-byte samples are laid out.
  int sampleBits = 12;
  bool leftAlignedHighFirst = false;  // else the top 8 bits, then the low bits
};

class SimScene {
 public:
  // The scene of a layout, built on first use and shared by every camera with that array.
  static std::shared_ptr<const SimScene> Shared(const SceneLayout& layout);

  explicit SimScene(const SceneLayout& layout);

  bool Colour() const { return layout_.mosaic != Mosaic::Mono; }
  int Columns() const { return layout_.columns; }
  int Rows() const { return layout_.rows; }
  // The window lies inside the pixel array of `layout` and is not empty.
  static bool WindowFits(const FrameSettings& settings, const SceneLayout& layout);
  bool WindowFits(const FrameSettings& settings) const { return WindowFits(settings, layout_); }
  // Bytes of a frame of the window; 0 if it does not fit.
  size_t FrameBytes(const FrameSettings& settings) const;

  // The noiseless sample at a sensor pixel in the sensor's resolution; -1 outside the array.
  int ExpectedValue(int x, int y, const FrameSettings& settings) const;
  // Writes the frame's samples (no marker) into `out`, resized to FrameBytes
  // (its storage is reused: a stream renders into the same buffer each frame).
  // The noise comes from `noiseSeed`; the same seed gives the same frame.
  // False, with `out` empty, if the window does not fit.
  bool Render(const FrameSettings& settings, uint64_t noiseSeed, std::vector<uint8_t>& out) const;

  // Sensor pixels with a dark current far above the rest.
  const std::vector<SensorPixel>& HotPixels() const { return hotPixels_; }

 private:
  void AddSky();
  void AddStars();
  void AddDarkCurrent();
  // Filter response of the pixel's colour to light of colour (red, green, blue).
  float Response(int x, int y, float red, float green, float blue) const;
  // How much of the scene's light reaches a pixel at (x, y) under `light`.
  float LightFactor(int x, int y, const SceneLight& light) const;

  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(layout_.columns) + static_cast<size_t>(x);
  }

  const SceneLayout layout_;
  std::vector<float> light_;  // DN/s at unity gain from the sky and the stars
  std::vector<float> dark_;   // DN/s at unity gain from dark current
  std::vector<SensorPixel> hotPixels_;
};

// Writes the frame marker over the first four bytes (frames of at least 4 bytes).
void StampFrameMarker(std::vector<uint8_t>& frame);
// Writes the trailer over the last four bytes (frames of at least 8 bytes).
void StampFrameTrailer(std::vector<uint8_t>& frame);
// True if the frame begins with the marker.
bool HasFrameMarker(const std::vector<uint8_t>& frame);

}  // namespace okc::sim
