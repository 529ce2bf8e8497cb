#include "okccamera/FrameQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace okc::core {

FrameQueue::FrameQueue(size_t slotSize) : slotSize_(slotSize) {
  slots_[0] = std::make_unique<uint8_t[]>(slotSize);
  slots_[1] = std::make_unique<uint8_t[]>(slotSize);
}

// Wake a consumer that may still be waiting.
FrameQueue::~FrameQueue() { frameAvailable_.release(); }

void FrameQueue::Reset() {
  std::lock_guard guard(lock_);
  writeIndex_ = readIndex_ = count_ = 0;
  (void)frameAvailable_.try_acquire();
}

bool FrameQueue::Push(const uint8_t* frame, size_t length) {
  std::lock_guard guard(lock_);
  if (count_ >= 2) return false;
  std::memcpy(slots_[writeIndex_].get(), frame, std::min(length, slotSize_));
  writeIndex_ ^= 1;
  if (++count_ == 1) frameAvailable_.release();
  return true;
}

bool FrameQueue::WaitFrame(uint32_t timeoutMs) {
  if (Count() > 0) return true;
  if (timeoutMs == 0xFFFFFFFF) {
    frameAvailable_.acquire();
  } else if (!frameAvailable_.try_acquire_for(std::chrono::milliseconds(timeoutMs))) {
    return false;
  }
  return Count() > 0;
}

bool FrameQueue::Pop(uint8_t* out, size_t length) {
  std::lock_guard guard(lock_);
  if (count_ == 0) return false;
  std::memcpy(out, slots_[readIndex_].get(), std::min(length, slotSize_));
  readIndex_ ^= 1;
  if (--count_ == 0) (void)frameAvailable_.try_acquire();
  return true;
}

const uint8_t* FrameQueue::Peek(int ahead) {
  std::lock_guard guard(lock_);
  if (ahead < 0 || ahead >= count_) return nullptr;
  return slots_[(readIndex_ + ahead) & 1].get();
}

int FrameQueue::Count() {
  std::lock_guard guard(lock_);
  return count_;
}

}  // namespace okc::core
