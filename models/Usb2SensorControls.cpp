#include "models/Usb2SensorControls.h"

#include <mutex>

#include "core/ControllerRequests.h"
#include "okccamera/CCameraBase.h"

namespace okc::models {

namespace controller = okc::core::controller;

bool SwitchSensorClock(CCameraBase& camera, int mhz) {
  std::lock_guard lock(camera.SensorLock());
  if (mhz != 24 && mhz != 48) return false;
  camera.SendCMD(mhz == 24 ? controller::kSensorClock24Mhz : controller::kSensorClock48Mhz);
  camera.cmosClk = mhz;
  camera.SetExp(camera.exposure, camera.autoExp);
  return true;
}

bool ReportSensorClock(CCameraBase& camera, int* mhz) {
  std::lock_guard lock(camera.SensorLock());
  if (mhz) *mhz = camera.cmosClk;
  return false;
}

bool SetSoftwareFlips(CCameraBase& camera, bool flipRow, bool flipColumn) {
  std::lock_guard lock(camera.SensorLock());
  if (camera.longExposure) return false;
  camera.flipRow = flipRow;
  camera.flipColumn = flipColumn;
  return true;
}

}  // namespace okc::models
