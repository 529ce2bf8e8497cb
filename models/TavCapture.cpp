// The TAV family on the capture engine: 307200-byte transfers alternating
// between two buffers, waits from the sensor's frame period, the controller's
// stream commands, the long exposure the host times between 0xAE and 0xAF at
// 24 MHz, and the recovery steps of its sensor.
#include "models/TavCapture.h"

#include <algorithm>

#include "core/FrameMarker.h"
#include "models/TavcClock.h"
#include "models/TavcFrame.h"
#include "okccamera/CCameraTAV.h"

namespace okc::models {

namespace {

// Vendor commands of the camera's controller.
constexpr unsigned char kStreamOn = 0xA9;
constexpr unsigned char kStreamOff = 0xAA;
constexpr unsigned char kLongExposureBegin = 0xAE;
constexpr unsigned char kLongExposureEnd = 0xAF;  // also restarts the stream after errors

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

core::DeliveryVariant DeliveryFor(bool colour) {
  core::DeliveryVariant variant;
  variant.mono = !colour;
  return variant;
}

}  // namespace

TavCapture::TavCapture(CCameraTAV& camera, bool colour)
    : cam_(camera), rules_(), engine_(camera, *this), delivery_(camera, engine_, DeliveryFor(colour)) {}

// ---- starting and stopping the stream ----

core::TransferPlan TavCapture::PlanFrame() {
  core::TransferPlan plan;
  plan.frameBytes = TavcRawFrameBytes(cam_.width, cam_.height, cam_.bin, cam_.output16Bits);
  plan.chunkBytes = kTavcChunkBytes;
  plan.endpointTransferSize = kTavcChunkBytes;
  return plan;
}

void TavCapture::PrepareStream(const core::TransferPlan&) {
  cam_.SendCMD(kStreamOff);
  cam_.SendCMD(kLongExposureEnd);
}

uint64_t TavCapture::StreamSettleMs() const { return kStartSettleMs; }
void TavCapture::StartStream() { cam_.SendCMD(kStreamOn); }
void TavCapture::StopStream() { cam_.SendCMD(kStreamOff); }

// ---- reading frames ----

int64_t TavCapture::FramePeriodUs() const {
  const int64_t clock = std::max(cam_.cmosClk, 1);
  const int64_t lines = static_cast<int64_t>(cam_.bin) * cam_.height + kBlankingLines;
  return (lines * cam_.lineLength - kFrameClockTrim) / clock;
}

core::FrameWaits TavCapture::NormalWaits(const core::TransferPlan& plan) {
  const int64_t periodUs = FramePeriodUs();
  const uint64_t exposureUs = cam_.exposure;
  core::FrameWaits waits;
  if (periodUs > 0 && exposureUs < static_cast<uint64_t>(periodUs)) {
    waits.firstMs = static_cast<uint32_t>(periodUs / 1000) +
                    (plan.Chunks() >= 2 ? kMarginSeveralChunksMs : kMarginOneChunkMs);
  } else {
    waits.firstMs = static_cast<uint32_t>(exposureUs / 1000) + kMarginLongFrameMs;
  }
  waits.laterMs = kLaterChunkTimeoutMs;
  return waits;
}

core::FrameVerdict TavCapture::CheckFrame(const uint8_t* frame, size_t) {
  return core::StartsWithFrameMarker(frame) ? core::FrameVerdict::Good : core::FrameVerdict::Unmarked;
}

bool TavCapture::QueueUnmarkedFrame() { return cam_.exposure < kQueueUnmarkedBelowUs; }

// ---- long exposures ----

bool TavCapture::LongExposurePending() { return cam_.longExposure; }

std::optional<core::FrameWaits> TavCapture::RunLongExposure(core::CaptureContext& context) {
  const uint64_t startExposureUs = cam_.exposure;
  if (cam_.cmosClk != 24) {
    longExposureClock_ = cam_.cmosClk;
    cam_.SetCMOSClk(24);
  }
  cam_.WriteCameraRegister(kRegIntegration, kLongExposureLines);
  if (!context.Sleep(kLongExposureSettleMs)) return std::nullopt;
  cam_.SendCMD(kLongExposureBegin);

  // Duration of a 4095-line integration, which the camera adds after 0xAF.
  const uint64_t clock = static_cast<uint64_t>(std::max(cam_.cmosClk, 1));
  const uint64_t readoutMs = ((uint64_t{cam_.lineLength} * kLongExposureLines + 26) / clock) / 1000;
  bool going;
  if (startExposureUs / 1000 > 1000) {
    // A new exposure ends this one early.
    const int64_t steps =
        static_cast<int64_t>(startExposureUs / 500000) - static_cast<int64_t>(readoutMs / kLongExposureStepMs);
    going = context.SleepSteps(steps, kLongExposureStepMs,
                               [this, startExposureUs] { return cam_.exposure == startExposureUs; });
  } else {
    going = context.Sleep(startExposureUs / 1000);
  }
  cam_.SendCMD(kLongExposureEnd);
  if (!going) return std::nullopt;
  core::FrameWaits waits;
  waits.firstMs = static_cast<uint32_t>(readoutMs);
  waits.laterMs = kLaterChunkTimeoutMs;
  return waits;
}

void TavCapture::AfterLongExposure() {
  cam_.SetGain();
  cam_.GetSensorTemp();  // refreshes the temperature the host reads

  // Back in range at the clock the window runs at: leave long-exposure mode.
  // Until a clock was saved (a run that began at 24 MHz) that is the window's own clock.
  const uint64_t windowClock = static_cast<uint64_t>(
      longExposureClock_ > 0 ? longExposureClock_ : ChooseTavcClock(cam_.bin * cam_.width, cam_.output16Bits));
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t lines = (windowClock * exposureUs - 26) / std::max<uint64_t>(cam_.lineLength, 1);
  if (lines < kMaxIntegrationLines && exposureUs < kLongExposureThresholdUs) LeaveLongExposure();
}

void TavCapture::LeaveLongExposure() {
  cam_.SendCMD(kLongExposureEnd);
  unsigned short coarse = 0;
  cam_.ReadCameraRegister(kRegCoarseGain, &coarse);
  cam_.WriteCameraRegister(kRegCoarseGain, static_cast<unsigned short>((coarse & 0x0FFF) | 0x1000));
  cam_.SetCMOSClk();
  cam_.SetExp(cam_.exposure, cam_.autoExp);  // stored now, written by the companion thread
  cam_.SendCMD(kStreamOn);
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
      cam_.SendCMD(kLongExposureEnd);
      cam_.SendCMD(kStreamOn);
      context.Sleep(kPortResetSettleMs);
      break;
    case core::StreamRestart::Start: cam_.SendCMD(kStreamOn); break;
    case core::StreamRestart::StopAndStart:
      if (!context.Sleep(kUsb3PortResetSettleMs)) return;
      cam_.SendCMD(kStreamOff);
      if (!context.Sleep(kUsb3RestartGapMs)) return;
      cam_.SendCMD(kStreamOn);
      break;
  }
}

void TavCapture::ReduceBandwidth() {
  cam_.SetFPSPerc(cam_.fpsPercent - kAutoBandwidthStepPercent, cam_.autoFps);
}

// ---- per-frame hooks ----

bool TavCapture::WantsMeasurementFrame() { return cam_.autoExp || cam_.autoGain || cam_.autoWB; }

void TavCapture::AfterGoodFrame(const uint8_t* frame, size_t bytes) {
  if ((cam_.autoExp || cam_.autoGain) && cam_.exposure > kWorkerAutoExposureUs) RunAutoExposureAndGain(frame, bytes);
}

void TavCapture::CompanionTick(const uint8_t* frame, size_t bytes) {
  if (cam_.longExposure) return;
  if (frame) {
    if ((cam_.autoExp || cam_.autoGain) && cam_.exposure < kWorkerAutoExposureUs) RunAutoExposureAndGain(frame, bytes);
    if (cam_.autoWB && cam_.isColor) RunAutoWhiteBalance(frame, bytes);
  }
  // Both write only what changed since the last write.
  cam_.SetExp();
  cam_.SetGain();
}

// Automatic exposure and gain (AutoExpGain) is not built yet: this is where it runs.
void TavCapture::RunAutoExposureAndGain(const uint8_t* /*frame*/, size_t /*bytes*/) {}
// Automatic white balance (AutoWhiBal) is not built yet: this is where it runs.
void TavCapture::RunAutoWhiteBalance(const uint8_t* /*frame*/, size_t /*bytes*/) {}

}  // namespace okc::models
