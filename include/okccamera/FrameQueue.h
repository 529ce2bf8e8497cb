// The two-slot queue between the capture worker and GetImage.
//
// The worker copies each good frame into a free slot (or drops it when both
// are full); GetImage waits on the frame-available semaphore and takes the
// oldest. The semaphore is released only when the count goes from 0 to 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>

namespace okc::core {

class FrameQueue {
 public:
  explicit FrameQueue(size_t slotSize);
  ~FrameQueue();
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;

  // Empties the queue (write index, read index and count back to 0).
  void Reset();
  // Copies `length` bytes (at most the slot size) into the next free slot.
  // False when both slots are full: the frame is dropped and the caller counts it.
  bool Push(const uint8_t* frame, size_t length);
  // Waits up to timeoutMs (0xFFFFFFFF: without limit) for a frame to be available.
  bool WaitFrame(uint32_t timeoutMs);
  // Copies the oldest frame (at most `length` bytes) into `out` and frees its slot. False when empty.
  bool Pop(uint8_t* out, size_t length);
  // Looks at the oldest frame, or the one after it (ahead = 1), without taking it. Null when absent.
  // The pointer stays valid until the frame is popped.
  const uint8_t* Peek(int ahead = 0);
  int Count();
  size_t SlotSize() const { return slotSize_; }

 private:
  std::unique_ptr<uint8_t[]> slots_[2];
  int writeIndex_ = 0;
  int readIndex_ = 0;
  int count_ = 0;
  size_t slotSize_;
  std::mutex lock_;
  std::binary_semaphore frameAvailable_{0};
};

}  // namespace okc::core
