// What a model's capture holds for its runs: the shared engine driven by the
// model's policy, and the frame delivery that reads what the engine queues.
// The owner declares it last, so the engine stops its threads before the
// policy's own members go.
#pragma once

#include "core/CaptureEngine.h"
#include "core/FrameDelivery.h"

namespace okc::core {

class CaptureRun {
 public:
  // `camera` and `policy` outlive the run; the policy may still be being built.
  CaptureRun(CCameraBase& camera, CapturePolicy& policy, const DeliveryVariant& variant)
      : engine_(camera, policy), delivery_(camera, engine_, variant) {}

  bool Start() { return engine_.Start(); }
  // The stages' frames go with the run; a later frame that needs them makes them again.
  bool Stop() {
    const bool stopped = engine_.Stop();
    delivery_.ReleaseStageFrames();
    return stopped;
  }
  bool Starting() const { return engine_.Starting(); }
  bool Deliver(unsigned char* buffer, int size, unsigned long timeoutMs) {
    return delivery_.Deliver(buffer, size, timeoutMs);
  }

 private:
  CaptureEngine engine_;
  FrameDelivery delivery_;
};

}  // namespace okc::core
