#include "imaging/TimeMark.h"

#include <algorithm>
#include <cstdio>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

// clang-format off
const std::array<std::array<uint8_t, kTimeMarkGlyphRows>, 11> kTimeMarkFont = {{
  {0x00, 0x00, 0x38, 0x6C, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x00, 0x00, 0x00},  // 0
  {0x00, 0x00, 0x7E, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x1E, 0x18, 0x00, 0x00, 0x00},  // 1
  {0x00, 0x00, 0xFE, 0xC6, 0x0C, 0x18, 0x30, 0x60, 0x60, 0xC6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00},  // 2
  {0x00, 0x00, 0x3C, 0x66, 0xC6, 0xC0, 0xC0, 0x60, 0x38, 0x60, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00},  // 3
  {0x00, 0x00, 0xF8, 0x60, 0x60, 0xFE, 0x66, 0x66, 0x6C, 0x6C, 0x78, 0x70, 0x60, 0x00, 0x00, 0x00},  // 4
  {0x00, 0x00, 0x3C, 0x66, 0xC6, 0xC0, 0xC0, 0x6E, 0x3E, 0x06, 0x06, 0x06, 0xFE, 0x00, 0x00, 0x00},  // 5
  {0x00, 0x00, 0x38, 0x6C, 0xC6, 0xC6, 0xC6, 0x6E, 0x3E, 0x06, 0x06, 0x6C, 0x78, 0x00, 0x00, 0x00},  // 6
  {0x00, 0x00, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x30, 0x30, 0x66, 0x66, 0xFE, 0x00, 0x00, 0x00},  // 7
  {0x00, 0x00, 0x7C, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x6C, 0xC6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00},  // 8
  {0x00, 0x00, 0x3C, 0x6C, 0xC0, 0xC0, 0xF8, 0xEC, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x00, 0x00, 0x00},  // 9
  {0x00, 0x00, 0x38, 0x38, 0x00, 0x00, 0x00, 0x00, 0x38, 0x38, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // :
}};
// clang-format on

namespace {

constexpr size_t kDateCharacters = 8;
constexpr size_t kTimeCharacters = 12;
constexpr int kDarkBelow = 130;
constexpr int kBrightFrom = 180;
constexpr uint8_t kInkOnDark = 180;
constexpr uint8_t kInkOnMiddle = 220;
constexpr uint8_t kInkOnBright = 120;

// The frame as a grid of pixels that are one grey byte or three colour bytes.
class PixelGrid {
 public:
  PixelGrid(uint8_t* frame, int width, int height, int bytesPerPixel)
      : frame_(frame), width_(width), height_(height), bytesPerPixel_(bytesPerPixel) {}

  bool Inside(int row, int column) const { return row >= 0 && row < height_ && column >= 0 && column < width_; }
  uint8_t* At(int row, int column) const {
    return frame_ + (static_cast<size_t>(row) * static_cast<size_t>(width_) + static_cast<size_t>(column)) *
                        static_cast<size_t>(bytesPerPixel_);
  }
  // Grey value of a pixel: the byte, or the truncated mean of the three.
  int Value(int row, int column) const {
    const uint8_t* p = At(row, column);
    return bytesPerPixel_ == 1 ? p[0] : (p[0] + p[1] + p[2]) / 3;
  }
  void Ink(int row, int column, uint8_t ink) const {
    uint8_t* p = At(row, column);
    std::fill(p, p + bytesPerPixel_, ink);
  }
  int Width() const { return width_; }

 private:
  uint8_t* frame_;
  int width_;
  int height_;
  int bytesPerPixel_;
};

// Mean grey of the 16 x 128 pixels under the start of the mark; of the part
// inside the frame when it is clipped (an all-full window gives sum / 2048).
int BackgroundMean(const PixelGrid& grid) {
  const int left = grid.Width() - kTimeMarkDateFromRight;
  uint64_t sum = 0;
  uint64_t count = 0;
  for (int k = 0; k < kTimeMarkGlyphRows; ++k) {
    for (int c = 0; c < kTimeMarkBackgroundColumns; ++c) {
      if (!grid.Inside(kTimeMarkTopRow + k, left + c)) continue;
      sum += static_cast<uint64_t>(grid.Value(kTimeMarkTopRow + k, left + c));
      ++count;
    }
  }
  return count > 0 ? static_cast<int>(sum / count) : 0;
}

// Draws up to `characters` characters of `text` from column `left`; a
// character without a glyph (a space of a short year) stays blank.
void DrawText(const PixelGrid& grid, const std::string& text, size_t characters, int left, uint8_t ink) {
  for (size_t j = 0; j < std::min(characters, text.size()); ++j) {
    const int glyph = text[j] - '0';
    if (glyph < 0 || glyph >= static_cast<int>(kTimeMarkFont.size())) continue;
    for (int k = 0; k < kTimeMarkGlyphRows; ++k) {
      const uint8_t bits = kTimeMarkFont[static_cast<size_t>(glyph)][static_cast<size_t>(k)];
      for (int b = 0; b < kTimeMarkGlyphColumns; ++b) {
        if (!(bits & (1u << b))) continue;
        const int row = kTimeMarkTopRow + k;
        const int column = left + static_cast<int>(j) * kTimeMarkGlyphColumns + b;
        if (grid.Inside(row, column)) grid.Ink(row, column, ink);
      }
    }
  }
}

}  // namespace

std::string TimeMarkDate(const platform::LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%4d%02d%02d", t.year, t.month, t.day);
  return text;
}

std::string TimeMarkTime(const platform::LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", t.hour, t.minute, t.second, t.millisecond);
  return text;
}

uint8_t TimeMarkInk(int backgroundMean) {
  if (backgroundMean < kDarkBelow) return kInkOnDark;
  if (backgroundMean < kBrightFrom) return kInkOnMiddle;
  return kInkOnBright;
}

void AddTimeMark(uint8_t* frame, size_t bytes, int width, int height, IMAGE_TYPE type,
                 const platform::LocalTime& time) {
  int bytesPerPixel = 0;
  if (type == IMAGE_8BIT) bytesPerPixel = 1;
  if (type == IMAGE_RGB24) bytesPerPixel = 3;
  if (bytesPerPixel == 0 || !frame || !FrameFits(bytes, width, height, bytesPerPixel)) return;
  const PixelGrid grid(frame, width, height, bytesPerPixel);
  const uint8_t ink = TimeMarkInk(BackgroundMean(grid));
  DrawText(grid, TimeMarkDate(time), kDateCharacters, width - kTimeMarkDateFromRight, ink);
  DrawText(grid, TimeMarkTime(time), kTimeCharacters, width - kTimeMarkTimeFromRight, ink);
}

}  // namespace okc::imaging
