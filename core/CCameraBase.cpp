// Construction, destruction and the base behaviours of the camera interface.
#include "okccamera/CCameraBase.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/ModelInfo.h"
#include "imaging/ColourTables.h"
#include "okccamera/CUsbDevice.h"
#include "usb/OpenFailure.h"

namespace {

// Allocates a zeroed table of `count` entries once; false when memory runs out.
template <typename T>
bool Allocate(std::unique_ptr<T[]>& table, size_t count) {
  if (table) return true;
  table.reset(new (std::nothrow) T[count]());
  return table != nullptr;
}

}  // namespace

// Only small tables are made here: the frame buffers and calibration tables
// follow when capture, dark frames or hot-pixel maps first need them.
CCameraBase::CCameraBase(int maxWidth_, int maxHeight_)
    : width(maxWidth_), maxWidth(maxWidth_), height(maxHeight_), maxHeight(maxHeight_) {
  toneTable16 = std::make_unique<uint16_t[]>(65536);
  frameQueue = std::make_unique<okc::core::FrameQueue>(FrameBufferBytes());
  colourTables = std::make_unique<okc::imaging::ColourTables>();
  okc::imaging::BuildColourTables(*colourTables);
}

CCameraBase::~CCameraBase() { ShutDown(); }

void CCameraBase::ShutDown() {
  if (capturing || captureThread.joinable()) StopCapture();
  if (captureThread.joinable()) captureThread.join();
  // Released under the sensor lock, so no setter on another thread is half-way
  // through a request; later requests find no device and fail.
  std::lock_guard lock(SensorLock());
  if (device) {
    device->CloseDevice();
    delete device;
    device = nullptr;
  }
  opened = false;
}

size_t CCameraBase::FrameBufferBytes() const {
  return 2 * static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
}

bool CCameraBase::EnsureFrameBuffers() {
  const size_t bytes = FrameBufferBytes();
  return Allocate(transferBufferA, bytes) && Allocate(transferBufferB, bytes);
}

bool CCameraBase::EnsureWorkingFrame() { return Allocate(workingFrame, FrameBufferBytes()); }

bool CCameraBase::EnsureColourFrames(bool full, bool binned) {
  const size_t bytes = 3 * static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  return (!full || Allocate(colourFrame, bytes)) && (!binned || Allocate(binnedColourFrame, bytes));
}

void CCameraBase::ReleaseStageFrames() {
  workingFrame.reset();
  colourFrame.reset();
  binnedColourFrame.reset();
}

bool CCameraBase::EnsureDarkTables() {
  const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  return Allocate(darkFull, n) && Allocate(darkWorking, n) && Allocate(darkHotList, n) && Allocate(darkHotFlags, n);
}

bool CCameraBase::EnsureHotPixelTables() {
  const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  return Allocate(hotPixelMapFull, n) && Allocate(hotPixelMapRegion, n) && Allocate(hotPixelList, n);
}

int CCameraBase::GetCMOSClk() const {
  std::lock_guard lock(SensorLock());
  return cmosClk;
}

bool CCameraBase::IsOutput16Bits() const {
  std::lock_guard lock(SensorLock());
  return output16Bits;
}

void CCameraBase::ApplyModelInfo(const okc::core::ModelInfo& info) {
  modelInfo_ = &info;
  pixelSize = info.pixelSize;
  gain = 50;
  gamma = 50;
  brightness = 0;
  cmosClk = info.cmosClk;
  fpsPercentMin = info.fpsPercentMin;
  fpsPercentMax = info.fpsPercentMax;
  exposureMax = info.exposureMax;
  autoFpsSupported = info.autoFpsSupported;
  isColor = info.isColor;
  bayerPattern = info.bayerPattern;
  modelName = info.modelName;
  modelNumber = info.modelNumber;
  bin2Supported = info.bin2Supported;
  std::copy(std::begin(info.controls), std::end(info.controls), controlAvailable);
  std::copy(std::begin(info.formats), std::end(info.formats), imgTypeSupported);
  opened = false;
  capturing = false;
  droppedFrames = 0;
  wbRed = info.wbRed;
  wbBlue = info.wbBlue;
  exposure = info.exposure;
  fpsPercent = info.fpsPercent;
  autoFps = info.autoFps;
  lineLength = info.lineLength;
  fpsPercentUsb3 = info.fpsPercentUsb3;
  autoBL = info.autoBL;
}

void CCameraBase::CreateDeviceAndLoadSettings(void* windowHandle, const okc::core::ModelInfo& info) {
  okc::usb::UsbDeviceClass deviceClass;
  deviceClass.productId = info.productId;
  device = new CUsbDevice(windowHandle, deviceClass, true);
  LoadSetting(info.settingsKey);
}

bool CCameraBase::OpenDeviceByOrdinal(int ordinal, bool checkManufacturer) {
  std::lock_guard lock(SensorLock());
  if (opened) return true;
  if (!device || !modelInfo_) return false;
  // Devices are counted by their place in the class as enumeration listed them:
  // those that open as this model, and those that cannot be opened at all
  // (claimed by another program, no permission), so a camera in use elsewhere
  // never lets the next one be opened in its place.
  const int count = device->CountDevices();
  int found = 0;
  bool match = false;
  uint32_t failure = okc::usb::kErrNoDevice;  // when the ordinal is never reached, the camera has gone
  for (int i = 0; i < count; ++i) {
    if (!device->OpenDevice(static_cast<uint8_t>(i))) {
      if (okc::usb::KeepsItsPlace(device->lastError) && ++found == ordinal) {
        failure = device->lastError;
        break;
      }
      continue;
    }
    if (device->vendorId == okc::usb::kCameraVendorId && device->productId == modelInfo_->productId &&
        ++found == ordinal) {
      match = true;
      break;
    }
  }
  if (!match) {
    device->CloseDevice();
    opened = false;
    okc::usb::ReportOpenFailure(modelName, ordinal, failure);
    return false;
  }
  if (checkManufacturer && device->manufacturer.compare(0, 3, u"YRA") != 0) {
    device->CloseDevice();
    return false;
  }
  opened = true;
  return true;
}

// ---- slots with a behaviour shared by every model ----

bool CCameraBase::StoreCentredWindow(int newWidth, int newHeight, int newBin, IMAGE_TYPE type, int64_t pixelBlock) {
  if (newBin != 1 && newBin != 2) return false;
  if (newWidth <= 0 || newHeight <= 0 || type < IMAGE_8BIT || type > IMAGE_16BIT) return false;
  const int64_t columns = static_cast<int64_t>(newWidth) * newBin;
  const int64_t rows = static_cast<int64_t>(newHeight) * newBin;
  if (columns > maxWidth || rows > maxHeight || (columns * rows) % pixelBlock != 0) return false;
  bin = newBin;
  width = newWidth;
  height = newHeight;
  imageType = type;
  startX = (maxWidth - bin * width) / 2;
  startY = (maxHeight - bin * height) / 2;
  if (useDark) AdjustDarkBuff(darkFull.get(), darkWorking.get());
  return true;
}

bool CCameraBase::StoreWindowStart(int x, int y) {
  if ((width == maxWidth && height == maxHeight) || bin < 1) return false;
  x = std::max(x, 0) & ~1;
  y = std::max(y, 0) & ~1;
  startX = std::min(x, maxWidth - bin * width);
  startY = std::min(y, maxHeight - bin * height);
  if (useDark) AdjustDarkBuff(darkFull.get(), darkWorking.get());
  return true;
}

bool CCameraBase::CloseCamera() {
  if (!device) return false;
  StopCapture();
  ShutDown();
  return true;
}

int CCameraBase::GetGain(bool* automatic) {
  std::lock_guard lock(SensorLock());
  if (automatic) *automatic = autoGain;
  return gain;
}

int CCameraBase::GetGamma() {
  std::lock_guard lock(SensorLock());
  return gamma;
}
int CCameraBase::GetMaxWidth() { return maxWidth; }
int CCameraBase::GetMaxHeight() { return maxHeight; }

// Models without the control keep these: "not supported", nothing changed.
bool CCameraBase::SetBrightness(int) { return false; }
bool CCameraBase::SetFPSPerc(int, bool) { return false; }
bool CCameraBase::GetFPSPerc(int*, bool*) { return false; }
float CCameraBase::GetSensorTemp() { return 0.0f; }

// Sensor programming and capture belong to the model classes; a model that
// does not provide an operation reports false and touches nothing.
bool CCameraBase::OpenCamera(int) { return false; }
bool CCameraBase::InitCamera() { return false; }
bool CCameraBase::SetResolution(int, int, int, IMAGE_TYPE) { return false; }
bool CCameraBase::SetStartPos(int, int) { return false; }
bool CCameraBase::GetStartPos(int*, int*) { return false; }
bool CCameraBase::SetGain(int, bool) { return false; }
void CCameraBase::SetRGBBalance(int, int, bool) {}
void CCameraBase::GetRGBBalance(int*, int*, bool*) {}
bool CCameraBase::SetExp(unsigned long long, bool) { return false; }
bool CCameraBase::SetMisc(bool, bool) { return false; }
bool CCameraBase::GetImage(unsigned char*, int, unsigned long) { return false; }
bool CCameraBase::StartCapture() { return false; }
bool CCameraBase::StopCapture() { return false; }

// ---- accessors ----

bool CCameraBase::isAvailable(Control_TYPE control) const {
  const int i = static_cast<int>(control);
  if (i < 0 || i > 6) return false;
  // Stored in the order gain, exposure, gamma, brightness, transfer speed, red, blue.
  static constexpr int kSlotOfControl[7] = {0, 1, 2, 5, 6, 3, 4};
  return controlAvailable[kSlotOfControl[i]];
}

bool CCameraBase::isImgTypeSupported(IMG_TYPE type) const {
  // Stored in the order raw 8-bit, 24-bit colour, 8-bit luminance, raw 16-bit.
  switch (type) {
    case IMGTYPE_RAW8: return imgTypeSupported[0];
    case IMGTYPE_RGB24: return imgTypeSupported[1];
    case IMGTYPE_Y8: return imgTypeSupported[2];
    case IMGTYPE_RAW16: return imgTypeSupported[3];
    default: return false;
  }
}

void CCameraBase::SetAutoPara(int maxGain, int maxExposure, int targetBrightness) {
  std::lock_guard lock(SensorLock());
  autoGainMax = maxGain;
  autoExpMax = maxExposure;
  destBrightness = targetBrightness;
}

void CCameraBase::GetAutoPara(int* maxGain, int* maxExposure, int* targetBrightness) const {
  std::lock_guard lock(SensorLock());
  if (maxGain) *maxGain = autoGainMax;
  if (maxExposure) *maxExposure = autoExpMax;
  if (targetBrightness) *targetBrightness = destBrightness;
}
