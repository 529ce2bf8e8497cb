// Register arithmetic of the TAV family's sensor.
#include "models/TavcSensorMath.h"

#include <algorithm>
#include <limits>

namespace okc::models {

uint32_t TavcIntegrationLines(uint64_t exposureUs, int clockMhz, uint32_t lineLength, uint32_t blanking) {
  const uint64_t clocks = clockMhz > 0 ? exposureUs * static_cast<uint64_t>(clockMhz) : 0;
  // Short exposures (and a clock not yet known) still integrate one line.
  if (clocks <= blanking) return 1;
  const uint64_t lines = (clocks - blanking) / std::max<uint32_t>(lineLength, 1);
  if (lines == 0) return 1;
  return static_cast<uint32_t>(std::min<uint64_t>(lines, std::numeric_limits<uint32_t>::max()));
}

TavcGain TavcGainFor(int gain, bool clock24Mhz) {
  const int g = std::clamp(gain, 1, 100);
  // The 24 MHz clock mode keeps bit 14 of the gain register set.
  const uint16_t base = clock24Mhz ? 0x5300 : 0x1300;
  if (g <= 16) return {base, static_cast<uint16_t>(2 * g + 32)};
  if (g <= 32) return {static_cast<uint16_t>(base + 0x10), static_cast<uint16_t>(2 * g)};
  if (g <= 48) return {static_cast<uint16_t>(base + 0x20), static_cast<uint16_t>(2 * g - 32)};
  return {static_cast<uint16_t>(base + 0x30), static_cast<uint16_t>(2 * g - 64)};
}

TavcGain TavmGainFor(int gain, bool clock24Mhz) {
  const int g = std::clamp(gain, 1, 100);
  const TavcGain colour = TavcGainFor(g, clock24Mhz);
  if (g <= 64) return colour;
  const int digital = g <= 80 ? 4 * g - 192 : 6 * g - 352;
  return {colour.coarse, static_cast<uint16_t>(digital)};
}

uint16_t TavcBalanceGain(int balance, uint16_t digital) {
  return static_cast<uint16_t>(std::clamp(balance, 1, 100) * digital / 55);
}

uint16_t TavcLineLengthFor(bool sixteenBit, int width, int height, int bin, int clockMhz, int percent,
                           int bytesPerUs, int blanking) {
  const int64_t k = sixteenBit ? 2 : 1;
  const int64_t bytesPerFrameClock = k * width * static_cast<int64_t>(clockMhz) * height * bin * bin;
  const double lines = static_cast<double>(height) * bin + blanking;
  const double length = (static_cast<double>(bytesPerFrameClock) * 100.0 / std::max(bytesPerUs, 1) /
                             std::max(percent, 1) +
                         358.0) /
                        lines;
  // Clamp before converting, NaN included: a nonsensical window must not reach an
  // out-of-range conversion.
  if (!(length >= kTavcMinLineLength)) return kTavcMinLineLength;
  if (length > kTavcLongLineLength) return kTavcLongLineLength;
  return static_cast<uint16_t>(length);
}

float TavcTemperature(uint16_t calA, uint16_t calB, uint16_t reading) {
  if (calA != calB) {
    const float span = static_cast<float>(static_cast<int>(calA) - static_cast<int>(calB));
    const float slope = 15.0f / span;
    const float offset = 55.0f - 15.0f * calB / span;
    if (slope >= 0.5f && slope <= 1.0f) return slope * reading + offset;
  }
  return 0.75f * reading - 280.0f;
}

}  // namespace okc::models
