// Pixel clocks of the TAV family's sensor: which clock suits a readout window,
// and the PLL divider and multiplier settings that produce each clock from the
// controller's 48 MHz sensor clock.
#pragma once

#include <cstdint>

namespace okc::models {

struct TavcPllSetting {
  int mhz;              // nominal pixel clock; all timing arithmetic uses this value
  uint16_t sysDivider;  // 0x302C
  uint16_t pixDivider;  // 0x302A
  uint16_t preDivider;  // 0x302E
  uint16_t multiplier;  // 0x3030
};

// The PLL row for a nominal clock, or null when the clock has none (24 and 48 MHz
// run without reprogramming the PLL).
const TavcPllSetting* FindTavcPll(int mhz);

// The clock for a window `columns` sensor pixels wide (bin x width): narrower
// windows can run faster within the link's bandwidth; 16-bit samples halve it.
int ChooseTavcClock(int columns, bool sixteenBit);

}  // namespace okc::models
