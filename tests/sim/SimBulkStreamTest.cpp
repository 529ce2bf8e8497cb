// The bulk stream hands the storage of a chunk back for the next frame only once
// the host has read that chunk to its end.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/SimBulkStream.h"

namespace okc::sim {
namespace {

std::vector<uint8_t> Filled(size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }

// A host transfer of `length` bytes and where it landed.
struct HostRead {
  explicit HostRead(size_t length) : buffer(length, 0) {}
  QueuedRequest Request() { return {.io = io, .buffer = buffer.data(), .length = buffer.size()}; }
  std::vector<uint8_t> Received() const {
    const usb::IoResult r = io->Result();
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(r.bytesReturned));
  }
  std::shared_ptr<IoCompletion> io = std::make_shared<IoCompletion>();
  std::vector<uint8_t> buffer;
};

TEST(SimBulkStream, AChunkComesBackOnlyOnceTheHostHasReadItToItsEnd) {
  BulkStream bulk;
  EXPECT_TRUE(bulk.TakeSpentChunk().empty());  // nothing sent yet

  bulk.Push(Filled(100, 0xA1));
  HostRead firstPart(60);
  bulk.Submit(firstPart.Request());
  ASSERT_TRUE(firstPart.io->IsDone());
  EXPECT_TRUE(bulk.TakeSpentChunk().empty()) << "40 bytes of the chunk are still to be read";

  // The next frame goes in behind it while the host still reads the first.
  bulk.Push(Filled(100, 0xB2));
  EXPECT_TRUE(bulk.TakeSpentChunk().empty());
  HostRead rest(60);
  bulk.Submit(rest.Request());
  EXPECT_EQ(rest.Received(), Filled(40, 0xA1));

  // Now the first chunk is free: it comes back once, with its capacity.
  std::vector<uint8_t> spare = bulk.TakeSpentChunk();
  EXPECT_GE(spare.capacity(), 100u);
  EXPECT_TRUE(bulk.TakeSpentChunk().empty());
  // Filling it again must not touch the frame still waiting.
  spare.assign(100, 0xEE);
  HostRead second(200);
  bulk.Submit(second.Request());
  EXPECT_EQ(second.Received(), Filled(100, 0xB2));
  EXPECT_EQ(bulk.PendingBytes(), 0u);
  EXPECT_EQ(bulk.TakeSpentChunk().size(), 100u);
}

}  // namespace
}  // namespace okc::sim
