// Bulk IN transfers, aborts and the transfer faults of a simulated camera.
#include <gtest/gtest.h>

#include <thread>

#include "SeamRequests.h"

namespace okc::sim::test {
namespace {

class SimTransfers : public SimTest {
 protected:
  void SetUp() override { Open(Model::TAVC); }
};

TEST_F(SimTransfers, QueuedReadsCompleteInOrderAndAChunkEndFinishesAReadShort) {
  BulkRead a(Link(), 8), b(Link(), 8), c(Link(), 8);
  EXPECT_FALSE(a.io->Wait(1));
  Camera().PushBulkData(Bytes(20, 0));  // fills a and b, ends in c
  ASSERT_TRUE(a.io->Wait(0) && b.io->Wait(0) && c.io->Wait(0));
  EXPECT_EQ(a.Received(), Bytes(8, 0));
  EXPECT_EQ(b.Received(), Bytes(8, 8));
  EXPECT_EQ(c.Received(), Bytes(4, 16));
  EXPECT_TRUE(c.io->Result().ok);
  EXPECT_EQ(usb::RequestRecord::Decode(c.record.data()).usbdStatus, 0u);

  // Data already waiting is served on submit; a partly read chunk continues in the next read.
  Camera().PushBulkData(Bytes(10, 100));
  Camera().PushBulkData(Bytes(3, 200));
  BulkRead first(Link(), 6), second(Link(), 64), third(Link(), 64);
  ASSERT_TRUE(first.io->IsDone() && second.io->IsDone() && third.io->IsDone());
  EXPECT_EQ(first.Received(), Bytes(6, 100));
  EXPECT_EQ(second.Received(), Bytes(4, 106));  // the rest of the first chunk only
  EXPECT_EQ(third.Received(), Bytes(3, 200));
  EXPECT_EQ(Camera().PendingBulkBytes(), 0u);
}

TEST_F(SimTransfers, MalformedRequestsAreRefusedUnseen) {
  // A 2-byte data stage claimed, but only the bare record (or less) handed over.
  ControlRequest request(kVendorType, 0xA7, true, 0x3012, 0, 2);
  EXPECT_FALSE(Link().SubmitControl(request.record.data(), usb::kRecordSize)->Result().ok);
  EXPECT_FALSE(Link().SubmitControl(request.record.data(), 10)->Result().ok);
  EXPECT_FALSE(Link().SubmitControl(nullptr, 0)->Result().ok);
  EXPECT_TRUE(Camera().Requests().empty());
  // Bulk reads need a record naming the bulk IN endpoint.
  auto record = EndpointRecord(0x81);
  std::vector<uint8_t> buffer(8);
  auto io = Link().SubmitDirect(record.data(), buffer.data(), buffer.size());
  EXPECT_TRUE(io->IsDone() && !io->Result().ok);  // failed, not left pending
  EXPECT_FALSE(Link().SubmitDirect(nullptr, buffer.data(), buffer.size())->Result().ok);
}

TEST_F(SimTransfers, AbortPipeCompletesEveryPendingReadAsAbortedAndClosingALinkAbortsOnlyItsOwn) {
  BulkRead a(Link(), 8), b(Link(), 8);
  ASSERT_TRUE(Link().AbortPipe(0x82));
  for (BulkRead* r : {&a, &b}) {
    ASSERT_TRUE(r->io->IsDone());
    EXPECT_EQ(r->io->Result().error, usb::kErrOperationAborted);
    EXPECT_EQ(r->io->Result().bytesReturned, 0u);
  }
  EXPECT_EQ(Camera().PipeAborts(), 1);

  uint32_t error = 0;
  auto other = bus->Open(ClassOf(Model::TAVC), 0, &error);
  ASSERT_TRUE(other);
  BulkRead mine(Link(), 8), theirs(*other, 8);
  link.reset();
  ASSERT_TRUE(mine.io->IsDone());
  EXPECT_EQ(mine.io->Result().error, usb::kErrOperationAborted);
  EXPECT_FALSE(theirs.io->IsDone());
  // Data pushed afterwards goes to the live read, not to the aborted ones.
  Camera().PushBulkData({9, 9});
  ASSERT_TRUE(theirs.io->IsDone());
  EXPECT_EQ(theirs.Received(), (std::vector<uint8_t>{9, 9}));
  EXPECT_EQ(a.buffer, std::vector<uint8_t>(8, 0));
}

TEST_F(SimTransfers, DroppedPendingIoIsWithdrawnAndItsBufferLeftAlone) {
  std::vector<uint8_t> record = EndpointRecord(0x82);
  auto buffer = std::make_unique<std::vector<uint8_t>>(8, 0);
  auto io = Link().SubmitDirect(record.data(), buffer->data(), buffer->size());
  io.reset();
  buffer.reset();  // under the sanitizers a later write here would be caught
  Camera().PushBulkData({1, 2, 3});
  EXPECT_EQ(Camera().PendingBulkBytes(), 3u);
}

TEST_F(SimTransfers, CaptureThreadWaitsForDataWhileTheHostSendsRequests) {
  constexpr int kReads = 100;
  std::thread capture([this] {
    for (int i = 0; i < kReads; ++i) {
      BulkRead r(Link(), 4);
      ASSERT_TRUE(r.io->Wait(usb::kInfinite));
      ASSERT_EQ(r.Received()[0], static_cast<uint8_t>(i));
    }
  });
  for (int i = 0; i < kReads; ++i) {
    ASSERT_TRUE(VendorOut(Link(), 0xA6, 0x3000, static_cast<uint16_t>(i)).result.ok);
    Camera().PushBulkData({static_cast<uint8_t>(i), 0, 0, 0});
  }
  capture.join();
  EXPECT_EQ(Camera().Register(0x3000), kReads - 1);
}

TEST_F(SimTransfers, NoAnswerFaultHoldsControlRequestsUntilAbortPipeZero) {
  Camera().SetControlNoAnswer(true);
  ControlRequest request(kVendorType, 0xA7, true, 0x3012, 0, 2);
  auto io = Link().SubmitControl(request.record.data(), request.record.size());
  EXPECT_FALSE(io->Wait(1));
  ASSERT_EQ(Camera().VendorRequests(0xA7).size(), 1u);  // it reached the device
  Link().AbortPipe(0x82);  // the bulk pipe does not release it, the control pipe does
  EXPECT_FALSE(io->IsDone());
  ASSERT_TRUE(Link().AbortPipe(0));
  ASSERT_TRUE(io->IsDone());
  EXPECT_EQ(io->Result().error, usb::kErrOperationAborted);
  EXPECT_NE(request.UsbdStatus(), 0u);
  Camera().SetControlNoAnswer(false);
  EXPECT_TRUE(VendorIn(Link(), 0xA7, 0x3012, 0, 2).result.ok);
}

TEST_F(SimTransfers, UnplugFailsPendingAndLaterTransfers) {
  BulkRead pending(Link(), 8);
  Camera().SetControlNoAnswer(true);
  ControlRequest held(kVendorType, 0xA9, false, 0, 0, 0);
  auto heldIo = Link().SubmitControl(held.record.data(), held.record.size());
  Camera().Unplug();
  for (auto* io : {pending.io.get(), heldIo.get()}) {
    ASSERT_TRUE(io->IsDone());
    EXPECT_EQ(io->Result().error, usb::kErrNoDevice);
  }
  BulkRead later(Link(), 8);
  ASSERT_TRUE(later.io->IsDone());
  EXPECT_EQ(later.io->Result().error, usb::kErrNoDevice);
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 2).result.error, usb::kErrNoDevice);
  EXPECT_FALSE(Link().AbortPipe(0x82) || Link().ResetPort() || Link().SetTransferSize(0x82, 512));
  EXPECT_EQ(Link().LinkSpeed(), 0u);
}

}  // namespace
}  // namespace okc::sim::test
