#include "core/CaptureEngine.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "core/FrameStamp.h"
#include "core/ModelInfo.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/Clock.h"

namespace okc::core {

namespace {

// Slices of the worker's sleeps, transfer waits and lock attempts, so that a
// stop, a stalled stream or a camera that left the bus never holds it long.
constexpr uint64_t kSleepSliceMs = 50;
constexpr uint32_t kWaitSliceMs = 20;
// While a host thread holds the sensor lock, worker and companion look again this often.
constexpr auto kLockRetry = std::chrono::milliseconds(1);

// Takes `lock` unless `going` turns false first; true when it is held. Polls
// with try_lock rather than a timed wait, which not every thread checker follows.
template <typename Lock, typename Going>
bool LockWhile(Lock& lock, Going going) {
  while (!lock.try_lock()) {
    if (!going()) return false;
    std::this_thread::sleep_for(kLockRetry);
  }
  return true;
}
constexpr uint64_t kCompanionPollMs = 10;
// How long a pass idles once the camera has left the bus.
constexpr uint64_t kDeviceLostIdleMs = 100;
constexpr uint64_t kShutdownSettleMs = 50;

bool IsDeviceGone(uint32_t error) { return error == usb::kErrNoDevice || error == usb::kErrInvalidHandle; }

}  // namespace

uint32_t TransferPlan::ChunkLength(size_t i) const {
  const size_t start = i * chunkBytes;
  if (start >= frameBytes) return 0;
  return static_cast<uint32_t>(std::min<size_t>(chunkBytes, frameBytes - start));
}

TransferPlan TransferPlan::ForWindow(int width, int height, int bin, bool sixteenBit, uint32_t chunk) {
  TransferPlan plan;
  const size_t columns = static_cast<size_t>(std::max(bin * width, 0));
  const size_t rows = static_cast<size_t>(std::max(bin * height, 0));
  plan.frameBytes = columns * rows * (sixteenBit ? 2 : 1);
  plan.chunkBytes = chunk;
  plan.endpointTransferSize = chunk;
  plan.alternateBuffers = true;
  return plan;
}

// ---- one capture run ----

class CaptureEngine::Worker final : public CaptureContext {
 public:
  explicit Worker(CaptureEngine& engine)
      : engine_(engine), cam_(engine.camera_), policy_(engine.policy_), lock_(cam_.SensorLock(), std::defer_lock) {}

  void Run() {
    if (Relock() && StartUp()) {
      while (Capturing()) {
        if (!lock_.owns_lock() && !Relock()) break;
        Pass();
      }
    }
    if (lock_.owns_lock()) lock_.unlock();
    ShutDown();
    engine_.starting_ = false;
  }

  // ---- CaptureContext ----
  bool Sleep(uint64_t ms) override {
    if (lock_.owns_lock()) lock_.unlock();
    while (ms > 0 && Going()) {
      const uint64_t slice = std::min(ms, kSleepSliceMs);
      platform::SleepMs(slice);
      ms -= slice;
    }
    return Going() && Relock();
  }

  bool SleepSteps(int64_t steps, uint64_t stepMs, const std::function<bool()>& keepGoing) override {
    if (lock_.owns_lock()) lock_.unlock();
    for (int64_t step = 0; step < steps && Going() && keepGoing(); ++step) {
      for (uint64_t left = stepMs; left > 0 && Going() && keepGoing();) {
        const uint64_t slice = std::min(left, kSleepSliceMs);
        platform::SleepMs(slice);
        left -= slice;
      }
    }
    return Going() && Relock();
  }

  bool Capturing() const override { return cam_.capturing && !engine_.stopRequested_; }

  void RequeueTransfers(uint32_t waitMs) override {
    if (!endpoint_) return;
    endpoint_->AbortPipe();
    endpoint_->ResetPipe();
    for (size_t i = 0; i < transfers_.size(); ++i) {
      std::unique_ptr<CCyTransferContext>& transfer = transfers_[i];
      if (transfer) {
        endpoint_->WaitTransfer(transfer, waitMs);
        uint32_t length = plan_.ChunkLength(i);
        endpoint_->CompleteTransfer(current_ + i * plan_.chunkBytes, length, transfer);
        transfer.reset();
      }
      StartChunk(i, current_);
    }
  }

 private:
  // Whether the run goes on (also while it is still starting).
  bool Going() const { return !engine_.stopRequested_ && (cam_.capturing || engine_.starting_); }

  // Takes the sensor lock in slices; gives up once the run is stopping.
  bool Relock() {
    if (lock_.owns_lock()) return true;
    return LockWhile(lock_, [this] { return Going(); });
  }

  uint8_t* BufferA() const { return cam_.transferBufferA.get(); }
  uint8_t* BufferB() const { return plan_.alternateBuffers ? cam_.transferBufferB.get() : BufferA(); }

  bool StartUp();
  bool PlanTransfers();
  void CancelTransfers();
  void StartChunk(size_t i, uint8_t* buffer);
  bool WaitChunk(const std::unique_ptr<CCyTransferContext>& context, uint32_t timeoutMs);
  void Pass();
  void ReadFrame(const FrameWaits& waits);
  void JudgeAndHandOff();
  void Recover(const RecoveryAction& action);
  void ShutDown();
  void NoteError(uint32_t error) {
    if (IsDeviceGone(error)) engine_.deviceLost_ = true;
  }

  CaptureEngine& engine_;
  CCameraBase& cam_;
  CapturePolicy& policy_;
  std::unique_lock<CCameraBase::SensorMutex> lock_;
  CCyUSBEndPoint* endpoint_ = nullptr;
  TransferPlan plan_;
  std::vector<std::unique_ptr<CCyTransferContext>> transfers_;
  uint8_t* inFlight_ = nullptr;  // the buffer the queued transfers fill
  uint8_t* current_ = nullptr;   // the frame examined in this pass
  uint8_t* next_ = nullptr;      // the buffer of the following frame
  RecoveryState recovery_;
  uint32_t waitTimeoutMs_ = 0;
  size_t bytesReceived_ = 0;
  bool lastTransferOk_ = false;
  // Frame metadata: settings, times and numbers of the frames this run reads.
  FrameStamp stamp_;
};

bool CaptureEngine::Worker::StartUp() {
  endpoint_ = cam_.device ? cam_.device->bulkInEndpoint : nullptr;
  recovery_.previousAutoFps = engine_.previousAutoFps_;
  NoteAutoFps(recovery_, policy_.AutoBandwidthOn());
  recovery_.autoBandwidthStartMs = recovery_.lastReductionMs = platform::TickCountMs();

  plan_ = policy_.PlanFrame();
  policy_.PrepareStream(plan_);
  cam_.droppedFrames = 0;
  cam_.frameQueue->ResetNotCollected();
  cam_.frameQueue->Reset();
  if (!endpoint_) return false;
  if (!PlanTransfers()) return false;

  if (!Sleep(policy_.StreamSettleMs())) return false;
  // A format set meanwhile (no restart: capture was not running yet) changes the frame size.
  const TransferPlan now = policy_.PlanFrame();
  if (now.frameBytes != plan_.frameBytes || now.chunkBytes != plan_.chunkBytes) {
    CancelTransfers();
    plan_ = now;
    if (!PlanTransfers()) return false;
  }
  policy_.StartStream();

  cam_.capturing = true;
  // A stop that came while starting wins: it may have missed the flag above.
  if (engine_.stopRequested_) {
    cam_.capturing = false;
    return false;
  }
  engine_.starting_ = false;
  if (policy_.HasCompanion()) {
    try {
      engine_.companion_ = std::thread(&CaptureEngine::CompanionLoop, &engine_);
    } catch (const std::system_error&) {
      // Without the companion, deferred settings wait for the next run.
    }
  }
  return true;
}

bool CaptureEngine::Worker::PlanTransfers() {
  // A frame never outgrows the buffers sized for the model's largest frame.
  if (plan_.frameBytes > cam_.FrameBufferBytes() || plan_.chunkBytes == 0) plan_.frameBytes = 0;
  transfers_.clear();
  transfers_.resize(plan_.Chunks());
  endpoint_->SetTransferSize(plan_.endpointTransferSize ? plan_.endpointTransferSize : plan_.chunkBytes);
  inFlight_ = BufferA();
  for (size_t i = 0; i < transfers_.size(); ++i) StartChunk(i, inFlight_);
  return plan_.frameBytes > 0;
}

void CaptureEngine::Worker::CancelTransfers() {
  endpoint_->AbortPipe();
  for (size_t i = 0; i < transfers_.size(); ++i) {
    std::unique_ptr<CCyTransferContext>& transfer = transfers_[i];
    if (!transfer) continue;
    if (!endpoint_->WaitTransfer(transfer, 1)) endpoint_->AbortPipe();
    uint32_t length = plan_.ChunkLength(i);
    endpoint_->CompleteTransfer(BufferA() + i * plan_.chunkBytes, length, transfer);
    transfer.reset();  // one that is somehow still running is withdrawn
  }
}

void CaptureEngine::Worker::StartChunk(size_t i, uint8_t* buffer) {
  transfers_[i] = endpoint_->StartTransfer(buffer + i * plan_.chunkBytes, plan_.ChunkLength(i));
  if (!transfers_[i]) NoteError(endpoint_->lastError);
}

bool CaptureEngine::Worker::WaitChunk(const std::unique_ptr<CCyTransferContext>& context, uint32_t timeoutMs) {
  if (!context) return false;
  // Transfer waits are waits on the device, in real time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const uint32_t slice = static_cast<uint32_t>(std::clamp<int64_t>(left.count(), 0, kWaitSliceMs));
    if (endpoint_->WaitTransfer(context, slice)) return true;
    // A transfer that failed at its start is finished and will not complete.
    if (context->IsDone() || !Capturing() || std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void CaptureEngine::Worker::Pass() {
  if (engine_.deviceLost_) {
    // Nothing comes from a camera that left the bus; wait for the stop.
    Sleep(kDeviceLostIdleMs);
    return;
  }
  current_ = inFlight_;
  next_ = current_ == BufferA() ? BufferB() : BufferA();
  inFlight_ = next_;

  const bool longExposure = policy_.LongExposurePending();
  FrameWaits waits;
  if (longExposure) {
    const std::optional<FrameWaits> longWaits = policy_.RunLongExposure(*this);
    bytesReceived_ = 0;
    if (!longWaits || !Capturing()) return;
    waits = *longWaits;
  } else {
    waits = policy_.NormalWaits(plan_);
  }

  stamp_.Begin(cam_);
  lock_.unlock();
  ReadFrame(waits);
  stamp_.Finish();
  if (!Relock() || !Capturing()) return;

  if (longExposure) policy_.AfterLongExposure();
  NoteAutoFps(recovery_, policy_.AutoBandwidthOn());
  policy_.AfterRead();
  JudgeAndHandOff();
}

void CaptureEngine::Worker::ReadFrame(const FrameWaits& waits) {
  waitTimeoutMs_ = waits.firstMs;
  bytesReceived_ = 0;
  lastTransferOk_ = false;
  for (size_t i = 0; i < transfers_.size(); ++i) {
    // Stopping: the transfers still queued are collected by the shutdown.
    if (!Capturing()) return;
    std::unique_ptr<CCyTransferContext>& transfer = transfers_[i];
    const bool done = WaitChunk(transfer, waitTimeoutMs_);
    waitTimeoutMs_ = std::min(waitTimeoutMs_, waits.laterMs);
    if (!done && waits.waitTwice && transfer && !transfer->IsDone())
      WaitChunk(transfer, waits.secondWaitMs > 0 ? waits.secondWaitMs : waitTimeoutMs_);
    if (!done && waits.giveUpAfterMiss) waitTimeoutMs_ = 0;
    uint32_t length = plan_.ChunkLength(i);
    lastTransferOk_ = endpoint_->CompleteTransfer(current_ + i * plan_.chunkBytes, length, transfer);
    if (!lastTransferOk_) NoteError(endpoint_->lastError);
    bytesReceived_ += length;
    if (i == 0) stamp_.FirstDataArrived();
    // Still running after its waits: withdrawn, so it can never write into a
    // buffer that is handed off or refilled meanwhile.
    transfer.reset();
    // Queue the following frame's transfer at once, so the camera never waits for us.
    StartChunk(i, next_);
  }
}

void CaptureEngine::Worker::JudgeAndHandOff() {
  const bool complete = lastTransferOk_ && bytesReceived_ == plan_.frameBytes;
  FrameOutcome outcome;
  if (complete) {
    outcome = policy_.CheckFrame(current_, plan_.frameBytes) == FrameVerdict::Good ? FrameOutcome::Good
                                                                                   : FrameOutcome::Unmarked;
  } else {
    outcome = bytesReceived_ == 0 ? FrameOutcome::Empty : FrameOutcome::Partial;
  }

  // Every frame the camera sent gets a number, so gaps show frames lost on the way.
  const FrameMetadata metadata = outcome != FrameOutcome::Empty ? stamp_.Number() : FrameMetadata{};
  if (outcome == FrameOutcome::Good) {
    if (!cam_.frameQueue->Push(current_, plan_.frameBytes, metadata)) {
      ++cam_.droppedFrames;
      cam_.frameQueue->CountNotCollected();
    }
    if (policy_.WantsMeasurementFrame()) engine_.KeepMeasurementFrame(current_, plan_.frameBytes);
  } else if (outcome == FrameOutcome::Unmarked) {
    // Lost synchronisation with the camera's frames: counted once, even if queued.
    ++cam_.droppedFrames;
    if (policy_.QueueUnmarkedFrame()) cam_.frameQueue->Push(current_, plan_.frameBytes, metadata);
  }

  FrameContext frame;
  frame.outcome = outcome;
  frame.autoFps = policy_.AutoBandwidthOn();
  frame.nowMs = platform::TickCountMs();
  frame.waitTimeoutMs = waitTimeoutMs_;
  engine_.previousAutoFps_ = recovery_.previousAutoFps;
  if (outcome != FrameOutcome::Good) {
    Recover(JudgeFrame(policy_.Recovery(), recovery_, frame));
    engine_.previousAutoFps_ = recovery_.previousAutoFps;
    return;
  }
  JudgeFrame(policy_.Recovery(), recovery_, frame);
  if (policy_.WantsMeasurementFrame() && engine_.measurementBytes_ > 0) policy_.AfterGoodFrame(engine_.Measurement());
  policy_.AfterHandOff();
}

void CaptureEngine::Worker::Recover(const RecoveryAction& action) {
  if (action.reduceBandwidth) policy_.ReduceBandwidth();
  if (action.resetPort) {
    if (action.nudgeLineLength) policy_.NudgeLineLength();
    if (cam_.device) cam_.device->ResetPort();
    policy_.RestartStream(action.restart, *this);
    if (!lock_.owns_lock()) return;  // capture ended meanwhile
  } else if (action.nudgeLineLength) {
    policy_.NudgeLineLength();
  }
  // The following frame's transfers may hold a piece of this one: start over.
  if (action.flushPipe && endpoint_) {
    endpoint_->AbortPipe();
    endpoint_->ResetPipe();
  }
  if (action.settleMs > 0) Sleep(action.settleMs);
}

void CaptureEngine::Worker::ShutDown() {
  cam_.capturing = false;
  if (engine_.companion_.joinable()) engine_.companion_.join();
  cam_.droppedFrames = 0;
  cam_.frameQueue->ResetNotCollected();
  policy_.StopStream();
  if (endpoint_) {
    CancelTransfers();
    endpoint_->ResetPipe();
  }
  platform::SleepMs(kShutdownSettleMs);
  cam_.frameQueue->Reset();
}

// ---- the engine ----

CaptureEngine::CaptureEngine(CCameraBase& camera, CapturePolicy& policy) : camera_(camera), policy_(policy) {}

CaptureEngine::~CaptureEngine() {
  stopRequested_ = true;
  camera_.capturing = false;
  if (worker_.joinable()) worker_.join();
}

bool CaptureEngine::FramesMayCome() const { return (camera_.capturing || starting_) && !deviceLost_; }

bool CaptureEngine::Start() {
  if (!camera_.opened) return false;
  camera_.frameQueue->Reset();
  if (camera_.capturing || starting_) return true;
  // Without a window there is no frame to read.
  if (policy_.PlanFrame().frameBytes == 0) return false;
  // A worker that gave up by itself has ended (or is just ending without the lock).
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
  if (!camera_.EnsureFrameBuffers()) return false;
  stopRequested_ = false;
  deviceLost_ = false;
  starting_ = true;
  try {
    worker_ = std::thread([this] {
      Worker worker(*this);
      worker.Run();
    });
  } catch (const std::system_error&) {
    starting_ = false;
    return false;
  }
  return true;
}

bool CaptureEngine::Stop() {
  const bool self = worker_.joinable() && worker_.get_id() == std::this_thread::get_id();
  if (!camera_.capturing && !starting_) {
    if (worker_.joinable() && !self) worker_.join();
    return true;
  }
  const bool wasOpen = camera_.opened;
  if (wasOpen) camera_.SaveSettings();
  stopRequested_ = true;
  camera_.capturing = false;
  // A plain join: the worker notices the flag within one wait slice.
  if (worker_.joinable() && !self) worker_.join();
  return wasOpen;
}

void CaptureEngine::KeepMeasurementFrame(const uint8_t* frame, size_t bytes) {
  // Allocated once for the largest frame, on the first frame that needs it.
  if (measurementFrame_.size() < camera_.FrameBufferBytes()) measurementFrame_.resize(camera_.FrameBufferBytes());
  bytes = std::min(bytes, measurementFrame_.size());
  std::copy(frame, frame + bytes, measurementFrame_.begin());
  measurementBytes_ = bytes;
  ++measurementNumber_;
}

void CaptureEngine::CompanionLoop() {
  auto running = [this] { return camera_.capturing && !stopRequested_; };
  // Polls in short slices so that it ends at once when capture stops.
  auto pause = [&] {
    const uint64_t period = policy_.CompanionPeriodMs();
    for (uint64_t slept = 0; slept < period && running(); slept += kCompanionPollMs)
      platform::SleepMs(kCompanionPollMs);
  };
  pause();
  while (running()) {
    {
      std::unique_lock lock(camera_.SensorLock(), std::defer_lock);
      if (!LockWhile(lock, running)) return;
      if (!running()) return;
      const MeasuredFrame frame = Measurement();
      policy_.CompanionTick(frame.length > 0 ? &frame : nullptr);
    }
    pause();
  }
}

}  // namespace okc::core
