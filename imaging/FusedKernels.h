// Row kernels of the one-pass frame delivery (FusedDelivery.h). The same
// source (FusedKernels.inc) is built once per instruction-set level; the
// table below is picked at run time by the active SimdLevel.
//
// Each kernel works on one row that stays in the first-level cache. All
// arithmetic is integer and gives, byte for byte, what the frame stages give.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/SimdLevel.h"

namespace okc::imaging {

// How 16-bit samples lie in the frame (see the frame delivery's variants).
enum class WideLayout { kPacked12 = 0, kHighFirstShift6 = 1, kNative = 2 };

// A colour-matrix weight (coefficient x 65536, in thousandths, as the colour
// tables are filled) split so that entry i = i x whole + ((i x fraction) >> 16).
// The remainder of every weight is a multiple of 8, so i x remainder / 1000 is
// never closer than 0.008 below a whole number, and the rounded-up 16-bit
// fraction (error below 0.004 for i < 256) floors to the same value.
struct SplitWeight {
  int32_t whole;
  int32_t fraction;
};
constexpr SplitWeight SplitMilliWeight(int64_t coefficientMilli) {
  return {static_cast<int32_t>(coefficientMilli / 1000),
          static_cast<int32_t>(((coefficientMilli % 1000) * 65536 + 999) / 1000)};
}
inline constexpr SplitWeight kLumaRed = SplitMilliWeight(16842752);    // 0.257
inline constexpr SplitWeight kLumaGreen = SplitMilliWeight(33030144);  // 0.504
inline constexpr SplitWeight kLumaBlue = SplitMilliWeight(6422528);    // 0.098
inline constexpr SplitWeight kChroma439 = SplitMilliWeight(28770304);
inline constexpr SplitWeight kChroma368 = SplitMilliWeight(24117248);
inline constexpr SplitWeight kChroma071 = SplitMilliWeight(4653056);
inline constexpr SplitWeight kChroma291 = SplitMilliWeight(19070976);
inline constexpr SplitWeight kChroma148 = SplitMilliWeight(9699328);

// What a colour row becomes in the caller's image.
enum class RowOutput { kBgr = 0, kLuma = 1, kYuv = 2 };

// The fewest pixels the row kernel takes: its widest block (AVX2 takes 32
// pixels at a time, the 128-bit levels 16).
inline constexpr size_t kColourBlockPixels = 32;

struct FusedKernels {
  // dst[i] = tone[src[i]] (tone null: src[i]); with `reverse` the row is read backwards.
  void (*copyRow8)(const uint8_t* src, uint8_t* dst, size_t count, bool reverse, const uint8_t* tone);
  // `count` samples of two bytes in `layout` become native 16-bit samples, through
  // `tone` when given; with `reverse` the row is read backwards.
  void (*copyRow16)(const uint8_t* src, uint8_t* dst, size_t count, WideLayout layout, bool reverse,
                    const uint16_t* tone);
  // Inner pixels x0 .. x1-1 of a mosaic row with its rows above and below.
  // Sites with x % 2 == colourParity carry the row's colour (red or blue):
  // own = that colour, other = the opposite colour, green = green.
  void (*demosaicRow)(const uint8_t* up, const uint8_t* row, const uint8_t* down, size_t x0, size_t x1,
                      size_t colourParity, uint8_t* own, uint8_t* other, uint8_t* green);
  // Inner pixels x0 .. x1-1 of a mosaic row demosaiced, balanced and converted
  // straight into `out` (the output row's first pixel), as demosaicRow, the
  // balance tables and then interleave, luma or yuv give them; `redRow` when
  // the row's own colour is red; a null balance table: identity. Needs x0 and
  // x1 even and x1 - x0 >= kColourBlockPixels, and reads one sample beyond the
  // range on either side; false, nothing written, when these do not hold or
  // the level has no such kernel (or none for balance).
  bool (*colourRow)(const uint8_t* up, const uint8_t* row, const uint8_t* down, size_t x0, size_t x1,
                    size_t colourParity, bool redRow, const uint8_t* redBalance, const uint8_t* blueBalance,
                    RowOutput output, uint8_t* out);
  // Blue, green, red planes into B, G, R bytes.
  void (*interleave)(const uint8_t* blue, const uint8_t* green, const uint8_t* red, uint8_t* out, size_t count);
  // 8-bit luminance of each pixel.
  void (*luma)(const uint8_t* blue, const uint8_t* green, const uint8_t* red, uint8_t* out, size_t count);
  // Packed luma/chroma: Y0 C1 Y1 C2 per pixel pair; an odd last pixel gets Y and C1.
  void (*yuv)(const uint8_t* blue, const uint8_t* green, const uint8_t* red, uint8_t* out, size_t count);
  // Each sample three times.
  void (*grey3)(const uint8_t* src, uint8_t* out, size_t count);
};

// The kernels of the active level.
const FusedKernels& ActiveFusedKernels();
// The kernels of a level; those of the highest built level at or below it.
const FusedKernels& FusedKernelsFor(SimdLevel level);
// The kernels without any instruction-set code, as other processors build them.
const FusedKernels& GenericFusedKernels();

}  // namespace okc::imaging
