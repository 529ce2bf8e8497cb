// The PIMC family's sensor: everything the driver does to it outside the
// capture loop: opening, the initialisation writes, readout window, start
// position, gain and its two stages, exposure rows and long-exposure mode,
// pixel clock, sample width and the software white balance.
#include "okccamera/CCameraPimcFamily.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "core/ControllerRequests.h"
#include "core/ModelInfo.h"
#include "imaging/ColourTables.h"
#include "models/PimcCapture.h"
#include "models/Usb2SensorControls.h"
#include "okccamera/Clock.h"

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegColumnStart = 0x01;
constexpr unsigned short kRegRowStart = 0x02;
constexpr unsigned short kRegWindowHeight = 0x03;
constexpr unsigned short kRegWindowWidth = 0x04;
constexpr unsigned short kRegHorizontalBlanking = 0x05;
constexpr unsigned short kRegChipControl = 0x07;
constexpr unsigned short kRegExposureRows = 0x0B;
constexpr unsigned short kRegRestart = 0x0C;
constexpr unsigned short kRegReadMode = 0x0D;
constexpr unsigned short kRegReference = 0x2C;
constexpr unsigned short kRegAnalogGain = 0x35;
constexpr unsigned short kRegPixelOperation = 0x70;
constexpr unsigned short kRegDigitalGain = 0x80;
constexpr unsigned short kRegBlackLevelControl = 0x9A;
constexpr unsigned short kRegRowNoise = 0xA0;
constexpr unsigned short kRegAutoControl = 0xAF;

constexpr unsigned short kChipControlValue = 0x188;
// The sensor's rows start 4 below the register's origin, its columns 1.
constexpr int kRowStartOffset = 4;
// Row time budget: a row lasts at least this many clocks.
constexpr int kRowClocks = 660;
// The wait after leaving the host-timed exposure for a window change.
constexpr uint64_t kWindowChangeSettleMs = 500;

constexpr uint64_t kMinExposureUs = 32;
// Host-timed from these on: the shutter register holds fewer rows, and longer
// exposures always go through the host.
constexpr uint64_t kMaxShutterRows = 32768;
constexpr uint64_t kLongExposureAboveUs = 10000000;

// The gain table: entries 0 to 47 are analog (register 0x35), 48 to 59 digital (0x80).
constexpr int kGainSteps = 60;
constexpr int kFirstDigitalIndex = 48;
constexpr unsigned short kTopAnalogGain = 0x6F;  // the analog stage under the digital one
constexpr unsigned short kUnityDigitalGain = 0x4F4;

constexpr std::array<unsigned short, kGainSteps> BuildGainTable() {
  std::array<unsigned short, kGainSteps> table{};
  for (int i = 0; i < 16; ++i) table[i] = static_cast<unsigned short>(16 + i);
  for (int i = 16; i < 40; ++i) table[i] = static_cast<unsigned short>(32 + 2 * (i - 16));
  for (int i = 40; i < 48; ++i) table[i] = static_cast<unsigned short>(104 + (i - 40));
  for (int i = 48; i < 60; ++i) table[i] = static_cast<unsigned short>(1268 + (i - 48));
  return table;
}
constexpr std::array<unsigned short, kGainSteps> kGainTable = BuildGainTable();

// Horizontal blanking of the sensors: what fills the row to 660 clocks, at least this.
int MinHorizontalBlanking(okc::core::ModelId model) { return model == okc::core::ModelId::PIMC ? 94 : 61; }

}  // namespace

CCameraPimcFamily::CCameraPimcFamily(okc::core::ModelId model, void* windowHandle)
    : CCameraBase(okc::core::InfoOf(model).maxWidth, okc::core::InfoOf(model).maxHeight),
      capture_(std::make_unique<okc::models::PimcCapture>(*this, model)) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(model);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
  // The camera is still closed: this only builds the balance tables from the stored balance.
  if (isColor) SetRGBBalance(wbRed, wbBlue);
}

CCameraPimcFamily::~CCameraPimcFamily() { ShutDown(); }

int CCameraPimcFamily::HorizontalBlanking() const {
  return std::max(kRowClocks - bin * width, MinHorizontalBlanking(modelInfo_->id));
}

uint64_t CCameraPimcFamily::ExposureRows(uint64_t microseconds) const {
  const uint64_t clocks = static_cast<uint64_t>(std::max(cmosClk, 0)) * microseconds;
  const uint64_t rows = (clocks > 4 ? clocks - 4 : 0) / static_cast<uint64_t>(std::max(RowClocks(), 1));
  return std::max<uint64_t>(rows, 1);
}

bool CCameraPimcFamily::OpenCamera(int ordinal) {
  std::lock_guard lock(SensorLock());
  if (opened) return true;
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}

bool CCameraPimcFamily::InitCamera() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  const bool pimc = modelInfo_->id == okc::core::ModelId::PIMC;
  WriteCameraRegister(kRegAutoControl, 0);
  WriteCameraRegister(kRegBlackLevelControl, 0x2F0);
  WriteCameraRegister(kRegRowNoise, 0x1E0);
  WriteCameraRegister(kRegReference, 0);
  WriteCameraRegister(kRegReadMode, 0x320);
  if (pimc) WriteCameraRegister(kRegPixelOperation, 0);
  if (capturing) StopCapture();
  SetMisc(flipRow, flipColumn);
  GetFirmwareVer(&fwVersion);
  SetGain(gain, autoGain);
  SetExp(exposure, autoExp);
  SetGamma(gamma);
  // The SEL cameras keep their 30 MHz, which no command selects: this then does nothing.
  SetCMOSClk(cmosClk);
  if (pimc) SetRGBBalance(wbRed, wbBlue, autoWB);
  return true;
}

// ---- readout window ----

bool CCameraPimcFamily::SetResolution(int newWidth, int newHeight, int newBin, IMAGE_TYPE type) {
  std::lock_guard lock(SensorLock());
  if (!opened || !StoreCentredWindow(newWidth, newHeight, newBin, type)) return false;
  SetOutput16Bits(type == IMAGE_16BIT || type == IMAGE_16BIT_ALT);
  if (!longExposure) Cam_SetResolution();
  else SetWindowInLongExposure();
  return true;
}

bool CCameraPimcFamily::SetWindowInLongExposure() {
  longExposure = false;
  SendCMD(controller::kEndLongExposure);
  okc::platform::SleepMs(kWindowChangeSettleMs);
  WriteCameraRegister(kRegRestart, 1);
  WriteCameraRegister(kRegChipControl, kChipControlValue);
  const bool ok = Cam_SetResolution();
  longExposure = true;
  return ok;
}

bool CCameraPimcFamily::Cam_SetResolution() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  WriteCameraRegister(kRegRowStart, static_cast<unsigned short>(startY + kRowStartOffset));
  // The sensor counts its columns from the far side of the image.
  WriteCameraRegister(kRegColumnStart, static_cast<unsigned short>(maxWidth + 1 - startX - bin * width));
  WriteCameraRegister(kRegWindowHeight, static_cast<unsigned short>(bin * height));
  WriteCameraRegister(kRegWindowWidth, static_cast<unsigned short>(bin * width));
  WriteCameraRegister(kRegHorizontalBlanking, static_cast<unsigned short>(HorizontalBlanking()));
  return WriteCameraRegister(kRegRestart, 1);
}

bool CCameraPimcFamily::SetStartPos(int x, int y) {
  std::lock_guard lock(SensorLock());
  if (!StoreWindowStart(x, y)) return false;
  bool ok = WriteCameraRegister(kRegRowStart, static_cast<unsigned short>(startY + kRowStartOffset));
  ok = WriteCameraRegister(kRegColumnStart, static_cast<unsigned short>(maxWidth + 1 - startX - bin * width)) && ok;
  return ok;
}

bool CCameraPimcFamily::GetStartPos(int* x, int* y) {
  std::lock_guard lock(SensorLock());
  if (x) *x = startX;
  if (y) *y = startY;
  return true;
}

// ---- gain ----

bool CCameraPimcFamily::SetGain(int newGain, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoGain = automatic;
  gain = std::clamp(newGain, 1, 100);
  // gain x 60 / 100 to the nearest step, halves up, counted from 0.
  const int index = (gain * kGainSteps + 50) / 100 - 1;
  bool ok = true;
  if (index >= kFirstDigitalIndex && lastGainIndex_ < kFirstDigitalIndex) {
    ok = WriteCameraRegister(kRegAnalogGain, kTopAnalogGain);
  } else if (index < kFirstDigitalIndex && lastGainIndex_ > kFirstDigitalIndex) {
    ok = WriteCameraRegister(kRegDigitalGain, kUnityDigitalGain);
  }
  const unsigned short reg = index < kFirstDigitalIndex ? kRegAnalogGain : kRegDigitalGain;
  ok = WriteCameraRegister(reg, kGainTable[static_cast<size_t>(index)]) && ok;
  lastGainIndex_ = index;
  return ok;
}

bool CCameraPimcFamily::SetGain(int newGain) {
  std::lock_guard lock(SensorLock());
  return SetGain(newGain, autoGain);
}

// ---- exposure ----

bool CCameraPimcFamily::SetExp(unsigned long long microseconds, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoExp = automatic;
  const uint64_t maxUs = static_cast<uint64_t>(std::max(exposureMax, 0));
  exposure = std::clamp<uint64_t>(microseconds, kMinExposureUs, std::max<uint64_t>(maxUs, kMinExposureUs));
  const uint64_t rows = ExposureRows(exposure);
  exposureLines = static_cast<uint32_t>(std::min<uint64_t>(rows, UINT32_MAX));
  if (rows < kMaxShutterRows && exposure <= kLongExposureAboveUs) {
    // In long-exposure mode the capture worker leaves the mode itself.
    if (longExposure) return true;
    return WriteCameraRegister(kRegExposureRows, static_cast<unsigned short>(rows));
  }
  // Too long for the shutter register: the host times it between two commands.
  longExposure = true;
  return true;
}

bool CCameraPimcFamily::SetExp(unsigned long long microseconds) {
  std::lock_guard lock(SensorLock());
  return SetExp(microseconds, autoExp);
}

// ---- clock and sample width ----

bool CCameraPimcFamily::SetCMOSClk(int mhz) { return okc::models::SwitchSensorClock(*this, mhz); }

bool CCameraPimcFamily::GetCMOSClk(int* mhz) { return okc::models::ReportSensorClock(*this, mhz); }

bool CCameraPimcFamily::SetOutput16Bits(bool on) {
  std::lock_guard lock(SensorLock());
  output16Bits = on;
  if (!opened) return false;
  if (!capturing && !capture_->Run().Starting()) return SendCMD(on ? controller::kSamples16Bit : controller::kSamples8Bit);
  // The frame size changes: the capture run is rebuilt around the switch.
  StopCapture();
  const bool ok = SendCMD(on ? controller::kSamples16Bit : controller::kSamples8Bit);
  StartCapture();
  return ok;
}

bool CCameraPimcFamily::SetBLOffset(int) { return true; }
bool CCameraPimcFamily::GetBLOffset(int*) { return true; }

// ---- white balance, in software ----

void CCameraPimcFamily::SetRGBBalance(int red, int blue, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoWB = automatic;
  SetRGBBalance(red, blue);
}

bool CCameraPimcFamily::SetRGBBalance(int red, int blue) {
  std::lock_guard lock(SensorLock());
  if (!isColor) return false;
  wbRed = std::clamp(red, 1, 100);
  wbBlue = std::clamp(blue, 1, 100);
  okc::imaging::BuildBalanceTables(*colourTables, wbRed, wbBlue);
  return true;
}

void CCameraPimcFamily::GetRGBBalance(int* red, int* blue, bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (!isColor) return;  // the caller's values stay as they are
  if (red) *red = wbRed;
  if (blue) *blue = wbBlue;
  if (automatic) *automatic = autoWB;
}

bool CCameraPimcFamily::SetMisc(bool newFlipRow, bool newFlipColumn) {
  return okc::models::SetSoftwareFlips(*this, newFlipRow, newFlipColumn);
}

// ---- capture ----

bool CCameraPimcFamily::StartCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Start();
}

bool CCameraPimcFamily::StopCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Stop();
}

bool CCameraPimcFamily::GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) {
  return capture_->Run().Deliver(buffer, size, timeoutMs);
}
