// The DORC sensor's gain encoding and the camera's gain scale.
//
// A gain register holds a 6-bit mantissa (register / 31.5 is 0.98 .. 2.0)
// and two stages that multiply it: a digital one in bits 6 and 7 (x1, x2, x4,
// x8) and an analog one in bits 12 to 15 (x1, x2, x4, x8). The encoder picks
// the lowest analog stage for each octave, as the sensor's maker intends for
// the least noise.
#pragma once

#include <cstdint>

namespace okc::models {

// Register value for a gain multiplier; the multiplier is clamped to 1 .. 128.
uint16_t DorcGainRegister(float multiplier);

// The multiplier of the camera's gain 1 .. 100 (clamped): 1.0625 at 1, 2 at
// 16, 4 at 32, 8 at 48, 16 at 64, 32 at 80, 64 at 100.
float DorcGainMultiplier(int gain);

}  // namespace okc::models
