// The TAVC capture engine: starting and stopping a capture run, the capture
// worker and its companion thread.
//
// The worker keeps the bulk transfers of one frame queued ahead into the other
// transfer buffer, checks each frame by length and marker, hands good frames
// to the frame queue (dropping, never waiting, when it is full), recovers from
// transfer errors, lowers the bandwidth when frames keep failing and times long
// exposures itself between the controller's 0xAE and 0xAF commands. The
// companion thread writes exposure and gain changes to the sensor while the
// stream runs, so the host's setters only store them.
//
// Every wait of the worker is cut into short slices so that a stop, a stalled
// stream or a camera that left the bus never holds StopCapture for long.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <system_error>
#include <vector>

#include "core/CameraAuto.h"
#include "core/ModelInfo.h"
#include "models/TavcClock.h"
#include "models/TavcFrame.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/Clock.h"

using okc::models::kTavcChunkBytes;

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

// Error streak thresholds: flush the pipe at 3, reset the port beyond 50.
constexpr int kFlushStreak = 3;
constexpr int kResetPortStreak = 50;
// The line length is stretched by this many clocks to nudge a stuck sensor.
constexpr uint16_t kLineLengthNudge = 30;
constexpr uint64_t kPortResetSettleMs = 200;

// Automatic bandwidth: within 50 s of switching it on, after more than 5
// failures in a row (and only while frame waits are short), the output rate
// is lowered by 4 percent when the previous such event was under 5 s ago.
constexpr uint64_t kAutoBandwidthWindowMs = 50000;
constexpr uint32_t kAutoBandwidthMaxTimeoutMs = 500;
constexpr int kAutoBandwidthStreak = 5;
constexpr uint64_t kAutoBandwidthRepeatMs = 5000;
constexpr int kAutoBandwidthStepPercent = 4;

// Automatic exposure below this runs on the companion thread every 200 ms,
// from it on on the worker after each good frame.
constexpr uint64_t kWorkerAutoExposureUs = 600000;
// Below this GetImage looks at the frame after the one it delivers, so an
// unmarked frame is queued all the same (GetImage discards it).
constexpr uint64_t kQueueUnmarkedBelowUs = 100000;

constexpr uint64_t kStartSettleMs = 100;
constexpr uint64_t kShutdownSettleMs = 50;
constexpr uint64_t kCompanionPeriodMs = 200;
constexpr uint64_t kCompanionPollMs = 10;
// Slices of the worker's sleeps and transfer waits.
constexpr uint64_t kSleepSliceMs = 50;
constexpr uint32_t kWaitSliceMs = 20;
// How long a pass idles once the camera has left the bus.
constexpr uint64_t kDeviceLostIdleMs = 100;

// The previous state of automatic bandwidth, kept per process: -1 until the
// first capture run of the process takes it from `autoFps`.
std::atomic<int> g_previousAutoFps{-1};

// Sleeps `ms` on the platform clock in slices, stopping early once `keepGoing`
// is false. True when the whole time was slept.
template <typename KeepGoing>
bool SleepWhile(uint64_t ms, KeepGoing keepGoing) {
  while (ms > 0) {
    if (!keepGoing()) return false;
    const uint64_t slice = std::min(ms, kSleepSliceMs);
    okc::platform::SleepMs(slice);
    ms -= slice;
  }
  return keepGoing();
}

bool IsDeviceGone(uint32_t error) {
  return error == okc::usb::kErrNoDevice || error == okc::usb::kErrInvalidHandle;
}

// The automatic algorithms measure a copy of the newest frame handed to the
// frame queue, not transfer buffer A, which a transfer may be filling; the
// stored exposure and gain reach the sensor with the companion's next writes.
void RunAutoExposureAndGain(CCameraTAVC& camera, const uint8_t* /*rawFrame*/) {
  okc::core::RunAutoExposureStep(camera);
}
void RunAutoWhiteBalance(CCameraTAVC& camera, const uint8_t* /*rawFrame*/) {
  okc::core::RunAutoWhiteBalanceStep(camera);
}

}  // namespace

// ---- one capture run ----

class CCameraTAVC::CaptureRun {
 public:
  explicit CaptureRun(CCameraTAVC& camera) : cam_(camera) {}

  void Run() {
    if (StartUp()) {
      while (cam_.capturing) Pass();
    }
    ShutDown();
    cam_.captureStarting_ = false;
  }

 private:
  bool StartUp();
  // Bytes of a frame of the window set now; 0 while none is set.
  size_t CurrentFrameBytes() const;
  // Queues the transfers of one frame of the current window into transfer
  // buffer A. False when there is no frame to read.
  bool PlanTransfers();
  // Cancels and collects every queued transfer; their data is discarded.
  void CancelTransfers();
  void Pass();
  // Frame period in microseconds from the window, line length and clock.
  int64_t FramePeriodUs() const;
  void ReadFrame(uint32_t firstTimeoutMs);
  // False when capture ended during the exposure.
  bool RunLongExposure();
  void LeaveLongExposure();
  void CheckAndHandOff();
  void HandOff();
  void HandlePartialFrame();
  void ShutDown();

  void StartChunk(size_t i, uint8_t* buffer);
  bool WaitChunk(const std::unique_ptr<CCyTransferContext>& context, uint32_t timeoutMs);
  uint32_t ChunkLength(size_t i) const {
    return static_cast<uint32_t>(std::min<size_t>(kTavcChunkBytes, frameBytes_ - i * kTavcChunkBytes));
  }
  void NoteError(uint32_t error) {
    if (IsDeviceGone(error)) cam_.deviceLost_ = true;
  }
  bool Capturing() const { return cam_.capturing; }

  CCameraTAVC& cam_;
  CCyUSBEndPoint* endpoint_ = nullptr;
  size_t frameBytes_ = 0;  // S
  size_t chunks_ = 0;      // n
  std::vector<std::unique_ptr<CCyTransferContext>> transfers_;
  uint8_t* inFlight_ = nullptr;  // the buffer the queued transfers fill
  uint8_t* current_ = nullptr;   // the frame examined in this pass
  uint8_t* next_ = nullptr;      // the buffer of the following frame
  int errorStreak_ = 0;
  uint32_t waitTimeoutMs_ = 0;
  size_t bytesReceived_ = 0;
  bool lastTransferOk_ = false;
  int longExposureClock_ = 0;  // MHz before the switch to 24 MHz; 0 while unknown
  uint64_t autoBandwidthStartMs_ = 0;
  uint64_t lastReductionMs_ = 0;
};

bool CCameraTAVC::CaptureRun::StartUp() {
  endpoint_ = cam_.device ? cam_.device->bulkInEndpoint : nullptr;
  int unset = -1;
  g_previousAutoFps.compare_exchange_strong(unset, cam_.autoFps ? 1 : 0);
  autoBandwidthStartMs_ = lastReductionMs_ = okc::platform::TickCountMs();

  cam_.SendCMD(kStreamOff);
  cam_.SendCMD(kLongExposureEnd);

  cam_.droppedFrames = 0;
  cam_.frameQueue->Reset();
  if (!endpoint_) return false;
  endpoint_->SetTransferSize(kTavcChunkBytes);
  if (!PlanTransfers()) return false;

  okc::platform::SleepMs(kStartSettleMs);
  if (cam_.stopRequested_) return false;
  // A format set meanwhile (no restart: capture was not running yet) changes the frame size.
  if (CurrentFrameBytes() != frameBytes_) {
    CancelTransfers();
    if (!PlanTransfers()) return false;
  }
  cam_.SendCMD(kStreamOn);

  cam_.capturing = true;
  // A stop that came while starting wins: it may have missed the flag above.
  if (cam_.stopRequested_) {
    cam_.capturing = false;
    return false;
  }
  cam_.captureStarting_ = false;
  try {
    cam_.companionThread_ = std::thread(&CCameraTAVC::CompanionLoop, &cam_);
  } catch (const std::system_error&) {
    // Without the companion, exposure and gain changes wait for the next run.
  }
  return true;
}

size_t CCameraTAVC::CaptureRun::CurrentFrameBytes() const {
  const size_t bytes = okc::models::TavcRawFrameBytes(cam_.width, cam_.height, cam_.bin, cam_.output16Bits);
  // A frame never outgrows the buffers sized for the full sensor at 16 bits.
  return bytes <= cam_.frameQueue->SlotSize() ? bytes : 0;
}

bool CCameraTAVC::CaptureRun::PlanTransfers() {
  frameBytes_ = CurrentFrameBytes();
  chunks_ = (frameBytes_ + kTavcChunkBytes - 1) / kTavcChunkBytes;
  transfers_.clear();
  transfers_.resize(chunks_);
  inFlight_ = cam_.transferBufferA.get();
  for (size_t i = 0; i < chunks_; ++i) StartChunk(i, inFlight_);
  return frameBytes_ > 0;
}

void CCameraTAVC::CaptureRun::CancelTransfers() {
  endpoint_->AbortPipe();
  for (size_t i = 0; i < transfers_.size(); ++i) {
    std::unique_ptr<CCyTransferContext>& transfer = transfers_[i];
    if (!transfer) continue;
    if (!endpoint_->WaitTransfer(transfer, 1)) endpoint_->AbortPipe();
    uint32_t length = ChunkLength(i);
    endpoint_->CompleteTransfer(cam_.transferBufferA.get() + i * kTavcChunkBytes, length, transfer);
    transfer.reset();  // one that is somehow still running is withdrawn
  }
}

int64_t CCameraTAVC::CaptureRun::FramePeriodUs() const {
  const int64_t clock = std::max(cam_.cmosClk, 1);
  const int64_t lines = static_cast<int64_t>(cam_.bin) * cam_.height + kBlankingLines;
  return (lines * cam_.lineLength - kFrameClockTrim) / clock;
}

void CCameraTAVC::CaptureRun::Pass() {
  if (cam_.deviceLost_) {
    // Nothing comes from a camera that left the bus; wait for the stop.
    SleepWhile(kDeviceLostIdleMs, [this] { return Capturing(); });
    return;
  }
  const int64_t periodUs = FramePeriodUs();
  current_ = inFlight_;
  next_ = current_ == cam_.transferBufferA.get() ? cam_.transferBufferB.get() : cam_.transferBufferA.get();
  inFlight_ = next_;

  if (cam_.longExposure) {
    if (!RunLongExposure()) return;
  } else {
    const uint64_t exposureUs = cam_.exposure;
    uint32_t firstTimeoutMs;
    if (periodUs > 0 && exposureUs < static_cast<uint64_t>(periodUs)) {
      firstTimeoutMs = static_cast<uint32_t>(periodUs / 1000) +
                       (chunks_ >= 2 ? kMarginSeveralChunksMs : kMarginOneChunkMs);
    } else {
      firstTimeoutMs = static_cast<uint32_t>(exposureUs / 1000) + kMarginLongFrameMs;
    }
    ReadFrame(firstTimeoutMs);
  }
  if (!cam_.autoFps) g_previousAutoFps = 0;
  if (!Capturing()) return;
  CheckAndHandOff();
}

void CCameraTAVC::CaptureRun::StartChunk(size_t i, uint8_t* buffer) {
  transfers_[i] = endpoint_->StartTransfer(buffer + i * kTavcChunkBytes, ChunkLength(i));
  if (!transfers_[i]) NoteError(endpoint_->lastError);
}

bool CCameraTAVC::CaptureRun::WaitChunk(const std::unique_ptr<CCyTransferContext>& context, uint32_t timeoutMs) {
  if (!context) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            std::chrono::steady_clock::now());
    const uint32_t slice = static_cast<uint32_t>(std::clamp<int64_t>(left.count(), 0, kWaitSliceMs));
    if (endpoint_->WaitTransfer(context, slice)) return true;
    // A transfer that failed at its start is finished and will not complete.
    if (context->IsDone() || !Capturing() || std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void CCameraTAVC::CaptureRun::ReadFrame(uint32_t firstTimeoutMs) {
  waitTimeoutMs_ = firstTimeoutMs;
  bytesReceived_ = 0;
  lastTransferOk_ = false;
  for (size_t i = 0; i < chunks_; ++i) {
    // Stopping: the transfers still queued are collected by the shutdown.
    if (!Capturing()) return;
    std::unique_ptr<CCyTransferContext>& transfer = transfers_[i];
    bool done = WaitChunk(transfer, waitTimeoutMs_);
    waitTimeoutMs_ = std::min(waitTimeoutMs_, kLaterChunkTimeoutMs);
    if (!done && transfer && !transfer->IsDone()) WaitChunk(transfer, waitTimeoutMs_);
    uint32_t length = ChunkLength(i);
    lastTransferOk_ = endpoint_->CompleteTransfer(current_ + i * kTavcChunkBytes, length, transfer);
    if (!lastTransferOk_) NoteError(endpoint_->lastError);
    bytesReceived_ += length;
    // Still running after both waits: withdrawn, so it can never write into a
    // buffer that is handed off or refilled meanwhile.
    transfer.reset();
    // Queue the following frame's transfer at once, so the camera never waits for us.
    StartChunk(i, next_);
  }
}

bool CCameraTAVC::CaptureRun::RunLongExposure() {
  const uint64_t startExposureUs = cam_.exposure;
  if (cam_.cmosClk != 24) {
    longExposureClock_ = cam_.cmosClk;
    cam_.SetCMOSClk(24);
  }
  cam_.WriteCameraRegister(kRegIntegration, kLongExposureLines);
  if (!SleepWhile(kLongExposureSettleMs, [this] { return Capturing(); })) return false;
  cam_.SendCMD(kLongExposureBegin);

  // Duration of a 4095-line integration, which the camera adds after 0xAF.
  const uint64_t clock = static_cast<uint64_t>(std::max(cam_.cmosClk, 1));
  const uint64_t readoutMs = ((uint64_t{cam_.lineLength} * kLongExposureLines + 26) / clock) / 1000;
  if (startExposureUs / 1000 > 1000) {
    auto unchanged = [this, startExposureUs] { return Capturing() && cam_.exposure == startExposureUs; };
    const int64_t steps =
        static_cast<int64_t>(startExposureUs / 500000) - static_cast<int64_t>(readoutMs / kLongExposureStepMs);
    for (int64_t step = 0; step < steps && unchanged(); ++step) SleepWhile(kLongExposureStepMs, unchanged);
  } else {
    SleepWhile(startExposureUs / 1000, [this] { return Capturing(); });
  }
  cam_.SendCMD(kLongExposureEnd);
  bytesReceived_ = 0;
  if (!Capturing()) return false;

  ReadFrame(static_cast<uint32_t>(readoutMs));
  cam_.SetGain();
  cam_.GetSensorTemp();  // refreshes the temperature the host reads

  // Back in range at the clock the window runs at: leave long-exposure mode.
  // Until a clock was saved (a run that began at 24 MHz) that is the window's own clock.
  const uint64_t windowClock = static_cast<uint64_t>(
      longExposureClock_ > 0 ? longExposureClock_
                             : okc::models::ChooseTavcClock(cam_.bin * cam_.width, cam_.output16Bits));
  const uint64_t exposureUs = cam_.exposure;
  const uint64_t lines = (windowClock * exposureUs - 26) / std::max<uint64_t>(cam_.lineLength, 1);
  if (lines < kMaxIntegrationLines && exposureUs < kLongExposureThresholdUs) LeaveLongExposure();
  return true;
}

void CCameraTAVC::CaptureRun::LeaveLongExposure() {
  cam_.SendCMD(kLongExposureEnd);
  unsigned short coarse = 0;
  cam_.ReadCameraRegister(kRegCoarseGain, &coarse);
  cam_.WriteCameraRegister(kRegCoarseGain, static_cast<unsigned short>((coarse & 0x0FFF) | 0x1000));
  cam_.SetCMOSClk();
  cam_.SetExp(cam_.exposure, cam_.autoExp);  // stored now, written by the companion thread
  cam_.SendCMD(kStreamOn);
  cam_.longExposure = false;
}

void CCameraTAVC::CaptureRun::CheckAndHandOff() {
  const bool complete = lastTransferOk_ && bytesReceived_ == frameBytes_;
  if (complete && okc::models::StartsWithTavcFrameMarker(current_)) {
    HandOff();
    errorStreak_ = 0;
    if ((cam_.autoExp || cam_.autoGain) && cam_.exposure > kWorkerAutoExposureUs)
      RunAutoExposureAndGain(cam_, cam_.transferBufferA.get());
    return;
  }
  if (complete) {
    // Lost synchronisation with the camera's frames: counted once, even if queued.
    ++cam_.droppedFrames;
    if (cam_.exposure < kQueueUnmarkedBelowUs) cam_.frameQueue->Push(current_, frameBytes_);
    HandlePartialFrame();
    return;
  }
  const int previous = errorStreak_++;
  if (previous > kResetPortStreak) {
    cam_.device->ResetPort();
    cam_.SendCMD(kLongExposureEnd);
    cam_.SendCMD(kStreamOn);
    okc::platform::SleepMs(kPortResetSettleMs);
    errorStreak_ = 0;
  } else if (errorStreak_ == kFlushStreak) {
    cam_.WriteCameraRegister(kRegLineLength, static_cast<unsigned short>(cam_.lineLength + kLineLengthNudge));
    endpoint_->AbortPipe();
    endpoint_->ResetPipe();
  }
  if (bytesReceived_ == 0) return;
  HandlePartialFrame();
}

void CCameraTAVC::CaptureRun::HandOff() {
  if (!cam_.frameQueue->Push(current_, frameBytes_)) ++cam_.droppedFrames;
}

void CCameraTAVC::CaptureRun::HandlePartialFrame() {
  const bool autoFps = cam_.autoFps;
  const uint64_t now = okc::platform::TickCountMs();
  if (autoFps && g_previousAutoFps == 0) autoBandwidthStartMs_ = now;
  g_previousAutoFps = autoFps ? 1 : 0;
  if (now - autoBandwidthStartMs_ < kAutoBandwidthWindowMs && waitTimeoutMs_ < kAutoBandwidthMaxTimeoutMs &&
      autoFps && errorStreak_ > kAutoBandwidthStreak) {
    errorStreak_ = 0;
    const uint64_t sinceLastMs = now - lastReductionMs_;
    lastReductionMs_ = now;
    if (sinceLastMs < kAutoBandwidthRepeatMs)
      cam_.SetFPSPerc(cam_.fpsPercent - kAutoBandwidthStepPercent, autoFps);
  }
  // The following frame's transfers may hold a piece of this one: start over.
  endpoint_->AbortPipe();
  endpoint_->ResetPipe();
  const int previous = errorStreak_++;
  if (previous > kResetPortStreak) {
    cam_.WriteCameraRegister(kRegLineLength, static_cast<unsigned short>(cam_.lineLength + kLineLengthNudge));
    cam_.device->ResetPort();
    cam_.SendCMD(kStreamOn);
    errorStreak_ = 0;
  }
}

void CCameraTAVC::CaptureRun::ShutDown() {
  cam_.capturing = false;
  if (cam_.companionThread_.joinable()) cam_.companionThread_.join();
  cam_.droppedFrames = 0;
  cam_.SendCMD(kStreamOff);
  if (endpoint_) {
    CancelTransfers();
    endpoint_->ResetPipe();
  }
  okc::platform::SleepMs(kShutdownSettleMs);
  cam_.frameQueue->Reset();
}

// ---- companion thread ----

void CCameraTAVC::CompanionLoop() {
  auto running = [this] { return capturing.load(); };
  // Polls every 10 ms so that it ends at once when capture stops.
  auto pause = [&] {
    for (uint64_t slept = 0; slept < kCompanionPeriodMs && running(); slept += kCompanionPollMs)
      okc::platform::SleepMs(kCompanionPollMs);
  };
  pause();
  while (running()) {
    if (!longExposure) {
      if ((autoExp || autoGain) && exposure < kWorkerAutoExposureUs)
        RunAutoExposureAndGain(*this, transferBufferA.get());
      if (autoWB) RunAutoWhiteBalance(*this, transferBufferA.get());
      // Both write only what changed since the last write.
      SetExp();
      SetGain();
    }
    pause();
  }
}

// ---- starting and stopping ----

bool CCameraTAVC::StartCapture() {
  if (!opened) return false;
  frameQueue->Reset();
  if (capturing || captureStarting_) return true;
  // Without a window there is no frame size to read.
  if (okc::models::TavcRawFrameBytes(width, height, bin, output16Bits) == 0) return false;
  // A worker that gave up by itself has ended (or is just ending).
  if (captureThread.joinable()) captureThread.join();
  stopRequested_ = false;
  deviceLost_ = false;
  captureStarting_ = true;
  try {
    captureThread = std::thread([this] {
      CaptureRun run(*this);
      run.Run();
    });
  } catch (const std::system_error&) {
    captureStarting_ = false;
    return false;
  }
  return true;
}

bool CCameraTAVC::StopCapture() {
  if (!capturing && !captureStarting_) {
    if (captureThread.joinable() && captureThread.get_id() != std::this_thread::get_id()) captureThread.join();
    return true;
  }
  const bool wasOpen = opened;
  if (wasOpen && modelInfo_) SaveSetting(modelInfo_->settingsKey);
  stopRequested_ = true;
  capturing = false;
  // A plain join: the worker notices the flag within one wait slice.
  if (captureThread.joinable() && captureThread.get_id() != std::this_thread::get_id()) captureThread.join();
  return wasOpen;
}
