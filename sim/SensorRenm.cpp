// The RENM sensor (1280 x 1024, mono): 10-bit pixels, a window by start
// registers and extents that hold the count less one, rows of the window's
// width plus 244 clocks, frames of its height plus 32 rows, integration in
// rows, one gain register, and a black-level calibration whose offsets can be
// read while it runs and are written by the host when it is fixed.
#include <memory>

#include "sim/SensorDescription.h"

namespace okc::sim {
namespace {

constexpr uint16_t kRegRowStart = 0x01;
constexpr uint16_t kRegColumnStart = 0x02;
constexpr uint16_t kRegLastRow = 0x03;
constexpr uint16_t kRegLastColumn = 0x04;
constexpr uint16_t kRegHorizontalBlanking = 0x05;
constexpr uint16_t kRegVerticalBlanking = 0x06;
constexpr uint16_t kRegIntegrationRows = 0x09;
constexpr uint16_t kRegRestart = 0x0B;
constexpr uint16_t kRegGain = 0x35;
constexpr uint16_t kRegOffset1 = 0x60;
constexpr uint16_t kRegOffset2 = 0x61;
constexpr uint16_t kRegCalibration = 0x62;
constexpr uint16_t kRegOffset3 = 0x63;
constexpr uint16_t kRegOffset4 = 0x64;

// 0x62: the sensor calibrates its black level itself / uses the offsets written.
constexpr uint16_t kCalibrationAutomatic = 0x1498;

constexpr int kColumnOffset = 20;
constexpr int kRowOffset = 12;
constexpr uint16_t kPowerOnHorizontalBlanking = 244;
constexpr uint16_t kPowerOnVerticalBlanking = 32;
constexpr uint16_t kPowerOnGain = 8;  // 1x
// The rows of an integration lack this many clocks.
constexpr int kIntegrationShortClocks = 180;
constexpr double kBlackLevel = 16;

class RenmHooks : public SensorHooks {
 public:
  void OnRegisterWrite(uint16_t address, uint16_t value, RegisterFile& registers) override {
    const bool calibrating = registers[kRegCalibration] == kCalibrationAutomatic;
    // The calibration starts, or runs again for a new gain.
    if ((address == kRegCalibration && value == kCalibrationAutomatic) || (address == kRegGain && calibrating))
      Calibrate(registers);
  }

  // Bit 0 of the restart register abandons the frame in progress: the next
  // one starts at once with the registers as they are.
  bool RestartsFrame(uint16_t address, uint16_t value) const override { return address == kRegRestart && (value & 1); }

  void ApplyGains(const RegisterFile& r, SimSensorState& s) const override {
    // Bits 0-5 in eighths, bit 6 doubles, the bits from 8 on multiply by one more than they hold.
    const int value = r[kRegGain];
    const double analog = (value & 0x3F) / 8.0 * ((value & 0x40) ? 2 : 1);
    const double digital = 1.0 + ((value >> 8) & 0x7F);
    for (auto& row : s.cellGain) row.fill(analog * digital);
  }

 private:
  // The offsets the calibration settles on: a fixed function of the gain,
  // different for each of the four registers, some negative.
  static void Calibrate(RegisterFile& registers) {
    const int gain = registers[kRegGain];
    const auto store = [&registers](uint16_t address, int offset) {
      registers[address] = static_cast<uint16_t>(static_cast<int16_t>(offset));
    };
    store(kRegOffset1, gain % 11 - 5);
    store(kRegOffset2, gain % 7 - 2);
    store(kRegOffset3, -(gain % 5) - 1);
    store(kRegOffset4, gain % 13 - 8);
  }
};

}  // namespace

const SensorDescription& RenmSensor() {
  static const SensorDescription d = [] {
    SensorDescription s;
    s.name = "RENM";
    s.array = {1280, 1024, Mosaic::Mono};
    s.sampleBits = 10;
    s.wideSamples = SamplePacking::LeftAlignedHighFirst;
    s.window = {.firstColumn = kRegColumnStart, .firstRow = kRegRowStart, .columnOffset = kColumnOffset,
                .rowOffset = kRowOffset, .extentIsLast = false, .columnExtent = kRegLastColumn,
                .rowExtent = kRegLastRow, .extentBias = 1, .columnsReversed = false};
    s.timing = {.lineLength = 0, .horizontalBlanking = kRegHorizontalBlanking, .frameLength = 0,
                .verticalBlanking = kRegVerticalBlanking, .integration = kRegIntegrationRows,
                .integrationClockOffset = -kIntegrationShortClocks, .frameClockOffset = 0};
    s.fixedBlackLevel = kBlackLevel;
    s.powerOnClockMhz = 48;
    s.powerOnRegisters = {{kRegHorizontalBlanking, kPowerOnHorizontalBlanking},
                          {kRegVerticalBlanking, kPowerOnVerticalBlanking},
                          {kRegGain, kPowerOnGain},
                          {kRegCalibration, kCalibrationAutomatic}};
    s.makeHooks = +[]() -> std::unique_ptr<SensorHooks> { return std::make_unique<RenmHooks>(); };
    return s;
  }();
  return d;
}

}  // namespace okc::sim
