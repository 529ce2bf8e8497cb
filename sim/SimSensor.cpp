// The simulated sensor: what the registers the driver wrote, the clock the
// controller supplies and the controller's sample width make of the sensor
// described.
#include "sim/SimSensor.h"

#include <algorithm>

#include "sim/SimCameraImpl.h"

namespace okc::sim {

SimSensor::SimSensor(const SensorDescription* description)
    : description_(description), hooks_(description && description->makeHooks ? description->makeHooks() : nullptr) {}

const StreamCommands& SimSensor::Commands() const {
  static const StreamCommands kUsual;
  return description_ ? description_->commands : kUsual;
}

void SimSensor::PowerOn(RegisterFile& registers) const {
  if (!description_) return;
  for (const auto& [address, value] : description_->powerOnRegisters)
    if (address < registers.size()) registers[address] = value;
}

bool SimSensor::OnRegisterWrite(uint16_t address, uint16_t value, RegisterFile& registers) {
  if (!hooks_) return false;
  hooks_->OnRegisterWrite(address, value, registers);
  return hooks_->RestartsFrame(address, value);
}

uint16_t SimSensor::OnRegisterRead(uint16_t address, RegisterFile& registers) {
  return hooks_ ? hooks_->OnRegisterRead(address, registers) : registers[address];
}

void SimSensor::SetProcessorFault(SensorProcessorFault fault) {
  if (hooks_) hooks_->SetProcessorFault(fault);
}

SimSensorState SimSensor::State(const RegisterFile& registers, uint32_t inputClockMhz, bool sixteenBit) const {
  SimSensorState s;
  if (!description_ || !hooks_ || registers.size() < 0x10000) return s;
  const SensorDescription& d = *description_;
  const auto reg = [&registers](uint16_t address) { return static_cast<int>(registers[address]); };

  const WindowRegisters& w = d.window;
  const int firstColumn = reg(w.firstColumn) - w.columnOffset;
  s.y = reg(w.firstRow) - w.rowOffset;
  if (w.extentIsLast) {
    s.width = std::max(0, reg(w.columnExtent) - reg(w.firstColumn) + 1);
    s.height = std::max(0, reg(w.rowExtent) - reg(w.firstRow) + 1);
  } else {
    s.width = reg(w.columnExtent) + w.extentBias;
    s.height = reg(w.rowExtent) + w.extentBias;
  }
  s.x = w.columnsReversed ? d.array.columns - firstColumn - s.width : firstColumn;

  const TimingRegisters& t = d.timing;
  s.lineLength = static_cast<uint32_t>(t.lineLength ? reg(t.lineLength) : s.width + reg(t.horizontalBlanking));
  s.frameLength = static_cast<uint32_t>(t.frameLength ? reg(t.frameLength) : s.height + reg(t.verticalBlanking));
  s.integrationLines = static_cast<uint32_t>(reg(t.integration));
  s.sixteenBit = sixteenBit;
  s.inputClockMhz = inputClockMhz;
  s.pixelClockMhz = hooks_->PixelClockMhz(inputClockMhz, registers);
  hooks_->ApplyGains(registers, s);
  s.blackLevel = static_cast<uint16_t>(d.blackLevelRegister ? reg(d.blackLevelRegister) : d.fixedBlackLevel);

  if (s.pixelClockMhz > 0) {
    // An integration longer than the frame stretches the frame.
    const uint32_t lines = std::max<uint32_t>(s.frameLength, s.integrationLines + 1u);
    s.framePeriodUs = (lines * static_cast<double>(s.lineLength) + t.frameClockOffset) / s.pixelClockMhz;
    s.integrationUs = (s.integrationLines * static_cast<double>(s.lineLength) + t.integrationClockOffset) /
                      s.pixelClockMhz;
  }
  return s;
}

std::optional<StreamSnapshot> SimSensor::Snapshot(const RegisterFile& registers, uint32_t inputClockMhz,
                                                  bool sixteenBit) const {
  if (!description_) return std::nullopt;
  std::optional<StreamSnapshot> snap = SnapshotOf(State(registers, inputClockMhz, sixteenBit), description_->array);
  if (snap) {
    snap->frame.sampleBits = description_->sampleBits;
    snap->frame.leftAlignedHighFirst = description_->wideSamples == SamplePacking::LeftAlignedHighFirst;
  }
  return snap;
}

SimSensorState SimCameraImpl::Sensor() const {
  std::lock_guard lock(mutex_);
  return sensor_.State(registers_, clockMhz_, sixteenBit_);
}

}  // namespace okc::sim
