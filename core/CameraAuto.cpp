// CCameraBase's automatic exposure, gain and white balance and its time mark:
// thin adapters between the camera's fields and the pure image code, and the
// steps the capture engine runs on a stable copy of the newest frame.
#include "core/CameraAuto.h"

#include <mutex>
#include <vector>

#include "imaging/AutoExposure.h"
#include "imaging/TimeMark.h"
#include "imaging/WhiteBalance.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/WallClock.h"

namespace {

okc::imaging::RawFrameGeometry GeometryOf(const CCameraBase& camera) {
  okc::imaging::RawFrameGeometry g;
  g.width = camera.width;
  g.height = camera.height;
  g.bin = camera.bin;
  g.sixteenBit = camera.output16Bits;
  return g;
}

}  // namespace

okc::imaging::AutoExposureDecision CCameraBase::AutoExpGain(const uint8_t* rawFrame, size_t bytes) {
  okc::imaging::AutoExposureInput in;
  in.exposureUs = exposure;
  in.exposureLines = exposureLines;
  in.gain = gain;
  in.autoExp = autoExp;
  in.autoGain = autoGain;
  in.autoExpMaxSeconds = autoExpMax;
  in.autoGainMax = autoGainMax;
  in.destBrightness = destBrightness;
  return okc::imaging::AutoExposureStep(rawFrame, bytes, GeometryOf(*this), in);
}

bool CCameraBase::ApplyAutoExposure(const okc::imaging::AutoExposureDecision& d) {
  bool stored = false;
  // A host that switched the mode off or set its own value meanwhile wins.
  if (d.exposureChanged && autoExp && exposure == d.exposureBeforeUs) {
    SetExp(d.exposureUs, autoExp);
    stored = true;
  }
  if (d.gainChanged && autoGain && gain == d.gainBefore) {
    SetGain(d.gain, autoGain);
    stored = true;
  }
  return stored;
}

okc::imaging::WhiteBalanceDecision CCameraBase::AutoWhiBal(const uint8_t* rawFrame, size_t bytes) {
  okc::imaging::WhiteBalanceInput in;
  in.wbRed = wbRed;
  in.wbBlue = wbBlue;
  in.autoExp = autoExp;
  in.autoGain = autoGain;
  if (!autoWB || !isColor) {
    okc::imaging::WhiteBalanceDecision unchanged;
    unchanged.redBefore = unchanged.red = in.wbRed;
    unchanged.blueBefore = unchanged.blue = in.wbBlue;
    return unchanged;
  }
  // Kept per thread across steps: one demosaic buffer per companion thread, not one per step.
  thread_local std::vector<uint8_t> scratch;
  return okc::imaging::AutoWhiBal(rawFrame, bytes, GeometryOf(*this), bayerPattern, in, scratch);
}

bool CCameraBase::ApplyWhiteBalance(const okc::imaging::WhiteBalanceDecision& d) {
  if (!d.changed || !autoWB || wbRed != d.redBefore || wbBlue != d.blueBefore) return false;
  SetRGBBalance(d.red, d.blue, autoWB);
  return true;
}

void CCameraBase::AddTimeMark(unsigned char* frame, size_t bytes, int frameWidth, int frameHeight, IMAGE_TYPE type) {
  okc::imaging::AddTimeMark(frame, bytes, frameWidth, frameHeight, type, okc::platform::LocalTimeNow());
}

namespace okc::core {

namespace {

// When a step may measure again: frames up to `settledAfter` may show the
// values before its last change.
struct StepGuard {
  uint64_t settledAfter = 0;
};

// The copy of the newest frame the steps measure, kept per process (one
// camera is open at a time) and made once per queue, not per step.
struct NewestFrame {
  std::mutex mutex;
  const FrameQueue* queue = nullptr;
  uint64_t lastNumber = 0;
  std::vector<uint8_t> bytes;
  StepGuard exposure;
  StepGuard balance;
};

NewestFrame& Shared() {
  // Never destroyed: a companion thread may still run a step during process exit.
  static NewestFrame* const shared = new NewestFrame;
  return *shared;
}

// Copies the newest frame and runs `step` on it unless it may predate the
// guard's last change. `step` returns whether it changed something.
template <typename Step>
bool RunGuarded(CCameraBase& camera, StepGuard NewestFrame::*guardOf, Step step) {
  FrameQueue* queue = camera.frameQueue.get();
  if (!queue) return false;
  NewestFrame& s = Shared();
  std::lock_guard lock(s.mutex);
  size_t length = 0;
  uint64_t number = 0;
  if (s.bytes.size() < queue->SlotSize()) s.bytes.resize(queue->SlotSize());
  if (!queue->CopyNewest(s.bytes.data(), s.bytes.size(), &length, &number)) return false;
  // Another queue (a new camera), even at the same address: frame numbers start again.
  if (s.queue != queue || number < s.lastNumber) {
    s.queue = queue;
    s.exposure = StepGuard{};
    s.balance = StepGuard{};
  }
  s.lastNumber = number;
  StepGuard& guard = s.*guardOf;
  if (number <= guard.settledAfter) return false;
  if (!step(s.bytes.data(), length)) return false;
  // The frame after this one may have started before the new values reached the sensor.
  guard.settledAfter = number + 1;
  return true;
}

}  // namespace

bool RunAutoExposureStep(CCameraBase& camera) {
  return RunGuarded(camera, &NewestFrame::exposure, [&camera](const uint8_t* frame, size_t bytes) {
    return camera.ApplyAutoExposure(camera.AutoExpGain(frame, bytes));
  });
}

bool RunAutoWhiteBalanceStep(CCameraBase& camera) {
  return RunGuarded(camera, &NewestFrame::balance, [&camera](const uint8_t* frame, size_t bytes) {
    return camera.ApplyWhiteBalance(camera.AutoWhiBal(frame, bytes));
  });
}

}  // namespace okc::core
