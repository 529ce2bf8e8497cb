// The simulated TAV-family sensor: derives what the sensor does from the
// registers the driver wrote, the clock the controller supplies and the
// controller's sample width.
#include "sim/SimSensor.h"

#include <algorithm>

#include "sim/SimCameraImpl.h"

namespace okc::sim {
namespace {

bool HasTavSensor(Model model) {
  return model == Model::TAVC || model == Model::TAVM || model == Model::TAVC_U || model == Model::TAVM_U;
}

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
constexpr uint16_t kRegCoarseGain = 0x30B0;
constexpr uint16_t kRegTemperature = 0x30B2;
constexpr uint16_t kRegTempCal70 = 0x30C6;
constexpr uint16_t kRegTempCal55 = 0x30C8;

// This sensor's temperature diode: reading 447 at 55 degrees, 467 at 70 degrees
// (0.75 degrees per count), and the die at 25 degrees.
constexpr uint16_t kCalibration55 = 447;
constexpr uint16_t kCalibration70 = 467;
constexpr uint16_t kReadingAt25 = 407;

constexpr uint16_t kResetBit = 0x0001;

}  // namespace

void SimSensor::PowerOn(Model model, std::vector<uint16_t>& registers) {
  if (!HasTavSensor(model) || registers.size() <= kRegTempCal55) return;
  registers[kRegTempCal70] = kCalibration70;
  registers[kRegTempCal55] = kCalibration55;
  registers[kRegTemperature] = kReadingAt25;
}

void SimSensor::OnRegisterWrite(uint16_t address, uint16_t value) {
  if (address == kRegResetControl && (value & kResetBit)) {
    pllProgrammed_ = false;
  } else if (address == kRegPixDivider || address == kRegSysDivider || address == kRegPreDivider ||
             address == kRegMultiplier) {
    pllProgrammed_ = true;
  }
}

SimSensorState SimSensor::State(Model model, const std::vector<uint16_t>& registers, uint32_t inputClockMhz,
                                bool sixteenBit) const {
  SimSensorState s;
  if (!HasTavSensor(model) || registers.size() < 0x10000) return s;
  const auto reg = [&registers](uint16_t address) { return registers[address]; };

  s.x = reg(kRegFirstColumn);
  s.y = reg(kRegFirstRow);
  s.width = std::max(0, reg(kRegLastColumn) - reg(kRegFirstColumn) + 1);
  s.height = std::max(0, reg(kRegLastRow) - reg(kRegFirstRow) + 1);
  s.lineLength = reg(kRegLineLength);
  s.frameLength = reg(kRegFrameLength);
  s.integrationLines = reg(kRegIntegration);
  s.sixteenBit = sixteenBit;

  s.inputClockMhz = inputClockMhz;
  if (!pllProgrammed_) {
    s.pixelClockMhz = inputClockMhz;  // PLL bypassed
  } else {
    const double dividers = 1.0 * reg(kRegPreDivider) * reg(kRegPixDivider) * reg(kRegSysDivider);
    // A zero divider leaves the PLL without lock: no pixel clock at all.
    s.pixelClockMhz = dividers > 0 ? inputClockMhz * reg(kRegMultiplier) / dividers : 0.0;
  }

  s.coarseGain = reg(kRegCoarseGain);
  s.analogGain = 1 << ((s.coarseGain >> 4) & 3);
  s.greenGain1 = reg(kRegGreen1Gain);
  s.greenGain2 = reg(kRegGreen2Gain);
  s.redGain = reg(kRegRedGain);
  s.blueGain = reg(kRegBlueGain);
  s.blackLevel = reg(kRegBlackLevel);

  if (s.pixelClockMhz > 0) {
    // An integration longer than the frame stretches the frame.
    const uint32_t lines = std::max<uint32_t>(s.frameLength, s.integrationLines + 1u);
    s.framePeriodUs = lines * static_cast<double>(s.lineLength) / s.pixelClockMhz;
    s.integrationUs = s.integrationLines * static_cast<double>(s.lineLength) / s.pixelClockMhz;
  }
  return s;
}

SimSensorState SimCameraImpl::Sensor() const {
  std::lock_guard lock(mutex_);
  return sensor_.State(options_.model, registers_, clockMhz_, sixteenBit_);
}

}  // namespace okc::sim
