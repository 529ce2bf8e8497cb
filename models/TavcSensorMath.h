// The arithmetic that turns the TAV family's controls into sensor register
// values: integration lines, gain steps, the line length that paces the
// output, and the temperature from the sensor's calibrated reading.
#pragma once

#include <cstdint>

namespace okc::models {

// Lines of line-length pixel clocks in a 26-clock-shorter exposure:
// (exposure x clock - 26) / lineLength, at least 1. Saturates instead of wrapping.
// `blanking`: 26 on the USB 2 models, the frame blanking V on the USB 3 ones.
uint32_t TavcIntegrationLines(uint64_t exposureUs, int clockMhz, uint32_t lineLength, uint32_t blanking = 26);

// Coarse analogue step (register 0x30B0) and digital gain (green gain registers)
// for a gain of 1 to 100; values outside are taken as the nearest end.
struct TavcGain {
  uint16_t coarse;
  uint16_t digital;
};
TavcGain TavcGainFor(int gain, bool clock24Mhz);
// The mono sensors: the same coarse steps, and one digital gain (0x305E)
// that goes on rising above gain 64.
TavcGain TavmGainFor(int gain, bool clock24Mhz);

// Red or blue channel gain: a balance of 55 gives the channel the green gain.
uint16_t TavcBalanceGain(int balance, uint16_t digital);

// Line length (pixel clocks) that paces the camera's output at `percent` percent
// of 42 bytes per microsecond for the given window, within 1390 to 12287.
// `bytesPerUs`: the link's bytes per microsecond at 100 % (42 on the USB 2
// models, the bandwidth base B on the USB 3 ones); `blanking` as above.
uint16_t TavcLineLengthFor(bool sixteenBit, int width, int height, int bin, int clockMhz, int percent,
                           int bytesPerUs = 42, int blanking = 26);

constexpr uint16_t kTavcMinLineLength = 1390;
constexpr uint16_t kTavcLongLineLength = 12287;  // 0x2FFF, also the longest line

// Degrees Celsius from the temperature reading and the two calibration words
// (calA: reading at 70 degrees, calB: at 55 degrees). Calibration words that
// give an implausible slope fall back to the typical sensor's line.
float TavcTemperature(uint16_t calA, uint16_t calB, uint16_t reading);

}  // namespace okc::models
