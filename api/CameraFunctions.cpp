// The exported functions that work on the current camera: properties, controls,
// format, capture and extras. Each is a thin layer over the camera object and
// returns its neutral value when no camera is current. Each holds the camera
// through a CameraCall (CameraCall.h), so another thread may close it at any
// time: a close waits for the calls in progress, and later calls find no camera.
#include <mutex>

#include "api/CameraCall.h"
#include "api/CameraState.h"
#include "okccamera/okccamera.h"

using okc::api::CameraCall;

namespace {

bool IsControl(Control_TYPE control) { return control >= CTRL_GAIN && control <= CTRL_FPS_PERCENT; }

}  // namespace

// ---- properties and geometry ----

extern "C" bool isColorCam(void) {
  const CameraCall cam;
  return cam && cam->isColor;
}

extern "C" double getPixelSize(void) {
  const CameraCall cam;
  return cam ? cam->pixelSize : 0.0;
}

extern "C" int getColorBayer(void) {
  const CameraCall cam;
  return cam ? cam->bayerPattern : 2;
}

extern "C" int getMaxWidth(void) {
  const CameraCall cam;
  return cam ? cam->GetMaxWidth() : 0;
}

extern "C" int getMaxHeight(void) {
  const CameraCall cam;
  return cam ? cam->GetMaxHeight() : 0;
}

extern "C" int getWidth(void) {
  const CameraCall cam;
  if (!cam) return 0;
  std::lock_guard lock(cam->SensorLock());
  return cam->width;
}

extern "C" int getHeight(void) {
  const CameraCall cam;
  if (!cam) return 0;
  std::lock_guard lock(cam->SensorLock());
  return cam->height;
}

extern "C" int getBin(void) {
  const CameraCall cam;
  if (!cam) return 1;
  std::lock_guard lock(cam->SensorLock());
  return cam->bin;
}

extern "C" bool isBinSupported(int bin) {
  const CameraCall cam;
  if (!cam) return false;
  if (bin == 1) return true;
  if (bin == 2) return cam->bin2Supported;
  return false;
}

extern "C" bool isAvailable(Control_TYPE control) {
  const CameraCall cam;
  return cam && cam->isAvailable(control);
}

extern "C" bool isImgTypeSupported(IMG_TYPE type) {
  const CameraCall cam;
  return cam && cam->isImgTypeSupported(type);
}

extern "C" int getStartX(void) {
  const CameraCall cam;
  int x = 0, y = 0;
  if (cam) cam->GetStartPos(&x, &y);
  return x;
}

extern "C" int getStartY(void) {
  const CameraCall cam;
  int x = 0, y = 0;
  if (cam) cam->GetStartPos(&x, &y);
  return y;
}

extern "C" bool setStartPos(int x, int y) {
  const CameraCall cam;
  return cam && cam->SetStartPos(x, y);
}

// ---- controls ----

extern "C" void setValue(Control_TYPE control, int value, bool automatic) {
  const CameraCall cam;
  if (!cam || !IsControl(control)) return;
  int red = 0, blue = 0;
  bool balanceAuto = false;
  switch (control) {
    case CTRL_GAIN: cam->SetGain(value, automatic); break;
    // Widened with its sign: -1 becomes all bits set, which the model clamps.
    case CTRL_EXPOSURE: cam->SetExp(static_cast<unsigned long long>(static_cast<long long>(value)), automatic); break;
    case CTRL_GAMMA: cam->SetGamma(value); break;
    case CTRL_WB_RED:
      cam->GetRGBBalance(&red, &blue, &balanceAuto);
      cam->SetRGBBalance(value, blue, automatic);
      break;
    case CTRL_WB_BLUE:
      cam->GetRGBBalance(&red, &blue, &balanceAuto);
      cam->SetRGBBalance(red, value, automatic);
      break;
    case CTRL_BRIGHTNESS: cam->SetBrightness(value); break;
    case CTRL_FPS_PERCENT: cam->SetFPSPerc(value, automatic); break;
  }
}

extern "C" int getValue(Control_TYPE control, bool* automatic) {
  const CameraCall cam;
  if (!cam || !IsControl(control)) return 0;
  int red = 0, blue = 0, percent = 0;
  bool flag = false;
  switch (control) {
    case CTRL_GAIN: {
      const int g = cam->GetGain(&flag);
      if (automatic) *automatic = flag;
      return g;
    }
    case CTRL_EXPOSURE: {
      std::lock_guard lock(cam->SensorLock());
      if (automatic) *automatic = cam->autoExp;
      return static_cast<int>(static_cast<uint32_t>(cam->exposure & 0xFFFFFFFFull));
    }
    case CTRL_GAMMA: return cam->GetGamma();
    case CTRL_WB_RED:
    case CTRL_WB_BLUE:
      cam->GetRGBBalance(&red, &blue, &flag);
      if (automatic) *automatic = flag;
      return control == CTRL_WB_RED ? red : blue;
    case CTRL_BRIGHTNESS: {
      std::lock_guard lock(cam->SensorLock());
      return cam->brightness;
    }
    case CTRL_FPS_PERCENT:
      cam->GetFPSPerc(&percent, &flag);
      if (automatic) *automatic = flag;
      return percent;
  }
  return 0;
}

extern "C" int getMin(Control_TYPE control) {
  const CameraCall cam;
  if (!cam || !IsControl(control)) return 0;
  if (control == CTRL_EXPOSURE) return 64;
  if (control == CTRL_FPS_PERCENT) return cam->fpsPercentMin;
  return 0;
}

extern "C" int getMax(Control_TYPE control) {
  const CameraCall cam;
  if (!cam || !IsControl(control)) return 0;
  switch (control) {
    case CTRL_EXPOSURE: return cam->exposureMax;
    case CTRL_BRIGHTNESS: return 16;
    case CTRL_FPS_PERCENT: return cam->fpsPercentMax;
    default: return 100;
  }
}

extern "C" bool isAutoSupported(Control_TYPE control) {
  const CameraCall cam;
  if (!cam || !IsControl(control)) return false;
  switch (control) {
    case CTRL_GAIN:
    case CTRL_EXPOSURE:
    case CTRL_WB_RED:
    case CTRL_WB_BLUE: return true;
    case CTRL_FPS_PERCENT: return cam->autoFpsSupported;
    default: return false;
  }
}

extern "C" void setAutoPara(int maxGain, int maxExposure, int targetBrightness) {
  const CameraCall cam;
  if (cam) cam->SetAutoPara(maxGain, maxExposure, targetBrightness);
}

extern "C" void getAutoPara(int* maxGain, int* maxExposure, int* targetBrightness) {
  const CameraCall cam;
  if (cam) cam->GetAutoPara(maxGain, maxExposure, targetBrightness);
}

// ---- format and capture ----

extern "C" bool setImageFormat(int width, int height, int bin, IMG_TYPE type) {
  const CameraCall cam(CameraCall::kControl);
  if (!cam || type < IMGTYPE_RAW8 || type > IMGTYPE_Y8) return false;
  {
    std::lock_guard lock(cam->SensorLock());
    cam->rawOutput = (type == IMGTYPE_RAW8 || type == IMGTYPE_RAW16);
  }
  IMAGE_TYPE internal = IMAGE_8BIT;
  if (type == IMGTYPE_RGB24) internal = IMAGE_RGB24;
  if (type == IMGTYPE_RAW16) internal = IMAGE_16BIT;
  return cam->SetResolution(width, height, bin, internal);
}

extern "C" IMG_TYPE getImgType(void) {
  const CameraCall cam;
  if (!cam) return IMGTYPE_Y8;
  std::lock_guard lock(cam->SensorLock());
  switch (cam->imageType) {
    case IMAGE_8BIT: return cam->rawOutput ? IMGTYPE_RAW8 : IMGTYPE_Y8;
    case IMAGE_RGB24: return IMGTYPE_RGB24;
    case IMAGE_16BIT: return IMGTYPE_RAW16;
    default: return IMGTYPE_Y8;
  }
}

extern "C" void startCapture(void) {
  const CameraCall cam(CameraCall::kControl);
  if (cam) cam->StartCapture();
}

extern "C" void stopCapture(void) {
  const CameraCall cam(CameraCall::kControl);
  if (cam) cam->StopCapture();
}

extern "C" bool getImageData(unsigned char* buffer, int size, unsigned long timeoutMs) {
  // Holds the object only: the wait for a frame must not hold off a close, which ends it.
  const auto cam = okc::api::CurrentCamera();
  return cam && cam->GetImage(buffer, size, timeoutMs);
}

// ---- extras ----

extern "C" void addTimestamp(bool on) {
  const CameraCall cam;
  if (!cam) return;
  std::lock_guard lock(cam->SensorLock());
  cam->timeMark = on;
}

extern "C" bool isTimestampAdded(void) {
  const CameraCall cam;
  if (!cam) return false;
  std::lock_guard lock(cam->SensorLock());
  return cam->timeMark;
}

extern "C" float getSensorTemp(void) {
  const CameraCall cam;
  return cam ? cam->GetSensorTemp() : 0.0f;
}

extern "C" unsigned int getDroppedFrames(void) {
  const CameraCall cam;
  return cam ? cam->droppedFrames.load() : 0;
}

extern "C" bool SetMisc(bool flipRow, bool flipColumn) {
  const CameraCall cam;
  return cam && cam->SetMisc(flipRow, flipColumn);
}

extern "C" void GetMisc(bool* flipRow, bool* flipColumn) {
  const CameraCall cam;
  if (!cam) return;
  std::lock_guard lock(cam->SensorLock());
  if (flipRow) *flipRow = cam->flipRow;
  if (flipColumn) *flipColumn = cam->flipColumn;
}

extern "C" void pulseGuide(GuideD direction, int durationMs) {
  const CameraCall cam;
  if (!cam || direction < GUIDE_NORTH || direction > GUIDE_WEST) return;
  cam->pulseGuide(direction, durationMs);
}

extern "C" bool EnableDarkSubtract(char* bmpPath) {
  const CameraCall cam;
  if (!cam) return false;
  cam->LoadBMPFromFile(bmpPath);
  return true;
}

extern "C" void DisableDarkSubtract(void) {
  const CameraCall cam;
  if (!cam) return;
  std::lock_guard lock(cam->SensorLock());
  cam->useDark = false;
}
