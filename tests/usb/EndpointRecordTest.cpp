// The request records the endpoints hand to the driver, looked at raw.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "RecordingLink.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "usb/RequestRecord.h"

using okc::usb::RequestRecord;
using okc::usb::testing::RecordingLink;

namespace {

// Endpoint descriptors: length, type, address, attributes, wMaxPacketSize, interval.
constexpr uint8_t kBulkIn512[7] = {7, 5, 0x82, 0x02, 0x00, 0x02, 0};
constexpr uint8_t kIsocIn1024[7] = {7, 5, 0x81, 0x01, 0x00, 0x04, 1};

RequestRecord Decoded(const RecordingLink::Submitted& s) { return RequestRecord::Decode(s.record.data()); }

}  // namespace

class EndpointRecordTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingLink> link = std::make_shared<RecordingLink>();
};

// The request fields themselves are checked end to end against the simulated
// cameras; here the parts only the record shows: time-out and payload layout.
TEST_F(EndpointRecordTest, ControlRecordCarriesWholeSecondsAndThePayloadBehindIt) {
  const std::pair<uint32_t, uint32_t> cases[] = {{200, 1}, {0, 0}, {1, 1}, {1999, 1}, {2500, 2}};
  for (auto [ms, seconds] : cases) {
    SCOPED_TRACE(ms);
    link->submitted.clear();
    CCyControlEndPoint ep(link, 64);
    ep.request = 0xA6;
    ep.timeoutMs = ms;
    uint8_t data[3] = {1, 2, 3};
    uint32_t length = sizeof data;
    ASSERT_TRUE(ep.Transfer(data, length));
    const auto& s = link->submitted.at(0);
    const RequestRecord r = Decoded(s);
    EXPECT_EQ(r.timeoutSeconds, seconds);
    EXPECT_EQ(r.requestType, 0x40);  // host to device, vendor, device
    EXPECT_EQ(r.length, 3);
    EXPECT_EQ(r.payloadOffset, 38u);
    EXPECT_EQ(r.payloadLength, 3u);
    EXPECT_EQ(std::vector<uint8_t>(s.record.begin() + 38, s.record.end()), (std::vector<uint8_t>{1, 2, 3}));
  }
}

TEST_F(EndpointRecordTest, LyingOrFailingCompletionsNeverOverrunOrPassAsSuccess) {
  CCyControlEndPoint ep(link, 64);
  // A data stage that does not fit 16 bits is refused before it is sent.
  std::vector<uint8_t> data(65536);
  uint32_t length = static_cast<uint32_t>(data.size());
  EXPECT_FALSE(ep.Transfer(data.data(), length));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(link->submitted.empty());

  // A driver claiming more bytes than asked for: only the asked-for bytes are written.
  link->claimedBytes = 38 + 100000;
  ep.direction = 1;
  uint8_t buffer[8] = {};
  length = 4;
  ASSERT_TRUE(ep.Transfer(buffer, length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(buffer[3], 0x5A);
  EXPECT_EQ(buffer[4], 0);

  // A non-zero status word fails an otherwise successful request.
  link->claimedBytes.reset();
  link->usbdStatus = 0xC0000004;
  length = 0;
  EXPECT_FALSE(ep.Transfer(buffer, length));
  EXPECT_EQ(ep.usbdStatus, 0xC0000004u);
  EXPECT_NE(ep.lastError, 0u);
}

TEST_F(EndpointRecordTest, IsocRecordHoldsEightBytesPerPacketAndZeroLengthStartsNothing) {
  CCyIsocEndPoint ep(link, kIsocIn1024, nullptr);
  std::vector<uint8_t> data(3000);
  auto context = ep.StartDirectTransfer(data.data(), 3000);
  ASSERT_TRUE(context);
  const RequestRecord r = RequestRecord::Decode(context->Record().data());
  EXPECT_EQ(context->Record().size(), 38u + 24u);  // 3000 bytes = 3 packets of 1024
  EXPECT_EQ(r.packetTableOffset, 38u);
  EXPECT_EQ(r.packetTableLength, 24u);
  EXPECT_EQ(r.payloadLength, 0u);

  link->submitted.clear();
  EXPECT_EQ(ep.StartTransfer(data.data(), 0), nullptr);
  EXPECT_EQ(ep.StartBufferedTransfer(data.data(), 0), nullptr);
  EXPECT_TRUE(link->submitted.empty());
}

TEST_F(EndpointRecordTest, MaxPacketSizeCountsPacketsPerMicroframeBurstAndMultiplier) {
  constexpr uint8_t kIsocHighBandwidth[7] = {7, 5, 0x81, 0x01, 0x00, 0x14, 1};  // 1024 bytes, 3 per microframe
  constexpr uint8_t kBulkIn1024[7] = {7, 5, 0x82, 0x02, 0x00, 0x04, 0};
  // SuperSpeed companions: length, type, bMaxBurst, bmAttributes, wBytesPerInterval.
  constexpr uint8_t kBurst16[6] = {6, 0x30, 15, 0, 0, 0};
  constexpr uint8_t kBurst4Mult3[6] = {6, 0x30, 3, 2, 0x00, 0x30};
  EXPECT_EQ(CCyIsocEndPoint(link, kIsocHighBandwidth, nullptr).maxPacketSize, 3072u);
  EXPECT_EQ(CCyBulkEndPoint(link, kBulkIn1024, kBurst16).maxPacketSize, 16384u);
  EXPECT_EQ(CCyIsocEndPoint(link, kIsocIn1024, kBurst4Mult3).maxPacketSize, 1024u * 4 * 3);
}

TEST_F(EndpointRecordTest, ClosedEndpointOrMissingBufferStartsNothing) {
  CCyBulkEndPoint closed(nullptr, kBulkIn512, nullptr);
  uint8_t buffer[16];
  uint32_t length = sizeof buffer;
  EXPECT_EQ(closed.StartTransfer(buffer, length), nullptr);
  EXPECT_FALSE(closed.Transfer(buffer, length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(closed.lastError, okc::usb::kErrInvalidHandle);
  EXPECT_EQ(CCyBulkEndPoint(link, kBulkIn512, nullptr).StartTransfer(nullptr, 512), nullptr);
  EXPECT_TRUE(link->submitted.empty());
}
