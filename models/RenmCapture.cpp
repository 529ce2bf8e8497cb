// RENM on the capture engine: all transfers of a frame queued at once in
// 307 200-byte pieces, alternating between two buffers; waits from the
// sensor's frame time or the exposure; the long exposure the host times
// between 0xAE and 0xAF; the port reset on the 32nd incomplete or the 22nd
// unmarked frame in a row; automatic exposure on the companion (or, for long
// exposures, after each frame); and the freeze of the sensor's black-level
// calibration after a gain change.
#include "models/RenmCapture.h"

#include <algorithm>

#include "core/ControllerRequests.h"
#include "core/FrameMarker.h"
#include "core/ModelInfo.h"
#include "models/HostTimedExposure.h"
#include "models/PimcCapture.h"
#include "okccamera/CCameraRENM.h"

namespace okc::models {

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegExposureRows = 0x09;
constexpr unsigned short kRegRestart = 0x0B;
constexpr unsigned short kRegReadMode = 0x1E;
constexpr unsigned short kReadModeNormal = 0x8000;
constexpr unsigned short kReadModeTriggered = 0x8100;  // one frame per 0xAE / 0xAF
// Shutter rows while the host times the exposure.
constexpr unsigned short kLongExposureRows = 0x3000;

constexpr uint32_t kChunkBytes = 307200;
// A transfer still pending after its wait gets this much longer.
constexpr uint32_t kSecondWaitMs = 200;
// Beyond the frame time, for the transfer itself.
constexpr uint32_t kTransferExtraMs = 2;

constexpr uint64_t kLongExposureSettleMs = 100;
constexpr uint32_t kLongExposureWaitMs = 2000;
constexpr uint32_t kRequeueWaitMs = 1;
// Back in normal mode below these.
constexpr uint64_t kNormalRowsBelow = 16383;
constexpr uint64_t kNormalExposureBelowUs = 10000000;
// After the port reset for incomplete frames.
constexpr uint64_t kRestartSettleMs = 200;

// Bad frames in a row before the port is reset: the 22nd unmarked, the 32nd incomplete.
constexpr int kResetPortAbove = 20;
constexpr int kResetPortAboveIncomplete = 30;

// Below this exposure frames are judged by their successor, and automatic
// exposure runs on the companion; above it on the worker after each frame.
constexpr uint64_t kShortExposureBelowUs = 500000;

// The sensor's calibration has settled after this many ms of frame waits.
constexpr int32_t kCalibrationSettleMs = 800;

core::DeliveryVariant Delivery() {
  // SELM's software binning and outputs.
  core::DeliveryVariant variant = PimcDeliveryVariant(core::ModelId::SELM);
  variant.repair = core::HeaderRepair::MarkerFromRowsBelow;
  variant.fullWordFor16Bit = true;
  variant.checkMarker = true;
  variant.lookAheadBelowUs = kShortExposureBelowUs;
  return variant;
}

core::RecoveryRules Rules() {
  core::RecoveryRules rules;
  rules.resetPortAbove = kResetPortAbove;
  rules.resetPortAboveIncomplete = kResetPortAboveIncomplete;
  rules.restartAfterIncomplete = core::StreamRestart::EndExposureAndStart;
  rules.restartAfterPartial = core::StreamRestart::Start;
  rules.nudgeOnPartialReset = false;
  rules.nudgeAtStreak = 0;
  rules.flushAfterPartial = true;
  rules.flushAfterUnmarked = true;
  rules.autoBandwidthAbove = 0;
  return rules;
}

}  // namespace

RenmCapture::RenmCapture(CCameraRENM& camera)
    : cam_(camera), rules_(Rules()), run_(camera, *this, Delivery()) {}

// ---- starting and stopping the stream ----

core::TransferPlan RenmCapture::PlanFrame() {
  return core::TransferPlan::ForWindow(cam_.width, cam_.height, cam_.bin, cam_.output16Bits, kChunkBytes);
}

void RenmCapture::PrepareStream(const core::TransferPlan&) {
  cam_.SendCMD(controller::kEndLongExposure);
  cam_.WriteCameraRegister(kRegReadMode, cam_.longExposure ? kReadModeTriggered : kReadModeNormal);
}

void RenmCapture::StartStream() { cam_.SendCMD(controller::kStartStreaming); }

void RenmCapture::StopStream() {
  if (cam_.opened) cam_.SendCMD(controller::kStopStreaming);
}

// ---- reading frames ----

core::FrameWaits RenmCapture::NormalWaits(const core::TransferPlan&) {
  const uint64_t frameUs = cam_.FrameTimeUs();
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t waitMs = exposureUs < frameUs ? frameUs / 1000 + kTransferExtraMs : exposureUs / 1000;
  transferWaitMs_ = static_cast<uint32_t>(std::min<uint64_t>(waitMs, UINT32_MAX));
  core::FrameWaits waits;
  waits.firstMs = transferWaitMs_;
  waits.laterMs = transferWaitMs_;
  waits.waitTwice = true;
  waits.secondWaitMs = kSecondWaitMs;
  return waits;
}

core::FrameVerdict RenmCapture::CheckFrame(const uint8_t* frame, size_t) {
  return core::StartsWithFrameMarker(frame) ? core::FrameVerdict::Good : core::FrameVerdict::Unmarked;
}

bool RenmCapture::QueueUnmarkedFrame() { return cam_.exposure < kShortExposureBelowUs; }

// ---- long exposures ----

bool RenmCapture::LongExposurePending() { return cam_.longExposure; }

std::optional<core::FrameWaits> RenmCapture::RunLongExposure(core::CaptureContext& context) {
  const uint64_t startExposureUs = cam_.exposure;
  cam_.WriteCameraRegister(kRegExposureRows, kLongExposureRows);
  cam_.WriteCameraRegister(kRegReadMode, kReadModeTriggered);
  cam_.WriteCameraRegister(kRegRestart, 1);
  if (!context.Sleep(kLongExposureSettleMs)) return std::nullopt;
  cam_.SendCMD(controller::kBeginLongExposure);
  // What the transfers caught before the exposure began is not its frame.
  context.RequeueTransfers(kRequeueWaitMs);
  // A stop or a new exposure ends the wait early.
  const bool going = WaitHostTimedExposure(context, startExposureUs,
                                           [this, startExposureUs] { return cam_.exposure == startExposureUs; });
  cam_.SendCMD(controller::kEndLongExposure);
  if (!going) return std::nullopt;
  transferWaitMs_ = kLongExposureWaitMs;
  core::FrameWaits waits;
  waits.firstMs = kLongExposureWaitMs;
  waits.laterMs = kLongExposureWaitMs;
  waits.waitTwice = false;
  return waits;
}

void RenmCapture::AfterLongExposure() {
  cam_.SetGain(cam_.gain, cam_.autoGain);
  // Back in range of the shutter register: leave long-exposure mode at the clock chosen.
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t rows = cam_.ExposureRows(exposureUs);
  if (rows < kNormalRowsBelow && exposureUs < kNormalExposureBelowUs) {
    cam_.SetCMOSClk(cam_.cmosClk);
    cam_.WriteCameraRegister(kRegReadMode, kReadModeNormal);
    cam_.WriteCameraRegister(kRegExposureRows, static_cast<unsigned short>(rows));
    cam_.longExposure = false;
  }
}

// ---- recovery ----

void RenmCapture::RestartStream(core::StreamRestart how, core::CaptureContext& context) {
  if (!cam_.opened) return;
  if (how == core::StreamRestart::EndExposureAndStart) {
    // After frames that did not arrive whole.
    cam_.SendCMD(controller::kEndLongExposure);
    if (!context.Sleep(kRestartSettleMs) || !cam_.opened) return;
    cam_.WriteCameraRegister(kRegRestart, 1);
    cam_.WriteCameraRegister(kRegReadMode, kReadModeNormal);
  } else {
    // After frames without their marker.
    cam_.WriteCameraRegister(kRegRestart, 1);
  }
}

// ---- automatic exposure and the black-level freeze ----

bool RenmCapture::AutoOn() const { return cam_.autoExp || cam_.autoGain; }

bool RenmCapture::WantsMeasurementFrame() { return AutoOn(); }

void RenmCapture::AfterGoodFrame(const core::MeasuredFrame& frame) {
  if (AutoOn() && cam_.exposure > kShortExposureBelowUs) core::RunAutoExposureStep(cam_, frame, exposureGuard_);
}

void RenmCapture::CompanionTick(const core::MeasuredFrame* frame) {
  if (!frame || cam_.longExposure || !AutoOn() || cam_.exposure >= kShortExposureBelowUs) return;
  core::RunAutoExposureStep(cam_, *frame, exposureGuard_);
}

void RenmCapture::AfterHandOff() {
  if (!cam_.blackLevelFrozen) return;
  cam_.blackLevelTimerMs += static_cast<int32_t>(std::min<uint32_t>(transferWaitMs_, kCalibrationSettleMs + 1));
  if (cam_.blackLevelTimerMs <= kCalibrationSettleMs) return;
  // The calibration has settled: keep what it found, one offset for the pair
  // at 0x60 and 0x61 and one for the pair at 0x63 and 0x64, each the larger.
  bool automatic = false;
  signed char offsets[4] = {};
  cam_.GetBLOffset(&automatic, &offsets[0], &offsets[1], &offsets[2], &offsets[3]);
  const signed char first = std::max(offsets[0], offsets[1]);
  const signed char second = std::max(offsets[2], offsets[3]);
  cam_.SetBLOffset(false, first, first, second, second);
  // Still automatic as the host sees it: the next gain change calibrates again.
  cam_.autoBL = true;
}

}  // namespace okc::models
