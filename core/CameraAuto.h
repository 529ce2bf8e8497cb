// The automatic exposure, gain and white-balance steps as the capture engine
// runs them: on the engine's stable copy of a good frame (never a transfer
// buffer a transfer may still be filling), applied through the model's setters.
//
// A step that changed something waits for a frame exposed after the change:
// the frame already on its way when the values were written still shows the
// old ones, and measuring it again would correct the same error twice.
#pragma once

#include <cstdint>

#include "core/CaptureEngine.h"

class CCameraBase;

namespace okc::core {

// When a step may measure again: frames numbered up to `settledAfter` may
// show the values before its last change. One per camera and step.
struct StepGuard {
  uint64_t settledAfter = 0;
};

// Exposure and gain (AutoExpGain). True when new values were stored; the
// engine then writes them to the sensor (on the TAV family the companion
// thread's SetExp() / SetGain()).
bool RunAutoExposureStep(CCameraBase& camera, const MeasuredFrame& frame, StepGuard& guard);
// White balance (AutoWhiBal). True when a new balance was set.
bool RunAutoWhiteBalanceStep(CCameraBase& camera, const MeasuredFrame& frame, StepGuard& guard);

}  // namespace okc::core
