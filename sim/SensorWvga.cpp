// The VGA and WVGA sensors of PIMC (640 x 480, colour), SELC (752 x 480,
// colour) and SELM (752 x 480, mono): 10-bit pixels, a window by start and
// size registers whose column start counts from the far side of the array,
// line and frame lengths as window plus blanking registers, integration in
// rows, an analog gain register and a digital gain stage above it.
#include <memory>

#include "sim/SensorDescription.h"

namespace okc::sim {
namespace {

constexpr uint16_t kRegColumnStart = 0x01;
constexpr uint16_t kRegRowStart = 0x02;
constexpr uint16_t kRegWindowHeight = 0x03;
constexpr uint16_t kRegWindowWidth = 0x04;
constexpr uint16_t kRegHorizontalBlanking = 0x05;
constexpr uint16_t kRegVerticalBlanking = 0x06;
constexpr uint16_t kRegIntegrationRows = 0x0B;
constexpr uint16_t kRegRestart = 0x0C;
constexpr uint16_t kRegAnalogGain = 0x35;
constexpr uint16_t kRegDigitalGain = 0x80;

// Register values of the array's first column and row.
constexpr int kColumnOffset = 1;
constexpr int kRowOffset = 4;
// Four clocks beyond the rows, in the frame as in the integration.
constexpr int kExtraClocks = 4;
constexpr uint16_t kPowerOnVerticalBlanking = 45;
constexpr uint16_t kPowerOnAnalogGain = 16;     // 1x
constexpr uint16_t kPowerOnDigitalGain = 0x4F4;  // 1x
// Black level in 12-bit steps (one step of the 8-bit samples).
constexpr double kBlackLevel = 16;

class WvgaHooks : public SensorHooks {
 public:
  // Bit 0 of the restart register abandons the frame in progress: the next
  // one starts at once with the registers as they are.
  bool RestartsFrame(uint16_t address, uint16_t value) const override {
    return address == kRegRestart && (value & 1);
  }

  void ApplyGains(const RegisterFile& r, SimSensorState& s) const override {
    // Analog: 16 is 1x, in 1/16 steps; from 64 on a second range in 1/8 steps.
    const int analog = r[kRegAnalogGain] & 0x7F;
    const double analogGain = analog < 64 ? analog / 16.0 : (analog - 64) / 8.0;
    // Digital: the low four bits in quarters (4 is 1x).
    const double digitalGain = (r[kRegDigitalGain] & 0x0F) / 4.0;
    for (auto& row : s.cellGain) row.fill(analogGain * digitalGain);
  }
};

SensorDescription WvgaSensor(const char* name, int columns, Mosaic mosaic, uint32_t powerOnClockMhz) {
  SensorDescription d;
  d.name = name;
  d.array = {columns, 480, mosaic};
  d.sampleBits = 10;
  d.wideSamples = SamplePacking::LeftAlignedHighFirst;
  d.window = {.firstColumn = kRegColumnStart, .firstRow = kRegRowStart, .columnOffset = kColumnOffset,
              .rowOffset = kRowOffset, .extentIsLast = false, .columnExtent = kRegWindowWidth,
              .rowExtent = kRegWindowHeight, .columnsReversed = true};
  d.timing = {.lineLength = 0, .horizontalBlanking = kRegHorizontalBlanking, .frameLength = 0,
              .verticalBlanking = kRegVerticalBlanking, .integration = kRegIntegrationRows,
              .integrationClockOffset = kExtraClocks, .frameClockOffset = kExtraClocks};
  d.fixedBlackLevel = kBlackLevel;
  d.powerOnClockMhz = powerOnClockMhz;
  d.powerOnRegisters = {{kRegVerticalBlanking, kPowerOnVerticalBlanking},
                        {kRegAnalogGain, kPowerOnAnalogGain},
                        {kRegDigitalGain, kPowerOnDigitalGain}};
  d.makeHooks = +[]() -> std::unique_ptr<SensorHooks> { return std::make_unique<WvgaHooks>(); };
  return d;
}

}  // namespace

const SensorDescription& PimcSensor() {
  static const SensorDescription d = WvgaSensor("PIMC", 640, Mosaic::BGGR, 48);
  return d;
}

// The SEL controller feeds its sensor 30 MHz until told 24 or 48.
const SensorDescription& SelColourSensor() {
  static const SensorDescription d = WvgaSensor("SEL colour", 752, Mosaic::BGGR, 30);
  return d;
}

const SensorDescription& SelMonoSensor() {
  static const SensorDescription d = WvgaSensor("SEL mono", 752, Mosaic::Mono, 30);
  return d;
}

}  // namespace okc::sim
