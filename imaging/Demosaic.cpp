#include "imaging/Demosaic.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

// What a site of the mosaic samples: red, blue, green in a red row, green in a blue row.
enum class Site { kRed, kBlue, kGreenRedRow, kGreenBlueRow };

// Sites of the 2 x 2 cell, [row][column], for each layout.
constexpr Site kCellSites[4][2][2] = {
    {{Site::kRed, Site::kGreenRedRow}, {Site::kGreenBlueRow, Site::kBlue}},   // R G / G B
    {{Site::kBlue, Site::kGreenBlueRow}, {Site::kGreenRedRow, Site::kRed}},   // B G / G R
    {{Site::kGreenRedRow, Site::kRed}, {Site::kBlue, Site::kGreenBlueRow}},   // G R / B G
    {{Site::kGreenBlueRow, Site::kBlue}, {Site::kRed, Site::kGreenRedRow}},   // G B / R G
};

using Table = std::array<uint8_t, 256>;

struct Frame {
  const uint8_t* src;
  uint8_t* dst;
  size_t width;  // samples per row of src, pixels per row of dst
  const Table& red;
  const Table& blue;
};

inline void PutPixel(uint8_t* out, unsigned blue, unsigned green, unsigned red) {
  out[0] = static_cast<uint8_t>(blue);
  out[1] = static_cast<uint8_t>(green);
  out[2] = static_cast<uint8_t>(red);
}

// An edge cell: its own two greens and its one red and one blue serve all four pixels.
template <int Layout>
void BorderCell(const Frame& f, size_t r, size_t c) {
  unsigned red = 0, blue = 0, greens[2] = {0, 0}, greenCount = 0;
  for (size_t dy = 0; dy < 2; ++dy)
    for (size_t dx = 0; dx < 2; ++dx) {
      const unsigned s = f.src[(r + dy) * f.width + c + dx];
      switch (kCellSites[Layout][dy][dx]) {
        case Site::kRed: red = s; break;
        case Site::kBlue: blue = s; break;
        default: greens[greenCount++] = s; break;
      }
    }
  const unsigned green = (greens[0] + greens[1]) >> 1;
  red = f.red[red];
  blue = f.blue[blue];
  for (size_t dy = 0; dy < 2; ++dy)
    for (size_t dx = 0; dx < 2; ++dx) {
      const size_t i = (r + dy) * f.width + c + dx;
      const Site site = kCellSites[Layout][dy][dx];
      const bool ownGreen = site == Site::kGreenRedRow || site == Site::kGreenBlueRow;
      PutPixel(f.dst + i * 3, blue, ownGreen ? f.src[i] : green, red);
    }
}

// An inner pixel: every neighbour exists.
template <Site kSite>
inline void InnerPixel(const Frame& f, size_t i) {
  const uint8_t* s = f.src + i;
  const ptrdiff_t w = static_cast<ptrdiff_t>(f.width);
  const unsigned cross = (unsigned{s[-1]} + s[1] + s[-w] + s[w]) >> 2;
  const unsigned diagonal = (unsigned{s[-w - 1]} + s[-w + 1] + s[w - 1] + s[w + 1]) >> 2;
  const unsigned across = (unsigned{s[-1]} + s[1]) >> 1;
  const unsigned upDown = (unsigned{s[-w]} + s[w]) >> 1;
  uint8_t* out = f.dst + i * 3;
  if constexpr (kSite == Site::kRed)
    PutPixel(out, f.blue[diagonal], cross, f.red[*s]);
  else if constexpr (kSite == Site::kBlue)
    PutPixel(out, f.blue[*s], cross, f.red[diagonal]);
  else if constexpr (kSite == Site::kGreenRedRow)
    PutPixel(out, f.blue[upDown], *s, f.red[across]);
  else
    PutPixel(out, f.blue[across], *s, f.red[upDown]);
}

template <int Layout>
void InnerCell(const Frame& f, size_t r, size_t c) {
  const size_t top = r * f.width + c;
  const size_t bottom = top + f.width;
  InnerPixel<kCellSites[Layout][0][0]>(f, top);
  InnerPixel<kCellSites[Layout][0][1]>(f, top + 1);
  InnerPixel<kCellSites[Layout][1][0]>(f, bottom);
  InnerPixel<kCellSites[Layout][1][1]>(f, bottom + 1);
}

// Cells cover the even part of the frame: evenWidth x evenHeight, both at least 2.
template <int Layout>
void DemosaicCells(const Frame& f, size_t evenWidth, size_t evenHeight) {
  const size_t lastRow = evenHeight - 2;
  const size_t lastColumn = evenWidth - 2;
  for (size_t r = 0; r < evenHeight; r += 2) {
    if (r == 0 || r == lastRow) {
      for (size_t c = 0; c < evenWidth; c += 2) BorderCell<Layout>(f, r, c);
      continue;
    }
    BorderCell<Layout>(f, r, 0);
    for (size_t c = 2; c < lastColumn; c += 2) InnerCell<Layout>(f, r, c);
    if (lastColumn > 0) BorderCell<Layout>(f, r, lastColumn);
  }
}

// An odd last column or row has no cell of its own: it repeats its neighbour.
void FillOddEdges(uint8_t* dst, size_t width, size_t height) {
  const size_t rowBytes = width * 3;
  if (width % 2 != 0)
    for (size_t y = 0; y < height - height % 2; ++y) {
      uint8_t* last = dst + y * rowBytes + (width - 1) * 3;
      std::memcpy(last, last - 3, 3);
    }
  if (height % 2 != 0) std::memcpy(dst + (height - 1) * rowBytes, dst + (height - 2) * rowBytes, rowBytes);
}

}  // namespace

int EffectiveBayerLayout(int bayerPattern, bool flipRow, bool flipColumn, int width, int height) {
  if (bayerPattern < 0 || bayerPattern > 3) return -1;
  int layout = bayerPattern;
  // Layout numbers are chosen so that swapping the cell's columns is XOR 2, its rows XOR 3.
  if (flipRow && width % 2 == 0) layout ^= 2;
  if (flipColumn && height % 2 == 0) layout ^= 3;
  return layout;
}

bool Bayer2RGB24(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height, int bayerPattern,
                 bool flipRow, bool flipColumn, const ColourTables& tables) {
  const int layout = EffectiveBayerLayout(bayerPattern, flipRow, flipColumn, width, height);
  if (layout < 0 || width < 2 || height < 2 || !FrameFits(src.size(), width, height, 1) ||
      !FrameFits(dst.size(), width, height, 3))
    return false;
  // One balance for the whole frame, even if it is rebuilt meanwhile.
  const Table red = tables.red.Snapshot();
  const Table blue = tables.blue.Snapshot();
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  const Frame frame{src.data(), dst.data(), w, red, blue};
  const size_t evenWidth = w - w % 2;
  const size_t evenHeight = h - h % 2;
  switch (layout) {
    case 0: DemosaicCells<0>(frame, evenWidth, evenHeight); break;
    case 1: DemosaicCells<1>(frame, evenWidth, evenHeight); break;
    case 2: DemosaicCells<2>(frame, evenWidth, evenHeight); break;
    default: DemosaicCells<3>(frame, evenWidth, evenHeight); break;
  }
  FillOddEdges(dst.data(), w, h);
  return true;
}

}  // namespace okc::imaging
