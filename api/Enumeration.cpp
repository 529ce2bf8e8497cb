// Counting the attached cameras, naming them, opening, initialising and closing one.
#include <algorithm>

#include "api/CameraCall.h"
#include "api/CameraState.h"
#include "core/ModelInfo.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"

namespace okc::api {

int32_t cameraPids[kMaxCameras] = {};
int32_t cameraCount = 0;

namespace {

std::shared_ptr<CCameraBase> g_currentCamera;

// Serialises enumeration, opening and closing among themselves: each of them
// rewrites the table or replaces the camera as one step. Taken before StateMutex().
std::mutex g_selectionMutex;

}  // namespace

std::mutex& StateMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<CCameraBase> CurrentCamera() {
  std::lock_guard lock(StateMutex());
  return g_currentCamera;
}

std::shared_ptr<CCameraBase> ExchangeCurrentCamera(std::shared_ptr<CCameraBase> camera) {
  std::lock_guard lock(StateMutex());
  std::swap(g_currentCamera, camera);
  return camera;
}

void ForgetEnumeration() {
  std::lock_guard lock(StateMutex());
  cameraCount = 0;
}

namespace {

// Walks the nine classes and lists the supported cameras into `pids`; returns their number.
int Enumerate(int32_t* pids) {
  int count = 0;
  const okc::core::ModelInfo* models = okc::core::AllModels();
  for (int m = 0; m < okc::core::kModelCount; ++m) {
    okc::usb::UsbDeviceClass deviceClass;
    deviceClass.productId = models[m].productId;
    CUsbDevice probe(nullptr, deviceClass, true);
    const int present = probe.CountDevices();
    for (int i = 0; i < present && count < kMaxCameras; ++i) {
      if (!probe.OpenDevice(static_cast<uint8_t>(i))) {
        // Claimed by another program or not ours to open: it is still this class's
        // camera and keeps its number, so later numbers stay those of their devices.
        if (okc::usb::KeepsItsPlace(probe.lastError)) pids[count++] = deviceClass.productId;
        continue;
      }
      // Any of the nine product IDs counts, not only the one of this class.
      if (probe.vendorId == okc::usb::kCameraVendorId && okc::core::InfoOfProduct(probe.productId))
        pids[count++] = probe.productId;
    }
  }
  return count;
}

int EnumerateAndRecord() {
  int32_t pids[kMaxCameras];
  const int count = Enumerate(pids);
  std::lock_guard lock(StateMutex());
  std::copy(pids, pids + count, cameraPids);
  cameraCount = count;
  return count;
}

}  // namespace

}  // namespace okc::api

using namespace okc::api;

extern "C" int getNumberOfConnectedCameras(void) {
  std::lock_guard selection(g_selectionMutex);
  return EnumerateAndRecord();
}

extern "C" bool openCamera(int index) {
  std::lock_guard selection(g_selectionMutex);
  int count = 0;
  {
    std::lock_guard lock(StateMutex());
    count = cameraCount;
  }
  if (count == 0) count = EnumerateAndRecord();
  if (index < 0 || index >= count) return false;

  int32_t pid = 0;
  int ordinal = 0;
  {
    std::lock_guard lock(StateMutex());
    pid = cameraPids[index];
    ordinal = 1 + static_cast<int>(std::count(cameraPids, cameraPids + index, pid));
  }
  // The previous camera leaves first: calls still running on it end as on a closed camera.
  CloseCameraObject(ExchangeCurrentCamera(nullptr));

  std::shared_ptr<CCameraBase> camera = CreateCameraForProduct(static_cast<uint16_t>(pid), nullptr);
  if (!camera) return false;
  // Opened before it becomes current, so no other thread sees it half opened.
  const bool ok = camera->OpenCamera(ordinal);
  camera->timeMark = false;
  // A camera that did not open is not kept: calls answer as without a camera.
  if (ok) ExchangeCurrentCamera(std::move(camera));
  return ok;
}

extern "C" bool initCamera(void) {
  const CameraCall camera(CameraCall::kControl);
  return camera && camera->InitCamera();
}

extern "C" void closeCamera(void) {
  std::lock_guard selection(g_selectionMutex);
  // Stops capture, so a getImageData waiting on another thread returns false; the
  // object itself goes when the last call still using it returns.
  CloseCameraObject(ExchangeCurrentCamera(nullptr));
}

extern "C" const char* getCameraModel(int index) {
  std::lock_guard lock(StateMutex());
  if (index < 0 || index >= cameraCount) return nullptr;
  const okc::core::ModelInfo* info = okc::core::InfoOfProduct(static_cast<uint16_t>(cameraPids[index]));
  return info ? info->modelName : "Error";
}
