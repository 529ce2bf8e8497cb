// Software mirroring of a frame in place (CCameraBase::SoftMisc).
//
// Camera fields: samplesPerRow = `width` x `bin`, rows = `height` x `bin`,
// bytesPerSample = 2 when `output16Bits` is set else 1, and `flipRow`,
// `flipColumn`. Samples are moved whole, so 24-bit pixels (3) work as well.
//
// Mirroring changes the Bayer phase of a colour frame; Bayer2RGB24 is told the
// same flags and compensates.
#pragma once

#include <cstdint>
#include <span>

namespace okc::imaging {

// flipRow and flipColumn: the frame reversed as one sequence (180 degree turn);
// flipRow only: each row mirrored left-right; flipColumn only: rows mirrored
// top-bottom. A middle column (odd width) or middle row (odd height) stays.
// False, frame untouched, when a size is not positive, bytesPerSample is not
// 1..4, or `frame` is smaller than samplesPerRow x rows x bytesPerSample.
bool SoftMisc(std::span<uint8_t> frame, int samplesPerRow, int rows, int bytesPerSample, bool flipRow,
              bool flipColumn);

}  // namespace okc::imaging
