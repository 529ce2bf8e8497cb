#include "imaging/Flip.h"

#include <algorithm>
#include <cstring>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

// Reverses the order of `count` samples of N bytes starting at `first`.
template <size_t N>
void ReverseSamples(uint8_t* first, size_t count) {
  if constexpr (N == 1) {
    std::reverse(first, first + count);
    return;
  }
  if (count < 2) return;
  uint8_t* low = first;
  uint8_t* high = first + (count - 1) * N;
  for (; low < high; low += N, high -= N) {
    uint8_t held[N];
    std::memcpy(held, low, N);
    std::memcpy(low, high, N);
    std::memcpy(high, held, N);
  }
}

template <size_t N>
void Mirror(uint8_t* frame, size_t samplesPerRow, size_t rows, bool flipRow, bool flipColumn) {
  const size_t rowBytes = samplesPerRow * N;
  if (flipRow && flipColumn) {
    ReverseSamples<N>(frame, samplesPerRow * rows);
  } else if (flipRow) {
    for (size_t r = 0; r < rows; ++r) ReverseSamples<N>(frame + r * rowBytes, samplesPerRow);
  } else if (flipColumn) {
    for (size_t r = 0; r < rows / 2; ++r)
      std::swap_ranges(frame + r * rowBytes, frame + (r + 1) * rowBytes, frame + (rows - 1 - r) * rowBytes);
  }
}

}  // namespace

bool SoftMisc(std::span<uint8_t> frame, int samplesPerRow, int rows, int bytesPerSample, bool flipRow,
              bool flipColumn) {
  if (bytesPerSample < 1 || bytesPerSample > 4) return false;
  if (!FrameFits(frame.size(), samplesPerRow, rows, bytesPerSample)) return false;
  const size_t w = static_cast<size_t>(samplesPerRow);
  const size_t h = static_cast<size_t>(rows);
  switch (bytesPerSample) {
    case 1: Mirror<1>(frame.data(), w, h, flipRow, flipColumn); break;
    case 2: Mirror<2>(frame.data(), w, h, flipRow, flipColumn); break;
    case 3: Mirror<3>(frame.data(), w, h, flipRow, flipColumn); break;
    default: Mirror<4>(frame.data(), w, h, flipRow, flipColumn); break;
  }
  return true;
}

}  // namespace okc::imaging
