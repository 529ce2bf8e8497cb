// 8-bit grey BMP files, the on-disk form of a dark frame.
//
// Layout: 14-byte file header, 40-byte information header, a 1024-byte grey
// palette (i, i, i, 0), then the pixel rows of GreyBmpRowBytes(width) bytes each,
// sensor row 0 first (rows are stored in sensor order, not flipped). All numbers
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace okc::imaging {

constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpInfoHeaderSize = 40;
constexpr uint32_t kBmpPaletteSize = 1024;
constexpr uint32_t kBmpPixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize + kBmpPaletteSize;  // 1078

// Bytes per stored row: the width rounded up to a multiple of 4. 0 for a width below 1.
size_t GreyBmpRowBytes(int width);

// Writes `pixels` (width x height bytes, row 0 first) as an 8-bit grey BMP. False when the
// arguments are unusable or the file cannot be created or fully written (a partly written
// file is removed).
bool WriteGreyBmp(const char* path, int width, int height, const uint8_t* pixels);

enum class BmpReadResult {
  Ok,
  CannotOpen,  // no such file, no permission to read it, or not a regular file
  Refused,     // not an uncompressed 8-bit BMP of the expected size, or cut short
};

// Reads an 8-bit BMP of exactly expectedWidth x expectedHeight into `out` (width x height
// bytes, file row order kept, row padding dropped). The headers must agree with each other
// and with the real file size; `out` is written only when the result is Ok.
BmpReadResult ReadGreyBmp(const char* path, int expectedWidth, int expectedHeight, uint8_t* out);

}  // namespace okc::imaging
