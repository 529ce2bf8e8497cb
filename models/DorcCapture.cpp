// The DORC on the capture engine: 372 736-byte transfers into alternating
// buffers, waits from the frame time or the exposure, the long exposure the
// host times between 0xAE and 0xAF, a longer line after 3 incomplete frames
// and a port reset on the 52nd bad one, and a companion thread that runs the
// automatic modes and applies the exposure and gain stored while streaming.
#include "models/DorcCapture.h"

#include <algorithm>

#include "core/ControllerRequests.h"
#include "core/FrameMarker.h"
#include "okccamera/CCameraDORC.h"
#include "okccamera/Clock.h"

namespace okc::models {

namespace {

namespace controller = okc::core::controller;

constexpr unsigned short kRegLineLength = 0x300C;
constexpr unsigned short kRegIntegrationRows = 0x3012;
constexpr unsigned short kLongExposureRows = 0x2FFF;

constexpr uint32_t kChunkBytes = 0x5B000;  // 372 736
constexpr uint64_t kStreamSettleMs = 100;
// Waits of a normal frame: past the frame time, or a second past the exposure.
constexpr uint32_t kFrameTimeMarginMs = 5;
constexpr uint32_t kExposureMarginMs = 1000;
constexpr uint32_t kLaterWaitMs = 200;

constexpr uint64_t kLongExposureSettleMs = 200;
constexpr uint64_t kLongExposureStepMs = 500;
constexpr uint64_t kOneSleepUpToUs = 1000000;
constexpr uint64_t kLongExposureLineRows = 12287;
constexpr int64_t kRowClockOffset = 29;
constexpr uint64_t kLeaveSettleMs = 100;
constexpr uint64_t kNormalRowsBelow = 65535;
constexpr uint64_t kNormalExposureBelowUs = 60000000;
constexpr uint32_t kRequeueWaitMs = 1;

// Recovery: a longer line by this much; port reset on the 52nd bad frame in a row.
constexpr uint16_t kLineNudge = 30;
constexpr int kResetPortAbove = 50;
constexpr uint64_t kRestartSettleMs = 200;

// From here on the worker runs automatic exposure after each frame, below it the companion.
constexpr uint64_t kWorkerAutoExposureUs = 600000;

core::DeliveryVariant Delivery() {
  core::DeliveryVariant variant;
  variant.repair = core::HeaderRepair::RowsBelow;
  variant.wideSamples = core::WideSamples::Packed12;
  // The worker never queues an unmarked frame.
  variant.lookAheadBelowUs = 0;
  // A frame that holds a second marker caught the start of the next one.
  variant.rejectRecurringMarker = true;
  return variant;
}

core::RecoveryRules Rules() {
  core::RecoveryRules rules;
  rules.resetPortAbove = kResetPortAbove;
  rules.restartAfterIncomplete = core::StreamRestart::EndExposureAndStart;
  rules.restartAfterPartial = core::StreamRestart::Start;
  rules.nudgeOnPartialReset = true;
  rules.nudgeAtStreak = 3;
  rules.flushAfterPartial = false;
  rules.flushAfterUnmarked = true;
  rules.autoBandwidthAbove = 0;
  return rules;
}

}  // namespace

DorcCapture::DorcCapture(CCameraDORC& camera)
    : cam_(camera), rules_(Rules()), run_(camera, *this, Delivery()) {}

// ---- starting and stopping the stream ----

core::TransferPlan DorcCapture::PlanFrame() {
  return core::TransferPlan::ForWindow(cam_.width, cam_.height, cam_.bin, cam_.output16Bits, kChunkBytes);
}

void DorcCapture::PrepareStream(const core::TransferPlan&) {
  cam_.SendCMD(controller::kStopStreaming);
  cam_.SendCMD(controller::kEndLongExposure);
}

uint64_t DorcCapture::StreamSettleMs() const { return kStreamSettleMs; }
void DorcCapture::StartStream() { cam_.SendCMD(controller::kStartStreaming); }
void DorcCapture::StopStream() {
  if (cam_.opened) cam_.SendCMD(controller::kStopStreaming);
}

// ---- reading frames ----

core::FrameWaits DorcCapture::NormalWaits(const core::TransferPlan&) {
  const uint64_t frameUs = cam_.FrameTimeUs();
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t firstMs =
      exposureUs < frameUs ? frameUs / 1000 + kFrameTimeMarginMs : exposureUs / 1000 + kExposureMarginMs;
  core::FrameWaits waits;
  waits.firstMs = static_cast<uint32_t>(std::min<uint64_t>(firstMs, UINT32_MAX));
  waits.laterMs = kLaterWaitMs;
  waits.waitTwice = true;  // once more, as long again
  return waits;
}

core::FrameVerdict DorcCapture::CheckFrame(const uint8_t* frame, size_t) {
  return core::StartsWithFrameMarker(frame) ? core::FrameVerdict::Good : core::FrameVerdict::Unmarked;
}

// ---- long exposures ----

bool DorcCapture::LongExposurePending() { return cam_.longExposure; }

uint64_t DorcCapture::LongExposureReadoutMs() const {
  const uint64_t clocks = uint64_t{cam_.lineLength} * kLongExposureLineRows + kRowClockOffset;
  return clocks / static_cast<uint64_t>(std::max(cam_.cmosClk, 1)) / 1000;
}

std::optional<core::FrameWaits> DorcCapture::RunLongExposure(core::CaptureContext& context) {
  const uint64_t startExposureUs = cam_.exposure;
  cam_.WriteCameraRegister(kRegIntegrationRows, kLongExposureRows);
  if (!context.Sleep(kLongExposureSettleMs)) return std::nullopt;
  cam_.SendCMD(controller::kBeginLongExposure);
  // What the transfers caught before the exposure began is not its frame.
  context.RequeueTransfers(kRequeueWaitMs);

  // The sensor's own integration of the long-exposure rows is part of the exposure.
  const uint64_t readoutMs = LongExposureReadoutMs();
  const auto unchanged = [this, startExposureUs] { return cam_.exposure == startExposureUs; };
  bool going;
  if (startExposureUs <= kOneSleepUpToUs) {
    going = context.Sleep(startExposureUs / 1000);
  } else {
    const int64_t steps = static_cast<int64_t>(startExposureUs / (kLongExposureStepMs * 1000)) -
                          static_cast<int64_t>(readoutMs / kLongExposureStepMs);
    going = context.SleepSteps(std::max<int64_t>(steps, 0), kLongExposureStepMs, unchanged);
  }
  cam_.SendCMD(controller::kEndLongExposure);
  if (!going || !context.Capturing()) return std::nullopt;
  core::FrameWaits waits;
  waits.firstMs = static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(readoutMs, 1), UINT32_MAX));
  waits.laterMs = kLaterWaitMs;
  waits.waitTwice = false;
  return waits;
}

void DorcCapture::AfterLongExposure() {
  cam_.SetGain();
  const uint64_t exposureUs = cam_.exposure;
  const int64_t clocks = static_cast<int64_t>(cam_.cmosClk) * static_cast<int64_t>(exposureUs) - kRowClockOffset;
  const int64_t rows = clocks / std::max<int64_t>(cam_.lineLength, 1);
  if (rows < static_cast<int64_t>(kNormalRowsBelow) && exposureUs < kNormalExposureBelowUs) {
    // Back in range of the shutter register: leave long-exposure mode.
    cam_.SendCMD(controller::kEndLongExposure);
    okc::platform::SleepMs(kLeaveSettleMs);
    cam_.WriteCameraRegister(kRegIntegrationRows, static_cast<unsigned short>(std::max<int64_t>(rows, 1)));
    cam_.SetExp(exposureUs, cam_.autoExp);
    cam_.SendCMD(controller::kStartStreaming);
    cam_.longExposure = false;
  }
}

// ---- recovery ----

void DorcCapture::NudgeLineLength() {
  if (cam_.opened) cam_.WriteCameraRegister(kRegLineLength, static_cast<unsigned short>(cam_.lineLength + kLineNudge));
}

void DorcCapture::RestartStream(core::StreamRestart how, core::CaptureContext& context) {
  if (!cam_.opened) return;
  if (how == core::StreamRestart::EndExposureAndStart) {
    // After frames that did not arrive whole.
    cam_.SendCMD(controller::kEndLongExposure);
    cam_.SendCMD(controller::kStartStreaming);
    context.Sleep(kRestartSettleMs);
  } else {
    // After frames without their marker.
    cam_.SendCMD(controller::kStartStreaming);
  }
}

// ---- automatic modes and deferred settings ----

bool DorcCapture::WantsMeasurementFrame() { return cam_.autoExp || cam_.autoGain || cam_.autoWB; }

void DorcCapture::AfterGoodFrame(const core::MeasuredFrame& frame) {
  if ((cam_.autoExp || cam_.autoGain) && cam_.exposure > kWorkerAutoExposureUs)
    core::RunAutoExposureStep(cam_, frame, exposureGuard_);
}

void DorcCapture::CompanionTick(const core::MeasuredFrame* frame) {
  if (cam_.longExposure) return;  // the worker applies gain and exposure after the exposure
  if (frame && (cam_.autoExp || cam_.autoGain) && cam_.exposure < kWorkerAutoExposureUs)
    core::RunAutoExposureStep(cam_, *frame, exposureGuard_);
  if (frame && cam_.autoWB) core::RunAutoWhiteBalanceStep(cam_, *frame, balanceGuard_);
  // What the host stored while streaming reaches the sensor here, once.
  cam_.SetExp();
  cam_.SetGain();
}

}  // namespace okc::models
