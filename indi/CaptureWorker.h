// The INDI driver's capture thread: one exposure, or a stream of frames, taken
// through the library's exported functions while the driver's main loop goes
// on answering clients. The main loop starts it, polls it and stops it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "okccamera/okccamera.h"

namespace okc::indi {

class CaptureWorker {
 public:
  using FrameHandler = std::function<void(const uint8_t* pixels, size_t bytes)>;

  CaptureWorker() = default;
  ~CaptureWorker() { Stop(); }
  CaptureWorker(const CaptureWorker&) = delete;
  CaptureWorker& operator=(const CaptureWorker&) = delete;

  // Takes one frame of `frameBytes` in the camera's current format. The wait
  // for it ends after `timeoutMs`.
  void StartExposure(size_t frameBytes, unsigned long timeoutMs);
  // Hands every frame to `onFrame` (on the capture thread) until Stop.
  void StartStream(size_t frameBytes, FrameHandler onFrame);
  // Ends the exposure or stream at once and waits for the thread.
  void Stop();
  bool Running() const { return thread_.joinable() && !finished_; }

  enum class Outcome { kNone, kPending, kFrame, kFailed };
  // The single exposure's outcome. kFrame moves the frame and its metadata
  // (haveInfo false when the library had none) out and resets to kNone.
  Outcome TakeResult(std::vector<uint8_t>* frame, OKCFrameInfo* info, bool* haveInfo, std::string* error);

 private:
  void RunExposure(size_t frameBytes, unsigned long timeoutMs);
  void RunStream(size_t frameBytes, FrameHandler onFrame);

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
  std::mutex resultMutex_;
  Outcome outcome_ = Outcome::kNone;
  std::vector<uint8_t> frame_;
  OKCFrameInfo info_{};
  bool haveInfo_ = false;
  std::string error_;
};

}  // namespace okc::indi
