#include "sim/SimIo.h"

#include <chrono>

#include "usb/RequestRecord.h"

namespace okc::sim {

void IoCompletion::Complete(const usb::IoResult& result) {
  {
    std::lock_guard lock(mutex_);
    if (done_) return;
    done_ = true;
    result_ = result;
  }
  done_cv_.notify_all();
}

bool IoCompletion::Wait(uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  if (timeoutMs == usb::kInfinite) {
    done_cv_.wait(lock, [this] { return done_; });
    return true;
  }
  return done_cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

bool IoCompletion::IsDone() const {
  std::lock_guard lock(mutex_);
  return done_;
}

usb::IoResult IoCompletion::Result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

void CompleteOk(IoCompletion& io, uint8_t* record, uint32_t bytesReturned) {
  if (record) usb::RequestRecord::StoreStatus(record, 0, 0);
  io.Complete({true, bytesReturned, usb::kErrNone});
}

void CompleteFailed(IoCompletion& io, uint8_t* record, uint32_t error, uint32_t bytesReturned) {
  if (record) {
    switch (error) {
      case usb::kErrOperationAborted:
        usb::RequestRecord::StoreStatus(record, kNtStatusCancelled, kUsbdStatusCanceled);
        break;
      case usb::kErrNoDevice:
        usb::RequestRecord::StoreStatus(record, kNtStatusDeviceGone, kUsbdStatusDeviceGone);
        break;
      default:
        usb::RequestRecord::StoreStatus(record, kNtStatusUnsuccessful, kUsbdStatusStall);
        break;
    }
  }
  io.Complete({false, bytesReturned, error});
}

SimPendingIo::~SimPendingIo() {
  if (state_->IsDone()) return;
  if (auto owner = owner_.lock()) owner->Forget(state_.get());
}

std::unique_ptr<usb::PendingIo> FailedIo(uint8_t* record, uint32_t error) {
  auto state = std::make_shared<IoCompletion>();
  CompleteFailed(*state, record, error);
  return std::make_unique<SimPendingIo>(std::move(state), std::weak_ptr<IoOwner>());
}

}  // namespace okc::sim
