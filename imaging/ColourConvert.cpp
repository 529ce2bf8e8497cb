#include "imaging/ColourConvert.h"

#include <array>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

using Weights = std::array<int32_t, 256>;

// Tables copied once per frame: one consistent set even if they are rebuilt meanwhile.
struct LumaWeights {
  explicit LumaWeights(const ColourTables& t) : red(t.yRed.Snapshot()), green(t.yGreen.Snapshot()),
                                                blue(t.yBlue.Snapshot()) {}
  int32_t Sum(const uint8_t* pixel) const { return red[pixel[2]] + green[pixel[1]] + blue[pixel[0]]; }
  Weights red, green, blue;
};

bool SizesFit(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height, int srcBytes,
              int dstBytes) {
  return FrameFits(src.size(), width, height, srcBytes) && FrameFits(dst.size(), width, height, dstBytes);
}

}  // namespace

bool RGB24ToY8(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height,
               const ColourTables& tables) {
  if (!SizesFit(src, dst, width, height, 3, 1)) return false;
  const LumaWeights luma(tables);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  const uint8_t* in = src.data();
  for (size_t i = 0; i < pixels; ++i, in += 3) dst[i] = static_cast<uint8_t>(luma.Sum(in) >> 16);
  return true;
}

bool RGB24ToYUV(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height,
                const ColourTables& tables) {
  if (!SizesFit(src, dst, width, height, 3, 2)) return false;
  const LumaWeights luma(tables);
  const Weights c439 = tables.c439.Snapshot(), c368 = tables.c368.Snapshot(), c071 = tables.c071.Snapshot();
  const Weights c291 = tables.c291.Snapshot(), c148 = tables.c148.Snapshot();
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  auto lumaByte = [&](const uint8_t* pixel) { return static_cast<uint8_t>((luma.Sum(pixel) >> 16) + 16); };
  // Signed sums shift arithmetically; the low 8 bits are kept.
  auto chromaByte = [](int32_t sum) { return static_cast<uint8_t>((sum >> 16) + 128); };
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* in = src.data() + (h - 1 - y) * w * 3;
    uint8_t* out = dst.data() + y * w * 2;
    for (size_t x = 0; x < w; x += 2, in += 6, out += 4) {
      const uint8_t blue = in[0], green = in[1], red = in[2];
      out[0] = lumaByte(in);
      out[1] = chromaByte(c439[red] - c368[green] - c071[blue]);
      if (x + 1 == w) break;
      out[2] = lumaByte(in + 3);
      out[3] = chromaByte(c439[blue] - c291[green] - c148[red]);
    }
  }
  return true;
}

bool GreyToRGB24(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height) {
  if (!SizesFit(src, dst, width, height, 1, 3)) return false;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint8_t* out = dst.data();
  for (size_t i = 0; i < pixels; ++i, out += 3) out[0] = out[1] = out[2] = src[i];
  return true;
}

}  // namespace okc::imaging
