// The raw frame of the TAV family as it arrives on the bulk IN endpoint.
//
// A frame holds the full unbinned window, (bin x width) x (bin x height)
// samples row by row, one byte each (8 most significant bits) or two (12-bit
// value: 8 high bits, then the 4 low bits in the low nibble). Its first word is
// the frame marker (core/FrameMarker.h), written over the first pixels by the camera.
#pragma once

#include <cstddef>
#include <cstdint>

namespace okc::models {

// Bytes per bulk transfer of the USB 2 models; a frame travels in as many as it needs.
constexpr uint32_t kTavcChunkBytes = 307200;

// Bytes of a raw frame; 0 while no window is set (bin below 1) or for a non-positive size.
inline size_t TavcRawFrameBytes(int width, int height, int bin, bool sixteenBit) {
  if (width <= 0 || height <= 0 || bin < 1) return 0;
  const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(bin) * static_cast<size_t>(height) *
                         static_cast<size_t>(bin);
  return samples * (sixteenBit ? 2u : 1u);
}

}  // namespace okc::models
