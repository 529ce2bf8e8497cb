#include "imaging/WhiteBalance.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "imaging/Demosaic.h"
#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

// Differences of the means (on the 0..256 scale) that count as grey.
constexpr int kDeadBand = 4;
// While exposure or gain are automatic, casts up to this are left alone.
constexpr int kDeadBandWhileExposing = 10;
// Below this a truncating ratio can never raise a balance value: nudge it by one.
constexpr int kNudgeBelow = 5;
// What every model's SetRGBBalance keeps the balance within.
constexpr int kLowestBalance = 1;
constexpr int kHighestBalance = kMaxBalance;

int Difference(uint32_t a, uint32_t b) { return std::abs(static_cast<int>(a) - static_cast<int>(b)); }

// value x green / mean, with the small-value nudge.
int Scaled(int value, uint32_t green, uint32_t mean) {
  int scaled = static_cast<int>(static_cast<int64_t>(value) * green / mean);
  if (scaled == value && green > mean && value < kNudgeBelow) ++scaled;
  return std::clamp(scaled, kLowestBalance, kHighestBalance);
}

}  // namespace

std::optional<ColourMeans> MeasureColourMeans(const uint8_t* rgb, size_t bytes, int width, int height) {
  if (!rgb || !FrameFits(bytes, width, height, 3)) return std::nullopt;
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  const uint64_t n = static_cast<uint64_t>(w) * h / 4;
  if (n == 0 || w / 4 >= 3 * w / 4 || h / 4 >= 3 * h / 4) return std::nullopt;
  uint64_t sumB = 0, sumG = 0, sumR = 0;
  for (size_t y = h / 4; y < 3 * h / 4; ++y) {
    const uint8_t* p = rgb + (y * w + w / 4) * 3;
    for (size_t x = w / 4; x < 3 * w / 4; ++x, p += 3) {
      sumB += p[0];
      sumG += p[1];
      sumR += p[2];
    }
  }
  ColourMeans means;
  means.blue = static_cast<uint32_t>(sumB / n + 1);
  means.green = static_cast<uint32_t>(sumG / n + 1);
  means.red = static_cast<uint32_t>(sumR / n + 1);
  return means;
}

WhiteBalanceDecision DecideWhiteBalance(const ColourMeans& m, const WhiteBalanceInput& in) {
  WhiteBalanceDecision d;
  d.measured = true;
  d.means = m;
  d.redBefore = d.red = in.wbRed;
  d.blueBefore = d.blue = in.wbBlue;
  const int offBlue = Difference(m.green, m.blue);
  const int offRed = Difference(m.green, m.red);
  if ((in.autoExp || in.autoGain) && offBlue <= kDeadBandWhileExposing && offRed <= kDeadBandWhileExposing) return d;
  if (offBlue <= kDeadBand && offRed <= kDeadBand) return d;
  if (m.red == 0 || m.blue == 0) return d;  // means always carry +1; this only guards hand-made input
  d.red = Scaled(in.wbRed, m.green, m.red);
  d.blue = Scaled(in.wbBlue, m.green, m.blue);
  d.changed = d.red != in.wbRed || d.blue != in.wbBlue;
  return d;
}

namespace {

WhiteBalanceDecision Unchanged(const WhiteBalanceInput& input) {
  WhiteBalanceDecision d;
  d.redBefore = d.red = input.wbRed;
  d.blueBefore = d.blue = input.wbBlue;
  return d;
}

}  // namespace

WhiteBalanceDecision AutoWB(const uint8_t* rgb, size_t bytes, int width, int height, const WhiteBalanceInput& input) {
  const std::optional<ColourMeans> means = MeasureColourMeans(rgb, bytes, width, height);
  return means ? DecideWhiteBalance(*means, input) : Unchanged(input);
}

WhiteBalanceDecision AutoWhiBal(const uint8_t* raw, size_t bytes, const RawFrameGeometry& geometry, int bayerPattern,
                                const WhiteBalanceInput& input, std::vector<uint8_t>& scratch,
                                const ColourTables& tables) {
  const WhiteBalanceDecision unchanged = Unchanged(input);
  const size_t frameBytes = geometry.FrameBytes();
  if (geometry.sixteenBit || !raw || frameBytes == 0 || bytes < frameBytes) return unchanged;
  const int w = geometry.RawWidth();
  const int h = geometry.RawHeight();
  scratch.resize(frameBytes * 3);
  if (!Bayer2RGB24({raw, frameBytes}, scratch, w, h, bayerPattern, false, false, tables)) return unchanged;
  return AutoWB(scratch.data(), scratch.size(), w, h, input);
}

}  // namespace okc::imaging
