// The PIMC family on the capture engine: all transfers of a frame queued at
// once in 480 000-byte pieces, waits from the sensor's frame time or the
// exposure, the long exposure the host times between 0xAE and 0xAF, recovery
// after 22 bad frames in a row, and automatic exposure, gain and white balance
// paced by the frames that arrive.
#include "models/PimcCapture.h"

#include <algorithm>

#include "core/ControllerRequests.h"
#include "core/FrameMarker.h"
#include "core/ModelInfo.h"
#include "models/HostTimedExposure.h"
#include "okccamera/CCameraPimcFamily.h"

namespace okc::models {

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegChipControl = 0x07;
constexpr unsigned short kRegExposureRows = 0x0B;
constexpr unsigned short kRegRestart = 0x0C;
constexpr unsigned short kChipControlValue = 0x188;
// Shutter rows while the host times the exposure.
constexpr unsigned short kLongExposureRows = 0x6000;

constexpr uint32_t kChunkBytes = 480000;
// Frame time: 45 blanking rows and 4 clocks beyond the window's rows.
constexpr uint64_t kBlankingRows = 45;
constexpr uint64_t kFrameExtraClocks = 4;
// A transfer still pending after its wait gets this much longer.
constexpr uint32_t kSecondWaitMs = 200;

constexpr uint64_t kLongExposureSettleMs = 100;
constexpr uint32_t kLongExposureWaitMs = 2000;
constexpr uint32_t kRequeueWaitMs = 1;
// Back in normal mode below these.
constexpr uint64_t kNormalRowsBelow = 32767;
constexpr uint64_t kNormalExposureBelowUs = 10000000;

// Bad frames in a row before the port is reset: the 22nd.
constexpr int kResetPortAbove = 20;

// Above this exposure the automatic step runs on the worker after each frame;
// below it the worker asks the auto-adjustment thread about every 200 ms.
constexpr uint64_t kWorkerAutoExposureUs = 500000;
constexpr uint64_t kAdjustmentEveryMs = 200;

}  // namespace

// ---- recovery and frame delivery ----

core::RecoveryRules PimcRecoveryRules() {
  core::RecoveryRules rules;
  rules.resetPortAbove = kResetPortAbove;
  rules.restartAfterIncomplete = core::StreamRestart::EndExposureAndStart;
  rules.restartAfterPartial = core::StreamRestart::Start;
  rules.nudgeOnPartialReset = false;
  rules.nudgeAtStreak = 0;
  rules.flushAfterPartial = false;
  rules.flushAfterUnmarked = true;
  rules.autoBandwidthAbove = 0;
  return rules;
}

core::DeliveryVariant PimcDeliveryVariant(core::ModelId model) {
  core::DeliveryVariant variant;
  variant.repair = core::HeaderRepair::FourOutputRowsOn;
  variant.wideSamples = core::WideSamples::HighFirstShift6;
  variant.narrowWideFor8Bit = true;
  // The worker never queues an unmarked frame.
  variant.lookAheadBelowUs = 0;
  if (model == core::ModelId::PIMC) variant.fixedLumaDemosaic = true;
  if (model == core::ModelId::SELM) {
    variant.mono = true;
    variant.spreadAlt16 = true;
    variant.alt16Max = 1023;  // three 10-bit fields
  }
  return variant;
}

PimcCapture::PimcCapture(CCameraPimcFamily& camera, core::ModelId model)
    : cam_(camera),
      balances_(model != core::ModelId::SELM),
      rules_(PimcRecoveryRules()),
      run_(camera, *this, PimcDeliveryVariant(model)) {}

// ---- starting and stopping the stream ----

core::TransferPlan PimcCapture::PlanFrame() {
  return core::TransferPlan::ForWindow(cam_.width, cam_.height, cam_.bin, cam_.output16Bits, kChunkBytes);
}

void PimcCapture::PrepareStream(const core::TransferPlan&) { cam_.SendCMD(controller::kEndLongExposure); }
void PimcCapture::StartStream() { cam_.SendCMD(controller::kStartStreaming); }
void PimcCapture::StopStream() {
  if (cam_.opened) cam_.SendCMD(controller::kStopStreaming);
}

// ---- reading frames ----

uint64_t PimcCapture::FrameTimeUs() const {
  const uint64_t rows = static_cast<uint64_t>(std::max(cam_.bin * cam_.height, 0)) + kBlankingRows;
  const uint64_t clocks = rows * static_cast<uint64_t>(std::max(cam_.RowClocks(), 0)) + kFrameExtraClocks;
  return clocks / static_cast<uint64_t>(std::max(cam_.cmosClk, 1));
}

core::FrameWaits PimcCapture::NormalWaits(const core::TransferPlan&) {
  const uint64_t frameUs = FrameTimeUs();
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t waitUs = exposureUs < frameUs ? frameUs : exposureUs;
  transferWaitMs_ = static_cast<uint32_t>(std::min<uint64_t>(waitUs / 1000, UINT32_MAX));
  core::FrameWaits waits;
  waits.firstMs = transferWaitMs_;
  waits.laterMs = transferWaitMs_;
  waits.waitTwice = true;
  waits.secondWaitMs = kSecondWaitMs;
  return waits;
}

core::FrameVerdict PimcCapture::CheckFrame(const uint8_t* frame, size_t) {
  return core::StartsWithFrameMarker(frame) ? core::FrameVerdict::Good : core::FrameVerdict::Unmarked;
}

// ---- long exposures ----

bool PimcCapture::LongExposurePending() { return cam_.longExposure; }

std::optional<core::FrameWaits> PimcCapture::RunLongExposure(core::CaptureContext& context) {
  const uint64_t startExposureUs = cam_.exposure;
  longExposureGain_ = cam_.gain;
  cam_.WriteCameraRegister(kRegExposureRows, kLongExposureRows);
  if (!context.Sleep(kLongExposureSettleMs)) return std::nullopt;
  cam_.SendCMD(controller::kBeginLongExposure);
  // What the transfers caught before the exposure began is not its frame.
  context.RequeueTransfers(kRequeueWaitMs);

  // A stop or a new exposure ends the wait early.
  const bool going = WaitHostTimedExposure(context, startExposureUs,
                                           [this, startExposureUs] { return cam_.exposure == startExposureUs; });
  cam_.SendCMD(controller::kEndLongExposure);
  if (!going || !context.Sleep(kLongExposureSettleMs)) return std::nullopt;
  core::FrameWaits waits;
  waits.firstMs = kLongExposureWaitMs;
  waits.laterMs = kLongExposureWaitMs;
  waits.waitTwice = true;
  waits.secondWaitMs = kSecondWaitMs;
  waits.giveUpAfterMiss = true;
  return waits;
}

void PimcCapture::AfterLongExposure() {
  if (cam_.gain != longExposureGain_) cam_.SetGain(cam_.gain, cam_.autoGain);
  // Back in range of the shutter register: leave long-exposure mode.
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t rows = cam_.ExposureRows(exposureUs);
  if (rows < kNormalRowsBelow && exposureUs < kNormalExposureBelowUs) {
    cam_.WriteCameraRegister(kRegRestart, 1);
    cam_.WriteCameraRegister(kRegExposureRows, static_cast<unsigned short>(rows));
    cam_.longExposure = false;
  }
}

// ---- recovery, after the port reset of the 22nd bad frame ----

void PimcCapture::RestartStream(core::StreamRestart how, core::CaptureContext&) {
  if (!cam_.opened) return;
  if (how == core::StreamRestart::EndExposureAndStart) {
    // After frames that did not arrive whole.
    cam_.SendCMD(controller::kEndLongExposure);
    cam_.WriteCameraRegister(kRegRestart, 1);
    cam_.WriteCameraRegister(kRegChipControl, kChipControlValue);
  } else {
    // After frames without their marker.
    cam_.WriteCameraRegister(kRegRestart, 1);
  }
}

// ---- automatic exposure, gain and white balance ----

bool PimcCapture::AutoOn() const { return cam_.autoExp || cam_.autoGain || (balances_ && cam_.autoWB); }

bool PimcCapture::WantsMeasurementFrame() { return AutoOn(); }

void PimcCapture::AfterGoodFrame(const core::MeasuredFrame& frame) {
  if (!AutoOn()) return;
  if (cam_.exposure > kWorkerAutoExposureUs) {
    if (cam_.autoExp || cam_.autoGain) core::RunAutoExposureStep(cam_, frame, exposureGuard_);
    return;
  }
  // About every 200 ms of frames (a wait below 1 ms counts as 1).
  ++pacing_;
  if (uint64_t{pacing_} * std::max<uint32_t>(transferWaitMs_, 1) > kAdjustmentEveryMs) {
    pacing_ = 0;
    adjustmentRequested_ = true;
  }
}

void PimcCapture::CompanionTick(const core::MeasuredFrame* frame) {
  if (!frame || !adjustmentRequested_.exchange(false)) return;
  if (cam_.autoExp || cam_.autoGain) core::RunAutoExposureStep(cam_, *frame, exposureGuard_);
  if (balances_ && cam_.autoWB) core::RunAutoWhiteBalanceStep(cam_, *frame, balanceGuard_);
}

}  // namespace okc::models
