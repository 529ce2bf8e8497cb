// What the simulator knows about an image sensor: its pixel array and colour
// filter, the registers through which a driver sets its window, timing,
// integration, gain and black level, the arithmetic that turns them into a
// frame period and an exposure, how its samples travel, and the controller
// commands that start and stop it. One generic sensor (SimSensor) and the
// frame stream (SimStreamer) work from a description; nothing in them knows
// a particular camera.
//
// What a table cannot say, a sensor says through its SensorHooks: how its
// gain registers become gains, a PLL between the controller's clock and the
// pixel clock, side effects of register writes. A sensor with more behaviour
// of its own (black-level calibration, a processor that runs host commands)
// adds hooks there.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "okccamera/SimCameras.h"
#include "sim/SimScene.h"

namespace okc::sim {

using RegisterFile = std::vector<uint16_t>;  // 0x10000 16-bit registers

// Where the readout window is programmed. The first column and row registers
// hold the array position plus an offset; the extent registers hold either the
// last column and row read (inclusive) or the number of columns and rows.
struct WindowRegisters {
  uint16_t firstColumn = 0;
  uint16_t firstRow = 0;
  int columnOffset = 0;  // register value of the array's first column
  int rowOffset = 0;
  bool extentIsLast = true;
  uint16_t columnExtent = 0;
  uint16_t rowExtent = 0;
  int extentBias = 0;  // added to a count extent (1: the registers hold the count less one)
  // The column registers count from the side of the array that is read last:
  // the window reads out from the other end.
  bool columnsReversed = false;
};

// Line and frame timing in pixel clocks. A line lasts the line-length register,
// or the window's width plus the horizontal-blanking register; a frame lasts
// the frame-length register, or the window's height plus the vertical-blanking
// register, in lines, and at least one line more than the integration.
//   period      = (max(frame lines, integration lines + 1) x line + frameClockOffset) / pixel clock
//   integration = (integration lines x line + integrationClockOffset) / pixel clock
struct TimingRegisters {
  uint16_t lineLength = 0;          // 0: width + horizontalBlanking
  uint16_t horizontalBlanking = 0;
  uint16_t frameLength = 0;         // 0: height + verticalBlanking
  uint16_t verticalBlanking = 0;
  uint16_t integration = 0;         // integration time in lines
  int integrationClockOffset = 0;
  int frameClockOffset = 0;
};

// How two-byte samples travel (one-byte samples are always the top 8 bits).
enum class SamplePacking {
  High8ThenLow4,         // the top 8 bits, then the low bits in the low end of the second byte
  LeftAlignedHighFirst,  // the sample shifted to the top of a 16-bit word, high byte first
};

// Controller commands of the stream (vendor request codes without data).
struct StreamCommands {
  uint8_t streamOn = 0xA9;
  uint8_t streamOff = 0xAA;
  uint8_t samples8 = 0xAB;
  uint8_t samples16 = 0xAC;
  uint8_t longExposureBegin = 0xAE;
  uint8_t longExposureEnd = 0xAF;
  uint8_t clock24 = 0xA3;
  uint8_t clock48 = 0xA4;
};

// Per-sensor behaviour beyond the tables. One object per simulated camera.
class SensorHooks {
 public:
  virtual ~SensorHooks() = default;
  // A register write reached the sensor; the register file already holds it.
  virtual void OnRegisterWrite(uint16_t /*address*/, uint16_t /*value*/, RegisterFile& /*registers*/) {}
  // Whether this write restarts the frame in progress (a sensor restart).
  virtual bool RestartsFrame(uint16_t /*address*/, uint16_t /*value*/) const { return false; }
  // A register read; returns what the sensor answers (a processor may change state on being polled).
  virtual uint16_t OnRegisterRead(uint16_t address, RegisterFile& registers) { return registers[address]; }
  // Sensors with a processor of their own: how it misbehaves from now on.
  virtual void SetProcessorFault(SensorProcessorFault /*fault*/) {}
  // The pixel clock from the clock the controller supplies; 0: none (no lock).
  virtual double PixelClockMhz(uint32_t inputClockMhz, const RegisterFile& /*registers*/) const {
    return inputClockMhz;
  }
  // Fills the gain of each place of the 2 x 2 cell (and any gain fields of its own).
  virtual void ApplyGains(const RegisterFile& registers, SimSensorState& state) const = 0;
};

struct SensorDescription {
  const char* name = "";
  SceneLayout array;          // pixel array and colour filter
  int sampleBits = 12;        // the converter's resolution
  SamplePacking wideSamples = SamplePacking::High8ThenLow4;
  WindowRegisters window;
  TimingRegisters timing;
  uint16_t blackLevelRegister = 0;  // 0: none; the black level is fixedBlackLevel (12-bit steps)
  double fixedBlackLevel = 0;
  uint32_t powerOnClockMhz = 48;    // what the controller supplies before A3 / A4
  std::vector<std::pair<uint16_t, uint16_t>> powerOnRegisters;
  StreamCommands commands;
  std::unique_ptr<SensorHooks> (*makeHooks)() = nullptr;
};

// The sensor of a model's simulated camera; null for a model whose sensor is not simulated.
const SensorDescription* SensorOf(Model model);

// The descriptions (SensorTav.cpp, SensorWvga.cpp).
const SensorDescription& TavColourSensor();
const SensorDescription& TavMonoSensor();
const SensorDescription& PimcSensor();
const SensorDescription& SelColourSensor();
const SensorDescription& SelMonoSensor();
const SensorDescription& RenmSensor();  // SensorRenm.cpp
const SensorDescription& DorcSensor();

}  // namespace okc::sim
