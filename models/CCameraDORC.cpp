// DORC: everything the driver does to the sensor outside the capture loop:
// opening (with the firmware renewal of version 0), initialisation, window and
// start position, per-channel gains, frame rate and line length, exposure and
// the clock that follows it, sample width.
#include "okccamera/CCameraDORC.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "core/ControllerRequests.h"
#include "core/FirmwareImage.h"
#include "core/ModelInfo.h"
#include "models/DorcCapture.h"
#include "models/DorcGain.h"
#include "okccamera/Clock.h"

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegRowStart = 0x3002;
constexpr unsigned short kRegColumnStart = 0x3004;
constexpr unsigned short kRegRowEnd = 0x3006;
constexpr unsigned short kRegColumnEnd = 0x3008;
constexpr unsigned short kRegFrameLength = 0x300A;
constexpr unsigned short kRegLineLength = 0x300C;
constexpr unsigned short kRegIntegrationRows = 0x3012;
constexpr unsigned short kRegBlackLevel = 0x301E;
constexpr unsigned short kRegReadMode = 0x3040;
constexpr unsigned short kRegGreen1Gain = 0x3056;
constexpr unsigned short kRegBlueGain = 0x3058;
constexpr unsigned short kRegRedGain = 0x305A;
constexpr unsigned short kRegGreen2Gain = 0x305C;
constexpr unsigned short kReadModeValue = 0x41;

// A frame has this many rows beyond the window; a line at least this many clocks beyond it.
constexpr int kFrameExtraRows = 29;
constexpr int kLineExtraClocks = 210;
constexpr int64_t kRowClockOffset = 29;
constexpr uint64_t kLongestRows = 4095;        // in the frame-rate path
constexpr uint64_t kShutterRowsMax = 65535;    // above: host-timed
constexpr uint16_t kLongLine = 4095;
constexpr uint16_t kLongExposureRows = 0x2FFF;

constexpr uint64_t kMinExposureUs = 64;
constexpr uint64_t kMaxExposureUs = 64000000;
constexpr uint64_t kLongLineFromUs = 600000;       // the 24 MHz long-line range starts here
constexpr uint64_t kShutterExposureMaxUs = 60000000;
constexpr int kFpsPercentMin = 50;
constexpr int kFpsPercentMax = 100;
constexpr int kFpsPercentAuto = 80;
constexpr float kBalanceScale = 0.02f;

constexpr uint64_t kLongExposureSettleMs = 100;
constexpr uint64_t kWindowChangeSettleMs = 500;
constexpr uint64_t kSixteenBitSettleMs = 200;

}  // namespace

CCameraDORC::CCameraDORC(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::DORC).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::DORC).maxHeight),
      capture_(std::make_unique<okc::models::DorcCapture>(*this)) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::DORC);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraDORC::~CCameraDORC() { ShutDown(); }

uint64_t CCameraDORC::ExposureRows(uint64_t microseconds) const {
  const int64_t clocks = static_cast<int64_t>(std::max(cmosClk, 0)) * static_cast<int64_t>(microseconds);
  const int64_t rows = (clocks - kRowClockOffset) / std::max<int64_t>(lineLength, 1);
  return static_cast<uint64_t>(std::max<int64_t>(rows, 1));
}

uint64_t CCameraDORC::FrameTimeUs() const {
  const int64_t clocks = static_cast<int64_t>(bin * height + kFrameExtraRows) * lineLength - kLineExtraClocks;
  return static_cast<uint64_t>(std::max<int64_t>(clocks, 0)) / static_cast<uint64_t>(std::max(cmosClk, 1));
}

// ---- opening and initialisation ----

bool CCameraDORC::OpenCamera(int ordinal) {
  std::lock_guard lock(SensorLock());
  if (opened) return true;
  if (!OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer)) return false;
  fwVersion = 0;
  GetFirmwareVer(&fwVersion);
  // A controller that reports version 0 runs without its firmware: it gets it
  // from the firmware folder, restarts and is opened again.
  return ReloadFirmwareIfOlder(ordinal, 1, okc::core::kDorcFirmwareFile);
}

bool CCameraDORC::InitCamera() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  cmosClk = 48;
  SendCMD(controller::kSensorClock48Mhz);
  SendCMD(controller::kSamples8Bit);
  if (!ApplyStartupTable()) return false;
  const int config = changeConfig();
  if (config != kCommandDone) {
    // Without its working configuration the sensor streams nothing useful.
    std::fprintf(stderr, "okccamera: the %s's sensor processor did not reach its working state (result %d)\n",
                 modelName, config);
    return false;
  }
  SetMisc(flipRow, flipColumn);
  SetGain(gain, autoGain);
  SetGamma(gamma);
  SetRGBBalance(wbRed, wbBlue, autoWB);
  SetBrightness(brightness);
  SetFPSPerc(fpsPercent, autoFps);
  WriteCameraRegister(kRegReadMode, kReadModeValue);
  return true;
}

// ---- readout window ----

bool CCameraDORC::SetResolution(int newWidth, int newHeight, int newBin, IMAGE_TYPE type) {
  std::lock_guard lock(SensorLock());
  // The controller moves a frame in whole 1024-pixel blocks.
  if (!opened || !StoreCentredWindow(newWidth, newHeight, newBin, type, 1024)) return false;
  SetOutput16Bits(type == IMAGE_16BIT || type == IMAGE_16BIT_ALT);
  if (!longExposure) return Cam_SetResolution();
  // The host times an exposure: end it, change the window, go on timing.
  longExposure = false;
  SendCMD(controller::kEndLongExposure);
  okc::platform::SleepMs(kWindowChangeSettleMs);
  const bool ok = Cam_SetResolution();
  longExposure = true;
  return ok;
}

bool CCameraDORC::Cam_SetResolution() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  if (capturing) SendCMD(controller::kStopStreaming);
  WriteCameraRegister(kRegRowStart, static_cast<unsigned short>(startY));
  WriteCameraRegister(kRegColumnStart, static_cast<unsigned short>(startX));
  WriteCameraRegister(kRegFrameLength, static_cast<unsigned short>(bin * height + kFrameExtraRows));
  WriteCameraRegister(kRegRowEnd, static_cast<unsigned short>(startY + bin * height - 1));
  WriteCameraRegister(kRegColumnEnd, static_cast<unsigned short>(startX + bin * width - 1));
  if (capturing) SendCMD(controller::kStartStreaming);
  SetFPSPerc(fpsPercent, autoFps);
  SetExp(exposure, autoExp);
  return true;
}

bool CCameraDORC::SetStartPos(int x, int y) {
  std::lock_guard lock(SensorLock());
  if (!StoreWindowStart(x, y)) return false;
  if (capturing) SendCMD(controller::kStopStreaming);
  WriteCameraRegister(kRegRowStart, static_cast<unsigned short>(startY));
  WriteCameraRegister(kRegColumnStart, static_cast<unsigned short>(startX));
  WriteCameraRegister(kRegRowEnd, static_cast<unsigned short>(bin * height + startY - 1));
  WriteCameraRegister(kRegColumnEnd, static_cast<unsigned short>(bin * width + startX - 1));
  if (capturing) SendCMD(controller::kStartStreaming);
  return true;
}

bool CCameraDORC::GetStartPos(int* x, int* y) {
  std::lock_guard lock(SensorLock());
  if (x) *x = startX;
  if (y) *y = startY;
  return true;
}

bool CCameraDORC::SetMisc(bool newFlipRow, bool newFlipColumn) {
  std::lock_guard lock(SensorLock());
  // Flips are done in software on each frame; the sensor is not told.
  flipRow = newFlipRow;
  flipColumn = newFlipColumn;
  return true;
}

// ---- gain and white balance, in the sensor ----

int CCameraDORC::GainValue2Reg(float multiplier) { return okc::models::DorcGainRegister(multiplier); }

bool CCameraDORC::SetGain(int newGain, bool automatic) {
  std::lock_guard lock(SensorLock());
  gain = std::clamp(newGain, 1, 100);
  autoGain = automatic;
  if (capturing) return true;  // the companion thread applies it
  return SetGain();
}

bool CCameraDORC::SetGain() {
  std::lock_guard lock(SensorLock());
  if (capturing && !longExposure && gain == lastAppliedGain_) return true;
  const float m = okc::models::DorcGainMultiplier(gain);
  const auto g = static_cast<unsigned short>(GainValue2Reg(m));
  WriteCameraRegister(kRegGreen1Gain, g);
  WriteCameraRegister(kRegGreen2Gain, g);
  const bool ok = WriteBalanceGains(m);
  lastAppliedGain_ = gain;
  return ok;
}

bool CCameraDORC::WriteBalanceGains(float m) {
  WriteCameraRegister(kRegRedGain, static_cast<unsigned short>(GainValue2Reg(static_cast<float>(wbRed) * kBalanceScale * m)));
  return WriteCameraRegister(kRegBlueGain,
                             static_cast<unsigned short>(GainValue2Reg(static_cast<float>(wbBlue) * kBalanceScale * m)));
}

void CCameraDORC::SetRGBBalance(int red, int blue, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoWB = automatic;
  SetRGBBalance(red, blue);
}

bool CCameraDORC::SetRGBBalance(int red, int blue) {
  std::lock_guard lock(SensorLock());
  wbRed = std::clamp(red, 1, 100);
  wbBlue = std::clamp(blue, 1, 100);
  return WriteBalanceGains(okc::models::DorcGainMultiplier(gain));
}

void CCameraDORC::GetRGBBalance(int* red, int* blue, bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (red) *red = wbRed;
  if (blue) *blue = wbBlue;
  if (automatic) *automatic = autoWB;
}

bool CCameraDORC::SetBrightness(int value) {
  std::lock_guard lock(SensorLock());
  brightness = value;
  return WriteCameraRegister(kRegBlackLevel, static_cast<unsigned short>(value * 16));
}

bool CCameraDORC::SetBLOffset(int) { return true; }
bool CCameraDORC::GetBLOffset(int*) { return true; }

// ---- frame rate, line length and exposure ----

bool CCameraDORC::SetFPSPerc(int percent, bool automatic) {
  std::lock_guard lock(SensorLock());
  if (exposure > kLongLineFromUs) return false;
  const int clamped = std::clamp(percent, kFpsPercentMin, kFpsPercentMax);
  fpsPercent = automatic && !autoFps ? kFpsPercentAuto : clamped;
  autoFps = false;
  // Pixel clocks a frame's samples take on the bus, spread over the rows at the percentage asked.
  const double pixels = static_cast<double>(bin * bin) * width * height;
  const double busClocks = (1 + (output16Bits ? 1 : 0)) * static_cast<double>(cmosClk) * pixels;
  const double perRow = (busClocks * 100 / 35.5 / fpsPercent + kLineExtraClocks) / (bin * height + kFrameExtraRows);
  const int64_t fromRate = static_cast<int64_t>(perRow);
  lineLength = static_cast<uint16_t>(std::max<int64_t>(fromRate, bin * width + kLineExtraClocks));
  WriteCameraRegister(kRegLineLength, static_cast<unsigned short>(lineLength >> 1));
  const uint64_t rows = std::min(ExposureRows(exposure), kLongestRows);
  exposureLines = static_cast<uint32_t>(rows);
  WriteCameraRegister(kRegIntegrationRows, static_cast<unsigned short>(rows));
  return true;
}

bool CCameraDORC::GetFPSPerc(int* percent, bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (percent) *percent = fpsPercent;
  if (automatic) *automatic = autoFps;
  return true;
}

bool CCameraDORC::SetExp(unsigned long long microseconds, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoExp = automatic;
  exposure = microseconds >> 32 ? kMaxExposureUs : std::clamp<uint64_t>(microseconds, kMinExposureUs, kMaxExposureUs);
  if (capturing) return true;  // the companion thread applies it
  return SetExp();
}

bool CCameraDORC::SetExp() {
  std::lock_guard lock(SensorLock());
  if (!lineLengthSaved_) {
    savedLineLength_ = lineLength;
    lineLengthSaved_ = true;
  }
  const uint64_t us = exposure;
  if (capturing && us == lastAppliedExposure_) return true;
  if (longExposure) return true;  // the capture worker ends host-timed exposures

  if (us >= kLongLineFromUs) {
    if (lineLength != kLongLine) {
      SendCMD(controller::kSensorClock24Mhz);
      cmosClk = 24;
      savedLineLength_ = lineLength;
      lineLength = kLongLine;
      WriteCameraRegister(kRegLineLength, kLongLine);
    }
  } else if (lineLength == kLongLine) {
    SendCMD(controller::kSensorClock48Mhz);
    cmosClk = 48;
    SetFPSPerc(fpsPercent, autoFps);
    lineLength = savedLineLength_;
    WriteCameraRegister(kRegLineLength, lineLength);
  }

  const uint64_t rows = ExposureRows(us);
  exposureLines = static_cast<uint32_t>(std::min<uint64_t>(rows, UINT32_MAX));
  bool ok = true;
  if (rows <= kShutterRowsMax && us <= kShutterExposureMaxUs) {
    ok = WriteCameraRegister(kRegIntegrationRows, static_cast<unsigned short>(rows));
  } else {
    // Too long for the shutter: the capture worker times it between 0xAE and 0xAF.
    ok = WriteCameraRegister(kRegIntegrationRows, kLongExposureRows);
    longExposure = true;
    okc::platform::SleepMs(kLongExposureSettleMs);
  }
  lastAppliedExposure_ = us;
  return ok;
}

// ---- clock and sample width ----

bool CCameraDORC::SetCMOSClk(int mhz) {
  std::lock_guard lock(SensorLock());
  if (mhz == 48) SendCMD(controller::kSensorClock48Mhz);
  if (mhz == 24) SendCMD(controller::kSensorClock24Mhz);
  cmosClk = mhz;
  return true;
}

bool CCameraDORC::SetOutput16Bits(bool on) {
  std::lock_guard lock(SensorLock());
  output16Bits = on;
  if (!opened) return false;
  if (!capturing && !capture_->Run().Starting()) {
    if (on) okc::platform::SleepMs(kSixteenBitSettleMs);
    return SendCMD(on ? controller::kSamples16Bit : controller::kSamples8Bit);
  }
  // The frame size changes: the capture run is rebuilt around the switch.
  StopCapture();
  const bool ok = SendCMD(on ? controller::kSamples16Bit : controller::kSamples8Bit);
  StartCapture();
  return ok;
}

// ---- capture ----

bool CCameraDORC::StartCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Start();
}

bool CCameraDORC::StopCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Stop();
}

bool CCameraDORC::GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) {
  return capture_->Run().Deliver(buffer, size, timeoutMs);
}
