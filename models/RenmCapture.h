// How RENM streams: its capture policy on the shared engine (the PIMC design
// with 307 200-byte transfers into alternating buffers, the black-level
// freeze, automatic exposure on the companion) and its frame delivery variant
// (SELM's mono output, a frame accepted by its successor's marker at short
// exposures, the full 16-bit word for IMAGE_16BIT).
#pragma once

#include <cstdint>
#include <optional>

#include "core/CameraAuto.h"
#include "core/CaptureEngine.h"
#include "core/CaptureRun.h"
#include "core/FrameDelivery.h"
#include "core/RecoveryRules.h"

class CCameraRENM;

namespace okc::models {

class RenmCapture final : public core::CapturePolicy {
 public:
  // The camera object is still being built.
  explicit RenmCapture(CCameraRENM& camera);

  core::CaptureRun& Run() { return run_; }

  // ---- CapturePolicy ----
  core::TransferPlan PlanFrame() override;
  void PrepareStream(const core::TransferPlan& plan) override;
  void StartStream() override;
  void StopStream() override;
  core::FrameWaits NormalWaits(const core::TransferPlan& plan) override;
  bool LongExposurePending() override;
  std::optional<core::FrameWaits> RunLongExposure(core::CaptureContext& context) override;
  void AfterLongExposure() override;
  core::FrameVerdict CheckFrame(const uint8_t* frame, size_t bytes) override;
  // Short exposures: delivery judges such a frame's predecessor by it.
  bool QueueUnmarkedFrame() override;
  const core::RecoveryRules& Recovery() const override { return rules_; }
  void RestartStream(core::StreamRestart how, core::CaptureContext& context) override;
  void AfterGoodFrame(const core::MeasuredFrame& frame) override;
  // The black-level freeze, once the calibration has had its frames.
  void AfterHandOff() override;
  void CompanionTick(const core::MeasuredFrame* frame) override;
  bool WantsMeasurementFrame() override;

 private:
  bool AutoOn() const;

  CCameraRENM& cam_;
  const core::RecoveryRules rules_;
  // The per-transfer wait of the last frame read, which the calibration timer counts.
  uint32_t transferWaitMs_ = 0;
  core::StepGuard exposureGuard_;
  core::CaptureRun run_;
};

}  // namespace okc::models
