// Software binning by summation: bin x bin samples become one output sample
// whose value is their sum, saturated (a 2 x 2 bin is up to four times brighter).
//
// Camera fields: rows = `height`, width = `width` (both after binning), bin =
// `bin`, sixteenBit = `output16Bits`. The input is the flipped working frame of
// (`width` x `bin`) x (`height` x `bin`) samples; SoftBinRGB reads the full
// colour frame (its demosaic) and writes the binned colour frame.
#pragma once

#include <cstdint>
#include <span>

namespace okc::imaging {

// Bins the raw frame in place: output sample (x, y) at index y x width + x is
// the sum of input rows y*bin .. y*bin+bin-1, columns x*bin .. x*bin+bin-1
// (input row length width x bin), saturated at 255, or at 65535 for native-endian
// 16-bit samples. Safe in place: every output index is at or before the first
// input sample still to be read. False, frame untouched, when a size is not
// positive or `frame` is smaller than the unbinned frame.
bool SoftBinRaw(std::span<uint8_t> frame, int rows, int width, int bin, bool sixteenBit);

// Bins a 24-bit colour frame (B, G, R bytes) of (width x bin) x (height x bin)
// pixels into `dst` (width x height pixels), each byte of a pixel summed on its
// own and saturated at 255. False, nothing written, when a size is not
// positive or a buffer is too small.
bool SoftBinRGB(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height, int bin);

}  // namespace okc::imaging
