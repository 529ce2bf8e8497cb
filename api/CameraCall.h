// A host call's hold on the current camera.
//
// Shared ownership keeps the object alive under a call, but closing releases
// the camera's USB device, which a setter or a guide pulse may be using at that
// moment. So calls that talk to the device hold a CameraCall: closing waits
// until those in progress have ended (new ones wait for the close, then find
// the camera closed or gone). getImageData holds none: it only waits for
// frames, and the close is what ends that wait.
//
// Starting, stopping and reformatting capture, initialising and closing also
// run one at a time (kControl), so two threads never start or stop the same
// capture run at once.
#pragma once

#include <memory>
#include <mutex>

#include "okccamera/CCameraBase.h"

namespace okc::api {

class CameraCall {
 public:
  enum Kind { kUse, kControl };
  explicit CameraCall(Kind kind = kUse);
  ~CameraCall();
  CameraCall(const CameraCall&) = delete;
  CameraCall& operator=(const CameraCall&) = delete;

  explicit operator bool() const { return camera_ != nullptr; }
  CCameraBase* operator->() const { return camera_.get(); }

 private:
  std::shared_ptr<CCameraBase> camera_;
  std::unique_lock<std::mutex> control_;
};

// Closes a camera that is no longer current: waits for the calls still using
// it, then runs its CloseCamera. The object goes with the last reference.
void CloseCameraObject(const std::shared_ptr<CCameraBase>& camera);

}  // namespace okc::api
