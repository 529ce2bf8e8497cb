// How the PIMC family streams: its capture policy on the shared engine and its
// frame delivery variant.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "core/CameraAuto.h"
#include "core/CaptureEngine.h"
#include "core/CaptureRun.h"
#include "core/FrameDelivery.h"
#include "core/RecoveryRules.h"

class CCameraPimcFamily;
namespace okc::core {
enum class ModelId;
}

namespace okc::models {

// The family's recovery: the 22nd bad frame in a row resets the port (then
// restarts the sensor, after frames that did not arrive whole also ending any
// host-timed exposure); only frames without their marker flush the pipe.
core::RecoveryRules PimcRecoveryRules();

// How frames of a model of the family are delivered (SELM's: mono, software
// binning of the samples, the spread 16-bit output).
core::DeliveryVariant PimcDeliveryVariant(core::ModelId model);

class PimcCapture final : public core::CapturePolicy {
 public:
  // The camera object is still being built.
  PimcCapture(CCameraPimcFamily& camera, core::ModelId model);

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
  const core::RecoveryRules& Recovery() const override { return rules_; }
  void RestartStream(core::StreamRestart how, core::CaptureContext& context) override;
  void AfterGoodFrame(const core::MeasuredFrame& frame) override;
  // The auto-adjustment thread: it waits for the worker's request.
  uint64_t CompanionPeriodMs() const override { return kAdjustmentPollMs; }
  void CompanionTick(const core::MeasuredFrame* frame) override;
  bool WantsMeasurementFrame() override;

 private:
  static constexpr uint64_t kAdjustmentPollMs = 10;

  // Frame time in microseconds from the window and the clock.
  uint64_t FrameTimeUs() const;
  // Whether any automatic mode that this model runs is on.
  bool AutoOn() const;

  CCameraPimcFamily& cam_;
  // SELM has no colour: its automatic modes are exposure and gain only.
  const bool balances_;
  const core::RecoveryRules rules_;
  // Gain when the current host-timed exposure began.
  int longExposureGain_ = 0;
  // The per-transfer wait of the last normal frame, for the pacing.
  uint32_t transferWaitMs_ = 0;
  // Frames since the last auto-adjustment, and a request for the next one.
  uint32_t pacing_ = 0;
  std::atomic<bool> adjustmentRequested_{false};
  core::StepGuard exposureGuard_;
  core::StepGuard balanceGuard_;
  core::CaptureRun run_;
};

}  // namespace okc::models
