// TAVC: the colour 1280 x 960 camera of the TAV family, the reference model.
// Everything the driver does to the sensor outside the capture loop: opening,
// the initialisation table, readout window, pixel clock, exposure, gain, white
// balance, black level, output pacing, sample width and temperature.
#include "okccamera/CCameraTAVC.h"

#include <algorithm>
#include <atomic>

#include "core/FirmwareImage.h"
#include "core/ModelInfo.h"
#include "models/TavcClock.h"
#include "models/TavcRegisterTable.h"
#include "models/TavcSensorMath.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/Clock.h"

using okc::models::TavcGain;

namespace {

// Vendor commands of the camera's controller.
constexpr unsigned char kClock24Mhz = 0xA3;
constexpr unsigned char kClock48Mhz = 0xA4;
constexpr unsigned char kStreamOn = 0xA9;
constexpr unsigned char kStreamOff = 0xAA;
constexpr unsigned char kSamples8Bit = 0xAB;
constexpr unsigned char kSamples16Bit = 0xAC;
constexpr unsigned char kLongExposureEnd = 0xAF;

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
// Where automatic pacing starts when it is switched on.
constexpr int kAutoFpsStartPercent = 80;

// Values this model class keeps per process, shared by the host's and the
// capture engine's threads (one camera is open at a time).
struct Remembered {
  // What the sensor's integration and gain registers hold, so the capture
  // engine's periodic writes can skip unchanged values. Cleared whenever
  // another path rewrites those registers.
  std::atomic<uint64_t> exposureWritten{0};
  std::atomic<int> gainWritten{0};
  // The paced line length to come back to when the long line is no longer needed.
  std::atomic<bool> normalLineKnown{false};
  std::atomic<uint16_t> normalLineLength{0};
  // The sensor's temperature calibration words (0: not read yet) and the last reading.
  std::atomic<uint16_t> calibration70{0};
  std::atomic<uint16_t> calibration55{0};
  std::atomic<float> lastTemperature{0.0f};
};

Remembered& Process() {
  static Remembered state;
  return state;
}

bool ValidWindow(int width, int height, int bin, int type, int maxWidth, int maxHeight, bool bin2) {
  if (bin != 1 && !(bin == 2 && bin2)) return false;
  if (width <= 0 || height <= 0) return false;
  if (static_cast<int64_t>(width) * bin > maxWidth || static_cast<int64_t>(height) * bin > maxHeight) return false;
  if (type < IMAGE_8BIT || type > IMAGE_16BIT) return false;
  // The camera only delivers frames of whole kibibytes.
  return static_cast<int64_t>(width) * height * bin * bin % 1024 == 0;
}

// Keeps a start coordinate on an even pixel (the colour filter's phase) and the window on the sensor.
int32_t PlaceStart(int requested, int64_t span, int sensorSize) {
  const int64_t even = requested < 0 ? 0 : (requested & ~1);
  return static_cast<int32_t>(even + span <= sensorSize ? even : sensorSize - span);
}

}  // namespace

CCameraTAVC::CCameraTAVC(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::TAVC).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::TAVC).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::TAVC);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
  // The camera is still closed: this only brings the stored balance into range.
  SetRGBBalance(wbRed, wbBlue);
}

CCameraTAVC::~CCameraTAVC() { ShutDown(); }

bool CCameraTAVC::OpenCamera(int ordinal) {
  if (opened) return true;
  if (!OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer)) return false;
  // Calibration words belong to the sensor: a newly opened camera has its own.
  Process().calibration70 = 0;
  Process().calibration55 = 0;
  fwVersion = 0;
  GetFirmwareVer(&fwVersion);
  // Controllers below firmware version 3 get their firmware renewed first.
  return ReloadFirmwareIfOlder(ordinal, 3, okc::core::kTavcFirmwareFile);
}

bool CCameraTAVC::ReplayInitTable() {
  // The table resets integration and gain, so nothing the sensor held is known any more.
  Process().exposureWritten = 0;
  Process().gainWritten = 0;
  for (const okc::models::TavcRegisterWrite& row : okc::models::TavcInitTable()) {
    if (row.address == okc::models::kTavcSleepRow) {
      okc::platform::SleepMs(row.value);
    } else if (!WriteCameraRegister(row.address, row.value)) {
      return false;
    }
  }
  return true;
}

bool CCameraTAVC::InitCamera() {
  if (!opened) return false;
  bool ok = SendCMD(kClock48Mhz);
  cmosClk = 48;
  ok = SendCMD(kSamples8Bit) && ok;
  ok = SendCMD(kStreamOff) && ok;
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

bool CCameraTAVC::WriteWindow(bool withFrameLength) {
  const int rows = bin * height;
  const int columns = bin * width;
  bool ok = WriteCameraRegister(kRegFirstRow, static_cast<unsigned short>(startY + 2));
  ok = WriteCameraRegister(kRegFirstColumn, static_cast<unsigned short>(startX)) && ok;
  if (withFrameLength)
    ok = WriteCameraRegister(kRegFrameLength, static_cast<unsigned short>(rows + 26)) && ok;
  ok = WriteCameraRegister(kRegLastRow, static_cast<unsigned short>(rows + startY + 1)) && ok;
  ok = WriteCameraRegister(kRegLastColumn, static_cast<unsigned short>(columns + startX - 1)) && ok;
  return ok;
}

bool CCameraTAVC::SetResolution(int newWidth, int newHeight, int newBin, IMAGE_TYPE type) {
  if (!opened) return false;
  if (!ValidWindow(newWidth, newHeight, newBin, type, maxWidth, maxHeight, bin2Supported)) return false;
  bin = newBin;
  height = newHeight;
  width = newWidth;
  imageType = type;
  // A new size starts centred; an earlier start position does not carry over.
  startX = (maxWidth - width * bin) / 2;
  startY = (maxHeight - height * bin) / 2;
  if (useDark) AdjustDarkBuff(darkFull.get(), darkWorking.get());
  SetOutput16Bits(type == IMAGE_16BIT || type == IMAGE_16BIT_ALT);
  if (!longExposure) return Cam_SetResolution();
  // A long exposure in progress is abandoned; the mode stays for the next one.
  longExposure = false;
  SendCMD(kLongExposureEnd);
  okc::platform::SleepMs(500);
  const bool ok = Cam_SetResolution();
  longExposure = true;
  return ok;
}

bool CCameraTAVC::Cam_SetResolution() {
  if (!opened) return false;
  if (capturing) SendCMD(kStreamOff);
  bool ok = WriteCameraRegister(kRegWindowGuard, 0);
  ok = WriteWindow(true) && ok;
  ok = WriteCameraRegister(kRegWindowGuard, 0) && ok;
  ok = WriteCameraRegister(kRegDataPath, 0x9210) && ok;
  SetCMOSClk();
  SetFPSPerc(fpsPercent, autoFps);
  SetExp(exposure, autoExp);
  if (capturing) SendCMD(kStreamOn);
  return ok;
}

bool CCameraTAVC::SetStartPos(int x, int y) {
  // The full sensor has no room to move; without a window set there is nothing to place.
  if (width == maxWidth && height == maxHeight) return false;
  if (bin < 1) return false;
  startY = PlaceStart(y, static_cast<int64_t>(bin) * height, maxHeight);
  startX = PlaceStart(x, static_cast<int64_t>(bin) * width, maxWidth);
  if (useDark) AdjustDarkBuff(darkFull.get(), darkWorking.get());
  if (capturing) SendCMD(kStreamOff);
  const bool ok = WriteWindow(false);
  if (capturing) SendCMD(kStreamOn);
  return ok;
}

bool CCameraTAVC::GetStartPos(int* x, int* y) {
  if (x) *x = startX;
  if (y) *y = startY;
  return true;
}

// ---- pixel clock ----

bool CCameraTAVC::SetCMOSClk() { return SetCMOSClk(okc::models::ChooseTavcClock(bin * width, output16Bits)); }

bool CCameraTAVC::SetCMOSClk(int mhz) {
  if (!opened) return false;
  if (mhz == cmosClk) return true;
  if (mhz == 24) {
    // The 24 MHz mode resets the sensor: everything is programmed again.
    SendCMD(kStreamOff);
    SendCMD(kClock24Mhz);
    okc::platform::SleepMs(100);
    bool ok = ReplayInitTable();
    ok = WriteWindow(true) && ok;
    ok = WriteCameraRegister(kRegLineLength, lineLength) && ok;
    SetBrightness(brightness);
    cmosClk = 24;
    ok = SetGain() && ok;
    SendCMD(kStreamOn);
    SetMisc(flipRow, flipColumn);
    return ok;
  }
  bool ok = true;
  if (cmosClk == 24) ok = SendCMD(kClock48Mhz);
  // Same integration time at the new clock (saturated: the register holds 16 bits).
  const uint32_t lines = okc::models::TavcIntegrationLines(exposure, mhz, lineLength);
  ok = WriteCameraRegister(kRegIntegration, static_cast<unsigned short>(std::min(lines, kMaxIntegrationLines))) && ok;
  Process().exposureWritten = 0;
  ok = WriteCameraRegister(kRegResetControl, kPllChangeMode) && ok;
  okc::platform::SleepMs(100);
  if (const okc::models::TavcPllSetting* pll = okc::models::FindTavcPll(mhz)) {
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

bool CCameraTAVC::SetOutput16Bits(bool on) {
  output16Bits = on;
  if (!opened) return false;
  if (capturing) {
    // The frame size changes: the capture run is rebuilt around the switch.
    StopCapture();
    SetCMOSClk();
    const bool ok = SendCMD(on ? kSamples16Bit : kSamples8Bit);
    StartCapture();
    return ok;
  }
  SetCMOSClk();
  if (!on) return SendCMD(kSamples8Bit);
  // The slower clock settles before the controller changes its sample packing.
  okc::platform::SleepMs(200);
  return SendCMD(kSamples16Bit);
}

// ---- exposure ----

bool CCameraTAVC::SetExp(unsigned long long microseconds, bool automatic) {
  autoExp = automatic;
  exposure = std::clamp<uint64_t>(microseconds, kMinExposureUs, kMaxExposureUs);
  // While capturing the capture engine writes it.
  if (capturing) return true;
  return SetExp();
}

bool CCameraTAVC::SetExp() {
  Remembered& process = Process();
  if (!process.normalLineKnown.exchange(true)) process.normalLineLength = lineLength;
  const uint64_t us = exposure;
  if (us == process.exposureWritten && capturing) return true;
  if (longExposure) return true;
  if (us >= kLongLineExposureUs) {
    if (lineLength != okc::models::kTavcLongLineLength) {
      process.normalLineLength = lineLength;
      lineLength = okc::models::kTavcLongLineLength;
      WriteCameraRegister(kRegLineLength, lineLength);
    }
  } else if (lineLength == okc::models::kTavcLongLineLength) {
    lineLength = process.normalLineLength;
    WriteCameraRegister(kRegLineLength, lineLength);
  }
  const uint32_t lines = okc::models::TavcIntegrationLines(us, cmosClk, lineLength);
  exposureLines = lines;
  bool ok;
  if (lines <= kMaxIntegrationLines && us <= kLongExposureThresholdUs) {
    ok = WriteCameraRegister(kRegIntegration, static_cast<unsigned short>(lines));
  } else {
    // Too long for the register: the host times it between two commands.
    ok = WriteCameraRegister(kRegIntegration, kLongExposureLines);
    longExposure = true;
  }
  process.exposureWritten = ok ? us : 0;
  return ok;
}

// ---- gain and white balance ----

bool CCameraTAVC::SetGain(int newGain, bool automatic) {
  autoGain = automatic;
  gain = std::clamp(newGain, 1, 100);
  // While capturing the capture engine writes it.
  if (capturing) return true;
  return SetGain();
}

bool CCameraTAVC::SetGain() {
  Remembered& process = Process();
  const int g = gain;
  if (g == process.gainWritten && !longExposure && capturing) return true;
  const TavcGain setting = okc::models::TavcGainFor(g, cmosClk == 24);
  bool ok = WriteCameraRegister(kRegCoarseGain, setting.coarse);
  ok = WriteCameraRegister(kRegGreen1Gain, setting.digital) && ok;
  ok = WriteCameraRegister(kRegGreen2Gain, setting.digital) && ok;
  ok = WriteCameraRegister(kRegRedGain, okc::models::TavcBalanceGain(wbRed, setting.digital)) && ok;
  ok = WriteCameraRegister(kRegBlueGain, okc::models::TavcBalanceGain(wbBlue, setting.digital)) && ok;
  process.gainWritten = ok ? g : 0;
  return ok;
}

void CCameraTAVC::SetRGBBalance(int red, int blue, bool automatic) {
  autoWB = automatic;
  SetRGBBalance(red, blue);
}

bool CCameraTAVC::SetRGBBalance(int red, int blue) {
  wbRed = std::clamp(red, 1, 100);
  wbBlue = std::clamp(blue, 1, 100);
  const uint16_t digital = okc::models::TavcGainFor(gain, cmosClk == 24).digital;
  bool ok = WriteCameraRegister(kRegRedGain, okc::models::TavcBalanceGain(wbRed, digital));
  ok = WriteCameraRegister(kRegBlueGain, okc::models::TavcBalanceGain(wbBlue, digital)) && ok;
  return ok;
}

void CCameraTAVC::GetRGBBalance(int* red, int* blue, bool* automatic) {
  if (red) *red = wbRed;
  if (blue) *blue = wbBlue;
  if (automatic) *automatic = autoWB;
}

// ---- black level, pacing, flips ----

bool CCameraTAVC::SetBrightness(int value) {
  // Outside 0..16 the register value would wrap into a meaningless black level.
  brightness = std::clamp(value, 0, 16);
  return WriteCameraRegister(kRegBlackLevel, static_cast<unsigned short>(brightness * 16));
}

bool CCameraTAVC::SetFPSPerc(int percent, bool automatic) {
  const int p = std::clamp(percent, fpsPercentMin, fpsPercentMax);
  // Switching automatic pacing on starts it from a safe middle value.
  fpsPercent = (automatic && !autoFps) ? kAutoFpsStartPercent : p;
  autoFps = automatic;
  const uint16_t length =
      okc::models::TavcLineLengthFor(output16Bits, width, height, bin, cmosClk, fpsPercent);
  // Long exposures keep the long line.
  if (exposure > kLongLineExposureUs) return false;
  lineLength = length;
  bool ok = WriteCameraRegister(kRegLineLength, length);
  const uint32_t lines =
      std::min<uint32_t>(okc::models::TavcIntegrationLines(exposure, cmosClk, length), kLongExposureLines);
  exposureLines = lines;
  ok = WriteCameraRegister(kRegIntegration, static_cast<unsigned short>(lines)) && ok;
  Process().exposureWritten = 0;
  return ok;
}

bool CCameraTAVC::GetFPSPerc(int* percent, bool* automatic) {
  if (percent) *percent = fpsPercent;
  if (automatic) *automatic = autoFps;
  return true;
}

bool CCameraTAVC::SetMisc(bool newFlipRow, bool newFlipColumn) {
  // Flips are done in software on each frame; the sensor is not told.
  flipRow = newFlipRow;
  flipColumn = newFlipColumn;
  return true;
}

// ---- temperature ----

float CCameraTAVC::GetSensorTemp() {
  Remembered& process = Process();
  // Zero words are fetched again on the next call.
  if (process.calibration70 == 0) {
    unsigned short word = 0;
    ReadCameraRegister(kRegTempCal70, &word);
    process.calibration70 = word;
  }
  if (process.calibration55 == 0) {
    unsigned short word = 0;
    ReadCameraRegister(kRegTempCal55, &word);
    process.calibration55 = word;
  }
  unsigned short reading = 0;
  ReadCameraRegister(kRegTemperature, &reading);
  // A zero reading is no measurement.
  if (reading == 0) return process.lastTemperature;
  const float celsius = okc::models::TavcTemperature(process.calibration70, process.calibration55, reading);
  process.lastTemperature = celsius;
  return celsius;
}
