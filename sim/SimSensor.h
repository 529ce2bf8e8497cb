// The image sensor of a simulated camera, as far as it follows from what the
// driver programs: readout window, line and frame length, integration time,
// pixel clock, gains, black level and sample width. It works from the
// sensor's description (SensorDescription.h) and its hooks.
//
// The controller feeds it every sensor register write; the state is derived
// from the register file when asked, so it always matches what the camera holds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "okccamera/SimCameras.h"
#include "sim/SensorDescription.h"
#include "sim/SimStreamer.h"

namespace okc::sim {

class SimSensor {
 public:
  // `description` may be null: a camera whose sensor is not simulated (it never streams).
  explicit SimSensor(const SensorDescription* description);

  const SensorDescription* Description() const { return description_; }
  // The controller commands of the stream (the usual codes without a description).
  const StreamCommands& Commands() const;

  // Sets the registers the sensor holds from power-on in a fresh register file.
  void PowerOn(RegisterFile& registers) const;

  // A register write that reached the sensor (the register file is updated by
  // the caller). True when it restarts the frame in progress.
  bool OnRegisterWrite(uint16_t address, uint16_t value, RegisterFile& registers);
  // A register read: what the sensor answers.
  uint16_t OnRegisterRead(uint16_t address, RegisterFile& registers);
  void SetProcessorFault(SensorProcessorFault fault);

  // The sensor's state from the register file, the clock the controller supplies
  // and the controller's sample width.
  SimSensorState State(const RegisterFile& registers, uint32_t inputClockMhz, bool sixteenBit) const;

  // The next frame as programmed; nullopt while the sensor cannot stream.
  std::optional<StreamSnapshot> Snapshot(const RegisterFile& registers, uint32_t inputClockMhz,
                                         bool sixteenBit) const;

 private:
  const SensorDescription* description_;
  std::unique_ptr<SensorHooks> hooks_;
};

}  // namespace okc::sim
