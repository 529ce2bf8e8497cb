// The capture engine every camera model streams with: one worker thread per
// capture run that keeps the bulk transfers of a frame queued ahead, checks
// each frame, hands good ones to the frame queue, recovers from transfer
// errors and runs host-timed long exposures; and a companion thread that
// applies automatic and deferred settings while the stream runs.
//
// A model supplies a CapturePolicy: how big a frame is and how it is split,
// how long its transfers are waited for, the commands that start and stop its
// stream, what a good frame looks like, its long-exposure sequence, its
// recovery steps and its per-frame hooks.
//
// Threads and what they may touch
// -------------------------------
// - Host threads call the camera's setters and getters. Each takes the
//   camera's sensor lock (CCameraBase::SensorLock) for as long as it reads or
//   writes the camera's settings or programs the sensor.
// - The worker holds the sensor lock whenever it runs policy code, and lets
//   go of it only while it waits: for transfers, and in every host-timed
//   sleep (CaptureContext::Sleep). Policy code may therefore read and write
//   the camera's fields and call its programming steps directly.
// - The companion thread holds the sensor lock for each of its ticks.
// - Worker and companion take the lock in slices and give up once capture is
//   stopping: StopCapture may be called by a host thread that holds the lock
//   (a format change restarts capture), and it waits for both.
// - Without the lock: the frame queue (its own lock), `capturing`,
//   `exposure`, `longExposure` and `droppedFrames` (atomic), the transfer
//   buffers (worker only).
// - Vendor requests from all threads are serialised per device by the
//   device's request lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/RecoveryRules.h"

class CCameraBase;

namespace okc::core {

// The size of a frame and how it travels.
struct TransferPlan {
  size_t frameBytes = 0;             // 0: no window set, nothing to read
  uint32_t chunkBytes = 0;           // bytes per bulk transfer; the last one may be shorter
  uint32_t endpointTransferSize = 0; // what the bulk endpoint's transfer size is set to
  bool alternateBuffers = true;      // frames alternate between transfer buffers A and B; else all use A

  size_t Chunks() const { return chunkBytes ? (frameBytes + chunkBytes - 1) / chunkBytes : 0; }
  uint32_t ChunkLength(size_t i) const;

  // A window of (bin x width) x (bin x height) samples of one or two bytes, read
  // in transfers of `chunk` bytes into alternating buffers, so that the next
  // frame never lands in the one being handed off.
  static TransferPlan ForWindow(int width, int height, int bin, bool sixteenBit, uint32_t chunk);
};

// How long the transfers of one frame are waited for.
struct FrameWaits {
  uint32_t firstMs = 0;  // the first transfer (it covers the exposure)
  uint32_t laterMs = 0;  // each later one waits the smaller of this and the first wait
  // A transfer still pending after its wait is waited for once more: as long
  // again, or `secondWaitMs` when that is set.
  bool waitTwice = true;
  uint32_t secondWaitMs = 0;
  // Once a wait has missed, the rest of the frame's transfers are not waited for.
  bool giveUpAfterMiss = false;
};

enum class FrameVerdict {
  Good,      // hand it off
  Unmarked,  // lost the frame start: counted as dropped, then recovered from
};

class CaptureContext;

// A stable copy of a good frame of the current window, for the automatic
// algorithms; `number` counts the frames kept by this camera's engine.
struct MeasuredFrame {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  uint64_t number = 0;
};

// What a camera model tells the engine. Unless said otherwise, every call
// comes from the worker with the camera's sensor lock held.
class CapturePolicy {
 public:
  virtual ~CapturePolicy() = default;

  // Frame size and transfer split for the window set now.
  virtual TransferPlan PlanFrame() = 0;
  // Commands before the transfers are queued (stop the stream, end any
  // host-timed exposure, tell the controller the frame size).
  virtual void PrepareStream(const TransferPlan& plan) = 0;
  // Time between queueing the transfers and starting the stream.
  virtual uint64_t StreamSettleMs() const { return 0; }
  virtual void StartStream() = 0;
  // At the end of a run. Called WITHOUT the sensor lock: it may only send commands.
  virtual void StopStream() = 0;

  // The waits of a frame in normal (sensor-timed) mode.
  virtual FrameWaits NormalWaits(const TransferPlan& plan) = 0;
  // Whether this pass is a host-timed long exposure.
  virtual bool LongExposurePending() = 0;
  // Runs a host-timed exposure up to the moment its frame can be read, with
  // the context's sleeps. Returns the waits for reading the frame, or nothing
  // when capture ended meanwhile.
  virtual std::optional<FrameWaits> RunLongExposure(CaptureContext& context) = 0;
  // After a long exposure's frame was read, before it is judged.
  virtual void AfterLongExposure() = 0;
  // Once per pass, after the frame was read.
  virtual void AfterRead() {}

  // Judges a frame that arrived whole.
  virtual FrameVerdict CheckFrame(const uint8_t* frame, size_t bytes) = 0;
  // Whether an unmarked frame is queued all the same (frame delivery then
  // discards it; it still tells whether its predecessor was whole).
  virtual bool QueueUnmarkedFrame() { return false; }

  // Recovery: the rules, and the model's own steps.
  virtual const RecoveryRules& Recovery() const = 0;
  // Models without automatic bandwidth or an adjustable line keep these.
  virtual bool AutoBandwidthOn() { return false; }
  virtual void NudgeLineLength() {}
  // After a port reset; may sleep through the context.
  virtual void RestartStream(StreamRestart how, CaptureContext& context) = 0;
  virtual void ReduceBandwidth() {}

  // Per-frame hooks, given a stable copy of the last good frame (kept only
  // while WantsMeasurementFrame says so). On the worker after each good frame:
  virtual void AfterGoodFrame(const MeasuredFrame& frame) = 0;
  // On the worker after each good frame was handed off, automatic modes on or not.
  virtual void AfterHandOff() {}
  // Whether the run has a companion thread, and its period.
  virtual bool HasCompanion() const { return true; }
  virtual uint64_t CompanionPeriodMs() const { return 200; }
  // Every period on the companion thread (sensor lock held); `frame` is
  // null until a good frame has been kept.
  virtual void CompanionTick(const MeasuredFrame* frame) = 0;
  // Whether the hooks want the measurement frame kept (automatic modes on).
  virtual bool WantsMeasurementFrame() = 0;
};

// Stop-aware waits for policy code running on the worker.
class CaptureContext {
 public:
  virtual ~CaptureContext() = default;
  // Sleeps `ms` on the platform clock with the sensor lock released. False
  // when capture ended (the lock is then not held any more either).
  virtual bool Sleep(uint64_t ms) = 0;
  // Sleeps `steps` steps of `stepMs` while `keepGoing` holds (checked
  // between slices). False when capture ended.
  virtual bool SleepSteps(int64_t steps, uint64_t stepMs, const std::function<bool()>& keepGoing) = 0;
  virtual bool Capturing() const = 0;
  // Cancels and collects the transfers in flight, then queues them again
  // at the same place (a switch of clock mode spoils what they hold).
  virtual void RequeueTransfers(uint32_t waitMs) = 0;
};

class CaptureEngine {
 public:
  CaptureEngine(CCameraBase& camera, CapturePolicy& policy);
  // Stops a run still going.
  ~CaptureEngine();
  CaptureEngine(const CaptureEngine&) = delete;
  CaptureEngine& operator=(const CaptureEngine&) = delete;

  // Starts a worker; `capturing` is set once the stream runs. A second call
  // while a worker starts or runs starts nothing. False on a closed camera or
  // when there is no frame to read.
  bool Start();
  // Saves the settings, asks the worker to stop and waits for it (and its
  // companion). False when the camera is closed.
  bool Stop();
  // A worker has been started and not yet set `capturing` (or given up).
  bool Starting() const { return starting_; }
  // Frames may still come: a run is starting or streaming and the camera is on the bus.
  bool FramesMayCome() const;
  bool DeviceLost() const { return deviceLost_; }

 private:
  class Worker;
  void CompanionLoop();
  // Keeps a copy of a good frame for the automatic algorithms.
  void KeepMeasurementFrame(const uint8_t* frame, size_t bytes);

  CCameraBase& camera_;
  CapturePolicy& policy_;
  std::atomic<bool> starting_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> deviceLost_{false};
  std::thread worker_;
  std::thread companion_;
  // Whether automatic bandwidth was on at the last look; kept across runs.
  int previousAutoFps_ = -1;

  // The last good frame, for the automatic algorithms. Written by the worker
  // and read by the companion, both with the sensor lock held.
  std::vector<uint8_t> measurementFrame_;
  size_t measurementBytes_ = 0;
  uint64_t measurementNumber_ = 0;
  MeasuredFrame Measurement() const { return {measurementFrame_.data(), measurementBytes_, measurementNumber_}; }
};

}  // namespace okc::core
