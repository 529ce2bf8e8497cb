// Bilinear demosaic of an 8-bit Bayer frame into 24-bit colour (B, G, R bytes),
// with the white-balance tables applied to red and blue (CCameraBase::Bayer2RGB24).
//
// Camera fields: bayerPattern = `bayerPattern`, flipRow / flipColumn = `flipRow` /
// `flipColumn` as SoftMisc applied them to this frame (pass false, false for an
// unflipped raw frame), width x height = the frame's samples (`width` x `bin` by
// `height` x `bin` when demosaicing before binning).
//
// Sensor layouts of the 2 x 2 cell (`bayerPattern`): 0 = R G / G B, 1 = B G / G R,
// 2 = G R / B G, 3 = G B / R G.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/ColourTables.h"

namespace okc::imaging {

// The cell layout of the frame after the software mirrors: a left-right mirror
// swaps the columns of the cell, a top-bottom mirror its rows. A mirror over an
// odd number of columns (rows) keeps every column's (row's) parity and so does
// not change the layout. -1 for a pattern outside 0..3.
int EffectiveBayerLayout(int bayerPattern, bool flipRow, bool flipColumn, int width, int height);

// Demosaics `src` (width x height bytes) into `dst` (width x height x 3 bytes).
// Cells on the frame's edge take green from their own two G samples and one red
// and one blue for all four pixels; inner pixels average their neighbours.
// With an odd width (height) the last column (row) repeats its neighbour.
// False, nothing written, for a pattern outside 0..3, a side below 2, or a
// buffer smaller than the frame.
bool Bayer2RGB24(std::span<const uint8_t> src, std::span<uint8_t> dst, int width, int height, int bayerPattern,
                 bool flipRow, bool flipColumn, const ColourTables& tables = ProcessColourTables());

}  // namespace okc::imaging
