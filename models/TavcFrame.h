// The raw frame of the TAV family as it arrives on the bulk IN endpoint, and
// the sizes the capture engine and the frame delivery share.
//
// A frame holds the full unbinned window, (bin x width) x (bin x height)
// samples row by row, one byte each (8 most significant bits) or two (12-bit
// value: 8 high bits, then the 4 low bits in the low nibble). Its first word is
// the frame marker, written over the first pixels by the camera.
#pragma once

#include <cstddef>
#include <cstdint>

#include "okccamera/CameraTypes.h"

namespace okc::models {

// Little-endian: bytes 0x11, 0xAA, 0x00, 0xBB.
constexpr uint32_t kTavcFrameMarker = 0xBB00AA11;
// Bytes per bulk transfer; a frame travels in as many as it needs.
constexpr uint32_t kTavcChunkBytes = 307200;

// Bytes of a raw frame; 0 while no window is set (bin below 1) or for a non-positive size.
inline size_t TavcRawFrameBytes(int width, int height, int bin, bool sixteenBit) {
  if (width <= 0 || height <= 0 || bin < 1) return 0;
  const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(bin) * static_cast<size_t>(height) *
                         static_cast<size_t>(bin);
  return samples * (sixteenBit ? 2u : 1u);
}

inline bool StartsWithTavcFrameMarker(const uint8_t* frame) {
  return frame[0] == (kTavcFrameMarker & 0xFF) && frame[1] == ((kTavcFrameMarker >> 8) & 0xFF) &&
         frame[2] == ((kTavcFrameMarker >> 16) & 0xFF) && frame[3] == ((kTavcFrameMarker >> 24) & 0xFF);
}

// Bytes per pixel of the image GetImage writes for an image type; 0 for a type
// that delivers nothing (IMAGE_16BIT_ALT on this family) or is unknown.
inline size_t TavcOutputBytesPerPixel(IMAGE_TYPE type) {
  switch (type) {
    case IMAGE_8BIT: return 1;
    case IMAGE_RGB24: return 3;
    case IMAGE_YUV422: return 2;
    case IMAGE_16BIT: return 2;
    default: return 0;
  }
}

}  // namespace okc::models
