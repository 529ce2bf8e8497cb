// The RENM sensor: everything the driver does to it outside the capture loop:
// opening, the initialisation writes, readout window, start position, gain,
// exposure rows and long-exposure mode, pixel clock, sample width and the
// black-level calibration.
#include "okccamera/CCameraRENM.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "core/ControllerRequests.h"
#include "core/ModelInfo.h"
#include "models/RenmCapture.h"
#include "models/Usb2SensorControls.h"
#include "okccamera/Clock.h"

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegRowStart = 0x01;
constexpr unsigned short kRegColumnStart = 0x02;
constexpr unsigned short kRegLastRow = 0x03;     // rows read less one
constexpr unsigned short kRegLastColumn = 0x04;  // columns read less one
constexpr unsigned short kRegExposureRows = 0x09;
constexpr unsigned short kRegRestart = 0x0B;
constexpr unsigned short kRegReadMode = 0x1E;
constexpr unsigned short kRegGain = 0x35;
constexpr unsigned short kRegBlackLevelOffset1 = 0x60;
constexpr unsigned short kRegBlackLevelOffset2 = 0x61;
constexpr unsigned short kRegBlackLevelCalibration = 0x62;
constexpr unsigned short kRegBlackLevelOffset3 = 0x63;
constexpr unsigned short kRegBlackLevelOffset4 = 0x64;

constexpr unsigned short kReadModeNormal = 0x8000;
constexpr unsigned short kCalibrationAutomatic = 0x1498;
constexpr unsigned short kCalibrationManual = 0x499;

// Register values of the array's first row and column.
constexpr int kRowStartOffset = 12;
constexpr int kColumnStartOffset = 20;
// The row time budget: 180 clocks of the exposure arithmetic round up.
constexpr uint64_t kExposureRoundingClocks = 180;

// The wait after leaving the host-timed exposure for a window change.
constexpr uint64_t kWindowChangeSettleMs = 500;
// The controller needs this after a change of sample width.
constexpr uint64_t kSampleWidthSettleMs = 200;
// 16-bit samples of a wider window than this need the slower clock.
constexpr int kWidest16BitWindowAt48Mhz = 480;

constexpr uint64_t kMinExposureUs = 32;
// Host-timed from these on: the shutter register holds fewer rows, and longer
// exposures always go through the host.
constexpr uint64_t kMaxShutterRows = 16384;
constexpr uint64_t kLongExposureAboveUs = 10000000;

// The gain table: 0 to 22 hold 10..32, 23 to 45 hold 81..103, 46 to 59 hold 602..615.
constexpr int kGainEntries = 60;
// With 16-bit samples the gain is spread over the first 50 entries only.
constexpr int kGainSteps16Bit = 50;

constexpr std::array<unsigned short, kGainEntries> BuildGainTable() {
  std::array<unsigned short, kGainEntries> table{};
  for (int i = 0; i <= 22; ++i) table[i] = static_cast<unsigned short>(10 + i);
  for (int i = 23; i <= 45; ++i) table[i] = static_cast<unsigned short>(81 + (i - 23));
  for (int i = 46; i < kGainEntries; ++i) table[i] = static_cast<unsigned short>(602 + (i - 46));
  return table;
}
constexpr std::array<unsigned short, kGainEntries> kGainTable = BuildGainTable();

// A signed offset as the sensor's 16-bit register holds it, and back (its low byte).
unsigned short OffsetRegisterValue(signed char offset) {
  return static_cast<unsigned short>(static_cast<int16_t>(offset));
}
signed char OffsetFromRegister(unsigned short value) { return static_cast<signed char>(value & 0xFF); }

}  // namespace

CCameraRENM::CCameraRENM(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::RENM).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::RENM).maxHeight),
      capture_(std::make_unique<okc::models::RenmCapture>(*this)) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::RENM);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraRENM::~CCameraRENM() { ShutDown(); }

uint64_t CCameraRENM::ExposureRows(uint64_t microseconds) const {
  // In 64 bits: the clocks of a long exposure do not fit 32.
  const uint64_t clocks = static_cast<uint64_t>(std::max(cmosClk, 0)) * microseconds + kExposureRoundingClocks;
  return std::max<uint64_t>(clocks / static_cast<uint64_t>(std::max(RowClocks(), 1)), 1);
}

uint64_t CCameraRENM::FrameTimeUs() const {
  const uint64_t rows = static_cast<uint64_t>(std::max(bin * height, 0)) + kFrameBlankingRows;
  return rows * static_cast<uint64_t>(std::max(RowClocks(), 0)) / static_cast<uint64_t>(std::max(cmosClk, 1));
}

bool CCameraRENM::OpenCamera(int ordinal) {
  std::lock_guard lock(SensorLock());
  if (opened) return true;
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}

bool CCameraRENM::InitCamera() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  if (capturing) StopCapture();
  SetMisc(flipRow, flipColumn);
  GetFirmwareVer(&fwVersion);
  // Older firmware sends 8-bit samples only.
  if (fwVersion < 2) output16Bits = false;
  WriteCameraRegister(0x29, 0);
  WriteCameraRegister(0x3F, 3);
  WriteCameraRegister(0x40, 6);
  WriteCameraRegister(0x4A, 0x60);
  WriteCameraRegister(0x4E, 0x0C);
  SetBLOffset(autoBL, blackLevelEE, blackLevelOO, blackLevelEO, blackLevelOE);
  SetGain(gain, autoGain);
  SetExp(exposure, autoExp);
  SetGamma(gamma);
  SetCMOSClk(cmosClk);
  return true;
}

// ---- readout window ----

bool CCameraRENM::SetResolution(int newWidth, int newHeight, int newBin, IMAGE_TYPE type) {
  std::lock_guard lock(SensorLock());
  if (!StoreCentredWindow(newWidth, newHeight, newBin, type)) return false;
  SetOutput16Bits(type == IMAGE_16BIT || type == IMAGE_16BIT_ALT);
  if (!longExposure) Cam_SetResolution();
  else SetWindowInLongExposure();
  return true;
}

bool CCameraRENM::SetWindowInLongExposure() {
  longExposure = false;
  SendCMD(controller::kEndLongExposure);
  okc::platform::SleepMs(kWindowChangeSettleMs);
  WriteCameraRegister(kRegRestart, 1);
  WriteCameraRegister(kRegReadMode, kReadModeNormal);
  const bool ok = Cam_SetResolution();
  longExposure = true;
  return ok;
}

bool CCameraRENM::Cam_SetResolution() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  WriteCameraRegister(kRegRowStart, static_cast<unsigned short>(startY + kRowStartOffset));
  WriteCameraRegister(kRegColumnStart, static_cast<unsigned short>(startX + kColumnStartOffset));
  WriteCameraRegister(kRegLastRow, static_cast<unsigned short>(bin * height - 1));
  WriteCameraRegister(kRegLastColumn, static_cast<unsigned short>(bin * width - 1));
  return WriteCameraRegister(kRegRestart, 1);
}

bool CCameraRENM::SetStartPos(int x, int y) {
  std::lock_guard lock(SensorLock());
  if (!StoreWindowStart(x, y)) return false;
  bool ok = WriteCameraRegister(kRegRowStart, static_cast<unsigned short>(startY + kRowStartOffset));
  ok = WriteCameraRegister(kRegColumnStart, static_cast<unsigned short>(startX + kColumnStartOffset)) && ok;
  return ok;
}

bool CCameraRENM::GetStartPos(int* x, int* y) {
  std::lock_guard lock(SensorLock());
  if (x) *x = startX;
  if (y) *y = startY;
  return true;
}

// ---- gain and black level ----

bool CCameraRENM::SetGain(int newGain, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoGain = automatic;
  newGain = std::clamp(newGain, 1, 100);
  const int steps = output16Bits ? kGainSteps16Bit : kGainEntries;
  // steps x gain / 100 to the nearest entry, halves up; 100 takes the last step.
  const int index = newGain == 100 ? steps - 1 : (steps * newGain + 50) / 100;
  const bool ok = WriteCameraRegister(kRegGain, kGainTable[static_cast<size_t>(index)]);
  if (autoBL) {
    // The sensor calibrates its black level for the new gain; the capture
    // worker freezes the result once it has settled.
    blackLevelTimerMs = 0;
    blackLevelFrozen = true;
    WriteCameraRegister(kRegBlackLevelCalibration, kCalibrationAutomatic);
  }
  gain = ok ? newGain : 1;
  return ok;
}

bool CCameraRENM::SetGain(int newGain) {
  std::lock_guard lock(SensorLock());
  return SetGain(newGain, autoGain);
}

bool CCameraRENM::SetBLOffset(bool automatic, signed char offset1, signed char offset2, signed char offset3,
                              signed char offset4) {
  std::lock_guard lock(SensorLock());
  autoBL = automatic;
  blackLevelFrozen = automatic;
  if (automatic) {
    // The freeze waits for this calibration to settle.
    blackLevelTimerMs = 0;
    return WriteCameraRegister(kRegBlackLevelCalibration, kCalibrationAutomatic);
  }
  const bool ok = WriteCameraRegister(kRegBlackLevelCalibration, kCalibrationManual);
  WriteCameraRegister(kRegBlackLevelOffset1, OffsetRegisterValue(offset1));
  WriteCameraRegister(kRegBlackLevelOffset2, OffsetRegisterValue(offset2));
  WriteCameraRegister(kRegBlackLevelOffset3, OffsetRegisterValue(offset3));
  WriteCameraRegister(kRegBlackLevelOffset4, OffsetRegisterValue(offset4));
  blackLevelEE = offset1;
  blackLevelOO = offset2;
  blackLevelEO = offset3;
  blackLevelOE = offset4;
  return ok;
}

bool CCameraRENM::GetBLOffset(bool* automatic, signed char* offset1, signed char* offset2, signed char* offset3,
                              signed char* offset4) {
  std::lock_guard lock(SensorLock());
  if (automatic) *automatic = autoBL;
  const std::array<std::pair<unsigned short, signed char*>, 4> reads = {{{kRegBlackLevelOffset1, offset1},
                                                                         {kRegBlackLevelOffset2, offset2},
                                                                         {kRegBlackLevelOffset3, offset3},
                                                                         {kRegBlackLevelOffset4, offset4}}};
  const std::array<signed char, 4> stored = {blackLevelEE, blackLevelOO, blackLevelEO, blackLevelOE};
  bool all = true;
  for (size_t i = 0; i < reads.size(); ++i) {
    unsigned short value = 0;
    const bool ok = ReadCameraRegister(reads[i].first, &value);
    all = all && ok;
    if (reads[i].second) *reads[i].second = ok ? OffsetFromRegister(value) : stored[i];
  }
  return all;
}

// ---- exposure ----

bool CCameraRENM::SetExp(unsigned long long microseconds, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoExp = automatic;
  const uint64_t maxUs = std::max<uint64_t>(static_cast<uint64_t>(std::max(exposureMax, 0)), kMinExposureUs);
  exposure = std::clamp<uint64_t>(microseconds, kMinExposureUs, maxUs);
  const uint64_t rows = ExposureRows(exposure);
  exposureLines = static_cast<uint32_t>(std::min<uint64_t>(rows, UINT32_MAX));
  if (rows < kMaxShutterRows && exposure <= kLongExposureAboveUs) {
    // In long-exposure mode the capture worker leaves the mode itself.
    if (longExposure) return true;
    return WriteCameraRegister(kRegExposureRows, static_cast<unsigned short>(rows));
  }
  if (longExposure) return true;
  // Too long for the shutter register: the host times it between two
  // commands, with the sensor at 24 MHz (the clock chosen stays in cmosClk).
  const bool ok = SendCMD(controller::kSensorClock24Mhz);
  longExposure = true;
  return ok;
}

bool CCameraRENM::SetExp(unsigned long long microseconds) {
  std::lock_guard lock(SensorLock());
  return SetExp(microseconds, autoExp);
}

// ---- clock and sample width ----

bool CCameraRENM::SetCMOSClk(int mhz) { return okc::models::SwitchSensorClock(*this, mhz); }

bool CCameraRENM::GetCMOSClk(int* mhz) { return okc::models::ReportSensorClock(*this, mhz); }

bool CCameraRENM::SetFPSPerc(int percent, bool) {
  std::lock_guard lock(SensorLock());
  if (percent != 1 && percent != 2) return false;
  // The host's choice: 8-bit samples later keep it.
  clockBefore16Bit_ = 0;
  return SetCMOSClk(percent == 1 ? 24 : 48);
}

bool CCameraRENM::GetFPSPerc(int* percent, bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (percent) *percent = cmosClk == 48 ? 2 : 1;
  if (automatic) *automatic = false;
  return true;
}

bool CCameraRENM::SetOutput16Bits(bool on) {
  std::lock_guard lock(SensorLock());
  output16Bits = on;
  if (!opened) return false;
  // The frame size changes: the capture run is rebuilt around the switch.
  const bool wasCapturing = capturing || capture_->Run().Starting();
  if (wasCapturing) StopCapture();
  bool ok;
  if (!on) {
    ok = SendCMD(controller::kSamples8Bit);
    const int clock = clockBefore16Bit_ != 0 ? clockBefore16Bit_ : cmosClk;
    clockBefore16Bit_ = 0;
    SetCMOSClk(clock);
    if (wasCapturing) okc::platform::SleepMs(kSampleWidthSettleMs);
  } else {
    if (bin * width > kWidest16BitWindowAt48Mhz) {
      if (clockBefore16Bit_ == 0) clockBefore16Bit_ = cmosClk;
      SetCMOSClk(24);
    }
    okc::platform::SleepMs(kSampleWidthSettleMs);
    ok = SendCMD(controller::kSamples16Bit);
  }
  if (wasCapturing) StartCapture();
  return ok;
}

// ---- no colour ----

void CCameraRENM::SetRGBBalance(int, int, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoWB = automatic;
}

void CCameraRENM::GetRGBBalance(int*, int*, bool*) {}  // the caller's values stay as they are

bool CCameraRENM::SetMisc(bool newFlipRow, bool newFlipColumn) {
  return okc::models::SetSoftwareFlips(*this, newFlipRow, newFlipColumn);
}

// ---- capture ----

bool CCameraRENM::StartCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Start();
}

bool CCameraRENM::StopCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Stop();
}

bool CCameraRENM::GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) {
  return capture_->Run().Deliver(buffer, size, timeoutMs);
}
