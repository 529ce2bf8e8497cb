// How the TAV family streams: its capture policy on the shared engine and its
// frame delivery variant.
#pragma once

#include <cstdint>
#include <optional>

#include "core/CameraAuto.h"
#include "core/CaptureEngine.h"
#include "core/CaptureRun.h"
#include "core/FrameDelivery.h"
#include "core/RecoveryRules.h"

class CCameraTAV;

namespace okc::models {

class TavCapture final : public core::CapturePolicy {
 public:
  // `colour`: the sensor has a colour filter; `usb3`: the camera has the USB 3
  // controller (the camera object is still being built).
  TavCapture(CCameraTAV& camera, bool colour, bool usb3);

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
  bool QueueUnmarkedFrame() override;
  const core::RecoveryRules& Recovery() const override { return rules_; }
  bool AutoBandwidthOn() override;
  void NudgeLineLength() override;
  void RestartStream(core::StreamRestart how, core::CaptureContext& context) override;
  void ReduceBandwidth() override;
  void AfterGoodFrame(const core::MeasuredFrame& frame) override;
  void CompanionTick(const core::MeasuredFrame* frame) override;
  bool WantsMeasurementFrame() override;

 private:
  // Frame period in microseconds from the window, line length and clock.
  int64_t FramePeriodUs() const;
  void LeaveLongExposure();

  // The USB 3 models' entry into long-exposure mode, once per stay in it.
  bool EnterUsb3LongExposure(core::CaptureContext& context);

  CCameraTAV& cam_;
  const bool usb3_;
  const core::RecoveryRules rules_;
  // The clock (MHz) before a long exposure switched to 24 MHz; 0 while unknown.
  int longExposureClock_ = 0;
  // When the automatic steps may measure again.
  core::StepGuard exposureGuard_;
  core::StepGuard balanceGuard_;
  core::CaptureRun run_;
};

}  // namespace okc::models
