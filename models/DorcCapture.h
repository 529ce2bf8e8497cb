// How the DORC streams: its capture policy on the shared engine and its frame
// delivery variant.
#pragma once

#include <optional>

#include "core/CameraAuto.h"
#include "core/CaptureEngine.h"
#include "core/CaptureRun.h"
#include "core/FrameDelivery.h"
#include "core/RecoveryRules.h"

class CCameraDORC;

namespace okc::models {

class DorcCapture final : public core::CapturePolicy {
 public:
  // The camera object is still being built.
  explicit DorcCapture(CCameraDORC& camera);

  core::CaptureRun& Run() { return run_; }

  // ---- CapturePolicy ----
  core::TransferPlan PlanFrame() override;
  void PrepareStream(const core::TransferPlan& plan) override;
  uint64_t StreamSettleMs() const override;
  void StartStream() override;
  void StopStream() override;
  core::FrameWaits NormalWaits(const core::TransferPlan& plan) override;
  bool LongExposurePending() override;
  std::optional<core::FrameWaits> RunLongExposure(core::CaptureContext& context) override;
  void AfterLongExposure() override;
  core::FrameVerdict CheckFrame(const uint8_t* frame, size_t bytes) override;
  const core::RecoveryRules& Recovery() const override { return rules_; }
  void NudgeLineLength() override;
  void RestartStream(core::StreamRestart how, core::CaptureContext& context) override;
  void AfterGoodFrame(const core::MeasuredFrame& frame) override;
  void CompanionTick(const core::MeasuredFrame* frame) override;
  bool WantsMeasurementFrame() override;

 private:
  // The sensor's own integration of the long-exposure rows, in ms.
  uint64_t LongExposureReadoutMs() const;

  CCameraDORC& cam_;
  const core::RecoveryRules rules_;
  core::StepGuard exposureGuard_;
  core::StepGuard balanceGuard_;
  core::CaptureRun run_;
};

}  // namespace okc::models
