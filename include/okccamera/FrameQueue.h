// The two-slot queue between the capture worker and GetImage.
//
// The worker copies each good frame into a free slot (or drops it when both
// are full); GetImage waits for the frame-available signal and takes the
// oldest. The count decides whether a frame is there; the semaphore only
// wakes a waiting consumer and is released only when the count goes from 0
// to 1. A slot is written only while it is free, so the consumer may read the
// oldest slot while the worker fills the other one.
//
// Each slot also keeps what is known about its frame (FrameMetadata), and the
// queue keeps the metadata of the frame GetImage last delivered and a count of
// the good frames dropped because the host did not collect them in time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>

namespace okc::core {

// What is known about one frame: its number in the capture run, when it was
// exposed, and the settings it was taken with. Times are microseconds on the
// system clock (UTC since 1970) and on the steady (monotonic) clock.
struct FrameMetadata {
  uint64_t sequence = 0;  // 0: no frame; numbers start at 1 with each capture run
  int64_t startUtcUs = 0;
  int64_t endUtcUs = 0;
  int64_t startMonotonicUs = 0;
  int64_t endMonotonicUs = 0;
  uint64_t exposureUs = 0;
  int gain = 0;
  // The window in sensor pixels (start unmirrored, unbinned), the delivered
  // size and the software mirrors in force.
  int width = 0;
  int height = 0;
  int bin = 1;
  int startX = 0;
  int startY = 0;
  bool flipRow = false;
  bool flipColumn = false;
};

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
  bool Push(const uint8_t* frame, size_t length, const FrameMetadata& metadata = {});
  // Waits up to timeoutMs for the frame-available signal; true when a frame is
  // queued afterwards (at once when one already is). Always bounded: callers
  // that want to wait longer call it again.
  bool WaitFrame(uint32_t timeoutMs);
  // Copies the oldest frame (at most `length` bytes, at most the slot size) into
  // `out` and frees its slot, and its metadata into `metadata` when given.
  // False when empty.
  bool Pop(uint8_t* out, size_t length, FrameMetadata* metadata = nullptr);
  // Lends the oldest frame's slot, to be read (and changed) in place instead of
  // copied out; its metadata goes to `metadata` when given. Null when empty.
  // Until ReturnLent the worker fills only the other slot.
  uint8_t* LendFront(FrameMetadata* metadata = nullptr);
  // Ends the loan: the lent frame leaves the queue (unless Reset emptied the
  // queue meanwhile).
  void ReturnLent();
  // The look-ahead on a lent frame: waits up to timeoutMs until a frame is
  // queued behind it, or until a Reset has ended the run the lent frame came
  // from. True when either happened; PeekBehindLent tells which.
  bool WaitBehindLent(uint32_t timeoutMs);
  // Copies the first `length` bytes (at most the slot size) of the frame queued
  // behind the lent one. False when there is none, no loan, or its run is over.
  bool PeekBehindLent(uint8_t* out, size_t length);
  // Copies the first `length` bytes (at most the slot size) of the oldest frame
  // without taking it. False when empty.
  bool PeekFront(uint8_t* out, size_t length);
  int Count();
  size_t SlotSize() const { return slotSize_; }

  // Good frames the worker had to drop because both slots were still full:
  // the host did not collect them in time. Counted by the worker.
  void CountNotCollected() { ++notCollected_; }
  uint32_t NotCollected() const { return notCollected_; }
  void ResetNotCollected() { notCollected_ = 0; }
  // The metadata of the frame GetImage last delivered (set by frame delivery).
  void SetDelivered(const FrameMetadata& metadata);
  FrameMetadata Delivered();

 private:
  std::unique_ptr<uint8_t[]> slots_[kSlots];
  int writeIndex_ = 0;
  int readIndex_ = 0;
  int count_ = 0;
  // The slot lent out, and the Reset count when it was lent.
  int lentIndex_ = -1;
  uint64_t lentGeneration_ = 0;
  uint64_t generation_ = 0;
  FrameMetadata metadata_[kSlots];
  FrameMetadata delivered_;
  std::atomic<uint32_t> notCollected_{0};
  size_t slotSize_;
  std::mutex lock_;
  // Holds at most one signal: released only on the count's 0 -> 1 step, and
  // drained whenever the count returns to 0.
  std::binary_semaphore frameAvailable_{0};
  // Signalled on every Push and Reset, for the look-ahead behind a lent frame.
  std::condition_variable queueChanged_;

  // Under lock_: a frame follows the lent one, or a Reset ended the loan's run.
  bool BehindLentSettled() const { return lentIndex_ >= 0 && (lentGeneration_ != generation_ || count_ >= 2); }
};

}  // namespace okc::core
