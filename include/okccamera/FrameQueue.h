// The two-slot queue between the capture worker and GetImage.
//
// The worker copies each good frame into a free slot (or drops it when both
// are full); GetImage waits for the frame-available signal and takes the
// oldest. The count decides whether a frame is there; the semaphore only
// wakes a waiting consumer and is released only when the count goes from 0
// to 1. A slot is written only while it is free, so the consumer may read the
// oldest slot while the worker fills the other one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>

namespace okc::core {

class FrameQueue {
 public:
  static constexpr int kSlots = 2;

  explicit FrameQueue(size_t slotSize);
  // Wakes a consumer that may still be waiting.
  ~FrameQueue();
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;

  // Empties the queue (write index, read index and count back to 0).
  void Reset();
  // Copies `length` bytes (at most the slot size) into the next free slot.
  // False when both slots are full: the frame is dropped and the caller counts it.
  bool Push(const uint8_t* frame, size_t length);
  // Waits up to timeoutMs for the frame-available signal; true when a frame is
  // queued afterwards (at once when one already is). Always bounded: callers
  // that want to wait longer call it again.
  bool WaitFrame(uint32_t timeoutMs);
  // Copies the oldest frame (at most `length` bytes, at most the slot size) into
  // `out` and frees its slot. False when empty.
  bool Pop(uint8_t* out, size_t length);
  // Copies the first `length` bytes (at most the slot size) of the oldest frame
  // without taking it. False when empty.
  bool PeekFront(uint8_t* out, size_t length);
  int Count();
  size_t SlotSize() const { return slotSize_; }

  // Copies the frame pushed last (taken since or not) into `out`, which must
  // hold `capacity` bytes; its length goes to `length` and its number (frames
  // pushed into this queue so far, counting from 1) to `number`. A slot is
  // only rewritten by the push after next, so this is always one whole frame.
  // False when nothing was pushed since the last Reset or `out` is too small.
  // The automatic exposure and white balance measure this copy.
  bool CopyNewest(uint8_t* out, size_t capacity, size_t* length, uint64_t* number);

 private:
  std::unique_ptr<uint8_t[]> slots_[kSlots];
  int writeIndex_ = 0;
  int readIndex_ = 0;
  int count_ = 0;
  size_t slotSize_;
  uint64_t pushed_ = 0;        // frames pushed since construction
  size_t newestLength_ = 0;    // bytes of the frame pushed last; 0 after Reset
  std::mutex lock_;
  // Holds at most one signal: released only on the count's 0 -> 1 step, and
  // drained whenever the count returns to 0.
  std::binary_semaphore frameAvailable_{0};
};

}  // namespace okc::core
