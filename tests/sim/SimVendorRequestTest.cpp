// The camera firmware's vendor requests as the simulated controller answers them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SeamRequests.h"
#include "okccamera/Clock.h"

namespace okc::sim::test {
namespace {

class SimVendorRequests : public SimTest {
 protected:
  void SetUp() override { Open(Model::TAVC); }
};

TEST_F(SimVendorRequests, RegistersRoundTripMostSignificantByteFirstAndBytesAreSeparate) {
  ASSERT_TRUE(VendorOut(Link(), 0xA6, 0x3012, 0x1234).result.ok);
  EXPECT_EQ(Camera().Register(0x3012), 0x1234);
  const ControlReply read = VendorIn(Link(), 0xA7, 0x3012, 0, 2);
  EXPECT_EQ(read.result.bytesReturned, usb::kRecordSize + 2);
  EXPECT_EQ(read.data, (std::vector<uint8_t>{0x12, 0x34}));

  ASSERT_TRUE(VendorOut(Link(), 0xB6, 0x0010, 0x5A).result.ok);
  EXPECT_EQ(Camera().RegisterByte(0x0010), 0x5A);
  EXPECT_EQ(Camera().Register(0x0010), 0);
  EXPECT_EQ(VendorIn(Link(), 0xB7, 0x0010, 0, 1).data, std::vector<uint8_t>{0x5A});
  EXPECT_FALSE(VendorOut(Link(), 0xB6, 0x0010, 0x100).result.ok);  // not a byte
}

TEST_F(SimVendorRequests, FirmwareVersionIsVThenVersionAndTransferCountTakesValueHighIndexLow) {
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 2).data, (std::vector<uint8_t>{'V', 3}));
  Camera().SetFirmwareVersion(2);
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 2).data, (std::vector<uint8_t>{'V', 2}));
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 1).data, std::vector<uint8_t>{'V'});  // one byte asked, one given

  ASSERT_TRUE(VendorOut(Link(), 0xB5, 0x0001, 0x2345).result.ok);
  EXPECT_EQ(Camera().TransferCount(), 0x12345u);
}

TEST_F(SimVendorRequests, ModeSwitchesFollowTheirCommands) {
  const struct {
    uint8_t on, off;
    std::function<bool()> state;
  } switches[] = {
      {0xA3, 0xA4, [this] { return Camera().SensorClockMhz() == 24; }},  // 48 MHz otherwise
      {0xA9, 0xAA, [this] { return Camera().Streaming(); }},
      {0xAC, 0xAB, [this] { return Camera().SixteenBitSamples(); }},
      {0xAE, 0xAF, [this] { return Camera().InLongExposure(); }},
  };
  for (const auto& s : switches) {
    SCOPED_TRACE(int{s.on});
    EXPECT_FALSE(s.state());
    VendorOut(Link(), s.on);
    EXPECT_TRUE(s.state());
    VendorOut(Link(), s.off);
    EXPECT_FALSE(s.state());
  }
}

TEST_F(SimVendorRequests, GuidePulseRecordsOnAndOffTimes) {
  const uint64_t before = platform::TickCountMs();
  ASSERT_TRUE(VendorOut(Link(), 0xB0, 2).result.ok);
  ASSERT_EQ(Camera().GuidePulses().size(), 1u);
  EXPECT_EQ(Camera().GuidePulses()[0].direction, 2);
  EXPECT_EQ(Camera().GuidePulses()[0].offMs, 0u);  // still on
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
  EXPECT_FALSE(VendorOut(Link(), 0xB0, 4).result.ok);  // only four outputs
}

TEST_F(SimVendorRequests, GuideOutputsGoToTheLogFileOnlyWhileOneIsNamed) {
  const std::string path = ::testing::TempDir() + "okc-guide-log-" + std::to_string(::getpid()) + ".txt";
  std::remove(path.c_str());
  VendorOut(Link(), 0xB0, 1);  // no file named: nothing written
  VendorOut(Link(), 0xB1, 1);
  ::setenv("OKC_SIM_GUIDE_LOG", path.c_str(), 1);
  VendorOut(Link(), 0xB0, 3);
  VendorOut(Link(), 0xB1, 3);
  ::unsetenv("OKC_SIM_GUIDE_LOG");
  VendorOut(Link(), 0xB0, 0);
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line.substr(0, line.rfind(' ')));
  EXPECT_EQ(lines, (std::vector<std::string>{"TAVC guide 3 on", "TAVC guide 3 off"}));
  std::remove(path.c_str());
}

TEST_F(SimVendorRequests, LogHoldsEveryRequestWithItsData) {
  VendorIn(Link(), 0xA7, 0x3012, 0x0042, 2);
  GetDescriptor(Link(), 1, 0, 18);
  const auto all = Camera().Requests();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_TRUE(all[0].in && all[0].IsVendor() && all[0].request == 0xA7 && all[0].value == 0x3012);
  EXPECT_EQ(all[0].index, 0x0042);
  EXPECT_EQ(all[0].data, (std::vector<uint8_t>{0, 0}));  // IN: the bytes answered
  EXPECT_FALSE(all[1].IsVendor());
  EXPECT_EQ(Camera().VendorRequests(0xA7).size(), 1u);
  EXPECT_TRUE(Camera().VendorRequests(0xA6).empty());
  Camera().ClearRequests();
  EXPECT_TRUE(Camera().Requests().empty());
}

TEST_F(SimVendorRequests, UnknownWrongDirectionAndChosenCodesStallChangingNothing) {
  for (const ControlReply& r : {VendorOut(Link(), 0xC9), VendorIn(Link(), 0xA6, 0, 0, 2), VendorOut(Link(), 0xA7),
                                VendorIn(Link(), 0xA0, 0, 0x4000, 1)}) {  // A0: a 16-bit address space
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error, usb::kErrGenFailure);
    EXPECT_NE(r.usbdStatus, 0u);
    EXPECT_EQ(r.result.bytesReturned, usb::kRecordSize);
  }
  Camera().SetStallRequest(0xA6);
  EXPECT_FALSE(VendorOut(Link(), 0xA6, 0x3012, 7).result.ok);
  EXPECT_EQ(Camera().Register(0x3012), 0);
  EXPECT_TRUE(VendorOut(Link(), 0xA9).result.ok);  // other codes still answered
  Camera().SetStallRequest(std::nullopt);
  EXPECT_TRUE(VendorOut(Link(), 0xA6, 0x3012, 7).result.ok);
}

}  // namespace
}  // namespace okc::sim::test
