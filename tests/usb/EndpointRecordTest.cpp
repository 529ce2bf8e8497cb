// The request records the endpoints hand to the driver, looked at raw.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "RecordingLink.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "usb/RequestRecord.h"

using okc::usb::RequestRecord;
using okc::usb::testing::RecordingLink;
using Route = RecordingLink::Route;

namespace {

// Endpoint descriptors: length, type, address, attributes, wMaxPacketSize, interval.
constexpr uint8_t kBulkIn512[7] = {7, 5, 0x82, 0x02, 0x00, 0x02, 0};
constexpr uint8_t kBulkOut512[7] = {7, 5, 0x02, 0x02, 0x00, 0x02, 0};
constexpr uint8_t kIsocIn1024[7] = {7, 5, 0x81, 0x01, 0x00, 0x04, 1};
constexpr uint8_t kIsocInHighBandwidth[7] = {7, 5, 0x81, 0x01, 0x00, 0x14, 1};  // 1024 bytes, 3 per microframe
// SuperSpeed companions: length, type, bMaxBurst, bmAttributes, wBytesPerInterval.
constexpr uint8_t kBurst16[6] = {6, 0x30, 15, 0, 0, 0};
constexpr uint8_t kBurst4Mult3[6] = {6, 0x30, 3, 2, 0x00, 0x30};

RequestRecord Decoded(const RecordingLink::Submitted& s) { return RequestRecord::Decode(s.record.data()); }

}  // namespace

TEST(ControlRecord, CarriesTheRequestFieldsAndThePayloadBehindTheRecord) {
  auto link = std::make_shared<RecordingLink>();
  CCyControlEndPoint ep(link, 64);
  ep.direction = 0;
  ep.request = 0xA6;
  ep.value = 0x1234;
  ep.index = 0xBEEF;
  ep.timeoutMs = 2500;
  uint8_t data[3] = {1, 2, 3};
  uint32_t length = sizeof data;
  ASSERT_TRUE(ep.Transfer(data, length));

  ASSERT_EQ(link->submitted.size(), 1u);
  const auto& s = link->submitted[0];
  EXPECT_EQ(s.route, Route::Control);
  ASSERT_EQ(s.record.size(), 38u + 3u);
  const RequestRecord r = Decoded(s);
  EXPECT_EQ(r.requestType, 0x40);  // host to device, vendor, device
  EXPECT_EQ(r.request, 0xA6);
  EXPECT_EQ(r.value, 0x1234);
  EXPECT_EQ(r.index, 0xBEEF);
  EXPECT_EQ(r.length, 3);
  EXPECT_EQ(r.timeoutSeconds, 2u);
  EXPECT_EQ(r.endpointAddress, 0);
  EXPECT_EQ(r.payloadOffset, 38u);
  EXPECT_EQ(r.payloadLength, 3u);
  EXPECT_EQ(std::vector<uint8_t>(s.record.begin() + 38, s.record.end()), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ControlRecord, ShortTimeoutsBecomeOneSecondAndZeroStaysZero) {
  const std::pair<uint32_t, uint32_t> cases[] = {{200, 1}, {0, 0}, {1, 1}, {999, 1}, {1000, 1}, {1999, 1}, {5000, 5}};
  for (auto [ms, seconds] : cases) {
    auto link = std::make_shared<RecordingLink>();
    CCyControlEndPoint ep(link, 64);
    ep.timeoutMs = ms;
    uint8_t none = 0;
    uint32_t length = 0;
    ASSERT_TRUE(ep.Transfer(&none, length));
    EXPECT_EQ(Decoded(link->submitted.at(0)).timeoutSeconds, seconds) << ms << " ms";
  }
}

TEST(ControlRecord, DeviceToHostRequestReturnsTheAnsweredBytes) {
  auto link = std::make_shared<RecordingLink>();
  CCyControlEndPoint ep(link, 64);
  ep.target = 0;
  ep.requestType = 0;
  ep.direction = 1;
  ep.request = 6;
  ep.value = 0x0100;
  uint8_t answer[4] = {};
  uint32_t length = sizeof answer;
  ASSERT_TRUE(ep.Transfer(answer, length));
  EXPECT_EQ(Decoded(link->submitted.at(0)).requestType, 0x80);
  EXPECT_TRUE(ep.isIn);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(ep.bytesTransferred, 4u);
  EXPECT_EQ(answer[3], 0x5A);
}

TEST(ControlRecord, DataStageLongerThanSixteenBitsIsRefusedUnsent) {
  auto link = std::make_shared<RecordingLink>();
  CCyControlEndPoint ep(link, 64);
  std::vector<uint8_t> data(65536);
  uint32_t length = static_cast<uint32_t>(data.size());
  EXPECT_FALSE(ep.Transfer(data.data(), length));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(link->submitted.empty());
}

TEST(EndpointCompletion, ADriverClaimingMoreBytesThanAskedNeverOverrunsTheBuffer) {
  auto link = std::make_shared<RecordingLink>();
  link->claimedBytes = 38 + 100000;
  CCyControlEndPoint ep(link, 64);
  ep.direction = 1;
  uint8_t buffer[8] = {};
  uint32_t length = 4;  // room for 4 only; the guard bytes behind must stay untouched
  ASSERT_TRUE(ep.Transfer(buffer, length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(buffer[3], 0x5A);
  EXPECT_EQ(buffer[4], 0);
}

TEST(EndpointCompletion, ANonZeroStatusWordFailsAnOtherwiseSuccessfulRequest) {
  auto link = std::make_shared<RecordingLink>();
  link->usbdStatus = 0xC0000004;
  CCyControlEndPoint ep(link, 64);
  uint8_t none = 0;
  uint32_t length = 0;
  EXPECT_FALSE(ep.Transfer(&none, length));
  EXPECT_EQ(ep.usbdStatus, 0xC0000004u);
  EXPECT_NE(ep.lastError, 0u);
}

TEST(BulkRecord, DirectFormNamesOnlyTheEndpointAndHandsTheBufferOver) {
  auto link = std::make_shared<RecordingLink>();
  CCyBulkEndPoint ep(link, kBulkIn512, nullptr);
  std::vector<uint8_t> frame(4096);
  uint32_t length = static_cast<uint32_t>(frame.size());
  ASSERT_TRUE(ep.Transfer(frame.data(), length));
  const auto& s = link->submitted.at(0);
  EXPECT_EQ(s.route, Route::Direct);
  EXPECT_EQ(s.buffer, frame.data());
  EXPECT_EQ(s.length, frame.size());
  const RequestRecord r = Decoded(s);
  EXPECT_EQ(r.endpointAddress, 0x82);
  EXPECT_EQ(r.requestType, 0);
  EXPECT_EQ(r.length, 0);
  EXPECT_EQ(r.timeoutSeconds, 0u);
  EXPECT_EQ(r.payloadOffset, 0u);
  EXPECT_EQ(r.payloadLength, 0u);
  EXPECT_EQ(length, 4096u);
}

TEST(BulkRecord, BufferedFormCarriesThePayloadInsideTheRecord) {
  auto link = std::make_shared<RecordingLink>();
  CCyBulkEndPoint ep(link, kBulkOut512, nullptr);
  ep.directMode = false;
  uint8_t data[5] = {9, 8, 7, 6, 5};
  uint32_t length = sizeof data;
  ASSERT_TRUE(ep.Transfer(data, length));
  const auto& s = link->submitted.at(0);
  EXPECT_EQ(s.route, Route::Buffered);
  ASSERT_EQ(s.record.size(), 43u);
  const RequestRecord r = Decoded(s);
  EXPECT_EQ(r.endpointAddress, 0x02);
  EXPECT_EQ(r.payloadOffset, 38u);
  EXPECT_EQ(r.payloadLength, 5u);
  EXPECT_EQ(s.record[38], 9);
  EXPECT_EQ(s.record[42], 5);
}

TEST(BulkRecord, BufferedInCopiesThePayloadBackToTheCaller) {
  auto link = std::make_shared<RecordingLink>();
  CCyBulkEndPoint ep(link, kBulkIn512, nullptr);
  ep.directMode = false;
  uint8_t data[16] = {};
  uint32_t length = sizeof data;
  ASSERT_TRUE(ep.Transfer(data, length));
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(data[0], 0x5A);
  EXPECT_EQ(data[15], 0x5A);
}

TEST(IsocRecord, PacketTableHoldsEightBytesPerPacket) {
  auto link = std::make_shared<RecordingLink>();
  CCyIsocEndPoint ep(link, kIsocIn1024, nullptr);
  std::vector<uint8_t> data(3000);
  auto context = ep.StartDirectTransfer(data.data(), 3000);
  ASSERT_TRUE(context);
  RequestRecord r = RequestRecord::Decode(context->Record().data());
  EXPECT_EQ(context->Record().size(), 38u + 24u);
  EXPECT_EQ(r.packetTableOffset, 38u);
  EXPECT_EQ(r.packetTableLength, 24u);  // 3000 bytes = 3 packets of 1024
  EXPECT_EQ(r.payloadOffset, 0u);
  EXPECT_EQ(r.payloadLength, 0u);

  context = ep.StartBufferedTransfer(data.data(), 3000);
  ASSERT_TRUE(context);
  r = RequestRecord::Decode(context->Record().data());
  EXPECT_EQ(context->Record().size(), 38u + 24u + 3000u);
  EXPECT_EQ(r.payloadOffset, 62u);
  EXPECT_EQ(r.payloadLength, 3000u);
}

TEST(IsocRecord, ZeroLengthStartsNothing) {
  auto link = std::make_shared<RecordingLink>();
  CCyIsocEndPoint ep(link, kIsocIn1024, nullptr);
  uint8_t none = 0;
  EXPECT_EQ(ep.StartTransfer(&none, 0), nullptr);
  EXPECT_EQ(ep.StartBufferedTransfer(&none, 0), nullptr);
  EXPECT_TRUE(link->submitted.empty());
}

TEST(EndpointDescriptor, MaxPacketSizeCountsPacketsPerMicroframeBurstAndMultiplier) {
  auto link = std::make_shared<RecordingLink>();
  CCyIsocEndPoint highBandwidth(link, kIsocInHighBandwidth, nullptr);
  EXPECT_EQ(highBandwidth.packetsPerMicroframe, 3);
  EXPECT_EQ(highBandwidth.maxPacketSize, 3072u);

  constexpr uint8_t kSuperSpeedBulk[7] = {7, 5, 0x82, 0x02, 0x00, 0x04, 0};
  CCyBulkEndPoint bulk(link, kSuperSpeedBulk, kBurst16);
  EXPECT_EQ(bulk.maxPacketSize, 16384u);
  EXPECT_EQ(bulk.maxBurst, 15);
  EXPECT_TRUE(bulk.isIn);
  EXPECT_TRUE(bulk.directMode);
  EXPECT_EQ(bulk.timeoutMs, 10000u);

  CCyIsocEndPoint isoc(link, kIsocIn1024, kBurst4Mult3);
  EXPECT_EQ(isoc.maxPacketSize, 1024u * 4 * 3);
  EXPECT_EQ(isoc.bytesPerInterval, 0x3000);
}

TEST(ClosedEndpoint, StartsNothingAndReportsAnInvalidHandle) {
  CCyBulkEndPoint ep(nullptr, kBulkIn512, nullptr);
  uint8_t buffer[16];
  uint32_t length = sizeof buffer;
  EXPECT_EQ(ep.StartTransfer(buffer, length), nullptr);
  EXPECT_FALSE(ep.Transfer(buffer, length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(ep.lastError, okc::usb::kErrInvalidHandle);
  EXPECT_FALSE(ep.ResetPipe());
  EXPECT_TRUE(ep.AbortPipe());
  std::unique_ptr<CCyTransferContext> none;
  EXPECT_FALSE(ep.WaitTransfer(none, 0));
  EXPECT_FALSE(ep.CompleteTransfer(buffer, length, none));
}

TEST(EndpointInput, MissingBufferWithALengthIsRefused) {
  auto link = std::make_shared<RecordingLink>();
  CCyBulkEndPoint ep(link, kBulkIn512, nullptr);
  EXPECT_EQ(ep.StartTransfer(nullptr, 512), nullptr);
  EXPECT_TRUE(link->submitted.empty());
}
