// The DORC sensor: a 728 x 512 array of 12-bit pixels under a G R / B G
// mosaic, window by first and last row and column, line and frame length
// registers, integration in rows, a gain register per place of the 2 x 2 cell
// in the sensor's floating-point gain encoding, and a processor of its own
// that runs host commands.
//
// The processor: the host writes a command word (bit 15 set) into 0x0040; the
// word stays there, busy bit set, for a few reads of the register, then the
// register holds the result (0 done, 9 busy). "Set state" (0x8100) takes the
// state from the high byte of 0xFC00, "get state" (0x8101) answers there. The
// change to the configuration state 0x28 takes a few state queries (answered
// "busy") and ends in the streaming state 0x31. Faults make it stay busy,
// answer "busy" to every query, or end a state change elsewhere.
#include <memory>

#include "sim/SensorDescription.h"

namespace okc::sim {
namespace {

constexpr uint16_t kRegCommand = 0x0040;
constexpr uint16_t kRegParameter = 0xFC00;
constexpr uint16_t kRegFirstRow = 0x3002;
constexpr uint16_t kRegFirstColumn = 0x3004;
constexpr uint16_t kRegLastRow = 0x3006;
constexpr uint16_t kRegLastColumn = 0x3008;
constexpr uint16_t kRegFrameLength = 0x300A;
constexpr uint16_t kRegLineLength = 0x300C;
constexpr uint16_t kRegIntegration = 0x3012;
constexpr uint16_t kRegBlackLevel = 0x301E;
constexpr uint16_t kRegGreen1Gain = 0x3056;
constexpr uint16_t kRegBlueGain = 0x3058;
constexpr uint16_t kRegRedGain = 0x305A;
constexpr uint16_t kRegGreen2Gain = 0x305C;
// Gain 1.0 (31.5 / 31.5 in the lowest stages).
constexpr uint16_t kUnityGain = 0x1020;

constexpr uint16_t kBusy = 0x8000;
constexpr uint16_t kSetState = 0x8100;
constexpr uint16_t kGetState = 0x8101;
constexpr uint16_t kResultDone = 0;
constexpr uint16_t kResultBusy = 9;
// Reads of the command register that still show a command running.
constexpr int kBusyReads = 2;
// State queries answered "busy" while the configuration changes.
constexpr int kBusyStateQueries = 2;
constexpr uint8_t kStateIdle = 0x40;
constexpr uint8_t kStateChangeConfig = 0x28;
constexpr uint8_t kStateStreaming = 0x31;

// The multiplier of a gain register: mantissa / 31.5, times the digital stage
// (bits 6 and 7: x1 .. x8) and the analog stage (bits 12 to 15 as a factor).
double GainOf(uint16_t reg) {
  const double mantissa = (reg & 0x3F) / 31.5;
  const double digital = 1 << ((reg >> 6) & 3);
  const double analog = (reg >> 12) & 0xF;
  return mantissa * digital * analog;
}

class DorcHooks : public SensorHooks {
 public:
  void OnRegisterWrite(uint16_t address, uint16_t value, RegisterFile&) override {
    if (address != kRegCommand || !(value & kBusy)) return;
    command_ = value;
    busyReadsLeft_ = kBusyReads;
    running_ = true;
  }

  uint16_t OnRegisterRead(uint16_t address, RegisterFile& r) override {
    if (address != kRegCommand || !running_) return r[address];
    if (fault_ == SensorProcessorFault::StaysBusy || busyReadsLeft_-- > 0) return command_;
    running_ = false;
    r[kRegCommand] = Execute(r);
    return r[kRegCommand];
  }

  void SetProcessorFault(SensorProcessorFault fault) override { fault_ = fault; }

  // The line counter runs at half the controller's clock: it counts pairs of columns.
  double PixelClockMhz(uint32_t inputClockMhz, const RegisterFile&) const override { return inputClockMhz / 2.0; }

  void ApplyGains(const RegisterFile& r, SimSensorState& s) const override {
    s.greenGain1 = r[kRegGreen1Gain];
    s.greenGain2 = r[kRegGreen2Gain];
    s.redGain = r[kRegRedGain];
    s.blueGain = r[kRegBlueGain];
    s.analogGain = (s.greenGain1 >> 12) & 0xF;
    // Even rows G R, odd rows B G; the green next to red is green 1.
    s.cellGain[0][0] = GainOf(s.greenGain1);
    s.cellGain[0][1] = GainOf(s.redGain);
    s.cellGain[1][0] = GainOf(s.blueGain);
    s.cellGain[1][1] = GainOf(s.greenGain2);
  }

 private:
  uint16_t Execute(RegisterFile& r) {
    if (command_ == kSetState) {
      const auto requested = static_cast<uint8_t>(r[kRegParameter] >> 8);
      if (requested == kStateChangeConfig) {
        state_ = kStateChangeConfig;
        changeQueriesLeft_ = kBusyStateQueries;
      } else {
        state_ = requested;
      }
      return kResultDone;
    }
    if (command_ == kGetState) {
      if (fault_ == SensorProcessorFault::BusyAnswers) return kResultBusy;
      if (changeQueriesLeft_ > 0) {
        if (--changeQueriesLeft_ == 0)
          state_ = fault_ == SensorProcessorFault::WrongState ? kStateIdle : kStateStreaming;
        return kResultBusy;
      }
      r[kRegParameter] = static_cast<uint16_t>(state_ << 8);
      return kResultDone;
    }
    return kResultDone;  // the other commands of the start-up take no time worth modelling
  }

  SensorProcessorFault fault_ = SensorProcessorFault::None;
  uint16_t command_ = 0;
  bool running_ = false;
  int busyReadsLeft_ = 0;
  int changeQueriesLeft_ = 0;
  uint8_t state_ = kStateIdle;
};

SensorDescription Describe() {
  SensorDescription d;
  d.name = "DORC";
  d.array = {728, 512, Mosaic::GRBG};
  d.sampleBits = 12;
  d.wideSamples = SamplePacking::High8ThenLow4;
  d.window = {.firstColumn = kRegFirstColumn, .firstRow = kRegFirstRow, .columnOffset = 0, .rowOffset = 0,
              .extentIsLast = true, .columnExtent = kRegLastColumn, .rowExtent = kRegLastRow,
              .columnsReversed = false};
  d.timing = {.lineLength = kRegLineLength, .frameLength = kRegFrameLength, .integration = kRegIntegration};
  d.blackLevelRegister = kRegBlackLevel;
  d.powerOnClockMhz = 48;
  d.powerOnRegisters = {{kRegGreen1Gain, kUnityGain}, {kRegGreen2Gain, kUnityGain},
                        {kRegRedGain, kUnityGain},    {kRegBlueGain, kUnityGain}};
  d.makeHooks = +[]() -> std::unique_ptr<SensorHooks> { return std::make_unique<DorcHooks>(); };
  return d;
}

}  // namespace

const SensorDescription& DorcSensor() {
  static const SensorDescription d = Describe();
  return d;
}

}  // namespace okc::sim
