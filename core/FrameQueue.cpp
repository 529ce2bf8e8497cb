#include "okccamera/FrameQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace okc::core {

FrameQueue::FrameQueue(size_t slotSize) : slotSize_(slotSize) {}

FrameQueue::~FrameQueue() {
  // Drain first: a binary semaphore must never be released past one.
  (void)frameAvailable_.try_acquire();
  frameAvailable_.release();
}

void FrameQueue::Reset() {
  std::lock_guard guard(lock_);
  writeIndex_ = readIndex_ = count_ = 0;
  ++generation_;
  (void)frameAvailable_.try_acquire();
  queueChanged_.notify_all();
}

bool FrameQueue::Push(const uint8_t* frame, size_t length, const FrameMetadata& metadata) {
  std::lock_guard guard(lock_);
  if (count_ >= kSlots || !frame) return false;
  // Only after a Reset during a loan can the next slot be the lent one.
  if (writeIndex_ == lentIndex_) return false;
  // A slot is allocated when it takes its first frame, so a camera that never
  // captures holds no frame memory.
  std::unique_ptr<uint8_t[]>& slot = slots_[writeIndex_];
  if (!slot) slot.reset(new (std::nothrow) uint8_t[slotSize_]);
  if (!slot) return false;
  std::memcpy(slots_[writeIndex_].get(), frame, std::min(length, slotSize_));
  metadata_[writeIndex_] = metadata;
  writeIndex_ = (writeIndex_ + 1) % kSlots;
  if (++count_ == 1) frameAvailable_.release();
  queueChanged_.notify_all();
  return true;
}

bool FrameQueue::WaitFrame(uint32_t timeoutMs) {
  if (Count() > 0) return true;
  (void)frameAvailable_.try_acquire_for(std::chrono::milliseconds(timeoutMs));
  return Count() > 0;
}

bool FrameQueue::Pop(uint8_t* out, size_t length, FrameMetadata* metadata) {
  std::lock_guard guard(lock_);
  if (count_ == 0 || !out) return false;
  std::memcpy(out, slots_[readIndex_].get(), std::min(length, slotSize_));
  if (metadata) *metadata = metadata_[readIndex_];
  readIndex_ = (readIndex_ + 1) % kSlots;
  if (--count_ == 0) (void)frameAvailable_.try_acquire();
  return true;
}

uint8_t* FrameQueue::LendFront(FrameMetadata* metadata) {
  std::lock_guard guard(lock_);
  if (count_ == 0 || lentIndex_ >= 0) return nullptr;
  if (metadata) *metadata = metadata_[readIndex_];
  lentIndex_ = readIndex_;
  lentGeneration_ = generation_;
  return slots_[readIndex_].get();
}

void FrameQueue::ReturnLent() {
  std::lock_guard guard(lock_);
  if (lentIndex_ < 0) return;
  if (lentGeneration_ == generation_ && count_ > 0) {
    readIndex_ = (readIndex_ + 1) % kSlots;
    if (--count_ == 0) (void)frameAvailable_.try_acquire();
  }
  lentIndex_ = -1;
}

bool FrameQueue::WaitBehindLent(uint32_t timeoutMs) {
  std::unique_lock guard(lock_);
  if (lentIndex_ < 0) return false;
  return queueChanged_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return BehindLentSettled(); });
}

bool FrameQueue::PeekBehindLent(uint8_t* out, size_t length) {
  std::lock_guard guard(lock_);
  if (!out || lentIndex_ < 0 || lentGeneration_ != generation_ || count_ < 2) return false;
  // The lent frame is the oldest while its run lasts; the next slot holds its successor.
  const int behind = (lentIndex_ + 1) % kSlots;
  std::memcpy(out, slots_[behind].get(), std::min(length, slotSize_));
  return true;
}

bool FrameQueue::PeekFront(uint8_t* out, size_t length) {
  std::lock_guard guard(lock_);
  if (count_ == 0 || !out) return false;
  std::memcpy(out, slots_[readIndex_].get(), std::min(length, slotSize_));
  return true;
}

void FrameQueue::SetDelivered(const FrameMetadata& metadata) {
  std::lock_guard guard(lock_);
  delivered_ = metadata;
}

FrameMetadata FrameQueue::Delivered() {
  std::lock_guard guard(lock_);
  return delivered_;
}

int FrameQueue::Count() {
  std::lock_guard guard(lock_);
  return count_;
}

}  // namespace okc::core
