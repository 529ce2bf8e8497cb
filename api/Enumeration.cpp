// Counting the attached cameras, naming them, opening, initialising and closing one.
#include <algorithm>

#include "api/CameraState.h"
#include "core/ModelInfo.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"

namespace okc::api {
int32_t cameraPids[kMaxCameras] = {};
int32_t cameraCount = 0;
std::unique_ptr<CCameraBase> currentCamera;
}  // namespace okc::api

using namespace okc::api;

extern "C" int getNumberOfConnectedCameras(void) {
  int count = 0;
  const okc::core::ModelInfo* models = okc::core::AllModels();
  for (int m = 0; m < okc::core::kModelCount; ++m) {
    okc::usb::UsbDeviceClass deviceClass;
    deviceClass.productId = models[m].productId;
    CUsbDevice probe(nullptr, deviceClass, true);
    const int present = probe.CountDevices();
    for (int i = 0; i < present && count < kMaxCameras; ++i) {
      if (!probe.OpenDevice(static_cast<uint8_t>(i))) continue;
      // Any of the nine product IDs counts, not only the one of this class.
      if (probe.vendorId == okc::usb::kCameraVendorId && okc::core::InfoOfProduct(probe.productId))
        cameraPids[count++] = probe.productId;
    }
  }
  cameraCount = count;
  return count;
}

extern "C" bool openCamera(int index) {
  if (cameraCount == 0) getNumberOfConnectedCameras();
  if (index < 0 || index >= cameraCount) return false;
  if (currentCamera) {
    currentCamera->CloseCamera();
    currentCamera.reset();
  }
  const int32_t pid = cameraPids[index];
  currentCamera = CreateCameraForProduct(static_cast<uint16_t>(pid), nullptr);
  if (!currentCamera) return false;
  const int ordinal = 1 + static_cast<int>(std::count(cameraPids, cameraPids + index, pid));
  const bool ok = currentCamera->OpenCamera(ordinal);
  currentCamera->timeMark = false;
  return ok;
}

extern "C" bool initCamera(void) { return currentCamera && currentCamera->InitCamera(); }

extern "C" void closeCamera(void) {
  if (!currentCamera) return;
  currentCamera->CloseCamera();
  currentCamera.reset();
}

extern "C" const char* getCameraModel(int index) {
  if (index < 0 || index >= cameraCount) return nullptr;
  const okc::core::ModelInfo* info = okc::core::InfoOfProduct(static_cast<uint16_t>(cameraPids[index]));
  return info ? info->modelName : "Error";
}
