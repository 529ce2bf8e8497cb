// One step of automatic white balance (CCameraBase::AutoWhiBal / AutoWB): the
// newest raw Bayer frame is demosaiced with the balance in force, and the mean
// red, green and blue of its central quarter scale the red and blue balance by
// the green-to-red and green-to-blue ratios. Repeated steps converge
// multiplicatively, each one measuring an image balanced by the previous one.
//
// Pure code over a frame and a snapshot of the camera's values; the caller
// applies the decision through the model's SetRGBBalance, which clamps to
// 1..100 and either programs the sensor's colour gains (TAV family, DORC) or
// rebuilds the process-wide balance tables (the software-balance models).
//
// Camera fields: RawFrameGeometry = `width`, `height`, `bin`, `output16Bits`;
// `bayerPattern`; WhiteBalanceInput = `wbRed`, `wbBlue`, `autoWB`, `autoExp`,
// `autoGain`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/AutoExposure.h"
#include "imaging/ColourTables.h"

namespace okc::imaging {

struct WhiteBalanceInput {
  int wbRed = kNeutralBalance;
  int wbBlue = kNeutralBalance;
  // While the exposure loop may still move, only casts of 11 or more are corrected.
  bool autoExp = false;
  bool autoGain = false;
};

// Means of the central window, each plus one (so a black image still divides).
struct ColourMeans {
  uint32_t blue = 0;
  uint32_t green = 0;
  uint32_t red = 0;
};

struct WhiteBalanceDecision {
  bool measured = false;  // false: the frame could not be measured; nothing changes
  ColourMeans means;
  // The balance the step started from and the one it sets (within 1..100).
  int redBefore = 0;
  int blueBefore = 0;
  int red = 0;
  int blue = 0;
  bool changed = false;  // red or blue differs from the input
};

// Window means of a 24-bit frame (bytes blue, green, red) of width x height
// pixels: rows height/4 up to below 3 height/4, columns likewise. Nullopt when
// `bytes` is smaller than the frame or the window is empty.
std::optional<ColourMeans> MeasureColourMeans(const uint8_t* rgb, size_t bytes, int width, int height);

// The balance step for measured means (AutoWB's decision).
WhiteBalanceDecision DecideWhiteBalance(const ColourMeans& means, const WhiteBalanceInput& input);

// AutoWB: measures a 24-bit frame and decides.
WhiteBalanceDecision AutoWB(const uint8_t* rgb, size_t bytes, int width, int height, const WhiteBalanceInput& input);

// AutoWhiBal: demosaics the raw Bayer frame (unflipped, `bayerPattern`, with
// `tables` applied as in every demosaic) into `scratch` (resized as needed,
// so a caller that keeps it allocates once) and runs AutoWB on it. 16-bit
// frames are not measured.
WhiteBalanceDecision AutoWhiBal(const uint8_t* raw, size_t bytes, const RawFrameGeometry& geometry, int bayerPattern,
                                const WhiteBalanceInput& input, std::vector<uint8_t>& scratch,
                                const ColourTables& tables = ProcessColourTables());

}  // namespace okc::imaging
