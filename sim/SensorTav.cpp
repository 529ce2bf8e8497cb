// The sensor of the TAV family (TAVC, TAVM, TAVC-U, TAVM-U): a 1280 x 964
// array of 12-bit pixels, window by first and last row and column, line and
// frame length registers, a PLL between the controller's clock and the pixel
// clock, a coarse analog gain step and digital gains per colour (one global
// digital gain on the mono sensor), a black-level register, and the
// temperature diode's words from power-on.
#include <memory>

#include "sim/SensorDescription.h"
#include "sim/SimStreamer.h"

namespace okc::sim {
namespace {

constexpr uint16_t kRegFirstRow = 0x3002;
constexpr uint16_t kRegFirstColumn = 0x3004;
constexpr uint16_t kRegLastRow = 0x3006;
constexpr uint16_t kRegLastColumn = 0x3008;
constexpr uint16_t kRegFrameLength = 0x300A;
constexpr uint16_t kRegLineLength = 0x300C;
constexpr uint16_t kRegIntegration = 0x3012;
constexpr uint16_t kRegResetControl = 0x301A;
constexpr uint16_t kRegBlackLevel = 0x301E;
constexpr uint16_t kRegPixDivider = 0x302A;
constexpr uint16_t kRegSysDivider = 0x302C;
constexpr uint16_t kRegPreDivider = 0x302E;
constexpr uint16_t kRegMultiplier = 0x3030;
constexpr uint16_t kRegGreen1Gain = 0x3056;
constexpr uint16_t kRegBlueGain = 0x3058;
constexpr uint16_t kRegRedGain = 0x305A;
constexpr uint16_t kRegGreen2Gain = 0x305C;
constexpr uint16_t kRegGlobalGain = 0x305E;  // the mono sensor's one digital gain
constexpr uint16_t kRegCoarseGain = 0x30B0;
constexpr uint16_t kRegTemperature = 0x30B2;
constexpr uint16_t kRegTempCal70 = 0x30C6;
constexpr uint16_t kRegTempCal55 = 0x30C8;

// The temperature diode: reading 447 at 55 degrees, 467 at 70 degrees (0.75
// degrees per count), and the die at 25 degrees.
constexpr uint16_t kCalibration55 = 447;
constexpr uint16_t kCalibration70 = 467;
constexpr uint16_t kReadingAt25 = 407;

constexpr uint16_t kResetBit = 0x0001;
// Digital gains are in 1/32 steps.
constexpr double kUnityDigitalGain = 32.0;

// Analog x digital gain of each place of the cell from the gain fields.
std::array<std::array<double, 2>, 2> TavCellGains(const SimSensorState& s, bool mono, uint16_t globalGain) {
  std::array<std::array<double, 2>, 2> gain{};
  const double analog = s.analogGain;
  if (mono) {
    for (auto& row : gain) row.fill(analog * globalGain / kUnityDigitalGain);
  } else {
    // Even rows G R, odd rows B G; the green next to red is green 1.
    gain[0][0] = analog * s.greenGain1 / kUnityDigitalGain;
    gain[0][1] = analog * s.redGain / kUnityDigitalGain;
    gain[1][0] = analog * s.blueGain / kUnityDigitalGain;
    gain[1][1] = analog * s.greenGain2 / kUnityDigitalGain;
  }
  return gain;
}

class TavHooks : public SensorHooks {
 public:
  explicit TavHooks(bool mono) : mono_(mono) {}

  void OnRegisterWrite(uint16_t address, uint16_t value, RegisterFile&) override {
    // The PLL drives the pixel clock once programmed; a sensor reset bypasses it again.
    if (address == kRegResetControl && (value & kResetBit)) {
      pllProgrammed_ = false;
    } else if (address == kRegPixDivider || address == kRegSysDivider || address == kRegPreDivider ||
               address == kRegMultiplier) {
      pllProgrammed_ = true;
    }
  }

  double PixelClockMhz(uint32_t inputClockMhz, const RegisterFile& r) const override {
    if (!pllProgrammed_) return inputClockMhz;  // PLL bypassed
    const double dividers = 1.0 * r[kRegPreDivider] * r[kRegPixDivider] * r[kRegSysDivider];
    // A zero divider leaves the PLL without lock: no pixel clock at all.
    return dividers > 0 ? inputClockMhz * r[kRegMultiplier] / dividers : 0.0;
  }

  void ApplyGains(const RegisterFile& r, SimSensorState& s) const override {
    s.coarseGain = r[kRegCoarseGain];
    s.analogGain = 1 << ((s.coarseGain >> 4) & 3);
    s.greenGain1 = r[kRegGreen1Gain];
    s.greenGain2 = r[kRegGreen2Gain];
    s.redGain = r[kRegRedGain];
    s.blueGain = r[kRegBlueGain];
    s.cellGain = TavCellGains(s, mono_, r[kRegGlobalGain]);
  }

 private:
  const bool mono_;
  bool pllProgrammed_ = false;
};

SensorDescription TavSensor(bool mono) {
  SensorDescription d;
  d.name = mono ? "TAV mono" : "TAV colour";
  d.array = {1280, 964, mono ? Mosaic::Mono : Mosaic::GRBG};
  d.sampleBits = 12;
  d.wideSamples = SamplePacking::High8ThenLow4;
  d.window = {.firstColumn = kRegFirstColumn, .firstRow = kRegFirstRow, .columnOffset = 0, .rowOffset = 0,
              .extentIsLast = true, .columnExtent = kRegLastColumn, .rowExtent = kRegLastRow,
              .columnsReversed = false};
  d.timing = {.lineLength = kRegLineLength, .frameLength = kRegFrameLength, .integration = kRegIntegration};
  d.blackLevelRegister = kRegBlackLevel;
  d.powerOnClockMhz = 48;
  d.powerOnRegisters = {{kRegTempCal70, kCalibration70}, {kRegTempCal55, kCalibration55},
                        {kRegTemperature, kReadingAt25}};
  d.makeHooks = mono ? +[]() -> std::unique_ptr<SensorHooks> { return std::make_unique<TavHooks>(true); }
                     : +[]() -> std::unique_ptr<SensorHooks> { return std::make_unique<TavHooks>(false); };
  return d;
}

}  // namespace

const SensorDescription& TavColourSensor() {
  static const SensorDescription d = TavSensor(false);
  return d;
}

const SensorDescription& TavMonoSensor() {
  static const SensorDescription d = TavSensor(true);
  return d;
}

std::optional<StreamSnapshot> SnapshotOf(const SimSensorState& sensor, bool mono, uint16_t globalGain) {
  SimSensorState s = sensor;
  s.cellGain = TavCellGains(s, mono, globalGain);
  return SnapshotOf(s, TavColourSensor().array);
}

}  // namespace okc::sim
