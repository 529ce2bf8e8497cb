// The camera firmware's vendor requests as the simulated controller answers them.
#include <gtest/gtest.h>

#include "SeamRequests.h"
#include "okccamera/Clock.h"

namespace okc::sim::test {
namespace {

class SimVendorRequests : public ::testing::Test {
 protected:
  void SetUp() override { c_ = AttachAndOpen(*bus_, Model::TAVC); }
  usb::DeviceLink& Link() { return *c_.link; }
  SimCamera& Camera() { return *c_.camera; }

  std::shared_ptr<SimBus> bus_ = CreateSimBus();
  OpenedCamera c_;
};

TEST_F(SimVendorRequests, SixteenBitRegisterRoundTripIsMostSignificantFirst) {
  ASSERT_TRUE(VendorOut(Link(), 0xA6, 0x3012, 0x1234).result.ok);
  EXPECT_EQ(Camera().Register(0x3012), 0x1234);
  const ControlReply read = VendorIn(Link(), 0xA7, 0x3012, 0, 2);
  ASSERT_TRUE(read.result.ok);
  EXPECT_EQ(read.result.bytesReturned, usb::kRecordSize + 2);
  EXPECT_EQ(read.data, (std::vector<uint8_t>{0x12, 0x34}));

  Camera().SetRegister(0x3000, 0xBEEF);
  EXPECT_EQ(VendorIn(Link(), 0xA7, 0x3000, 0, 2).data, (std::vector<uint8_t>{0xBE, 0xEF}));
}

TEST_F(SimVendorRequests, EightBitRegisterFileIsSeparate) {
  ASSERT_TRUE(VendorOut(Link(), 0xB6, 0x0010, 0x5A).result.ok);
  EXPECT_EQ(Camera().RegisterByte(0x0010), 0x5A);
  EXPECT_EQ(Camera().Register(0x0010), 0);
  EXPECT_EQ(VendorIn(Link(), 0xB7, 0x0010, 0, 1).data, std::vector<uint8_t>{0x5A});
  EXPECT_FALSE(VendorOut(Link(), 0xB6, 0x0010, 0x100).result.ok);  // not a byte
}

TEST_F(SimVendorRequests, FirmwareVersionIsVThenVersion) {
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 2).data, (std::vector<uint8_t>{'V', 3}));
  Camera().SetFirmwareVersion(2);
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 2).data, (std::vector<uint8_t>{'V', 2}));
  // Asking for one byte gets one byte.
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 1).data, std::vector<uint8_t>{'V'});
}

TEST_F(SimVendorRequests, TransferCountTakesValueHighAndIndexLow) {
  ASSERT_TRUE(VendorOut(Link(), 0xB5, 0x0001, 0x2345).result.ok);
  EXPECT_EQ(Camera().TransferCount(), 0x12345u);
}

TEST_F(SimVendorRequests, ModeSwitchesFollowTheirCommands) {
  EXPECT_EQ(Camera().SensorClockMhz(), 48u);
  VendorOut(Link(), 0xA3);
  EXPECT_EQ(Camera().SensorClockMhz(), 24u);
  VendorOut(Link(), 0xA4);
  EXPECT_EQ(Camera().SensorClockMhz(), 48u);

  VendorOut(Link(), 0xA9);
  EXPECT_TRUE(Camera().Streaming());
  VendorOut(Link(), 0xAA);
  EXPECT_FALSE(Camera().Streaming());

  VendorOut(Link(), 0xAC);
  EXPECT_TRUE(Camera().SixteenBitSamples());
  VendorOut(Link(), 0xAB);
  EXPECT_FALSE(Camera().SixteenBitSamples());

  VendorOut(Link(), 0xAE);
  EXPECT_TRUE(Camera().InLongExposure());
  VendorOut(Link(), 0xAF);
  EXPECT_FALSE(Camera().InLongExposure());
}

TEST_F(SimVendorRequests, Usb3HostAnswersOneByte) {
  EXPECT_EQ(VendorIn(Link(), 0xB4, 0, 0, 1).data, std::vector<uint8_t>{0});  // a USB 2 camera
  Camera().SetUsb3Host(true);
  EXPECT_EQ(VendorIn(Link(), 0xB4, 0, 0, 1).data, std::vector<uint8_t>{1});
}

TEST_F(SimVendorRequests, GuidePulseRecordsOnAndOffTimes) {
  const uint64_t before = platform::TickCountMs();
  ASSERT_TRUE(VendorOut(Link(), 0xB0, 2).result.ok);
  const auto on = Camera().GuidePulses();
  ASSERT_EQ(on.size(), 1u);
  EXPECT_EQ(on[0].direction, 2);
  EXPECT_EQ(on[0].offMs, 0u);  // still on

  platform::SleepMs(5);
  ASSERT_TRUE(VendorOut(Link(), 0xB1, 2).result.ok);
  const uint64_t after = platform::TickCountMs();
  const auto pulses = Camera().GuidePulses();
  ASSERT_EQ(pulses.size(), 1u);
  EXPECT_GE(pulses[0].onMs, before);
  EXPECT_GE(pulses[0].offMs, pulses[0].onMs + 5);
  EXPECT_LE(pulses[0].offMs, after);

  // The value of both requests is the direction; an off for another direction changes nothing.
  VendorOut(Link(), 0xB0, 0);
  VendorOut(Link(), 0xB1, 3);
  EXPECT_EQ(Camera().GuidePulses().back().offMs, 0u);
  // Only four outputs exist.
  EXPECT_FALSE(VendorOut(Link(), 0xB0, 4).result.ok);
}

TEST_F(SimVendorRequests, LogHoldsEveryRequestWithItsData) {
  VendorOut(Link(), 0xA6, 0x3012, 0x0042);
  VendorIn(Link(), 0xA7, 0x3012, 0, 2);
  GetDescriptor(Link(), 1, 0, 18);
  const auto all = Camera().Requests();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].request, 0xA6);
  EXPECT_FALSE(all[0].in);
  EXPECT_EQ(all[0].value, 0x3012);
  EXPECT_EQ(all[0].index, 0x0042);
  EXPECT_EQ(all[1].data, (std::vector<uint8_t>{0x00, 0x42}));
  EXPECT_TRUE(all[1].in);
  EXPECT_FALSE(all[2].IsVendor());
  EXPECT_EQ(Camera().VendorRequests().size(), 2u);
  EXPECT_EQ(Camera().VendorRequests(0xA7).size(), 1u);

  Camera().ClearRequests();
  EXPECT_TRUE(Camera().Requests().empty());
}

TEST_F(SimVendorRequests, UnknownWrongDirectionAndChosenCodesStall) {
  for (const ControlReply& r : {VendorOut(Link(), 0xC9), VendorIn(Link(), 0xA6, 0, 0, 2), VendorOut(Link(), 0xA7),
                                VendorIn(Link(), 0xA0, 0, 0, 1)}) {
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error, usb::kErrGenFailure);
    EXPECT_NE(r.usbdStatus, 0u);
    EXPECT_EQ(r.result.bytesReturned, usb::kRecordSize);
  }

  Camera().SetStallRequest(0xA6);
  EXPECT_FALSE(VendorOut(Link(), 0xA6, 0x3012, 7).result.ok);
  EXPECT_EQ(Camera().Register(0x3012), 0);  // a stalled request changes nothing
  EXPECT_TRUE(VendorOut(Link(), 0xA9).result.ok);
  Camera().SetStallRequest(std::nullopt);
  EXPECT_TRUE(VendorOut(Link(), 0xA6, 0x3012, 7).result.ok);
}

TEST_F(SimVendorRequests, RecordsLyingAboutTheirDataStageAreRefused) {
  ControlRequest request(kVendorType, 0xA7, true, 0x3012, 0, 2);
  // Claim a 2-byte data stage but hand over the bare record.
  auto io = Link().SubmitControl(request.record.data(), usb::kRecordSize);
  ASSERT_TRUE(io->Wait(0));
  EXPECT_FALSE(io->Result().ok);
  EXPECT_FALSE(Link().SubmitControl(request.record.data(), 10)->Result().ok);
  EXPECT_FALSE(Link().SubmitControl(nullptr, 0)->Result().ok);
  EXPECT_TRUE(Camera().Requests().empty());
}

}  // namespace
}  // namespace okc::sim::test
