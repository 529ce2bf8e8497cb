// Byte sizes of frames, computed without overflow, for the stages to check
// their buffers against before they touch a single byte.
#pragma once

#include <cstddef>
#include <optional>

namespace okc::imaging {

// Bytes of `width` x `height` pixels of `bytesPerPixel` bytes each; nullopt
// when a factor is not positive or the product does not fit in size_t.
inline std::optional<size_t> FrameBytes(long long width, long long height, long long bytesPerPixel) {
  if (width <= 0 || height <= 0 || bytesPerPixel <= 0) return std::nullopt;
  size_t pixels = 0;
  size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                             &pixels) ||
      __builtin_mul_overflow(pixels, static_cast<unsigned long long>(bytesPerPixel), &bytes))
    return std::nullopt;
  return bytes;
}

// True when a buffer of `available` bytes holds such a frame.
inline bool FrameFits(size_t available, long long width, long long height, long long bytesPerPixel) {
  const std::optional<size_t> need = FrameBytes(width, height, bytesPerPixel);
  return need && *need <= available;
}

}  // namespace okc::imaging
