// Control and bulk transfers on simulated cameras: vendor requests, time-outs,
// queued bulk reads, aborts, vanishing devices and closed devices.
#include <chrono>
#include <numeric>
#include <vector>

#include "SimFixture.h"

using okc::sim::Model;

namespace {

constexpr uint8_t kBulkIn512[7] = {7, 5, 0x82, 0x02, 0x00, 0x02, 0};
constexpr uint8_t kBulkIn1024[7] = {7, 5, 0x82, 0x02, 0x00, 0x04, 0};
constexpr uint8_t kBulkIn1000[7] = {7, 5, 0x82, 0x02, 0xE8, 0x03, 0};
constexpr uint32_t kSystemRam = 0x40000000;

}  // namespace

class TransferTest : public SimBusTest {
 protected:
  std::shared_ptr<okc::sim::SimCamera> Attach(Model model, bool bootLoader = false) {
    okc::sim::SimDeviceOptions options;
    options.model = model;
    options.bootLoaderMode = bootLoader;
    auto cam = bus->Attach(options);
    device = std::make_unique<CUsbDevice>(nullptr, ClassOf(model), true);
    EXPECT_TRUE(device->IsOpen());
    cam->ClearRequests();
    return cam;
  }
  std::unique_ptr<CUsbDevice> device;
};

TEST_F(TransferTest, VendorRequestSplitsLongDataIntoPiecesWithTheSameValueAndIndex) {
  auto cam = Attach(Model::TAVC_U, true);
  std::vector<uint8_t> data(70000);
  std::iota(data.begin(), data.end(), 0);
  ASSERT_TRUE(device->VendorRequest(0xA0, kSystemRam + 0x1234, 70000, data.data(), false));
  const auto writes = cam->VendorRequests(0xA0);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].data.size(), 65535u);
  EXPECT_EQ(writes[1].data.size(), 70000u - 65535u);
  for (const auto& w : writes) {
    EXPECT_EQ(w.requestType, 0x40);
    EXPECT_FALSE(w.in);
    EXPECT_EQ(w.value, 0x1234);
    EXPECT_EQ(w.index, 0x4000);
  }
  EXPECT_EQ(writes[1].data[0], data[65535]);
}

TEST_F(TransferTest, ZeroLengthVendorRequestGoesOutOnceWithoutData) {
  auto cam = Attach(Model::TAVC);
  ASSERT_TRUE(device->VendorRequest(0xA9, 0x00020001, 0, nullptr, false));
  const auto sent = cam->VendorRequests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].request, 0xA9);
  EXPECT_EQ(sent[0].value, 1);
  EXPECT_EQ(sent[0].index, 2);
  EXPECT_TRUE(sent[0].data.empty());
}

TEST_F(TransferTest, MemoryWrittenCanBeReadBackAndTheBootLoaderAnswersItsProbe) {
  auto cam = Attach(Model::TAVM_U, true);
  EXPECT_TRUE(device->ProbeBootLoader());
  uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(device->WriteMemory(kSystemRam + 16, sizeof data, data, 0xA0));
  uint8_t back[6] = {};
  ASSERT_TRUE(device->ReadMemory(kSystemRam + 16, sizeof back, back, 0xA0));
  EXPECT_EQ(std::vector<uint8_t>(back, back + 6), std::vector<uint8_t>(data, data + 6));
  EXPECT_EQ(cam->ReadRam(kSystemRam + 16, 6), std::vector<uint8_t>(data, data + 6));
}

TEST_F(TransferTest, CameraFirmwareDoesNotPassForTheBootLoader) {
  Attach(Model::TAVM_U, false);
  EXPECT_FALSE(device->ProbeBootLoader());
}

TEST_F(TransferTest, StalledRequestFailsWithItsStatusWords) {
  auto cam = Attach(Model::TAVC);
  cam->SetStallRequest(0xA7);
  uint8_t value[2] = {};
  EXPECT_FALSE(device->VendorRequest(0xA7, 0x3012, 2, value, true));
  EXPECT_NE(device->controlEndpoint->usbdStatus, 0u);
  EXPECT_NE(device->lastError, 0u);
}

TEST_F(TransferTest, ControlRequestTheDeviceNeverAnswersFailsAfterItsTimeout) {
  auto cam = Attach(Model::TAVC);
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

  // The device answers again afterwards.
  cam->SetControlNoAnswer(false);
  EXPECT_TRUE(device->VendorRequest(0xA9, 0, 0, nullptr, false));
}

TEST_F(TransferTest, QueuedBulkTransfersCompleteInOrderWithTheirLengthsAndAbortCancelsTheRest) {
  auto cam = Attach(Model::TAVC);
  CCyUSBEndPoint* ep = device->bulkInEndpoint;
  ASSERT_NE(ep, nullptr);
  std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(1024, 0));
  std::vector<std::unique_ptr<CCyTransferContext>> queued;
  for (auto& b : buffers) {
    queued.push_back(ep->StartTransfer(b.data(), static_cast<uint32_t>(b.size())));
    ASSERT_NE(queued.back(), nullptr);
  }
  EXPECT_FALSE(ep->WaitTransfer(queued[0], 0));

  cam->PushBulkData(std::vector<uint8_t>(600, 0x11));   // ends early: a short transfer
  cam->PushBulkData(std::vector<uint8_t>(1024, 0x22));  // fills the second
  ASSERT_TRUE(ep->WaitTransfer(queued[0], 2000));
  ASSERT_TRUE(ep->WaitTransfer(queued[1], 2000));
  EXPECT_FALSE(ep->WaitTransfer(queued[2], 20));

  uint32_t length = 1024;
  ASSERT_TRUE(ep->CompleteTransfer(buffers[0].data(), length, queued[0]));
  EXPECT_EQ(length, 600u);
  EXPECT_EQ(queued[0], nullptr);
  EXPECT_EQ(buffers[0][599], 0x11);
  EXPECT_EQ(buffers[0][600], 0);
  length = 1024;
  ASSERT_TRUE(ep->CompleteTransfer(buffers[1].data(), length, queued[1]));
  EXPECT_EQ(length, 1024u);
  EXPECT_EQ(buffers[1][1023], 0x22);

  // Still pending: completion is refused and the transfer stays with the caller.
  length = 1024;
  EXPECT_FALSE(ep->CompleteTransfer(buffers[2].data(), length, queued[2]));
  EXPECT_NE(queued[2], nullptr);

  EXPECT_TRUE(ep->AbortPipe());
  ASSERT_TRUE(ep->WaitTransfer(queued[2], 2000));
  length = 1024;
  EXPECT_FALSE(ep->CompleteTransfer(buffers[2].data(), length, queued[2]));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(ep->lastError, okc::usb::kErrOperationAborted);
  EXPECT_TRUE(ep->ResetPipe());
  EXPECT_EQ(cam->PipeResets(), 1);
}

TEST_F(TransferTest, BufferedBulkTransferCopiesThePayloadOut) {
  auto cam = Attach(Model::SELM);
  CCyUSBEndPoint* ep = device->bulkInEndpoint;
  ep->directMode = false;
  cam->PushBulkData(std::vector<uint8_t>(300, 0x33));
  std::vector<uint8_t> buffer(512, 0);
  uint32_t length = 512;
  ASSERT_TRUE(ep->Transfer(buffer.data(), length));
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(buffer[299], 0x33);
  EXPECT_EQ(buffer[300], 0);
}

TEST_F(TransferTest, DroppingATransferInFlightWithdrawsIt) {
  auto cam = Attach(Model::TAVC);
  {
    std::vector<uint8_t> gone(512);
    auto context = device->bulkInEndpoint->StartTransfer(gone.data(), 512);
    ASSERT_NE(context, nullptr);
  }  // context and buffer released while the transfer was pending
  cam->PushBulkData(std::vector<uint8_t>(512, 0x44));
  std::vector<uint8_t> buffer(512);
  uint32_t length = 512;
  ASSERT_TRUE(device->bulkInEndpoint->Transfer(buffer.data(), length));
  EXPECT_EQ(length, 512u);
  EXPECT_EQ(buffer[0], 0x44);
}

TEST_F(TransferTest, TransferSizeIsRoundedUpToWholePackets) {
  auto cam = Attach(Model::TAVC);
  device->bulkInEndpoint->SetTransferSize(1000);
  EXPECT_EQ(cam->BulkTransferSize(), 1024u);  // packets of 512

  uint32_t error = 0;
  std::shared_ptr<okc::usb::DeviceLink> link = bus->Open(ClassOf(Model::TAVC), 0, &error);
  ASSERT_NE(link, nullptr);
  CCyBulkEndPoint ep1024(link, kBulkIn1024, nullptr);
  ep1024.SetTransferSize(307200);
  EXPECT_EQ(cam->BulkTransferSize(), 307200u);
  CCyBulkEndPoint ep1000(link, kBulkIn1000, nullptr);
  ep1000.SetTransferSize(307200);
  EXPECT_EQ(cam->BulkTransferSize(), 308000u);

  ep1000.maxPacketSize = 0;
  ep1000.SetTransferSize(4096);
  EXPECT_EQ(cam->BulkTransferSize(), 308000u);  // nothing sent
  CCyBulkEndPoint closed(nullptr, kBulkIn512, nullptr);
  closed.SetTransferSize(4096);
  EXPECT_EQ(cam->BulkTransferSize(), 308000u);
}

TEST_F(TransferTest, DeviceThatVanishesBetweenTwoRequestsFailsTheSecond) {
  auto cam = Attach(Model::PIMC);
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

TEST_F(TransferTest, RequestsOnAClosedDeviceDoNothing) {
  auto cam = Attach(Model::TAVC_U, true);
  device->CloseDevice();
  uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(device->VendorRequest(0xA0, kSystemRam, 4, data, false));
  EXPECT_EQ(device->lastError, okc::usb::kErrInvalidHandle);
  EXPECT_FALSE(device->WriteMemory(kSystemRam, 4, data, 0xA0));
  EXPECT_FALSE(device->ReadMemory(kSystemRam, 4, data, 0xA0));
  EXPECT_FALSE(device->ProbeBootLoader());
  EXPECT_FALSE(device->ResetPort());
  EXPECT_FALSE(device->CyclePort());
  EXPECT_EQ(device->bulkInEndpoint, nullptr);
  EXPECT_TRUE(cam->Requests().empty());
  EXPECT_EQ(cam->PortResets(), 0);
}

TEST_F(TransferTest, PortResetAndReEnumerationReachTheDevice) {
  auto cam = Attach(Model::DORC);
  EXPECT_TRUE(device->ResetPort());
  EXPECT_TRUE(device->CyclePort());
  EXPECT_EQ(cam->PortResets(), 1);
  EXPECT_EQ(cam->PortCycles(), 1);
}

TEST_F(TransferTest, MissingBufferForALengthIsRefusedUnsent) {
  auto cam = Attach(Model::TAVC);
  EXPECT_FALSE(device->VendorRequest(0xA7, 0, 2, nullptr, true));
  EXPECT_TRUE(cam->Requests().empty());
}
