#include "models/DorcGain.h"

#include <algorithm>
#include <cmath>

namespace okc::models {

uint16_t DorcGainRegister(float multiplier) {
  // Comparisons and products in single precision, as the camera's tables were made.
  // Not a number: the lowest gain, never an undefined conversion.
  const float m = std::isnan(multiplier) ? 1.0f : std::clamp(multiplier, 1.0f, 128.0f);
  const auto code = [](float mantissa, unsigned stages) {
    return static_cast<uint16_t>(static_cast<unsigned>(mantissa) | stages);
  };
  if (m <= 2.0f) return code(m * 31.5f, 0x1000);
  if (m <= 4.0f) return code(m * 15.75f, 0x2000);
  if (m <= 8.0f) return code(m * 7.875f, 0x2040);
  if (m <= 16.0f) return code(m * 3.9375f, 0x2080);
  if (m <= 32.0f) return code(m * 1.96875f, 0x20C0);
  if (m <= 64.0f) return code(m - 1.0f, 0x40C0);
  return code(m * 0.5f - 1.0f, 0x80C0);
}

float DorcGainMultiplier(int gain) {
  const int g = std::clamp(gain, 1, 100);
  if (g <= 16) return 1.0f + static_cast<float>(g) * 0.0625f;
  if (g <= 32) return static_cast<float>(g) * 0.125f;
  if (g <= 48) return 4.0f + static_cast<float>(g - 32) * 0.25f;
  if (g <= 64) return 8.0f + static_cast<float>(g - 48) * 0.5f;
  if (g <= 80) return static_cast<float>(g - 48);
  return 32.0f + static_cast<float>(g - 80) * 1.6f;
}

}  // namespace okc::models
