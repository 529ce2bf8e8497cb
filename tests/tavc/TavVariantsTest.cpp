// Where TAVM, TAVC-U and TAVM-U program the sensor differently from TAVC:
// the mono gain bands, the USB 3 timing values by host link and readout
// depth, line-length clamps, windows, clock and temperature.
#include <gtest/gtest.h>

#include <algorithm>

#include "tavc/TavcFixture.h"

namespace {

using okc::sim::Model;
using okc::test::TavcTest;

// ---- mono gain ----

struct GainBand {
  int gain;
  uint16_t coarse;
  uint16_t digital;
};

class MonoGain : public TavcTest, public ::testing::WithParamInterface<Model> {};

TEST_P(MonoGain, OneDigitalGainInSixBands) {
  OpenAt(640, 480, 1, IMAGE_8BIT, GetParam());
  for (const GainBand& b : {GainBand{16, 0x1300, 64}, GainBand{17, 0x1310, 34}, GainBand{64, 0x1330, 64},
                            GainBand{65, 0x1330, 68}, GainBand{80, 0x1330, 128}, GainBand{81, 0x1330, 134},
                            GainBand{100, 0x1330, 248}}) {
    sim_->ClearRequests();
    EXPECT_TRUE(camera_->SetGain(b.gain, false));
    EXPECT_EQ(Writes(), (std::vector<okc::test::RegisterWrite>{{0x30B0, b.coarse}, {0x305E, b.digital}}))
        << "gain " << b.gain;
  }
}

TEST_P(MonoGain, BalanceDoesNothingAndLeavesTheCallersValues) {
  OpenAt(640, 480, 1, IMAGE_8BIT, GetParam());
  camera_->SetRGBBalance(10, 90, true);
  EXPECT_TRUE(Writes().empty());
  int red = -7, blue = -8;
  bool automatic = true;
  camera_->GetRGBBalance(&red, &blue, &automatic);
  EXPECT_EQ(red, -7);
  EXPECT_EQ(blue, -8);
  EXPECT_TRUE(automatic);
}

INSTANTIATE_TEST_SUITE_P(Models, MonoGain, ::testing::Values(Model::TAVM, Model::TAVM_U));

// ---- USB 3 timing ----

struct Link {
  bool usb3Host;
  IMAGE_TYPE type;
  int blanking;   // V
  int bandwidth;  // B
};

class Usb3Timing : public TavcTest, public ::testing::WithParamInterface<Link> {};

TEST_P(Usb3Timing, BlankingAndBandwidthFollowTheHostAndTheDepth) {
  const Link link = GetParam();
  okc::sim::SimDeviceOptions options;
  options.model = Model::TAVC_U;
  Attach(options);
  sim_->SetUsb3Host(link.usb3Host);
  ASSERT_TRUE(camera_->OpenCamera(1));
  ASSERT_TRUE(camera_->InitCamera());
  EXPECT_EQ(camera_->usb3Host, link.usb3Host);
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, link.type));
  EXPECT_EQ(camera_->FrameBlanking(), link.blanking);
  EXPECT_EQ(camera_->BandwidthBase(), link.bandwidth);
  EXPECT_EQ(sim_->Register(0x300A), 480 + link.blanking);
  EXPECT_EQ(camera_->GetCMOSClk(), 100);
  // The line length paces the window at the percentage over B.
  const int k = link.type == IMAGE_16BIT ? 2 : 1;
  const double ideal = (k * 640.0 * 100 * 480 * 100.0 / link.bandwidth / camera_->fpsPercent + 358.0) / (480 + link.blanking);
  EXPECT_EQ(sim_->Register(0x300C), std::clamp(static_cast<int>(ideal), 1390, 12287));

  // Switching automatic pacing on starts from what the link carries.
  camera_->SetFPSPerc(50, false);
  camera_->SetFPSPerc(50, true);
  int percent = 0;
  camera_->GetFPSPerc(&percent, nullptr);
  EXPECT_EQ(percent, link.usb3Host ? 100 : 86);
}

INSTANTIATE_TEST_SUITE_P(Links, Usb3Timing,
                         ::testing::Values(Link{true, IMAGE_8BIT, 29, 91}, Link{true, IMAGE_16BIT, 29, 182},
                                           Link{false, IMAGE_8BIT, 39, 43}, Link{false, IMAGE_16BIT, 39, 43}));

TEST_F(TavcTest, Usb3LineLengthStaysWithinItsRange) {
  OpenAt(64, 64, 1, IMAGE_8BIT, Model::TAVC_U);
  EXPECT_EQ(sim_->Register(0x300C), 1390) << "a small window would want a shorter line";
  sim_->SetUsb3Host(false);
  ASSERT_TRUE(camera_->InitCamera());
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_16BIT));
  camera_->SetFPSPerc(40, false);
  EXPECT_EQ(sim_->Register(0x300C), 12287) << "16-bit full frames over USB 2 at 40 % would want a longer one";
}

TEST_F(TavcTest, OnlyTheUsb3ModelsTakeWindowsOfAnySize) {
  for (Model model : {Model::TAVC, Model::TAVM, Model::TAVC_U, Model::TAVM_U}) {
    OpenAt(640, 480, 1, IMAGE_8BIT, model);
    const bool usb3 = model == Model::TAVC_U || model == Model::TAVM_U;
    EXPECT_EQ(camera_->SetResolution(100, 100, 1, IMAGE_8BIT), usb3) << okc::sim::ShortNameOf(model);
  }
}

TEST_F(TavcTest, Usb3ClockIsAlwaysOneHundredWithoutClockCommands) {
  OpenAt(320, 240, 1, IMAGE_8BIT, Model::TAVC_U);
  EXPECT_EQ(camera_->GetCMOSClk(), 100);
  EXPECT_EQ(Registers({0x302C, 0x302A, 0x302E, 0x3030}), (okc::test::Values{2, 4, 2, 66}));
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->SetCMOSClk(24));
  EXPECT_EQ(sim_->Register(0x3012), 4095);
  ASSERT_TRUE(camera_->SetCMOSClk(100));
  const std::vector<uint8_t> commands = Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), 0xA3), 0);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), 0xA4), 0);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), 0xA9), 0);
}

TEST_F(TavcTest, Usb3TemperatureUsesThePresetCalibration) {
  OpenAt(320, 240, 1, IMAGE_8BIT, Model::TAVC_U);
  sim_->SetRegister(0x30B2, 400);
  sim_->ClearRequests();
  EXPECT_FLOAT_EQ(camera_->GetSensorTemp(), 20.0f);
  for (const auto& r : sim_->VendorRequests(0xA7)) EXPECT_NE(r.value, 0x30C6) << "the first word is fixed";
}

TEST_F(TavcTest, Usb3InitialisationLeavesOutOneTableRowAndSendsNoClockCommand) {
  okc::sim::SimDeviceOptions options;
  options.model = Model::TAVM_U;
  Attach(options);
  ASSERT_TRUE(camera_->OpenCamera(1));
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->InitCamera());
  const auto writes = Writes();
  EXPECT_TRUE(std::none_of(writes.begin(), writes.end(), [](const auto& w) { return w.first == 0x31E0; }));
  const std::vector<uint8_t> commands = Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), 0xA4), 0);
  EXPECT_EQ(camera_->cmosClk, 48);
}

}  // namespace
