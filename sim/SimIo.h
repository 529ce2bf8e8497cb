// Completion of requests on a simulated device: the shared state behind each
// PendingIo, and the status words a finished request writes back into its record.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "okccamera/UsbDriver.h"

namespace okc::sim {

// Status words in the style of the controller's kernel driver.
constexpr uint32_t kNtStatusUnsuccessful = 0xC0000001;
constexpr uint32_t kNtStatusCancelled = 0xC0000120;
constexpr uint32_t kNtStatusDeviceGone = 0xC000009D;
constexpr uint32_t kUsbdStatusStall = 0xC0000004;
constexpr uint32_t kUsbdStatusCanceled = 0xC0010000;
constexpr uint32_t kUsbdStatusDeviceGone = 0xC0007000;

// Completion state shared by a PendingIo and the device that will finish it.
class IoCompletion {
 public:
  // Ends the request once; later calls are ignored.
  void Complete(const usb::IoResult& result);
  bool Wait(uint32_t timeoutMs);
  bool IsDone() const;
  usb::IoResult Result() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  usb::IoResult result_;
};

// Writes the status words into `record` (if any) and completes `io` successfully.
void CompleteOk(IoCompletion& io, uint8_t* record, uint32_t bytesReturned);
// Writes the status words matching `error` into `record` (if any) and completes `io` as failed.
void CompleteFailed(IoCompletion& io, uint8_t* record, uint32_t error, uint32_t bytesReturned = 0);

// The device side that can drop a request whose PendingIo goes away early.
class IoOwner {
 public:
  virtual ~IoOwner() = default;
  // Removes the request from every queue; it will never be completed (nor touch its buffers).
  virtual void Forget(const IoCompletion* io) = 0;
};

// The PendingIo handed to the caller. Destroying it before completion withdraws
// the request, so the device never writes into buffers the caller has released.
class SimPendingIo final : public usb::PendingIo {
 public:
  SimPendingIo(std::shared_ptr<IoCompletion> state, std::weak_ptr<IoOwner> owner)
      : state_(std::move(state)), owner_(std::move(owner)) {}
  ~SimPendingIo() override;

  bool Wait(uint32_t timeoutMs) override { return state_->Wait(timeoutMs); }
  bool IsDone() const override { return state_->IsDone(); }
  usb::IoResult Result() const override { return state_->Result(); }

 private:
  std::shared_ptr<IoCompletion> state_;
  std::weak_ptr<IoOwner> owner_;
};

// A request that is already finished (bad arguments, device gone).
std::unique_ptr<usb::PendingIo> FailedIo(uint8_t* record, uint32_t error);

}  // namespace okc::sim
