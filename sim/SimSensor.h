// The image sensor of the simulated TAV-family cameras, as far as it follows
// from what the driver programs: readout window, line and frame length,
// integration time, pixel clock (PLL), gains, black level and sample width.
//
// The controller feeds it every sensor register write; the state is derived
// from the register file when asked, so it always matches what the camera holds.
#pragma once

#include <cstdint>
#include <vector>

#include "okccamera/SimCameras.h"

namespace okc::sim {

class SimSensor {
 public:
  // Sets the read-only registers the sensor answers from power-on (temperature
  // reading and its calibration words) in a fresh register file.
  static void PowerOn(Model model, std::vector<uint16_t>& registers);

  // A register write that reached the sensor (the register file is updated by the caller).
  void OnRegisterWrite(uint16_t address, uint16_t value);

  // The sensor's state from the register file, the clock the controller supplies
  // (24 or 48 MHz) and the controller's sample width.
  SimSensorState State(Model model, const std::vector<uint16_t>& registers, uint32_t inputClockMhz,
                       bool sixteenBit) const;

 private:
  // The PLL drives the pixel clock once programmed; a sensor reset bypasses it again.
  bool pllProgrammed_ = false;
};

}  // namespace okc::sim
