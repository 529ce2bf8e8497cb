#include "api/CameraCall.h"

#include <condition_variable>

#include "api/CameraState.h"

namespace okc::api {

namespace {

// Counts the calls using a camera and lets a close in only between them. A
// waiting close keeps new calls out, so a steady stream of calls on other
// threads cannot hold it off.
class CloseGate {
 public:
  void Enter() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !closing_; });
    ++users_;
  }
  void Leave() {
    std::lock_guard lock(mutex_);
    if (--users_ == 0) changed_.notify_all();
  }
  void BeginClose() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !closing_; });
    closing_ = true;
    changed_.wait(lock, [this] { return users_ == 0; });
  }
  void EndClose() {
    std::lock_guard lock(mutex_);
    closing_ = false;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int users_ = 0;
  bool closing_ = false;
};

CloseGate g_gate;
// Held while capture is started, stopped or reformatted, a camera initialised or closed.
std::mutex g_controlMutex;

}  // namespace

CameraCall::CameraCall(Kind kind) {
  g_gate.Enter();
  camera_ = CurrentCamera();
  if (camera_ && kind == kControl) control_ = std::unique_lock(g_controlMutex);
}

CameraCall::~CameraCall() {
  if (control_.owns_lock()) control_.unlock();
  g_gate.Leave();
}

void CloseCameraObject(const std::shared_ptr<CCameraBase>& camera) {
  if (!camera) return;
  g_gate.BeginClose();
  {
    std::lock_guard control(g_controlMutex);
    camera->CloseCamera();
  }
  g_gate.EndClose();
}

}  // namespace okc::api
