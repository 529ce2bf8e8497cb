#include "indi/CaptureWorker.h"

#include <chrono>

namespace okc::indi {

namespace {
// Frame waits are cut into slices so that Stop is noticed between them even
// if its stopCapture came before the thread's startCapture.
constexpr unsigned long kWaitSliceMs = 200;
}  // namespace

void CaptureWorker::StartExposure(size_t frameBytes, unsigned long timeoutMs) {
  Stop();
  {
    std::lock_guard lock(resultMutex_);
    outcome_ = Outcome::kPending;
  }
  stop_ = false;
  finished_ = false;
  thread_ = std::thread([this, frameBytes, timeoutMs] { RunExposure(frameBytes, timeoutMs); });
}

void CaptureWorker::StartStream(size_t frameBytes, FrameHandler onFrame) {
  Stop();
  stop_ = false;
  finished_ = false;
  thread_ = std::thread([this, frameBytes, onFrame = std::move(onFrame)] { RunStream(frameBytes, onFrame); });
}

void CaptureWorker::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  stopCapture();  // ends a getImageData that is waiting
  thread_.join();
  std::lock_guard lock(resultMutex_);
  if (outcome_ == Outcome::kPending) outcome_ = Outcome::kNone;
}

CaptureWorker::Outcome CaptureWorker::TakeResult(std::vector<uint8_t>* frame, OKCFrameInfo* info, bool* haveInfo,
                                                 std::string* error) {
  std::lock_guard lock(resultMutex_);
  const Outcome outcome = outcome_;
  if (outcome == Outcome::kFrame) {
    *frame = std::move(frame_);
    *info = info_;
    *haveInfo = haveInfo_;
  } else if (outcome == Outcome::kFailed) {
    *error = error_;
  }
  if (outcome == Outcome::kFrame || outcome == Outcome::kFailed) outcome_ = Outcome::kNone;
  return outcome;
}

void CaptureWorker::RunExposure(size_t frameBytes, unsigned long timeoutMs) {
  std::vector<uint8_t> frame(frameBytes);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  startCapture();
  bool got = false;
  while (!stop_ && !got && std::chrono::steady_clock::now() < deadline)
    got = getImageData(frame.data(), static_cast<int>(frame.size()), kWaitSliceMs);
  OKCFrameInfo info{};
  const bool haveInfo = got && okcGetFrameInfo(&info);
  stopCapture();
  std::lock_guard lock(resultMutex_);
  if (stop_) {
    outcome_ = Outcome::kNone;
  } else if (got) {
    outcome_ = Outcome::kFrame;
    frame_ = std::move(frame);
    info_ = info;
    haveInfo_ = haveInfo;
  } else {
    outcome_ = Outcome::kFailed;
    error_ = "no frame from the camera within " + std::to_string(timeoutMs) + " ms";
  }
  finished_ = true;
}

void CaptureWorker::RunStream(size_t frameBytes, FrameHandler onFrame) {
  std::vector<uint8_t> frame(frameBytes);
  startCapture();
  while (!stop_) {
    if (getImageData(frame.data(), static_cast<int>(frame.size()), kWaitSliceMs)) onFrame(frame.data(), frame.size());
  }
  stopCapture();
  finished_ = true;
}

}  // namespace okc::indi
