// Streaming from the USB 3 and mono models of the TAV family through the
// exported functions: the frame size announced to the controller, transfers
// of 256 KiB, trailers required, the no-data ladder, mono frames without a
// mosaic, and the USB 3 long exposure.
#include <gtest/gtest.h>

#include <vector>

#include "capture/CaptureFixture.h"
#include "support/ClockPump.h"

namespace {

using okc::sim::Model;
using okc::test::CaptureTest;

// The scene's 8-bit samples of the window, as a raw 8-bit frame carries them.
std::vector<uint8_t> Raw8Of(const std::vector<int>& samples) {
  std::vector<uint8_t> raw(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) raw[i] = static_cast<uint8_t>(samples[i] >> 4);
  return raw;
}

// Samples off by more than one, from row 2 on (the repaired marker) up to the repaired trailer.
int Mismatches(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& expected, size_t rowBytes) {
  int mismatches = 0;
  for (size_t i = 2 * rowBytes; i + 4 < expected.size(); ++i) mismatches += std::abs(frame[i] - expected[i]) > 1;
  return mismatches;
}

class TavModels : public CaptureTest, public ::testing::WithParamInterface<Model> {};

TEST_P(TavModels, RawFramesShowTheSceneAndUsb3FramesMatchTheAnnouncedSize) {
  const Model model = GetParam();
  OpenTavc(320, 240, 1, IMGTYPE_RAW8, 20000, model);
  sim->ClearRequests();
  startCapture();
  std::vector<uint8_t> frame(320 * 240);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  EXPECT_EQ(Mismatches(frame, Raw8Of(ExpectedWindow()), 320), 0);
  if (okc::sim::IsUsb3Model(model)) {
    const auto sizes = sim->VendorRequests(0xB5);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].index, 5) << "76800 bytes in 16 KiB units, rounded up";
    // A frame that fits one transfer is read in one of its size (the endpoint
    // rounds it up to whole bursts), not in a 256 KiB one.
    EXPECT_GE(sim->BulkTransferSize(), 76800u);
    EXPECT_LT(sim->BulkTransferSize(), 262144u);
    EXPECT_EQ(sim->FrameSizeMismatches(), 0u);
  } else {
    EXPECT_TRUE(sim->VendorRequests(0xB5).empty());
  }
  stopCapture();
}

INSTANTIATE_TEST_SUITE_P(Models, TavModels, ::testing::Values(Model::TAVM, Model::TAVC_U, Model::TAVM_U),
                         [](const auto& info) {
                           std::string name = okc::sim::ShortNameOf(info.param);
                           std::erase(name, '-');
                           return name;
                         });

TEST_F(CaptureTest, FullUsb3FrameTravelsInFiveTransfersAnnouncedAsSeventyFiveUnits) {
  OpenTavc(1280, 960, 1, IMGTYPE_RAW8, 20000, Model::TAVC_U);
  sim->ClearRequests();
  startCapture();
  std::vector<uint8_t> frame(1280 * 960);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  const auto sizes = sim->VendorRequests(0xB5);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(sizes[0].value, 0);
  EXPECT_EQ(sizes[0].index, 75);
  EXPECT_EQ(sim->BulkTransferSize(), 262144u);
  EXPECT_EQ(sim->FrameSizeMismatches(), 0u);
  stopCapture();
}

TEST_F(CaptureTest, Usb3FrameWithoutItsTrailerIsNeverDelivered) {
  OpenTavc(320, 240, 1, IMGTYPE_RAW8, 20000, Model::TAVC_U);
  startCapture();
  std::vector<uint8_t> frame(320 * 240);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  while (getImageData(frame.data(), static_cast<int>(frame.size()), 0)) {
  }
  const uint64_t sentBefore = sim->FramesProduced();
  sim->DropTrailerOfNextFrames(1);
  // Counted once, as lost by the camera (frames this slow host did not
  // collect meanwhile are counted apart).
  auto lostByCamera = [] {
    unsigned lost = 0;
    okcGetDropCounts(&lost, nullptr);
    return lost;
  };
  ASSERT_TRUE(WaitUntil([&] { return lostByCamera() == 1; }));
  // Frames delivered afterwards are whole and the stream goes on.
  while (sim->FramesProduced() < sentBefore + 4)
    ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  EXPECT_EQ(Mismatches(frame, Raw8Of(ExpectedWindow()), 320), 0);
  EXPECT_EQ(lostByCamera(), 1u);
  stopCapture();
}

TEST_F(CaptureTest, Usb3StreamWithoutDataIsFlushedThenThePortReset) {
  OpenTavc(320, 240, 1, IMGTYPE_RAW8, 20000, Model::TAVC_U);
  startCapture();
  std::vector<uint8_t> frame(320 * 240);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  const int resets = sim->PortResets();
  sim->SetStreamStalled(true);
  EXPECT_TRUE(WaitUntil([&] { return sim->PortResets() > resets; })) << "the third frame without data resets the port";
  sim->SetStreamStalled(false);
  while (getImageData(frame.data(), static_cast<int>(frame.size()), 0)) {
  }
  EXPECT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  EXPECT_EQ(Mismatches(frame, Raw8Of(ExpectedWindow()), 320), 0);
  stopCapture();
}

// ---- the USB 3 long exposure, on a clock the test moves ----

class Usb3LongExposure : public CaptureTest {
 protected:
  void TearDown() override {
    pump_.Stop();
    clock_->RunFree();
    CaptureTest::TearDown();
  }
  std::shared_ptr<okc::platform::ManualClock> clock_ = std::make_shared<okc::platform::ManualClock>();
  okc::test::ClockPump pump_{clock_, 50, 3};
};

TEST_F(Usb3LongExposure, HostTimesItInSecondStepsAtTwentyFourMegahertz) {
  OpenTavc(320, 240, 1, IMGTYPE_RAW8, 20000, Model::TAVC_U);
  okc::platform::UseClock(clock_);
  pump_.Start();
  setValue(CTRL_EXPOSURE, 61000000, false);
  ASSERT_TRUE(Cam().longExposure);
  sim->ClearRequests();
  startCapture();
  std::vector<uint8_t> frame(320 * 240);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  EXPECT_EQ(Cam().GetCMOSClk(), 24);
  const auto begins = sim->VendorRequests(0xAE);
  ASSERT_FALSE(begins.empty());
  uint64_t timedMs = 0;
  for (const auto& r : sim->VendorRequests(0xAF))
    if (r.timeMs >= begins.front().timeMs) {
      timedMs = r.timeMs - begins.front().timeMs;
      break;
    }
  // 61 steps of a second less the two that the 2096 ms readout of 4095 lines takes.
  // (On a loaded machine a clock step may pass while the worker is between two
  // of its sleeps, so the upper bound leaves room for that.)
  EXPECT_GE(timedMs, 59000u);
  EXPECT_LT(timedMs, 70000u);
  stopCapture();
}

}  // namespace
