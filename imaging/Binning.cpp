#include "imaging/Binning.h"

#include <algorithm>
#include <cstring>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

template <typename Sample>
Sample LoadSample(const uint8_t* at) {
  Sample value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename Sample>
void StoreSample(uint8_t* at, Sample value) {
  std::memcpy(at, &value, sizeof value);
}

// `Sample` is uint8_t or uint16_t; sums run in 64 bits so no bin size can wrap them.
template <typename Sample>
void BinInPlace(uint8_t* frame, size_t rows, size_t width, size_t bin) {
  constexpr uint64_t kMax = static_cast<Sample>(~Sample{0});
  const size_t inRowSamples = width * bin;
  for (size_t y = 0; y < rows; ++y) {
    for (size_t x = 0; x < width; ++x) {
      uint64_t sum = 0;
      for (size_t dy = 0; dy < bin; ++dy) {
        const uint8_t* in = frame + ((y * bin + dy) * inRowSamples + x * bin) * sizeof(Sample);
        for (size_t dx = 0; dx < bin; ++dx) sum += LoadSample<Sample>(in + dx * sizeof(Sample));
      }
      StoreSample<Sample>(frame + (y * width + x) * sizeof(Sample), static_cast<Sample>(std::min(sum, kMax)));
    }
  }
}

}  // namespace

bool SoftBinRaw(std::span<uint8_t> frame, int rows, int width, int bin, bool sixteenBit) {
  if (bin <= 0 || !FrameFits(frame.size(), static_cast<long long>(width) * bin,
                             static_cast<long long>(rows) * bin, sixteenBit ? 2 : 1))
    return false;
  const size_t h = static_cast<size_t>(rows);
  const size_t w = static_cast<size_t>(width);
  const size_t b = static_cast<size_t>(bin);
  if (sixteenBit)
    BinInPlace<uint16_t>(frame.data(), h, w, b);
  else
    BinInPlace<uint8_t>(frame.data(), h, w, b);
  return true;
}

bool SoftBinRGB(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height, int bin) {
  if (bin <= 0 ||
      !FrameFits(src.size(), static_cast<long long>(width) * bin, static_cast<long long>(height) * bin, 3) ||
      !FrameFits(dst.size(), width, height, 3))
    return false;
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  const size_t b = static_cast<size_t>(bin);
  const size_t inRowBytes = w * b * 3;
  for (size_t y = 0; y < h; ++y) {
    uint8_t* out = dst.data() + y * w * 3;
    for (size_t x = 0; x < w; ++x, out += 3) {
      uint64_t blue = 0, green = 0, red = 0;
      for (size_t dy = 0; dy < b; ++dy) {
        const uint8_t* in = src.data() + (y * b + dy) * inRowBytes + x * b * 3;
        for (size_t dx = 0; dx < b; ++dx, in += 3) {
          blue += in[0];
          green += in[1];
          red += in[2];
        }
      }
      out[0] = static_cast<uint8_t>(std::min<uint64_t>(blue, 255));
      out[1] = static_cast<uint8_t>(std::min<uint64_t>(green, 255));
      out[2] = static_cast<uint8_t>(std::min<uint64_t>(red, 255));
    }
  }
  return true;
}

}  // namespace okc::imaging
