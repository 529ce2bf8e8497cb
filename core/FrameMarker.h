// The words with which the cameras mark the ends of a raw frame on the bulk
// IN endpoint: every frame begins with the marker, written over its first
// pixels; the USB 3 models also end it with the trailer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace okc::core {

// Little-endian: bytes 0x11, 0xAA, 0x00, 0xBB.
constexpr uint32_t kFrameMarker = 0xBB00AA11;
// Little-endian: bytes 0xBB, 0x00, 0xAA, 0x11.
constexpr uint32_t kFrameTrailer = 0x11AA00BB;

inline bool HoldsWord(const uint8_t* bytes, uint32_t word) {
  return bytes[0] == (word & 0xFF) && bytes[1] == ((word >> 8) & 0xFF) && bytes[2] == ((word >> 16) & 0xFF) &&
         bytes[3] == ((word >> 24) & 0xFF);
}

inline bool StartsWithFrameMarker(const uint8_t* frame) { return HoldsWord(frame, kFrameMarker); }

// Whether the marker occurs again at a 32-bit word from index 10 to the frame's end.
inline bool FrameMarkerRecurs(const uint8_t* frame, size_t bytes) {
  for (size_t word = 10; word < bytes / 4; ++word)
    if (HoldsWord(frame + word * 4, kFrameMarker)) return true;
  return false;
}

inline bool EndsWithFrameTrailer(const uint8_t* frame, size_t bytes) {
  return bytes >= 4 && HoldsWord(frame + bytes - 4, kFrameTrailer);
}

}  // namespace okc::core
