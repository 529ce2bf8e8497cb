// Guide pulses: output on, wait the pulse length on the caller's thread, output off.
#include <mutex>

#include "core/ControllerRequests.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/Clock.h"

namespace {
namespace controller = okc::core::controller;
}  // namespace

bool CCameraBase::pulseGuide(GuideD direction, int durationMs) {
  const int d = static_cast<int>(direction);
  if (d < 0 || d > 3) return true;
  // The port's requests hold the sensor lock so the camera cannot be closed
  // under them; the pulse itself is timed without it.
  {
    std::lock_guard lock(SensorLock());
    if (opened) SendCMD(controller::kGuidePulseOn, static_cast<unsigned short>(d), 0, false, nullptr, 0);
  }
  // A negative length is taken as no wait: the output is switched off at once.
  if (durationMs > 0) okc::platform::SleepMs(static_cast<uint64_t>(durationMs));
  // Switched off whatever the switch-on request answered, so a pulse never stays on.
  std::lock_guard lock(SensorLock());
  if (opened) SendCMD(controller::kGuidePulseOff, static_cast<unsigned short>(d), 0, false, nullptr, 0);
  return true;
}
