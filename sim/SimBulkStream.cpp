#include "sim/SimBulkStream.h"

#include <algorithm>
#include <cstring>

namespace okc::sim {

void BulkStream::Submit(QueuedRequest transfer) {
  if (transfer.length == 0) {
    CompleteOk(*transfer.io, transfer.record, transfer.returnedBase);
    return;
  }
  transfers_.push_back(std::move(transfer));
  Serve();
}

void BulkStream::Push(std::vector<uint8_t> chunk) {
  pendingBytes_ += chunk.size();
  chunks_.push_back(std::move(chunk));
  Serve();
}

std::vector<uint8_t> BulkStream::TakeSpentChunk() {
  std::vector<uint8_t> chunk;
  chunk.swap(spent_);
  return chunk;
}

void BulkStream::Serve() {
  while (!transfers_.empty() && !chunks_.empty()) {
    QueuedRequest transfer = std::move(transfers_.front());
    transfers_.pop_front();
    const std::vector<uint8_t>& chunk = chunks_.front();
    const size_t n = std::min(chunk.size() - chunkOffset_, transfer.length);
    if (n > 0) std::memcpy(transfer.buffer, chunk.data() + chunkOffset_, n);
    chunkOffset_ += n;
    pendingBytes_ -= n;
    if (chunkOffset_ == chunk.size()) {
      spent_ = std::move(chunks_.front());
      chunks_.pop_front();
      chunkOffset_ = 0;
    }
    CompleteOk(*transfer.io, transfer.record, transfer.returnedBase + static_cast<uint32_t>(n));
  }
}

void BulkStream::FailAll(uint32_t error) {
  FailMatching(transfers_, [](const QueuedRequest&) { return true; }, error);
}

void BulkStream::FailLink(uint64_t linkId, uint32_t error) {
  FailMatching(transfers_, [linkId](const QueuedRequest& r) { return r.linkId == linkId; }, error);
}

void BulkStream::Forget(const IoCompletion* io) {
  std::erase_if(transfers_, [io](const QueuedRequest& r) { return r.io.get() == io; });
}

}  // namespace okc::sim
