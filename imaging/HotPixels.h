// Hot-pixel correction: each listed pixel of a frame takes a value made from
// its neighbours of the same colour, two pixels away on a Bayer sensor, one on
// a monochrome one. A hot pixel is never blacked out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace okc::imaging {

// A list of hot pixels of a frame, by index (row * width + column), with a flag per pixel of the frame.
struct HotPixelSource {
  std::span<const uint32_t> list;
  // Non-zero: the pixel is hot itself, so it does not count as a good neighbour.
  std::span<const uint32_t> flags;
};

// The frame: width x height samples, one byte each or native 16-bit words.
struct HotPixelFrame {
  std::span<uint8_t> samples;
  int width = 0;
  int height = 0;
  bool sixteenBit = false;
};

// Corrects first the pixels of the camera's hot-pixel map (`map`, may be null),
// then those of the dark frame (`dark`, may be null), in list order on the frame
// itself, so a corrected pixel may serve as the neighbour of a later one.
//
// Map pixels (and dark pixels on a monochrome sensor), with d the neighbour distance:
//  - in the first d columns or rows: the neighbour d to the right in the same row,
//  - in the last d columns or rows: the neighbour d to the left,
//  - elsewhere: the mean of the good ones of the four neighbours d away; with
//    none good, the darkest of the four.
// Dark pixels on a colour sensor: the neighbour two to the right in the first
// two columns or the first row, two to the left in the last two columns or the
// last row, else the mean of those two.
// Indices outside the frame are skipped; a source whose flags do not cover the
// frame is skipped. Returns the number of pixels corrected.
size_t CorrectHotPixels(const HotPixelFrame& frame, bool isColor, const HotPixelSource* map,
                        const HotPixelSource* dark);

}  // namespace okc::imaging
