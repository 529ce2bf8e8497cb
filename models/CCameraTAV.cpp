// The TAV family's sensor: everything the driver does to it outside the capture loop: opening,
// the initialisation table, readout window, pixel clock, exposure, gain, white
// balance, black level, output pacing, sample width and temperature.
#include "okccamera/CCameraTAV.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "core/ControllerRequests.h"
#include "core/FirmwareImage.h"
#include "core/ModelInfo.h"
#include "models/TavCapture.h"
#include "models/TavcClock.h"
#include "models/TavcRegisterTable.h"
#include "models/TavcSensorMath.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/Clock.h"

using okc::models::TavcGain;

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegResetControl = 0x301A;
constexpr unsigned short kRegFirstRow = 0x3002;
constexpr unsigned short kRegFirstColumn = 0x3004;
constexpr unsigned short kRegLastRow = 0x3006;
constexpr unsigned short kRegLastColumn = 0x3008;
constexpr unsigned short kRegFrameLength = 0x300A;
constexpr unsigned short kRegLineLength = 0x300C;
constexpr unsigned short kRegIntegration = 0x3012;
constexpr unsigned short kRegBlackLevel = 0x301E;
constexpr unsigned short kRegSysDivider = 0x302C;
constexpr unsigned short kRegPixDivider = 0x302A;
constexpr unsigned short kRegPreDivider = 0x302E;
constexpr unsigned short kRegMultiplier = 0x3030;
constexpr unsigned short kRegWindowGuard = 0x3032;
constexpr unsigned short kRegGreen1Gain = 0x3056;
constexpr unsigned short kRegBlueGain = 0x3058;
constexpr unsigned short kRegRedGain = 0x305A;
constexpr unsigned short kRegGreen2Gain = 0x305C;
constexpr unsigned short kRegDataPath = 0x306E;
constexpr unsigned short kRegCoarseGain = 0x30B0;
constexpr unsigned short kRegTemperature = 0x30B2;
constexpr unsigned short kRegTempCal70 = 0x30C6;
constexpr unsigned short kRegTempCal55 = 0x30C8;

// 0x301A values: streaming stopped with the registers unlocked for a PLL change, and running.
constexpr unsigned short kPllChangeMode = 0x10DA;
constexpr unsigned short kRunningMode = 0x10DC;

constexpr uint64_t kMinExposureUs = 64;
constexpr uint64_t kMaxExposureUs = 999000000;
// From this exposure on the line is stretched to its longest so fewer lines are needed.
constexpr uint64_t kLongLineExposureUs = 600000;
// Beyond this the host times the exposure (long-exposure mode).
constexpr uint64_t kLongExposureThresholdUs = 60000000;
constexpr uint32_t kMaxIntegrationLines = 65535;
// Integration written while the host times the exposure, and the most the bandwidth control writes.
constexpr uint16_t kLongExposureLines = 0x0FFF;
// Where automatic pacing starts when it is switched on (USB 3 models: by host link).
constexpr int kAutoFpsStartPercent = 80;
constexpr int kUsb3AutoFpsStartPercent = 100;
constexpr int kUsb3OnUsb2AutoFpsStartPercent = 86;
// Frame blanking lines and link bytes per microsecond of the USB 2 models.
constexpr int kUsb2Blanking = 26;
constexpr int kUsb2BytesPerUs = 42;
// The USB 3 models' one sensor clock, and its PLL setting.
constexpr int kUsb3ClockMhz = 100;
const okc::models::TavcPllSetting kUsb3Pll = {kUsb3ClockMhz, 2, 4, 2, 66};
// The initialisation table row the USB 3 models leave out.
constexpr uint16_t kRowLeftOutOnUsb3 = 0x31E0;
// The USB 3 models' frame blanking V and bandwidth base B by host link and depth.
constexpr int kUsb3HostBlanking = 29;
constexpr int kUsb2HostBlanking = 39;
constexpr int kUsb3Host16BitBytesPerUs = 182;
constexpr int kUsb3Host8BitBytesPerUs = 91;
constexpr int kUsb2HostBytesPerUs = 43;
// The mono sensors' one digital gain register.
constexpr unsigned short kRegMonoGain = 0x305E;

// `wholeKiB`: the controller only sends frames of whole kibibytes (the USB 2 models).
bool ValidWindow(int width, int height, int bin, int type, int maxWidth, int maxHeight, bool bin2, bool wholeKiB) {
  if (bin != 1 && !(bin == 2 && bin2)) return false;
  if (width <= 0 || height <= 0) return false;
  if (static_cast<int64_t>(width) * bin > maxWidth || static_cast<int64_t>(height) * bin > maxHeight) return false;
  if (type < IMAGE_8BIT || type > IMAGE_16BIT) return false;
  return !wholeKiB || static_cast<int64_t>(width) * height * bin * bin % 1024 == 0;
}

// Keeps a start coordinate on an even pixel (the colour filter's phase) and the window on the sensor.
int32_t PlaceStart(int requested, int64_t span, int sensorSize) {
  const int64_t even = requested < 0 ? 0 : (requested & ~1);
  return static_cast<int32_t>(even + span <= sensorSize ? even : sensorSize - span);
}

}  // namespace

CCameraTAV::CCameraTAV(okc::core::ModelId model, uint16_t dataPathValue, bool usb3, void* windowHandle)
    : CCameraBase(okc::core::InfoOf(model).maxWidth, okc::core::InfoOf(model).maxHeight),
      dataPathValue_(dataPathValue),
      usb3_(usb3),
      capture_(std::make_unique<okc::models::TavCapture>(*this, okc::core::InfoOf(model).isColor, usb3)) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(model);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
  // The camera is still closed: this only brings the stored balance into range.
  if (isColor) SetRGBBalance(wbRed, wbBlue);
}

int CCameraTAV::FrameBlanking() const { return usb3_ ? blankingV_ : kUsb2Blanking; }
int CCameraTAV::BandwidthBase() const { return usb3_ ? bandwidthB_ : kUsb2BytesPerUs; }

CCameraTAV::~CCameraTAV() { ShutDown(); }

bool CCameraTAV::OpenCamera(int ordinal) {
  std::lock_guard lock(SensorLock());
  if (opened) return true;
  if (!OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer)) return false;
  // Calibration words belong to the sensor: a newly opened camera has its own.
  // The USB 3 models' first word is fixed.
  calibration70_ = usb3_ ? 1 : 0;
  calibration55_ = 0;
  if (usb3_) return LoadBootImageIfBootLoader(ordinal, okc::core::kUsb3BootFile);
  fwVersion = 0;
  GetFirmwareVer(&fwVersion);
  // Controllers below firmware version 3 get their firmware renewed first.
  return ReloadFirmwareIfOlder(ordinal, 3, isColor ? okc::core::kTavcFirmwareFile : okc::core::kTavmFirmwareFile);
}

bool CCameraTAV::ReplayInitTable() {
  // The table resets integration and gain, so nothing the sensor held is known any more.
  exposureWritten_ = 0;
  gainWritten_ = 0;
  for (const okc::models::TavcRegisterWrite& row : okc::models::TavcInitTable()) {
    if (usb3_ && row.address == kRowLeftOutOnUsb3) continue;
    if (row.address == okc::models::kTavcSleepRow) {
      okc::platform::SleepMs(row.value);
    } else if (!WriteCameraRegister(row.address, row.value)) {
      return false;
    }
  }
  return true;
}

bool CCameraTAV::InitCamera() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  bool ok = true;
  if (usb3_) {
    // The camera keeps its hot-pixel map in its flash.
    hpcEnabled = true;
    hpcEnabled = LoadHPCTable();
    usb3Host = IsUSB3Host();
    if (usb3Host) fpsPercent = fpsPercentUsb3;
    GetFirmwareVer(&fwVersion);
  } else {
    ok = SendCMD(controller::kSensorClock48Mhz);
  }
  cmosClk = 48;
  ok = SendCMD(controller::kSamples8Bit) && ok;
  ok = SendCMD(controller::kStopStreaming) && ok;
  if (!ok || !ReplayInitTable()) return false;
  SetMisc(flipRow, flipColumn);
  GetSensorTemp();  // fetches the calibration words
  SetGain(gain, autoGain);
  SetGamma(gamma);
  SetRGBBalance(wbRed, wbBlue, autoWB);
  SetBrightness(brightness);
  SetFPSPerc(fpsPercent, autoFps);
  // Window, clock and exposure follow with the first SetResolution.
  return true;
}

// ---- readout window ----

bool CCameraTAV::WriteWindow(bool withFrameLength) {
  const int rows = bin * height;
  const int columns = bin * width;
  bool ok = WriteCameraRegister(kRegFirstRow, static_cast<unsigned short>(startY + 2));
  ok = WriteCameraRegister(kRegFirstColumn, static_cast<unsigned short>(startX)) && ok;
  if (withFrameLength)
    ok = WriteCameraRegister(kRegFrameLength, static_cast<unsigned short>(rows + FrameBlanking())) && ok;
  ok = WriteCameraRegister(kRegLastRow, static_cast<unsigned short>(rows + startY + 1)) && ok;
  ok = WriteCameraRegister(kRegLastColumn, static_cast<unsigned short>(columns + startX - 1)) && ok;
  return ok;
}

bool CCameraTAV::SetResolution(int newWidth, int newHeight, int newBin, IMAGE_TYPE type) {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  if (!ValidWindow(newWidth, newHeight, newBin, type, maxWidth, maxHeight, bin2Supported, !usb3_)) return false;
  bin = newBin;
  height = newHeight;
  width = newWidth;
  imageType = type;
  // A new size starts centred; an earlier start position does not carry over.
  startX = (maxWidth - width * bin) / 2;
  startY = (maxHeight - height * bin) / 2;
  if (useDark) AdjustDarkBuff(darkFull.get(), darkWorking.get());
  if (hpcEnabled) AdjustHPCTable(hotPixelMapFull.get(), hotPixelMapRegion.get());
  SetOutput16Bits(type == IMAGE_16BIT || type == IMAGE_16BIT_ALT);
  if (!longExposure) return Cam_SetResolution();
  // A long exposure in progress is abandoned; the mode stays for the next one.
  longExposure = false;
  SendCMD(controller::kEndLongExposure);
  okc::platform::SleepMs(500);
  const bool ok = Cam_SetResolution();
  longExposure = true;
  return ok;
}

bool CCameraTAV::Cam_SetResolution() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  if (capturing) SendCMD(controller::kStopStreaming);
  bool ok = WriteCameraRegister(kRegWindowGuard, 0);
  ok = WriteWindow(true) && ok;
  ok = WriteCameraRegister(kRegWindowGuard, 0) && ok;
  ok = WriteCameraRegister(kRegDataPath, dataPathValue_) && ok;
  SetCMOSClk();
  SetFPSPerc(fpsPercent, autoFps);
  SetExp(exposure, autoExp);
  if (capturing) SendCMD(controller::kStartStreaming);
  return ok;
}

bool CCameraTAV::SetStartPos(int x, int y) {
  std::lock_guard lock(SensorLock());
  // The full sensor has no room to move; without a window set there is nothing to place.
  if (width == maxWidth && height == maxHeight) return false;
  if (bin < 1) return false;
  startY = PlaceStart(y, static_cast<int64_t>(bin) * height, maxHeight);
  startX = PlaceStart(x, static_cast<int64_t>(bin) * width, maxWidth);
  if (useDark) AdjustDarkBuff(darkFull.get(), darkWorking.get());
  if (hpcEnabled) AdjustHPCTable(hotPixelMapFull.get(), hotPixelMapRegion.get());
  // The USB 3 controller takes a new window while it streams.
  const bool pause = capturing && !usb3_;
  if (pause) SendCMD(controller::kStopStreaming);
  const bool ok = WriteWindow(false);
  if (pause) SendCMD(controller::kStartStreaming);
  return ok;
}

bool CCameraTAV::GetStartPos(int* x, int* y) {
  std::lock_guard lock(SensorLock());
  if (x) *x = startX;
  if (y) *y = startY;
  return true;
}

// ---- pixel clock ----

bool CCameraTAV::SetCMOSClk() {
  return SetCMOSClk(usb3_ ? kUsb3ClockMhz : okc::models::ChooseTavcClock(bin * width, output16Bits));
}

bool CCameraTAV::SetCMOSClk(int mhz) {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  if (mhz == cmosClk) return true;
  if (usb3_) return SetUsb3Clock(mhz);
  if (mhz == 24) {
    // The 24 MHz mode resets the sensor: everything is programmed again.
    SendCMD(controller::kStopStreaming);
    SendCMD(controller::kSensorClock24Mhz);
    okc::platform::SleepMs(100);
    bool ok = ReplayInitTable();
    ok = WriteWindow(true) && ok;
    ok = WriteCameraRegister(kRegLineLength, lineLength) && ok;
    SetBrightness(brightness);
    cmosClk = 24;
    ok = SetGain() && ok;
    SendCMD(controller::kStartStreaming);
    SetMisc(flipRow, flipColumn);
    return ok;
  }
  bool ok = true;
  if (cmosClk == 24) ok = SendCMD(controller::kSensorClock48Mhz);
  return ProgramPll(mhz, okc::models::FindTavcPll(mhz)) && ok;
}

bool CCameraTAV::ProgramPll(int mhz, const okc::models::TavcPllSetting* pll) {
  // Same integration time at the new clock (saturated: the register holds 16 bits).
  const uint32_t lines = okc::models::TavcIntegrationLines(exposure, mhz, lineLength, FrameBlanking());
  bool ok = WriteCameraRegister(kRegIntegration, static_cast<unsigned short>(std::min(lines, kMaxIntegrationLines)));
  exposureWritten_ = 0;
  ok = WriteCameraRegister(kRegResetControl, kPllChangeMode) && ok;
  okc::platform::SleepMs(100);
  if (pll) {
    if (mhz == 6) okc::platform::SleepMs(200);
    ok = WriteCameraRegister(kRegSysDivider, pll->sysDivider) && ok;
    ok = WriteCameraRegister(kRegPixDivider, pll->pixDivider) && ok;
    ok = WriteCameraRegister(kRegPreDivider, pll->preDivider) && ok;
    ok = WriteCameraRegister(kRegMultiplier, pll->multiplier) && ok;
  }
  okc::platform::SleepMs(10);
  // Data in the pipe was read at the old clock.
  if (device && device->bulkInEndpoint) {
    device->bulkInEndpoint->ResetPipe();
    device->bulkInEndpoint->AbortPipe();
  }
  ok = WriteCameraRegister(kRegResetControl, kRunningMode) && ok;
  cmosClk = mhz;
  return ok;
}

// ---- sample width ----

bool CCameraTAV::SetOutput16Bits(bool on) {
  std::lock_guard lock(SensorLock());
  output16Bits = on;
  if (!opened) return false;
  bool ok;
  if (capturing) {
    // The frame size changes: the capture run is rebuilt around the switch.
    StopCapture();
    SetCMOSClk();
    ok = SendCMD(on ? controller::kSamples16Bit : controller::kSamples8Bit);
    SetUsb3Timing();
    StartCapture();
    return ok;
  }
  SetCMOSClk();
  if (on) {
    // The slower clock settles before the controller changes its sample packing.
    okc::platform::SleepMs(200);
  }
  ok = SendCMD(on ? controller::kSamples16Bit : controller::kSamples8Bit);
  SetUsb3Timing();
  return ok;
}

void CCameraTAV::SetUsb3Timing() {
  if (!usb3_) return;
  blankingV_ = usb3Host ? kUsb3HostBlanking : kUsb2HostBlanking;
  bandwidthB_ = !usb3Host ? kUsb2HostBytesPerUs : output16Bits ? kUsb3Host16BitBytesPerUs : kUsb3Host8BitBytesPerUs;
}

bool CCameraTAV::SetUsb3Clock(int mhz) {
  if (mhz == 24) {
    // The 24 MHz mode resets the sensor: everything is programmed again.
    SendCMD(controller::kStopStreaming);
    okc::platform::SleepMs(100);
    bool ok = ReplayInitTable();
    ok = WriteWindow(true) && ok;
    ok = WriteCameraRegister(kRegLineLength, lineLength) && ok;
    ok = WriteCameraRegister(kRegIntegration, kLongExposureLines) && ok;
    SetBrightness(brightness);
    cmosClk = 24;
    ok = SetGain() && ok;
    return ok;
  }
  // The one PLL setting of the 100 MHz clock, whatever was asked.
  return ProgramPll(mhz, &kUsb3Pll);
}

// ---- exposure ----

bool CCameraTAV::SetExp(unsigned long long microseconds, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoExp = automatic;
  exposure = std::clamp<uint64_t>(microseconds, kMinExposureUs, kMaxExposureUs);
  // While capturing the capture engine writes it.
  if (capturing) return true;
  return SetExp();
}

bool CCameraTAV::SetExp() {
  std::lock_guard lock(SensorLock());
  if (!normalLineKnown_) {
    normalLineKnown_ = true;
    normalLineLength_ = lineLength;
  }
  const uint64_t us = exposure;
  if (us == exposureWritten_ && capturing) return true;
  if (longExposure) return true;
  if (us >= kLongLineExposureUs) {
    if (lineLength != okc::models::kTavcLongLineLength) {
      normalLineLength_ = lineLength;
      lineLength = okc::models::kTavcLongLineLength;
      WriteCameraRegister(kRegLineLength, lineLength);
    }
  } else if (lineLength == okc::models::kTavcLongLineLength) {
    lineLength = normalLineLength_;
    WriteCameraRegister(kRegLineLength, lineLength);
  }
  const uint32_t lines = okc::models::TavcIntegrationLines(us, cmosClk, lineLength, FrameBlanking());
  exposureLines = lines;
  bool ok;
  if (lines <= kMaxIntegrationLines && us <= kLongExposureThresholdUs) {
    ok = WriteCameraRegister(kRegIntegration, static_cast<unsigned short>(lines));
  } else {
    // Too long for the register: the host times it between two commands.
    ok = WriteCameraRegister(kRegIntegration, kLongExposureLines);
    longExposure = true;
  }
  exposureWritten_ = ok ? us : 0;
  return ok;
}

// ---- gain and white balance ----

bool CCameraTAV::SetGain(int newGain, bool automatic) {
  std::lock_guard lock(SensorLock());
  autoGain = automatic;
  gain = std::clamp(newGain, 1, 100);
  // While capturing the capture engine writes it.
  if (capturing) return true;
  return SetGain();
}

bool CCameraTAV::SetGain() {
  std::lock_guard lock(SensorLock());
  const int g = gain;
  if (g == gainWritten_ && !longExposure && capturing) return true;
  if (!isColor) {
    // One digital gain for the whole mono sensor.
    const TavcGain setting = okc::models::TavmGainFor(g, cmosClk == 24);
    WriteCameraRegister(kRegCoarseGain, setting.coarse);
    const bool ok = WriteCameraRegister(kRegMonoGain, setting.digital);
    gainWritten_ = ok ? g : 0;
    return ok;
  }
  const TavcGain setting = okc::models::TavcGainFor(g, cmosClk == 24);
  bool ok = WriteCameraRegister(kRegCoarseGain, setting.coarse);
  ok = WriteCameraRegister(kRegGreen1Gain, setting.digital) && ok;
  ok = WriteCameraRegister(kRegGreen2Gain, setting.digital) && ok;
  ok = WriteCameraRegister(kRegRedGain, okc::models::TavcBalanceGain(wbRed, setting.digital)) && ok;
  ok = WriteCameraRegister(kRegBlueGain, okc::models::TavcBalanceGain(wbBlue, setting.digital)) && ok;
  gainWritten_ = ok ? g : 0;
  return ok;
}

void CCameraTAV::SetRGBBalance(int red, int blue, bool automatic) {
  std::lock_guard lock(SensorLock());
  if (!isColor) return;  // a mono sensor has no balance
  autoWB = automatic;
  SetRGBBalance(red, blue);
}

bool CCameraTAV::SetRGBBalance(int red, int blue) {
  std::lock_guard lock(SensorLock());
  if (!isColor) return false;
  wbRed = std::clamp(red, 1, 100);
  wbBlue = std::clamp(blue, 1, 100);
  const uint16_t digital = okc::models::TavcGainFor(gain, cmosClk == 24).digital;
  bool ok = WriteCameraRegister(kRegRedGain, okc::models::TavcBalanceGain(wbRed, digital));
  ok = WriteCameraRegister(kRegBlueGain, okc::models::TavcBalanceGain(wbBlue, digital)) && ok;
  return ok;
}

void CCameraTAV::GetRGBBalance(int* red, int* blue, bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (!isColor) return;  // the caller's values stay as they are
  if (red) *red = wbRed;
  if (blue) *blue = wbBlue;
  if (automatic) *automatic = autoWB;
}

// ---- black level, pacing, flips ----

bool CCameraTAV::SetBrightness(int value) {
  std::lock_guard lock(SensorLock());
  // Outside 0..16 the register value would wrap into a meaningless black level.
  brightness = std::clamp(value, 0, 16);
  return WriteCameraRegister(kRegBlackLevel, static_cast<unsigned short>(brightness * 16));
}

bool CCameraTAV::SetFPSPerc(int percent, bool automatic) {
  std::lock_guard lock(SensorLock());
  const int p = std::clamp(percent, fpsPercentMin, fpsPercentMax);
  // Switching automatic pacing on starts it from a safe middle value (USB 3
  // models: from what the host's link carries).
  int start = kAutoFpsStartPercent;
  if (usb3_) start = usb3Host ? kUsb3AutoFpsStartPercent : kUsb3OnUsb2AutoFpsStartPercent;
  fpsPercent = (automatic && !autoFps) ? start : p;
  autoFps = automatic;
  const uint16_t length = okc::models::TavcLineLengthFor(output16Bits, width, height, bin, cmosClk, fpsPercent,
                                                         BandwidthBase(), FrameBlanking());
  // Long exposures keep the long line.
  if (exposure > kLongLineExposureUs) return false;
  lineLength = length;
  bool ok = WriteCameraRegister(kRegLineLength, length);
  const uint32_t lines =
      std::min<uint32_t>(okc::models::TavcIntegrationLines(exposure, cmosClk, length, FrameBlanking()),
                         kLongExposureLines);
  exposureLines = lines;
  ok = WriteCameraRegister(kRegIntegration, static_cast<unsigned short>(lines)) && ok;
  exposureWritten_ = 0;
  return ok;
}

bool CCameraTAV::GetFPSPerc(int* percent, bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (percent) *percent = fpsPercent;
  if (automatic) *automatic = autoFps;
  return true;
}

bool CCameraTAV::SetMisc(bool newFlipRow, bool newFlipColumn) {
  std::lock_guard lock(SensorLock());
  // Flips are done in software on each frame; the sensor is not told.
  flipRow = newFlipRow;
  flipColumn = newFlipColumn;
  return true;
}

// ---- temperature ----

float CCameraTAV::GetSensorTemp() {
  std::lock_guard lock(SensorLock());
  // Zero words are fetched again on the next call.
  if (calibration70_ == 0) {
    unsigned short word = 0;
    ReadCameraRegister(kRegTempCal70, &word);
    calibration70_ = word;
  }
  if (calibration55_ == 0) {
    unsigned short word = 0;
    ReadCameraRegister(kRegTempCal55, &word);
    calibration55_ = word;
  }
  unsigned short reading = 0;
  ReadCameraRegister(kRegTemperature, &reading);
  // A zero reading is no measurement.
  if (reading == 0) return lastTemperature_;
  const float celsius = okc::models::TavcTemperature(calibration70_, calibration55_, reading);
  lastTemperature_ = celsius;
  return celsius;
}

// ---- hot pixels ----

bool CCameraTAV::SetHotPixelCorrection(bool on) {
  std::lock_guard lock(SensorLock());
  hpcEnabled = on;
  if (!on) {
    const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
    for (std::unique_ptr<uint32_t[]>* table : {&hotPixelMapFull, &hotPixelMapRegion, &hotPixelList})
      if (*table) std::fill_n(table->get(), n, 0u);
    hotPixelCount = 0;
    return false;
  }
  if (LoadHPCTable()) return true;
  hpcEnabled = false;
  return false;
}

// ---- capture ----

bool CCameraTAV::StartCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Start();
}

bool CCameraTAV::StopCapture() {
  std::lock_guard lock(SensorLock());
  return capture_->Run().Stop();
}

bool CCameraTAV::GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) {
  return capture_->Run().Deliver(buffer, size, timeoutMs);
}
