// The bulk IN endpoint of a simulated camera: the transfers the host has
// queued and the chunks of data the camera has to send, matched in order.
// Not locked by itself: the owning camera holds its lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sim/SimIo.h"

namespace okc::sim {

// A request waiting on the device.
struct QueuedRequest {
  std::shared_ptr<IoCompletion> io;
  uint8_t* record = nullptr;  // receives the status words; may be null
  uint8_t* buffer = nullptr;  // where the payload lands (bulk IN)
  size_t length = 0;          // room in buffer
  uint32_t returnedBase = 0;  // record bytes counted in bytesReturned (38 for buffered transfers)
  uint64_t linkId = 0;        // the link that submitted it
};

// Completes and removes the requests of `queue` for which `match` holds.
template <typename Match>
void FailMatching(std::deque<QueuedRequest>& queue, Match match, uint32_t error) {
  std::deque<QueuedRequest> kept;
  for (QueuedRequest& r : queue) {
    if (match(r)) {
      CompleteFailed(*r.io, r.record, error);
    } else {
      kept.push_back(std::move(r));
    }
  }
  queue.swap(kept);
}

class BulkStream {
 public:
  // Queues a transfer behind the others; it is served as soon as data is there.
  void Submit(QueuedRequest transfer);
  // Appends a chunk; its end finishes the transfer that reads it, like a short packet.
  void Push(std::vector<uint8_t> chunk);
  // The storage of the last chunk the host has read to its end, for the sender
  // to fill again (empty if there is none). A chunk the host is still reading
  // is never handed out.
  std::vector<uint8_t> TakeSpentChunk();
  size_t PendingBytes() const { return pendingBytes_; }
  size_t QueuedTransfers() const { return transfers_.size(); }

  void FailAll(uint32_t error);
  void FailLink(uint64_t linkId, uint32_t error);
  void Forget(const IoCompletion* io);

 private:
  void Serve();

  std::deque<QueuedRequest> transfers_;
  std::deque<std::vector<uint8_t>> chunks_;
  size_t chunkOffset_ = 0;  // bytes of chunks_.front() already sent
  std::vector<uint8_t> spent_;  // read to its end; kept so the next frame needs no allocation
  size_t pendingBytes_ = 0;
};

}  // namespace okc::sim
