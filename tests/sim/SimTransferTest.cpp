// Bulk IN transfers, aborts and the transfer faults of a simulated camera.
#include <gtest/gtest.h>

#include <thread>

#include "SeamRequests.h"

namespace okc::sim::test {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

class SimTransfers : public ::testing::Test {
 protected:
  void SetUp() override { c_ = AttachAndOpen(*bus_, Model::TAVC); }
  usb::DeviceLink& Link() { return *c_.link; }
  SimCamera& Camera() { return *c_.camera; }

  std::shared_ptr<SimBus> bus_ = CreateSimBus();
  OpenedCamera c_;
};

TEST_F(SimTransfers, QueuedReadsCompleteInOrderWithTheirLengths) {
  BulkRead a(Link(), 8), b(Link(), 8), c(Link(), 8);
  EXPECT_FALSE(a.io->IsDone());

  Camera().PushBulkData(Bytes(20, 0));  // fills a and b, ends in c
  ASSERT_TRUE(a.io->Wait(0) && b.io->Wait(0) && c.io->Wait(0));
  EXPECT_EQ(a.Received(), Bytes(8, 0));
  EXPECT_EQ(b.Received(), Bytes(8, 8));
  EXPECT_EQ(c.Received(), Bytes(4, 16));  // the chunk's end finishes c short
  EXPECT_TRUE(c.io->Result().ok);
  EXPECT_EQ(Camera().PendingBulkBytes(), 0u);
  EXPECT_EQ(usb::RequestRecord::Decode(c.record.data()).usbdStatus, 0u);
}

TEST_F(SimTransfers, PartlyReadChunkContinuesInTheNextTransfer) {
  Camera().PushBulkData(Bytes(10, 100));
  Camera().PushBulkData(Bytes(3, 200));
  EXPECT_EQ(Camera().PendingBulkBytes(), 13u);

  BulkRead first(Link(), 6);  // data is waiting: served on submit
  ASSERT_TRUE(first.io->IsDone());
  EXPECT_EQ(first.Received(), Bytes(6, 100));
  BulkRead second(Link(), 64);
  EXPECT_EQ(second.Received(), Bytes(4, 106));  // the rest of the first chunk only
  BulkRead third(Link(), 64);
  EXPECT_EQ(third.Received(), Bytes(3, 200));
  EXPECT_EQ(Camera().PendingBulkBytes(), 0u);
}

TEST_F(SimTransfers, BufferedReadCarriesThePayloadBehindTheRecord) {
  auto record = EndpointRecord(0x82, 16);
  auto io = Link().SubmitBuffered(record.data(), record.size());
  Camera().PushBulkData(Bytes(5, 1));
  ASSERT_TRUE(io->Wait(0));
  EXPECT_EQ(io->Result().bytesReturned, usb::kRecordSize + 5);
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + usb::kRecordSize, record.begin() + usb::kRecordSize + 5),
            Bytes(5, 1));
}

TEST_F(SimTransfers, ReadsOnOtherEndpointsFail) {
  auto record = EndpointRecord(0x81);
  std::vector<uint8_t> buffer(8);
  auto io = Link().SubmitDirect(record.data(), buffer.data(), buffer.size());
  ASSERT_TRUE(io->IsDone());
  EXPECT_FALSE(io->Result().ok);
  EXPECT_FALSE(Link().SubmitDirect(nullptr, buffer.data(), buffer.size())->Result().ok);
}

TEST_F(SimTransfers, AbortPipeCompletesEveryPendingReadAsAborted) {
  BulkRead a(Link(), 8), b(Link(), 8);
  ASSERT_TRUE(Link().AbortPipe(0x82));
  for (BulkRead* r : {&a, &b}) {
    ASSERT_TRUE(r->io->IsDone());
    EXPECT_FALSE(r->io->Result().ok);
    EXPECT_EQ(r->io->Result().error, usb::kErrOperationAborted);
    EXPECT_EQ(r->io->Result().bytesReturned, 0u);
  }
  EXPECT_EQ(Camera().PipeAborts(), 1);
  // Data pushed afterwards goes to the next read, not to the aborted ones.
  Camera().PushBulkData({9, 9});
  BulkRead c(Link(), 8);
  EXPECT_EQ(c.Received(), (std::vector<uint8_t>{9, 9}));
  EXPECT_EQ(a.buffer, std::vector<uint8_t>(8, 0));
}

TEST_F(SimTransfers, WaitTimesOutWhileNoDataComes) {
  BulkRead a(Link(), 8);
  EXPECT_FALSE(a.io->Wait(1));
  EXPECT_FALSE(a.io->IsDone());
}

TEST_F(SimTransfers, DataPushedFromAnotherThreadWakesTheWaiter) {
  BulkRead a(Link(), 4);
  std::thread camera([this] { Camera().PushBulkData({1, 2, 3, 4}); });
  EXPECT_TRUE(a.io->Wait(usb::kInfinite));
  camera.join();
  EXPECT_EQ(a.Received(), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(SimTransfers, NoAnswerFaultHoldsControlRequestsUntilAbortPipeZero) {
  Camera().SetControlNoAnswer(true);
  ControlRequest request(kVendorType, 0xA7, true, 0x3012, 0, 2);
  auto io = Link().SubmitControl(request.record.data(), request.record.size());
  EXPECT_FALSE(io->Wait(1));
  ASSERT_EQ(Camera().VendorRequests(0xA7).size(), 1u);  // it reached the device

  // Aborting the bulk pipe does not release it; aborting the control pipe does.
  Link().AbortPipe(0x82);
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
  EXPECT_TRUE(Camera().Unplugged());
  ASSERT_TRUE(pending.io->IsDone());
  EXPECT_EQ(pending.io->Result().error, usb::kErrNoDevice);
  ASSERT_TRUE(heldIo->IsDone());
  EXPECT_EQ(heldIo->Result().error, usb::kErrNoDevice);

  BulkRead later(Link(), 8);
  ASSERT_TRUE(later.io->IsDone());
  EXPECT_EQ(later.io->Result().error, usb::kErrNoDevice);
  const ControlReply control = VendorIn(Link(), 0xAD, 0, 0, 2);
  EXPECT_FALSE(control.result.ok);
  EXPECT_EQ(control.result.error, usb::kErrNoDevice);

  EXPECT_FALSE(Link().AbortPipe(0x82));
  EXPECT_FALSE(Link().ResetPipe(0x82));
  EXPECT_FALSE(Link().ResetPort());
  EXPECT_FALSE(Link().CyclePort());
  EXPECT_FALSE(Link().SetTransferSize(0x82, 512));
  EXPECT_EQ(Link().LinkSpeed(), 0u);
  EXPECT_EQ(bus_->CountDevices({usb::kCameraVendorId, 0x6102}), 0);
}

TEST_F(SimTransfers, ClosingALinkAbortsItsPendingTransfers) {
  BulkRead mine(Link(), 8);
  uint32_t error = 0;
  auto other = bus_->Open({usb::kCameraVendorId, 0x6102}, 0, &error);
  ASSERT_TRUE(other);
  BulkRead theirs(*other, 8);

  c_.link.reset();
  ASSERT_TRUE(mine.io->IsDone());
  EXPECT_EQ(mine.io->Result().error, usb::kErrOperationAborted);
  EXPECT_FALSE(theirs.io->IsDone());  // another link's transfer stays queued
  Camera().PushBulkData({5});
  EXPECT_TRUE(theirs.io->IsDone());
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

TEST_F(SimTransfers, HostAndCaptureThreadsShareTheDevice) {
  constexpr int kReads = 200;
  std::thread capture([this] {
    for (int i = 0; i < kReads; ++i) {
      BulkRead r(Link(), 4);
      Camera().PushBulkData({static_cast<uint8_t>(i), 0, 0, 0});
      ASSERT_TRUE(r.io->Wait(usb::kInfinite));
      ASSERT_EQ(r.Received()[0], static_cast<uint8_t>(i));
    }
  });
  for (int i = 0; i < kReads; ++i) {
    ASSERT_TRUE(VendorOut(Link(), 0xA6, 0x3000, static_cast<uint16_t>(i)).result.ok);
  }
  capture.join();
  EXPECT_EQ(Camera().Register(0x3000), kReads - 1);
}

}  // namespace
}  // namespace okc::sim::test
