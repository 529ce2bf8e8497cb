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

TEST(SimDescriptors, Usb2DeviceAndConfiguration) {
  auto bus = CreateSimBus();
  auto c = AttachAndOpen(*bus, Model::PIMC);

  const auto dev = GetDescriptor(*c.link, 1, 0, 18).data;
  ASSERT_EQ(dev.size(), 18u);
  EXPECT_EQ(dev[0], 18);
  EXPECT_EQ(dev[1], 1);
  EXPECT_EQ(Le16(dev, 2), 0x0200);
  EXPECT_EQ(dev[7], 64);
  EXPECT_EQ(Le16(dev, 8), 0x6A5D);
  EXPECT_EQ(Le16(dev, 10), 0x6106);
  EXPECT_EQ(dev[17], 1);  // one configuration

  // The host reads the 9-byte header first, then the whole configuration.
  const auto head = GetDescriptor(*c.link, 2, 0, 9).data;
  ASSERT_EQ(head.size(), 9u);
  const uint16_t total = Le16(head, 2);
  const auto config = GetDescriptor(*c.link, 2, 0, total).data;
  ASSERT_EQ(config.size(), total);
  ASSERT_EQ(total, 9u + 9u + 7u);
  EXPECT_EQ(config[4], 1);       // one interface
  EXPECT_EQ(config[9 + 1], 4);   // interface descriptor
  EXPECT_EQ(config[9 + 4], 1);   // with one endpoint
  const size_t ep = 18;
  EXPECT_EQ(config[ep + 1], 5);
  EXPECT_EQ(config[ep + 2], 0x82);
  EXPECT_EQ(config[ep + 3], 0x02);
  EXPECT_EQ(Le16(config, ep + 4), 512);

  // USB 2 cameras have no BOS descriptor.
  EXPECT_FALSE(GetDescriptor(*c.link, 15, 0, 5).result.ok);
}

TEST(SimDescriptors, Usb3DeviceHasCompanionAndBos) {
  auto bus = CreateSimBus();
  auto c = AttachAndOpen(*bus, Model::TAVC_U);

  const auto dev = GetDescriptor(*c.link, 1, 0, 18).data;
  ASSERT_EQ(dev.size(), 18u);
  EXPECT_EQ(Le16(dev, 2), 0x0300);
  EXPECT_EQ(dev[7], 9);

  const uint16_t total = Le16(GetDescriptor(*c.link, 2, 0, 9).data, 2);
  const auto config = GetDescriptor(*c.link, 2, 0, total).data;
  ASSERT_EQ(total, 9u + 9u + 7u + 6u);
  EXPECT_EQ(Le16(config, 18 + 4), 1024);
  EXPECT_EQ(config[25], 6);
  EXPECT_EQ(config[26], 0x30);  // SuperSpeed endpoint companion
  EXPECT_EQ(config[27], 15);    // max burst

  const auto bosHead = GetDescriptor(*c.link, 15, 0, 5).data;
  ASSERT_EQ(bosHead.size(), 5u);
  const auto bos = GetDescriptor(*c.link, 15, 0, Le16(bosHead, 2)).data;
  ASSERT_EQ(bos.size(), Le16(bosHead, 2));
  ASSERT_EQ(bos[4], 2);
  // Walk the capabilities by their own lengths: USB 2.0 extension, then SuperSpeed.
  size_t at = 5;
  std::vector<uint8_t> capabilities;
  while (at + 3 <= bos.size() && bos[at] >= 3) {
    EXPECT_EQ(bos[at + 1], 0x10);
    capabilities.push_back(bos[at + 2]);
    at += bos[at];
  }
  EXPECT_EQ(at, bos.size());
  EXPECT_EQ(capabilities, (std::vector<uint8_t>{0x02, 0x03}));
}

TEST(SimDescriptors, StringsAreUtf16AndLanguagesAsGiven) {
  auto bus = CreateSimBus();
  SimDeviceOptions o;
  o.model = Model::SELM;
  o.manufacturer = "YRA Optik Ä";
  o.serialNumber = "X1";
  o.languages = {0x0407, 0x0409};
  auto c = AttachAndOpen(*bus, o);

  const auto languages = GetDescriptor(*c.link, 3, 0, 255).data;
  ASSERT_EQ(languages.size(), 6u);
  EXPECT_EQ(Le16(languages, 2), 0x0407);
  EXPECT_EQ(Le16(languages, 4), 0x0409);

  const auto dev = GetDescriptor(*c.link, 1, 0, 18).data;
  EXPECT_EQ(StringOf(GetDescriptor(*c.link, 3, dev[14], 255, 0x0409).data), u"YRA Optik Ä");
  EXPECT_EQ(StringOf(GetDescriptor(*c.link, 3, dev[15], 255, 0x0409).data), u"OKCSELM");
  EXPECT_EQ(StringOf(GetDescriptor(*c.link, 3, dev[16], 255, 0x0409).data), u"X1");
}

TEST(SimDescriptors, OverlongStringIsCutToWhatADescriptorHolds) {
  auto bus = CreateSimBus();
  SimDeviceOptions o;
  o.manufacturer = std::string(300, 'Y');
  auto c = bus->Attach(o);
  const auto d = c->Descriptor(3, 1);
  ASSERT_EQ(d.size(), 254u);
  EXPECT_EQ(d[0], 254);
}

TEST(SimDescriptors, AnswersAtMostWLengthBytes) {
  auto bus = CreateSimBus();
  auto c = AttachAndOpen(*bus, Model::TAVC);
  const ControlReply header = GetDescriptor(*c.link, 3, 1, 2);
  ASSERT_TRUE(header.result.ok);
  EXPECT_EQ(header.result.bytesReturned, usb::kRecordSize + 2);
  EXPECT_EQ(header.data[1], 3);
  // Asking for more than there is gives the descriptor's length, no more.
  const ControlReply whole = GetDescriptor(*c.link, 1, 0, 64);
  EXPECT_EQ(whole.data.size(), 18u);
}

TEST(SimDescriptors, OverriddenDescriptorIsServedAsStoredEvenWhenItLies) {
  auto bus = CreateSimBus();
  auto c = AttachAndOpen(*bus, Model::TAVC);
  // A configuration whose wTotalLength claims 300 bytes but which holds 9.
  const std::vector<uint8_t> lying = {9, 2, 0x2C, 0x01, 1, 1, 0, 0x80, 50};
  c.camera->OverrideDescriptor(2, 0, lying);
  EXPECT_EQ(c.camera->Descriptor(2, 0), lying);
  const ControlReply reply = GetDescriptor(*c.link, 2, 0, 300);
  ASSERT_TRUE(reply.result.ok);
  EXPECT_EQ(reply.data, lying);

  // Removing a descriptor makes its request stall.
  c.camera->OverrideDescriptor(2, 0, {});
  EXPECT_FALSE(GetDescriptor(*c.link, 2, 0, 9).result.ok);
}

TEST(SimDescriptors, OtherStandardRequestsAndMissingDescriptorsStall) {
  auto bus = CreateSimBus();
  auto c = AttachAndOpen(*bus, Model::TAVC);
  EXPECT_FALSE(GetDescriptor(*c.link, 3, 9, 255).result.ok);  // no string 9
  const ControlReply setConfig = RunControl(*c.link, ControlRequest(kStandardType, 9, false, 1, 0, 0));
  EXPECT_FALSE(setConfig.result.ok);
  EXPECT_EQ(setConfig.result.error, usb::kErrGenFailure);
  EXPECT_NE(setConfig.usbdStatus, 0u);
  // Both reached the device and are in its log.
  EXPECT_EQ(c.camera->Requests().size(), 2u);
  EXPECT_TRUE(c.camera->VendorRequests().empty());
}

}  // namespace
}  // namespace okc::sim::test
