// Conversions of 24-bit colour frames (B, G, R bytes per pixel) into 8-bit
// luminance and packed luma/chroma, and of grey frames into 24-bit colour.
//
// Camera fields: width x height is the output size (`width` x `height`); the
// source is the demosaiced or binned colour frame. The BT.601 weights go to the
// bytes they belong to: 0.257 to red (byte 2), 0.098 to blue (byte 0).
#pragma once

#include <cstdint>
#include <span>

#include "imaging/ColourTables.h"

namespace okc::imaging {

// Y = (0.257 R + 0.504 G + 0.098 B) in 16.16 fixed point, shifted down; no
// offset, no clamp (white gives 219). dst: width x height bytes, same pixel order.
// False, nothing written, when a size is not positive or a buffer is too small.
bool RGB24ToY8(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height,
               const ColourTables& tables = ProcessColourTables());

// Packed luma/chroma, two bytes a pixel, the image turned upside down (output row
// y from input row height - 1 - y). Y = luma + 16. Per pixel pair (even x, odd x)
// the chroma comes from the even pixel: C1 = 0.439 R - 0.368 G - 0.071 B + 128
// (red difference), C2 = 0.439 B - 0.291 G - 0.148 R + 128 (blue difference).
// Byte stream per pair: Y0, C1, Y1, C2; with an odd width a row's last pixel gets
// Y and C1. dst: width x height x 2 bytes.
// False, nothing written, when a size is not positive or a buffer is too small.
bool RGB24ToYUV(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height,
                const ColourTables& tables = ProcessColourTables());

// A grey 24-bit image from 8-bit samples (each sample in all three bytes), as the
// mono models deliver colour output. dst: width x height x 3 bytes.
bool GreyToRGB24(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height);

}  // namespace okc::imaging
