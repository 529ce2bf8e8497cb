#include "models/HostTimedExposure.h"

namespace okc::models {

namespace {
constexpr uint64_t kStepMs = 500;
// Up to this the exposure is one sleep.
constexpr uint64_t kOneSleepUpToUs = 1000000;
}  // namespace

bool WaitHostTimedExposure(core::CaptureContext& context, uint64_t exposureUs, const std::function<bool()>& unchanged) {
  if (exposureUs <= kOneSleepUpToUs) return context.Sleep(exposureUs / 1000);
  const uint64_t stepUs = kStepMs * 1000;
  bool going = context.SleepSteps(static_cast<int64_t>(exposureUs / stepUs), kStepMs, unchanged);
  // The rest of the exposure, shorter than a step.
  const uint64_t restMs = (exposureUs % stepUs) / 1000;
  if (going && restMs > 0) going = context.SleepSteps(1, restMs, unchanged);
  return going;
}

}  // namespace okc::models
