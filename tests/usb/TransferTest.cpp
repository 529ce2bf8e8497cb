// Control and bulk transfers on simulated cameras: vendor requests, time-outs,
// queued bulk reads, aborts, vanishing devices and closed devices.
#include <chrono>
#include <numeric>
#include <vector>

#include "SimFixture.h"

using okc::sim::Model;

namespace {

constexpr uint32_t kSystemRam = 0x40000000;

}  // namespace

using TransferTest = SimBusTest;

TEST_F(TransferTest, VendorRequestSplitsLongDataKeepingValueAndIndexAndSendsEmptyOnesOnce) {
  auto cam = AttachOpened(Model::TAVC_U, true);
  std::vector<uint8_t> data(70000);
  std::iota(data.begin(), data.end(), 0);
  ASSERT_TRUE(device->VendorRequest(0xA0, kSystemRam + 0x1234, 70000, data.data(), false));
  const auto writes = cam->VendorRequests(0xA0);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].data.size(), 65535u);
  EXPECT_EQ(writes[1].data.size(), 70000u - 65535u);
  for (const auto& w : writes) {
    EXPECT_EQ(w.requestType, 0x40);
    EXPECT_EQ(w.value, 0x1234);
    EXPECT_EQ(w.index, 0x4000);
  }
  EXPECT_EQ(writes[1].data[0], data[65535]);

  cam->ClearRequests();
  ASSERT_TRUE(device->VendorRequest(0xA0, kSystemRam + 0x10, 0, nullptr, false));
  ASSERT_EQ(cam->VendorRequests().size(), 1u);
  EXPECT_TRUE(cam->VendorRequests()[0].data.empty());
}

TEST_F(TransferTest, StalledOrBufferlessRequestsFail) {
  auto cam = AttachOpened(Model::TAVC);
  EXPECT_FALSE(device->VendorRequest(0xA7, 0, 2, nullptr, true));
  EXPECT_TRUE(cam->Requests().empty());  // refused unsent
  // The USB 2 controller's silicon answers A0 whatever runs; the USB 3 camera firmware stalls it.
  EXPECT_TRUE(device->ProbeBootLoader());

  cam->SetStallRequest(0xA7);
  uint8_t value[2] = {};
  EXPECT_FALSE(device->VendorRequest(0xA7, 0x3012, 2, value, true));
  EXPECT_NE(device->controlEndpoint->usbdStatus, 0u);
  EXPECT_NE(device->lastError, 0u);

  AttachOpened(Model::TAVC_U);
  EXPECT_FALSE(device->ProbeBootLoader());
}

TEST_F(TransferTest, ControlRequestTheDeviceNeverAnswersFailsAfterItsTimeout) {
  auto cam = AttachOpened(Model::TAVC);
  cam->SetControlNoAnswer(true);
  device->controlEndpoint->timeoutMs = 100;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(device->VendorRequest(0xA9, 0, 0, nullptr, false));
  const auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(elapsedMs, 100);
  EXPECT_LT(elapsedMs, 5000);  // aborted, not left hanging
  EXPECT_GE(cam->PipeAborts(), 1);
  EXPECT_EQ(device->controlEndpoint->lastError, okc::usb::kErrOperationAborted);

  cam->SetControlNoAnswer(false);
  EXPECT_TRUE(device->VendorRequest(0xA9, 0, 0, nullptr, false));
}

TEST_F(TransferTest, QueuedBulkTransfersCompleteInOrderWithTheirLengthsAndAbortCancelsTheRest) {
  auto cam = AttachOpened(Model::TAVC);
  CCyUSBEndPoint* ep = device->bulkInEndpoint;
  ASSERT_NE(ep, nullptr);
  std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(1024, 0));
  std::vector<std::unique_ptr<CCyTransferContext>> queued;
  for (auto& b : buffers) queued.push_back(ep->StartTransfer(b.data(), 1024));
  ASSERT_TRUE(queued[0] && queued[1] && queued[2]);
  // The length CompleteTransfer reports; when it refuses, -1 minus the length it reports.
  auto complete = [&](size_t i) {
    uint32_t length = 1024;
    return ep->CompleteTransfer(buffers[i].data(), length, queued[i]) ? int64_t{length} : -1 - int64_t{length};
  };
  EXPECT_FALSE(ep->WaitTransfer(queued[0], 0));

  cam->PushBulkData(std::vector<uint8_t>(600, 0x11));   // ends early: a short transfer
  cam->PushBulkData(std::vector<uint8_t>(1024, 0x22));  // fills the second
  ASSERT_TRUE(ep->WaitTransfer(queued[0], 2000));
  ASSERT_TRUE(ep->WaitTransfer(queued[1], 2000));
  EXPECT_FALSE(ep->WaitTransfer(queued[2], 20));
  EXPECT_EQ(complete(0), 600);
  EXPECT_EQ(queued[0], nullptr);
  EXPECT_EQ(buffers[0][599], 0x11);
  EXPECT_EQ(buffers[0][600], 0);
  EXPECT_EQ(complete(1), 1024);
  EXPECT_EQ(buffers[1][1023], 0x22);
  EXPECT_LT(complete(2), 0);  // still pending: refused, and the transfer stays with the caller
  EXPECT_NE(queued[2], nullptr);

  EXPECT_TRUE(ep->AbortPipe());
  ASSERT_TRUE(ep->WaitTransfer(queued[2], 2000));
  EXPECT_EQ(complete(2), -1);  // refused with no bytes
  EXPECT_EQ(ep->lastError, okc::usb::kErrOperationAborted);
  EXPECT_TRUE(ep->ResetPipe());
  EXPECT_EQ(cam->PipeResets(), 1);
}

TEST_F(TransferTest, TransferDroppedInFlightIsWithdrawnAndTheNextOneGetsTheData) {
  auto cam = AttachOpened(Model::SELM);
  CCyUSBEndPoint* ep = device->bulkInEndpoint;
  {
    std::vector<uint8_t> gone(512);
    ASSERT_NE(ep->StartTransfer(gone.data(), 512), nullptr);
  }  // context and buffer released while the transfer was pending
  cam->PushBulkData(std::vector<uint8_t>(300, 0x33));
  ep->directMode = false;  // the buffered form copies the payload out of the record
  std::vector<uint8_t> buffer(512, 0);
  uint32_t length = 512;
  ASSERT_TRUE(ep->Transfer(buffer.data(), length));
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(buffer[299], 0x33);
  EXPECT_EQ(buffer[300], 0);
}

TEST_F(TransferTest, TransferSizeIsRoundedUpToWholePackets) {
  auto cam = AttachOpened(Model::TAVC);
  uint32_t error = 0;
  std::shared_ptr<okc::usb::DeviceLink> link = bus->Open(ClassOf(Model::TAVC), 0, &error);
  ASSERT_NE(link, nullptr);
  constexpr uint8_t kBulkIn1024[7] = {7, 5, 0x82, 0x02, 0x00, 0x04, 0};
  constexpr uint8_t kBulkIn1000[7] = {7, 5, 0x82, 0x02, 0xE8, 0x03, 0};
  CCyBulkEndPoint ep1024(link, kBulkIn1024, nullptr);
  ep1024.SetTransferSize(307200);
  EXPECT_EQ(cam->BulkTransferSize(), 307200u);
  CCyBulkEndPoint ep1000(link, kBulkIn1000, nullptr);
  ep1000.SetTransferSize(307200);
  EXPECT_EQ(cam->BulkTransferSize(), 308000u);

  ep1000.maxPacketSize = 0;  // no packet size: nothing is sent
  ep1000.SetTransferSize(4096);
  EXPECT_EQ(cam->BulkTransferSize(), 308000u);
}

TEST_F(TransferTest, DeviceThatVanishesBetweenTwoRequestsFailsTheSecond) {
  auto cam = AttachOpened(Model::PIMC);
  uint8_t value[2] = {};
  ASSERT_TRUE(device->VendorRequest(0xA7, 0x0000, 2, value, true));
  std::vector<uint8_t> frame(4096);
  auto pending = device->bulkInEndpoint->StartTransfer(frame.data(), 4096);
  ASSERT_NE(pending, nullptr);
  cam->Unplug();

  EXPECT_FALSE(device->VendorRequest(0xA7, 0x0000, 2, value, true));
  EXPECT_EQ(device->lastError, okc::usb::kErrNoDevice);
  ASSERT_TRUE(device->bulkInEndpoint->WaitTransfer(pending, 2000));
  uint32_t length = 4096;
  EXPECT_FALSE(device->bulkInEndpoint->CompleteTransfer(frame.data(), length, pending));
  EXPECT_EQ(length, 0u);
  length = 4096;
  EXPECT_FALSE(device->bulkInEndpoint->Transfer(frame.data(), length));
  EXPECT_FALSE(device->ResetPort());
  EXPECT_EQ(device->CountDevices(), 0);
  EXPECT_FALSE(device->OpenDevice(0));
}

TEST_F(TransferTest, PortRequestsReachAnOpenDeviceAndNothingReachesAClosedOne) {
  auto cam = AttachOpened(Model::TAVC_U, true);
  EXPECT_TRUE(device->ResetPort());
  EXPECT_TRUE(device->CyclePort());
  EXPECT_EQ(cam->PortResets(), 1);
  EXPECT_EQ(cam->PortCycles(), 1);

  device->CloseDevice();
  uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(device->VendorRequest(0xA0, kSystemRam, 4, data, false));
  EXPECT_EQ(device->lastError, okc::usb::kErrInvalidHandle);
  EXPECT_FALSE(device->ReadMemory(kSystemRam, 4, data, 0xA0));
  EXPECT_FALSE(device->ResetPort());
  EXPECT_FALSE(device->CyclePort());
  EXPECT_EQ(device->bulkInEndpoint, nullptr);
  EXPECT_TRUE(cam->Requests().empty());
  EXPECT_EQ(cam->PortResets(), 1);
  EXPECT_EQ(cam->PortCycles(), 1);
}
