#include "imaging/HotPixels.h"

#include <algorithm>
#include <cstring>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

// Sample access that works for both widths without alignment assumptions.
class Samples {
 public:
  explicit Samples(const HotPixelFrame& f) : bytes_(f.samples.data()), sixteen_(f.sixteenBit) {}
  uint32_t Get(size_t i) const {
    if (!sixteen_) return bytes_[i];
    uint16_t v;
    std::memcpy(&v, bytes_ + 2 * i, sizeof v);
    return v;
  }
  void Set(size_t i, uint32_t v) const {
    if (!sixteen_) {
      bytes_[i] = static_cast<uint8_t>(v);
      return;
    }
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(bytes_ + 2 * i, &w, sizeof w);
  }

 private:
  uint8_t* bytes_;
  bool sixteen_;
};

struct Geometry {
  size_t width;
  size_t height;
};

// The same-row neighbour at distance d: to the right when it is in the row, else to the left.
size_t RowNeighbour(size_t i, size_t c, size_t d, const Geometry& g, bool preferRight) {
  if (preferRight) return c + d < g.width ? i + d : (c >= d ? i - d : i);
  return c >= d ? i - d : (c + d < g.width ? i + d : i);
}

void CorrectFromFour(const Samples& s, size_t i, size_t d, const Geometry& g, std::span<const uint32_t> flags) {
  const size_t r = i / g.width;
  const size_t c = i % g.width;
  if (c < d || r < d) {
    s.Set(i, s.Get(RowNeighbour(i, c, d, g, true)));
    return;
  }
  if (c + d >= g.width || r + d >= g.height) {
    s.Set(i, s.Get(RowNeighbour(i, c, d, g, false)));
    return;
  }
  const size_t around[4] = {i - d, i + d, i - d * g.width, i + d * g.width};
  uint32_t sum = 0, count = 0, darkest = UINT32_MAX;
  for (size_t j : around) {
    const uint32_t v = s.Get(j);
    darkest = std::min(darkest, v);
    if (flags[j] == 0) {
      sum += v;
      ++count;
    }
  }
  s.Set(i, count > 0 ? sum / count : darkest);
}

void CorrectColourDark(const Samples& s, size_t i, const Geometry& g) {
  constexpr size_t d = 2;
  const size_t r = i / g.width;
  const size_t c = i % g.width;
  if (c < d || r == 0) {
    s.Set(i, s.Get(RowNeighbour(i, c, d, g, true)));
  } else if (c + d >= g.width || r + 1 == g.height) {
    s.Set(i, s.Get(RowNeighbour(i, c, d, g, false)));
  } else {
    s.Set(i, (s.Get(i - d) + s.Get(i + d)) >> 1);
  }
}

}  // namespace

size_t CorrectHotPixels(const HotPixelFrame& frame, bool isColor, const HotPixelSource* map,
                        const HotPixelSource* dark) {
  if (!FrameFits(frame.samples.size(), frame.width, frame.height, frame.sixteenBit ? 2 : 1)) return 0;
  const Geometry g{static_cast<size_t>(frame.width), static_cast<size_t>(frame.height)};
  const size_t pixels = g.width * g.height;
  const Samples s(frame);
  size_t corrected = 0;
  if (map && map->flags.size() >= pixels) {
    const size_t d = isColor ? 2 : 1;
    for (uint32_t i : map->list) {
      if (i >= pixels) continue;
      CorrectFromFour(s, i, d, g, map->flags);
      ++corrected;
    }
  }
  if (dark && dark->flags.size() >= pixels) {
    for (uint32_t i : dark->list) {
      if (i >= pixels) continue;
      if (isColor) {
        CorrectColourDark(s, i, g);
      } else {
        CorrectFromFour(s, i, 1, g, dark->flags);
      }
      ++corrected;
    }
  }
  return corrected;
}

}  // namespace okc::imaging
