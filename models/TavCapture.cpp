// The TAV family on the capture engine: transfers alternating between two
// buffers, waits from the sensor's frame period, the controller's stream
// commands, the long exposure the host times between 0xAE and 0xAF at 24 MHz,
// and the recovery steps of its sensor. The USB 3 models tell their
// controller the frame size, move 256 KiB per transfer, end each frame with a
// trailer, give up on a frame after one missed wait and recover by counting
// frames without data.
#include "models/TavCapture.h"

#include <algorithm>

#include "core/ControllerRequests.h"
#include "core/FrameMarker.h"
#include "models/TavcClock.h"
#include "models/TavcFrame.h"
#include "okccamera/CCameraTAV.h"

namespace okc::models {

namespace {

namespace controller = okc::core::controller;

// Sensor registers.
constexpr unsigned short kRegLineLength = 0x300C;
constexpr unsigned short kRegIntegration = 0x3012;
constexpr unsigned short kRegCoarseGain = 0x30B0;

// Integration lines while the host times the exposure (a full 12-bit count).
constexpr uint16_t kLongExposureLines = 4095;
// The sensor settles at 24 MHz before the controller starts the long exposure.
constexpr uint64_t kLongExposureSettleMs = 500;
constexpr uint64_t kLongExposureStepMs = 500;
// The exposure the integration register can hold before long-exposure mode is needed.
constexpr uint64_t kMaxIntegrationLines = 65535;
constexpr uint64_t kLongExposureThresholdUs = 60000000;

// Transfers after a frame's first wait no longer wait for the exposure.
constexpr uint32_t kLaterChunkTimeoutMs = 200;
// First-wait margins over the frame period, by the number of transfers per frame.
constexpr uint32_t kMarginSeveralChunksMs = 10;
constexpr uint32_t kMarginOneChunkMs = 8;
// At exposures from one frame period on, the first wait is the exposure plus this.
constexpr uint32_t kMarginLongFrameMs = 1000;
// Frame period arithmetic of the sensor: 26 blanking lines, 358 clocks less per frame.
constexpr int64_t kBlankingLines = 26;
constexpr int64_t kFrameClockTrim = 358;

constexpr uint64_t kPortResetSettleMs = 200;
constexpr uint64_t kUsb3PortResetSettleMs = 100;
constexpr uint64_t kUsb3RestartGapMs = 10;
// The line length is stretched by this many clocks to nudge a stuck sensor.
constexpr uint16_t kLineLengthNudge = 30;
constexpr int kAutoBandwidthStepPercent = 4;

// Automatic exposure below this runs on the companion thread every 200 ms,
// from it on on the worker after each good frame.
constexpr uint64_t kWorkerAutoExposureUs = 600000;
// Below this frame delivery looks at the frame after the one it delivers, so an
// unmarked frame is queued all the same (frame delivery discards it).
constexpr uint64_t kQueueUnmarkedBelowUs = 100000;
constexpr uint64_t kStartSettleMs = 100;

// USB 3 models.
constexpr uint32_t kUsb3ChunkBytes = 262144;
constexpr size_t kFrameSizeUnit = 16384;
constexpr uint64_t kUsb3StartSettleMs = 200;
constexpr uint32_t kUsb3MarginShortMs = 100;
constexpr uint32_t kUsb3MarginLongMs = 1000;
constexpr uint32_t kUsb3MarginSecondsMs = 2000;
constexpr uint64_t kUsb3SecondExposureUs = 1000000;
constexpr uint64_t kUsb3LongExposureSettleMs = 400;
constexpr uint64_t kUsb3LongExposureStepMs = 1000;
constexpr uint32_t kUsb3LongExposureLaterMs = 500;
constexpr uint32_t kUsb3RequeueWaitMs = 2;
constexpr uint64_t kUsb3RequeueSettleMs = 10;
constexpr int kUsb3ClockMhz = 100;

core::DeliveryVariant DeliveryFor(bool colour, bool usb3) {
  core::DeliveryVariant variant;
  variant.mono = !colour;
  if (usb3) {
    // The worker already required marker and trailer.
    variant.repair = core::HeaderRepair::RowsBelowAndTrailer;
    variant.checkMarker = false;
    variant.lookAheadBelowUs = 0;
    variant.spreadAlt16 = true;
  }
  return variant;
}

core::RecoveryRules RulesFor(bool usb3) {
  core::RecoveryRules rules;
  if (usb3) {
    rules.resetPortAbove = 0;
    rules.nudgeAtStreak = 0;
    rules.autoBandwidthWindowMs = 30000;
    rules.noDataFlushAt = 2;
    rules.noDataResetAt = 3;
  }
  return rules;
}

}  // namespace

TavCapture::TavCapture(CCameraTAV& camera, bool colour, bool usb3)
    : cam_(camera),
      usb3_(usb3),
      rules_(RulesFor(usb3)),
      run_(camera, *this, DeliveryFor(colour, usb3)) {}

// ---- starting and stopping the stream ----

core::TransferPlan TavCapture::PlanFrame() {
  core::TransferPlan plan;
  plan.frameBytes = TavcRawFrameBytes(cam_.width, cam_.height, cam_.bin, cam_.output16Bits);
  if (usb3_) {
    plan.chunkBytes = kUsb3ChunkBytes;
    // A frame that fits one transfer is read with a transfer of its own size.
    plan.endpointTransferSize = plan.Chunks() == 1 ? static_cast<uint32_t>(plan.frameBytes) : kUsb3ChunkBytes;
  } else {
    plan.chunkBytes = kTavcChunkBytes;
    plan.endpointTransferSize = kTavcChunkBytes;
  }
  return plan;
}

void TavCapture::PrepareStream(const core::TransferPlan& plan) {
  cam_.SendCMD(controller::kStopStreaming);
  cam_.SendCMD(controller::kEndLongExposure);
  if (usb3_) {
    // The frame size in 16 KiB units, rounded up: high half as value, low half as index.
    const size_t units = (plan.frameBytes + kFrameSizeUnit - 1) / kFrameSizeUnit;
    cam_.SendCMD(controller::kTransfersPerFrame, static_cast<unsigned short>(units >> 16),
                 static_cast<unsigned short>(units & 0xFFFF), false, nullptr, 0);
  }
}

uint64_t TavCapture::StreamSettleMs() const { return usb3_ ? kUsb3StartSettleMs : kStartSettleMs; }
void TavCapture::StartStream() { cam_.SendCMD(controller::kStartStreaming); }
void TavCapture::StopStream() { cam_.SendCMD(controller::kStopStreaming); }

// ---- reading frames ----

int64_t TavCapture::FramePeriodUs() const {
  const int64_t clock = std::max(cam_.cmosClk, 1);
  const int64_t lines = static_cast<int64_t>(cam_.bin) * cam_.height + (usb3_ ? cam_.FrameBlanking() : kBlankingLines);
  return (lines * cam_.lineLength - kFrameClockTrim) / clock;
}

core::FrameWaits TavCapture::NormalWaits(const core::TransferPlan& plan) {
  const int64_t periodUs = FramePeriodUs();
  const uint64_t exposureUs = cam_.exposure;
  core::FrameWaits waits;
  if (usb3_) {
    if (periodUs > 0 && exposureUs < static_cast<uint64_t>(periodUs)) {
      waits.firstMs = static_cast<uint32_t>(periodUs / 1000) + kUsb3MarginShortMs;
    } else {
      waits.firstMs = static_cast<uint32_t>(exposureUs / 1000) +
                      (exposureUs < kUsb3SecondExposureUs ? kUsb3MarginLongMs : kUsb3MarginSecondsMs);
    }
    waits.laterMs = kLaterChunkTimeoutMs;
    waits.waitTwice = false;
    waits.giveUpAfterMiss = true;
    return waits;
  }
  if (periodUs > 0 && exposureUs < static_cast<uint64_t>(periodUs)) {
    waits.firstMs = static_cast<uint32_t>(periodUs / 1000) +
                    (plan.Chunks() >= 2 ? kMarginSeveralChunksMs : kMarginOneChunkMs);
  } else {
    waits.firstMs = static_cast<uint32_t>(exposureUs / 1000) + kMarginLongFrameMs;
  }
  waits.laterMs = kLaterChunkTimeoutMs;
  return waits;
}

core::FrameVerdict TavCapture::CheckFrame(const uint8_t* frame, size_t bytes) {
  const bool whole = core::StartsWithFrameMarker(frame) && (!usb3_ || core::EndsWithFrameTrailer(frame, bytes));
  return whole ? core::FrameVerdict::Good : core::FrameVerdict::Unmarked;
}

// The USB 3 models never hand off a frame without both ends.
bool TavCapture::QueueUnmarkedFrame() { return !usb3_ && cam_.exposure < kQueueUnmarkedBelowUs; }

// ---- long exposures ----

bool TavCapture::LongExposurePending() { return cam_.longExposure; }

bool TavCapture::EnterUsb3LongExposure(core::CaptureContext& context) {
  longExposureClock_ = cam_.cmosClk;
  cam_.SetCMOSClk(24);
  // What the queued transfers hold was read at the old clock.
  context.RequeueTransfers(kUsb3RequeueWaitMs);
  if (!context.Sleep(kUsb3RequeueSettleMs)) return false;
  cam_.SendCMD(controller::kStartStreaming);
  return true;
}

std::optional<core::FrameWaits> TavCapture::RunLongExposure(core::CaptureContext& context) {
  const uint64_t startExposureUs = cam_.exposure;
  if (usb3_) {
    if (cam_.cmosClk != 24 && !EnterUsb3LongExposure(context)) return std::nullopt;
    if (!context.Sleep(kUsb3LongExposureSettleMs)) return std::nullopt;
  } else {
    if (cam_.cmosClk != 24) {
      longExposureClock_ = cam_.cmosClk;
      cam_.SetCMOSClk(24);
    }
    cam_.WriteCameraRegister(kRegIntegration, kLongExposureLines);
    if (!context.Sleep(kLongExposureSettleMs)) return std::nullopt;
  }
  cam_.SendCMD(controller::kBeginLongExposure);

  // Duration of a 4095-line integration, which the camera adds after 0xAF.
  const uint64_t clock = static_cast<uint64_t>(std::max(cam_.cmosClk, 1));
  const uint64_t blanking = usb3_ ? static_cast<uint64_t>(cam_.FrameBlanking()) : 26;
  const uint64_t readoutMs = ((uint64_t{cam_.lineLength} * kLongExposureLines + blanking) / clock) / 1000;
  const uint64_t stepMs = usb3_ ? kUsb3LongExposureStepMs : kLongExposureStepMs;
  bool going;
  if (startExposureUs / 1000 > 1000) {
    // A new exposure ends this one early.
    const int64_t steps = static_cast<int64_t>(startExposureUs / (stepMs * 1000)) - static_cast<int64_t>(readoutMs / stepMs);
    going = context.SleepSteps(steps, stepMs, [this, startExposureUs] { return cam_.exposure == startExposureUs; });
  } else {
    going = context.Sleep(startExposureUs / 1000);
  }
  cam_.SendCMD(controller::kEndLongExposure);
  if (!going) return std::nullopt;
  core::FrameWaits waits;
  waits.firstMs = static_cast<uint32_t>(readoutMs);
  waits.laterMs = usb3_ ? kUsb3LongExposureLaterMs : kLaterChunkTimeoutMs;
  if (usb3_) {
    waits.waitTwice = false;
    waits.giveUpAfterMiss = true;
  }
  return waits;
}

void TavCapture::AfterLongExposure() {
  cam_.SetGain();
  cam_.GetSensorTemp();  // refreshes the temperature the host reads

  // Back in range at the clock the window runs at: leave long-exposure mode.
  // Until a clock was saved (a run that began at 24 MHz) that is the window's own clock.
  const int ownClock = usb3_ ? kUsb3ClockMhz : ChooseTavcClock(cam_.bin * cam_.width, cam_.output16Bits);
  const uint64_t windowClock = static_cast<uint64_t>(longExposureClock_ > 0 ? longExposureClock_ : ownClock);
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t blanking = usb3_ ? static_cast<uint64_t>(cam_.FrameBlanking()) : 26;
  const uint64_t clocks = windowClock * exposureUs;
  const uint64_t lines = (clocks > blanking ? clocks - blanking : 0) / std::max<uint64_t>(cam_.lineLength, 1);
  if (lines < kMaxIntegrationLines && exposureUs < kLongExposureThresholdUs) LeaveLongExposure();
}

void TavCapture::LeaveLongExposure() {
  cam_.SendCMD(controller::kEndLongExposure);
  unsigned short coarse = 0;
  cam_.ReadCameraRegister(kRegCoarseGain, &coarse);
  cam_.WriteCameraRegister(kRegCoarseGain, static_cast<unsigned short>((coarse & 0x0FFF) | 0x1000));
  cam_.SetCMOSClk();
  cam_.SetExp(cam_.exposure, cam_.autoExp);  // stored now, written by the companion thread
  cam_.SendCMD(controller::kStartStreaming);
  cam_.longExposure = false;
}

// ---- recovery ----

bool TavCapture::AutoBandwidthOn() { return cam_.autoFps; }

void TavCapture::NudgeLineLength() {
  cam_.WriteCameraRegister(kRegLineLength, static_cast<unsigned short>(cam_.lineLength + kLineLengthNudge));
}

void TavCapture::RestartStream(core::StreamRestart how, core::CaptureContext& context) {
  switch (how) {
    case core::StreamRestart::EndExposureAndStart:
      cam_.SendCMD(controller::kEndLongExposure);
      cam_.SendCMD(controller::kStartStreaming);
      context.Sleep(kPortResetSettleMs);
      break;
    case core::StreamRestart::Start:
      cam_.SendCMD(controller::kStartStreaming);
      break;
    case core::StreamRestart::StopAndStart:
      if (!context.Sleep(kUsb3PortResetSettleMs)) return;
      cam_.SendCMD(controller::kStopStreaming);
      if (!context.Sleep(kUsb3RestartGapMs)) return;
      cam_.SendCMD(controller::kStartStreaming);
      break;
  }
}

void TavCapture::ReduceBandwidth() {
  cam_.SetFPSPerc(cam_.fpsPercent - kAutoBandwidthStepPercent, cam_.autoFps);
}

// ---- per-frame hooks ----

bool TavCapture::WantsMeasurementFrame() { return cam_.autoExp || cam_.autoGain || cam_.autoWB; }

void TavCapture::AfterGoodFrame(const core::MeasuredFrame& frame) {
  if ((cam_.autoExp || cam_.autoGain) && cam_.exposure > kWorkerAutoExposureUs)
    core::RunAutoExposureStep(cam_, frame, exposureGuard_);
}

void TavCapture::CompanionTick(const core::MeasuredFrame* frame) {
  if (cam_.longExposure) return;
  if (frame) {
    if ((cam_.autoExp || cam_.autoGain) && cam_.exposure < kWorkerAutoExposureUs)
      core::RunAutoExposureStep(cam_, *frame, exposureGuard_);
    if (cam_.autoWB && cam_.isColor) core::RunAutoWhiteBalanceStep(cam_, *frame, balanceGuard_);
  }
  // Both write only what changed since the last write.
  cam_.SetExp();
  cam_.SetGain();
}

}  // namespace okc::models
