// One pass over a raw frame into the host's image: tone, mirror, demosaic,
// binning and the output conversion fused row by row, so that the rows being
// worked on stay in cache and every byte of the frame is read once.
//
// It gives the same bytes as the stages run one after the other on the whole
// frame (ApplyTone8 / ApplyTone16, SoftMisc, Bayer2RGB24, SoftBinRGB,
// RGB24ToY8, RGB24ToYUV, GreyToRGB24), which stay the reference.
//
// Camera fields: width x height = the delivered size (`width`, `height`), bin =
// `bin`; the source holds (width x bin) x (height x bin) samples as the header
// repair, the dark subtraction and the hot-pixel correction left them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/ColourTables.h"
#include "imaging/FusedKernels.h"

namespace okc::imaging {

enum class FusedOutput {
  kRaw8,    // the mirrored, toned 8-bit samples (bin 1)
  kRaw16,   // the unpacked, toned, mirrored 16-bit samples (bin 1)
  kGrey24,  // each mirrored, toned sample three times (bin 1, no colour filter)
  kRGB24,   // demosaiced (and binned) B, G, R
  kLuma8,   // luminance of the demosaiced (and binned) frame
  kYUV422,  // packed luma/chroma of it, upside down
};

struct FusedSource {
  const uint8_t* samples = nullptr;
  size_t bytes = 0;
  int width = 0;
  int height = 0;
  int bin = 1;
  WideLayout wideLayout = WideLayout::kNative;  // 16-bit outputs only
  bool flipRow = false;
  bool flipColumn = false;
  const uint8_t* tone8 = nullptr;    // 256 entries; null: samples as they are
  const uint16_t* tone16 = nullptr;  // 65536 entries; null: samples as they are
};

struct FusedColour {
  // The cell layout after the mirrors (EffectiveBayerLayout), 0..3.
  int layout = 0;
  // The balance tables of red and blue; null: identity.
  const uint8_t* red = nullptr;
  const uint8_t* blue = nullptr;
};

// Bins up to this size keep their sums in 16 bits.
inline constexpr int kFusedMaxBin = 16;

// Bytes of the image DeliverFused writes.
size_t FusedOutputBytes(FusedOutput output, int width, int height);

// Writes the image. False, nothing written, when the source or `out` is too
// small, a size is not positive, the bin is outside 1..kFusedMaxBin (or not 1
// where the output needs it), or a demosaiced frame is under 2 x 2 samples or
// its layout is not 0..3.
bool DeliverFused(const FusedSource& source, FusedOutput output, const FusedColour& colour, std::span<uint8_t> out,
                  const FusedKernels& kernels = ActiveFusedKernels());

// True when the colour-matrix tables hold the weights the kernels compute
// (they always do once built; a frame meets anything else on the stages).
bool ColourTablesMatchKernels(const ColourTables& tables);

// True when a balance table maps every value to itself.
bool IsIdentityTable(const std::array<uint8_t, 256>& table);

}  // namespace okc::imaging
