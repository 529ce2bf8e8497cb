// CCameraBase's automatic exposure, gain and white balance and its time mark:
// thin adapters between the camera's fields and the pure image code, and the
// steps the capture engine runs on a stable copy of the newest frame.
#include "core/CameraAuto.h"

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

// Runs `step` on the frame unless it may predate the guard's last change.
// `step` returns whether it changed something.
template <typename Step>
bool RunGuarded(const MeasuredFrame& frame, StepGuard& guard, Step step) {
  if (!frame.bytes || frame.length == 0) return false;
  if (frame.number <= guard.settledAfter) return false;
  if (!step(frame.bytes, frame.length)) return false;
  // The frame after this one may have started before the new values reached the sensor.
  guard.settledAfter = frame.number + 1;
  return true;
}

}  // namespace

bool RunAutoExposureStep(CCameraBase& camera, const MeasuredFrame& frame, StepGuard& guard) {
  return RunGuarded(frame, guard, [&camera](const uint8_t* bytes, size_t length) {
    return camera.ApplyAutoExposure(camera.AutoExpGain(bytes, length));
  });
}

bool RunAutoWhiteBalanceStep(CCameraBase& camera, const MeasuredFrame& frame, StepGuard& guard) {
  return RunGuarded(frame, guard, [&camera](const uint8_t* bytes, size_t length) {
    return camera.ApplyWhiteBalance(camera.AutoWhiBal(bytes, length));
  });
}

}  // namespace okc::core
