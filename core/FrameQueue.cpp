#include "okccamera/FrameQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace okc::core {

FrameQueue::FrameQueue(size_t slotSize) : slotSize_(slotSize) {
  for (auto& slot : slots_) slot = std::make_unique<uint8_t[]>(slotSize);
}

FrameQueue::~FrameQueue() {
  // Drain first: a binary semaphore must never be released past one.
  (void)frameAvailable_.try_acquire();
  frameAvailable_.release();
}

void FrameQueue::Reset() {
  std::lock_guard guard(lock_);
  writeIndex_ = readIndex_ = count_ = 0;
  newestLength_ = 0;
  (void)frameAvailable_.try_acquire();
}

bool FrameQueue::Push(const uint8_t* frame, size_t length) {
  std::lock_guard guard(lock_);
  if (count_ >= kSlots || !frame) return false;
  newestLength_ = std::min(length, slotSize_);
  std::memcpy(slots_[writeIndex_].get(), frame, newestLength_);
  writeIndex_ = (writeIndex_ + 1) % kSlots;
  ++pushed_;
  if (++count_ == 1) frameAvailable_.release();
  return true;
}

bool FrameQueue::WaitFrame(uint32_t timeoutMs) {
  if (Count() > 0) return true;
  (void)frameAvailable_.try_acquire_for(std::chrono::milliseconds(timeoutMs));
  return Count() > 0;
}

bool FrameQueue::Pop(uint8_t* out, size_t length) {
  std::lock_guard guard(lock_);
  if (count_ == 0 || !out) return false;
  std::memcpy(out, slots_[readIndex_].get(), std::min(length, slotSize_));
  readIndex_ = (readIndex_ + 1) % kSlots;
  if (--count_ == 0) (void)frameAvailable_.try_acquire();
  return true;
}

bool FrameQueue::PeekFront(uint8_t* out, size_t length) {
  std::lock_guard guard(lock_);
  if (count_ == 0 || !out) return false;
  std::memcpy(out, slots_[readIndex_].get(), std::min(length, slotSize_));
  return true;
}

bool FrameQueue::CopyNewest(uint8_t* out, size_t capacity, size_t* length, uint64_t* number) {
  std::lock_guard guard(lock_);
  if (!out || newestLength_ == 0 || capacity < newestLength_) return false;
  const int newest = (writeIndex_ + kSlots - 1) % kSlots;
  std::memcpy(out, slots_[newest].get(), newestLength_);
  if (length) *length = newestLength_;
  if (number) *number = pushed_;
  return true;
}

int FrameQueue::Count() {
  std::lock_guard guard(lock_);
  return count_;
}

}  // namespace okc::core
