// The descriptors a simulated camera serves through GET_DESCRIPTOR.
#include <gtest/gtest.h>

#include "SeamRequests.h"

namespace okc::sim::test {
namespace {

uint16_t Le16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); }

std::u16string StringOf(const std::vector<uint8_t>& d) {
  std::u16string s;
  for (size_t i = 2; i + 1 < d.size(); i += 2) s.push_back(static_cast<char16_t>(Le16(d, i)));
  return s;
}

using SimDescriptors = SimTest;

TEST_F(SimDescriptors, Usb2And3CamerasDescribeTheirBulkEndpointAndOnlyUsb3HasABos) {
  const struct {
    Model model;
    uint16_t bcdUsb, bulkPacket;
    uint8_t packetSize0;
    std::vector<uint8_t> companion;  // after the endpoint, ending the configuration
  } cases[] = {{Model::PIMC, 0x0200, 512, 64, {}}, {Model::TAVC_U, 0x0300, 1024, 9, {6, 0x30, 15, 0, 0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ShortNameOf(c.model));
    Open(c.model);
    const auto dev = GetDescriptor(Link(), 1, 0, 18).data;
    ASSERT_EQ(dev.size(), 18u);
    EXPECT_EQ(Le16(dev, 2), c.bcdUsb);
    EXPECT_EQ(dev[7], c.packetSize0);
    EXPECT_EQ(Le16(dev, 10), ProductIdOf(c.model));
    // The host reads the 9-byte header first, then the whole configuration.
    const uint16_t total = Le16(GetDescriptor(Link(), 2, 0, 9).data, 2);
    const auto config = GetDescriptor(Link(), 2, 0, total).data;
    ASSERT_EQ(config.size(), total);
    ASSERT_EQ(total, 9u + 9u + 7u + c.companion.size());
    EXPECT_EQ(config[18 + 2], 0x82);
    EXPECT_EQ(Le16(config, 18 + 4), c.bulkPacket);
    EXPECT_EQ(std::vector<uint8_t>(config.begin() + 25, config.end()), c.companion);  // burst of 16 on USB 3
    EXPECT_EQ(GetDescriptor(Link(), 15, 0, 5).result.ok, c.model == Model::TAVC_U);
  }
}

TEST_F(SimDescriptors, StringsAreUtf16InTheGivenLanguagesAndCutToWhatADescriptorHolds) {
  SimDeviceOptions o;
  o.model = Model::SELM;
  o.manufacturer = "YRA Optik Ä";
  o.languages = {0x0407, 0x0409};
  Open(o);
  const auto languages = GetDescriptor(Link(), 3, 0, 255).data;
  ASSERT_EQ(languages.size(), 6u);
  EXPECT_EQ(Le16(languages, 2), 0x0407);
  EXPECT_EQ(Le16(languages, 4), 0x0409);
  const auto dev = GetDescriptor(Link(), 1, 0, 18).data;
  EXPECT_EQ(StringOf(GetDescriptor(Link(), 3, dev[14], 255, 0x0409).data), u"YRA Optik Ä");
  EXPECT_EQ(StringOf(GetDescriptor(Link(), 3, dev[15], 255, 0x0409).data), u"OKCSELM");

  o.manufacturer = std::string(300, 'Y');
  const auto overlong = bus->Attach(o)->Descriptor(3, 1);
  ASSERT_EQ(overlong.size(), 254u);
  EXPECT_EQ(overlong[0], 254);
}

TEST_F(SimDescriptors, AnswersAtMostWLengthBytes) {
  Open(Model::TAVC);
  const ControlReply header = GetDescriptor(Link(), 3, 1, 2);
  ASSERT_TRUE(header.result.ok);
  EXPECT_EQ(header.result.bytesReturned, usb::kRecordSize + 2);
  EXPECT_EQ(header.data[1], 3);
  EXPECT_EQ(GetDescriptor(Link(), 1, 0, 64).data.size(), 18u);  // no more than the descriptor holds
}

TEST_F(SimDescriptors, OverridesAreServedAsStoredAndMissingDescriptorsOrOtherRequestsStall) {
  Open(Model::TAVC);
  const std::vector<uint8_t> lying = {9, 2, 0x2C, 0x01, 1, 1, 0, 0x80, 50};  // claims 300 bytes, holds 9
  Camera().OverrideDescriptor(2, 0, lying);
  EXPECT_EQ(GetDescriptor(Link(), 2, 0, 300).data, lying);
  Camera().OverrideDescriptor(2, 0, {});
  Camera().ClearRequests();

  EXPECT_FALSE(GetDescriptor(Link(), 2, 0, 9).result.ok);     // removed
  EXPECT_FALSE(GetDescriptor(Link(), 3, 9, 255).result.ok);   // no string 9
  const ControlReply setConfig = RunControl(Link(), ControlRequest(kStandardType, 9, false, 1, 0, 0));
  EXPECT_FALSE(setConfig.result.ok);
  EXPECT_EQ(setConfig.result.error, usb::kErrGenFailure);
  EXPECT_NE(setConfig.usbdStatus, 0u);
  EXPECT_EQ(Camera().Requests().size(), 3u);  // all reached the device and are in its log
}

}  // namespace
}  // namespace okc::sim::test
