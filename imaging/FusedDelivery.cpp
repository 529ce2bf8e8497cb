#include "imaging/FusedDelivery.h"

#include <cstring>
#include <vector>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

enum class Site { kRed, kBlue, kGreen };

// Sites of the 2 x 2 cell, [layout][row][column], as the demosaic numbers the layouts.
constexpr Site kCellSites[4][2][2] = {
    {{Site::kRed, Site::kGreen}, {Site::kGreen, Site::kBlue}},  // R G / G B
    {{Site::kBlue, Site::kGreen}, {Site::kGreen, Site::kRed}},  // B G / G R
    {{Site::kGreen, Site::kRed}, {Site::kBlue, Site::kGreen}},  // G R / B G
    {{Site::kGreen, Site::kBlue}, {Site::kRed, Site::kGreen}},  // G B / R G
};

// Rows of the mirrored, toned frame, made one at a time. Without mirror and
// tone a row is the source row itself; otherwise the last four made are kept,
// enough for a row and its neighbours.
class MosaicRows {
 public:
  MosaicRows(const FusedSource& s, size_t width, size_t height, const FusedKernels& k)
      : s_(s), width_(width), height_(height), kernels_(k), copy_(s.flipRow || s.tone8) {
    if (copy_) ring_.resize(kSlots * width_);
  }

  const uint8_t* Row(size_t y) {
    const size_t from = s_.flipColumn ? height_ - 1 - y : y;
    const uint8_t* source = s_.samples + from * width_;
    if (!copy_) return source;
    const size_t slot = y % kSlots;
    uint8_t* row = ring_.data() + slot * width_;
    if (made_[slot] != y) {
      kernels_.copyRow8(source, row, width_, s_.flipRow, s_.tone8);
      made_[slot] = y;
    }
    return row;
  }

 private:
  static constexpr size_t kSlots = 4;
  const FusedSource& s_;
  const size_t width_, height_;
  const FusedKernels& kernels_;
  const bool copy_;
  std::vector<uint8_t> ring_;
  size_t made_[kSlots] = {SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX};
};

// One demosaiced row of the sensor frame at a time, in blue, green and red planes.
class RowDemosaic {
 public:
  RowDemosaic(MosaicRows& rows, size_t width, size_t height, const FusedColour& c, const FusedKernels& k)
      : rows_(rows), width_(width), colour_(c), kernels_(k), planes_(3 * width) {
    evenWidth_ = width - width % 2;
    evenHeight_ = height - height % 2;
  }

  uint8_t* Blue() { return planes_.data(); }
  uint8_t* Green() { return planes_.data() + width_; }
  uint8_t* Red() { return planes_.data() + 2 * width_; }

  // Demosaics and converts the inner pixels of row y straight into `outRow`
  // and leaves only the edge cells in the planes, for the caller to convert
  // (RightEdge). False, nothing done, for rows the planes must carry: the
  // first and last cell rows, an odd frame's repeated last row, or rows the
  // kernel declines (too narrow, or balance at a level without lookups).
  bool MakeDirect(size_t y, RowOutput output, uint8_t* outRow) {
    if (y >= evenHeight_) return false;
    const size_t cellRow = y & ~size_t{1};
    if (cellRow == 0 || cellRow == evenHeight_ - 2) return false;
    const size_t lastColumn = evenWidth_ - 2;
    const size_t colourParity = SiteAt(y, 0) == Site::kGreen ? 1 : 0;
    const bool redRow = SiteAt(y, colourParity) == Site::kRed;
    if (!kernels_.colourRow(rows_.Row(y - 1), rows_.Row(y), rows_.Row(y + 1), 2, lastColumn, colourParity, redRow,
                            colour_.red, colour_.blue, output, outRow))
      return false;
    const uint8_t* cellRows[2] = {rows_.Row(cellRow), rows_.Row(cellRow + 1)};
    BorderCell(y, 0, cellRows);
    BorderCell(y, lastColumn, cellRows);
    for (const size_t from : {size_t{0}, lastColumn}) {
      if (colour_.red) MapPlane(Red(), colour_.red, from, from + 2);
      if (colour_.blue) MapPlane(Blue(), colour_.blue, from, from + 2);
    }
    CopyOddColumn();
    return true;
  }
  // The pixel ranges MakeDirect leaves in the planes: [0, 2) and [lastColumn, width).
  size_t RightEdge() const { return evenWidth_ - 2; }

  // Rows must come in order: an odd frame's last row repeats the one before it.
  void Make(size_t y) {
    if (y >= evenHeight_) return;  // the planes still hold row evenHeight - 1
    const size_t cellRow = y & ~size_t{1};
    const size_t lastRow = evenHeight_ - 2;
    const size_t lastColumn = evenWidth_ - 2;
    const uint8_t* cellRows[2] = {rows_.Row(cellRow), rows_.Row(cellRow + 1)};
    if (cellRow == 0 || cellRow == lastRow) {
      for (size_t c = 0; c < evenWidth_; c += 2) BorderCell(y, c, cellRows);
    } else {
      BorderCell(y, 0, cellRows);
      if (lastColumn > 2) Inner(y, 2, lastColumn);
      if (lastColumn > 0) BorderCell(y, lastColumn, cellRows);
    }
    if (colour_.red) MapPlane(Red(), colour_.red, 0, evenWidth_);
    if (colour_.blue) MapPlane(Blue(), colour_.blue, 0, evenWidth_);
    CopyOddColumn();
  }

 private:
  // An odd frame's last column repeats the one before it.
  void CopyOddColumn() {
    if (width_ % 2 == 0) return;
    const size_t last = width_ - 1;
    Blue()[last] = Blue()[last - 1];
    Green()[last] = Green()[last - 1];
    Red()[last] = Red()[last - 1];
  }

  Site SiteAt(size_t y, size_t x) const { return kCellSites[colour_.layout][y & 1][x & 1]; }

  // An edge cell: its own two greens and its one red and one blue serve its pixels.
  void BorderCell(size_t y, size_t c, const uint8_t* const cellRows[2]) {
    unsigned red = 0, blue = 0, greens = 0;
    for (size_t dy = 0; dy < 2; ++dy)
      for (size_t dx = 0; dx < 2; ++dx) {
        const unsigned s = cellRows[dy][c + dx];
        switch (kCellSites[colour_.layout][dy][dx]) {
          case Site::kRed: red = s; break;
          case Site::kBlue: blue = s; break;
          default: greens += s; break;
        }
      }
    const uint8_t* own = cellRows[y & 1];
    for (size_t x = c; x < c + 2; ++x) {
      Blue()[x] = static_cast<uint8_t>(blue);
      Red()[x] = static_cast<uint8_t>(red);
      Green()[x] = static_cast<uint8_t>(SiteAt(y, x) == Site::kGreen ? own[x] : greens >> 1);
    }
  }

  void Inner(size_t y, size_t x0, size_t x1) {
    const size_t colourParity = SiteAt(y, 0) == Site::kGreen ? 1 : 0;
    const bool redRow = SiteAt(y, colourParity) == Site::kRed;
    uint8_t* own = redRow ? Red() : Blue();
    uint8_t* other = redRow ? Blue() : Red();
    kernels_.demosaicRow(rows_.Row(y - 1), rows_.Row(y), rows_.Row(y + 1), x0, x1, colourParity, own, other,
                         Green());
  }

  void MapPlane(uint8_t* plane, const uint8_t* table, size_t from, size_t to) const {
    for (size_t x = from; x < to; ++x) plane[x] = table[plane[x]];
  }

  MosaicRows& rows_;
  const size_t width_;
  const FusedColour& colour_;
  const FusedKernels& kernels_;
  std::vector<uint8_t> planes_;
  size_t evenWidth_ = 0, evenHeight_ = 0;
};

// Sums bin x bin demosaiced pixels per output pixel, saturated at 255.
class RowBinner {
 public:
  RowBinner(size_t width, size_t bin) : width_(width), bin_(bin), sums_(3 * width), planes_(3 * width) {}

  void Clear() { std::fill(sums_.begin(), sums_.end(), uint16_t{0}); }
  void Add(RowDemosaic& d) {
    const uint8_t* in[3] = {d.Blue(), d.Green(), d.Red()};
    for (size_t p = 0; p < 3; ++p) {
      uint16_t* sum = sums_.data() + p * width_;
      const uint8_t* plane = in[p];
      for (size_t x = 0; x < width_; ++x)
        for (size_t dx = 0; dx < bin_; ++dx) sum[x] = static_cast<uint16_t>(sum[x] + plane[x * bin_ + dx]);
    }
  }
  void Finish() {
    for (size_t i = 0; i < 3 * width_; ++i) planes_[i] = static_cast<uint8_t>(sums_[i] > 255 ? 255 : sums_[i]);
  }
  uint8_t* Blue() { return planes_.data(); }
  uint8_t* Green() { return planes_.data() + width_; }
  uint8_t* Red() { return planes_.data() + 2 * width_; }

 private:
  const size_t width_, bin_;
  std::vector<uint16_t> sums_;
  std::vector<uint8_t> planes_;
};

bool NeedsBinOne(FusedOutput output) {
  return output == FusedOutput::kRaw8 || output == FusedOutput::kRaw16 || output == FusedOutput::kGrey24;
}

void DeliverColour(const FusedSource& s, FusedOutput output, const FusedColour& colour, uint8_t* out,
                   const FusedKernels& k) {
  const size_t width = static_cast<size_t>(s.width);
  const size_t height = static_cast<size_t>(s.height);
  const size_t bin = static_cast<size_t>(s.bin);
  const size_t sensorWidth = width * bin;
  const size_t sensorHeight = height * bin;
  MosaicRows rows(s, sensorWidth, sensorHeight, k);
  RowDemosaic demosaic(rows, sensorWidth, sensorHeight, colour, k);
  RowBinner binner(width, bin);
  const RowOutput kind = output == FusedOutput::kRGB24   ? RowOutput::kBgr
                        : output == FusedOutput::kLuma8 ? RowOutput::kLuma
                                                        : RowOutput::kYuv;
  const size_t outPixelBytes = kind == RowOutput::kBgr ? 3 : kind == RowOutput::kLuma ? 1 : 2;
  // Pixels from .. to-1 of the planes into the output row.
  const auto convert = [&](const uint8_t* blue, const uint8_t* green, const uint8_t* red, uint8_t* outRow,
                           size_t from, size_t to) {
    uint8_t* at = outRow + from * outPixelBytes;
    const size_t count = to - from;
    switch (kind) {
      case RowOutput::kBgr: k.interleave(blue + from, green + from, red + from, at, count); break;
      case RowOutput::kLuma: k.luma(blue + from, green + from, red + from, at, count); break;
      default: k.yuv(blue + from, green + from, red + from, at, count); break;
    }
  };
  for (size_t y = 0; y < height; ++y) {
    // The luma/chroma image is upside down.
    uint8_t* outRow = out + (kind == RowOutput::kYuv ? height - 1 - y : y) * width * outPixelBytes;
    const uint8_t *blue, *green, *red;
    if (bin == 1) {
      if (demosaic.MakeDirect(y, kind, outRow)) {
        // Both edge cells after the inner pixels: pairs start at even columns.
        convert(demosaic.Blue(), demosaic.Green(), demosaic.Red(), outRow, 0, 2);
        convert(demosaic.Blue(), demosaic.Green(), demosaic.Red(), outRow, demosaic.RightEdge(), width);
        continue;
      }
      demosaic.Make(y);
      blue = demosaic.Blue(), green = demosaic.Green(), red = demosaic.Red();
    } else {
      binner.Clear();
      for (size_t dy = 0; dy < bin; ++dy) {
        demosaic.Make(y * bin + dy);
        binner.Add(demosaic);
      }
      binner.Finish();
      blue = binner.Blue(), green = binner.Green(), red = binner.Red();
    }
    convert(blue, green, red, outRow, 0, width);
  }
}

}  // namespace

size_t FusedOutputBytes(FusedOutput output, int width, int height) {
  const std::optional<size_t> pixels = FrameBytes(width, height, 1);
  if (!pixels) return 0;
  switch (output) {
    case FusedOutput::kRaw8:
    case FusedOutput::kLuma8: return *pixels;
    case FusedOutput::kRaw16:
    case FusedOutput::kYUV422: return 2 * *pixels;
    default: return 3 * *pixels;
  }
}

bool DeliverFused(const FusedSource& s, FusedOutput output, const FusedColour& colour, std::span<uint8_t> out,
                  const FusedKernels& k) {
  if (!s.samples || s.bin < 1 || s.bin > kFusedMaxBin || (NeedsBinOne(output) && s.bin != 1)) return false;
  const long long sensorWidth = static_cast<long long>(s.width) * s.bin;
  const long long sensorHeight = static_cast<long long>(s.height) * s.bin;
  const size_t outBytes = FusedOutputBytes(output, s.width, s.height);
  if (outBytes == 0 || out.size() < outBytes ||
      !FrameFits(s.bytes, sensorWidth, sensorHeight, output == FusedOutput::kRaw16 ? 2 : 1))
    return false;
  const size_t width = static_cast<size_t>(s.width);
  const size_t height = static_cast<size_t>(s.height);
  switch (output) {
    case FusedOutput::kRaw8:
      for (size_t y = 0; y < height; ++y) {
        const size_t from = s.flipColumn ? height - 1 - y : y;
        k.copyRow8(s.samples + from * width, out.data() + y * width, width, s.flipRow, s.tone8);
      }
      return true;
    case FusedOutput::kRaw16:
      for (size_t y = 0; y < height; ++y) {
        const size_t from = s.flipColumn ? height - 1 - y : y;
        k.copyRow16(s.samples + 2 * from * width, out.data() + 2 * y * width, width, s.wideLayout, s.flipRow,
                    s.tone16);
      }
      return true;
    case FusedOutput::kGrey24: {
      MosaicRows rows(s, width, height, k);
      for (size_t y = 0; y < height; ++y) k.grey3(rows.Row(y), out.data() + 3 * y * width, width);
      return true;
    }
    default:
      if (colour.layout < 0 || colour.layout > 3 || sensorWidth < 2 || sensorHeight < 2) return false;
      DeliverColour(s, output, colour, out.data(), k);
      return true;
  }
}

bool ColourTablesMatchKernels(const ColourTables& tables) {
  const std::pair<const SharedTable<int32_t>*, SplitWeight> weights[] = {
      {&tables.yRed, kLumaRed},      {&tables.yGreen, kLumaGreen}, {&tables.yBlue, kLumaBlue},
      {&tables.c439, kChroma439},    {&tables.c368, kChroma368},   {&tables.c071, kChroma071},
      {&tables.c291, kChroma291},    {&tables.c148, kChroma148}};
  for (const auto& [table, w] : weights)
    for (int32_t i = 0; i < 256; ++i)
      if ((*table)[static_cast<size_t>(i)] != i * w.whole + ((i * w.fraction) >> 16)) return false;
  return true;
}

bool IsIdentityTable(const std::array<uint8_t, 256>& table) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i] != i) return false;
  return true;
}

}  // namespace okc::imaging
