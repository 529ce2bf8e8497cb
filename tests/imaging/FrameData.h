// Shared inputs of the frame stage tests: 16-bit sample frames, built colour
// tables and synthetic Bayer mosaics in sensor readout order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/ColourTables.h"

namespace okc::imaging::testing_frames {

// Native-endian 16-bit samples as frame bytes, and sample `index` of such a frame.
inline std::vector<uint8_t> Samples16(const std::vector<uint16_t>& values) {
  std::vector<uint8_t> bytes(values.size() * 2);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}
inline uint16_t Sample16(const std::vector<uint8_t>& bytes, size_t index) {
  uint16_t v;
  std::memcpy(&v, &bytes[index * 2], 2);
  return v;
}

// Colour tables as the camera builds them (identity balance).
struct BuiltTables : ColourTables {
  BuiltTables() { BuildColourTables(*this); }
};

enum class Channel { kRed, kGreen, kBlue };

// Byte index of a channel in a 24-bit (B, G, R) pixel.
inline int ByteOf(Channel c) { return c == Channel::kBlue ? 0 : c == Channel::kGreen ? 1 : 2; }

// Filter colour of sensor site (y, x) for a `bayerPattern` (0 RGGB, 1 BGGR, 2 GRBG, 3 GBRG).
inline Channel SensorChannel(int bayerPattern, int y, int x) {
  static const char* const kCells[4] = {"RGGB", "BGGR", "GRBG", "GBRG"};
  const char c = kCells[bayerPattern][(y % 2) * 2 + x % 2];
  return c == 'R' ? Channel::kRed : c == 'G' ? Channel::kGreen : Channel::kBlue;
}

// What the sensor reads out of a scene of one colour.
inline std::vector<uint8_t> UniformMosaic(int bayerPattern, int w, int h, uint8_t red, uint8_t green,
                                          uint8_t blue) {
  std::vector<uint8_t> frame(static_cast<size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Channel c = SensorChannel(bayerPattern, y, x);
      frame[static_cast<size_t>(y * w + x)] = c == Channel::kRed ? red : c == Channel::kGreen ? green : blue;
    }
  return frame;
}

}  // namespace okc::imaging::testing_frames
