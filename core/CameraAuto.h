// The automatic exposure, gain and white-balance steps as the capture engine
// runs them: on a private copy of the newest frame the capture worker handed
// to the frame queue (never a transfer buffer a transfer may still be
// filling), applied through the model's setters.
//
// A step that changed something waits for a frame exposed after the change:
// the frame already on its way when the values were written still shows the
// old ones, and measuring it again would correct the same error twice.
#pragma once

class CCameraBase;

namespace okc::core {

// Exposure and gain (AutoExpGain). True when new values were stored; the
// engine then writes them to the sensor (on the TAV family the companion
// thread's SetExp() / SetGain()).
bool RunAutoExposureStep(CCameraBase& camera);
// White balance (AutoWhiBal). True when a new balance was set.
bool RunAutoWhiteBalanceStep(CCameraBase& camera);

}  // namespace okc::core
